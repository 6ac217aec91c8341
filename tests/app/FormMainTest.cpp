#include "FormDeleteTasks.h"
#include "MainWindowSupport.h"
#include "MediaFixtures.h"
#include "PersistentManager.h"
#include "SingleInstance.h"
#include "TaskProgressDelegate.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <future>

using namespace korvane;
using namespace korvane::test;

namespace {

using Status = TAVTask::TAVTaskStatus;

// Sends a drag of the files over the task list and drops it; returns whether
// the drag was offered and accepted.
bool DropFiles(TFormMain* window, const QStringList& files, bool* offered)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& f : files)
        urls << QUrl::fromLocalFile(f);
    data.setUrls(urls);
    QWidget* viewport = window->TaskView()->viewport();
    const QPoint at = viewport->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    *offered = enter.isAccepted();
    if (!*offered)
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QTest::qWait(20); // the dialog opens once the drag has ended
    return drop.isAccepted();
}

} // namespace

TEST_F(MainWindowTest, StartsOnTheConvertingNodeWithEveryCommandInPlace)
{
    EXPECT_EQ(window->windowTitle(), "Korvane Video Converter");
    EXPECT_EQ(Explorer()->ShownNode(), Converting());
    ASSERT_EQ(Tasks()->columnCount(), 10);
    EXPECT_EQ(Tasks()->headerData(6, Qt::Horizontal).toString(), "Percent");
    EXPECT_EQ(window->TaskView()->selectionMode(), QAbstractItemView::ExtendedSelection);
    // the information pane opens on "Logs"; "Task Info" is hidden
    QTabWidget* info = window->InfoPane();
    EXPECT_EQ(info->tabText(info->currentIndex()), "Logs");
    EXPECT_FALSE(info->isTabVisible(0));
    EXPECT_EQ(info->tabText(0), "Task Info");

    EXPECT_EQ(window->actNewConversion->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(dm->actDeleteTask->shortcut(), QKeySequence(Qt::Key_Delete));
    auto* toolbar = window->findChild<QToolBar*>("MainToolBar");
    ASSERT_NE(toolbar, nullptr);
    for (QAction* a : {window->actNewConversion, window->actStartTask, window->actPauseTask, window->actStopTask,
                       window->actHomepage})
        EXPECT_TRUE(toolbar->actions().contains(a)) << a->text().toStdString();
    EXPECT_TRUE(window->actShutdownWhenDone->isCheckable());

    // nothing listed: only the commands that are always there
    for (QAction* a : {window->actStartTask, window->actPauseTask, window->actStopTask, dm->actDeleteTask,
                       dm->actOpenSource, dm->actOpenConverted, dm->actExploreFile, window->actClearLog})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    for (QAction* a : {window->actNewConversion, window->actExit, window->actOptions, window->actHomepage,
                       window->actBugReport, window->actAbout})
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();

    // the addresses go to the desktop, never a real browser here
    window->actHomepage->trigger();
    window->actBugReport->trigger();
    ASSERT_EQ(shell.urls.size(), 2);
    EXPECT_TRUE(shell.urls[0].startsWith("https://"));
    EXPECT_TRUE(shell.urls[1].startsWith("mailto:"));
}

TEST_F(MainWindowTest, StartPauseAndStopFollowTheFocusedTask)
{
    TAVTask* task = NewTask(LongClip(), "long.avi");
    ASSERT_NE(task, nullptr);
    ASSERT_EQ(runnerCalls, QList<QStringList>{QStringList()}) << "New Conversion opens the dialog without a source";
    ASSERT_EQ(Tasks()->Count(), 1);
    SelectRows({0});
    EXPECT_EQ(task->Status(), Status::stRunning);
    EXPECT_FALSE(window->actStartTask->isEnabled());
    EXPECT_TRUE(window->actPauseTask->isEnabled());
    EXPECT_TRUE(window->actStopTask->isEnabled());

    // paused: Start resumes
    window->actPauseTask->trigger();
    EXPECT_EQ(task->Status(), Status::stPaused);
    EXPECT_TRUE(window->actStartTask->isEnabled());
    EXPECT_FALSE(window->actPauseTask->isEnabled());
    EXPECT_TRUE(window->actStopTask->isEnabled());
    window->actStartTask->trigger();
    EXPECT_EQ(task->Status(), Status::stRunning);

    // stopped: Start restarts from the beginning with an empty log
    window->actStopTask->trigger();
    EXPECT_EQ(task->Status(), Status::stError);
    EXPECT_TRUE(window->actStartTask->isEnabled());
    EXPECT_FALSE(window->actStopTask->isEnabled());
    window->actStartTask->trigger();
    EXPECT_EQ(task->Status(), Status::stRunning);
    EXPECT_FALSE(window->actStartTask->isEnabled());
    window->actStopTask->trigger();
}

TEST_F(MainWindowTest, DeleteStopsRunningTasksAndDeletesTheStoppedOne)
{
    TAVTask* a = NewTask(LongClip(), "a.avi");
    TAVTask* b = NewTask(LongClip(), "b.avi");
    TAVTask* c = NewTask(LongClip(), "c.avi");
    ASSERT_TRUE(a && b && c);
    SelectRows({2});
    window->actStopTask->trigger();
    ASSERT_EQ(c->Status(), Status::stError);
    const int stoppedId = c->ID();
    ASSERT_GT(stoppedId, 0);
    QPointer<TAVTask> stopped(c);

    // nothing selected: the Delete key does nothing
    SelectRows({});
    EXPECT_FALSE(dm->actDeleteTask->isEnabled());
    window->TaskView()->setFocus();
    QTest::keyClick(window->TaskView(), Qt::Key_Delete);
    EXPECT_EQ(deleteQuestions, 0);
    EXPECT_EQ(Tasks()->Count(), 3);

    SelectRows({0, 1, 2});
    EXPECT_TRUE(dm->actDeleteTask->isEnabled());
    QTest::keyClick(window->TaskView(), Qt::Key_Delete);
    EXPECT_EQ(deleteQuestions, 1);
    EXPECT_EQ(a->Status(), Status::stError);
    EXPECT_EQ(b->Status(), Status::stError);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(stopped.isNull()) << "the stopped task is deleted";
    EXPECT_EQ(Tasks()->Count(), 2);
    const auto rows = dm->Db()->LoadConvertingTasks();
    EXPECT_TRUE(std::none_of(rows.begin(), rows.end(), [&](const auto& r) { return r.ID == stoppedId; }));
    EXPECT_EQ(rows.size(), 2u);
}

TEST_F(MainWindowTest, DroppedFilesOpenTheDialogWithThem)
{
    const QString clip = SampleMp4();
    // long sources, so no task finishes (and leaves Converting) before it is counted
    nextSettings.push_back(Settings(LongClip(), "dropped.avi"));
    bool offered = false;
    EXPECT_TRUE(DropFiles(window.get(), {clip}, &offered));
    EXPECT_TRUE(offered);
    ASSERT_EQ(runnerCalls.size(), 1);
    EXPECT_EQ(runnerCalls[0], QStringList{clip});
    EXPECT_EQ(Converting()->Tasks().size(), 1);

    // several files go to the dialog together; each confirmed one is a task
    nextSettings.push_back(Settings(LongClip(), "one.avi"));
    nextSettings.push_back(Settings(LongClip(), "two.avi"));
    EXPECT_TRUE(DropFiles(window.get(), {clip, LongClip()}, &offered));
    ASSERT_EQ(runnerCalls.size(), 2);
    EXPECT_EQ(runnerCalls[1], QStringList({clip, LongClip()}));
    EXPECT_EQ(Converting()->Tasks().size(), 3);

    // something that is not a file is not offered
    QMimeData text;
    text.setText("hello");
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->TaskView()->viewport(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    EXPECT_EQ(runnerCalls.size(), 2);
}

TEST_F(MainWindowTest, ClosingAsksWhileAnyTaskRunsWhateverNodeIsShown)
{
    TAVTask* task = NewTask(LongClip(), "long.avi");
    ASSERT_NE(task, nullptr);
    task->Pause();
    // a history category is shown: the paused task must still be asked about
    Explorer()->Select(Explorer()->RootCategory());
    ASSERT_EQ(Tasks()->columnCount(), 7);

    confirmAnswer = false;
    EXPECT_FALSE(window->close());
    ASSERT_EQ(messages, QStringList{"Warning: There are running tasks, are you sure to exit?"});
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(task->Status(), Status::stPaused);

    // "Exit" asks the same; Yes stops the task the way Stop does
    confirmAnswer = true;
    window->actExit->trigger();
    EXPECT_EQ(messages.size(), 2);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(task->Status(), Status::stError);
    const int id = task->ID();
    window.reset();
    // it comes back as a stopped task at the next start
    const auto rows = dm->Db()->LoadConvertingTasks();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ID, id);
}

TEST_F(MainWindowTest, ClosingWithNothingRunningDoesNotAsk)
{
    TAVTask* task = NewTask(LongClip(), "long.avi");
    task->Stop();
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, AFinishedTaskIsAnnouncedAndItsFilesOpenOnTheDesktop)
{
    TAVTask* task = NewTask(SampleMp4(), "short.avi");
    ASSERT_NE(task, nullptr);
    const QString target = task->Settings()->TargetFile();
    ASSERT_TRUE(WaitFor([&] { return Converting()->Tasks().isEmpty(); }));
    EXPECT_EQ(alert.files, QStringList{target});
    EXPECT_TRUE(QFile::exists(target));

    Explorer()->Select(Explorer()->RootCategory());
    ASSERT_EQ(Tasks()->Count(), 1);
    SelectRows({0});
    TAVTask* finished = window->CurrentTask();
    ASSERT_NE(finished, nullptr);
    EXPECT_EQ(finished->Status(), Status::stFinished);
    EXPECT_FALSE(window->actStartTask->isEnabled()) << "a finished task cannot be started";
    EXPECT_FALSE(window->actPauseTask->isEnabled());
    EXPECT_FALSE(window->actStopTask->isEnabled());
    ASSERT_TRUE(dm->actOpenConverted->isEnabled());
    ASSERT_TRUE(dm->actExploreFile->isEnabled());
    ASSERT_TRUE(dm->actOpenSource->isEnabled());
    dm->actOpenConverted->trigger();
    dm->actExploreFile->trigger();
    dm->actOpenSource->trigger();
    EXPECT_EQ(shell.played, QStringList{target});
    EXPECT_EQ(shell.shown, QStringList{target});
    EXPECT_EQ(shell.opened, QStringList{SampleMp4()});

    // the target moved away: the commands on it are off
    ASSERT_TRUE(QFile::rename(target, target + ".moved"));
    SelectRows({0});
    EXPECT_FALSE(dm->actOpenConverted->isEnabled());
    EXPECT_FALSE(dm->actExploreFile->isEnabled());
}

TEST_F(MainWindowTest, AFailedTaskShowsNoAlert)
{
    TAVTask* task = NewTask(dir.filePath("missing.mp4"), "never.avi");
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(WaitFor([&] { return task->Status() == Status::stError; }, 20000));
    QTest::qWait(100);
    EXPECT_TRUE(alert.files.isEmpty());
}

TEST_F(MainWindowTest, ShutdownAfterTheLastRunningTaskAPausedOneDoesNotDelayIt)
{
    window->actShutdownWhenDone->trigger();
    ASSERT_TRUE(config.ShutdownWhenDone());
    TAVTask* longTask = NewTask(LongClip(), "long.avi");
    NewTask(SampleMp4(), "first.avi");
    ASSERT_TRUE(WaitFor([&] { return Converting()->Tasks().size() == 1; }));
    EXPECT_EQ(shutdown.calls, 0) << "another task still runs";

    longTask->Pause();
    NewTask(SampleMp4(), "second.avi");
    ASSERT_TRUE(WaitFor([&] { return Converting()->Tasks().size() == 1; }));
    EXPECT_EQ(shutdown.calls, 1) << "only a paused task is left";
}

TEST_F(MainWindowTest, ClearLogNeverTouchesADiscardedTask)
{
    TAVTask* task = NewTask(dir.filePath("missing.mp4"), "never.avi");
    ASSERT_TRUE(WaitFor([&] { return task->Status() == Status::stError; }, 20000));
    SelectRows({0});
    ASSERT_TRUE(WaitFor([&] { return window->LogList()->rowCount() > 0; }, 5000));
    window->UpdateActions();
    EXPECT_TRUE(window->actClearLog->isEnabled());

    // deleted while the pane shows its log
    window->actStopTask->trigger();
    dm->actDeleteTask->trigger();
    ASSERT_EQ(Tasks()->Count(), 0);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->LogList()->rowCount(), 0);
    window->UpdateActions();
    EXPECT_FALSE(window->actClearLog->isEnabled());
    window->actClearLog->trigger(); // disabled: nothing happens, nothing is touched
}

TEST_F(MainWindowTest, WindowSizesSurviveARestart)
{
    auto* splitter = window->findChild<QSplitter*>("MainSplitter");
    ASSERT_NE(splitter, nullptr);
    splitter->setSizes({320, 880});
    window->TaskView()->setColumnWidth(0, 233);
    const QList<int> sizes = splitter->sizes();
    CloseWindow();
    EXPECT_TRUE(QFile::exists(TFormMain::WindowStateFile()));
    EXPECT_TRUE(TFormMain::WindowStateFile().startsWith(TAVConfiguration::GetAppDataFolder()));

    OpenWindow();
    EXPECT_EQ(window->findChild<QSplitter*>("MainSplitter")->sizes(), sizes);
    EXPECT_EQ(window->TaskView()->columnWidth(0), 233);
}

TEST(DeleteDialog, WordingAndDefaults)
{
    TFormDeleteTasks dialog;
    EXPECT_EQ(dialog.windowTitle(), "Confirm to delete");
    auto* question = dialog.findChild<QLabel*>("DeleteQuestion");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->text(), "Do you want to delete  the task drastically \nwhich you selected?");
    EXPECT_EQ(dialog.DeleteSource()->text(), "Delete Source File");
    EXPECT_FALSE(dialog.DeleteSource()->isChecked());
    EXPECT_EQ(dialog.DeleteTarget()->text(), "Delete Target File");
    EXPECT_TRUE(dialog.DeleteTarget()->isChecked());
    EXPECT_EQ(dialog.YesButton()->text(), "Yes");
    EXPECT_TRUE(dialog.YesButton()->isDefault());
    EXPECT_EQ(dialog.NoButton()->text(), "No");
}

TEST_F(MainWindowTest, ShutdownCheckMarkFollowsTheConfiguration)
{
    EXPECT_FALSE(window->actShutdownWhenDone->isChecked());
    CloseWindow();
    config.SetShutdownWhenDone(true);
    OpenWindow();
    EXPECT_TRUE(window->actShutdownWhenDone->isChecked()) << "the saved state shows at start";
    window->actShutdownWhenDone->trigger();
    EXPECT_FALSE(config.ShutdownWhenDone());
}

TEST_F(MainWindowTest, ASecondStartOpensTheDialogWithItsFiles)
{
    TSingleInstance instance(dir.filePath("instance"));
    ASSERT_TRUE(instance.Listen());
    QObject::connect(&instance, &TSingleInstance::FilesReceived, window.get(), &TFormMain::OpenFiles);
    const QString clip = SampleMp4();
    nextSettings.push_back(Settings(clip, "handed.avi"));
    auto sent = std::async(std::launch::async,
                           [&] { return TSingleInstance(dir.filePath("instance")).SendToRunning({clip}); });
    ASSERT_TRUE(WaitFor([&] { return sent.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; },
                        10000));
    EXPECT_TRUE(sent.get());
    // the dialog opens from the event loop, after the socket's read returned
    ASSERT_TRUE(WaitFor([&] { return !runnerCalls.isEmpty(); }, 5000));
    ASSERT_EQ(runnerCalls, QList<QStringList>{QStringList{clip}});
    EXPECT_EQ(Converting()->Tasks().size(), 1);
}

TEST_F(MainWindowTest, ARunningTaskShowsItsSpeed)
{
    TAVTask* task = NewTask(LongClip(), "long.avi");
    ASSERT_NE(task, nullptr);
    SelectRows({0});
    QString speed;
    ASSERT_TRUE(WaitFor([&] { return !(speed = TTaskProgressDelegate::SpeedText(task)).isEmpty(); }, 30000));
    EXPECT_TRUE(speed.endsWith("x real time")) << speed.toStdString();
    window->UpdateActions();
    // the status bar shows the speed of that moment; the worker may have
    // moved it on by the time it is read again
    const QString shown = window->statusBar()->currentMessage();
    const QString now = TTaskProgressDelegate::SpeedText(task);
    ASSERT_TRUE(shown.endsWith("x real time")) << shown.toStdString();
    const double shownSpeed = shown.section(QLatin1Char('x'), 0, 0).toDouble();
    const double nowSpeed = now.section(QLatin1Char('x'), 0, 0).toDouble();
    EXPECT_GT(shownSpeed, 0.0) << shown.toStdString();
    EXPECT_NEAR(shownSpeed, nowSpeed, nowSpeed * 0.2) << shown.toStdString() << " / " << now.toStdString();
    task->Pause();
    EXPECT_TRUE(TTaskProgressDelegate::SpeedText(task).isEmpty()) << "no speed while paused";
}
