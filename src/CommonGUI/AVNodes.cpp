// Node objects of the explorer tree: the base with its task list, the
// Converting node and the history categories, and tasks made from history rows.
#include "AVNodes.h"

#include "ConversionSettings.h"
#include "ExplorerModel.h"
#include "PersistentManager.h"
#include "PropertyDocument.h"
#include "TaskListModel.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcNodes, "korvane.nodes")

namespace korvane {

namespace {

const QList<TTaskColumn> kConvertingColumns = {
    {QStringLiteral("Source"), 150},        {QStringLiteral("Source Size"), 100}, {QStringLiteral("Target"), 150},
    {QStringLiteral("Target Size"), 100},   {QStringLiteral("Target Profile"), 100},
    {QStringLiteral("Duration"), 60},       {QStringLiteral("Percent"), 70},      {QStringLiteral("Bitrate(kbs)"), 70},
    {QStringLiteral("Left Time"), 70},      {QStringLiteral("Used Time"), 70},
};

const QList<TTaskColumn> kConvertedColumns = {
    {QStringLiteral("Source"), 150},      {QStringLiteral("Source Size"), 100},    {QStringLiteral("Target"), 150},
    {QStringLiteral("Target Size"), 100}, {QStringLiteral("Target Profile"), 100}, {QStringLiteral("Duration"), 60},
    {QStringLiteral("Date"), 120},
};

bool DbReady(const TTaskEnvironment* env)
{
    return env && env->Db && env->Db->IsOpen();
}

} // namespace

TNodeObject::TNodeObject(TTaskEnvironment* env, QObject* parent) : QObject(parent), m_env(env) {}

TNodeObject::~TNodeObject()
{
    ClearTasks();
}

TNodeObject* TNodeObject::Parent() const
{
    return m_treeView ? m_treeView->ParentOf(this) : nullptr;
}

void TNodeObject::AddTask(TAVTask* task)
{
    if (!m_tasks.contains(task))
        m_tasks.append(task);
}

bool TNodeObject::TakeTask(TAVTask* task)
{
    return m_tasks.removeOne(task);
}

void TNodeObject::ClearTasks()
{
    while (!m_tasks.isEmpty())
        delete m_tasks.takeLast();
}

std::unique_ptr<TConvertingTask> TaskFromRow(const TConversionRow& row, TTaskEnvironment* env)
{
    auto task = std::make_unique<TConvertingTask>(std::make_unique<TConversionSettings>(), env);
    task->SetID(row.ID);
    task->SetStoredLog(row.LogText);
    task->SetStoredUsedTime(row.UsedTime);
    try {
        task->SetStoredSettings(row.ConvertSettings);
    } catch (const EEngineError& e) {
        // one damaged row costs that row's settings, never the whole list
        const QString error =
            QStringLiteral("The stored settings of this task cannot be read: %1").arg(QString::fromUtf8(e.what()));
        qCWarning(lcNodes, "row %d: %s", row.ID, qPrintable(error));
        task->AppendLog(error);
    }
    task->SetStatus(row.Converting ? TAVTask::stError : TAVTask::stFinished);
    if (row.Converting)
        task->SetCategoryId(task->Settings()->CategoryId()); // few: read in full
    else
        task->SetDate(row.ConvertedDate);
    return task;
}

QString TConvertingNode::GetCaption(int)
{
    return QStringLiteral("Converting");
}

void TConvertingNode::LoadTasks()
{
    if (!DbReady(m_env))
        return;
    for (const TConversionRow& row : m_env->Db->LoadConvertingTasks()) {
        auto task = TaskFromRow(row, m_env);
        task->SetCategory(this);
        task->SetListView(m_listView);
        AddTask(task.release());
    }
}

void TConvertingNode::LoadTaskList(TTaskListModel* list)
{
    TNodeObject::LoadTaskList(list);
    list->Reset(this, kConvertingColumns);
    if (!m_loaded) {
        m_loaded = true;
        LoadTasks();
    }
    for (TAVTask* task : m_tasks)
        list->AddRow(task);
}

TAVTask* TConvertingNode::NewConversion(std::unique_ptr<TConversionSettings> settings)
{
    const int categoryId = settings->CategoryId();
    const bool dvd = settings->SourceType() == TConversionSettings::stDvd;
    auto task = std::make_unique<TConvertingTask>(std::move(settings), m_env);
    task->SetListView(m_listView);
    task->SetCategory(this);
    task->SetCategoryId(categoryId);
    // the dialog opened this title's stream for this run
    task->m_dvdStreamFresh = dvd;
    // the row is written before the run starts: a task that runs is never
    // missing from the history, even when the process dies a moment later
    if (DbReady(m_env))
        task->SetID(m_env->Db->NewDbTask(WritePropertyDocument(task->Settings())));
    TAVTask* t = task.release();
    AddTask(t);
    if (m_treeView && m_treeView->IsShown(this) && m_treeView->TaskList())
        m_treeView->TaskList()->AddRow(t);
    t->Start();
    return t;
}

void TConvertedNode::LoadTasks()
{
    ClearTasks();
    if (!DbReady(m_env))
        return;
    const std::vector<TConversionRow> rows = m_env->Db->LoadConvertedTasks(m_categoryId);
    m_tasks.reserve(qsizetype(rows.size()));
    for (const TConversionRow& row : rows) {
        auto task = TaskFromRow(row, m_env);
        task->SetCategoryId(m_categoryId);
        task->SetIsConverted(true);
        task->SetCategory(this);
        task->SetListView(m_listView);
        m_tasks.append(task.release());
    }
}

void TConvertedNode::LoadTaskList(TTaskListModel* list)
{
    TNodeObject::LoadTaskList(list);
    list->Reset(this, kConvertedColumns);
    LoadTasks();
    list->AddRows(m_tasks);
}

void TConvertedNode::DeleteChildrens()
{
    if (DbReady(m_env))
        m_env->Db->DeleteCategoryTree(m_categoryId);
}

} // namespace korvane
