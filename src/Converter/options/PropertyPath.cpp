#include "options/PropertyPath.h"

#include <QMetaEnum>
#include <QMetaProperty>
#include <QStringList>

namespace korvane {

namespace {

int FindProperty(const QMetaObject* meta, const QString& name)
{
    for (int i = 0; i < meta->propertyCount(); ++i)
        if (QString::fromLatin1(meta->property(i).name()).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool ParseBool(const QString& text, bool* ok)
{
    const QString t = text.trimmed().toLower();
    *ok = t == "1" || t == "0" || t == "true" || t == "false" || t == "yes" || t == "no";
    return t == "1" || t == "true" || t == "yes";
}

} // namespace

QString SetPropertyByPath(QObject* root, const QString& path, const QString& value)
{
    const QStringList parts = path.split(QLatin1Char('.'));
    QObject* target = root;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        const int index = target ? FindProperty(target->metaObject(), parts[i]) : -1;
        if (index < 0)
            return QStringLiteral("unknown property %1").arg(path);
        target = target->metaObject()->property(index).read(target).value<QObject*>();
        if (!target)
            return QStringLiteral("%1 is not an object").arg(parts.mid(0, i + 1).join('.'));
    }
    const int index = FindProperty(target->metaObject(), parts.last());
    if (index < 0)
        return QStringLiteral("unknown property %1").arg(path);
    QMetaProperty prop = target->metaObject()->property(index);
    if (!prop.isWritable())
        return QStringLiteral("%1 is read-only").arg(path);
    QVariant v;
    bool ok = true;
    if (prop.isEnumType()) {
        const QMetaEnum e = prop.enumerator();
        int n = e.keyToValue(value.toLatin1().constData(), &ok);
        if (!ok)
            n = value.toInt(&ok);
        if (ok && !e.valueToKey(n))
            ok = false;
        v = n;
    } else {
        switch (prop.metaType().id()) {
        case QMetaType::Bool: v = ParseBool(value, &ok); break;
        case QMetaType::Int: v = value.trimmed().toInt(&ok); break;
        case QMetaType::LongLong: v = value.trimmed().toLongLong(&ok); break;
        case QMetaType::Float: v = value.trimmed().toFloat(&ok); break;
        case QMetaType::Double: v = value.trimmed().toDouble(&ok); break;
        case QMetaType::QString: v = value; break;
        case QMetaType::QStringList: v = value.isEmpty() ? QStringList() : value.split(QLatin1Char('|')); break;
        default: return QStringLiteral("%1 cannot be set from text").arg(path);
        }
    }
    if (!ok)
        return QStringLiteral("invalid value '%1' for %2").arg(value, path);
    if (!prop.write(target, v))
        return QStringLiteral("invalid value '%1' for %2").arg(value, path);
    return {};
}

} // namespace korvane
