#include "FolderWatch.h"

#include "sources/AVProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

namespace korvane {

namespace {

qint64 ModifiedMs(const QFileInfo& info)
{
    return info.lastModified().toMSecsSinceEpoch();
}

bool SameVersion(const TWatchEntry& e, qint64 size, qint64 modifiedMs)
{
    return e.Size == size && e.ModifiedMs == modifiedMs;
}

// Names that copying and downloading programs give a file while they write it.
bool LooksUnfinished(const QString& name)
{
    static const char* const endings[] = {".part", ".partial", ".crdownload", ".tmp", ".download", "~"};
    for (const char* e : endings)
        if (name.endsWith(QLatin1String(e), Qt::CaseInsensitive)) return true;
    return name.startsWith('.');
}

} // namespace

TFolderWatch::TFolderWatch(TWatchSettings settings, TWatchRecord* record, QObject* parent)
    : QObject(parent), m_settings(std::move(settings)), m_record(record),
      m_outputFolder(QDir::cleanPath(QFileInfo(m_settings.OutputFolder).absoluteFilePath()))
{
    IsMedia = [](const QString& file) { return TAVProbe::IsUsableSource(file); };
    for (QString& f : m_settings.Folders)
        f = QDir::cleanPath(QFileInfo(f).absoluteFilePath());
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString& dir) {
        if (QFileInfo(dir).isDir())
            Scan(dir);
        else
            m_watcher.removePath(dir); // gone; CheckFolders reports a watched folder
    });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this,
            [this](const QString& file) { Consider(file); });
    m_stableTimer.setInterval(std::clamp(m_settings.StableMs / 4, 50, 500));
    connect(&m_stableTimer, &QTimer::timeout, this, [this] { CheckWaiting(); });
    m_folderTimer.setInterval(1000);
    connect(&m_folderTimer, &QTimer::timeout, this, [this] { CheckFolders(); });
}

TFolderWatch::~TFolderWatch()
{
    *m_alive = false;
}

QString TFolderWatch::Start()
{
    for (const QString& f : m_settings.Folders)
        if (!QFileInfo(f).isDir() && !m_settings.WaitForMissing) return f + ": no such folder";
    for (const QString& f : m_settings.Folders) {
        if (QFileInfo(f).isDir()) {
            Scan(f);
        } else {
            m_missing.insert(f);
            Log(f + ": no such folder; watching for it to appear");
        }
    }
    m_stableTimer.start();
    m_folderTimer.start();
    // after the caller has returned, so a watch that is idle at once is seen
    QTimer::singleShot(0, this, [this] { MaybeIdle(); });
    return {};
}

void TFolderWatch::Scan(const QString& folder)
{
    if (folder == m_outputFolder || folder.startsWith(m_outputFolder + '/')) return;
    if (!m_watcher.directories().contains(folder)) m_watcher.addPath(folder);
    const QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable, QDir::Name);
    for (const QFileInfo& e : entries) {
        if (e.isDir()) {
            if (m_settings.Recursive && !e.isSymLink()) Scan(e.absoluteFilePath());
        } else {
            Consider(e.absoluteFilePath());
        }
    }
}

bool TFolderWatch::Excluded(const QString& file) const
{
    return file.startsWith(m_outputFolder + '/') || LooksUnfinished(QFileInfo(file).fileName()) ||
           file == m_record->File();
}

void TFolderWatch::Consider(const QString& file)
{
    if (Excluded(file) || m_converting.contains(file) || m_probing.contains(file)) return;
    const QFileInfo info(file);
    if (!info.isFile()) {
        m_waiting.remove(file);
        m_watcher.removePath(file);
        return;
    }
    const qint64 size = info.size();
    const qint64 modified = ModifiedMs(info);
    // an in-place rewrite shows as a change of the file, not of its folder
    if (!m_watcher.files().contains(file)) m_watcher.addPath(file);
    const TWatchEntry* done = m_record->Find(file, TargetOf(file));
    if (done && done->Result != "converting" && SameVersion(*done, size, modified)) {
        m_waiting.remove(file);
        return;
    }
    auto it = m_waiting.find(file);
    if (it == m_waiting.end()) {
        Pending w;
        w.size = size;
        w.modifiedMs = modified;
        w.unchanged.start();
        m_waiting.insert(file, w);
        m_idleReported = false;
    } else if (it->size != size || it->modifiedMs != modified) {
        it->size = size;
        it->modifiedMs = modified;
        it->unchanged.restart();
    }
}

void TFolderWatch::CheckWaiting()
{
    QStringList ready;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        const QFileInfo info(it.key());
        if (!info.isFile()) {
            it = m_waiting.erase(it);
            continue;
        }
        const qint64 size = info.size();
        const qint64 modified = ModifiedMs(info);
        if (size != it->size || modified != it->modifiedMs) {
            it->size = size;
            it->modifiedMs = modified;
            it->unchanged.restart();
        } else if (it->unchanged.elapsed() >= m_settings.StableMs) {
            ready << it.key();
        }
        ++it;
    }
    ready.sort();
    for (const QString& file : ready) {
        const Pending w = m_waiting.take(file);
        Take(file, w.size, w.modifiedMs);
    }
    MaybeIdle();
}

void TFolderWatch::Take(const QString& file, qint64 size, qint64 modifiedMs)
{
    m_probing.insert(file);
    QThreadPool::globalInstance()->start([this, alive = m_alive, isMedia = IsMedia, file, size, modifiedMs] {
        const bool media = isMedia(file);
        // back on the watch's thread, where alone the flag is cleared
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive, file, size, modifiedMs, media] {
                if (*alive) Probed(file, size, modifiedMs, media);
            },
            Qt::QueuedConnection);
    });
}

void TFolderWatch::Probed(const QString& file, qint64 size, qint64 modifiedMs, bool media)
{
    m_probing.remove(file);
    const QString target = TargetOf(file);
    const TWatchEntry* earlier = m_record->Find(file, target);
    TWatchEntry entry{file, target, size, modifiedMs, {}, {}, QDateTime::currentDateTimeUtc()};
    QString error;
    const QFileInfo now(file);
    if (!now.isFile() || now.size() != size || ModifiedMs(now) != modifiedMs) {
        Consider(file); // changed while it was probed: wait for it again
        MaybeIdle();
        return;
    }
    if (!media) {
        Log(file + ": skipped, not a media file");
        entry.Result = QStringLiteral("skipped");
        if (!m_record->Put(entry, &error)) Log(error);
        MaybeIdle();
        return;
    }
    TWatchItem item{file, target, earlier && earlier->Result != "skipped"};
    entry.Result = QStringLiteral("converting");
    if (!m_record->Put(entry, &error)) Log(error);
    m_converting.insert(file, target);
    if (OnConvert) OnConvert(item);
}

void TFolderWatch::Finished(const QString& source, const QString& result, const QString& error)
{
    const auto it = m_converting.constFind(source);
    if (it == m_converting.constEnd()) return;
    const QString target = it.value();
    m_converting.erase(it);
    const TWatchEntry* taken = m_record->Find(source, target);
    if (taken && result != "stopped") {
        TWatchEntry entry = *taken;
        entry.Result = result;
        entry.Error = error;
        entry.When = QDateTime::currentDateTimeUtc();
        QString writeError;
        if (!m_record->Put(entry, &writeError)) Log(writeError);
    }
    // a file rewritten while it was converting is seen again
    if (result != "stopped") Consider(source);
    QTimer::singleShot(0, this, [this] { MaybeIdle(); });
}

void TFolderWatch::CheckFolders()
{
    for (const QString& root : m_settings.Folders) {
        const bool there = QFileInfo(root).isDir();
        if (!there && !m_missing.contains(root)) {
            m_missing.insert(root);
            m_watcher.removePath(root);
            for (auto it = m_waiting.begin(); it != m_waiting.end();)
                it = it.key().startsWith(root + '/') ? m_waiting.erase(it) : std::next(it);
            Log(root + ": the folder is gone; watching for it to come back");
        } else if (there && m_missing.contains(root)) {
            m_missing.remove(root);
            Log(root + ": the folder is back; watching it again");
            Scan(root);
        }
    }
}

QString TFolderWatch::RootOf(const QString& file) const
{
    QString best;
    for (const QString& root : m_settings.Folders)
        if (file.startsWith(root + '/') && root.size() > best.size()) best = root;
    return best;
}

QString TFolderWatch::TargetOf(const QString& file) const
{
    const QFileInfo info(file);
    const QString root = RootOf(file);
    const QString rel = root.isEmpty() ? QString() : QDir(root).relativeFilePath(info.absolutePath());
    const QString dir = rel.isEmpty() || rel == "." ? m_outputFolder : m_outputFolder + '/' + rel;
    return QDir::cleanPath(dir + '/' + info.completeBaseName() + m_settings.Extension);
}

void TFolderWatch::Log(const QString& line)
{
    if (OnLog) OnLog(line);
}

void TFolderWatch::MaybeIdle()
{
    if (!m_waiting.isEmpty() || !m_converting.isEmpty() || !m_probing.isEmpty() || m_idleReported) return;
    m_idleReported = true;
    if (OnIdle) OnIdle();
}

} // namespace korvane
