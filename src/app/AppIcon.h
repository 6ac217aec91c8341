// The program's icon, drawn in code (the same picture as data/korvane.svg,
// which the desktop uses), so no image plugin is needed.
#pragma once

#include <QIcon>

namespace korvane {

QIcon AppIcon();

} // namespace korvane
