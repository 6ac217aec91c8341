// How the new conversion dialog names its outputs: plain functions of paths,
// without widgets, so the rules are tested on their own.
#pragma once

#include <QString>
#include <QStringList>

namespace korvane {

// "name.avi" with ".mp4" gives "name.mp4"; the extension is what follows the
// last dot of the file name (a name without one just gets the extension).
QString ChangeFileExt(const QString& path, const QString& extension);

// folder + "/" + name, without doubling a trailing slash; name alone when
// the folder is empty.
QString JoinFolder(const QString& folder, const QString& name);

// One spelling per file: the canonical path of an existing file, the cleaned
// absolute path of one that does not exist yet.
QString SameFile(const QString& path);

// The output of a source file in folder with the profile's extension.
QString FileOutputPath(const QString& folder, const QString& source, const QString& extension);

// The outputs of a batch: `first` for the first source, then each other
// source under its own name in the folder and with the extension of `first`.
// Two sources of the same name (from different folders) must not write one
// file: the later ones get "_2", "_3", ...
QStringList BatchOutputPaths(const QString& first, const QStringList& sources, const QString& extension);

} // namespace korvane
