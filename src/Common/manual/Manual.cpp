// Rendering of a manual page as --help text and as roff.
#include "Manual.h"

#include <QRegularExpression>

namespace korvane::manual {

namespace {

// "OPTIONS OF CONVERT" -> "Options of convert"
QString HelpTitle(const QString& title)
{
    QString t = title.toLower();
    if (!t.isEmpty()) t[0] = t[0].toUpper();
    return t;
}

// Words of text in lines of at most width columns, each starting with indent
// spaces (the first with first instead when given).
QString Wrap(const QString& text, int width, int indent, int firstIndent = -1)
{
    const QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    QString out;
    QString line(firstIndent >= 0 ? firstIndent : indent, u' ');
    bool empty = true;
    for (const QString& w : words) {
        if (!empty && line.size() + 1 + w.size() > width) {
            out += line + u'\n';
            line = QString(indent, u' ');
            empty = true;
        }
        line += (empty ? QString() : QStringLiteral(" ")) + w;
        empty = false;
    }
    return out + line + u'\n';
}

constexpr int kTermColumn = 28;

QString HelpItem(const Item& item, int width)
{
    const QString term = QStringLiteral("  ") + item.Term;
    if (item.Text.isEmpty()) return term + u'\n';
    if (term.size() + 2 <= kTermColumn)
        return Wrap(item.Text, width, kTermColumn, kTermColumn).replace(0, term.size(), term);
    return term + u'\n' + Wrap(item.Text, width, kTermColumn);
}

// roff text: backslashes escaped, option dashes as minus signs, and a line
// that would start with a control character protected.
QString RoffText(QString text)
{
    text.replace(u'\\', QStringLiteral("\\e"));
    static const QRegularExpression optionDash(QStringLiteral(R"((^|[\s(\[|"'=,/])-)"));
    QString out;
    // "-" starting a word (an option, a negative number) is a minus sign
    qsizetype last = 0;
    auto it = optionDash.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        const qsizetype dash = m.capturedEnd(0) - 1;
        out += text.mid(last, dash - last) + QStringLiteral("\\-");
        last = dash + 1;
    }
    out += text.mid(last);
    // a second dash of "--" directly follows the first
    out.replace(QStringLiteral("\\--"), QStringLiteral("\\-\\-"));
    if (out.startsWith(u'.') || out.startsWith(u'\'')) out.prepend(QStringLiteral("\\&"));
    return out;
}

// Every dash a minus sign: for terms and example lines.
QString RoffLiteral(QString text)
{
    text.replace(u'\\', QStringLiteral("\\e")).replace(u'-', QStringLiteral("\\-"));
    if (text.startsWith(u'.') || text.startsWith(u'\'')) text.prepend(QStringLiteral("\\&"));
    return text;
}

// One word of a term: options and command names bold, UPPER-CASE
// placeholders in italics, brackets, commas and "..." plain.
QString RoffWord(const QString& word)
{
    static const QRegularExpression parts(
        QStringLiteral(R"(^([\[(]*)(.*?)((?:\.\.\.)?[\])]*(?:\.\.\.)?,?)$)"));
    const auto m = parts.match(word);
    const QString core = m.captured(2);
    QString styled;
    if (core.isEmpty()) {
        styled = QString();
    } else if (core.startsWith(u'-')) {
        const qsizetype eq = core.indexOf(u'=');
        styled = eq < 0 ? QStringLiteral("\\fB") + RoffLiteral(core) + QStringLiteral("\\fR")
                        : QStringLiteral("\\fB") + RoffLiteral(core.left(eq + 1)) + QStringLiteral("\\fI") +
                              RoffLiteral(core.mid(eq + 1)) + QStringLiteral("\\fR");
    } else if (core == core.toUpper() && core.contains(QRegularExpression(QStringLiteral("[A-Z]")))) {
        styled = QStringLiteral("\\fI") + RoffLiteral(core) + QStringLiteral("\\fR");
    } else if (core.contains(QRegularExpression(QStringLiteral("^[a-z][a-z-]*$")))) {
        styled = QStringLiteral("\\fB") + RoffLiteral(core) + QStringLiteral("\\fR");
    } else {
        styled = RoffLiteral(core);
    }
    return RoffLiteral(m.captured(1)) + styled + RoffLiteral(m.captured(3));
}

QString RoffTerm(const QString& term)
{
    QStringList words;
    for (const QString& w : term.split(u' ', Qt::SkipEmptyParts))
        words << RoffWord(w);
    return words.join(u' ');
}

QString RoffSection(const Section& s)
{
    QString out = QStringLiteral(".SH \"") + s.Title + QStringLiteral("\"\n");
    for (const QString& p : s.Paragraphs)
        out += QStringLiteral(".PP\n") + RoffText(p) + u'\n';
    for (const Item& item : s.Items) {
        out += QStringLiteral(".TP\n") + RoffTerm(item.Term) + u'\n';
        out += item.Text.isEmpty() ? QStringLiteral(".br\n") : RoffText(item.Text) + u'\n';
    }
    if (!s.Example.isEmpty()) {
        out += QStringLiteral(".PP\n.RS 4\n.nf\n");
        for (const QString& line : s.Example)
            out += (line.isEmpty() ? QStringLiteral("\\&") : RoffLiteral(line)) + u'\n';
        out += QStringLiteral(".fi\n.RE\n");
    }
    for (const QString& p : s.After)
        out += QStringLiteral(".PP\n") + RoffText(p) + u'\n';
    return out;
}

} // namespace

QString HelpText(const Page& page, int width)
{
    QString out;
    for (int i = 0; i < page.Synopsis.size(); ++i)
        out += (i == 0 ? QStringLiteral("Usage: ") : QStringLiteral("       ")) + page.Name + u' ' +
               page.Synopsis[i] + u'\n';
    for (const Section& s : page.Sections) {
        if (!s.InHelp) continue;
        out += u'\n' + HelpTitle(s.Title) + QStringLiteral(":\n");
        for (int i = 0; i < s.Paragraphs.size(); ++i)
            out += (i > 0 ? QStringLiteral("\n") : QString()) + Wrap(s.Paragraphs[i], width, 2);
        for (const Item& item : s.Items)
            out += HelpItem(item, width);
        for (const QString& line : s.Example)
            out += QStringLiteral("    ") + line + u'\n';
        for (const QString& p : s.After)
            out += u'\n' + Wrap(p, width, 2);
    }
    return out;
}

QString RoffPage(const Page& page, const QString& version)
{
    QString out = QStringLiteral(".\\\" Made from the program's own manual text; do not edit.\n");
    out += QStringLiteral(".TH \"%1\" 1 \"\" \"Korvane %2\" \"User Commands\"\n")
               .arg(page.Name.toUpper(), version);
    out += QStringLiteral(".SH NAME\n") + RoffLiteral(page.Name) + QStringLiteral(" \\- ") +
           RoffText(page.Summary) + u'\n';
    out += QStringLiteral(".SH SYNOPSIS\n");
    for (int i = 0; i < page.Synopsis.size(); ++i)
        out += (i == 0 ? QString() : QStringLiteral(".br\n")) + QStringLiteral("\\fB") +
               RoffLiteral(page.Name) + QStringLiteral("\\fR ") + RoffTerm(page.Synopsis[i]) + u'\n';
    for (const Section& s : page.Sections)
        if (!s.HelpOnly) out += RoffSection(s);
    return out;
}

} // namespace korvane::manual
