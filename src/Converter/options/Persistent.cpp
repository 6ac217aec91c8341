#include "options/Persistent.h"

#include <QMetaProperty>

namespace korvane {

void TPersistent::Assign(const TPersistent* source)
{
    AssignError(source);
}

bool TPersistent::DeclaredDefault(const char*, QVariant*) const
{
    return false;
}

void TPersistent::AssignError(const TPersistent* source) const
{
    const QString from = source ? QString::fromLatin1(source->metaObject()->className()) : QStringLiteral("nil");
    throw EEngineError(QStringLiteral("Cannot assign a %1 to a %2")
                           .arg(from, QString::fromLatin1(metaObject()->className()))
                           .toStdString());
}

} // namespace korvane

namespace korvane {

bool TPersistent::SameClass(const TPersistent* source) const
{
    return source && source->metaObject() == metaObject();
}

void TPersistent::CopyPublishedProperties(const TPersistent* source, std::initializer_list<const char*> except)
{
    const QMetaObject* meta = metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
        const QMetaProperty prop = meta->property(i);
        bool skipped = false;
        for (const char* name : except)
            skipped = skipped || qstrcmp(prop.name(), name) == 0;
        if (!skipped)
            prop.write(this, prop.read(source));
    }
}

} // namespace korvane
