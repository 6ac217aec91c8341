// The runner main() installs for "New Conversion" and drops.
#pragma once

#include "FormMain.h"

namespace korvane {

class TdmGlobal;

TNewConversionRunner DefaultNewConversionRunner();
// The same, giving the dialog the data module's profiles, the configuration
// and the history categories as they are each time it opens.
TNewConversionRunner DefaultNewConversionRunner(TdmGlobal* dm);

} // namespace korvane
