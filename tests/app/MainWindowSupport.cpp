#include "MainWindowSupport.h"

#include "MediaFixtures.h"

#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QTreeView>

namespace korvane::test {

QString LongClip()
{
    return Fixture("long-640x480.mp4", {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=120", "-c:v",
                                        "libx264", "-preset", "ultrafast", "-g", "50", "-pix_fmt", "yuv420p"});
}

void MainWindowTest::SetUp()
{
    oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    oldHandler = MessageService::Install([this](MessageKind kind, const QString& caption, const QString& text) {
        messages << caption + ": " + text;
        return kind == MessageKind::Confirm ? confirmAnswer : true;
    });
    config.ApplyPriority = [](int) {};
    config.Load();
    config.SetOutputFolder(dir.filePath("out"));
    dm = std::make_unique<TdmGlobal>(&config);
    dm->SetAlert(&alert);
    dm->SetShutdown(&shutdown);
    OpenWindow();
}

void MainWindowTest::OpenWindow()
{
    window = std::make_unique<TFormMain>(dm.get(), [this](QWidget*, const QStringList& sources) {
        runnerCalls << sources;
        return std::move(nextSettings);
    });
    window->AskDelete = [this](QWidget*, bool* source, bool* target) {
        ++deleteQuestions;
        *source = deleteSource;
        *target = deleteTarget;
        return true;
    };
    window->resize(1200, 700);
    window->show();
    QTest::qWait(10);
}

void MainWindowTest::CloseWindow()
{
    confirmAnswer = true;
    window->close();
    // freeing the window stops every run and waits for its worker
    window.reset();
}

void MainWindowTest::TearDown()
{
    if (window) {
        for (TAVTask* task : Converting()->Tasks())
            if (task->Status() == TAVTask::stRunning || task->Status() == TAVTask::stPaused)
                task->Stop();
        window.reset();
    }
    dm.reset();
    MessageService::Install(oldHandler);
    qputenv("XDG_CONFIG_HOME", oldConfigHome);
}

std::unique_ptr<TConversionSettings> MainWindowTest::Settings(const QString& source, const QString& name)
{
    auto settings = std::make_unique<TConversionSettings>();
    settings->SetSourceFile(source);
    settings->SetTargetFile(dir.filePath(name));
    settings->SetProfile("MPEG-4 test");
    settings->SetCategoryId(1);
    TAVConvertOptions* options = settings->ConvertOptions();
    options->VideoOptions()->setProperty("EncoderVideoCodecName", "mpeg4");
    options->AudioOptions()->setProperty("AudioDisable", true);
    return settings;
}

TAVTask* MainWindowTest::NewTask(const QString& source, const QString& name)
{
    const int before = Converting()->Tasks().size();
    nextSettings.push_back(Settings(source, name));
    window->actNewConversion->trigger();
    return Converting()->Tasks().size() > before ? Converting()->Tasks().last() : nullptr;
}

bool MainWindowTest::WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

void MainWindowTest::SelectRows(const QList<int>& rows)
{
    QItemSelectionModel* selection = window->TaskView()->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(Tasks()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (!rows.isEmpty())
        selection->setCurrentIndex(Tasks()->index(rows.last(), 0), QItemSelectionModel::NoUpdate);
    window->UpdateActions();
}

} // namespace korvane::test
