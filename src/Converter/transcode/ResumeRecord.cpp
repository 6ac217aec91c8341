#include "transcode/ResumeRecord.h"

#include "options/ConvertOptions.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaProperty>
#include <QSaveFile>

namespace korvane {

namespace {

// Adds every published property of object (and of the option objects it
// holds) to hash as "path=value" lines, in declaration order.
void HashProperties(const QObject* object, const QString& prefix, QCryptographicHash& hash)
{
    const QMetaObject* meta = object->metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        const QString name = prefix + QString::fromLatin1(p.name());
        if (prefix.isEmpty() && (name == "StartTime" || name == "RecordingTime" || name == "ThreadCount"))
            continue;
        const QVariant value = p.read(object);
        if (value.metaType().flags() & QMetaType::PointerToQObject) {
            if (const QObject* child = value.value<QObject*>())
                HashProperties(child, name + '.', hash);
            continue;
        }
        QString text = value.metaType().id() == QMetaType::QStringList ? value.toStringList().join('\n')
                                                                       : value.toString();
        hash.addData((name + '=' + text + '\n').toUtf8());
    }
}

} // namespace

ResumeRecord ResumeRecord::For(const QString& source, const TAVConvertOptions& options)
{
    ResumeRecord r;
    const QFileInfo info(source);
    if (info.isFile()) {
        r.source = info.absoluteFilePath();
        r.sourceSize = info.size();
        r.sourceMtimeMs = info.lastModified().toMSecsSinceEpoch();
    }
    r.settings = SettingsDigest(options);
    r.startUs = options.m_startTime;
    r.recordingUs = options.m_recordingTime;
    return r;
}

QString ResumeRecordPath(const QString& output)
{
    const QFileInfo info(output);
    return info.absolutePath() + "/." + info.fileName() + ".korvane-resume";
}

QString SettingsDigest(const TAVConvertOptions& options)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    HashProperties(&options, QString(), hash);
    return QString::fromLatin1(hash.result().toHex());
}

bool WriteResumeRecord(const QString& output, const ResumeRecord& r, QString* error)
{
    const QJsonObject json{{"source", r.source},
                           {"size", QString::number(r.sourceSize)},
                           {"mtime", QString::number(r.sourceMtimeMs)},
                           {"settings", r.settings},
                           {"start", QString::number(r.startUs)},
                           {"recording", QString::number(r.recordingUs)}};
    QSaveFile file(ResumeRecordPath(output));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(json).toJson()) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool ReadResumeRecord(const QString& output, ResumeRecord* r)
{
    QFile file(ResumeRecordPath(output));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject json = QJsonDocument::fromJson(file.read(64 * 1024)).object();
    if (json.isEmpty())
        return false;
    r->source = json["source"].toString();
    r->sourceSize = json["size"].toString().toLongLong();
    r->sourceMtimeMs = json["mtime"].toString().toLongLong();
    r->settings = json["settings"].toString();
    r->startUs = json["start"].toString().toLongLong();
    r->recordingUs = json["recording"].toString().toLongLong();
    return !r->source.isEmpty() && !r->settings.isEmpty();
}

void RemoveResumeRecord(const QString& output)
{
    QFile::remove(ResumeRecordPath(output));
}

QString ResumeRefusal(const QString& source, const QString& output, const TAVConvertOptions& options)
{
    ResumeRecord old;
    if (!ReadResumeRecord(output, &old))
        return output + " was not left by an unfinished conversion (it has no resume record)";
    const ResumeRecord now = ResumeRecord::For(source, options);
    if (now.source.isEmpty())
        return source + " is not a file that can be checked for changes";
    if (old.source != now.source)
        return output + " was converted from another source (" + old.source + ")";
    if (old.sourceSize != now.sourceSize || old.sourceMtimeMs != now.sourceMtimeMs)
        return source + " has changed since " + output + " was started";
    if (old.settings != now.settings)
        return output + " was converted with other settings";
    if (old.startUs != now.startUs || old.recordingUs != now.recordingUs)
        return output + " was converted with another time window";
    return {};
}

} // namespace korvane
