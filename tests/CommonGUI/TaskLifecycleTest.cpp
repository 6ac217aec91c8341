#include "TaskWorld.h"

#include "PropertyDocument.h"
#include "transcode/AVConverter.h"

#include <QDir>
#include <QFile>

using namespace korvane;
using namespace korvane::test;

namespace {

int Progress(TAVTask* t)
{
    return t->Converter() ? t->Converter()->Progress() : 0;
}

} // namespace

// Two tasks side by side: one paused, the other stopped and started again;
// the shutdown waits for the last running task, and a paused one does not
// hold it back.
TEST(TaskLifecycle, ParallelPauseStopRestartAndShutdown)
{
    TaskWorld w;
    w.config.SetShutdownWhenDone(true);
    const QString source = LongSample();
    TAVTask* paused = w.Start(source, "paused.mp4");
    TAVTask* stopped = w.Start(source, "stopped.mp4");
    ASSERT_EQ(w.list.Count(), 2);
    EXPECT_EQ(paused->Status(), TAVTask::stRunning);
    EXPECT_NE(paused->ID(), 0);
    EXPECT_EQ(w.ConvertingIds(), (std::vector<int>{paused->ID(), stopped->ID()}));
    ASSERT_TRUE(WaitUntil([&] { return Progress(paused) > 0 && Progress(stopped) > 0; }));

    paused->Pause();
    EXPECT_EQ(paused->Status(), TAVTask::stPaused);
    EXPECT_EQ(paused->GetImageIndex(), 1);
    stopped->Stop();
    EXPECT_EQ(stopped->Status(), TAVTask::stError);
    ASSERT_TRUE(WaitUntil([&] { return stopped->Converter()->Finished(); }));
    Pump(100);
    const int pausedAt = Progress(paused);
    Pump(400);
    EXPECT_EQ(Progress(paused), pausedAt);
    EXPECT_LT(pausedAt, 100);
    // a stop leaves the task under Converting, its row marked converting
    EXPECT_TRUE(w.InConverting(stopped));
    EXPECT_EQ(w.ConvertingIds().size(), 2u);
    EXPECT_EQ(w.shutdown.calls, 0);
    EXPECT_TRUE(w.alert.shown.empty());

    // restart: a fresh converter, an emptied log, the same target
    QPointer<TAVConverter> first = stopped->Converter();
    stopped->Start();
    EXPECT_TRUE(first.isNull()); // the used converter is gone
    EXPECT_NE(stopped->Converter(), nullptr);
    EXPECT_EQ(stopped->Status(), TAVTask::stRunning);
    EXPECT_TRUE(stopped->Log().isEmpty());
    const QString target = stopped->Settings()->TargetFile();
    const int id = stopped->ID();
    ASSERT_TRUE(WaitUntil([&] { return !w.InConverting(stopped); }, 120000));
    // the last running task completed; the paused one does not count
    EXPECT_GE(w.shutdown.calls, 1);
    ASSERT_EQ(w.alert.shown.size(), 1u);
    EXPECT_EQ(w.alert.shown[0].header, "Task Completed");
    EXPECT_EQ(w.alert.shown[0].message, target + " was generated.");
    EXPECT_EQ(w.alert.shown[0].file, target);
    EXPECT_EQ(w.list.Count(), 1); // its row left the Converting list
    const auto done = w.db.LoadConvertedTasks(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].ID, id);
    TConversionSettings stored;
    ReadPropertyDocument(done[0].ConvertSettings, &stored);
    EXPECT_NEAR(stored.Duration(), 10, 0.5);

    paused->Resume();
    EXPECT_EQ(paused->Status(), TAVTask::stRunning);
    ASSERT_TRUE(WaitUntil([&] { return !w.InConverting(paused); }, 120000));
    EXPECT_EQ(w.shutdown.calls, 2);
    EXPECT_EQ(w.list.Count(), 0);
    EXPECT_TRUE(w.ConvertingIds().empty());
    for (const char* name : {"paused.mp4", "stopped.mp4"}) {
        const ProbeResult p = Probe(w.outputFolder + "/" + name);
        ASSERT_TRUE(p.ok) << name;
        EXPECT_NEAR(p.duration, 10, 0.5) << name;
        EXPECT_EQ(p.First("video")->codecName, "mpeg4");
    }
}

// A task completing while its category is shown joins that list at once;
// one completing while another node is shown appears when its category is
// shown next, newest first.
TEST(TaskLifecycle, CompletionWhileCategoryShownOrNot)
{
    TaskWorld w;
    const int music = w.db.NewCategory("Music", w.outputFolder, 1);
    // the explorer was loaded before: add the node the way "New Category" does
    auto* node = new TConvertedNode(&w.env);
    node->SetCategoryId(music);
    node->SetCategory("Music");
    w.explorer.AddNode(node, w.explorer.RootCategory());

    w.explorer.Select(node);
    EXPECT_EQ(w.list.columnCount(), 7);
    TAVTask* shown = w.Start(SampleMp4(), "shown.mp4", music);
    EXPECT_EQ(w.list.Count(), 0); // Converting is not the shown node
    ASSERT_TRUE(WaitUntil([&] { return w.list.Count() == 1; }));
    EXPECT_EQ(w.list.TaskAt(0), shown);
    EXPECT_TRUE(shown->IsConverted());
    EXPECT_EQ(shown->Category(), node);
    EXPECT_EQ(shown->Status(), TAVTask::stFinished);
    EXPECT_EQ(shown->GetImageIndex(), 3);
    EXPECT_TRUE(shown->ConvertedIsValid());
    // the size comes from a look at the disk made off the painting path
    EXPECT_TRUE(WaitUntil([&] {
        return shown->GetCaption(3) == SizeText(QFileInfo(w.outputFolder + "/shown.mp4").size());
    }));
    EXPECT_EQ(shown->GetCaption(5), "0:0:2");
    EXPECT_EQ(shown->GetCaption(6), DateTimeText(shown->Date()));
    EXPECT_EQ(shown->GetCaption(7), "");

    w.config.SetShowAlert(false);
    w.explorer.Select(w.explorer.RootCategory());
    QPointer<TAVTask> hidden = w.Start(SampleMp4(), "hidden.mp4", music);
    ASSERT_TRUE(WaitUntil([&] { return !w.InConverting(hidden); }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(hidden.isNull()); // nobody lists it: discarded
    EXPECT_EQ(w.list.Count(), 0);
    EXPECT_EQ(w.alert.shown.size(), 1u); // only the first, ShowAlert is off now

    w.explorer.Select(node);
    ASSERT_EQ(w.list.Count(), 2);
    EXPECT_EQ(w.list.TaskAt(0)->Settings()->TargetFile(), w.outputFolder + "/hidden.mp4");
    EXPECT_EQ(w.list.TaskAt(1)->Settings()->TargetFile(), w.outputFolder + "/shown.mp4");

    // a converted task whose target is gone shows 0KB (at the next look) and
    // is not valid
    QFile::remove(w.outputFolder + "/hidden.mp4");
    EXPECT_TRUE(WaitUntil([&] { return w.list.TaskAt(0)->GetCaption(3) == "0KB"; }));
    EXPECT_FALSE(w.list.TaskAt(0)->ConvertedIsValid());
}

// A run that fails is not a finished task: stError under Converting, the
// error as its last log line, its own icon, its row still converting, no
// alert. The last one to end powers the machine off when that was asked.
TEST(TaskLifecycle, FailedRunsStayUnderConverting)
{
    TaskWorld w;
    w.config.SetShutdownWhenDone(true);
    const QString dir = TempDir();
    QFile blocker(dir + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    TAVTask* missing = w.Start(dir + "/missing.mp4", "missing.mp4");
    auto settings = w.Settings(SampleMp4(), "x.mp4");
    settings->SetTargetFile(dir + "/file/below/out.mp4"); // a folder that cannot be made
    TAVTask* unwritable = w.explorer.ConvertingNode()->NewConversion(std::move(settings));

    for (TAVTask* t : {missing, unwritable}) {
        ASSERT_TRUE(WaitUntil([&] { return t->Status() == TAVTask::stError; }));
        ASSERT_TRUE(WaitUntil([&] { return t->Converter()->Finished(); }));
        Pump(50);
        EXPECT_TRUE(w.InConverting(t));
        ASSERT_FALSE(t->Log().isEmpty());
        EXPECT_EQ(t->Log().last(), t->Converter()->ErrorText().trimmed());
        EXPECT_FALSE(t->Converter()->ErrorText().isEmpty());
        EXPECT_EQ(t->GetImageIndex(), TAVTask::kFailedImage);
    }
    EXPECT_EQ(w.list.Count(), 2);
    EXPECT_EQ(w.ConvertingIds().size(), 2u);
    EXPECT_TRUE(w.db.LoadConvertedTasks(1).empty());
    EXPECT_TRUE(w.alert.shown.empty());
    EXPECT_EQ(w.shutdown.calls, 1);
    // the error is kept in the row for the next start of the program
    EXPECT_EQ(w.db.LoadConvertingTasks()[0].Log().last(), missing->Log().last());
}

TEST(TaskLifecycle, DeleteRemovesRowFilesAndTask)
{
    TaskWorld w;
    const QString dir = TempDir();
    ASSERT_TRUE(QFile::copy(SampleMp4(), dir + "/source.mp4"));
    QPointer<TAVTask> t = w.Start(dir + "/source.mp4", "deleted.mp4");
    ASSERT_TRUE(WaitUntil([&] { return t.isNull() || !w.InConverting(t); }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w.explorer.Select(w.explorer.RootCategory());
    ASSERT_EQ(w.list.Count(), 1);
    TAVTask* done = w.list.TaskAt(0);
    EXPECT_TRUE(done->CanOpenSource());
    done->ClearLog();
    EXPECT_TRUE(done->Log().isEmpty());
    w.explorer.Select(w.explorer.ConvertingNode());
    w.explorer.Select(w.explorer.RootCategory());
    ASSERT_EQ(w.list.Count(), 1);
    EXPECT_TRUE(w.list.TaskAt(0)->Log().isEmpty()); // null in the row
    w.list.TaskAt(0)->Delete(true, true);
    EXPECT_EQ(w.list.Count(), 0);
    EXPECT_FALSE(QFileInfo::exists(dir + "/source.mp4"));
    EXPECT_FALSE(QFileInfo::exists(w.outputFolder + "/deleted.mp4"));
    EXPECT_TRUE(w.db.LoadConvertedTasks(1).empty());
    EXPECT_TRUE(w.explorer.RootCategory()->Tasks().isEmpty());
}

// A paused run that is stopped ends (the worker does not stay parked), and
// the task can be started again from there.
TEST(TaskLifecycle, PausedThenStoppedEndsTheRun)
{
    TaskWorld w;
    TAVTask* t = w.Start(LongSample(), "ps.mp4");
    TLogListModel log;
    t->LoadTaskInfo(&log);
    ASSERT_TRUE(WaitUntil([&] { return Progress(t) > 0; }));
    t->Pause();
    Pump(100);
    t->Stop();
    ASSERT_TRUE(WaitUntil([&] { return t->Converter()->Finished(); }, 10000));
    Pump(50);
    EXPECT_EQ(t->Status(), TAVTask::stError);
    EXPECT_TRUE(w.InConverting(t));
    EXPECT_EQ(w.list.RowOf(t), 0);
    EXPECT_EQ(log.Lines(), t->Log()); // the log list follows the task
    t->Stop(); // a second stop of a stopped task changes nothing
    EXPECT_EQ(t->Status(), TAVTask::stError);

    // deleting it with its target takes the target's resume record too
    const QString record = w.outputFolder + "/.ps.mp4.korvane-resume";
    EXPECT_TRUE(QFileInfo::exists(record));
    t->Delete(false, true);
    EXPECT_FALSE(QFileInfo::exists(w.outputFolder + "/ps.mp4"));
    EXPECT_FALSE(QFileInfo::exists(record));
}
