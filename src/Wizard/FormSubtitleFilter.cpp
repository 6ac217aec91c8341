#include "FormSubtitleFilter.h"

#include "AVFilter.h"
#include "FilterWidgets.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace korvane {

TFormSubtitleFilter::TFormSubtitleFilter(QWidget* parent)
    : QDialog(parent),
      m_file(new TFileEdit(QStringLiteral("SSA Files(*.ssa);;ASS Files(*.ass);;SRT Files(*.srt);;"
                                          "Other Subtitle Files(*.txt)"),
                           this)),
      m_font(new TFontFileEdit(this)), m_fontColor(new TColorCombo(this)), m_codePage(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Subtitle Filter"));
    m_fontColor->SetColorName(QStringLiteral("Yellow"));
    m_codePage->setEditable(true);
    m_codePage->setInsertPolicy(QComboBox::NoInsert);
    m_codePage->addItems(TSubtitleFilter::CodePages());
    m_codePage->setMaxVisibleItems(20);
    m_codePage->setCurrentIndex(-1);
    m_codePage->setEditText(QString());

    QDialogButtonBox* buttons = NewOkCancel(this, &m_ok);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("File"), m_file);
    form->addRow(QStringLiteral("Font File"), m_font);
    form->addRow(QStringLiteral("Font Color"), m_fontColor);
    form->addRow(QStringLiteral("Code Page"), m_codePage);
    form->addRow(buttons);

    connect(m_file, &TFileEdit::PathChanged, this, &TFormSubtitleFilter::UpdateOk);
    connect(m_font, &TFontFileEdit::PathChanged, this, &TFormSubtitleFilter::UpdateOk);
    UpdateOk();
}

void TFormSubtitleFilter::LoadFrom(const TSubtitleFilter& filter)
{
    m_file->SetPath(filter.SubtitleFile());
    m_font->SetPath(filter.FontFile());
    m_fontColor->SetColor(filter.FontColor());
    m_codePage->setCurrentIndex(m_codePage->findText(filter.CodePage()));
    m_codePage->setEditText(filter.CodePage());
    UpdateOk();
}

void TFormSubtitleFilter::SaveTo(TSubtitleFilter& filter) const
{
    filter.SetSubtitleFile(m_file->Path());
    filter.SetFontFile(m_font->Path());
    filter.SetFontColor(m_fontColor->Color());
    filter.SetCodePage(m_codePage->currentText().trimmed());
}

void TFormSubtitleFilter::UpdateOk()
{
    m_ok->setEnabled(m_file->FileExists() && m_font->FileExists());
}

} // namespace korvane
