#include "AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace korvane {

namespace {

QPixmap Draw(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient bg(0, 10, 0, 54);
    bg.setColorAt(0, QColor("#3d8fd8"));
    bg.setColorAt(1, QColor("#1f5c9e"));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(4, 10, 56, 44), 7, 7);
    p.setBrush(QColor(255, 255, 255, 153));
    for (const QPointF& hole : {QPointF(8, 14), QPointF(8, 46), QPointF(52, 14), QPointF(52, 46)})
        p.drawRect(QRectF(hole, QSizeF(4, 4)));
    QPainterPath play;
    play.moveTo(19, 22);
    play.lineTo(31, 32);
    play.lineTo(19, 42);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
    QPainterPath arrow;
    arrow.moveTo(33, 27);
    arrow.lineTo(42, 27);
    arrow.lineTo(42, 22);
    arrow.lineTo(50, 32);
    arrow.lineTo(42, 42);
    arrow.lineTo(42, 37);
    arrow.lineTo(33, 37);
    arrow.closeSubpath();
    p.setBrush(QColor("#ffd34d"));
    p.drawPath(arrow);
    return pixmap;
}

} // namespace

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64, 128})
        icon.addPixmap(Draw(size));
    return icon;
}

} // namespace korvane
