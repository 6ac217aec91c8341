#include "WatchFolderList.h"

#include "Configuration.h"
#include "PersistentManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace korvane {

QString TWatchFolderList::DefaultFile()
{
    return TAVConfiguration::GetAppDataFolder() + QStringLiteral("WatchFolders.json");
}

QList<TWatchFolderEntry> TWatchFolderList::Load(const QString& file)
{
    QList<TWatchFolderEntry> entries;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return entries;
    for (const QJsonValue& v : QJsonDocument::fromJson(f.readAll()).object().value("folders").toArray()) {
        const QJsonObject o = v.toObject();
        TWatchFolderEntry e{o.value("folder").toString(), o.value("profile").toString(),
                            o.value("output").toString(), o.value("category").toString()};
        if (!e.Folder.isEmpty()) entries << e;
    }
    return entries;
}

QString TWatchFolderList::Save(const QList<TWatchFolderEntry>& entries, const QString& file)
{
    QJsonArray folders;
    for (const TWatchFolderEntry& e : entries)
        folders.append(QJsonObject{{"folder", e.Folder},
                                   {"profile", e.Profile},
                                   {"output", e.OutputFolder},
                                   {"category", e.Category}});
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile f(file);
    const QByteArray text = QJsonDocument(QJsonObject{{"folders", folders}}).toJson();
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit())
        return file + ": " + f.errorString();
    return {};
}

namespace {

int FindBelow(TPersistentManager* db, int parentId, const QString& name, int depth)
{
    if (depth > 64) // a damaged file; the database itself refuses cycles
        return 0;
    for (const TCategoryRow& row : db->LoadConvertedNodes(parentId)) {
        if (row.Category.compare(name, Qt::CaseInsensitive) == 0) return row.ID;
        if (const int below = FindBelow(db, row.ID, name, depth + 1)) return below;
    }
    return 0;
}

} // namespace

int FindHistoryCategory(TPersistentManager* db, const QString& name)
{
    return FindBelow(db, TPersistentManager::kNoParent, name.trimmed(), 0);
}

} // namespace korvane
