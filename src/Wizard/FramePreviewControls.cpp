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

void TFramePreview::SetStart()
{
    if (!m_player.Source())
        return;
    m_startMark = PositionUs();
    if (m_endMark > 0 && m_endMark <= m_startMark)
        m_endMark = 0; // an end before the start marks nothing
    UpdateMarks();
}

void TFramePreview::SetEnd()
{
    if (!m_player.Source())
        return;
    m_endMark = PositionUs();
    if (m_endMark <= m_startMark)
        m_startMark = 0; // a start after the end marks nothing
    UpdateMarks();
}

void TFramePreview::UpdateMarks()
{
    auto mark = [](int64_t us) {
        return us > 0 ? TimeText(us / 1000000) : QStringLiteral("00:00:00");
    };
    m_startLabel->setText(QStringLiteral("Start[%1]").arg(mark(m_startMark)));
    m_endLabel->setText(QStringLiteral("End[%1]").arg(mark(m_endMark)));
    m_startLabel->setToolTip(QString::number(double(m_startMark) / 1e6, 'f', 3) + QStringLiteral(" s"));
    m_endLabel->setToolTip(QString::number(double(m_endMark) / 1e6, 'f', 3) + QStringLiteral(" s"));
    m_bar->SetSelection(m_startMark, m_endMark);
}

namespace {

// A play triangle or pause bars in the button text's colour, so the sign
// reads on light and dark palettes alike.
QIcon MediaIcon(bool pause, const QColor& colour)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    if (pause) {
        p.drawRect(QRectF(8, 6, 6, 20));
        p.drawRect(QRectF(18, 6, 6, 20));
    } else {
        const QPointF triangle[] = {{9, 5}, {27, 16}, {9, 27}};
        p.drawPolygon(triangle, 3);
    }
    return QIcon(pixmap);
}

} // namespace

void TFramePreview::UpdatePlayButton()
{
    m_play->setIcon(MediaIcon(m_playing, palette().color(QPalette::ButtonText)));
    m_play->setToolTip(m_playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    m_play->setEnabled(m_player.Source() != nullptr || m_playing);
}

void TFramePreview::UpdatePositionText()
{
    m_positionLabel->setText(QStringLiteral("Position: %1 Duration: %2")
                                 .arg(PreviewTimeText(PositionUs()), PreviewTimeText(m_player.DurationUs())));
    m_play->setEnabled(m_player.Source() != nullptr);
    m_setStart->setEnabled(m_player.Source() != nullptr);
    m_setEnd->setEnabled(m_player.Source() != nullptr);
}

void TFramePreview::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        UpdatePlayButton();
    QWidget::changeEvent(event);
}

void TFramePreview::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space: Play(); break;
    case Qt::Key_Left: StepBack(); break;
    case Qt::Key_Right: StepForward(); break;
    case Qt::Key_I: SetStart(); break;
    case Qt::Key_O: SetEnd(); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

} // namespace korvane
