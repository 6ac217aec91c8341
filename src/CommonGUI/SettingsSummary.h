// A quick read of the simple fields of a stored settings document (source,
// target, profile, DVD title, category, duration, sizes), leaving out the
// options tree. A history of thousands of tasks is listed with it; a task
// reads its whole document only when it needs the options.
#pragma once

#include <QString>

namespace korvane {

class TConversionSettings;

// Fills the simple properties of settings from document, as the full read
// would. False when the document is not one this reader takes on (another
// layout, a value the full read would refuse, broken XML): the caller reads
// it in full, which reports the problem.
bool ReadSettingsSummary(const QString& document, TConversionSettings* settings);

} // namespace korvane
