// Installed fonts as files, found through fontconfig: the overlay text and
// the subtitle filters want the path of a TrueType font, not a family name.
#pragma once

#include <QList>
#include <QString>

namespace korvane {

struct TFontFace
{
    QString family;
    QString style;
    QString file;
    // "Family Style", as the font chooser lists it.
    QString Caption() const;
};

// Every installed TrueType face with a file on disk, sorted by caption.
// Fonts inside collections (.ttc) are left out: the filters take a file,
// not a face index.
QList<TFontFace> InstalledFontFaces();

// The file of the installed font that best matches a fontconfig pattern
// ("DejaVu Sans:style=Bold", "sans-serif"); empty when there is none.
QString MatchFontFile(const QString& pattern);

} // namespace korvane
