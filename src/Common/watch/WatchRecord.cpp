#include "WatchRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace korvane {

TWatchRecord::TWatchRecord(QString file) : m_file(std::move(file)) {}

QString TWatchRecord::DefaultFile()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state)) state = QDir::homePath() + "/.local/state";
    return state + "/korvane/watch.json";
}

QString TWatchRecord::Load()
{
    m_entries.clear();
    QFile f(m_file);
    if (!f.exists()) return {};
    if (!f.open(QIODevice::ReadOnly)) return m_file + ": cannot be read (" + f.errorString() + ")";
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parseError);
    f.close();
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        const QString aside = m_file + ".damaged";
        QFile::remove(aside);
        QFile::rename(m_file, aside);
        return m_file + " is damaged (" + parseError.errorString() + "); it was moved to " + aside +
               " and the record starts empty";
    }
    for (const QJsonValue& v : doc.object().value("files").toArray()) {
        const QJsonObject o = v.toObject();
        TWatchEntry e;
        e.Source = o.value("source").toString();
        e.Target = o.value("target").toString();
        e.Size = qint64(o.value("size").toDouble(-1));
        e.ModifiedMs = qint64(o.value("modified_ms").toDouble());
        e.Result = o.value("result").toString();
        e.Error = o.value("error").toString();
        e.When = QDateTime::fromString(o.value("when").toString(), Qt::ISODateWithMs);
        if (!e.Source.isEmpty()) m_entries.insert(Key(e.Source, e.Target), e);
    }
    return {};
}

const TWatchEntry* TWatchRecord::Find(const QString& source, const QString& target) const
{
    const auto it = m_entries.constFind(Key(source, target));
    return it == m_entries.constEnd() ? nullptr : &it.value();
}

bool TWatchRecord::Put(const TWatchEntry& entry, QString* error)
{
    m_entries.insert(Key(entry.Source, entry.Target), entry);
    return Save(error);
}

bool TWatchRecord::Save(QString* error) const
{
    QJsonArray files;
    for (const TWatchEntry& e : m_entries) {
        QJsonObject o{{"source", e.Source},
                      {"target", e.Target},
                      {"size", double(e.Size)},
                      {"modified_ms", double(e.ModifiedMs)},
                      {"result", e.Result}};
        if (!e.Error.isEmpty()) o.insert("error", e.Error);
        if (e.When.isValid()) o.insert("when", e.When.toString(Qt::ISODateWithMs));
        files.append(o);
    }
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    QSaveFile f(m_file);
    const QByteArray text = QJsonDocument(QJsonObject{{"files", files}}).toJson(QJsonDocument::Indented);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit()) {
        if (error) *error = m_file + ": cannot be written (" + f.errorString() + ")";
        return false;
    }
    return true;
}

} // namespace korvane
