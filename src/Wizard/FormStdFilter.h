// The dialog of the standard filters: flips, negation, rotation, a box.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QSpinBox;

namespace korvane {

class TColorCombo;
class TVideoStdFilter;

class TFormStdFilter : public QDialog
{
    Q_OBJECT
public:
    // Starts with the dialog's defaults: nothing checked, 45 degrees, a
    // black box at 0,0 of size 0 x 0.
    explicit TFormStdFilter(QWidget* parent = nullptr);

    void LoadFrom(const TVideoStdFilter& filter);
    void SaveTo(TVideoStdFilter& filter) const;

    QCheckBox* VerticalFlip() const { return m_vflip; }
    QCheckBox* HorizontalFlip() const { return m_hflip; }
    QCheckBox* Negate() const { return m_negate; }
    QCheckBox* Rotate() const { return m_rotate; }
    QSpinBox* Degrees() const { return m_degrees; }
    QCheckBox* DrawBox() const { return m_drawBox; }
    QSpinBox* BoxX() const { return m_x; }
    QSpinBox* BoxY() const { return m_y; }
    QSpinBox* BoxWidth() const { return m_width; }
    QSpinBox* BoxHeight() const { return m_height; }
    TColorCombo* BoxColor() const { return m_color; }
    QPushButton* OkButton() const { return m_ok; }

private:
    // Degrees only with Rotate, the box only with Draw Box; OK only when
    // something is checked, so the filter never gives an empty text.
    void UpdateControls();

    QCheckBox* m_vflip;
    QCheckBox* m_hflip;
    QCheckBox* m_negate;
    QCheckBox* m_rotate;
    QSpinBox* m_degrees;
    QCheckBox* m_drawBox;
    QSpinBox* m_x;
    QSpinBox* m_y;
    QSpinBox* m_width;
    QSpinBox* m_height;
    TColorCombo* m_color;
    QPushButton* m_ok;
};

} // namespace korvane
