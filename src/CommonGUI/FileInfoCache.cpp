#include "FileInfoCache.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

namespace korvane {

TFileInfoCache& TFileInfoCache::Instance()
{
    // never freed: a look stuck on a dead mount must not hold the exit
    static auto* cache = new TFileInfoCache;
    return *cache;
}

TFileInfoCache::TFileInfoCache()
{
    m_pool.setMaxThreadCount(2);
}

TFileInfoCache::TInfo TFileInfoCache::Get(const QString& path)
{
    if (path.isEmpty())
        return {true, false, 0};
    TEntry& entry = m_entries[path];
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!entry.Pending && (!entry.Info.Known || now - entry.CheckedMs > kMaxAgeMs))
        Look(path);
    return entry.Info;
}

void TFileInfoCache::Put(const QString& path, qint64 size)
{
    TEntry& entry = m_entries[path];
    entry.Info = {true, true, size};
    entry.CheckedMs = QDateTime::currentMSecsSinceEpoch();
}

void TFileInfoCache::Forget(const QString& path)
{
    TEntry& entry = m_entries[path];
    if (!entry.Pending)
        m_entries.remove(path);
    else
        entry.Info = {true, false, 0};
}

void TFileInfoCache::Look(const QString& path)
{
    m_entries[path].Pending = true;
    m_pool.start([this, path] {
        const QFileInfo file(path);
        TInfo info{true, file.isFile(), file.isFile() ? file.size() : 0};
        QMetaObject::invokeMethod(this, [this, path, info] { Arrived(path, info); }, Qt::QueuedConnection);
    });
}

void TFileInfoCache::Arrived(const QString& path, TInfo info)
{
    TEntry& entry = m_entries[path];
    entry.Pending = false;
    const bool changed = !entry.Info.Known || entry.Info.IsFile != info.IsFile || entry.Info.Size != info.Size;
    entry.Info = info;
    entry.CheckedMs = QDateTime::currentMSecsSinceEpoch();
    if (changed && !m_changePosted) {
        m_changePosted = true;
        QTimer::singleShot(100, this, [this] {
            m_changePosted = false;
            emit Changed();
        });
    }
}

} // namespace korvane
