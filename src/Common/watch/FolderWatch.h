// Watch folders: the part both front ends share. A TFolderWatch looks at its
// folders (a scan at start, then the system's change notifications through
// QFileSystemWatcher), waits until a new or changed file has kept its size
// and modification time for a while (a file still being copied is not
// taken), checks it against the record of earlier runs, probes it, and hands
// each media file that needs converting to OnConvert with its output file.
// The front end converts it and reports the result with Finished.
//
// A folder that disappears is reported with OnLog and looked for once a
// second; when it is back it is scanned and watched again.
//
// Lives on the main thread; every callback is called there.
#pragma once

#include "WatchRecord.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

namespace korvane {

struct TWatchSettings
{
    QStringList Folders;    // the watched folders
    bool Recursive = false; // their subfolders too (kept under the output folder)
    QString OutputFolder;   // where outputs go; never watched itself
    QString Extension;      // of the outputs, ".mp4" (the profile's)
    int StableMs = 3000;    // how long a file must keep its size and time
    // A folder missing at start is waited for (reported with OnLog) rather
    // than refused: the desktop program may start before a drive is mounted.
    bool WaitForMissing = false;
};

// One file to convert.
struct TWatchItem
{
    QString Source;
    QString Target;
    // True when the target is the output of an earlier run of this file (a
    // run cut short, or an older version of the file): it may be replaced.
    bool ReplaceTarget = false;
};

class TFolderWatch : public QObject
{
public:
    explicit TFolderWatch(TWatchSettings settings, TWatchRecord* record, QObject* parent = nullptr);
    ~TFolderWatch() override;

    // Checks the folders, scans them and starts watching. Returns the
    // problem when it cannot start (a folder that does not exist).
    QString Start();

    // The file's conversion ended: result is "completed", "failed" or
    // "stopped" (a stopped file stays "converting" in the record, so the
    // next start converts it again).
    void Finished(const QString& source, const QString& result, const QString& error = {});

    // Files waiting to become stable, and files handed out and not finished.
    int Waiting() const { return int(m_waiting.size()); }
    int Converting() const { return int(m_converting.size()); }

    std::function<void(const TWatchItem& item)> OnConvert;
    std::function<void(const QString& line)> OnLog;
    // Called when nothing waits and nothing converts any more (after the
    // first scan, and again each time the watch falls quiet).
    std::function<void()> OnIdle;
    // Decides whether a file is media; probing by default (tests replace
    // it). Runs on a pool thread, so a slow file never holds up the caller's
    // thread (the desktop program's window).
    std::function<bool(const QString& file)> IsMedia;

private:
    struct Pending
    {
        qint64 size = -1;
        qint64 modifiedMs = 0;
        QElapsedTimer unchanged; // since size and time were last seen to change
    };

    void Scan(const QString& folder);
    void Consider(const QString& file);
    void CheckWaiting();
    void CheckFolders();
    void Take(const QString& file, qint64 size, qint64 modifiedMs);
    void Probed(const QString& file, qint64 size, qint64 modifiedMs, bool media);
    QString TargetOf(const QString& file) const;
    QString RootOf(const QString& file) const;
    bool Excluded(const QString& file) const;
    void Log(const QString& line);
    void MaybeIdle();

    TWatchSettings m_settings;
    TWatchRecord* m_record;
    QString m_outputFolder; // absolute, cleaned
    QFileSystemWatcher m_watcher;
    QTimer m_stableTimer;
    QTimer m_folderTimer;
    QHash<QString, Pending> m_waiting;
    QHash<QString, QString> m_converting; // source -> target
    QSet<QString> m_missing;              // watched folders that are gone
    QSet<QString> m_probing;              // files being probed on the pool
    // cleared by the destructor: a probe that ends later finds no watch
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_idleReported = false;
};

} // namespace korvane
