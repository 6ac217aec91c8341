// The dialog of the overlay text filter.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace korvane {

class TColorCombo;
class TFontFileEdit;
class TOverlayTextFilter;

class TFormTextFilter : public QDialog
{
    Q_OBJECT
public:
    // Starts with no text and no font, yellow on a blue background, at 0,0,
    // 16 points.
    explicit TFormTextFilter(QWidget* parent = nullptr);

    void LoadFrom(const TOverlayTextFilter& filter);
    void SaveTo(TOverlayTextFilter& filter) const;

    QPlainTextEdit* Text() const { return m_text; }
    TFontFileEdit* FontFile() const { return m_font; }
    TColorCombo* FontColor() const { return m_fontColor; }
    // Never shown: the background stays at its default.
    TColorCombo* BackgroundColor() const { return m_bgColor; }
    QSpinBox* X() const { return m_x; }
    QSpinBox* Y() const { return m_y; }
    QSpinBox* FontSize() const { return m_fontSize; }
    QPushButton* OkButton() const { return m_ok; }

private:
    // OK only with some text besides blanks and an existing font file.
    void UpdateOk();

    QPlainTextEdit* m_text;
    TFontFileEdit* m_font;
    TColorCombo* m_fontColor;
    TColorCombo* m_bgColor;
    QSpinBox* m_x;
    QSpinBox* m_y;
    QSpinBox* m_fontSize;
    QPushButton* m_ok;
};

} // namespace korvane
