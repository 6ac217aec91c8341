// "Resume Task" in the main window: offered for a stopped task whose output
// can be carried on, the progress goes on from where the output stopped,
// Used Time adds the earlier run's, and a task restored by a restart of the
// program is resumed too. The result is checked with ffprobe.
#include "MainWindowSupport.h"
#include "MediaFixtures.h"
#include "ConversionSettings.h"
#include "profiles/AVProfile.h"
#include "transcode/AVConverter.h"

#include <QToolBar>
#include <gtest/gtest.h>

namespace korvane::test {

namespace {

using Status = TAVTask::TAVTaskStatus;

// 40 s of 320x240 pictures: long enough to stop on the way, quick to finish.
QString Clip()
{
    return Fixture("resume-gui-40s.mp4", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=40", "-c:v",
                                          "libx264", "-preset", "ultrafast", "-g", "50", "-pix_fmt", "yuv420p"});
}

// Waits until the task's converter reports at least percent.
bool ReachProgress(TAVTask* task, int percent)
{
    QElapsedTimer timer;
    timer.start();
    while (!(task->Converter() && task->Converter()->Progress() >= percent)) {
        if (timer.elapsed() > 60000 || task->Status() != TAVTask::stRunning)
            return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace

TEST_F(MainWindowTest, ResumeTaskCarriesOnAStoppedTaskWithItsProgressAndUsedTime)
{
    auto* toolbar = window->findChild<QToolBar*>("MainToolBar");
    ASSERT_NE(toolbar, nullptr);
    EXPECT_TRUE(toolbar->actions().contains(window->actResumeTask));
    EXPECT_EQ(window->actResumeTask->text(), "Resume Task");

    TAVTask* task = NewTask(Clip(), "resumed.avi");
    ASSERT_NE(task, nullptr);
    SelectRows({0});
    EXPECT_FALSE(window->actResumeTask->isEnabled()) << "a running task has nothing to resume";
    ASSERT_TRUE(ReachProgress(task, 45));
    window->actStopTask->trigger();
    ASSERT_EQ(task->Status(), Status::stError);
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->Finished(); }));
    const int stoppedAt = task->Converter()->Progress();
    const int64_t usedBefore = task->Converter()->GetElapsedTime();
    const qint64 stoppedBytes = QFileInfo(dir.filePath("resumed.avi")).size();
    window->UpdateActions();
    ASSERT_TRUE(window->actResumeTask->isEnabled());

    window->actResumeTask->trigger();
    EXPECT_EQ(task->Status(), Status::stRunning);
    EXPECT_FALSE(window->actResumeTask->isEnabled());
    // the progress goes on from the kept part (the last key picture before the stop)
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->ResumedUs() > 0; }));
    EXPECT_GE(task->Converter()->Progress(), stoppedAt - 5);
    EXPECT_EQ(task->EarlierUsedTime(), usedBefore);
    // Target Size counts what the output keeps (up to its last key picture
    // before the stop), not only the rest being converted
    EXPECT_GE(task->Converter()->OutputSize(), stoppedBytes * 8 / 10) << stoppedBytes;

    QPointer<TAVTask> watched(task);
    ASSERT_TRUE(WaitFor([&] { return !watched || watched->Status() == Status::stFinished; }, 120000));
    EXPECT_EQ(alert.files, QStringList{dir.filePath("resumed.avi")});
    const ProbeResult probe = Probe(dir.filePath("resumed.avi"));
    ASSERT_TRUE(probe.ok) << probe.error.toStdString();
    EXPECT_NEAR(probe.duration, 40.0, 0.05);
    ASSERT_NE(probe.First("video"), nullptr);
    EXPECT_EQ(probe.First("video")->packets, 1000);
    EXPECT_TRUE(DecodesCleanly(dir.filePath("resumed.avi")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(".resumed.avi.korvane-resume")));
}

TEST_F(MainWindowTest, AResumeStoppedInItsTurnIsCarriedOnFromTheLaterStop)
{
    TAVTask* task = NewTask(Clip(), "twice.avi");
    ASSERT_NE(task, nullptr);
    SelectRows({0});
    ASSERT_TRUE(ReachProgress(task, 30));
    window->actStopTask->trigger();
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->Finished(); }));
    window->UpdateActions();
    ASSERT_TRUE(window->actResumeTask->isEnabled());

    window->actResumeTask->trigger();
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->ResumedUs() > 0; }));
    const int64_t firstResumeUs = task->Converter()->ResumedUs();
    ASSERT_TRUE(ReachProgress(task, 75));
    window->actStopTask->trigger();
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->Finished(); }));
    // the output reaches the later stop, and the row says so
    const QString out = dir.filePath("twice.avi");
    EXPECT_GT(Probe(out).duration, 40.0 * 0.7);
    EXPECT_EQ(task->Converter()->OutputSize(), QFileInfo(out).size());
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(".twice.avi.korvane-resume")));
    window->UpdateActions();
    ASSERT_TRUE(window->actResumeTask->isEnabled());

    window->actResumeTask->trigger();
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->ResumedUs() > 0; }));
    EXPECT_GT(task->Converter()->ResumedUs(), firstResumeUs + 10000000) << "carried on from the later stop";
    QPointer<TAVTask> watched(task);
    ASSERT_TRUE(WaitFor([&] { return !watched || watched->Status() == Status::stFinished; }, 120000));
    const ProbeResult probe = Probe(out);
    EXPECT_NEAR(probe.duration, 40.0, 0.05);
    ASSERT_NE(probe.First("video"), nullptr);
    EXPECT_EQ(probe.First("video")->packets, 1000);
    EXPECT_TRUE(DecodesCleanly(out));
}

TEST_F(MainWindowTest, ATaskRestoredAfterARestartCanBeResumed)
{
    TAVTask* task = NewTask(Clip(), "restored.avi");
    ASSERT_NE(task, nullptr);
    // a pause on the way makes the run's Used Time a few seconds
    ASSERT_TRUE(ReachProgress(task, 10));
    task->Pause();
    QTest::qWait(2500);
    task->Resume();
    ASSERT_TRUE(ReachProgress(task, 45));
    SelectRows({0});
    window->actStopTask->trigger();
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->Finished(); }));
    const int64_t used = task->Converter()->GetElapsedTime();
    ASSERT_GE(used, 2);

    // the program goes and comes back: the task is listed again, stopped
    CloseWindow();
    OpenWindow();
    ASSERT_EQ(Tasks()->Count(), 1);
    SelectRows({0});
    TAVTask* restored = Converting()->Tasks().first();
    EXPECT_EQ(restored->Status(), Status::stError);
    // Used Time comes back from the history
    EXPECT_EQ(restored->EarlierUsedTime(), used);
    EXPECT_EQ(Tasks()->data(Tasks()->index(0, 9)).toString(), TimeText(used));
    ASSERT_TRUE(window->actResumeTask->isEnabled());
    EXPECT_TRUE(window->actStartTask->isEnabled());

    window->actResumeTask->trigger();
    ASSERT_TRUE(WaitFor([&] { return restored->Converter() && restored->Converter()->ResumedUs() > 0; }));
    EXPECT_EQ(restored->EarlierUsedTime(), used) << "the resumed run adds to the earlier runs' time";
    QPointer<TAVTask> watched(restored);
    ASSERT_TRUE(WaitFor([&] { return !watched || watched->Status() == Status::stFinished; }, 120000));
    const ProbeResult probe = Probe(dir.filePath("restored.avi"));
    EXPECT_NEAR(probe.duration, 40.0, 0.05);
    ASSERT_NE(probe.First("video"), nullptr);
    EXPECT_EQ(probe.First("video")->packets, 1000);
}

TEST_F(MainWindowTest, AStoppedIPadTaskCanBeResumedAndARefusedOneSaysWhy)
{
    // the task as the new conversion dialog makes it with the profile
    TAVProfile* profile = nullptr;
    for (int i = 0; i < dm->Profiles()->Count(); ++i)
        if (dm->Profiles()->Items(i)->Description() == "IPad H264 Video")
            profile = dm->Profiles()->Items(i);
    ASSERT_NE(profile, nullptr);
    const QString source = dir.filePath("ipad-source.mp4");
    ASSERT_TRUE(QFile::copy(Fixture("resume-gui-av-40s.mp4",
                                    {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=40", "-f", "lavfi",
                                     "-i", "sine=frequency=440:duration=40", "-c:v", "libx264", "-preset", "ultrafast",
                                     "-g", "50", "-pix_fmt", "yuv420p", "-c:a", "aac"}),
                            source));
    auto settings = std::make_unique<TConversionSettings>();
    settings->ConvertOptions()->m_inputFormat.clear();
    profile->Apply(settings->ConvertOptions());
    settings->SetSourceFile(source);
    settings->SetSourceType(TConversionSettings::stFile);
    // the first conversion into the category's folder: it is made by the job
    settings->SetTargetFile(dir.filePath("IPad/ipad.mp4"));
    settings->SetProfile(profile->Description());
    settings->SetCategoryId(1);
    nextSettings.push_back(std::move(settings));
    window->actNewConversion->trigger();
    ASSERT_EQ(Converting()->Tasks().size(), 1);
    TAVTask* task = Converting()->Tasks().last();
    SelectRows({0});
    ASSERT_TRUE(ReachProgress(task, 45));
    window->actStopTask->trigger();
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->Finished(); }));
    window->UpdateActions();
    EXPECT_TRUE(window->actResumeTask->isEnabled()) << window->actResumeTask->toolTip().toStdString();
    EXPECT_FALSE(window->actResumeTask->toolTip().contains("Cannot resume"));

    // the source changed since: not resumable, and the tooltip tells why
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(file.fileTime(QFileDevice::FileModificationTime).addSecs(5),
                                 QFileDevice::FileModificationTime));
    file.close();
    window->UpdateActions();
    EXPECT_FALSE(window->actResumeTask->isEnabled());
    EXPECT_TRUE(window->actResumeTask->toolTip().contains("has changed")) << window->actResumeTask->toolTip().toStdString();
    // Start still converts it anew
    EXPECT_TRUE(window->actStartTask->isEnabled());
}

} // namespace korvane::test
