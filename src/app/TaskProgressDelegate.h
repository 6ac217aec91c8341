// Draws the "Percent" cell of a running task as a progress bar with the
// cell's text on it, and gives each task row a tooltip with the speed of
// the conversion as a multiple of real time.
#pragma once

#include <QStyledItemDelegate>

namespace korvane {

class TAVTask;
class TTaskListModel;

class TTaskProgressDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    TTaskProgressDelegate(TTaskListModel* model, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // "2.4x real time" for a running task with figures; empty otherwise.
    static QString SpeedText(const TAVTask* task);

private:
    bool IsPercentColumn(int column) const;

    TTaskListModel* m_model;
};

} // namespace korvane
