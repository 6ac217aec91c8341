#include "WatchService.h"

#include <QFileInfo>

namespace korvane {

struct TWatchService::Watch
{
    TWatchFolderEntry entry;
    std::unique_ptr<TFolderWatch> watch;
};

TWatchService::TWatchService(QString recordFile, QObject* parent)
    : QObject(parent), m_record(std::move(recordFile))
{
}

TWatchService::~TWatchService() = default;

QString TWatchService::DefaultRecordFile()
{
    return QFileInfo(TWatchRecord::DefaultFile()).absolutePath() + QStringLiteral("/watch-desktop.json");
}

void TWatchService::Stop()
{
    m_watches.clear();
}

void TWatchService::Start(const QList<TWatchFolderEntry>& entries)
{
    Stop();
    const QString problem = m_record.Load();
    auto log = [this](const QString& line) {
        if (OnLog) OnLog(line);
    };
    if (!problem.isEmpty()) log(problem);
    for (const TWatchFolderEntry& entry : entries) {
        const QString ext = ExtensionOf ? ExtensionOf(entry.Profile) : QString();
        if (ext.isEmpty()) {
            log(QStringLiteral("Watch folder %1: no profile named \"%2\"").arg(entry.Folder, entry.Profile));
            continue;
        }
        auto w = std::make_unique<Watch>();
        w->entry = entry;
        w->watch = std::make_unique<TFolderWatch>(
            TWatchSettings{{entry.Folder}, false, entry.OutputFolder, ext, StableMs, true}, &m_record);
        if (IsMedia) w->watch->IsMedia = IsMedia;
        w->watch->OnLog = log;
        TFolderWatch* fw = w->watch.get();
        const TWatchFolderEntry* e = &w->entry;
        w->watch->OnConvert = [this, fw, e](const TWatchItem& item) {
            if (OnConvert) OnConvert(*e, item);
            fw->Finished(item.Source, QStringLiteral("queued"));
        };
        const QString startProblem = w->watch->Start();
        if (!startProblem.isEmpty()) {
            log(QStringLiteral("Watch folder %1").arg(startProblem));
            continue;
        }
        m_watches.push_back(std::move(w));
    }
}

} // namespace korvane
