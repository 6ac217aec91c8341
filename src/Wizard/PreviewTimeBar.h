#pragma once

#include <QWidget>
#include <cstdint>

namespace korvane {

// The whole playing time as a bar: the marked range, the position as a
// handle, and the start and end marks as handles below the groove. A click
// or a drag on the bar asks for a seek; a drag of a mark's handle moves
// that mark.
class TTimeBar : public QWidget
{
    Q_OBJECT
public:
    enum TMark { mkNone = -1, mkStart = 0, mkEnd = 1 };

    explicit TTimeBar(QWidget* parent = nullptr);
    void SetDuration(int64_t us);
    void SetPosition(int64_t us);
    // end 0: no end marked (the range runs to the end, where its handle waits)
    void SetSelection(int64_t startUs, int64_t endUs);
    int64_t Duration() const { return m_duration; }
    int64_t Position() const { return m_position; }
    int64_t SelStart() const { return m_selStart; }
    int64_t SelEnd() const { return m_selEnd; }
    int64_t TimeAt(int x) const;
    int XAt(int64_t us) const;
    // The mark whose handle is at p, if any.
    TMark MarkAt(QPoint p) const;
    // Where a mark's handle is drawn.
    QRect MarkHandle(TMark mark) const;
    QSize sizeHint() const override { return {300, 32}; }
    QSize minimumSizeHint() const override { return {60, 32}; }

signals:
    void SeekRequested(int64_t us);
    void MarkDragged(int mark, int64_t us);
    void MarkReleased(int mark);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRect Groove() const;
    int64_t m_duration = 0, m_position = 0, m_selStart = 0, m_selEnd = 0;
    TMark m_dragging = mkNone;
};

} // namespace korvane
