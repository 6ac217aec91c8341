// Shuts the computer down through logind's PowerOff on the system bus: a
// plain power-off that lets logind ask the user's session (interactive), never
// a forced one. A refusal (no permission, an inhibitor, no logind) is shown in
// an error box; it never passes in silence.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

namespace korvane {

class TLogindShutdown : public QObject
{
    Q_OBJECT
public:
    // `bus` and `service` are the system bus and "org.freedesktop.login1" in
    // the program; tests point them at a bus of their own.
    explicit TLogindShutdown(QDBusConnection bus = QDBusConnection::systemBus(),
                             QString service = QStringLiteral("org.freedesktop.login1"),
                             QObject* parent = nullptr);
    ~TLogindShutdown() override;

    // Asks for the power-off without waiting; the answer arrives later.
    void PowerOff();

    // Calls onShutdown when the system is about to go down (logind's
    // PrepareForShutdown). A delay lock is taken first, so logind waits for
    // this process to end (up to its InhibitDelayMaxSec): the lock goes with
    // the process. False when logind cannot be reached.
    bool WatchShutdown(std::function<void()> onShutdown);

    // How a refusal is shown; ErrorBox unless replaced.
    std::function<void(const QString&)> OnError;
    // Called with true when logind accepted, false when it refused.
    std::function<void(bool)> OnFinished;

    static QString RefusalText(const QString& reason);

private slots:
    void PrepareForShutdown(bool start);

private:
    QDBusConnection m_bus;
    QString m_service;
    std::function<void()> m_onShutdown;
    int m_delayLock = -1; // the inhibitor's descriptor, kept open while we live
};

} // namespace korvane
