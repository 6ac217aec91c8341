#include "TaskListModel.h"

#include "AVNodes.h"
#include "FileInfoCache.h"

#include <QHash>
#include <algorithm>

namespace korvane {

TTaskListModel::TTaskListModel(QObject* parent) : QAbstractTableModel(parent)
{
    // sizes looked up on disk arrive later than the first painting
    connect(&TFileInfoCache::Instance(), &TFileInfoCache::Changed, this, [this] {
        if (!m_tasks.isEmpty() && !m_columns.isEmpty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole});
    });
}

void TTaskListModel::Reset(TNodeObject* node, const QList<TTaskColumn>& columns)
{
    beginResetModel();
    for (TAVTask* task : std::as_const(m_tasks))
        disconnect(task, &QObject::destroyed, this, nullptr);
    m_tasks.clear();
    m_node = node;
    m_columns = columns;
    // only the history is sorted by a column: Converting keeps its order
    if (!qobject_cast<TConvertedNode*>(node))
        m_sortColumn = -1;
    endResetModel();
}

void TTaskListModel::AddRow(TAVTask* task)
{
    if (!task || m_tasks.contains(task))
        return;
    if (m_sortColumn < 0 && !task->IsConverted()) {
        AddRows({task});
        return;
    }
    int row = 0;
    if (m_sortColumn >= 0)
        while (row < m_tasks.size() && !Before(task, m_tasks[row]))
            ++row;
    beginInsertRows({}, row, row);
    m_tasks.insert(row, task);
    connect(task, &QObject::destroyed, this, &TTaskListModel::OnTaskDestroyed);
    endInsertRows();
}

bool TTaskListModel::Before(TAVTask* a, TAVTask* b) const
{
    const QVariant va = a->SortValue(m_sortColumn), vb = b->SortValue(m_sortColumn);
    const QPartialOrdering order = QVariant::compare(va, vb);
    return m_sortOrder == Qt::AscendingOrder ? order == QPartialOrdering::Less : order == QPartialOrdering::Greater;
}

void TTaskListModel::sort(int column, Qt::SortOrder order)
{
    // only the history is sorted by a column: Converting keeps its order
    const bool history = qobject_cast<TConvertedNode*>(m_node) != nullptr;
    m_sortColumn = history && column >= 0 && column < m_columns.size() ? column : -1;
    m_sortOrder = order;
    if (m_sortColumn < 0 || m_tasks.size() < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<TAVTask*> old;
    for (const QModelIndex& index : before)
        old << TaskAt(index.row());
    // the values are read once: a size may arrive while sorting
    QHash<TAVTask*, QVariant> values;
    for (TAVTask* task : m_tasks)
        values.insert(task, task->SortValue(m_sortColumn));
    std::stable_sort(m_tasks.begin(), m_tasks.end(), [&](TAVTask* a, TAVTask* b) {
        const QPartialOrdering o = QVariant::compare(values[a], values[b]);
        return order == Qt::AscendingOrder ? o == QPartialOrdering::Less : o == QPartialOrdering::Greater;
    });
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i)
        after << index(RowOf(old[i]), before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TTaskListModel::AddRows(const QList<TAVTask*>& tasks)
{
    if (tasks.isEmpty())
        return;
    beginInsertRows({}, int(m_tasks.size()), int(m_tasks.size() + tasks.size() - 1));
    for (TAVTask* task : tasks) {
        m_tasks.append(task);
        connect(task, &QObject::destroyed, this, &TTaskListModel::OnTaskDestroyed);
    }
    endInsertRows();
    if (m_sortColumn >= 0)
        sort(m_sortColumn, m_sortOrder);
}

void TTaskListModel::RemoveRow(TAVTask* task)
{
    const int row = RowOf(task);
    if (row < 0)
        return;
    disconnect(task, &QObject::destroyed, this, nullptr);
    beginRemoveRows({}, row, row);
    m_tasks.removeAt(row);
    endRemoveRows();
}

void TTaskListModel::OnTaskDestroyed(QObject* task)
{
    // the object is half gone: compare addresses only. Nodes free their
    // tasks last first, so the search starts at the end.
    for (int row = int(m_tasks.size()) - 1; row >= 0; --row)
        if (static_cast<QObject*>(m_tasks[row]) == task) {
            beginRemoveRows({}, row, row);
            m_tasks.removeAt(row);
            endRemoveRows();
            return;
        }
}

void TTaskListModel::InvalidateRow(TAVTask* task)
{
    const int row = RowOf(task);
    if (row < 0 || m_columns.isEmpty())
        return;
    ++m_rowUpdates;
    emit dataChanged(index(row, 0), index(row, int(m_columns.size()) - 1));
}

int TTaskListModel::RowOf(const TAVTask* task) const
{
    for (int row = 0; row < m_tasks.size(); ++row)
        if (m_tasks[row] == task)
            return row;
    return -1;
}

TAVTask* TTaskListModel::TaskAt(int row) const
{
    return row >= 0 && row < m_tasks.size() ? m_tasks[row] : nullptr;
}

int TTaskListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_tasks.size());
}

int TTaskListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant TTaskListModel::data(const QModelIndex& index, int role) const
{
    TAVTask* task = TaskAt(index.row());
    if (!task || index.column() >= m_columns.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return task->GetCaption(index.column());
    case Qt::DecorationRole:
        if (index.column() == 0) {
            const int image = task->GetImageIndex();
            if (image >= 0 && image < m_images.size())
                return m_images[image];
        }
        return {};
    case Qt::ToolTipRole:
        return index.column() == 0 ? QVariant(task->StatusText()) : QVariant();
    case TaskRole:
        return QVariant::fromValue(static_cast<QObject*>(task));
    default:
        return {};
    }
}

QVariant TTaskListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_columns[section].Caption;
    if (role == WidthRole)
        return m_columns[section].Width;
    return {};
}

TLogListModel::TLogListModel(QObject* parent) : QAbstractListModel(parent) {}

void TLogListModel::SetTask(TAVTask* task)
{
    disconnect(m_connection);
    if (m_task)
        disconnect(m_task, &QObject::destroyed, this, nullptr);
    m_task = task;
    if (task) {
        m_connection = connect(task, &TAVTask::LogChanged, this, &TLogListModel::Refresh);
        connect(task, &QObject::destroyed, this, [this] {
            beginResetModel();
            m_lines.clear();
            endResetModel();
        });
    }
    Refresh();
}

void TLogListModel::Refresh()
{
    beginResetModel();
    m_lines = m_task ? m_task->Log() : QStringList();
    endResetModel();
}

int TLogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant TLogListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || index.row() < 0 || index.row() >= m_lines.size())
        return {};
    return m_lines[index.row()];
}

} // namespace korvane
