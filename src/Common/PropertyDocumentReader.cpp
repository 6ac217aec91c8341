// Reading the property document (see PropertyDocument.h).
#include "PropertyDocument.h"
#include "PropertyDocumentKinds.h"

#include <QDomDocument>
#include <QFile>
#include <QMetaEnum>
#include <QStringList>
#include <QXmlStreamReader>

#include <optional>

namespace korvane {

using namespace propdoc;

namespace {

// Lists are filled with Count empty lines before the stored lines are set; a
// damaged or hostile count must not make the reader allocate without bound.
constexpr qsizetype kMaxListLines = 1000000;

[[noreturn]] void Fail(const QString& message)
{
    throw EPropertyDocumentError(message.toStdString());
}

// QDomDocument's own parser drops text made only of white space, which would
// turn a text property of spaces into an empty one; the tree is built here
// from the stream reader so that every text survives as written.
QDomDocument Parse(QXmlStreamReader& reader, const QString& source)
{
    reader.setNamespaceProcessing(false);
    QDomDocument doc;
    QDomElement current; // null outside the root element
    // settings nest a few levels; a damaged or hostile file must not make
    // reading take quadratic time
    constexpr int kMaxDepth = 64;
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (++depth > kMaxDepth)
                reader.raiseError(QStringLiteral("elements nested more than %1 deep").arg(kMaxDepth));
            QDomElement element = doc.createElement(reader.qualifiedName().toString());
            for (const QXmlStreamAttribute& attr : reader.attributes())
                element.setAttribute(attr.qualifiedName().toString(), attr.value().toString());
            if (current.isNull())
                doc.appendChild(element);
            else
                current.appendChild(element);
            current = element;
            break;
        }
        case QXmlStreamReader::EndElement:
            --depth;
            current = current.parentNode().toElement();
            break;
        case QXmlStreamReader::Characters:
            if (!current.isNull())
                current.appendChild(doc.createTextNode(reader.text().toString()));
            break;
        default:
            break;
        }
    }
    const QString where = source.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(source);
    if (reader.hasError())
        Fail(QStringLiteral("Invalid property document%1: %2 (line %3, column %4).")
                 .arg(where, reader.errorString())
                 .arg(reader.lineNumber())
                 .arg(reader.columnNumber()));
    if (doc.documentElement().isNull())
        Fail(QStringLiteral("Invalid property document%1: no root element.").arg(where));
    return doc;
}

QDomElement ChildElement(const QDomElement& element, const QString& name)
{
    for (QDomElement c = element.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        if (c.tagName().compare(name, Qt::CaseInsensitive) == 0)
            return c;
    }
    return {};
}

std::optional<QString> Attribute(const QDomElement& element, const QString& name)
{
    const QDomNamedNodeMap attrs = element.attributes();
    for (int i = 0; i < attrs.count(); ++i) {
        const QDomAttr attr = attrs.item(i).toAttr();
        if (attr.name().compare(name, Qt::CaseInsensitive) == 0)
            return attr.value();
    }
    return std::nullopt;
}

// Index of a list line element or attribute named "l<i>", or -1.
qsizetype LineIndex(const QString& name)
{
    if (name.size() < 2 || name[0].toLower() != QLatin1Char('l'))
        return -1;
    bool ok = false;
    const qsizetype index = name.mid(1).toLongLong(&ok, 10);
    return ok && name[1].isDigit() ? index : -1;
}

int EnumValue(const QMetaEnum& meta, const QString& text, bool* ok)
{
    for (int i = 0; i < meta.keyCount(); ++i) {
        if (text.compare(QLatin1String(meta.key(i)), Qt::CaseInsensitive) == 0) {
            *ok = true;
            return meta.value(i);
        }
    }
    // a value that has no identifier is written as its number
    // a number stands for a value without an identifier, but only one the
    // enumeration has: anything else would reach code that indexes by it
    const int v = text.toInt(ok, 10);
    if (*ok && !meta.valueToKey(v))
        *ok = false;
    return v;
}

int SetValue(const QMetaEnum& meta, const QString& text)
{
    QString inner = text.trimmed();
    if (!inner.startsWith(QLatin1Char('[')) || !inner.endsWith(QLatin1Char(']')))
        Fail(QStringLiteral("Invalid set value (%1).").arg(text));
    inner = inner.mid(1, inner.size() - 2);
    int value = 0;
    for (const QString& member : inner.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        for (int i = 0; i < meta.keyCount() && !ok; ++i) {
            if (member.trimmed().compare(QLatin1String(meta.key(i)), Qt::CaseInsensitive) == 0) {
                value |= meta.value(i);
                ok = true;
            }
        }
        if (!ok)
            Fail(QStringLiteral("Invalid set value (%1).").arg(text));
    }
    return value;
}

QDateTime ParseDateTime(const QString& text, const QMetaProperty& prop)
{
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid())
        return QDateTime(date, QTime(0, 0));
    const QTime time = QTime::fromString(text, QStringLiteral("hh:mm:ss.zzz"));
    if (time.isValid())
        return QDateTime(ZeroDate(), time);
    const QDateTime both = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"));
    if (both.isValid())
        return both;
    Fail(QStringLiteral("Error in datetime property %1").arg(QLatin1String(prop.name())));
}

class Reader
{
public:
    explicit Reader(TPropFormat format) : m_format(format) {}

    // Fills the published properties of object from element.
    void ReadObject(QObject* object, const QDomElement& element);

private:
    void ReadProperty(QObject* object, const QMetaProperty& prop, const QDomElement& element);
    void ReadSimple(QObject* object, const QMetaProperty& prop, Kind kind, const std::optional<QString>& text);
    void ReadNested(QObject* nested, const QDomElement& element);
    QStringList ReadStringList(const QDomElement& element, const QString& name);
    // A simple value by name: the child element's text ("node") or the
    // attribute ("attr"); nothing when absent.
    std::optional<QString> Value(const QDomElement& element, const QString& name) const;

    TPropFormat m_format;
};

void Reader::ReadObject(QObject* object, const QDomElement& element)
{
    const QMetaObject* meta = object->metaObject();
    for (int i = FirstPublishedProperty(); i < meta->propertyCount(); ++i)
        ReadProperty(object, meta->property(i), element);
}

void Store(QObject* object, const QMetaProperty& prop, const QVariant& value)
{
    if (!prop.write(object, value))
        Fail(QStringLiteral("Cannot set property %1.").arg(QLatin1String(prop.name())));
}

void Reader::ReadProperty(QObject* object, const QMetaProperty& prop, const QDomElement& element)
{
    const Kind kind = KindOf(prop);
    const QString name = QString::fromLatin1(prop.name());
    if (kind == Kind::Unsupported)
        return;
    if (kind == Kind::Object) {
        // an owned object is filled in place; a missing element reads as an
        // empty one, so the nested properties take their missing-value rules
        if (QObject* nested = prop.read(object).value<QObject*>())
            ReadNested(nested, ChildElement(element, name));
        return;
    }
    if (!prop.isWritable())
        return;
    if (kind == Kind::StringList)
        Store(object, prop, ReadStringList(element, name));
    else
        ReadSimple(object, prop, kind, Value(element, name));
}

void Reader::ReadSimple(QObject* object, const QMetaProperty& prop, Kind kind, const std::optional<QString>& text)
{
    if (!text) {
        QVariant declared;
        if (DeclaredDefaultOf(object, prop, &declared)) {
            Store(object, prop, declared);
            return;
        }
        switch (kind) {
        case Kind::Float:
            Store(object, prop, 0.0);
            break;
        case Kind::DateTime:
            Store(object, prop, QDateTime());
            break;
        case Kind::Text:
            Store(object, prop, QString());
            break;
        default:
            break; // integers, 64-bit integers and the rest keep their value
        }
        return;
    }
    bool ok = false;
    switch (kind) {
    case Kind::Integer: {
        const int v = text->toInt(&ok, 10);
        if (!ok)
            Fail(QStringLiteral("Invalid integer value (%1).").arg(*text));
        Store(object, prop, v);
        break;
    }
    case Kind::Char:
        Store(object, prop, text->isEmpty() ? QChar() : text->at(0));
        break;
    case Kind::Bool:
        if (*text != QLatin1String("1") && *text != QLatin1String("0"))
            Fail(QStringLiteral("Invalid boolean value (%1).").arg(*text));
        Store(object, prop, *text == QLatin1String("1"));
        break;
    case Kind::Enum: {
        const int v = EnumValue(prop.enumerator(), *text, &ok);
        if (!ok)
            Fail(QStringLiteral("Invalid enumeration value (%1).").arg(*text));
        Store(object, prop, v);
        break;
    }
    case Kind::Set:
        Store(object, prop, SetValue(prop.enumerator(), *text));
        break;
    case Kind::Float: {
        const double v = text->toDouble(&ok); // always "." whatever the locale
        Store(object, prop, ok ? v : 0.0);
        break;
    }
    case Kind::DateTime:
        Store(object, prop, ParseDateTime(*text, prop));
        break;
    case Kind::Int64: {
        const qlonglong v = text->toLongLong(&ok, 10);
        if (!ok)
            Fail(QStringLiteral("Invalid int64 value (%1).").arg(*text));
        Store(object, prop, v);
        break;
    }
    default:
        Store(object, prop, *text);
    }
}

void Reader::ReadNested(QObject* nested, const QDomElement& element)
{
    auto* collection = qobject_cast<TPersistentCollection*>(nested);
    if (!collection) {
        ReadObject(nested, element);
        return;
    }
    collection->Clear();
    for (QDomElement c = element.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        if (c.tagName().compare(QLatin1String("o"), Qt::CaseInsensitive) == 0)
            ReadObject(collection->Add(), c);
    }
}

QStringList Reader::ReadStringList(const QDomElement& element, const QString& name)
{
    const QDomElement list = ChildElement(element, name);
    qsizetype count = 0;
    if (const auto countText = Attribute(list, QStringLiteral("Count"))) {
        bool ok = false;
        count = countText->toLongLong(&ok, 10);
        if (!ok || count < 0 || count > kMaxListLines)
            Fail(QStringLiteral("Invalid line count (%1) of list %2.").arg(*countText, name));
    }
    QStringList lines(count);
    // one pass over the stored lines; lines beyond the count are ignored
    if (m_format == TPropFormat::pfAttr) {
        const QDomNamedNodeMap attrs = list.attributes();
        for (int i = 0; i < attrs.count(); ++i) {
            const QDomAttr attr = attrs.item(i).toAttr();
            const qsizetype index = LineIndex(attr.name());
            if (index >= 0 && index < count)
                lines[index] = attr.value();
        }
    } else {
        for (QDomElement c = list.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
            const qsizetype index = LineIndex(c.tagName());
            if (index >= 0 && index < count)
                lines[index] = c.text();
        }
    }
    return lines;
}

std::optional<QString> Reader::Value(const QDomElement& element, const QString& name) const
{
    if (m_format == TPropFormat::pfAttr)
        return Attribute(element, name);
    const QDomElement child = ChildElement(element, name);
    if (child.isNull())
        return std::nullopt;
    return child.text();
}

TPropFormat LayoutOf(const QDomElement& root)
{
    const QString format = Attribute(root, QStringLiteral("PropFormat")).value_or(QString());
    if (format.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
        Fail(QStringLiteral("Auto PropFormat not allowed here."));
    if (format.compare(QLatin1String("attr"), Qt::CaseInsensitive) == 0)
        return TPropFormat::pfAttr;
    return TPropFormat::pfNode;
}

void ReadDocument(QXmlStreamReader& reader, const QString& source, QObject* object)
{
    const QDomDocument doc = Parse(reader, source);
    const QDomElement root = doc.documentElement();
    const TPropFormat format = LayoutOf(root);
    const QDomElement classElement = ChildElement(root, PropertyClassName(object));
    if (classElement.isNull())
        return;
    Reader(format).ReadObject(object, classElement);
}

} // namespace

void ReadPropertyDocument(const QString& text, QObject* object)
{
    QXmlStreamReader reader(text);
    ReadDocument(reader, QString(), object);
}

void LoadPropertyDocumentFile(const QString& path, QObject* object)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("Cannot open file \"%1\": %2").arg(path, file.errorString()));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        Fail(QStringLiteral("Cannot read file \"%1\": %2").arg(path, file.errorString()));
    // from bytes, the stream reader honours a byte-order mark and the
    // declared encoding
    QXmlStreamReader reader(data);
    ReadDocument(reader, path, object);
}

} // namespace korvane
