// The dialog of the logo filter: a PNG file drawn at a position.
#pragma once

#include <QDialog>

class QPushButton;
class QSpinBox;

namespace korvane {

class TFileEdit;
class TLogoFilter;

class TFormLogoFilter : public QDialog
{
    Q_OBJECT
public:
    // Starts at 0,0 with no file.
    explicit TFormLogoFilter(QWidget* parent = nullptr);

    void LoadFrom(const TLogoFilter& filter);
    void SaveTo(TLogoFilter& filter) const;

    QSpinBox* X() const { return m_x; }
    QSpinBox* Y() const { return m_y; }
    TFileEdit* File() const { return m_file; }
    QPushButton* OkButton() const { return m_ok; }

private:
    // OK only while the file exists.
    void UpdateOk();

    QSpinBox* m_x;
    QSpinBox* m_y;
    TFileEdit* m_file;
    QPushButton* m_ok;
};

} // namespace korvane
