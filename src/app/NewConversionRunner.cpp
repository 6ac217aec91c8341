#include "NewConversionRunner.h"

#include "Configuration.h"
#include "ConversionSettings.h"
#include "DmGlobal.h"
#include "FormNewConversion.h"
#include "PersistentManager.h"
#include "ProfileCatalog.h"

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

} // namespace

TNewConversionRunner DefaultNewConversionRunner(TdmGlobal* dm)
{
    TWizardEnvironment environment;
    environment.Profiles = dm->Profiles();
    environment.Configuration = dm->Config();
    environment.ProfileStorePath = ProfileStorePath(TAVConfiguration::GetAppDataFolder());
    SetWizardEnvironment(environment);
    return [dm](QWidget* parent, const QStringList& sources) {
        std::vector<TCategoryEntry> categories;
        if (dm->Db() && dm->Db()->IsOpen())
            AddCategories(dm->Db(), TPersistentManager::kNoParent, 0, &categories);
        SetNewConversionCategories(categories.empty() ? DefaultCategories() : categories);
        return RunNewConversion(parent, sources);
    };
}

} // namespace korvane
