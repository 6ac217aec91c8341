// SIGINT and SIGTERM brought to the Qt event loop: the handler only writes
// to a pipe (the one thing it may safely do); a socket notifier on the other
// end runs the callback on the main thread. A second signal ends the process
// at once from the handler, for a user who does not want to wait.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace korvane::cli {

// Until a SignalBridge takes over, SIGINT and SIGTERM end the process at once
// with exitCode: before any job runs there is nothing to finish, and a user
// (or a script) interrupting during start-up gets the interrupted status
// rather than death by signal.
void ExitOnInterrupt(int exitCode);

class SignalBridge : public QObject
{
public:
    // exitCode is what the second signal exits with.
    SignalBridge(std::function<void(int signal)> onFirstSignal, int exitCode);
    // Restores the default handlers.
    ~SignalBridge() override;

private:
    std::function<void(int)> m_callback;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace korvane::cli
