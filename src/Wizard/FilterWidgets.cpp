#include "FilterWidgets.h"

#include "FontFiles.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace korvane {

namespace {

QIcon Swatch(TColor color)
{
    const quint32 rgb = ColorToRgb(color);
    QPixmap pixmap(16, 16);
    pixmap.fill(QColor::fromRgb(rgb));
    QPainter painter(&pixmap);
    painter.setPen(Qt::darkGray);
    painter.drawRect(0, 0, 15, 15);
    return QIcon(pixmap);
}

} // namespace

QSpinBox* NewNumberBox(int minimum, int maximum, int value, QWidget* parent)
{
    auto* spin = new QSpinBox(parent);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return spin;
}

QDialogButtonBox* NewOkCancel(QDialog* dialog, QPushButton** ok)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    *ok = buttons->button(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// --- TColorCombo -----------------------------------------------------------

TColorCombo::TColorCombo(QWidget* parent) : QComboBox(parent)
{
    for (const TNamedColor& c : StandardColors())
        addItem(Swatch(c.color), QString::fromLatin1(c.name), c.color);
}

TColor TColorCombo::Color() const
{
    return currentIndex() < 0 ? 0 : currentData().toInt();
}

void TColorCombo::SetColor(TColor color)
{
    const int index = findData(color);
    if (index >= 0 && index < StandardColors().size())
        setCurrentIndex(index);
    else
        SetExtra(QStringLiteral("#%1").arg(ColorToRgb(color), 6, 16, QLatin1Char('0')).toUpper(), color);
}

QString TColorCombo::ColorName() const
{
    return currentIndex() < 0 ? QString() : currentText();
}

void TColorCombo::SetColorName(const QString& name)
{
    TColor color = 0;
    if (ColorFromName(name.trimmed(), &color))
        SetColor(color);
    else if (name.isEmpty())
        setCurrentIndex(-1);
    else {
        // a name only the filter engine knows; Qt knows most of them for the swatch
        const QColor known(name.trimmed());
        SetExtra(name, known.isValid() ? TColor((known.blue() << 16) | (known.green() << 8) | known.red()) : 0);
    }
}

void TColorCombo::SetExtra(const QString& text, TColor color)
{
    const int standard = int(StandardColors().size());
    while (count() > standard)
        removeItem(standard);
    addItem(Swatch(color), text, color);
    setCurrentIndex(standard);
}

// --- TFileEdit -------------------------------------------------------------

TFileEdit::TFileEdit(const QString& nameFilter, QWidget* parent)
    : QWidget(parent), m_nameFilter(nameFilter), m_edit(new QLineEdit(this)), m_browse(new QToolButton(this))
{
    m_browse->setText(QStringLiteral("..."));
    m_browse->setToolTip(tr("Browse"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_browse);
    m_edit->setMinimumWidth(360);
    connect(m_edit, &QLineEdit::textChanged, this, &TFileEdit::PathChanged);
    connect(m_browse, &QToolButton::clicked, this, &TFileEdit::Browse);
}

QString TFileEdit::Path() const
{
    return m_edit->text();
}

void TFileEdit::SetPath(const QString& path)
{
    m_edit->setText(path);
}

bool TFileEdit::FileExists() const
{
    const QString path = Path();
    return !path.isEmpty() && QFileInfo(path).isFile();
}

void TFileEdit::Browse()
{
    const QString start = Path().isEmpty() ? QString() : QFileInfo(Path()).absolutePath();
    const QString chosen = QFileDialog::getOpenFileName(this, QString(), start, m_nameFilter);
    if (!chosen.isEmpty())
        SetPath(chosen);
}

// --- TFontFileEdit ---------------------------------------------------------

TFontFileEdit::TFontFileEdit(QWidget* parent)
    : QWidget(parent), m_fonts(new QComboBox(this)),
      m_file(new TFileEdit(QStringLiteral("Font File(*.ttf)"), this))
{
    for (const TFontFace& face : InstalledFontFaces())
        m_fonts->addItem(face.Caption(), face.file);
    m_fonts->setCurrentIndex(-1);
    m_fonts->setPlaceholderText(tr("Choose an installed font"));
    m_fonts->setMaxVisibleItems(20);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_fonts);
    layout->addWidget(m_file);
    connect(m_fonts, &QComboBox::activated, this, [this](int index) {
        if (index >= 0)
            m_file->SetPath(m_fonts->itemData(index).toString());
    });
    connect(m_file, &TFileEdit::PathChanged, this, [this](const QString& path) {
        SelectFontOf(path);
        emit PathChanged(path);
    });
}

void TFontFileEdit::SetPath(const QString& path)
{
    m_file->SetPath(path);
    SelectFontOf(path);
}

void TFontFileEdit::SelectFontOf(const QString& path)
{
    const QSignalBlocker block(m_fonts);
    m_fonts->setCurrentIndex(path.isEmpty() ? -1 : m_fonts->findData(path));
}

} // namespace korvane
