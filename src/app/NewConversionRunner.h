// The runner main() installs for "New Conversion" and drops.
#pragma once

#include "FormMain.h"

namespace korvane {

TNewConversionRunner DefaultNewConversionRunner();

} // namespace korvane
