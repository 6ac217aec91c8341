#include "sources/dvd/DvdSource.h"

#include "options/Persistent.h"
#include "sources/dvd/DvdStream.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <map>

namespace korvane::dvd {

namespace {

// /proc/mounts writes space, tab, newline and backslash as \ooo.
QString UnescapeMountField(const QByteArray& field)
{
    QByteArray out;
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && code < 256) {
                out.append(static_cast<char>(code));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QFile::decodeName(out);
}

// Device path -> mount point, from a mounts table.
std::map<QString, QString> ReadMounts(const QString& mounts)
{
    std::map<QString, QString> result;
    QFile file(mounts);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    // /proc files report no size: read line by line
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() >= 2)
            result.emplace(UnescapeMountField(fields[0]), UnescapeMountField(fields[1]));
    }
    return result;
}

bool HasVideoTs(const QString& folder)
{
    for (const char* name : {"VIDEO_TS/VIDEO_TS.IFO", "video_ts/video_ts.ifo", "VIDEO_TS/video_ts.ifo"})
        if (QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(name)))
            return true;
    return false;
}

bool HoldsVideoDvd(const TDvdDrive& drive)
{
    if (!drive.MountPoint.isEmpty())
        return HasVideoTs(drive.MountPoint);
    if (!QFileInfo::exists(drive.Device))
        return false;
    try {
        ScanDvd(drive.Device);
        return true;
    } catch (const EEngineError&) {
        return false;
    }
}

} // namespace

std::vector<TDvdDrive> ListDvdDrives(const QString& sysBlock, const QString& mounts, const QString& devices)
{
    std::vector<TDvdDrive> drives = ListOpticalDrives(sysBlock, mounts, devices);
    drives.erase(std::remove_if(drives.begin(), drives.end(), [](const TDvdDrive& d) { return !d.HasDisc; }),
                 drives.end());
    return drives;
}

std::vector<TDvdDrive> ListOpticalDrives(const QString& sysBlock, const QString& mounts, const QString& devices)
{
    std::vector<TDvdDrive> drives;
    const std::map<QString, QString> mounted = ReadMounts(mounts);
    const QStringList names =
        QDir(sysBlock).entryList({QStringLiteral("sr*")}, QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        TDvdDrive drive;
        drive.Device = devices + QLatin1Char('/') + name;
        const auto it = mounted.find(drive.Device);
        if (it != mounted.end())
            drive.MountPoint = it->second;
        drive.HasDisc = HoldsVideoDvd(drive);
        if (!drive.HasDisc) {
            drive.Caption = QString::asprintf("%s: [no disc]", name.toUtf8().constData());
            drives.push_back(drive);
            continue;
        }
        if (QFileInfo::exists(drive.Device))
            drive.Label = DvdVolumeLabel(drive.Device);
        if (drive.Label.isEmpty() && !drive.MountPoint.isEmpty())
            drive.Label = QFileInfo(drive.MountPoint).fileName();
        drive.Caption = QString::asprintf("%s: [%s]", name.toUtf8().constData(), drive.Label.toUtf8().constData());
        drives.push_back(drive);
    }
    return drives;
}

TDvdDisc ListDvdTitles(const QString& path) { return ScanDvd(path); }

TDvdSource OpenDvdSource(const QString& path, int title, int firstChapter, int lastChapter, int angle)
{
    const TDvdDisc disc = ScanDvd(path);
    const auto it = std::find_if(disc.Titles.begin(), disc.Titles.end(),
                                 [title](const TDvdTitle& t) { return t.Number == title; });
    if (it == disc.Titles.end())
        throw EEngineError("Can not open title");
    return OpenDvdTitle(*it, disc.VolumeLabel, firstChapter, lastChapter, angle);
}

TDvdSource OpenDvdTitle(const TDvdTitle& title, const QString& volumeLabel, int firstChapter, int lastChapter,
                        int angle)
{
    if (lastChapter == 0)
        lastChapter = static_cast<int>(title.Chapters.size());
    std::unique_ptr<TDvdStream> stream = TDvdStream::Create(title, firstChapter, lastChapter, angle);
    TDvdSource source;
    source.Size = stream->Size();
    source.VolumeLabel = volumeLabel;
    source.Title = title.Number;
    for (int c = firstChapter; c <= lastChapter; ++c)
        source.DurationUs += title.Chapters[c - 1].DurationUs;
    source.Handle = RegisterStream(std::move(stream));
    source.Name = StreamSourceName(source.Handle);
    return source;
}

bool ParseChapterRange(const QString& text, int* firstChapter, int* lastChapter)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*([0-9]{1,3})\\s*(-\\s*([0-9]{0,3}))?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    const int first = match.captured(1).toInt();
    int last = first;
    if (match.hasCaptured(2))
        last = match.captured(3).isEmpty() ? 0 : match.captured(3).toInt();
    if (first < 1 || (last != 0 && last < first))
        return false;
    *firstChapter = first;
    *lastChapter = last;
    return true;
}

} // namespace korvane::dvd
