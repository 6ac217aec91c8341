#include "NewConversionRunner.h"

#include "ConversionSettings.h"

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

} // namespace korvane
