#include "MediaFolder.h"

#include <QDirIterator>
#include <algorithm>

namespace korvane {

QStringList MediaFilesIn(const QString& folder, const std::function<bool(const QString& file)>& isMedia)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    std::sort(files.begin(), files.end());
    QStringList media;
    for (const QString& file : files)
        if (!isMedia || isMedia(file)) media << file;
    return media;
}

} // namespace korvane
