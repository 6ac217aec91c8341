// The main window: the explorer tree (left), the task list (top right) and
// the information pane with the log (bottom right), a toolbar and the menus.
// Commands are QActions; UpdateActions computes every enabling rule from the
// focused and selected tasks. The windows holds no business rules: tasks and
// nodes do the work, the window only chooses which ones.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QListView;
class QSplitter;
class QTabWidget;
class QTimer;
class QTreeView;

namespace korvane {

class TAVTask;
class TCategoryOperations;
class TConversionSettings;
class TdmGlobal;
class TExplorerModel;
class TLogListModel;
class TTaskListModel;

// Opens the new conversion dialog with the given sources (none: an empty
// source) and returns one settings object per confirmed source; empty when
// the user cancelled.
using TNewConversionRunner =
    std::function<std::vector<std::unique_ptr<TConversionSettings>>(QWidget* parent, const QStringList& sources)>;

class TFormMain : public QMainWindow
{
    Q_OBJECT
public:
    TFormMain(TdmGlobal* dm, TNewConversionRunner runner, QWidget* parent = nullptr);
    ~TFormMain() override;

    // Shows the window as it was left (size, splitters, columns), maximised
    // the first time.
    void ShowAtStart();

    // New conversions from files (a drop, "korvane FILE", a second start).
    // The dialog opens from the event loop, one at a time: files that come
    // while any modal dialog is up wait until it has closed.
    void OpenFiles(const QStringList& files);
    // Files waiting for their dialog.
    int PendingFileBatches() const { return int(m_pendingFiles.size()); }

    // The program is asked to end (SIGTERM, SIGHUP, the system going down):
    // running tasks stop as Stop does, the window state is saved and the
    // event loops end without a question.
    void EndSession();

    // Asks the delete question; tests replace it. Default: the delete dialog.
    std::function<bool(QWidget* parent, bool* deleteSource, bool* deleteTarget)> AskDelete;

    // The file with the window's sizes: beside the configuration file.
    static QString WindowStateFile();

    // Parts, for tests.
    TExplorerModel* Explorer() const { return m_explorer; }
    TTaskListModel* TaskList() const { return m_taskList; }
    TLogListModel* LogList() const { return m_logList; }
    QTreeView* ExplorerView() const { return m_explorerView; }
    QTreeView* TaskView() const { return m_taskView; }
    QListView* LogView() const { return m_logView; }
    QTabWidget* InfoPane() const { return m_info; }
    TCategoryOperations* Categories() const { return m_categories.get(); }

    // The task of the focused row, and those of all selected rows.
    TAVTask* CurrentTask() const;
    QList<TAVTask*> SelectedTasks() const;

    // Recomputes every enabling rule.
    void UpdateActions();

    QAction* actNewConversion;
    QAction* actStartTask;
    QAction* actPauseTask;
    QAction* actStopTask;
    QAction* actResumeTask;
    QAction* actExit;
    QAction* actShutdownWhenDone;
    QAction* actOptions;
    QAction* actHomepage;
    QAction* actBugReport;
    QAction* actAbout;
    QAction* actClearLog;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildViews();
    void BuildActions();
    void BuildMenus();
    void WireActions();
    void ExplorerSelectionChanged();
    void TaskSelectionChanged();
    void ScheduleUpdateActions();

    void NewConversion(const QStringList& sources);
    void OpenPendingFiles();
    // Runs a command; a failure shows an error box instead of ending the program.
    bool Run(const QString& operation, const std::function<void()>& action);
    void StartTask();
    void ResumeTask();
    void PauseTask();
    void StopTasks();
    void DeleteTasks();
    void OpenSourceFile();
    void OpenConvertedFile();
    void ExploreFile();
    void ClearLog();
    void ShowAbout();
    void ShowOptions();

    // True when the window may close: no task runs or is paused, or the
    // user agreed to stop them (they are then stopped).
    bool ConfirmClose();
    void SaveWindowState();
    void RestoreWindowState();
    void SaveColumns();
    void RestoreColumns();

    TdmGlobal* m_dm;
    TNewConversionRunner m_runner;
    TExplorerModel* m_explorer;
    TTaskListModel* m_taskList;
    TLogListModel* m_logList;
    std::unique_ptr<TCategoryOperations> m_categories;
    QTreeView* m_explorerView;
    QTreeView* m_taskView;
    QListView* m_logView;
    QTabWidget* m_info;
    QSplitter* m_mainSplitter;
    QSplitter* m_rightSplitter;
    QTimer* m_updateTimer;
    // header state of the task list by column count (the Converting node
    // and the categories have their own widths)
    QHash<int, QByteArray> m_columnStates;
    bool m_closeConfirmed = false;
    QList<QStringList> m_pendingFiles; // batches waiting for their dialog
    QTimer* m_pendingTimer;
    bool m_inNewConversion = false;
    bool m_speedShown = false; // the status bar shows a task's speed
    // the history's order: a clicked column, or none (newest first)
    int m_historySortColumn = -1;
    Qt::SortOrder m_historySortOrder = Qt::AscendingOrder;
};

} // namespace korvane
