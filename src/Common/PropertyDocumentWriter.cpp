// Writing the property document (see PropertyDocument.h).
#include "PropertyDocument.h"
#include "PropertyDocumentKinds.h"

#include <QDomDocument>
#include <QMetaEnum>
#include <QSaveFile>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <optional>

namespace korvane {
namespace propdoc {

Kind KindOf(const QMetaProperty& prop)
{
    if (prop.isFlagType())
        return Kind::Set;
    if (prop.isEnumType())
        return Kind::Enum;
    const QMetaType type = prop.metaType();
    if (type.flags() & QMetaType::PointerToQObject)
        return Kind::Object;
    switch (type.id()) {
    case QMetaType::Int:
        return Kind::Integer;
    case QMetaType::QChar:
        return Kind::Char;
    case QMetaType::Bool:
        return Kind::Bool;
    case QMetaType::Float:
    case QMetaType::Double:
        return Kind::Float;
    case QMetaType::QDateTime:
        return Kind::DateTime;
    case QMetaType::LongLong:
        return Kind::Int64;
    case QMetaType::QString:
        return Kind::Text;
    case QMetaType::QStringList:
        return Kind::StringList;
    default:
        return Kind::Unsupported;
    }
}

int FirstPublishedProperty()
{
    return QObject::staticMetaObject.propertyCount();
}

bool DeclaredDefaultOf(const QObject* object, const QMetaProperty& prop, QVariant* value)
{
    const auto* persistent = qobject_cast<const TPersistent*>(object);
    return persistent && persistent->DeclaredDefault(prop.name(), value);
}

QDate ZeroDate()
{
    return QDate(1899, 12, 30);
}

static bool IsXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

QString XmlSafe(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else if (c.isSurrogate() || !IsXmlChar(c.unicode())) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace propdoc

using namespace propdoc;

QString FormatPropertyFloat(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0)
        return QStringLiteral("0");
    // to_chars never looks at the locale: "d.dddddddddddddde[+-]xx"
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    const std::string sci(buf, res.ptr);
    const bool negative = sci[0] == '-';
    const std::size_t start = negative ? 1 : 0;
    const std::size_t ePos = sci.find('e');
    std::string digits = sci.substr(start, 1) + sci.substr(start + 2, ePos - start - 2);
    const int exponent = std::stoi(sci.substr(ePos + 1));
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= -5 && exponent < 15) {
        if (exponent < 0) {
            out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
        } else {
            const std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= intDigits)
                out += digits + std::string(intDigits - digits.size(), '0');
            else
                out += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
        }
    } else {
        out += digits.substr(0, 1);
        if (digits.size() > 1)
            out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
    }
    return QString::fromStdString(out);
}

QString PropertyClassName(const QObject* object)
{
    const QString name = QString::fromLatin1(object->metaObject()->className());
    const qsizetype sep = name.lastIndexOf(QLatin1String("::"));
    return sep < 0 ? name : name.mid(sep + 2);
}

namespace {

QString DateTimeText(const QDateTime& value)
{
    const QTime time = value.time();
    if (value.date() == ZeroDate())
        return time.toString(QStringLiteral("hh:mm:ss.zzz"));
    if (time == QTime(0, 0))
        return value.date().toString(QStringLiteral("yyyy-MM-dd"));
    return value.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"));
}

QString SetText(const QMetaEnum& meta, int value)
{
    QStringList members;
    for (int i = 0; i < meta.keyCount(); ++i) {
        const int bit = meta.value(i);
        if (bit != 0 && (value & bit) == bit)
            members << QString::fromLatin1(meta.key(i));
    }
    return QLatin1Char('[') + members.join(QLatin1Char(',')) + QLatin1Char(']');
}

class Writer
{
public:
    Writer(QDomDocument& doc, TPropFormat format) : m_doc(doc), m_format(format) {}

    // Writes the published properties of object into element.
    void WriteObject(const QObject* object, QDomElement& element);

private:
    void WriteProperty(const QObject* object, const QMetaProperty& prop, QDomElement& element);
    // The text of a simple value, or nothing when the value is left out.
    std::optional<QString> SimpleText(const QObject* object, const QMetaProperty& prop, Kind kind);
    void WriteNested(const QObject* nested, const QString& name, QDomElement& element);
    void WriteStringList(const QStringList& list, const QString& name, QDomElement& element);
    // A simple value: a child element with text ("node") or an attribute ("attr").
    void PutValue(QDomElement& element, const QString& name, const QString& text);

    QDomDocument& m_doc;
    TPropFormat m_format;
};

bool IsEmptyElement(const QDomElement& element)
{
    return !element.hasChildNodes() && element.attributes().count() == 0;
}

void Writer::WriteObject(const QObject* object, QDomElement& element)
{
    const QMetaObject* meta = object->metaObject();
    for (int i = FirstPublishedProperty(); i < meta->propertyCount(); ++i)
        WriteProperty(object, meta->property(i), element);
}

void Writer::WriteProperty(const QObject* object, const QMetaProperty& prop, QDomElement& element)
{
    const QString name = QString::fromLatin1(prop.name());
    const Kind kind = KindOf(prop);
    switch (kind) {
    case Kind::Unsupported:
        return;
    case Kind::Object:
        WriteNested(prop.read(object).value<QObject*>(), name, element);
        return;
    case Kind::StringList:
        WriteStringList(prop.read(object).toStringList(), name, element);
        return;
    default:
        if (const auto text = SimpleText(object, prop, kind))
            PutValue(element, name, *text);
    }
}

std::optional<QString> Writer::SimpleText(const QObject* object, const QMetaProperty& prop, Kind kind)
{
    const QVariant value = prop.read(object);
    QVariant declared;
    const bool hasDefault = DeclaredDefaultOf(object, prop, &declared);
    switch (kind) {
    case Kind::Integer:
        if (hasDefault && value.toInt() == declared.toInt())
            return std::nullopt;
        return QString::number(value.toInt());
    case Kind::Char: {
        const QChar c = value.toChar();
        if (hasDefault && c == declared.toChar())
            return std::nullopt;
        return c.isNull() ? QString() : QString(c);
    }
    case Kind::Bool:
        if (hasDefault && value.toBool() == declared.toBool())
            return std::nullopt;
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case Kind::Enum: {
        const int v = value.toInt();
        if (hasDefault && v == declared.toInt())
            return std::nullopt;
        const char* key = prop.enumerator().valueToKey(v);
        return key ? QString::fromLatin1(key) : QString::number(v);
    }
    case Kind::Set:
        if (hasDefault && value.toInt() == declared.toInt())
            return std::nullopt;
        return SetText(prop.enumerator(), value.toInt());
    case Kind::Float:
        if (value.toDouble() == 0)
            return std::nullopt;
        return FormatPropertyFloat(value.toDouble());
    case Kind::DateTime: {
        const QDateTime dt = value.toDateTime();
        if (!dt.isValid() || (dt.date() == ZeroDate() && dt.time() == QTime(0, 0)))
            return std::nullopt;
        return DateTimeText(dt);
    }
    case Kind::Int64:
        if (value.toLongLong() == 0)
            return std::nullopt;
        return QString::number(value.toLongLong());
    case Kind::Text:
        if (value.toString().isEmpty())
            return std::nullopt;
        return value.toString();
    default:
        return std::nullopt;
    }
}

void Writer::WriteNested(const QObject* nested, const QString& name, QDomElement& element)
{
    if (!nested)
        return;
    QDomElement child = m_doc.createElement(name);
    if (const auto* collection = qobject_cast<const TPersistentCollection*>(nested)) {
        for (int i = 0; i < collection->Count(); ++i) {
            QDomElement item = m_doc.createElement(QStringLiteral("o"));
            WriteObject(collection->Item(i), item);
            child.appendChild(item);
        }
    } else {
        WriteObject(nested, child);
    }
    if (!IsEmptyElement(child))
        element.appendChild(child);
}

void Writer::WriteStringList(const QStringList& list, const QString& name, QDomElement& element)
{
    // written even when empty: the count tells the reader how many lines to make
    QDomElement child = m_doc.createElement(name);
    child.setAttribute(QStringLiteral("Count"), QString::number(list.size()));
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!list[i].isEmpty())
            PutValue(child, QStringLiteral("l") + QString::number(i), list[i]);
    }
    element.appendChild(child);
}

void Writer::PutValue(QDomElement& element, const QString& name, const QString& text)
{
    if (m_format == TPropFormat::pfAttr) {
        element.setAttribute(name, XmlSafe(text));
        return;
    }
    QDomElement child = m_doc.createElement(name);
    if (!text.isEmpty())
        child.appendChild(m_doc.createTextNode(XmlSafe(text)));
    element.appendChild(child);
}

QDomDocument BuildDocument(const QObject* object, TPropFormat format)
{
    QDomDocument doc;
    QDomElement root = doc.createElement(QStringLiteral("data"));
    root.setAttribute(QStringLiteral("PropFormat"),
                      format == TPropFormat::pfAttr ? QStringLiteral("attr") : QStringLiteral("node"));
    doc.appendChild(root);
    QDomElement classElement = doc.createElement(PropertyClassName(object));
    Writer(doc, format).WriteObject(object, classElement);
    if (!IsEmptyElement(classElement))
        root.appendChild(classElement);
    return doc;
}

} // namespace

QString WritePropertyDocument(const QObject* object, int indent, TPropFormat format)
{
    return BuildDocument(object, format).toString(indent);
}

void SavePropertyDocumentFile(const QObject* object, const QString& path)
{
    const QByteArray data = WritePropertyDocument(object, 2).toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw EPropertyDocumentError(
            QStringLiteral("Cannot create file \"%1\": %2").arg(path, file.errorString()).toStdString());
    if (file.write(data) != data.size() || !file.commit())
        throw EPropertyDocumentError(
            QStringLiteral("Cannot write file \"%1\": %2").arg(path, file.errorString()).toStdString());
}

} // namespace korvane
