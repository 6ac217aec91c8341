// The family name inside a font file. Subtitle renderers look fonts up by
// family (or full or PostScript name), never by file name: "DejaVuSerif.ttf"
// holds the family "DejaVu Serif".
#pragma once

#include <QString>

namespace korvane {

// The first family name of the file's first face (read by fontconfig from the
// file itself); empty when the file is not a font that can be read.
QString FontFamilyOfFile(const QString& path);

} // namespace korvane
