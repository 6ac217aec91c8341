#include "WatchFolders.h"

#include "GuiActions.h"

#include "AVNodes.h"
#include "CategoryOperations.h"
#include "Configuration.h"
#include "ConversionSettings.h"
#include "DmGlobal.h"
#include "ExplorerModel.h"
#include "FormMain.h"
#include "PersistentManager.h"
#include "WatchFoldersPage.h"
#include "options/Messages.h"
#include "profiles/AVProfile.h"
#include "watch/WatchService.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>

namespace korvane {

namespace {

TAVProfile* ProfileNamed(TAVProfileList* list, const QString& name)
{
    for (int i = 0; list && i < list->Count(); ++i)
        if (list->Items(i)->Description().compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return list->Items(i);
    return nullptr;
}

// The entry's category, made under My Conversions when it is not there.
int CategoryFor(TdmGlobal* dm, TFormMain* window, const TWatchFolderEntry& entry)
{
    if (entry.Category.trimmed().isEmpty() || !dm->Db() || !dm->Db()->IsOpen())
        return TPersistentManager::kRootCategoryId;
    if (const int id = FindHistoryCategory(dm->Db(), entry.Category)) return id;
    TConvertedNode* made = window->Categories()->AddCategory(window->Explorer()->RootCategory(),
                                                             entry.Category.trimmed(), entry.OutputFolder);
    return made ? made->CategoryId() : TPersistentManager::kRootCategoryId;
}

// target, or "name (2).ext" and so on when a file of someone else is there
QString FreeTarget(const QString& target, bool replace)
{
    if (replace || !QFileInfo::exists(target)) return target;
    const QFileInfo info(target);
    for (int n = 2;; ++n) {
        const QString other = info.absolutePath() + '/' + info.completeBaseName() +
                              QStringLiteral(" (%1).").arg(n) + info.suffix();
        if (!QFileInfo::exists(other)) return other;
    }
}

void Convert(TdmGlobal* dm, TFormMain* window, const TWatchFolderEntry& entry, const TWatchItem& item)
{
    TAVProfile* profile = ProfileNamed(dm->Profiles(), entry.Profile);
    if (!profile) return;
    auto settings = std::make_unique<TConversionSettings>();
    // what the new conversion dialog does before it applies the profile
    TAVConvertOptions* options = settings->ConvertOptions();
    options->m_inputFormat.clear();
    const int configured = dm->Config()->PerformanceOptions()->ThreadCount();
    options->m_threadCount = configured > 0 ? configured : std::max(1, QThread::idealThreadCount());
    profile->Apply(options); // a failure is shown by the caller's RunAction
    settings->SetSourceFile(item.Source);
    settings->SetSourceType(TConversionSettings::stFile);
    settings->SetTargetFile(FreeTarget(item.Target, item.ReplaceTarget));
    settings->SetProfile(profile->Description());
    settings->SetCategoryId(CategoryFor(dm, window, entry));
    window->Explorer()->ConvertingNode()->NewConversion(std::move(settings));
    window->UpdateActions();
}

} // namespace

TWatchService* StartWatchFolders(TdmGlobal* dm, TFormMain* window)
{
    QStringList names;
    for (int i = 0; dm->Profiles() && i < dm->Profiles()->Count(); ++i)
        names << dm->Profiles()->Items(i)->Description();
    TWatchFoldersPage::SetProfileNames(names);

    auto* service = new TWatchService(TWatchService::DefaultRecordFile(), window);
    service->ExtensionOf = [dm](const QString& name) {
        const TAVProfile* p = ProfileNamed(dm->Profiles(), name);
        return p ? p->GetExtension() : QString();
    };
    service->OnConvert = [dm, window](const TWatchFolderEntry& entry, const TWatchItem& item) {
        // a history that refuses the new task's row (or any other failure)
        // is shown, never the end of the program
        RunAction(QStringLiteral("Converting %1 from a watch folder").arg(item.Source), dm->Environment(),
                  [&] { Convert(dm, window, entry, item); });
    };
    service->OnLog = [](const QString& line) { std::fprintf(stderr, "korvane: %s\n", qPrintable(line)); };
    const QString listFile = TWatchFolderList::DefaultFile();
    service->Start(TWatchFolderList::Load(listFile));
    // the Options dialog writes the list by renaming a new file over it:
    // the folder changes, and the list is read again when it differs
    auto* listWatcher = new QFileSystemWatcher(service);
    listWatcher->addPath(QFileInfo(listFile).absolutePath());
    auto current = std::make_shared<QList<TWatchFolderEntry>>(TWatchFolderList::Load(listFile));
    QObject::connect(listWatcher, &QFileSystemWatcher::directoryChanged, service,
                     [service, listFile, current] {
                         const QList<TWatchFolderEntry> now = TWatchFolderList::Load(listFile);
                         if (now == *current) return;
                         *current = now;
                         service->Start(now);
                     });
    return service;
}

} // namespace korvane
