// How the new conversion dialog names its outputs: plain functions of paths,
// without widgets, so the rules are tested on their own.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

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

// Whether a path may not be proposed as an output.
using TIsTaken = std::function<bool(const QString& path)>;

// The outputs of existing tasks (running, stopped or in the history), and the
// rule that an output is never proposed over a file on disk or over one of
// them.
class TTakenTargets
{
public:
    TTakenTargets() = default;
    explicit TTakenTargets(const QStringList& taskTargets);
    // The output of some task.
    bool IsTaskTarget(const QString& path) const;
    // On disk, or the output of some task.
    bool IsTaken(const QString& path) const;
    TIsTaken Predicate() const;

private:
    QSet<QString> m_tasks; // SameFile() of each target
};

// path when it is free, else the first free one of "name (2).ext",
// "name (3).ext", ... A name that already ends in " (n)" counts on from n.
QString NextFreePath(const QString& path, const TIsTaken& taken);

// The outputs of a batch: `first` for the first source (as given), then each
// other source under its own name in the folder and with the extension of
// `first`. A later output never repeats an earlier one nor takes a path that
// `taken` refuses: it gets the next free name instead.
QStringList BatchOutputPaths(const QString& first, const QStringList& sources, const QString& extension,
                             const TIsTaken& taken = {});

} // namespace korvane
