#include "LogindShutdown.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

using namespace korvane;

namespace {

// A stand-in for logind on a private bus: it records PowerOff calls and
// accepts or refuses them.
class FakeLogind : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    bool refuse = false;
    QList<bool> calls;

public slots:
    void PowerOff(bool interactive)
    {
        calls << interactive;
        if (refuse)
            sendErrorReply(QDBusError::AccessDenied, "Interactive authentication required.");
    }
};

struct PrivateBus
{
    QProcess daemon;
    QString address;

    bool Start()
    {
        const QString exe = QStandardPaths::findExecutable("dbus-daemon");
        if (exe.isEmpty())
            return false;
        daemon.start(exe, {"--session", "--nofork", "--print-address"});
        if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
            return false;
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~PrivateBus()
    {
        QDBusConnection::disconnectFromBus("service");
        QDBusConnection::disconnectFromBus("client");
        daemon.kill();
        daemon.waitForFinished(3000);
    }
};

} // namespace

TEST(LogindShutdown, AskedOverTheBusAndARefusalIsShown)
{
    PrivateBus bus;
    if (!bus.Start())
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "service");
    ASSERT_TRUE(service.isConnected());
    FakeLogind logind;
    ASSERT_TRUE(service.registerService("org.example.login1"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportAllSlots));

    QDBusConnection client = QDBusConnection::connectToBus(bus.address, "client");
    TLogindShutdown shutdown(client, "org.example.login1");
    QStringList errors;
    QList<bool> results;
    shutdown.OnError = [&](const QString& text) { errors << text; };
    shutdown.OnFinished = [&](bool ok) { results << ok; };

    shutdown.PowerOff();
    for (int i = 0; i < 200 && results.isEmpty(); ++i)
        QTest::qWait(10);
    ASSERT_EQ(results, QList<bool>{true});
    EXPECT_EQ(logind.calls, QList<bool>{true}) << "interactive, never forced";
    EXPECT_TRUE(errors.isEmpty());

    logind.refuse = true;
    shutdown.PowerOff();
    for (int i = 0; i < 200 && results.size() < 2; ++i)
        QTest::qWait(10);
    ASSERT_EQ(results, (QList<bool>{true, false}));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "The computer could not be shut down: Interactive authentication required.");
}

TEST(LogindShutdown, NoServiceOnTheBusIsAnErrorNotSilence)
{
    PrivateBus bus;
    if (!bus.Start())
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    QDBusConnection client = QDBusConnection::connectToBus(bus.address, "client");
    TLogindShutdown shutdown(client, "org.example.nobody");
    QStringList errors;
    QList<bool> results;
    shutdown.OnError = [&](const QString& text) { errors << text; };
    shutdown.OnFinished = [&](bool ok) { results << ok; };
    shutdown.PowerOff();
    for (int i = 0; i < 200 && results.isEmpty(); ++i)
        QTest::qWait(10);
    EXPECT_EQ(results, QList<bool>{false});
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("The computer could not be shut down: "));
}

#include "LogindShutdownTest.moc"
