// The message service of the desktop program: modal message boxes on the
// main thread, parented to the active window.
#pragma once

namespace korvane {

void InstallGuiMessages();

} // namespace korvane
