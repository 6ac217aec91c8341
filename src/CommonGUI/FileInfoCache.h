// What the task list knows of files on disk (exists, size), looked up on a
// worker thread. Rows are painted from what is known: a file on a stale
// network mount costs a worker that waits, never the window.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>

namespace korvane {

class TFileInfoCache : public QObject
{
    Q_OBJECT
public:
    // A look older than this is taken again when asked for.
    static constexpr qint64 kMaxAgeMs = 5000;

    struct TInfo
    {
        bool Known = false; // false until the first look has come back
        bool IsFile = false;
        qint64 Size = 0;
    };

    // The one cache of the program; lives until the process ends (a worker
    // may be stuck on a dead mount then, and is not waited for).
    static TFileInfoCache& Instance();

    // What is known of path; asks for a fresh look when nothing is known or
    // the last look is older than kMaxAgeMs. Main thread only.
    TInfo Get(const QString& path);
    // What the program itself knows (a conversion it has just written).
    void Put(const QString& path, qint64 size);
    void Forget(const QString& path);

signals:
    // Looks have come back (coalesced: at most one signal per 100 ms).
    void Changed();

private:
    TFileInfoCache();
    void Look(const QString& path);
    void Arrived(const QString& path, TInfo info);

    struct TEntry
    {
        TInfo Info;
        qint64 CheckedMs = 0;
        bool Pending = false;
    };
    QHash<QString, TEntry> m_entries;
    QThreadPool m_pool;
    bool m_changePosted = false;
};

} // namespace korvane
