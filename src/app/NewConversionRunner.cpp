#include "NewConversionRunner.h"

#include "Configuration.h"
#include "ConversionSettings.h"
#include "AVNodes.h"
#include "DmGlobal.h"
#include "ExplorerModel.h"
#include "FormNewConversion.h"
#include "PersistentManager.h"
#include "ProfileCatalog.h"
#include "SettingsSummary.h"

namespace korvane {

namespace {

void AddCategories(TPersistentManager* db, int parentId, int depth, std::vector<TCategoryEntry>* out)
{
    // the database refuses cycles, the depth limit guards a damaged file
    if (depth > 64)
        return;
    for (const TCategoryRow& row : db->LoadConvertedNodes(parentId)) {
        out->push_back({row.ID, row.Parent, row.Category});
        AddCategories(db, row.ID, depth + 1, out);
    }
}

// The outputs of every task: those under Converting (as they are in memory)
// and those of the history, read from the database. The dialog never proposes
// one of them.
QStringList TaskTargets(TdmGlobal* dm, QWidget* parent, const std::vector<TCategoryEntry>& categories)
{
    QStringList targets;
    if (auto* form = qobject_cast<TFormMain*>(parent))
        for (const TAVTask* task : form->Explorer()->ConvertingNode()->Tasks())
            targets << task->Settings()->TargetFile();
    if (!dm->Db() || !dm->Db()->IsOpen())
        return targets;
    auto add = [&targets](const std::vector<TConversionRow>& rows) {
        for (const TConversionRow& row : rows) {
            TConversionSettings settings;
            if (ReadSettingsSummary(row.ConvertSettings, &settings))
                targets << settings.TargetFile();
        }
    };
    try {
        add(dm->Db()->LoadConvertingTasks());
        for (const TCategoryEntry& category : categories)
            add(dm->Db()->LoadConvertedTasks(category.Id));
    } catch (const std::exception&) {
        // a history that cannot be read leaves the tasks in memory and the
        // files on disk to go by
    }
    return targets;
}

} // namespace

TNewConversionRunner DefaultNewConversionRunner(TdmGlobal* dm)
{
    TWizardEnvironment environment;
    environment.Profiles = dm->Profiles();
    environment.Configuration = dm->Config();
    environment.ProfileStorePath = ProfileStorePath(TAVConfiguration::GetAppDataFolder());
    SetNewConversionChoicesFile(TAVConfiguration::GetAppDataFolder() + QStringLiteral("NewConversion.ini"));
    SetWizardEnvironment(environment);
    return [dm](QWidget* parent, const QStringList& sources) {
        std::vector<TCategoryEntry> categories;
        if (dm->Db() && dm->Db()->IsOpen())
            AddCategories(dm->Db(), TPersistentManager::kNoParent, 0, &categories);
        SetNewConversionCategories(categories.empty() ? DefaultCategories() : categories);
        return RunNewConversion(parent, sources, TaskTargets(dm, parent, categories));
    };
}

} // namespace korvane
