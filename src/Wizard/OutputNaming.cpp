#include "OutputNaming.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

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

TTakenTargets::TTakenTargets(const QStringList& taskTargets)
{
    for (const QString& t : taskTargets)
        if (!t.trimmed().isEmpty()) m_tasks.insert(SameFile(t));
}

bool TTakenTargets::IsTaskTarget(const QString& path) const
{
    return !m_tasks.isEmpty() && m_tasks.contains(SameFile(path));
}

bool TTakenTargets::IsTaken(const QString& path) const
{
    return QFileInfo::exists(path) || IsTaskTarget(path);
}

TIsTaken TTakenTargets::Predicate() const
{
    return [self = *this](const QString& path) { return self.IsTaken(path); };
}

QString NextFreePath(const QString& path, const TIsTaken& taken)
{
    if (!taken || !taken(path)) return path;
    const QFileInfo info(path);
    const QString name = info.fileName();
    const int dot = name.lastIndexOf('.');
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    QString base = dot > 0 ? name.left(dot) : name;
    int n = 2;
    static const QRegularExpression numbered(QStringLiteral("^(.*) \\((\\d{1,6})\\)$"));
    if (const QRegularExpressionMatch m = numbered.match(base); m.hasMatch()) {
        base = m.captured(1);
        n = m.captured(2).toInt() + 1;
    }
    const QString folder = path.left(path.size() - name.size());
    for (;; ++n) {
        const QString candidate = folder + QStringLiteral("%1 (%2)").arg(base).arg(n) + extension;
        if (!taken(candidate)) return candidate;
    }
}

QStringList BatchOutputPaths(const QString& first, const QStringList& sources, const QString& extension,
                             const TIsTaken& taken)
{
    QStringList outputs{first};
    const QString folder = QFileInfo(first).path();
    QSet<QString> chosen{SameFile(first)};
    const TIsTaken refused = [&](const QString& path) {
        return chosen.contains(SameFile(path)) || (taken && taken(path));
    };
    for (int i = 1; i < sources.size(); ++i) {
        const QString path =
            NextFreePath(JoinFolder(folder, QFileInfo(sources[i]).completeBaseName() + extension), refused);
        chosen.insert(SameFile(path));
        outputs << path;
    }
    return outputs;
}

} // namespace korvane
