#include "FormStdFilter.h"

#include "AVFilter.h"
#include "FilterWidgets.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>

namespace korvane {

namespace {

QSpinBox* Unlimited(QWidget* parent)
{
    return NewNumberBox(INT_MIN, INT_MAX, 0, parent);
}

} // namespace

TFormStdFilter::TFormStdFilter(QWidget* parent)
    : QDialog(parent), m_vflip(new QCheckBox(QStringLiteral("Vertical Flip"), this)),
      m_hflip(new QCheckBox(QStringLiteral("Horizontal Flip"), this)),
      m_negate(new QCheckBox(QStringLiteral("Negate"), this)),
      m_rotate(new QCheckBox(QStringLiteral("Rotate"), this)),
      m_degrees(NewNumberBox(0, 359, 45, this)), m_drawBox(new QCheckBox(QStringLiteral("Draw Box"), this)),
      m_x(Unlimited(this)), m_y(Unlimited(this)), m_width(Unlimited(this)), m_height(Unlimited(this)),
      m_color(new TColorCombo(this))
{
    setWindowTitle(QStringLiteral("Standar Filters"));
    m_color->SetColorName(QStringLiteral("Black"));

    auto* rotateRow = new QHBoxLayout;
    rotateRow->addWidget(m_rotate);
    rotateRow->addSpacing(12);
    auto* degreesLabel = new QLabel(QStringLiteral("Degrees"), this);
    degreesLabel->setBuddy(m_degrees);
    rotateRow->addWidget(degreesLabel);
    rotateRow->addWidget(m_degrees);
    rotateRow->addStretch(1);

    auto* box = new QGroupBox(this);
    auto* boxForm = new QFormLayout(box);
    boxForm->addRow(m_drawBox);
    boxForm->addRow(QStringLiteral("X"), m_x);
    boxForm->addRow(QStringLiteral("Y"), m_y);
    boxForm->addRow(QStringLiteral("Width"), m_width);
    boxForm->addRow(QStringLiteral("Height"), m_height);
    boxForm->addRow(QStringLiteral("Color"), m_color);

    QDialogButtonBox* buttons = NewOkCancel(this, &m_ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_vflip);
    layout->addWidget(m_hflip);
    layout->addWidget(m_negate);
    layout->addLayout(rotateRow);
    layout->addWidget(box);
    layout->addStretch(1);
    layout->addWidget(buttons);

    for (QCheckBox* check : {m_vflip, m_hflip, m_negate, m_rotate, m_drawBox})
        connect(check, &QCheckBox::toggled, this, &TFormStdFilter::UpdateControls);
    UpdateControls();
}

void TFormStdFilter::LoadFrom(const TVideoStdFilter& filter)
{
    m_vflip->setChecked(filter.VerticalFilp());
    m_hflip->setChecked(filter.HorizontalFilip());
    m_negate->setChecked(filter.Negate());
    m_rotate->setChecked(filter.Rotate());
    m_degrees->setValue(filter.Degree());
    m_drawBox->setChecked(filter.DrawBox());
    m_x->setValue(filter.BX());
    m_y->setValue(filter.BY());
    m_width->setValue(filter.BWidth());
    m_height->setValue(filter.BHeight());
    m_color->SetColorName(filter.BColor());
    UpdateControls();
}

void TFormStdFilter::SaveTo(TVideoStdFilter& filter) const
{
    filter.SetVerticalFilp(m_vflip->isChecked());
    filter.SetHorizontalFilip(m_hflip->isChecked());
    filter.SetNegate(m_negate->isChecked());
    filter.SetRotate(m_rotate->isChecked());
    filter.SetDegree(m_degrees->value());
    filter.SetDrawBox(m_drawBox->isChecked());
    filter.SetBX(m_x->value());
    filter.SetBY(m_y->value());
    filter.SetBWidth(m_width->value());
    filter.SetBHeight(m_height->value());
    filter.SetBColor(m_color->ColorName());
}

void TFormStdFilter::UpdateControls()
{
    m_degrees->setEnabled(m_rotate->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{m_x, m_y, m_width, m_height, m_color})
        w->setEnabled(m_drawBox->isChecked());
    m_ok->setEnabled(m_vflip->isChecked() || m_hflip->isChecked() || m_negate->isChecked() ||
                     m_rotate->isChecked() || m_drawBox->isChecked());
}

} // namespace korvane
