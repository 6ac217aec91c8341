#include "FormLogoFilter.h"

#include "AVFilter.h"
#include "FilterWidgets.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <climits>

namespace korvane {

TFormLogoFilter::TFormLogoFilter(QWidget* parent)
    : QDialog(parent), m_x(NewNumberBox(INT_MIN, INT_MAX, 0, this)), m_y(NewNumberBox(INT_MIN, INT_MAX, 0, this)),
      m_file(new TFileEdit(QStringLiteral("PNG files (*.png)"), this))
{
    setWindowTitle(QStringLiteral("Logo Filter"));
    QDialogButtonBox* buttons = NewOkCancel(this, &m_ok);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("File"), m_file);
    form->addRow(QStringLiteral("X"), m_x);
    form->addRow(QStringLiteral("Y"), m_y);
    form->addRow(buttons);

    connect(m_file, &TFileEdit::PathChanged, this, &TFormLogoFilter::UpdateOk);
    UpdateOk();
}

void TFormLogoFilter::LoadFrom(const TLogoFilter& filter)
{
    m_x->setValue(filter.X());
    m_y->setValue(filter.Y());
    m_file->SetPath(filter.LogoFile());
    UpdateOk();
}

void TFormLogoFilter::SaveTo(TLogoFilter& filter) const
{
    filter.SetX(m_x->value());
    filter.SetY(m_y->value());
    filter.SetLogoFile(m_file->Path());
}

void TFormLogoFilter::UpdateOk()
{
    m_ok->setEnabled(m_file->FileExists());
}

} // namespace korvane
