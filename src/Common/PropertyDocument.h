// The property document: the XML text form of an object's published
// properties (Q_PROPERTY, in declaration order, base classes first). It stores
// the conversion settings of every history row and the configuration file.
//
// Layout written: <data PropFormat="node"><ClassName>...</ClassName></data>,
// one child element per property, named exactly like the property. Values are
// omitted when they equal the property's declared default (see
// TPersistent::DeclaredDefault) or, for texts, numbers and times, when they
// are empty or zero. Reading matches names without regard to case and also
// accepts the older "attr" layout, in which simple values are attributes of
// the class element.
#pragma once

#include "options/Persistent.h"

#include <QString>

class QObject;

namespace korvane {

// A failure of reading or writing a property document. The text is the
// user-facing message.
class EPropertyDocumentError : public EEngineError
{
public:
    using EEngineError::EEngineError;
};

// A persistent list of items of one class. A property holding a collection is
// stored as one element with an "o" child per item.
class TPersistentCollection : public TPersistent
{
    Q_OBJECT
public:
    using TPersistent::TPersistent;
    virtual int Count() const = 0;
    virtual TPersistent* Item(int index) const = 0;
    virtual void Clear() = 0;
    // Appends a new item with its constructor values and returns it (owned
    // by the collection).
    virtual TPersistent* Add() = 0;
};

enum class TPropFormat { pfAttr, pfNode };

// The document of object as text, without XML declaration. indent < 0 gives
// one line without any added white space (the history column form).
QString WritePropertyDocument(const QObject* object, int indent = -1, TPropFormat format = TPropFormat::pfNode);

// Fills object from text. Throws EPropertyDocumentError; properties read
// before the failure stay set.
void ReadPropertyDocument(const QString& text, QObject* object);

// The indented document, UTF-8 without byte-order mark. The file is replaced
// atomically: a failed or interrupted save leaves the old file intact.
void SavePropertyDocumentFile(const QObject* object, const QString& path);
void LoadPropertyDocumentFile(const QString& path, QObject* object);

// A number as the document writes it: 15 significant digits, "." as decimal
// separator whatever the locale, plain notation for magnitudes from 0.00001
// up to 15 integer digits, otherwise scientific ("1E20", "1.5E-6").
QString FormatPropertyFloat(double value);

// The class name used as element name: the C++ class name without namespace.
QString PropertyClassName(const QObject* object);

} // namespace korvane
