// The dialog of the burnt-in subtitle filter.
#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

namespace korvane {

class TColorCombo;
class TFileEdit;
class TFontFileEdit;
class TSubtitleFilter;

class TFormSubtitleFilter : public QDialog
{
    Q_OBJECT
public:
    // Starts with no files, yellow, and no code page.
    explicit TFormSubtitleFilter(QWidget* parent = nullptr);

    void LoadFrom(const TSubtitleFilter& filter);
    void SaveTo(TSubtitleFilter& filter) const;

    TFileEdit* File() const { return m_file; }
    TFontFileEdit* FontFile() const { return m_font; }
    TColorCombo* FontColor() const { return m_fontColor; }
    // Editable: a suggested code page or any text.
    QComboBox* CodePage() const { return m_codePage; }
    QPushButton* OkButton() const { return m_ok; }

private:
    // OK only while both the subtitle file and the font file exist.
    void UpdateOk();

    TFileEdit* m_file;
    TFontFileEdit* m_font;
    TColorCombo* m_fontColor;
    QComboBox* m_codePage;
    QPushButton* m_ok;
};

} // namespace korvane
