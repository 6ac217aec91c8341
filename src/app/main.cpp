// korvane: the desktop program.
//   korvane [FILE...]   opens the new conversion dialog with the files; when
//                       the program already runs, hands them to it and exits
//   korvane --version
#include "AppIcon.h"
#include "AppLinks.h"
#include "Configuration.h"
#include "DmGlobal.h"
#include "FormMain.h"
#include "GuiMessages.h"
#include "LogindShutdown.h"
#include "NewConversionRunner.h"
#include "SingleInstance.h"
#include "WatchFolders.h"
#include "manual/Manual.h"
#include "options/Messages.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace korvane;

namespace {

// SIGTERM, SIGHUP and SIGINT reach the event loop through a pipe: the
// handler only writes a byte, the loop does the rest.
int g_signalPipe[2] = {-1, -1};

void OnEndSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

bool CatchEndSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = &OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        sigaction(sig, &action, nullptr);
    return true;
}

// from the text the manual page korvane(1) is made of
int PrintUsage(FILE* out)
{
    std::fputs(manual::HelpText(manual::DesktopPage()).toUtf8().constData(), out);
    return out == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    // answered before any display is opened
    QStringList files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnded && std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && std::strcmp(arg, "--version") == 0) {
            std::printf("korvane %s\n", links::kVersion);
            return 0;
        } else if (!optionsEnded && std::strcmp(arg, "--help") == 0) {
            return PrintUsage(stdout);
        } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "korvane: unknown option %s\n", arg);
            return PrintUsage(stderr);
        } else {
            files << QString::fromLocal8Bit(arg);
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(links::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("korvane"));
    QApplication::setWindowIcon(AppIcon());

    TSingleInstance instance;
    if (instance.SendToRunning(files))
        return 0;
    const bool listening = instance.Listen();
    if (!listening && instance.SendToRunning(files))
        return 0;

    InstallGuiMessages();
    // start-up order: the configuration, the data module, the main window
    TAVConfiguration config;
    config.Load();
    int result = 0;
    {
        std::unique_ptr<TdmGlobal> dm;
        try {
            dm = std::make_unique<TdmGlobal>(&config);
        } catch (const EEngineError& e) {
            ErrorBox(QString::fromUtf8(e.what()));
            return 1;
        }
        TFormMain window(dm.get(), DefaultNewConversionRunner(dm.get()));
        // asked to end (kill, the terminal closing, the system going down):
        // running tasks stop as Stop does, the window state and the
        // configuration are saved, and the program exits 0
        std::unique_ptr<QSocketNotifier> endSignals;
        if (CatchEndSignals()) {
            endSignals = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
            QObject::connect(endSignals.get(), &QSocketNotifier::activated, &window, [&window] {
                char bytes[16];
                while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
                }
                window.EndSession();
            });
        }
        TLogindShutdown logind;
        logind.WatchShutdown([&window] { window.EndSession(); });
        StartWatchFolders(dm.get(), &window);
        window.ShowAtStart();
        QObject::connect(&instance, &TSingleInstance::FilesReceived, &window, &TFormMain::OpenFiles);
        if (!files.isEmpty())
            QTimer::singleShot(0, &window, [&window, files] { window.OpenFiles(files); });
        result = app.exec();
    }
    try {
        config.Save();
    } catch (const EEngineError& e) {
        std::fprintf(stderr, "korvane: %s\n", e.what());
    }
    return result;
}
