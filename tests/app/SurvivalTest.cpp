// The main window against what people and machines do to it: files handed
// over while dialogs are open, a history that refuses writes, tasks that end
// while a question is up, runs that fail with "Shutdown PC When Done" on.
// Modal dialogs run in their real nested loops here, answered by timers.
#include "CategoryOperations.h"
#include "FormDeleteTasks.h"
#include "MainWindowSupport.h"
#include "MediaFixtures.h"
#include "NewConversionRunner.h"
#include "PersistentManager.h"
#include "manual/Manual.h"
#include "SingleInstance.h"
#include "transcode/AVConverter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <future>

using namespace korvane;
using namespace korvane::test;

namespace {

using Status = TAVTask::TAVTaskStatus;

// Clicks the button whose text (without '&') is `text` in the modal dialog
// up now; false when none is up or it has no such button.
bool ClickInModal(const QString& text)
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal)
        return false;
    for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
        if (button->text().remove('&') == text && button->isEnabled() && button->isVisible()) {
            button->click();
            return true;
        }
    return false;
}

// Every writing statement on the history fails from now on, as on a file
// the user may not write.
void MakeHistoryReadOnly()
{
    for (const QString& name : QSqlDatabase::connectionNames()) {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen() && db.databaseName().endsWith("av.cfg"))
            QSqlQuery(db).exec("pragma query_only = on");
    }
}

// Another process's start, on a thread of its own: its handshake needs this
// process's event loop running meanwhile.
std::future<bool> SecondStart(const QString& socket, const QStringList& files)
{
    return std::async(std::launch::async, [=] { return TSingleInstance(socket).SendToRunning(files); });
}

bool Ready(std::future<bool>& f)
{
    return f.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
}

} // namespace

// The "Open with" road of every file manager: a second start hands a file,
// the real dialog opens from the event loop, Start Convert is pressed.
TEST_F(MainWindowTest, ASecondStartsFileConvertsThroughTheRealDialog)
{
    window.reset();
    window = std::make_unique<TFormMain>(dm.get(), DefaultNewConversionRunner(dm.get()));
    window->show();
    TSingleInstance instance(dir.filePath("instance"));
    ASSERT_TRUE(instance.Listen());
    QObject::connect(&instance, &TSingleInstance::FilesReceived, window.get(), &TFormMain::OpenFiles);

    // pressed as a person would, once the dialog is up
    QTimer press;
    int presses = 0;
    QObject::connect(&press, &QTimer::timeout, [&] { presses += ClickInModal("Start Convert"); });
    press.start(100);
    auto sent = SecondStart(dir.filePath("instance"), {SampleMp4()});
    ASSERT_TRUE(WaitFor([&] { return Ready(sent) && Converting()->Tasks().size() == 1; }, 60000));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(presses, 1);
    TAVTask* task = Converting()->Tasks().first();
    ASSERT_TRUE(WaitFor([&] { return !Converting()->Tasks().contains(task) || task->Status() != Status::stRunning; }));
    press.stop();
}

TEST_F(MainWindowTest, FilesHandedWhileADialogIsOpenWaitForItToClose)
{
    TSingleInstance instance(dir.filePath("instance"));
    ASSERT_TRUE(instance.Listen());
    QObject::connect(&instance, &TSingleInstance::FilesReceived, window.get(), &TFormMain::OpenFiles);
    std::future<bool> first, second;
    bool sawPendingWhileOpen = false;
    // the Options dialog is up (its own loop) while two starts hand files
    QTimer::singleShot(0, [&] {
        first = SecondStart(dir.filePath("instance"), {"/media/one.mp4"});
        second = SecondStart(dir.filePath("instance"), {"/media/two.mp4"});
        QTimer* wait = new QTimer(window.get());
        QObject::connect(wait, &QTimer::timeout, [&, wait] {
            if (!Ready(first) || !Ready(second) || window->PendingFileBatches() < 2)
                return;
            sawPendingWhileOpen = runnerCalls.isEmpty();
            wait->deleteLater();
            ClickInModal("Cancel");
        });
        wait->start(20);
    });
    window->actOptions->trigger();
    EXPECT_TRUE(sawPendingWhileOpen) << "no dialog was stacked inside the open one";
    ASSERT_TRUE(WaitFor([&] { return runnerCalls.size() == 2; }, 10000));
    // one dialog per start, in the order they arrived
    QStringList opened{runnerCalls[0].join(""), runnerCalls[1].join("")};
    opened.sort();
    EXPECT_EQ(opened, QStringList({"/media/one.mp4", "/media/two.mp4"}));
}

TEST_F(MainWindowTest, AHistoryThatRefusesWritesNeverEndsTheProgram)
{
    TAVTask* finished = NewTask(SampleMp4(), "finished.avi");
    ASSERT_TRUE(WaitFor([&] { return Converting()->Tasks().isEmpty(); }));
    Explorer()->Select(Explorer()->NodeAt(Explorer()->index(1, 0)));
    ASSERT_EQ(Tasks()->Count(), 1);
    finished = Tasks()->TaskAt(0);
    MakeHistoryReadOnly();

    // Delete: an error box naming the operation and the file; row and file stay
    SelectRows({0});
    dm->actDeleteTask->trigger();
    ASSERT_TRUE(WaitFor([&] { return !messages.isEmpty(); }, 5000));
    EXPECT_TRUE(messages.last().startsWith("Error: Delete Task failed:")) << messages.last().toStdString();
    EXPECT_TRUE(messages.last().contains(dm->Db()->FileName())) << messages.last().toStdString();
    EXPECT_EQ(Tasks()->Count(), 1);
    EXPECT_TRUE(QFile::exists(dir.filePath("finished.avi")));

    // Clear Log: the log stays as it was
    finished->LoadTaskInfo(window->LogList());
    const QStringList log = finished->Log();
    window->actClearLog->setEnabled(true);
    window->actClearLog->trigger();
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 2; }, 5000));
    EXPECT_EQ(finished->Log(), log);

    // a new category and new properties: the tree stays as it was
    const int categories = Explorer()->rowCount(Explorer()->index(1, 0));
    window->Categories()->AskCategory = [](const QString&, QString* name, QString* folder) {
        *name = "Refused";
        *folder = "/tmp/refused";
        return true;
    };
    dm->actNewCategory->trigger();
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 3; }, 5000));
    EXPECT_EQ(Explorer()->rowCount(Explorer()->index(1, 0)), categories);
    dm->actCategoryProperties->trigger();
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 4; }, 5000));
    EXPECT_NE(Explorer()->data(Explorer()->index(1, 0)).toString(), "Refused");

    // a new conversion cannot store its row: it is not started (it would be lost)
    nextSettings.push_back(Settings(SampleMp4(), "refused.avi"));
    window->actNewConversion->trigger();
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 5; }, 5000));
    EXPECT_TRUE(Converting()->Tasks().isEmpty());
    EXPECT_TRUE(messages.last().contains("New Conversion of")) << messages.last().toStdString();
}

TEST_F(MainWindowTest, ACompletionTheHistoryRefusesStaysUnderConvertingAsFailed)
{
    config.SetShutdownWhenDone(true);
    TAVTask* task = NewTask(SampleMp4(), "unrecorded.avi");
    ASSERT_NE(task, nullptr);
    MakeHistoryReadOnly();
    ASSERT_TRUE(WaitFor([&] { return task->Status() != Status::stRunning; }));
    EXPECT_EQ(task->Status(), Status::stError);
    EXPECT_TRUE(task->RunFailed());
    EXPECT_TRUE(Converting()->Tasks().contains(task));
    EXPECT_TRUE(task->Log().last().contains("could not be written to the history")) << task->Log().last().toStdString();
    EXPECT_TRUE(task->StatusText().startsWith("Failed: ")) << task->StatusText().toStdString();
    EXPECT_EQ(task->GetImageIndex(), TAVTask::kFailedImage);
    EXPECT_TRUE(alert.files.isEmpty()) << "no \"was generated\" for a conversion that is not in the history";
    EXPECT_EQ(shutdown.calls, 1) << "the last running task has ended";
}

TEST_F(MainWindowTest, TheMachineGoesOffWhenTheLastTaskFails)
{
    config.SetShutdownWhenDone(true);
    const QString broken = dir.filePath("broken.mp4");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    TAVTask* running = NewTask(LongClip(), "long.avi");
    TAVTask* failing = NewTask(broken, "broken.avi");
    ASSERT_TRUE(WaitFor([&] { return failing->Status() == Status::stError; }));
    EXPECT_TRUE(failing->RunFailed());
    EXPECT_EQ(shutdown.calls, 0) << "another task still runs";
    running->Pause();
    // a paused task does not keep the machine on: the next failure ends it
    failing->Start();
    ASSERT_TRUE(WaitFor([&] { return failing->Status() == Status::stError; }));
    EXPECT_EQ(shutdown.calls, 1);
    // a stop is the user's own doing: no power-off
    running->Resume();
    running->Stop();
    QTest::qWait(100);
    EXPECT_EQ(shutdown.calls, 1);
}

TEST_F(MainWindowTest, TheDeleteQuestionCopesWithTasksThatCompleteWhileItIsOpen)
{
    window->AskDelete = &TFormDeleteTasks::Ask; // the real dialog, in its own loop
    TAVTask* stopped = NewTask(LongClip(), "stopped.avi");
    stopped->Stop();
    ASSERT_TRUE(WaitFor([&] { return stopped->Converter()->Finished(); }));
    TAVTask* finishing = NewTask(SampleMp4(), "finishing.avi");
    ASSERT_NE(finishing, nullptr);
    SelectRows({0, 1});
    bool answered = false;
    QTimer::singleShot(0, [&] {
        // Yes only once the short task has completed and gone
        QTimer* wait = new QTimer;
        QObject::connect(wait, &QTimer::timeout, [&, wait] {
            if (Converting()->Tasks().size() != 1)
                return;
            answered = ClickInModal("Yes");
            wait->deleteLater();
        });
        wait->start(20);
    });
    dm->actDeleteTask->trigger();
    ASSERT_TRUE(answered);
    EXPECT_TRUE(Converting()->Tasks().isEmpty());
    EXPECT_TRUE(QFile::exists(dir.filePath("finishing.avi"))) << "the completed task was not deleted";
}

TEST_F(MainWindowTest, DeletingATaskKeepsATargetAnotherTaskNames)
{
    // the same target from two tasks: a stale stopped one and a finished one
    TAVTask* stale = NewTask(LongClip(), "same.avi");
    stale->Stop();
    ASSERT_TRUE(WaitFor([&] { return stale->Converter()->Finished(); }));
    TAVTask* done = NewTask(SampleMp4(), "same.avi");
    ASSERT_TRUE(WaitFor([&] { return !Converting()->Tasks().contains(done); }));
    const qint64 size = QFileInfo(dir.filePath("same.avi")).size();
    ASSERT_GT(size, 0);

    SelectRows({0});
    deleteTarget = true;
    dm->actDeleteTask->trigger();
    EXPECT_TRUE(Converting()->Tasks().isEmpty());
    EXPECT_EQ(QFileInfo(dir.filePath("same.avi")).size(), size) << "the finished conversion is kept";
    EXPECT_TRUE(window->statusBar()->currentMessage().contains("another task has the same target"));

    // the last one naming it takes it along
    Explorer()->Select(Explorer()->NodeAt(Explorer()->index(1, 0)));
    SelectRows({0});
    dm->actDeleteTask->trigger();
    EXPECT_FALSE(QFile::exists(dir.filePath("same.avi")));
}

TEST_F(MainWindowTest, ARestartedTasksLogHoldsOnlyItsOwnRun)
{
    TAVTask* task = NewTask(LongClip(), "restart.avi");
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->Progress() > 0; }));
    task->Stop();
    task->Start(); // at once: the old run still writes its trailer
    const QStringList log = task->Log();
    for (const QString& line : log)
        EXPECT_FALSE(line.contains("video:") || line.contains("muxing overhead")) << line.toStdString();
    EXPECT_LE(log.size(), 1) << log.join(" | ").toStdString();
    task->Stop();
}

TEST_F(MainWindowTest, TextsOfTasksThatDoNotRun)
{
    TAVTask* task = NewTask(LongClip(), "texts.avi");
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->Progress() > 0; }));
    task->Stop();
    ASSERT_TRUE(WaitFor([&] { return task->Converter()->Finished(); }));
    EXPECT_TRUE(task->GetCaption(8).isEmpty()) << "no time left for a stopped task";
    EXPECT_EQ(task->StatusText(), "Stopped");
    EXPECT_EQ(task->GetImageIndex(), int(Status::stError));
    EXPECT_EQ(Tasks()->data(Tasks()->index(0, 0), Qt::ToolTipRole).toString(), "Stopped");

    // brought back after a restart: the source's size and the stored duration
    CloseWindow();
    OpenWindow();
    ASSERT_EQ(Converting()->Tasks().size(), 1);
    TAVTask* restored = Converting()->Tasks().first();
    const QString expected = SizeText(QFileInfo(LongClip()).size());
    ASSERT_TRUE(WaitFor([&] { return restored->GetCaption(1) == expected; }, 5000))
        << restored->GetCaption(1).toStdString();
    EXPECT_EQ(restored->GetCaption(5), DurationText(120));
    EXPECT_TRUE(restored->GetCaption(8).isEmpty()) << restored->GetCaption(8).toStdString();
}

TEST_F(MainWindowTest, HistoryColumnsSortAndACompletedTaskTakesItsPlace)
{
    for (const char* name : {"b.avi", "c.avi", "a.avi"}) {
        NewTask(SampleMp4(), name);
        ASSERT_TRUE(WaitFor([&] { return Converting()->Tasks().isEmpty(); }));
    }
    Explorer()->Select(Explorer()->NodeAt(Explorer()->index(1, 0)));
    ASSERT_EQ(Tasks()->Count(), 3);
    EXPECT_TRUE(window->TaskView()->isSortingEnabled());
    // newest first until a column is chosen
    EXPECT_EQ(Tasks()->data(Tasks()->index(0, 2)).toString(), "a.avi");
    window->TaskView()->header()->setSortIndicator(2, Qt::AscendingOrder); // a click on "Target"
    QStringList order;
    for (int row = 0; row < 3; ++row)
        order << Tasks()->data(Tasks()->index(row, 2)).toString();
    EXPECT_EQ(order, QStringList({"a.avi", "b.avi", "c.avi"}));

    // completing while the category is shown: in its sorted place
    NewTask(SampleMp4(), "bb.avi");
    ASSERT_TRUE(WaitFor([&] { return Tasks()->Count() == 4; }));
    order.clear();
    for (int row = 0; row < 4; ++row)
        order << Tasks()->data(Tasks()->index(row, 2)).toString();
    EXPECT_EQ(order, QStringList({"a.avi", "b.avi", "bb.avi", "c.avi"}));

    // a double click on a finished task plays it
    emit window->TaskView()->doubleClicked(Tasks()->index(0, 0));
    EXPECT_EQ(shell.played, QStringList{dir.filePath("a.avi")});

    // Converting keeps its own order
    Explorer()->Select(Converting());
    EXPECT_FALSE(window->TaskView()->isSortingEnabled());
}

TEST_F(MainWindowTest, KeysAndDropsWhereAPersonExpectsThem)
{
    EXPECT_EQ(window->actExit->shortcut(), QKeySequence("Ctrl+Q"));
    for (QAction* a : {window->actStartTask, window->actPauseTask, window->actStopTask}) {
        EXPECT_FALSE(a->shortcut().isEmpty()) << a->text().toStdString();
        EXPECT_TRUE(a->toolTip().contains(a->shortcut().toString(QKeySequence::NativeText)))
            << a->toolTip().toStdString();
    }
    EXPECT_EQ(dm->actCategoryProperties->shortcut(), QKeySequence(Qt::Key_F2));

    // the manual page's KEYS are the window's: every key it lists belongs to
    // the action it names, and every action with a key is listed
    const manual::Page page = manual::DesktopPage();
    const manual::Section* keys = nullptr;
    for (const manual::Section& s : page.Sections)
        if (s.Title == "KEYS") keys = &s;
    ASSERT_TRUE(keys);
    QList<QAction*> withKeys;
    for (QAction* a : window->findChildren<QAction*>())
        if (!a->shortcut().isEmpty()) withKeys << a;
    for (QAction* a : dm->findChildren<QAction*>())
        if (!a->shortcut().isEmpty() && !withKeys.contains(a)) withKeys << a;
    ASSERT_GE(withKeys.size(), 8);
    for (QAction* a : withKeys) {
        const QString key = a->shortcut().toString(QKeySequence::PortableText);
        const auto item = std::find_if(keys->Items.begin(), keys->Items.end(),
                                       [&](const manual::Item& i) { return QKeySequence(i.Term) == a->shortcut(); });
        ASSERT_NE(item, keys->Items.end()) << "the manual does not list " << key.toStdString();
        // "New Conversion" for the action "&New Conversion"
        const QString name = QString(a->text()).remove('&');
        if (a == dm->actDeleteTask || a == dm->actCategoryProperties || a == window->actExit) continue;
        EXPECT_TRUE(item->Text.startsWith(name)) << key.toStdString() << ": " << item->Text.toStdString();
    }
    EXPECT_EQ(keys->Items.size(), withKeys.size());

    // a drop on the explorer (not the list) opens the dialog too
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/media/dropped.mp4")});
    QWidget* target = window->ExplorerView()->viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    ASSERT_TRUE(WaitFor([&] { return !runnerCalls.isEmpty(); }, 5000));
    EXPECT_EQ(runnerCalls.first(), QStringList{"/media/dropped.mp4"});
}
