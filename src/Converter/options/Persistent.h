// Base of every object whose published properties are copied with Assign and
// streamed by name (property document, configuration, profile store).
#pragma once

#include <QObject>
#include <QVariant>
#include <initializer_list>
#include <stdexcept>

namespace korvane {

// Failure raised when an engine step cannot go on. The text is the
// user-facing message, shown as is.
class EEngineError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TPersistent : public QObject
{
    Q_OBJECT
public:
    explicit TPersistent(QObject* parent = nullptr) : QObject(parent) {}

    // Copies Source into this object through the setters. A source of
    // another class raises "Cannot assign a <source> to a <target>".
    virtual void Assign(const TPersistent* source);

    // The value a property is declared to default to; the property document
    // leaves out a property whose value equals it. Most properties have none.
    virtual bool DeclaredDefault(const char* property, QVariant* value) const;

protected:
    [[noreturn]] void AssignError(const TPersistent* source) const;
    // Copies every published property of source (same class) through the
    // setters, in declaration order, skipping the names in except.
    void CopyPublishedProperties(const TPersistent* source, std::initializer_list<const char*> except = {});
    // True when source is of exactly this object's class.
    bool SameClass(const TPersistent* source) const;
};

} // namespace korvane
