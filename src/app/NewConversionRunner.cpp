#include "NewConversionRunner.h"

#include "Configuration.h"
#include "ConversionSettings.h"
#include "DmGlobal.h"
#include "PersistentManager.h"
#include "ProfileCatalog.h"

#include <functional>

#if __has_include("FormNewConversion.h")
#include "FormNewConversion.h"
#define KORVANE_HAS_NEW_CONVERSION 1
#else
#include "options/Messages.h"
#endif

namespace korvane {

TNewConversionRunner DefaultNewConversionRunner()
{
#ifdef KORVANE_HAS_NEW_CONVERSION
    return [](QWidget* parent, const QStringList& sources) { return RunNewConversion(parent, sources); };
#else
    return [](QWidget*, const QStringList&) {
        InfoBox(QStringLiteral("The new conversion dialog is not available in this build."));
        return std::vector<std::unique_ptr<TConversionSettings>>{};
    };
#endif
}

TNewConversionRunner DefaultNewConversionRunner(TdmGlobal* dm)
{
#ifdef KORVANE_HAS_NEW_CONVERSION
    return [dm](QWidget* parent, const QStringList& sources) {
        TWizardEnvironment env;
        env.Profiles = dm->Profiles();
        env.Configuration = dm->Config();
        env.ProfileStorePath = ProfileStorePath(TAVConfiguration::GetAppDataFolder());
        // the category tree, depth first from the top
        env.Categories.clear();
        std::function<void(int)> load = [&](int parent) {
            for (const TCategoryRow& row : dm->Db()->LoadConvertedNodes(parent)) {
                env.Categories.push_back({row.ID, row.Parent, row.Category});
                load(row.ID);
            }
        };
        try {
            load(TPersistentManager::kNoParent);
        } catch (const std::exception&) {
            env.Categories.clear(); // an unreadable tree offers the root only
        }
        if (env.Categories.empty())
            env.Categories = DefaultCategories();
        SetWizardEnvironment(env);
        return RunNewConversion(parent, sources);
    };
#else
    Q_UNUSED(dm);
    return DefaultNewConversionRunner();
#endif
}

} // namespace korvane
