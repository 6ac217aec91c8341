// The filter dialogs as the editor of TAVFilter::Setup and Edit.
#pragma once

namespace korvane {

class TAVFilter;

// Installs RunFilterDialog as the editor of every filter kind. Call once
// before the first Setup or Edit (the new conversion dialog does).
void InstallFilterDialogs();

// Opens the dialog of filter's kind over the active window. isNew: the
// dialog's defaults; otherwise the filter's values. On OK the dialog's values
// are copied into filter and true returned; on Cancel nothing changes.
bool RunFilterDialog(TAVFilter& filter, bool isNew);

} // namespace korvane
