#include "PreviewVideoView.h"

#include <QPainter>

namespace korvane {

TVideoView::TVideoView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TVideoView::SetPicture(TFFSamplePtr picture)
{
    m_picture = std::move(picture);
    if (m_picture)
        m_image = QImage(m_picture->data.get(), m_picture->width, m_picture->height, m_picture->width * 4,
                         QImage::Format_RGB32);
    else
        m_image = QImage();
    update();
}

QRect TVideoView::PictureRect() const
{
    if (m_image.isNull())
        return {};
    double aspect = double(m_image.width()) / double(m_image.height());
    if (m_picture->pixelAspect.num > 0 && m_picture->pixelAspect.den > 0)
        aspect *= av_q2d(m_picture->pixelAspect);
    int w = width(), h = int(double(w) / aspect + 0.5);
    if (h > height()) {
        h = height();
        w = int(double(h) * aspect + 0.5);
    }
    return {(width() - w) / 2, (height() - h) / 2, w, h};
}

void TVideoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(PictureRect(), m_image);
}

void TVideoView::mousePressEvent(QMouseEvent* event)
{
    emit Clicked();
    QWidget::mousePressEvent(event);
}

} // namespace korvane
