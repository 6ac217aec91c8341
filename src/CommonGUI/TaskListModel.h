// The task list and the log list as item models. The task list shows the
// tasks of the shown node with that node's columns; cell texts and images
// come from the tasks. The log list shows the log of one task and follows it
// while it runs. Neither owns a task: a task that goes away loses its row.
#pragma once

#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QIcon>
#include <QPointer>
#include <QStringList>

namespace korvane {

class TAVTask;
class TNodeObject;

struct TTaskColumn
{
    QString Caption;
    int Width = 100;
};

class TTaskListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int TaskRole = Qt::UserRole + 1; // the TAVTask*
    static constexpr int WidthRole = Qt::UserRole + 2; // header: the column width

    explicit TTaskListModel(QObject* parent = nullptr);

    // Removes every row and column and sets the columns of node.
    void Reset(TNodeObject* node, const QList<TTaskColumn>& columns);
    // The node whose tasks are listed (the last Reset).
    TNodeObject* Node() const { return m_node; }
    const QList<TTaskColumn>& Columns() const { return m_columns; }

    void AddRow(TAVTask* task);
    // Many rows in one insertion (a category's whole history).
    void AddRows(const QList<TAVTask*>& tasks);
    void RemoveRow(TAVTask* task);
    // Cells of the task's row are computed again.
    void InvalidateRow(TAVTask* task);
    int RowOf(const TAVTask* task) const;
    TAVTask* TaskAt(int row) const;
    int Count() const { return int(m_tasks.size()); }
    // Counts dataChanged for rows, for the rate measurements.
    int RowUpdates() const { return m_rowUpdates; }

    // Images by status (0 running, 1 paused, 2 stopped, 3 finished, 4
    // failed); column 0 only. Column 0's tooltip is the status.
    void SetImages(const QList<QIcon>& images) { m_images = images; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Orders the rows by a column's values (-1: as added). Rows added later
    // take their place in that order; without one, a history row (a task
    // that has just completed) goes on top, as the newest.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int SortColumn() const { return m_sortColumn; }

private:
    void OnTaskDestroyed(QObject* task);

    TNodeObject* m_node = nullptr;
    QList<TTaskColumn> m_columns;
    QList<TAVTask*> m_tasks;
    QList<QIcon> m_images;
    int m_rowUpdates = 0;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool Before(TAVTask* a, TAVTask* b) const;
};

// The log of one task, one line per row; follows the task's LogChanged.
// A task that is freed leaves the list empty.
class TLogListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit TLogListModel(QObject* parent = nullptr);

    void SetTask(TAVTask* task);
    TAVTask* Task() const { return m_task.data(); }
    QStringList Lines() const { return m_lines; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void Refresh();

    QPointer<TAVTask> m_task;
    QStringList m_lines;
    QMetaObject::Connection m_connection;
};

} // namespace korvane
