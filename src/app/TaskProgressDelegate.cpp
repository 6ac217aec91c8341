#include "TaskProgressDelegate.h"

#include "AVNodes.h"
#include "TaskListModel.h"
#include "transcode/AVConverter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QStringList>
#include <QToolTip>

namespace korvane {

namespace {

constexpr int kPercentColumn = 6;

} // namespace

TTaskProgressDelegate::TTaskProgressDelegate(TTaskListModel* model, QObject* parent)
    : QStyledItemDelegate(parent), m_model(model)
{
}

bool TTaskProgressDelegate::IsPercentColumn(int column) const
{
    return column == kPercentColumn && column < m_model->Columns().size() &&
           m_model->Columns()[column].Caption == QLatin1String("Percent");
}

void TTaskProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    if (!IsPercentColumn(index.column())) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // the selection background first, then the bar inside the cell
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const QString text = index.data(Qt::DisplayRole).toString();
    bool ok = false;
    const int percent = QString(text).remove('%').trimmed().toInt(&ok);
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = ok ? std::clamp(percent, 0, 100) : 0;
    bar.text = text;
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.palette = option.palette;
    bar.fontMetrics = option.fontMetrics;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

QString TTaskProgressDelegate::SpeedText(const TAVTask* task)
{
    if (!task || task->IsConverted() || task->Status() != TAVTask::stRunning || !task->Converter())
        return {};
    const TAVConverter* converter = task->Converter();
    const int64_t elapsed = converter->GetElapsedTime();
    const double converted = converter->ConvertedDuration();
    if (elapsed <= 0 || converted <= 0)
        return {};
    return QStringLiteral("%1x real time").arg(converted / double(elapsed), 0, 'f', 1);
}

bool TTaskProgressDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                      const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        const TAVTask* task = m_model->TaskAt(index.row());
        // the cell's text (it may be cut), the task's status with the
        // reason of a failure (first column), its speed while it runs
        QStringList lines;
        for (const QString& line : {index.data(Qt::DisplayRole).toString(), index.data(Qt::ToolTipRole).toString(),
                                    SpeedText(task)})
            if (!line.isEmpty())
                lines << line;
        const QString tip = lines.join(QLatin1Char('\n'));
        if (!tip.isEmpty()) {
            QToolTip::showText(event->globalPos(), tip, view);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

} // namespace korvane
