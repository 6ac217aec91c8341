#include "FormMain.h"

#include "AVNodes.h"
#include "AppIcon.h"
#include "AppLinks.h"
#include "CategoryOperations.h"
#include "Configuration.h"
#include "ConversionSettings.h"
#include "DesktopShell.h"
#include "DmGlobal.h"
#include "ExplorerModel.h"
#include "FormDeleteTasks.h"
#include "FormOptions.h"
#include "GuiActions.h"
#include "TaskListModel.h"
#include "TaskProgressDelegate.h"
#include "options/Messages.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>

namespace korvane {

namespace {

// Local files of a drag, in the order given.
QStringList DraggedFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
}

bool IsActive(const TAVTask* task)
{
    return task->Status() == TAVTask::stRunning || task->Status() == TAVTask::stPaused;
}

} // namespace

TFormMain::TFormMain(TdmGlobal* dm, TNewConversionRunner runner, QWidget* parent)
    : QMainWindow(parent), AskDelete(&TFormDeleteTasks::Ask), m_dm(dm), m_runner(std::move(runner))
{
    setWindowTitle(QString::fromLatin1(links::kProductTitle));
    setObjectName("FormMain");
    m_updateTimer = new QTimer(this);
    m_updateTimer->setSingleShot(true);
    m_updateTimer->setInterval(150);
    connect(m_updateTimer, &QTimer::timeout, this, &TFormMain::UpdateActions);
    m_pendingTimer = new QTimer(this);
    m_pendingTimer->setSingleShot(true);
    connect(m_pendingTimer, &QTimer::timeout, this, &TFormMain::OpenPendingFiles);
    setAcceptDrops(true);

    BuildViews();
    BuildActions();
    BuildMenus();
    WireActions();
    RestoreWindowState();

    // the Converting node, selected and focused, fills the task list and so
    // brings back the tasks left converting
    m_explorer->Load();
    m_explorerView->expandAll();
    m_explorer->Select(m_explorer->ConvertingNode());
    m_explorerView->setFocus();
    actShutdownWhenDone->setChecked(m_dm->Config()->ShutdownWhenDone());
    UpdateActions();
}

TFormMain::~TFormMain()
{
    // the models go while the window is whole: freeing the explorer frees
    // the tasks (each run is stopped and its worker waited for) and resets
    // the task list, whose signals must no longer reach this window
    disconnect(m_taskList, nullptr, this, nullptr);
    disconnect(m_logList, nullptr, this, nullptr);
    m_taskView->setModel(nullptr);
    m_logView->setModel(nullptr);
    m_explorerView->setModel(nullptr);
    delete m_explorer;
    delete m_logList;
    delete m_taskList;
}

void TFormMain::BuildViews()
{
    m_explorer = new TExplorerModel(m_dm->Environment(), this);
    m_explorer->SetImages(m_dm->NodeImages());
    m_taskList = new TTaskListModel(this);
    m_taskList->SetImages(m_dm->StatusImages());
    m_logList = new TLogListModel(this);
    m_categories = std::make_unique<TCategoryOperations>(m_explorer);
    m_categories->ShowFolder = [](const QString& folder) { DesktopShell().OpenFile(folder); };

    m_explorerView = new QTreeView;
    m_explorerView->setObjectName("Explorer");
    m_explorerView->setModel(m_explorer);
    m_explorerView->setHeaderHidden(true);
    m_explorerView->setContextMenuPolicy(Qt::CustomContextMenu);
    m_explorerView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_explorerView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_explorer->SetSelectionModel(m_explorerView->selectionModel());
    m_explorer->SetTaskList(m_taskList);

    m_taskView = new QTreeView;
    m_taskView->setObjectName("TaskList");
    m_taskView->setModel(m_taskList);
    m_taskView->setRootIsDecorated(false);
    m_taskView->setUniformRowHeights(true);
    m_taskView->setAllColumnsShowFocus(true);
    m_taskView->setAlternatingRowColors(true);
    m_taskView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_taskView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_taskView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_taskView->setContextMenuPolicy(Qt::CustomContextMenu);
    m_taskView->setAcceptDrops(true);
    m_taskView->setDragDropMode(QAbstractItemView::DropOnly);
    m_taskView->viewport()->installEventFilter(this);
    m_taskView->setItemDelegate(new TTaskProgressDelegate(m_taskList, m_taskView));
    m_taskView->header()->setStretchLastSection(false);

    m_logView = new QListView;
    m_logView->setObjectName("LogList");
    m_logView->setModel(m_logList);
    m_logView->setUniformItemSizes(true);
    m_logView->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_logView->setSelectionMode(QAbstractItemView::ExtendedSelection);

    // "Task Info" is kept as the first tab but hidden; the pane opens on "Logs"
    auto* taskInfo = new QTreeWidget;
    taskInfo->setHeaderLabels({QStringLiteral("Category"), QStringLiteral("Property"), QStringLiteral("Value")});
    m_info = new QTabWidget;
    m_info->setObjectName("InfoPane");
    m_info->addTab(taskInfo, QStringLiteral("Task Info"));
    m_info->addTab(m_logView, QStringLiteral("Logs"));
    m_info->setTabVisible(0, false);
    m_info->setCurrentIndex(1);

    m_rightSplitter = new QSplitter(Qt::Vertical);
    m_rightSplitter->setObjectName("RightSplitter");
    m_rightSplitter->addWidget(m_taskView);
    m_rightSplitter->addWidget(m_info);
    m_rightSplitter->setStretchFactor(0, 3);
    m_rightSplitter->setStretchFactor(1, 1);
    m_mainSplitter = new QSplitter(Qt::Horizontal);
    m_mainSplitter->setObjectName("MainSplitter");
    m_mainSplitter->addWidget(m_explorerView);
    m_mainSplitter->addWidget(m_rightSplitter);
    m_mainSplitter->setStretchFactor(0, 0);
    m_mainSplitter->setStretchFactor(1, 1);
    m_mainSplitter->setSizes({200, 1000});
    m_rightSplitter->setSizes({500, 180});
    setCentralWidget(m_mainSplitter);

    connect(m_explorerView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TFormMain::ExplorerSelectionChanged);
    connect(m_taskView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TFormMain::TaskSelectionChanged);
    connect(m_taskView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TFormMain::TaskSelectionChanged);
    connect(m_taskView->header(), &QHeaderView::sortIndicatorChanged, this, [this](int column, Qt::SortOrder order) {
        if (m_taskView->isSortingEnabled() && qobject_cast<TConvertedNode*>(m_explorer->ShownNode())) {
            m_historySortColumn = column;
            m_historySortOrder = order;
        }
    });
    connect(m_taskList, &QAbstractItemModel::modelAboutToBeReset, this, &TFormMain::SaveColumns);
    connect(m_taskList, &QAbstractItemModel::modelReset, this, &TFormMain::RestoreColumns);
    // statuses change under the selection: progress, completion, rows going
    connect(m_taskList, &QAbstractItemModel::dataChanged, this, &TFormMain::ScheduleUpdateActions);
    connect(m_taskList, &QAbstractItemModel::rowsRemoved, this, &TFormMain::UpdateActions);
    connect(m_taskList, &QAbstractItemModel::rowsInserted, this, &TFormMain::UpdateActions);
    connect(m_logList, &QAbstractItemModel::modelReset, this, &TFormMain::ScheduleUpdateActions);
    connect(m_logList, &QAbstractItemModel::rowsInserted, this, &TFormMain::ScheduleUpdateActions);
}

void TFormMain::BuildActions()
{
    QStyle* s = style();
    actNewConversion = new QAction(s->standardIcon(QStyle::SP_FileIcon), QStringLiteral("New Conversion"), this);
    actNewConversion->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    actStartTask = new QAction(StatusIcon(TStatusPicture::Running), QStringLiteral("Start Task"), this);
    actPauseTask = new QAction(StatusIcon(TStatusPicture::Paused), QStringLiteral("Pause Task"), this);
    actStopTask = new QAction(StatusIcon(TStatusPicture::Stopped), QStringLiteral("Stop Task"), this);
    actResumeTask = new QAction(s->standardIcon(QStyle::SP_MediaSeekForward), QStringLiteral("Resume Task"), this);

    actExit = new QAction(QStringLiteral("Exit"), this);
    actExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // the toolbar's tooltips name the keys
    const std::pair<QAction*, QKeySequence> keys[] = {
        {actStartTask, QKeySequence(Qt::CTRL | Qt::Key_R)},
        {actPauseTask, QKeySequence(Qt::CTRL | Qt::Key_P)},
        {actStopTask, QKeySequence(Qt::CTRL | Qt::Key_Period)},
        {actNewConversion, QKeySequence(Qt::CTRL | Qt::Key_N)},
        {actResumeTask, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)},
    };
    for (const auto& [action, key] : keys) {
        action->setShortcut(key);
        action->setToolTip(QStringLiteral("%1 (%2)").arg(action->text(), key.toString(QKeySequence::NativeText)));
    }
    actShutdownWhenDone = new QAction(QStringLiteral("Shutdown PC When Done"), this);
    actShutdownWhenDone->setCheckable(true);
    actOptions = new QAction(QStringLiteral("Options"), this);
    actHomepage = new QAction(s->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Homepage"), this);
    actBugReport = new QAction(QStringLiteral("Bug Report"), this);
    actAbout = new QAction(QStringLiteral("About..."), this);
    actClearLog = new QAction(QStringLiteral("Clear Log"), this);
    m_logView->addAction(actClearLog);

    // the Delete key works in the task list only
    m_dm->actDeleteTask->setShortcut(QKeySequence(Qt::Key_Delete));
    m_dm->actDeleteTask->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_taskView->addAction(m_dm->actDeleteTask);
    // F2 renames (edits) the selected category
    m_dm->actCategoryProperties->setShortcut(QKeySequence(Qt::Key_F2));
    m_dm->actCategoryProperties->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_explorerView->addAction(m_dm->actCategoryProperties);
}

void TFormMain::BuildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(actNewConversion);
    file->addSeparator();
    file->addAction(actStartTask);
    file->addAction(actPauseTask);
    file->addAction(actStopTask);
    file->addAction(actResumeTask);
    file->addSeparator();
    file->addAction(actExit);
    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    options->addAction(actShutdownWhenDone);
    options->addAction(actOptions);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(actHomepage);
    help->addAction(actBugReport);
    help->addSeparator();
    help->addAction(actAbout);

    QToolBar* bar = addToolBar(QStringLiteral("Main"));
    bar->setObjectName("MainToolBar");
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setMovable(false);
    bar->addAction(actNewConversion);
    bar->addSeparator();
    bar->addAction(actStartTask);
    bar->addAction(actPauseTask);
    bar->addAction(actStopTask);
    bar->addAction(actResumeTask);
    bar->addSeparator();
    bar->addAction(actHomepage);
}

void TFormMain::WireActions()
{
    connect(actNewConversion, &QAction::triggered, this, [this] { NewConversion({}); });
    connect(actStartTask, &QAction::triggered, this, &TFormMain::StartTask);
    connect(actPauseTask, &QAction::triggered, this, &TFormMain::PauseTask);
    connect(actStopTask, &QAction::triggered, this, &TFormMain::StopTasks);
    connect(actResumeTask, &QAction::triggered, this, &TFormMain::ResumeTask);
    connect(actExit, &QAction::triggered, this, &QWidget::close);
    connect(actShutdownWhenDone, &QAction::toggled, this,
            [this](bool on) { m_dm->Config()->SetShutdownWhenDone(on); });
    connect(actOptions, &QAction::triggered, this, &TFormMain::ShowOptions);
    connect(actHomepage, &QAction::triggered, this,
            [] { DesktopShell().OpenUrl(QUrl(QString::fromLatin1(links::kHomepage))); });
    connect(actBugReport, &QAction::triggered, this,
            [] { DesktopShell().OpenUrl(QUrl(QString::fromLatin1(links::kBugReport))); });
    connect(actAbout, &QAction::triggered, this, &TFormMain::ShowAbout);
    connect(actClearLog, &QAction::triggered, this, &TFormMain::ClearLog);

    connect(m_dm->actDeleteTask, &QAction::triggered, this, &TFormMain::DeleteTasks);
    connect(m_dm->actOpenSource, &QAction::triggered, this, &TFormMain::OpenSourceFile);
    connect(m_dm->actOpenConverted, &QAction::triggered, this, &TFormMain::OpenConvertedFile);
    connect(m_dm->actExploreFile, &QAction::triggered, this, &TFormMain::ExploreFile);
    connect(m_taskView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateActions();
        m_dm->TaskMenu()->popup(m_taskView->viewport()->mapToGlobal(pos));
    });

    connect(m_taskView, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        // a finished task opens with the player
        TAVTask* task = m_taskList->TaskAt(index.row());
        if (task && task->ConvertedIsValid())
            DesktopShell().PlayFile(task->Settings()->TargetFile());
    });
    connect(m_dm->actOpenFolder, &QAction::triggered, this, [this] { m_categories->OpenFolder(); });
    connect(m_dm->actNewCategory, &QAction::triggered, this,
            [this] { Run(QStringLiteral("New Category"), [this] { m_categories->NewCategory(); }); });
    connect(m_dm->actDeleteCategory, &QAction::triggered, this,
            [this] { Run(QStringLiteral("Delete Category"), [this] { m_categories->DeleteCategory(); }); });
    connect(m_dm->actCategoryProperties, &QAction::triggered, this,
            [this] { Run(QStringLiteral("Category Properties"), [this] { m_categories->EditProperties(); }); });
    connect(m_explorerView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        TNodeObject* node = m_explorer->NodeAt(m_explorerView->indexAt(pos));
        if (!node || !node->HasPopupMenu())
            return;
        m_explorer->Select(node);
        UpdateActions();
        m_dm->CategoryMenu()->popup(m_explorerView->viewport()->mapToGlobal(pos));
    });
    connect(m_explorerView, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (TNodeObject* node = m_explorer->NodeAt(index))
            Run(QStringLiteral("Edit"), [node] { node->Edit(); });
    });
}

void TFormMain::ExplorerSelectionChanged()
{
    // the model has filled the task list from the new node; the log belongs
    // to a task of the old one
    m_logList->SetTask(nullptr);
    // the history sorts by a clicked column; Converting keeps its order
    const bool history = qobject_cast<TConvertedNode*>(m_explorer->ShownNode()) != nullptr;
    if (history) {
        // the order the user chose for the history, kept across visits
        m_taskView->header()->setSortIndicator(m_historySortColumn, m_historySortOrder);
        m_taskView->setSortingEnabled(true);
        m_taskList->sort(m_historySortColumn, m_historySortOrder);
    } else {
        m_taskView->setSortingEnabled(false);
    }
    UpdateActions();
}

void TFormMain::TaskSelectionChanged()
{
    TAVTask* task = CurrentTask();
    if (task && m_taskView->selectionModel()->isRowSelected(m_taskView->currentIndex().row(), {}))
        Run(QStringLiteral("Showing the log"), [this, task] { task->LoadTaskInfo(m_logList); });
    UpdateActions();
}

bool TFormMain::Run(const QString& operation, const std::function<void()>& action)
{
    const bool done = RunAction(operation, m_dm->Environment(), action);
    UpdateActions();
    return done;
}

void TFormMain::ScheduleUpdateActions()
{
    if (!m_updateTimer->isActive())
        m_updateTimer->start();
}

TAVTask* TFormMain::CurrentTask() const
{
    const QModelIndex current = m_taskView->currentIndex();
    return current.isValid() ? m_taskList->TaskAt(current.row()) : nullptr;
}

QList<TAVTask*> TFormMain::SelectedTasks() const
{
    QList<TAVTask*> tasks;
    for (const QModelIndex& index : m_taskView->selectionModel()->selectedRows())
        if (TAVTask* task = m_taskList->TaskAt(index.row()))
            tasks << task;
    return tasks;
}

void TFormMain::UpdateActions()
{
    m_updateTimer->stop();
    TAVTask* current = CurrentTask();
    const QList<TAVTask*> selected = SelectedTasks();
    const auto status = current ? current->Status() : TAVTask::stFinished;
    actStartTask->setEnabled(current && (status == TAVTask::stPaused || status == TAVTask::stError));
    actPauseTask->setEnabled(current && status == TAVTask::stRunning);
    actStopTask->setEnabled(std::any_of(selected.begin(), selected.end(), IsActive));
    actResumeTask->setEnabled(current && selected.size() == 1 && current->CanResumeTask());
    // a stopped task that cannot be carried on says why
    const QString refusal = current && selected.size() == 1 ? current->ResumeTaskRefusal() : QString();
    actResumeTask->setToolTip(refusal.isEmpty() ? QStringLiteral("%1 (%2)").arg(actResumeTask->text(),
                                                                               actResumeTask->shortcut().toString(
                                                                                   QKeySequence::NativeText))
                                                : QStringLiteral("Cannot resume: ") + refusal);
    m_dm->actDeleteTask->setEnabled(!selected.isEmpty());
    const bool one = selected.size() == 1 && current;
    m_dm->actOpenSource->setEnabled(one && current->CanOpenSource());
    const bool converted = one && current->ConvertedIsValid();
    m_dm->actOpenConverted->setEnabled(converted);
    m_dm->actExploreFile->setEnabled(converted);
    actClearLog->setEnabled(m_logList->rowCount() > 0);
    m_dm->actDeleteCategory->setEnabled(m_categories->CanDelete());
    const bool category = m_categories->SelectedCategory() != nullptr;
    m_dm->actOpenFolder->setEnabled(category);
    m_dm->actNewCategory->setEnabled(category);
    m_dm->actCategoryProperties->setEnabled(category);
    // the speed of the focused task, while it runs; a message of its own
    // (a kept file, say) is not wiped by a task that has no speed
    const QString speed = TTaskProgressDelegate::SpeedText(current);
    if (!speed.isEmpty() || m_speedShown)
        statusBar()->showMessage(speed);
    m_speedShown = !speed.isEmpty();
}

void TFormMain::NewConversion(const QStringList& sources)
{
    if (!m_runner || m_inNewConversion)
        return;
    std::vector<std::unique_ptr<TConversionSettings>> settings;
    m_inNewConversion = true;
    Run(QStringLiteral("New Conversion"), [&] { settings = m_runner(this, sources); });
    m_inNewConversion = false;
    // one task per source, started at once; a task whose history row cannot
    // be written is not started (it would be lost), the others are
    for (auto& one : settings)
        if (one)
            Run(QStringLiteral("New Conversion of %1").arg(one->SourceFile()),
                [&] { m_explorer->ConvertingNode()->NewConversion(std::move(one)); });
    UpdateActions();
    if (!m_pendingFiles.isEmpty())
        m_pendingTimer->start(0);
}

void TFormMain::OpenFiles(const QStringList& files)
{
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    if (files.isEmpty())
        return;
    m_pendingFiles << files;
    if (!m_pendingTimer->isActive())
        m_pendingTimer->start(0);
}

void TFormMain::OpenPendingFiles()
{
    if (m_pendingFiles.isEmpty())
        return;
    // one dialog at a time, never inside another modal dialog's loop: the
    // files wait until it has closed
    if (m_inNewConversion || QApplication::activeModalWidget()) {
        m_pendingTimer->start(250);
        return;
    }
    NewConversion(m_pendingFiles.takeFirst());
}

void TFormMain::StartTask()
{
    TAVTask* task = CurrentTask();
    if (!task)
        return;
    Run(QStringLiteral("Start Task"), [task] {
        if (task->Status() == TAVTask::stPaused)
            task->Resume();
        else if (task->Status() == TAVTask::stError)
            task->Start();
    });
}

void TFormMain::ResumeTask()
{
    if (TAVTask* task = CurrentTask())
        task->ResumeTask();
    UpdateActions();
}

void TFormMain::PauseTask()
{
    TAVTask* task = CurrentTask();
    if (task && task->Status() == TAVTask::stRunning)
        Run(QStringLiteral("Pause Task"), [task] { task->Pause(); });
    UpdateActions();
}

void TFormMain::StopTasks()
{
    for (TAVTask* task : SelectedTasks())
        if (IsActive(task))
            Run(QStringLiteral("Stop Task"), [task] { task->Stop(); });
    UpdateActions();
}

void TFormMain::DeleteTasks()
{
    // guarded before the question: a task that completes, fails or goes
    // while the dialog's loop runs is freed there, and is then skipped
    const QList<TAVTask*> selected = SelectedTasks();
    QList<QPointer<TAVTask>> tasks(selected.begin(), selected.end());
    if (tasks.isEmpty())
        return;
    bool deleteSource = false;
    bool deleteTarget = true;
    if (!AskDelete || !AskDelete(this, &deleteSource, &deleteTarget))
        return;
    QStringList kept;
    for (const QPointer<TAVTask>& task : tasks) {
        // gone, or no longer in this list (completed into the history)
        if (!task || m_taskList->RowOf(task) < 0)
            continue;
        if (IsActive(task)) {
            Run(QStringLiteral("Stop Task"), [&] { task->Stop(); });
            continue;
        }
        // a file that another task also names as its target is that task's
        // too: it stays
        bool target = deleteTarget;
        if (!Run(QStringLiteral("Delete Task"), [&] {
                if (target && task->TargetUsedByAnotherTask()) {
                    target = false;
                    kept << task->Settings()->TargetFile();
                }
                task->Delete(deleteSource, target);
            }))
            break; // the database refused: the rest stays as it is too
    }
    if (!kept.isEmpty())
        statusBar()->showMessage(
            QStringLiteral("Kept %1: another task has the same target file").arg(kept.join(QStringLiteral(", "))),
            10000);
    UpdateActions();
}

void TFormMain::OpenSourceFile()
{
    if (TAVTask* task = CurrentTask(); task && task->CanOpenSource())
        DesktopShell().OpenFile(task->Settings()->SourceFile());
}

void TFormMain::OpenConvertedFile()
{
    if (TAVTask* task = CurrentTask(); task && task->ConvertedIsValid())
        DesktopShell().PlayFile(task->Settings()->TargetFile());
}

void TFormMain::ExploreFile()
{
    if (TAVTask* task = CurrentTask(); task && task->ConvertedIsValid())
        DesktopShell().ShowInFileBrowser(task->Settings()->TargetFile());
}

void TFormMain::ClearLog()
{
    // the log list forgets a task that was freed, so this never reaches one
    if (TAVTask* task = m_logList->Task())
        Run(QStringLiteral("Clear Log"), [task] { task->ClearLog(); });
    UpdateActions();
}

void TFormMain::ShowAbout()
{
    const QString home = QString::fromLatin1(links::kHomepage);
    QMessageBox box(this);
    box.setWindowTitle(QStringLiteral("About"));
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("<b>%1 %2</b><br><br><a href=\"%3\">%3</a>")
                    .arg(QString::fromLatin1(links::kProductTitle), QString::fromLatin1(links::kVersion),
                         home.toHtmlEscaped()));
    box.setTextInteractionFlags(Qt::TextBrowserInteraction);
    box.exec();
}

void TFormMain::ShowOptions()
{
    TFormOptions::Execute(m_dm->Config(), this);
}

bool TFormMain::ConfirmClose()
{
    // every task of the Converting node counts, whatever node is shown:
    // closing must never end conversions without a word
    TConvertingNode* converting = m_explorer->ConvertingNode();
    if (!converting)
        return true;
    QList<QPointer<TAVTask>> active;
    for (TAVTask* task : converting->Tasks())
        if (IsActive(task))
            active << task;
    if (active.isEmpty())
        return true;
    if (!ConfirmBox(QStringLiteral("There are running tasks, are you sure to exit?")))
        return false;
    if (m_explorer->IsShown(converting))
        m_taskView->selectAll();
    // stopped the way "Stop Task" does: each run ends its output properly
    for (const QPointer<TAVTask>& task : active)
        if (task && IsActive(task))
            task->Stop();
    return true;
}

void TFormMain::EndSession()
{
    // stopped the way "Stop Task" does: each run writes its trailer and its
    // row stays under Converting for the next start
    if (TConvertingNode* converting = m_explorer->ConvertingNode()) {
        QList<QPointer<TAVTask>> active;
        for (TAVTask* task : converting->Tasks())
            if (IsActive(task))
                active << task;
        for (const QPointer<TAVTask>& task : active)
            if (task && IsActive(task))
                Run(QStringLiteral("Stop Task"), [&] { task->Stop(); });
    }
    m_closeConfirmed = true;
    SaveWindowState();
    // every loop ends, a modal dialog's too
    QCoreApplication::exit(0);
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (DraggedFiles(event->mimeData()).isEmpty())
        return;
    event->setDropAction(Qt::LinkAction);
    event->accept();
}

void TFormMain::dropEvent(QDropEvent* event)
{
    const QStringList files = DraggedFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->setDropAction(Qt::LinkAction);
    event->accept();
    // the dialog is modal: it opens once the drag has ended
    OpenFiles(files);
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    if (!m_closeConfirmed && !ConfirmClose()) {
        event->ignore();
        return;
    }
    m_closeConfirmed = true;
    SaveWindowState();
    event->accept();
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_taskView->viewport())
        return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (DraggedFiles(drag->mimeData()).isEmpty()) {
            drag->ignore();
        } else {
            drag->setDropAction(Qt::LinkAction);
            drag->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = DraggedFiles(drop->mimeData());
        if (files.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::LinkAction);
        drop->accept();
        // the dialog is modal: it opens once the drag has ended
        OpenFiles(files);
        return true;
    }
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

} // namespace korvane
