// The program's icon, drawn in code (the same picture as data/korvane.svg,
// which the desktop uses), so no image plugin is needed.
#pragma once

#include <QIcon>

namespace korvane {

QIcon AppIcon();

// Coloured command and status pictures that read on light and dark palettes.
enum class TStatusPicture { Running, Paused, Stopped, Finished, Failed };
QIcon StatusIcon(TStatusPicture picture);

} // namespace korvane
