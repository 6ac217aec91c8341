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

QPixmap DrawStatus(TStatusPicture picture, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    p.setPen(Qt::NoPen);
    switch (picture) {
    case TStatusPicture::Running: {
        QPainterPath play;
        play.moveTo(4, 2.5);
        play.lineTo(13.5, 8);
        play.lineTo(4, 13.5);
        play.closeSubpath();
        p.setBrush(QColor("#2e9e44"));
        p.drawPath(play);
        break;
    }
    case TStatusPicture::Paused:
        p.setBrush(QColor("#e08a00"));
        p.drawRoundedRect(QRectF(3.5, 2.5, 3.5, 11), 1, 1);
        p.drawRoundedRect(QRectF(9, 2.5, 3.5, 11), 1, 1);
        break;
    case TStatusPicture::Stopped:
        p.setBrush(QColor("#d0393e"));
        p.drawRoundedRect(QRectF(3, 3, 10, 10), 1.5, 1.5);
        break;
    case TStatusPicture::Finished: {
        QPen pen(QColor("#2e9e44"), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
        break;
    }
    case TStatusPicture::Failed: {
        // a warning sign: told apart from a stop by shape, not by colour alone
        QPainterPath sign;
        sign.moveTo(8, 1.5);
        sign.lineTo(15, 14.5);
        sign.lineTo(1, 14.5);
        sign.closeSubpath();
        p.setBrush(QColor("#d0393e"));
        p.drawPath(sign);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(7.1, 5.5, 1.8, 5), 0.6, 0.6);
        p.drawEllipse(QRectF(7.1, 11.3, 1.8, 1.8));
        break;
    }
    }
    return pixmap;
}

} // namespace

QIcon StatusIcon(TStatusPicture picture)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48})
        icon.addPixmap(DrawStatus(picture, size));
    return icon;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64, 128})
        icon.addPixmap(Draw(size));
    return icon;
}

} // namespace korvane
