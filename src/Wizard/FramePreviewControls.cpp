// The preview pane's controls: play and pause, seeks and steps, the marks,
// the button and label texts, and the keys.
#include "FramePreview.h"

#include "av/AVLib.h"

#include <QAudioSink>
#include <QKeyEvent>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>

namespace korvane {

void TFramePreview::Play()
{
    if (!m_player.Source())
        return;
    if (m_playing) {
        Pause();
        return;
    }
    if (m_player.Source()->EndOfStream())
        SeekTo(0); // from the start again
    Resume();
}

void TFramePreview::Pause()
{
    if (!m_playing)
        return;
    m_clockBaseUs = m_player.HasVideo() ? m_shownUs : ClockUs();
    m_playing = false;
    if (m_sink && m_sink->state() != QAudio::StoppedState)
        m_sink->suspend();
    UpdatePlayButton();
}

void TFramePreview::Resume()
{
    m_playing = true;
    m_steady.restart();
    if (!m_waitingFirst)
        StartSound();
    UpdatePlayButton();
}

void TFramePreview::SeekTo(int64_t us)
{
    if (!m_player.Source())
        return;
    StopSound();
    m_player.Seek(us);
    m_waitingFirst = m_player.HasVideo();
    m_clockBaseUs = us;
    m_steady.restart();
    m_bar->SetPosition(us);
    if (!m_waitingFirst && m_playing)
        StartSound();
}

void TFramePreview::StepForward()
{
    TFFPushSource* source = m_player.Source();
    if (!source || !m_player.HasVideo() || m_waitingFirst)
        return;
    Pause();
    StopSound();
    if (TFFSamplePtr next = source->TakeVideo())
        Show(next);
    else if (!source->EndOfStream())
        SeekTo(m_shownUs + 1); // the first picture after the shown one
    m_clockBaseUs = m_shownUs;
}

void TFramePreview::StepBack()
{
    if (!m_player.Source() || !m_player.HasVideo() || m_waitingFirst || m_shownUs <= 0)
        return;
    Pause();
    StopSound();
    m_player.Seek(m_shownUs, TSeekMode::smBefore);
    m_waitingFirst = true;
}

QIcon PaintedIcon(const QColor& colour, const std::function<void(QPainter&)>& paint)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    paint(p);
    p.end();
    return QIcon(pixmap);
}

namespace {

// A play triangle or pause bars in the button text's colour, so the sign
// reads on light and dark palettes alike.
QIcon MediaIcon(bool pause, const QColor& colour)
{
    return PaintedIcon(colour, [pause](QPainter& p) {
        if (pause) {
            p.drawRect(QRectF(8, 6, 6, 20));
            p.drawRect(QRectF(18, 6, 6, 20));
        } else {
            const QPointF triangle[] = {{9, 5}, {27, 16}, {9, 27}};
            p.drawPolygon(triangle, 3);
        }
    });
}

} // namespace

void TFramePreview::UpdatePlayButton()
{
    m_play->setIcon(MediaIcon(m_playing, palette().color(QPalette::ButtonText)));
    m_play->setToolTip(m_playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    m_play->setEnabled(m_player.Source() != nullptr || m_playing);
}

void TFramePreview::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) {
        UpdatePlayButton();
        UpdateSoundControls();
    }
    QWidget::changeEvent(event);
}

void TFramePreview::SeekBy(int64_t deltaUs)
{
    if (!m_player.Source())
        return;
    const int64_t duration = m_player.DurationUs();
    const int64_t to = std::max<int64_t>(0, PositionUs() + deltaUs);
    if (duration > 0 && to >= duration)
        SeekToEnd();
    else
        SeekTo(to);
}

void TFramePreview::SeekToEnd()
{
    if (!m_player.Source())
        return;
    if (!m_player.HasVideo()) {
        SeekTo(m_player.DurationUs());
        return;
    }
    // the last picture: the one before the end of the playing time
    Pause();
    StopSound();
    m_player.Seek(std::max<int64_t>(1, m_player.DurationUs()), TSeekMode::smBefore);
    m_waitingFirst = true;
}

void TFramePreview::keyPressEvent(QKeyEvent* event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Space: Play(); break;
    case Qt::Key_Left: shift ? SeekBy(-1000000) : StepBack(); break;
    case Qt::Key_Right: shift ? SeekBy(1000000) : StepForward(); break;
    case Qt::Key_PageUp: SeekBy(-10000000); break;
    case Qt::Key_PageDown: SeekBy(10000000); break;
    case Qt::Key_Home: SeekTo(0); break;
    case Qt::Key_End: SeekToEnd(); break;
    case Qt::Key_I: SetStart(); break;
    case Qt::Key_O: SetEnd(); break;
    case Qt::Key_BracketLeft: JumpToStart(); break;
    case Qt::Key_BracketRight: JumpToEnd(); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

} // namespace korvane
