// korvane_gui_bench CLIP [SECONDS]: the desktop program's two figures.
//  1. start-up: from the process start to the first paint of the main window,
//     through the same steps as korvane's main() (configuration, data module
//     with the history database and profiles, window, show);
//  2. with eight tasks converting CLIP (MPEG-4), the main thread's CPU time
//     over SECONDS (default 10) as a share of one core, and the row updates.
// Prints "key value" lines. Run it under a display (Xvfb) with a throwaway
// XDG_CONFIG_HOME.
#include "AVNodes.h"
#include "AppIcon.h"
#include "Configuration.h"
#include "ConversionSettings.h"
#include "DmGlobal.h"
#include "ExplorerModel.h"
#include "FormMain.h"
#include "GuiMessages.h"
#include "TaskListModel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <unistd.h>

using namespace korvane;

namespace {

// Seconds since this process started, from /proc (clock ticks of the start
// against the system's uptime).
double SecondsSinceProcessStart()
{
    QFile stat("/proc/self/stat");
    QFile uptime("/proc/uptime");
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the whole line
    const double up = uptime.readAll().split(' ').value(0).toDouble();
    return up - startTicks / double(sysconf(_SC_CLK_TCK));
}

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

class FirstPaint : public QObject
{
public:
    double seconds = -1;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && seconds < 0)
            seconds = SecondsSinceProcessStart();
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: korvane_gui_bench CLIP [SECONDS]\n");
        return 2;
    }
    const QString clip = QFileInfo(args[1]).absoluteFilePath();
    const int seconds = args.size() > 2 ? args[2].toInt() : 10;

    InstallGuiMessages();
    TAVConfiguration config;
    config.Load();
    TdmGlobal dm(&config);
    dm.SetAlert(nullptr);
    dm.SetShutdown(nullptr);
    TFormMain window(&dm, {});
    FirstPaint paint;
    window.installEventFilter(&paint);
    window.ShowAtStart();
    QElapsedTimer wait;
    wait.start();
    while (paint.seconds < 0 && wait.elapsed() < 10000)
        app.processEvents(QEventLoop::AllEvents, 10);
    std::printf("startup_to_shown_s %.3f\n", paint.seconds);

    const QString out = QDir::temp().filePath("korvane-gui-bench");
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    TConvertingNode* converting = window.Explorer()->ConvertingNode();
    for (int i = 0; i < 8; ++i) {
        auto settings = std::make_unique<TConversionSettings>();
        settings->SetSourceFile(clip);
        settings->SetTargetFile(QStringLiteral("%1/out%2.avi").arg(out).arg(i));
        settings->SetProfile("MPEG-4");
        settings->SetCategoryId(1);
        settings->ConvertOptions()->VideoOptions()->setProperty("EncoderVideoCodecName", "mpeg4");
        converting->NewConversion(std::move(settings));
    }
    // let the jobs open their files, then measure
    wait.restart();
    while (wait.elapsed() < 1000)
        app.processEvents(QEventLoop::AllEvents, 10);
    const int updates0 = window.TaskList()->RowUpdates();
    const double main0 = ThreadCpuSeconds();
    const double proc0 = ProcessCpuSeconds();
    wait.restart();
    // a local loop: quitting the application would close the window, which
    // asks about the running tasks
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = wait.elapsed() / 1000.0;
    const double mainCpu = ThreadCpuSeconds() - main0;
    const double procCpu = ProcessCpuSeconds() - proc0;
    int running = 0;
    for (TAVTask* task : converting->Tasks())
        running += task->Status() == TAVTask::stRunning ? 1 : 0;
    std::printf("tasks_running %d\n", running);
    std::printf("measured_s %.1f\n", wall);
    std::printf("main_thread_cpu_percent %.2f\n", 100.0 * mainCpu / wall);
    std::printf("process_cpu_percent %.1f\n", 100.0 * procCpu / wall);
    std::printf("row_updates_per_task_per_s %.1f\n",
                (window.TaskList()->RowUpdates() - updates0) / wall / 8.0);
    for (TAVTask* task : converting->Tasks())
        task->Stop();
    std::fflush(stdout);
    return 0;
}
