#include "PreviewTimeBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace korvane {

TTimeBar::TTimeBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void TTimeBar::SetDuration(int64_t us)
{
    m_duration = std::max<int64_t>(0, us);
    update();
}

void TTimeBar::SetPosition(int64_t us)
{
    if (us == m_position)
        return;
    m_position = us;
    update();
}

void TTimeBar::SetSelection(int64_t startUs, int64_t endUs)
{
    m_selStart = startUs;
    m_selEnd = endUs;
    update();
}

QRect TTimeBar::Groove() const
{
    // the position handle spans the upper 18 pixels, the marks' handles
    // hang below the groove
    return {6, 6, std::max(1, width() - 12), 6};
}

int64_t TTimeBar::TimeAt(int x) const
{
    const QRect g = Groove();
    if (m_duration <= 0)
        return 0;
    const double f = std::clamp(double(x - g.left()) / double(g.width()), 0.0, 1.0);
    return int64_t(f * double(m_duration));
}

int TTimeBar::XAt(int64_t us) const
{
    const QRect g = Groove();
    if (m_duration <= 0)
        return g.left();
    const double f = std::clamp(double(us) / double(m_duration), 0.0, 1.0);
    return g.left() + int(f * g.width() + 0.5);
}

QRect TTimeBar::MarkHandle(TMark mark) const
{
    // a bracket below the groove: the start's opens to the right of its
    // time, the end's to the left
    const QRect g = Groove();
    const int top = g.bottom() + 3;
    if (mark == mkStart)
        return {XAt(m_selStart) - 1, top, 11, height() - top};
    const int x = XAt(m_selEnd > 0 ? m_selEnd : m_duration);
    return {x - 10, top, 11, height() - top};
}

TTimeBar::TMark TTimeBar::MarkAt(QPoint p) const
{
    if (m_duration <= 0)
        return mkNone;
    // a little wider than drawn, so the handles are easy to take
    const QRect start = MarkHandle(mkStart).adjusted(-3, -3, 3, 0);
    const QRect end = MarkHandle(mkEnd).adjusted(-3, -3, 3, 0);
    if (end.contains(p))
        return mkEnd;
    if (start.contains(p))
        return mkStart;
    return mkNone;
}

void TTimeBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect g = Groove();
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Mid));
    p.drawRoundedRect(g, 3, 3);
    const QColor highlight = palette().color(QPalette::Highlight);
    if (m_selStart > 0 || m_selEnd > 0) {
        const int from = XAt(m_selStart);
        const int to = XAt(m_selEnd > 0 ? m_selEnd : m_duration);
        p.setBrush(highlight);
        p.drawRect(QRect(QPoint(from, g.top() - 2), QPoint(std::max(from + 1, to), g.bottom() + 2)));
    }
    if (m_duration > 0) {
        // the marks: a bracket opening right at the start, one opening left
        // at the end; faint while the mark is not set
        for (TMark mark : {mkStart, mkEnd}) {
            const bool set = mark == mkStart ? m_selStart > 0 : m_selEnd > 0;
            const QRect r = MarkHandle(mark);
            QColor c = set ? highlight : palette().color(QPalette::WindowText);
            if (!set)
                c.setAlphaF(0.45);
            p.setBrush(c);
            // the stem at the mark's time, from the groove down, and a foot
            const double stem = mark == mkStart ? r.left() : r.right() - 2;
            const double toe = mark == mkStart ? r.right() + 1 : r.left();
            p.drawRect(QRectF(stem, g.top() - 2, 3, r.bottom() + 1 - (g.top() - 2)));
            const QPointF foot[] = {{stem + (mark == mkStart ? 0 : 3), double(r.bottom() - 8)},
                                    {toe, double(r.bottom() + 1)},
                                    {stem + (mark == mkStart ? 0 : 3), double(r.bottom() + 1)}};
            p.drawPolygon(foot, 3);
        }
    }
    const int x = XAt(m_position);
    p.setBrush(palette().color(QPalette::Button));
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawRoundedRect(QRectF(x - 4.5, 0.5, 9, g.bottom() + 5), 2, 2);
}

void TTimeBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_duration <= 0)
        return;
    const QPoint at = event->position().toPoint();
    m_dragging = MarkAt(at);
    if (m_dragging != mkNone)
        emit MarkDragged(m_dragging, TimeAt(at.x()));
    else
        emit SeekRequested(TimeAt(at.x()));
}

void TTimeBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || m_duration <= 0)
        return;
    const int x = event->position().toPoint().x();
    if (m_dragging != mkNone)
        emit MarkDragged(m_dragging, TimeAt(x));
    else
        emit SeekRequested(TimeAt(x));
}

void TTimeBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragging != mkNone) {
        const TMark mark = m_dragging;
        m_dragging = mkNone;
        emit MarkReleased(mark);
    }
}

} // namespace korvane
