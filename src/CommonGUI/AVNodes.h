// The objects behind the main window's three views: the explorer tree of
// nodes (the "Converting" node and the history categories), the tasks they
// list, and the log of one task.
//
// Nothing here holds a widget. A node reaches its explorer row through
// TExplorerModel (TreeView) and the task list through TTaskListModel
// (ListView); "is this node shown" is asked of the explorer's selection
// model. So the whole lifecycle runs, and is tested, without windows.
//
// Ownership: the explorer model owns the node objects of its rows; a node
// owns the tasks in its Tasks list; a task owns its settings, its converter
// and its log. The task list and the log list only refer to tasks and drop
// their rows when a task goes away.
//
// Threads: everything runs on the main thread except TAVTask's log append,
// which the converter calls on its worker thread; the log is guarded by a
// lock and the views hear of new lines through LogChanged on the main thread.
#pragma once

#include "TaskServices.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <atomic>
#include <memory>
#include <mutex>

namespace korvane {

class TAVConverter;
class TAVTask;
class TConversionSettings;
class TExplorerModel;
class TLogListModel;
class TTaskListModel;
struct TConversionRow;

class TNodeObject : public QObject
{
    Q_OBJECT
public:
    explicit TNodeObject(TTaskEnvironment* env, QObject* parent = nullptr);
    // Frees the tasks of the Tasks list.
    ~TNodeObject() override;

    TTaskEnvironment* Environment() const { return m_env; }
    // The task list this object fills (a node) or is listed in (a task).
    TTaskListModel* ListView() const { return m_listView; }
    void SetListView(TTaskListModel* list) { m_listView = list; }
    // The explorer tree holding this node's row; null for tasks.
    TExplorerModel* TreeView() const { return m_treeView; }
    void SetTreeView(TExplorerModel* tree) { m_treeView = tree; }
    // The node of this node's parent row in TreeView; null at top level.
    TNodeObject* Parent() const;

    // Tasks belonging to this node, owned.
    const QList<TAVTask*>& Tasks() const { return m_tasks; }
    void AddTask(TAVTask* task);
    // Removes the task from the list without freeing it; false when absent.
    bool TakeTask(TAVTask* task);
    // Frees every task, last first.
    void ClearTasks();

    // True for a history category (it has the category menu).
    virtual bool HasPopupMenu() const { return false; }
    virtual void Edit() {}
    virtual void Delete(bool deleteSource, bool deleteTarget) = 0;
    virtual QString GetInformation() const { return {}; }
    virtual QString GetCaption(int column) = 0;
    // -1: no image.
    virtual int GetImageIndex() const { return -1; }
    // Fills the task list with this node's columns and tasks.
    virtual void LoadTaskList(TTaskListModel* list) { m_listView = list; }
    // Points the log list at this object's log (tasks only).
    virtual void LoadTaskInfo(TLogListModel* logList) { m_logList = logList; }

protected:
    TTaskEnvironment* m_env;
    TTaskListModel* m_listView = nullptr;
    TExplorerModel* m_treeView = nullptr;
    TLogListModel* m_logList = nullptr;
    QList<TAVTask*> m_tasks;
};

class TAVTask : public TNodeObject
{
    Q_OBJECT
public:
    enum TAVTaskStatus { stRunning = 0, stPaused = 1, stError = 2, stFinished = 3 };
    Q_ENUM(TAVTaskStatus)

    static constexpr int kMaxLogLines = 51;
    // Row updates of one task are at most this often (10 a second): smooth
    // enough for progress text, and eight running tasks then cost the main
    // thread under 5 % of a core (at 25 a second it was 7 %).
    static constexpr int kMinRepaintIntervalMs = 100;

    // Takes the settings over. The converter is made by each Start (a
    // converter runs one job only), so it is null before the first one.
    TAVTask(std::unique_ptr<TConversionSettings> settings, TTaskEnvironment* env);
    // Stops a run still going and waits for its worker.
    ~TAVTask() override;

    TAVConverter* Converter() const { return m_converter.get(); }
    // The whole settings; a task read from the history reads its stored
    // options tree here the first time (a document that fails then leaves
    // its error in the log).
    TConversionSettings* Settings() const;
    // Settings from a history row: the simple fields at once, the options
    // tree when Settings() is first asked for. Throws EEngineError when the
    // document cannot be read at all.
    void SetStoredSettings(const QString& document);
    // The log of a history row, split when first read.
    void SetStoredLog(const QString& text);
    // Completion time (local) of a finished task.
    QDateTime Date() const { return m_date.toLocalTime(); }
    void SetDate(const QDateTime& date) { m_date = date; }
    TAVTaskStatus Status() const { return m_status; }
    void SetStatus(TAVTaskStatus status);
    // Row id in the history database; 0 until the row exists.
    int ID() const { return m_id; }
    void SetID(int id) { m_id = id; }
    int CategoryId() const { return m_categoryId; }
    void SetCategoryId(int id) { m_categoryId = id; }
    // True for a task listed in a history category.
    bool IsConverted() const { return m_isConverted; }
    void SetIsConverted(bool v) { m_isConverted = v; }
    // The node whose Tasks list holds this task; not owned.
    TNodeObject* Category() const { return m_category; }
    void SetCategory(TNodeObject* node) { m_category = node; }

    // A copy of the log (at most 51 lines), safe while a worker appends.
    QStringList Log() const;
    void SetLog(const QStringList& lines);
    // Appends a line as the converter's log does (trimmed, oldest dropped).
    void AppendLog(const QString& line);

    virtual void Start();
    virtual void Pause();
    virtual void Resume();
    virtual void Stop();
    // A stopped or failed task whose output an unfinished run of it left
    // (same source, same settings), which ResumeTask carries on
    // (AVTaskResume.cpp). Start still begins anew.
    bool CanResumeTask() const;
    // Why a stopped or failed task cannot be resumed (for the action's
    // tooltip); empty when it can, or when it is not stopped.
    QString ResumeTaskRefusal() const;
    void ResumeTask();
    // Seconds of the earlier runs that the current run carries on; Used
    // Time shows them with the current run's.
    int64_t EarlierUsedTime() const { return m_earlierUsedS; }
    // What the history kept of it for a task brought back by a restart.
    void SetStoredUsedTime(int64_t seconds) { m_earlierUsedS = std::max<int64_t>(0, seconds); }

    // Deletes the history row, the files asked for, and the task itself
    // (at once when its node is shown, else with its node's list). Throws
    // (EDatabaseError) before anything changed when the row cannot go.
    // Callers keep the target when TargetUsedByAnotherTask.
    void Delete(bool deleteSource, bool deleteTarget) override;
    // True when a task under Converting or in the history (or a history row
    // that cannot be read) has the same target file.
    bool TargetUsedByAnotherTask() const;
    // True for a run that ended with an error, not by a stop.
    bool RunFailed() const { return m_runFailed; }
    // Empties the log and stores null as the row's log.
    void ClearLog();
    bool CanOpenSource() const;
    bool ConvertedIsValid() const;
    QString GetTargetProfileText() const;
    // 0 running, 1 paused, 2 stopped, 3 finished, 4 failed (kFailedImage).
    int GetImageIndex() const override;
    static constexpr int kFailedImage = 4;
    // "Running", "Paused", "Stopped", "Completed", "Failed: <reason>".
    QString StatusText() const;
    // What a history column sorts by (sizes and dates as values).
    QVariant SortValue(int column);
    void LoadTaskInfo(TLogListModel* logList) override;

    // Repaints the task's row when its node is the shown node, at most
    // every kMinRepaintIntervalMs (a later call waits for the rest).
    void InvalidateRow();

signals:
    // On the main thread, after lines were added or the log was cleared.
    void LogChanged(korvane::TAVTask* task);
    void StatusChanged(korvane::TAVTask* task);
    // The task has completed and was written to the history.
    void Completed(korvane::TAVTask* task);

protected:
    void HandleProgress(TAVConverter* sender);
    void HandleLog(TAVConverter* sender, int level, const QString& text);
    void HandleComplete(TAVConverter* sender);
    // The run failed: stError under Converting, the error as last log line.
    void HandleFailed(TAVConverter* sender);
    void HandleFinished(TAVConverter* sender);

    // Makes a fresh converter wired to this task for the next run.
    void NewConverter();
    // The input name of this run: SourceFile, or a DVD title opened again.
    bool ResolveSource(QString* input);
    // A DVD task whose stream was opened by the dialog of this process and
    // has not been read yet; every other DVD run reopens the title.
    bool m_dvdStreamFresh = false;
    friend class TConvertingNode;
    // The settings' simple fields, without reading a pending options tree
    // (captions need no more).
    TConversionSettings* Fields() const { return m_settings.get(); }

private:
    void PostLogChanged();
    void DoInvalidateRow();
    void EndRunFailed(const QString& error);
    // Powers off when asked to and no task of `converting` runs any more.
    void ShutdownWhenLastEnds(TNodeObject* converting);
    void MoveToHistory();
    void StoreLog();

    std::unique_ptr<TConversionSettings> m_settings;
    mutable QString m_pendingDocument; // stored settings not read in full yet
    mutable QString m_settingsError;   // why the stored settings could not be read
    std::unique_ptr<TAVConverter> m_converter;
    QDateTime m_date;
    TAVTaskStatus m_status = stRunning;
    int m_id = 0;
    int m_categoryId = 0;
    bool m_isConverted = false;
    TNodeObject* m_category = nullptr;
    bool m_runFailed = false; // the current run ended with an error
    bool m_resumeNext = false; // the next Start carries on the output
    int64_t m_earlierUsedS = 0;
    int64_t m_storedUsedS = -1; // what the history holds of Used Time (-1: not written by this run)
    bool m_runFactsStored = false; // this run's duration and source size are in the row
    void StoreRunFacts();
    int64_t UsedSeconds() const; // Used Time: the earlier runs' and this run's
    void StoreUsedTime();

    mutable std::mutex m_logLock; // guards m_log (the worker appends)
    QStringList m_log;
    QString m_storedLog; // not split yet; guarded by m_logLock
    std::atomic<bool> m_logChangePending{false};
    // The stored log is split into m_log; m_logLock is held.
    void TakeStoredLog() const;

    QElapsedTimer m_lastRepaint;
    QTimer m_repaintTimer; // a repaint held back by the rate limit
};

class TConvertingTask : public TAVTask
{
    Q_OBJECT
public:
    using TAVTask::TAVTask;

    // Running task: ten columns (Source ... Used Time); finished task
    // (IsConverted): seven (Source ... Date). Other columns are empty.
    QString GetCaption(int column) override;
    void Start() override;
    void Pause() override;
    void Resume() override;
    void Stop() override;
};

class TConvertingNode : public TNodeObject
{
    Q_OBJECT
public:
    using TNodeObject::TNodeObject;

    QString GetCaption(int column) override;
    int GetImageIndex() const override { return 0; }
    void Delete(bool, bool) override {}
    // Ten columns; the converting tasks are loaded from the database the
    // first time only.
    void LoadTaskList(TTaskListModel* list) override;
    // Creates a task for the settings, lists it, stores its row and starts
    // it; returns it (owned by this node).
    TAVTask* NewConversion(std::unique_ptr<TConversionSettings> settings);
    bool Loaded() const { return m_loaded; }
    // The tasks left marked converting; nothing restarts them.
    void LoadTasks();

private:
    bool m_loaded = false;
};

class TConvertedNode : public TNodeObject
{
    Q_OBJECT
public:
    using TNodeObject::TNodeObject;

    QString Folder() const { return m_folder; }
    void SetFolder(const QString& folder) { m_folder = folder; }
    int CategoryId() const { return m_categoryId; }
    void SetCategoryId(int id) { m_categoryId = id; }
    QString Category() const { return m_category; }
    void SetCategory(const QString& name) { m_category = name; }
    bool IsRoot() const { return m_categoryId == 1; }

    bool HasPopupMenu() const override { return true; }
    QString GetCaption(int) override { return m_category; }
    int GetImageIndex() const override { return 1; }
    void Delete(bool, bool) override {}
    // Seven columns; the finished tasks are read again every time.
    void LoadTaskList(TTaskListModel* list) override;
    // Deletes this category, the ones below it and all their tasks from the
    // database, in one transaction.
    void DeleteChildrens();
    // Reads this category's finished tasks, newest first, into Tasks.
    void LoadTasks();

private:
    QString m_folder;
    int m_categoryId = 0;
    QString m_category;
};

// A task made from a history row: settings read from the row's document (a
// document that cannot be read gives a task with the error in its log and
// empty settings), log, ID and status.
std::unique_ptr<TConvertingTask> TaskFromRow(const TConversionRow& row, TTaskEnvironment* env);

// Caption texts shared by the task list (whole seconds are shown with the
// engine's TimeText, "%d:%d:%d").
QString SizeText(int64_t bytes);              // "%dKB"
QString DurationText(double seconds);         // rounded, halves to even
QString BitrateText(double kbps);             // "###,###.0#" in the locale
QString DateTimeText(const QDateTime& date);  // short date, long time

} // namespace korvane
