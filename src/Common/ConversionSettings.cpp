#include "ConversionSettings.h"

namespace korvane {

TConversionSettings::TConversionSettings(QObject* parent)
    : TPersistent(parent), m_convertOptions(new TAVConvertOptions(this))
{
}

void TConversionSettings::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source);
}

} // namespace korvane
