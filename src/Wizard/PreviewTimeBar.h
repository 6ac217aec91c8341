#pragma once

#include <QWidget>
#include <cstdint>

namespace korvane {

// The whole playing time as a bar: the marked range, and the position as a
// handle. A click or a drag asks for a seek.
class TTimeBar : public QWidget
{
    Q_OBJECT
public:
    explicit TTimeBar(QWidget* parent = nullptr);
    void SetDuration(int64_t us);
    void SetPosition(int64_t us);
    // end 0: no end marked (the range runs to the end)
    void SetSelection(int64_t startUs, int64_t endUs);
    int64_t Duration() const { return m_duration; }
    int64_t Position() const { return m_position; }
    int64_t SelStart() const { return m_selStart; }
    int64_t SelEnd() const { return m_selEnd; }
    int64_t TimeAt(int x) const;
    int XAt(int64_t us) const;
    QSize sizeHint() const override { return {300, 20}; }
    QSize minimumSizeHint() const override { return {60, 20}; }

signals:
    void SeekRequested(int64_t us);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QRect Groove() const;
    int64_t m_duration = 0, m_position = 0, m_selStart = 0, m_selEnd = 0;
};

} // namespace korvane
