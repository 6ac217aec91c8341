#include "FormDeleteTasks.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace korvane {

TFormDeleteTasks::TFormDeleteTasks(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Confirm to delete"));
    setObjectName("FormDeleteTasks");

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    // the wording, two spaces included, is the program's own
    auto* text = new QLabel(QStringLiteral("Do you want to delete  the task drastically \nwhich you selected?"), this);
    text->setObjectName("DeleteQuestion");
    text->setTextFormat(Qt::PlainText);
    m_source = new QCheckBox(QStringLiteral("Delete Source File"), this);
    m_source->setChecked(false);
    m_target = new QCheckBox(QStringLiteral("Delete Target File"), this);
    m_target->setChecked(true);
    m_yes = new QPushButton(QStringLiteral("Yes"), this);
    m_yes->setDefault(true);
    m_yes->setAutoDefault(true);
    m_no = new QPushButton(QStringLiteral("No"), this);
    m_no->setAutoDefault(false);
    connect(m_yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_no, &QPushButton::clicked, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(text, 1);
    auto* checks = new QVBoxLayout;
    checks->setContentsMargins(42, 0, 0, 0);
    checks->addWidget(m_source);
    checks->addWidget(m_target);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_yes);
    buttons->addWidget(m_no);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(checks);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool TFormDeleteTasks::Ask(QWidget* parent, bool* deleteSource, bool* deleteTarget)
{
    TFormDeleteTasks dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *deleteSource = dialog.m_source->isChecked();
    *deleteTarget = dialog.m_target->isChecked();
    return true;
}

} // namespace korvane
