// Small editors shared by the filter dialogs: a list of the 16 standard
// colours, a file path with a browse button, and a font chooser that lists
// the installed TrueType fonts and gives the chosen one's file.
#pragma once

#include "AVFilter.h"

#include <QComboBox>
#include <QWidget>

class QDialog;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace korvane {

// A whole number field of a filter dialog, as wide as its largest value.
QSpinBox* NewNumberBox(int minimum, int maximum, int value, QWidget* parent);

// OK and Cancel of a filter dialog, accepting and rejecting it; *ok is the
// OK button, which the dialog enables while its values are usable.
QDialogButtonBox* NewOkCancel(QDialog* dialog, QPushButton** ok);

// The standard colours by name, each with a swatch. A colour loaded from a
// filter that is not among them is shown as one more entry, so opening a
// filter and pressing OK never changes it.
class TColorCombo : public QComboBox
{
    Q_OBJECT
public:
    explicit TColorCombo(QWidget* parent = nullptr);
    // The chosen colour; black when none is chosen.
    TColor Color() const;
    // Chooses a colour; one outside the standard ones is listed as "#RRGGBB".
    void SetColor(TColor color);
    // The chosen colour's name; empty when none is chosen.
    QString ColorName() const;
    // Chooses by name (case-insensitive); an empty name chooses none, any
    // other name outside the standard ones is listed as it is.
    void SetColorName(const QString& name);

private:
    // Replaces the entry of a colour outside the standard ones.
    void SetExtra(const QString& text, TColor color);
};

// A path typed or picked with a file dialog limited to nameFilter
// ("PNG files (*.png)", several separated by ";;").
class TFileEdit : public QWidget
{
    Q_OBJECT
public:
    TFileEdit(const QString& nameFilter, QWidget* parent = nullptr);
    QString Path() const;
    void SetPath(const QString& path);
    // True when the path names an existing file.
    bool FileExists() const;
    QLineEdit* LineEdit() const { return m_edit; }
    QToolButton* BrowseButton() const { return m_browse; }

signals:
    void PathChanged(const QString& path);

private:
    void Browse();

    QString m_nameFilter;
    QLineEdit* m_edit;
    QToolButton* m_browse;
};

// A font file: an installed TrueType font chosen by name (found through
// fontconfig), or any .ttf file typed or browsed for.
class TFontFileEdit : public QWidget
{
    Q_OBJECT
public:
    explicit TFontFileEdit(QWidget* parent = nullptr);
    QString Path() const { return m_file->Path(); }
    // Shows the path and selects its font in the list when it is installed.
    void SetPath(const QString& path);
    bool FileExists() const { return m_file->FileExists(); }
    QComboBox* FontList() const { return m_fonts; }
    TFileEdit* FileEdit() const { return m_file; }

signals:
    void PathChanged(const QString& path);

private:
    void SelectFontOf(const QString& path);

    QComboBox* m_fonts;
    TFileEdit* m_file;
};

} // namespace korvane
