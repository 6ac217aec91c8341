#include "AVFilter.h"

namespace korvane {

namespace {

TAVFilter::Editor& InstalledEditor()
{
    static TAVFilter::Editor editor;
    return editor;
}

QString DoubleBackslashes(QString path)
{
    return path.replace(u'\\', QStringLiteral("\\\\"));
}

// Upper-case hexadecimal, zero-padded to width digits (0: no padding).
QString Hex(quint32 value, int width)
{
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0')).toUpper();
}

} // namespace

const QList<TNamedColor>& StandardColors()
{
    static const QList<TNamedColor> colors = {
        {"Black", 0x000000}, {"Maroon", 0x000080}, {"Green", 0x008000},  {"Olive", 0x008080},
        {"Navy", 0x800000},  {"Purple", 0x800080}, {"Teal", 0x808000},   {"Gray", 0x808080},
        {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},   {"Lime", 0x00FF00},   {"Yellow", 0x00FFFF},
        {"Blue", 0xFF0000},  {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},  {"White", 0xFFFFFF},
    };
    return colors;
}

bool ColorFromName(const QString& name, TColor* color)
{
    for (const TNamedColor& c : StandardColors()) {
        if (name.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0) {
            *color = c.color;
            return true;
        }
    }
    return false;
}

QString ColorName(TColor color)
{
    for (const TNamedColor& c : StandardColors()) {
        if (c.color == color)
            return QLatin1String(c.name);
    }
    return {};
}

quint32 ColorToRgb(TColor color)
{
    const quint32 v = quint32(color);
    return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

// --- TAVFilter -------------------------------------------------------------

void TAVFilter::SetEditor(Editor editor)
{
    InstalledEditor() = std::move(editor);
}

bool TAVFilter::HasEditor()
{
    return bool(InstalledEditor());
}

std::unique_ptr<TAVFilter> TAVFilter::Create(TFilterKind kind)
{
    switch (kind) {
    case fkStandard:
        return std::make_unique<TVideoStdFilter>();
    case fkLogo:
        return std::make_unique<TLogoFilter>();
    case fkOverlayText:
        return std::make_unique<TOverlayTextFilter>();
    case fkSubtitle:
        return std::make_unique<TSubtitleFilter>();
    }
    return nullptr;
}

bool TAVFilter::Setup()
{
    const Editor& editor = InstalledEditor();
    return editor ? editor(*this, true) : false;
}

bool TAVFilter::Edit()
{
    const Editor& editor = InstalledEditor();
    return editor ? editor(*this, false) : false;
}

void TAVFilter::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

QString JoinFilterTexts(const QList<const TAVFilter*>& filters)
{
    QStringList texts;
    for (const TAVFilter* filter : filters)
        texts << filter->GetFilterText();
    return texts.join(u',');
}

// --- the four kinds --------------------------------------------------------

QString TVideoStdFilter::GetFilterText() const
{
    QStringList elements;
    if (m_verticalFlip)
        elements << QStringLiteral("vflip");
    if (m_horizontalFlip)
        elements << QStringLiteral("hflip");
    if (m_drawBox)
        elements << QStringLiteral("drawbox=%1:%2:%3:%4:%5").arg(m_bx).arg(m_by).arg(m_bwidth).arg(m_bheight).arg(m_bcolor);
    if (m_negate)
        elements << QStringLiteral("negate");
    if (m_rotate)
        elements << QStringLiteral("rotate=%1").arg(m_degree);
    return elements.join(u',');
}

QString TVideoStdFilter::GetFilterName() const
{
    return QStringLiteral("Standar Filters");
}

QString TLogoFilter::GetFilterText() const
{
    return QStringLiteral("movie=0:png:%1 [wm];[in][wm] overlay=%2:%3:1 [out]")
        .arg(DoubleBackslashes(m_logoFile))
        .arg(m_x)
        .arg(m_y);
}

QString TLogoFilter::GetFilterName() const
{
    return QStringLiteral("Logo Filter");
}

QString TOverlayTextFilter::GetFilterText() const
{
    // Line breaks become the two characters "\n". A bare LF or CR is taken as
    // a line break too: a raw one would split the stored description.
    QString text = m_text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
    text.replace(u'\n', QStringLiteral("\\n"));
    text.replace(u'\r', QStringLiteral("\\n"));
    // Each argument is placed by hand: QString::arg would also expand "%1"
    // written inside the user's text.
    return QStringLiteral("drawtext=fontfile=\\'") + DoubleBackslashes(m_fontFile) + QStringLiteral("\\'#text='") +
           text + QStringLiteral("'#x=") + QString::number(m_x) + QStringLiteral("#y=") + QString::number(m_y) +
           QStringLiteral("#fontsize=") + QString::number(m_fontSize) + QStringLiteral("#fgcolor=0x") +
           Hex(ColorToRgb(m_fontColor), 6) + QStringLiteral("FF#bgcolor=0x") + Hex(ColorToRgb(m_bgColor), 6) +
           QStringLiteral("00");
}

QString TOverlayTextFilter::GetFilterName() const
{
    return QStringLiteral("Overlay Text Filter");
}

QString TSubtitleFilter::GetFilterText() const
{
    QString text = QStringLiteral("ass=filename$") + DoubleBackslashes(m_subtitleFile) + QStringLiteral("#font$") +
                   DoubleBackslashes(m_fontFile) + QStringLiteral("#color$0x") + Hex(ColorToRgb(m_fontColor), 0) +
                   QStringLiteral("00");
    if (!m_codePage.isEmpty())
        text += QStringLiteral("#codepage$") + m_codePage;
    return text;
}

QString TSubtitleFilter::GetFilterName() const
{
    return QStringLiteral("Hard Subtitle Filter");
}

const QStringList& TSubtitleFilter::CodePages()
{
    static const QStringList pages = {
        "ISO-2022-JP", "ISO-2022-JP-1", "ISO-2022-JP-2", "ISO-8859-1",  "ISO-8859-2",  "ISO-8859-3",
        "ISO-8859-4",  "ISO-8859-5",    "ISO-8859-6",    "ISO-8859-7",  "ISO-8859-8",  "ISO-8859-9",
        "ISO-8859-10", "ISO-8859-13",   "ISO-8859-14",   "ISO-8859-15", "ISO-8859-16", "KOI8-R",
        "KOI8-U",      "KOI8-RU",       "cp1250",        "cp1251",      "cp1252",      "cp1253",
        "cp1254",      "cp1255",        "cp1256",        "cp1257",      "cp850",       "cp862",
        "cp866",       "cp932",         "cp1131",        "EUC-JP",      "SHIFT_JIS",   "EUC-CN",
        "HZ",          "GBK",           "CP936",         "GB18030",     "EUC-TW",      "BIG5",
        "CP950",       "BIG5-HKSCS",    "ISO-2022-CN",   "ISO-2022-CN-EXT", "EUC-KR", "CP949",
        "ISO-2022-KR", "JOHAB",         "VISCII",        "TCVN",        "CP1258",      "UTF-8",
        "UCS-2",       "UCS-2BE",       "UCS-2LE",       "UCS-4",       "UCS-4BE",     "UCS-4LE",
        "UTF-16",      "UTF-16BE",      "UTF-16LE",      "UTF-32",      "UTF-32BE",    "UTF-32LE",
        "UTF-7",
    };
    return pages;
}

} // namespace korvane
