// What the watch folders converted, kept across runs: one entry per source
// file and output folder with the file's size and modification time when it
// was taken, and the result. A file is taken again only when its size or
// modification time differ from its entry, so a restart never converts a
// file twice and a file that failed is retried only once it changed.
//
// The file is JSON in $XDG_STATE_HOME (default ~/.local/state) +
// "/korvane/watch.json", written whole and atomically after every change.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

namespace korvane {

struct TWatchEntry
{
    QString Source;        // absolute path of the source file
    QString Target;        // the output file the conversion writes
    qint64 Size = -1;      // bytes of the source when it was taken
    qint64 ModifiedMs = 0; // the source's modification time, ms since the epoch
    // "converting" from the moment the conversion starts (so a run cut short
    // is recognised on the next start), then "completed", "failed", "stopped"
    // or "skipped" (not a media file).
    QString Result;
    QString Error;
    QDateTime When;
};

class TWatchRecord
{
public:
    explicit TWatchRecord(QString file = DefaultFile());

    // $XDG_STATE_HOME/korvane/watch.json (~/.local/state when the variable is unset).
    static QString DefaultFile();
    QString File() const { return m_file; }

    // Reads the file; a missing file is an empty record. A damaged file is
    // renamed to "<file>.damaged" and the record starts empty; the returned
    // text says so (empty when all went well).
    QString Load();
    // The entry of source converted into target, or nullptr.
    const TWatchEntry* Find(const QString& source, const QString& target) const;
    // Adds or replaces the entry and writes the file; false with the reason
    // in error when it cannot be written.
    bool Put(const TWatchEntry& entry, QString* error = nullptr);
    int Count() const { return int(m_entries.size()); }

private:
    static QString Key(const QString& source, const QString& target) { return source + QChar('\n') + target; }
    bool Save(QString* error) const;

    QString m_file;
    QHash<QString, TWatchEntry> m_entries;
};

} // namespace korvane
