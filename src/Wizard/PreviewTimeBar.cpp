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
    return {6, height() / 2 - 3, std::max(1, width() - 12), 6};
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

void TTimeBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect g = Groove();
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Mid));
    p.drawRoundedRect(g, 3, 3);
    if (m_selStart > 0 || m_selEnd > 0) {
        const int from = XAt(m_selStart);
        const int to = XAt(m_selEnd > 0 ? m_selEnd : m_duration);
        p.setBrush(palette().color(QPalette::Highlight));
        p.drawRect(QRect(QPoint(from, g.top() - 2), QPoint(std::max(from + 1, to), g.bottom() + 2)));
    }
    const int x = XAt(m_position);
    p.setBrush(palette().color(QPalette::Button));
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawRoundedRect(QRectF(x - 4.5, 1.5, 9, height() - 3), 2, 2);
}

void TTimeBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_duration > 0)
        emit SeekRequested(TimeAt(event->position().toPoint().x()));
}

void TTimeBar::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && m_duration > 0)
        emit SeekRequested(TimeAt(event->position().toPoint().x()));
}

} // namespace korvane
