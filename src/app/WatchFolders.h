// The watch folders of the Options dialog at run time: their new files
// become tasks under Converting, as if made in the new conversion dialog,
// going into the entry's history category. The list is read again whenever
// the Options dialog writes it.
#pragma once

namespace korvane {

class TdmGlobal;
class TFormMain;
class TWatchService;

// Starts the watch folders of the saved list for the window; the service is
// a child of the window. Returns it (for tests).
TWatchService* StartWatchFolders(TdmGlobal* dm, TFormMain* window);

} // namespace korvane
