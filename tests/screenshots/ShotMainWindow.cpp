// The main window with running, paused, stopped and finished tasks, the
// Options dialog and the completion alert.
#include "AVNodes.h"
#include "Configuration.h"
#include "ConversionSettings.h"
#include "DesktopAlert.h"
#include "DmGlobal.h"
#include "ExplorerModel.h"
#include "FormMain.h"
#include "FormOptions.h"
#include "MediaFixtures.h"
#include "PersistentManager.h"
#include "ShotRegistry.h"
#include "TaskListModel.h"
#include "transcode/AVConverter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QTreeView>

namespace korvane::shots {

namespace {

TAVConfiguration& Config()
{
    static TAVConfiguration* config = [] {
        auto* c = new TAVConfiguration(qApp);
        c->ApplyPriority = [](int) {};
        c->Load();
        return c;
    }();
    return *config;
}

QString LongClip()
{
    return test::Fixture("shot-long-640x480.mp4",
                         {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=120", "-f", "lavfi", "-i",
                          "sine=frequency=440:sample_rate=44100:duration=120", "-ac", "2", "-c:v", "libx264",
                          "-preset", "ultrafast", "-g", "50", "-pix_fmt", "yuv420p", "-c:a", "aac"});
}

std::unique_ptr<TConversionSettings> Settings(const QString& source, const QString& target, const QString& codec,
                                              const QString& profile)
{
    auto s = std::make_unique<TConversionSettings>();
    s->SetSourceFile(source);
    s->SetTargetFile(target);
    s->SetProfile(profile);
    s->SetCategoryId(1);
    s->ConvertOptions()->VideoOptions()->setProperty("EncoderVideoCodecName", codec);
    return s;
}

void WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// resumable: the stopped task is the focused one, which Resume Task carries on
TFormMain* BuildMainWindow(bool history, bool resumable = false)
{
    auto* dm = new TdmGlobal(&Config());
    dm->SetAlert(nullptr); // the shots grab the window only
    auto* window = new TFormMain(dm, {});
    dm->setParent(window);
    window->resize(1280, 720);
    TConvertingNode* converting = window->Explorer()->ConvertingNode();
    const QString out = Config().OutputFolder();
    QDir().mkpath(out);

    // finished ones first: they go to the history category
    if (dm->Db()->LoadConvertedTasks(1).empty()) {
        converting->NewConversion(Settings(SampleClip(), out + "/holiday.avi", "mpeg4", "Normal AVI (*.avi)"));
        converting->NewConversion(Settings(SampleClip(), out + "/concert.mkv", "mpeg4", "Matroska Video (*.mkv)"));
        WaitUntil([&] { return converting->Tasks().isEmpty(); }, 60000);
    }
    // a later build (the dark shot): the tasks left running come back stopped
    for (TAVTask* task : QList<TAVTask*>(converting->Tasks()))
        task->Delete(false, true);
    if (history) {
        window->Explorer()->Select(window->Explorer()->RootCategory());
    } else {
        TAVTask* a = converting->NewConversion(Settings(LongClip(), out + "/lecture.avi", "mpeg4", "Normal AVI (*.avi)"));
        TAVTask* b = converting->NewConversion(Settings(LongClip(), out + "/wedding.mpg", "mpeg2video", "MPEG-2 (*.mpg)"));
        TAVTask* c = converting->NewConversion(Settings(LongClip(), out + "/trailer.avi", "mpeg4", "Normal AVI (*.avi)"));
        // a source that is no media: the run fails, its row says so
        const QString broken = out + "/broken.mp4";
        QFile file(broken);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(4096, 'x'));
        file.close();
        TAVTask* d = converting->NewConversion(Settings(broken, out + "/broken.avi", "mpeg4", "Normal AVI (*.avi)"));
        WaitUntil([&] { return a->Converter() && a->Converter()->Progress() >= 3; }, 20000);
        WaitUntil([&] { return d->Status() == TAVTask::stError; }, 20000);
        b->Pause();
        c->Stop();
        WaitUntil([&] { return c->Converter()->Finished(); }, 20000);
        QTreeView* view = window->TaskView();
        view->selectionModel()->setCurrentIndex(window->TaskList()->index(resumable ? 2 : 0, 0),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    return window;
}

Register mainWindow("main-window", [] { return BuildMainWindow(false); }, 1500);
Register history("main-window-history", [] { return BuildMainWindow(true); }, 500);
Register resumable("main-window-resume", [] { return BuildMainWindow(false, true); }, 1500);

Register options("options", [] {
    auto* form = new TFormOptions(&Config());
    return form;
});

Register optionsPerformance("options-performance", [] {
    auto* form = new TFormOptions(&Config());
    form->PageList()->setCurrentRow(1);
    return form;
});

Register alert("alert", [] {
    auto* a = new TAVDesktopAlert;
    a->SetHeader("Task Completed");
    const QString file = Config().OutputFolder() + "/holiday.avi";
    a->SetMessage(file + " was generated.");
    a->SetFile(file);
    return a;
});

Register alertAmpersand("alert-ampersand", [] {
    // characters that markup would read stay text
    auto* a = new TAVDesktopAlert;
    a->SetHeader("Task Completed");
    const QString file = Config().OutputFolder() + "/Tom & Jerry <final cut>.mkv";
    a->SetMessage(file + " was generated.");
    a->SetFile(file);
    return a;
});

} // namespace

} // namespace korvane::shots
