// The media files of a folder, for a batch: every file below it (sub-folders
// too) that isMedia accepts, in path order. isMedia opens the file, so this
// runs on a worker thread.
#pragma once

#include <QStringList>
#include <functional>

namespace korvane {

QStringList MediaFilesIn(const QString& folder, const std::function<bool(const QString& file)>& isMedia);

} // namespace korvane
