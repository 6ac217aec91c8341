#include "SettingsSummary.h"

#include "ConversionSettings.h"

#include <QMetaEnum>
#include <QMetaProperty>
#include <vector>

namespace korvane {

namespace {

// A single pass over the document as the writer lays it out: root, class
// element, one element per property. Anything else (comments, CDATA,
// processing instructions, an unknown entity) gives up, and the full reader
// takes over.
class TScanner
{
public:
    explicit TScanner(const QString& text) : m_text(text), m_pos(0) {}

    enum TToken { tOpen, tClose, tEmpty, tText, tEnd, tBad };

    TToken Next()
    {
        if (m_pos >= m_text.size())
            return tEnd;
        if (m_text[m_pos] != u'<') {
            const qsizetype end = m_text.indexOf(u'<', m_pos);
            m_value = QStringView(m_text).mid(m_pos, (end < 0 ? m_text.size() : end) - m_pos);
            m_pos = end < 0 ? m_text.size() : end;
            return tText;
        }
        const qsizetype close = m_text.indexOf(u'>', m_pos);
        if (close < 0 || m_pos + 1 >= m_text.size())
            return tBad;
        const QChar first = m_text[m_pos + 1];
        if (first == u'!' || first == u'?') {
            // an XML declaration is harmless; comments and CDATA are not ours
            if (first == u'?' && QStringView(m_text).mid(m_pos, 5) == u"<?xml") {
                m_pos = close + 1;
                return Next();
            }
            return tBad;
        }
        const bool closing = first == u'/';
        const bool empty = !closing && m_text[close - 1] == u'/';
        const qsizetype nameStart = m_pos + (closing ? 2 : 1);
        qsizetype nameEnd = nameStart;
        while (nameEnd < close && !m_text[nameEnd].isSpace() && m_text[nameEnd] != u'/')
            ++nameEnd;
        m_name = QStringView(m_text).mid(nameStart, nameEnd - nameStart);
        m_tag = QStringView(m_text).mid(m_pos, close + 1 - m_pos);
        m_pos = close + 1;
        return closing ? tClose : empty ? tEmpty : tOpen;
    }

    QStringView Name() const { return m_name; }
    QStringView Tag() const { return m_tag; }
    QStringView Value() const { return m_value; }

private:
    const QString& m_text;
    qsizetype m_pos;
    QStringView m_name, m_tag, m_value;
};

// Element text with the entities of the writer resolved; false on anything
// else.
bool Unescape(QStringView text, QString* out)
{
    out->clear();
    if (text.contains(u'\r'))
        return false; // line-end normalisation is the full reader's business
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            out->append(text[i]);
            continue;
        }
        const qsizetype semi = text.indexOf(u';', i);
        if (semi < 0)
            return false;
        const QStringView entity = text.mid(i + 1, semi - i - 1);
        if (entity == u"amp")
            out->append(u'&');
        else if (entity == u"lt")
            out->append(u'<');
        else if (entity == u"gt")
            out->append(u'>');
        else if (entity == u"quot")
            out->append(u'"');
        else if (entity == u"apos")
            out->append(u'\'');
        else if (entity.startsWith(u'#')) {
            bool ok = false;
            const uint code = entity.startsWith(u"#x") ? entity.mid(2).toUInt(&ok, 16) : entity.mid(1).toUInt(&ok);
            if (!ok || code == 0 || code > 0x10FFFF)
                return false;
            const char32_t c = code;
            out->append(QString::fromUcs4(&c, 1));
        } else
            return false;
        i = semi;
    }
    return true;
}

// The simple properties of the settings class by name, looked up once.
struct TPropertyTable
{
    std::vector<std::pair<QLatin1String, QMetaProperty>> entries;
    TPropertyTable()
    {
        const QMetaObject& meta = TConversionSettings::staticMetaObject;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
            const QMetaProperty p = meta.property(i);
            if (QLatin1String(p.name()) != QLatin1String("ConvertOptions"))
                entries.emplace_back(QLatin1String(p.name()), p);
        }
    }
    // Null when the name is no simple property (without regard to case).
    const QMetaProperty* Find(QStringView name) const
    {
        for (const auto& [n, p] : entries)
            if (name.size() == n.size() && name.compare(n, Qt::CaseInsensitive) == 0)
                return &p;
        return nullptr;
    }
};

bool SetSimple(TConversionSettings* s, const QMetaProperty& p, const QString& text)
{
    if (p.isEnumType()) {
        bool ok = false;
        const int value = p.enumerator().keyToValue(text.trimmed().toLatin1().constData(), &ok);
        return ok && p.write(s, value);
    }
    bool ok = true;
    switch (p.metaType().id()) {
    case QMetaType::QString:
        return p.write(s, text);
    case QMetaType::Int: {
        const int value = text.trimmed().toInt(&ok);
        return ok && p.write(s, value);
    }
    case QMetaType::LongLong: {
        const qlonglong value = text.trimmed().toLongLong(&ok);
        return ok && p.write(s, value);
    }
    case QMetaType::Double: {
        const double value = text.trimmed().toDouble(&ok); // "." whatever the locale
        return p.write(s, ok ? value : 0.0);
    }
    default:
        return false;
    }
}

} // namespace

bool ReadSettingsSummary(const QString& document, TConversionSettings* settings)
{
    TScanner scan(document);
    TScanner::TToken token;
    while ((token = scan.Next()) == TScanner::tText)
        if (!scan.Value().trimmed().isEmpty())
            return false;
    if (token != TScanner::tOpen)
        return false;
    // the root: only the "node" layout is read here
    const QStringView root = scan.Tag();
    const qsizetype format = root.indexOf(u"PropFormat", 0, Qt::CaseInsensitive);
    if (format >= 0) {
        const QStringView rest = root.mid(format + 10);
        if (!rest.trimmed().startsWith(u'=') || !rest.contains(u"node", Qt::CaseInsensitive) ||
            rest.contains(u"nodes", Qt::CaseInsensitive))
            return false;
    }
    static const TPropertyTable table;
    int depth = 1;           // inside the root
    bool inClass = false;    // inside the first TConversionSettings element
    const QMetaProperty* property = nullptr; // the property element open at depth 3
    QString text, value;
    while ((token = scan.Next()) != TScanner::tEnd) {
        switch (token) {
        case TScanner::tBad:
            return false;
        case TScanner::tText:
            if (inClass && depth == 3 && property)
                text += scan.Value();
            break;
        case TScanner::tEmpty:
            if (inClass && depth == 2) {
                const QMetaProperty* p = table.Find(scan.Name());
                if (p && p->metaType().id() == QMetaType::QString)
                    p->write(settings, QString());
            }
            break;
        case TScanner::tOpen:
            ++depth;
            if (depth == 2 && scan.Name().compare(u"TConversionSettings", Qt::CaseInsensitive) == 0)
                inClass = true;
            if (inClass && depth == 3) {
                property = table.Find(scan.Name());
                text.clear();
            }
            break;
        case TScanner::tClose:
            if (inClass && depth == 3 && property) {
                if (!Unescape(text, &value) || !SetSimple(settings, *property, value))
                    return false;
                property = nullptr;
            }
            if (inClass && depth == 2)
                return true; // the first class element is the one that counts
            if (--depth == 0)
                return true;
            break;
        default:
            break;
        }
    }
    return depth == 0;
}

} // namespace korvane
