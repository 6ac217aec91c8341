#include "Signals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace korvane::cli {

namespace {

int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_count = 0;
volatile sig_atomic_t g_exitCode = 130;

void OnSignal(int signal)
{
    g_count = g_count + 1;
    if (g_count >= 2)
        _exit(g_exitCode);
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
}

void ExitAtOnce(int)
{
    _exit(g_exitCode);
}

void Handle(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

void ExitOnInterrupt(int exitCode)
{
    g_exitCode = exitCode;
    Handle(ExitAtOnce);
}

SignalBridge::SignalBridge(std::function<void(int)> onFirstSignal, int exitCode) : m_callback(std::move(onFirstSignal))
{
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no bridge: the signals keep their default action
    g_exitCode = exitCode;
    g_count = 0;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (read(g_pipe[0], &byte, 1) == 1)
            m_callback(byte);
    });
    Handle(OnSignal);
}

SignalBridge::~SignalBridge()
{
    if (!m_notifier)
        return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    m_notifier.reset();
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

} // namespace korvane::cli
