#include "FormTextFilter.h"

#include "AVFilter.h"
#include "FilterWidgets.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <climits>

namespace korvane {

namespace {

// The memo's lines, each followed by CR LF: "A" gives "A\r\n". A final line
// break of the memo ends the last line; it adds no empty line.
QString LinesText(QString plain)
{
    if (plain.isEmpty())
        return plain;
    if (plain.endsWith(u'\n'))
        plain.chop(1);
    return plain.replace(u'\n', QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

// The memo text of lines each ended by a line break: the inverse of
// LinesText. The break of the last line is dropped unless that line is empty,
// so trailing blank lines survive opening and OK.
QString PlainText(QString lines)
{
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (lines.endsWith(u'\n') && !lines.endsWith(QStringLiteral("\n\n")))
        lines.chop(1);
    return lines;
}

// A few lines high at first; grows with the dialog.
class TTextMemo : public QPlainTextEdit
{
public:
    using QPlainTextEdit::QPlainTextEdit;
    QSize sizeHint() const override
    {
        return {QPlainTextEdit::sizeHint().width(), fontMetrics().lineSpacing() * 5 + 12};
    }
};

} // namespace

TFormTextFilter::TFormTextFilter(QWidget* parent)
    : QDialog(parent), m_text(new TTextMemo(this)), m_font(new TFontFileEdit(this)),
      m_fontColor(new TColorCombo(this)), m_bgColor(new TColorCombo(this)), m_x(NewNumberBox(0, INT_MAX, 0, this)),
      m_y(NewNumberBox(0, INT_MAX, 0, this)), m_fontSize(NewNumberBox(1, 72, 16, this))
{
    setWindowTitle(QStringLiteral("Overlay Text Filter"));
    m_text->setTabChangesFocus(true);
    m_fontColor->SetColorName(QStringLiteral("Yellow"));
    m_bgColor->SetColorName(QStringLiteral("Blue"));
    m_bgColor->hide();
    m_fontSize->setSingleStep(16);

    auto* position = new QHBoxLayout;
    position->addWidget(m_x);
    position->addWidget(new QLabel(QStringLiteral(","), this));
    position->addWidget(m_y);
    position->addStretch(1);

    QDialogButtonBox* buttons = NewOkCancel(this, &m_ok);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Text"), m_text);
    form->addRow(QStringLiteral("Font File"), m_font);
    form->addRow(QStringLiteral("Font Color"), m_fontColor);
    form->addRow(QStringLiteral("X,Y"), position);
    form->addRow(QStringLiteral("Font Size"), m_fontSize);
    form->addRow(buttons);

    connect(m_text, &QPlainTextEdit::textChanged, this, &TFormTextFilter::UpdateOk);
    connect(m_font, &TFontFileEdit::PathChanged, this, &TFormTextFilter::UpdateOk);
    UpdateOk();
}

void TFormTextFilter::LoadFrom(const TOverlayTextFilter& filter)
{
    m_text->setPlainText(PlainText(filter.Text()));
    m_font->SetPath(filter.FontFile());
    m_fontColor->SetColor(filter.FontColor());
    m_bgColor->SetColor(filter.BgColor());
    m_x->setValue(filter.X());
    m_y->setValue(filter.Y());
    m_fontSize->setValue(filter.FontSize());
    UpdateOk();
}

void TFormTextFilter::SaveTo(TOverlayTextFilter& filter) const
{
    filter.SetText(LinesText(m_text->toPlainText()));
    filter.SetFontFile(m_font->Path());
    filter.SetFontColor(m_fontColor->Color());
    filter.SetBgColor(m_bgColor->Color());
    filter.SetX(m_x->value());
    filter.SetY(m_y->value());
    filter.SetFontSize(m_fontSize->value());
}

void TFormTextFilter::UpdateOk()
{
    m_ok->setEnabled(!m_text->toPlainText().trimmed().isEmpty() && m_font->FileExists());
}

} // namespace korvane
