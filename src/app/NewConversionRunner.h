// The runner main() installs for "New Conversion" and drops: the new
// conversion dialog over the data module's profiles, configuration and
// history categories.
#pragma once

#include "FormMain.h"

namespace korvane {

class TdmGlobal;

// Gives the dialog the profiles, the configuration and the profile store
// once; each run offers the history categories as they are at that moment.
TNewConversionRunner DefaultNewConversionRunner(TdmGlobal* dm);

} // namespace korvane
