#include "JobPlan.h"

#include "sources/AVProbe.h"
#include "profiles/AVProfile.h"
#include "sources/dvd/DvdSource.h"

#include "sources/dvd/DvdScan.h"

#include <QDir>
#include <QFile>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <sys/stat.h>

namespace korvane::cli {

namespace {

struct SourceItem
{
    QString source;
    QString input;
    QString relativeDir; // below the folder named as a source
    QString baseName;    // output name without extension
    QString suffix;      // ".mp4" of the source, used without a profile
    QString problem;
};

// Media files under folder, decided by probing: the same rule as the
// new-conversion dialog (opens, and has a video or an audio stream).
QList<SourceItem> WalkFolder(const QString& folder, QStringList* notes)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    QList<SourceItem> items;
    const QDir root(QFileInfo(folder).absoluteFilePath());
    for (const QString& f : files) {
        if (!TAVProbe::IsUsableSource(f)) {
            *notes << f + ": skipped, not a media file";
            continue;
        }
        const QFileInfo info(f);
        const QString rel = root.relativeFilePath(info.absolutePath());
        items.append({f, f, rel == "." ? QString() : rel, info.completeBaseName(), "." + info.suffix(), {}});
    }
    if (items.isEmpty())
        *notes << folder + ": no media files";
    return items;
}

} // namespace

FileIdentity IdentityOf(const QString& path)
{
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, quint64(st.st_dev), quint64(st.st_ino)};
}

namespace {

QString ExpandSources(const ConvertRequest& r, QList<SourceItem>* items, QStringList* notes, bool* sawFolder)
{
    for (const QString& s : r.sources) {
        if (s.startsWith("dvd:")) {
            if (r.title < 1)
                return "a dvd: source needs --title N";
            SourceItem item{s, {}, {}, {}, ".vob", {}};
            try {
                const dvd::TDvdSource d = dvd::OpenDvdSource(s.mid(4), r.title, r.firstChapter, r.lastChapter, r.angle);
                item.input = d.Name + ".vob";
                item.baseName = dvd::DvdDefaultOutputName(d.VolumeLabel.isEmpty() ? QStringLiteral("dvd") : d.VolumeLabel,
                                                          d.Title);
            } catch (const std::exception& e) {
                item.problem = s + ": " + QString::fromUtf8(e.what());
                item.baseName = QStringLiteral("dvd_%1").arg(r.title);
            }
            items->append(item);
        } else if (s.startsWith("wavcap:")) {
            // live sound from an ALSA capture device: no file to look for
            items->append(SourceItem{s, s, {}, QStringLiteral("recording"), ".wav", {}});
        } else if (QFileInfo(s).isDir()) {
            if (!r.recursive)
                return s + " is a folder; add --recursive to convert the media files in it";
            *sawFolder = true;
            items->append(WalkFolder(s, notes));
        } else {
            const QFileInfo info(s);
            SourceItem item{s, s, {}, info.completeBaseName(), info.suffix().isEmpty() ? "" : "." + info.suffix(), {}};
            if (!info.exists())
                item.problem = s + ": no such file";
            items->append(item);
        }
    }
    return {};
}

} // namespace

PlanResult PlanJobs(const ConvertRequest& r, const TAVProfile* profile, const QString& outputFolder)
{
    PlanResult result;
    QList<SourceItem> items;
    bool sawFolder = false;
    result.usageError = ExpandSources(r, &items, &result.notes, &sawFolder);
    if (!result.usageError.isEmpty())
        return result;
    const QFileInfo out(r.output);
    const bool folderMode = r.output.isEmpty() || items.size() > 1 || sawFolder || out.isDir() ||
                            r.output.endsWith('/');
    if (folderMode && !r.output.isEmpty() && out.exists() && !out.isDir()) {
        result.usageError = "with several sources -o names a folder, and " + r.output + " is a file";
        return result;
    }
    const QString folder = r.output.isEmpty() ? outputFolder : r.output;
    if (profile && (profile->GetExtension().contains('/') || profile->GetExtension().contains("..") ||
                    profile->GetExtension().contains('\\'))) {
        result.usageError = "the profile's extension '" + profile->GetExtension() + "' is not a file name ending";
        return result;
    }
    // every source of the batch, by file identity: an output reached through
    // a link or another spelling must never replace any of them
    QList<FileIdentity> sources;
    for (const SourceItem& item : items)
        if (const FileIdentity id = IdentityOf(item.source); id.valid)
            sources.append(id);
    QHash<QString, QString> takenBy;
    for (const SourceItem& item : items) {
        JobPlan job{item.source, item.input, {}, item.problem};
        if (folderMode) {
            const QString ext = profile ? profile->GetExtension() : item.suffix;
            QString dir = QDir(folder).filePath(item.relativeDir);
            job.target = QDir::cleanPath(QDir(dir).filePath(item.baseName + ext));
        } else {
            job.target = QDir::cleanPath(r.output);
        }
        const QString key = QFileInfo(job.target).absoluteFilePath();
        const FileIdentity targetId = IdentityOf(job.target);
        const bool isSource = key == QFileInfo(item.source).absoluteFilePath() ||
                              (targetId.valid && sources.contains(targetId));
        if (job.problem.isEmpty() && isSource)
            job.problem = job.target + " would replace a source of this conversion";
        else if (job.problem.isEmpty() && takenBy.contains(key))
            job.problem = job.target + " is already the output of " + takenBy.value(key);
        takenBy.insert(key, item.source);
        result.jobs.append(job);
    }
    return result;
}

} // namespace korvane::cli
