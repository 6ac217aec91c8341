// The desktop program's watch folders, as the Options dialog edits them:
// folder, profile, output folder and history category of each. Kept as JSON
// beside the configuration ("<settings folder>WatchFolders.json").
#pragma once

#include <QList>
#include <QString>

namespace korvane {

class TPersistentManager;

struct TWatchFolderEntry
{
    QString Folder;
    QString Profile; // a profile's name (Description)
    QString OutputFolder;
    QString Category; // a history category's name; empty: My Conversions
    bool operator==(const TWatchFolderEntry&) const = default;
};

class TWatchFolderList
{
public:
    static QString DefaultFile();

    // A missing or unreadable file is an empty list.
    static QList<TWatchFolderEntry> Load(const QString& file = DefaultFile());
    // Returns the problem; empty when written.
    static QString Save(const QList<TWatchFolderEntry>& entries, const QString& file = DefaultFile());
};

// The id of the first history category named name (ignoring case), looked
// for through the whole tree; 0 when there is none.
int FindHistoryCategory(TPersistentManager* db, const QString& name);

} // namespace korvane
