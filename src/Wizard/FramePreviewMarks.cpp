// The preview pane's marks and times: setting and dragging the marks, the
// range they give, and the texts of times, marks and the selection.
#include "FramePreview.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <cmath>

namespace korvane {

QString TFramePreview::TimeAndFrame(int64_t us) const
{
    // the picture number at the average rate: exact for a constant rate
    const double rate = m_player.Source() ? m_player.Source()->FrameRate() : 0;
    const QString time = PreviewTimeText(us);
    if (rate <= 0 || !m_player.HasVideo())
        return time;
    return QStringLiteral("%1 #%2").arg(time).arg(std::llround(double(us) * rate / 1e6));
}

int64_t TFramePreview::ShownPictureEndUs() const
{
    const TFFSamplePtr shown = m_view->Picture();
    if (!m_player.HasVideo() || !shown)
        return PositionUs();
    // The picture's own duration, but never past the next picture: a
    // conversion at a constant rate fills a longer gap with the next
    // picture, which then is no longer the last one converted.
    int64_t end = shown->startUs + std::max<int64_t>(1, shown->durationUs);
    end = std::min(end, std::max(shown->stopUs, shown->startUs + 1));
    if (TFFPushSource* source = m_player.Source(); source && !m_waitingFirst) {
        const int64_t next = source->NextVideoUs();
        if (next > shown->startUs)
            end = std::min(end, next);
    }
    return end;
}

void TFramePreview::SetStart()
{
    if (!m_player.Source())
        return;
    m_startMark = PositionUs();
    if (m_endMark > 0 && m_endMark < m_startMark)
        m_endMark = m_endWindowUs = 0; // an end before the start marks nothing
    UpdateMarks();
}

void TFramePreview::SetEnd()
{
    if (!m_player.Source())
        return;
    m_endMark = PositionUs();
    m_endWindowUs = ShownPictureEndUs();
    if (m_endMark < m_startMark)
        m_startMark = 0; // a start after the end marks nothing
    if (m_endMark <= 0)
        m_endWindowUs = 0; // the first picture cannot end a range: nothing is marked
    UpdateMarks();
}

void TFramePreview::JumpToStart()
{
    if (m_player.Source())
        SeekTo(m_startMark);
}

void TFramePreview::JumpToEnd()
{
    if (m_player.Source() && m_endMark > 0)
        SeekTo(m_endMark);
}

void TFramePreview::MarkDragged(int mark, int64_t us)
{
    if (!m_player.Source())
        return;
    Pause();
    m_followMark = mark;
    m_followReleased = false;
    SeekTo(us);
    if (!m_player.HasVideo())
        mark == TTimeBar::mkStart ? SetStart() : SetEnd(); // sound alone: the time itself
}

void TFramePreview::UpdateMarks()
{
    // the same form whether a mark is set or not
    m_startLabel->setText(QStringLiteral("Start[%1]").arg(TimeAndFrame(m_startMark)));
    m_endLabel->setText(QStringLiteral("End[%1]").arg(TimeAndFrame(m_endMark)));
    m_bar->SetSelection(m_startMark, m_endMark);
    UpdatePositionText();
}

void TFramePreview::UpdatePositionText()
{
    const bool open = m_player.Source() != nullptr;
    m_positionLabel->setText(QStringLiteral("Position: %1 Duration: %2")
                                 .arg(TimeAndFrame(PositionUs()), PreviewTimeText(m_player.DurationUs())));
    // what a conversion of the marked range covers
    const int64_t end = m_endMark > 0 ? m_endWindowUs : m_player.DurationUs();
    const bool marked = m_startMark > 0 || m_endMark > 0;
    m_selectionLabel->setText(QStringLiteral("Selection: %1").arg(PreviewTimeText(std::max<int64_t>(0, end - m_startMark))));
    m_selectionLabel->setVisible(marked && (open || m_endMark > 0));
    m_play->setEnabled(open);
    m_setStart->setEnabled(open);
    m_setEnd->setEnabled(open);
}

} // namespace korvane
