#include "OutputNaming.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace korvane {

QString ChangeFileExt(const QString& path, const QString& extension)
{
    const int slash = path.lastIndexOf('/');
    const int dot = path.lastIndexOf('.');
    return (dot > slash ? path.left(dot) : path) + extension;
}

QString JoinFolder(const QString& folder, const QString& name)
{
    if (folder.isEmpty()) return name;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QString SameFile(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

QString FileOutputPath(const QString& folder, const QString& source, const QString& extension)
{
    return JoinFolder(folder, ChangeFileExt(QFileInfo(source).fileName(), extension));
}

QStringList BatchOutputPaths(const QString& first, const QStringList& sources, const QString& extension)
{
    QStringList outputs{first};
    const QString folder = QFileInfo(first).path();
    QSet<QString> taken{SameFile(first)};
    for (int i = 1; i < sources.size(); ++i) {
        const QString base = QFileInfo(sources[i]).completeBaseName();
        QString path = JoinFolder(folder, base + extension);
        for (int n = 2; taken.contains(SameFile(path)); ++n)
            path = JoinFolder(folder, QStringLiteral("%1_%2").arg(base).arg(n) + extension);
        taken.insert(SameFile(path));
        outputs << path;
    }
    return outputs;
}

} // namespace korvane
