#include "LogindShutdown.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

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
    int lockWriteEnd = -1;
    ~FakeLogind() override
    {
        if (lockWriteEnd >= 0)
            ::close(lockWriteEnd);
    }
    // true while somebody still holds the read end of the lock
    bool LockHeld() const
    {
        pollfd p{lockWriteEnd, POLLOUT, 0};
        return ::poll(&p, 1, 0) >= 0 && !(p.revents & POLLERR);
    }

    QStringList inhibits;

public slots:
    // a delay lock: the caller holds the read end of a pipe
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&, const QString& mode)
    {
        inhibits << what + ":" + mode;
        int fds[2];
        if (::pipe(fds) != 0)
            return {};
        QDBusUnixFileDescriptor fd(fds[0]); // dup'ed by the wrapper
        ::close(fds[0]);
        lockWriteEnd = fds[1];
        return fd;
    }
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

TEST(LogindShutdown, TheSystemGoingDownIsHeardWithADelayLockHeld)
{
    PrivateBus bus;
    if (!bus.Start())
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "service");
    FakeLogind logind;
    ASSERT_TRUE(service.registerService("org.example.login1"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/login1", &logind, QDBusConnection::ExportAllSlots));
    QDBusConnection client = QDBusConnection::connectToBus(bus.address, "client");
    int heard = 0;
    {
        TLogindShutdown watcher(client, "org.example.login1");
        ASSERT_TRUE(watcher.WatchShutdown([&] { ++heard; }));
        for (int i = 0; i < 200 && logind.inhibits.isEmpty(); ++i)
            QTest::qWait(10);
        EXPECT_EQ(logind.inhibits, QStringList{"shutdown:delay"});
        QTest::qWait(50);
        EXPECT_TRUE(logind.LockHeld());

        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                                         "PrepareForShutdown");
        signal << false; // back from a cancelled shutdown: nothing to do
        service.send(signal);
        QDBusMessage going = QDBusMessage::createSignal("/org/freedesktop/login1",
                                                        "org.freedesktop.login1.Manager", "PrepareForShutdown");
        going << true;
        service.send(going);
        for (int i = 0; i < 200 && heard == 0; ++i)
            QTest::qWait(10);
        EXPECT_EQ(heard, 1);
    }
    // the lock goes with the watcher (with the process, in the program)
    EXPECT_FALSE(logind.LockHeld());
}

#include "LogindShutdownTest.moc"
