#include "LogindShutdown.h"

#include "options/Messages.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <unistd.h>

namespace korvane {

TLogindShutdown::TLogindShutdown(QDBusConnection bus, QString service, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_service(std::move(service)), OnError(&ErrorBox)
{
}

TLogindShutdown::~TLogindShutdown()
{
    if (m_delayLock >= 0)
        ::close(m_delayLock);
}

QString TLogindShutdown::RefusalText(const QString& reason)
{
    return QStringLiteral("The computer could not be shut down: %1").arg(reason);
}

void TLogindShutdown::PowerOff()
{
    if (!m_bus.isConnected()) {
        const QString reason = m_bus.lastError().message().isEmpty()
                                   ? QStringLiteral("the system bus is not available")
                                   : m_bus.lastError().message();
        if (OnError)
            OnError(RefusalText(reason));
        if (OnFinished)
            OnFinished(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, "/org/freedesktop/login1",
                                                       "org.freedesktop.login1.Manager", "PowerOff");
    // interactive: logind may ask for a password instead of refusing at once
    call << true;
    call.setInteractiveAuthorizationAllowed(true);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 120000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<> reply = *watcher;
        const bool ok = !reply.isError();
        if (!ok && OnError)
            OnError(RefusalText(reply.error().message().isEmpty() ? reply.error().name()
                                                                  : reply.error().message()));
        if (OnFinished)
            OnFinished(ok);
    });
}

bool TLogindShutdown::WatchShutdown(std::function<void()> onShutdown)
{
    if (!m_bus.isConnected())
        return false;
    m_onShutdown = std::move(onShutdown);
    QDBusMessage inhibit = QDBusMessage::createMethodCall(m_service, "/org/freedesktop/login1",
                                                          "org.freedesktop.login1.Manager", "Inhibit");
    inhibit << QStringLiteral("shutdown") << QStringLiteral("Korvane Video Converter")
            << QStringLiteral("Running conversions are stopped so their files stay playable")
            << QStringLiteral("delay");
    // asked without waiting: the answer's descriptor is kept when it comes
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(inhibit, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (!reply.isError() && reply.value().isValid())
            m_delayLock = ::dup(reply.value().fileDescriptor());
    });
    return m_bus.connect(m_service, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                         "PrepareForShutdown", this, SLOT(PrepareForShutdown(bool)));
}

void TLogindShutdown::PrepareForShutdown(bool start)
{
    if (start && m_onShutdown)
        m_onShutdown();
}

} // namespace korvane
