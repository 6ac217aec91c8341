// The desktop program's watch folders at run time: one TFolderWatch per
// entry of the list, sharing a record of their own
// ($XDG_STATE_HOME/korvane/watch-desktop.json). A file that is ready goes to
// OnConvert, which makes a task of it; from then on the task list owns it
// (a failed task is started again from there), so the record marks it
// "queued" and the watch takes it again only when it changes.
#pragma once

#include "FolderWatch.h"
#include "WatchFolderList.h"

#include <functional>
#include <memory>
#include <vector>

namespace korvane {

class TWatchService : public QObject
{
public:
    explicit TWatchService(QString recordFile = DefaultRecordFile(), QObject* parent = nullptr);
    ~TWatchService() override;

    static QString DefaultRecordFile();

    // Stops the watches there are and starts one per entry. An entry whose
    // profile is unknown or whose folder is missing is reported with OnLog
    // and left out.
    void Start(const QList<TWatchFolderEntry>& entries);
    void Stop();
    int Running() const { return int(m_watches.size()); }

    // The output file ending of a profile ("" when there is no such profile).
    std::function<QString(const QString& profile)> ExtensionOf;
    // A file to convert with the entry's profile and category into target.
    std::function<void(const TWatchFolderEntry& entry, const TWatchItem& item)> OnConvert;
    std::function<void(const QString& line)> OnLog;
    // Replaces the probe of every watch started later (tests).
    std::function<bool(const QString& file)> IsMedia;
    int StableMs = 3000;

private:
    struct Watch;
    TWatchRecord m_record;
    std::vector<std::unique_ptr<Watch>> m_watches;
};

} // namespace korvane
