// Internal to the property document: how a published property is stored.
#pragma once

#include <QDateTime>
#include <QMetaProperty>
#include <QVariant>

namespace korvane::propdoc {

enum class Kind {
    Unsupported, // skipped on writing and reading
    Integer,     // 32-bit
    Char,
    Bool,
    Enum,
    Set,
    Float,
    DateTime,
    Int64,
    Text,
    StringList,
    Object, // a nested object, possibly a collection
};

Kind KindOf(const QMetaProperty& prop);

// The first property index after QObject's own (objectName).
int FirstPublishedProperty();

// The declared default of a property of object, when it has one.
bool DeclaredDefaultOf(const QObject* object, const QMetaProperty& prop, QVariant* value);

// Day zero of stored date/time values (1899-12-30): a value on that day is a
// time alone, written without date.
QDate ZeroDate();

// Texts that XML 1.0 cannot carry (control characters other than tab, line
// feed and carriage return; unpaired surrogates; U+FFFE/U+FFFF) would make the
// whole document unreadable; they are replaced by U+FFFD.
QString XmlSafe(const QString& text);

} // namespace korvane::propdoc
