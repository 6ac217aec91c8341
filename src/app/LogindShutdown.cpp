#include "LogindShutdown.h"

#include "options/Messages.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace korvane {

TLogindShutdown::TLogindShutdown(QDBusConnection bus, QString service, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_service(std::move(service)), OnError(&ErrorBox)
{
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

} // namespace korvane
