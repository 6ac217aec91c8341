#pragma once

#include "preview/PreviewSample.h"

#include <QImage>
#include <QWidget>

namespace korvane {

// The picture, scaled into the widget with its display aspect kept, on black.
class TVideoView : public QWidget
{
    Q_OBJECT
public:
    explicit TVideoView(QWidget* parent = nullptr);
    void SetPicture(TFFSamplePtr picture); // nullptr clears
    TFFSamplePtr Picture() const { return m_picture; }
    // Where the picture is drawn inside the widget.
    QRect PictureRect() const;
    QSize sizeHint() const override { return {480, 270}; }

signals:
    void Clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    TFFSamplePtr m_picture;
    QImage m_image; // over m_picture's bytes
};

} // namespace korvane
