// The commands that only report: --help, --version, categories, profiles,
// probe and dvd.
#include "sources/AVProbe.h"
#include "Cli.h"
#include "av/FFmpeg.h"
#include "ProfileCatalog.h"
#include "Profiles.h"
#include "manual/Manual.h"
#include "sources/dvd/DvdSource.h"

#include <QFileInfo>

namespace korvane::cli {

void PrintUsage(FILE* to)
{
    std::fputs(manual::HelpText(manual::CliPage()).toUtf8().constData(), to);
}

void PrintError(const QString& text)
{
    std::fprintf(stderr, "korvane-cli: %s\n", qPrintable(text));
}

int UsageError(const QString& text)
{
    PrintError(text);
    std::fputs("Try 'korvane-cli --help'.\n", stderr);
    return kExitUsage;
}

void PrintVersion()
{
    std::printf("korvane-cli %s\n", KORVANE_VERSION);
    auto v = [](unsigned n) { return QStringLiteral("%1.%2.%3").arg(n >> 16).arg((n >> 8) & 0xff).arg(n & 0xff); };
    std::printf("libavutil %s, libavcodec %s, libavformat %s, libavfilter %s, libswscale %s, libswresample %s\n",
                qPrintable(v(avutil_version())), qPrintable(v(avcodec_version())), qPrintable(v(avformat_version())),
                qPrintable(v(avfilter_version())), qPrintable(v(swscale_version())),
                qPrintable(v(swresample_version())));
}

int RunCategories(const QStringList& args)
{
    if (!args.isEmpty())
        return UsageError("categories takes no arguments");
    for (const QString& c : CatalogCategories())
        std::printf("%s\n", qPrintable(c));
    return kExitOk;
}

int RunProfiles(const QStringList& args)
{
    QString category;
    bool filtered = false;
    bool namesOnly = false;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--names") {
            namesOnly = true;
        } else if ((args[i] == "--category" || args[i] == "-c") && i + 1 < args.size()) {
            category = args[++i];
            filtered = true;
        } else if (args[i] == "--category" || args[i] == "-c") {
            return UsageError("--category needs a NAME");
        } else {
            return UsageError("unknown argument " + args[i] + " of profiles");
        }
    }
    const ProfileSet profiles(ProfileSet::UserStorePath());
    if (!profiles.Warning().isEmpty())
        PrintError("custom profiles not read: " + profiles.Warning());
    if (filtered && profiles.CategoryNamed(category).isEmpty())
        return UsageError("no category " + category + "; the categories are: " +
                          profiles.List().Categories().join(", "));
    const TAVProfileList& list = profiles.List();
    for (int i = 0; i < list.Count(); ++i) {
        const TAVProfile* p = list.Items(i);
        if (filtered && p->Category().compare(category.trimmed(), Qt::CaseInsensitive) != 0)
            continue;
        if (namesOnly) {
            std::printf("%s\n", qPrintable(p->Description()));
            continue;
        }
        std::printf("%-40s  %-14s  %s\n", qPrintable(p->Description()), qPrintable(p->Category()),
                    qPrintable(p->GetExtension()));
    }
    return kExitOk;
}

namespace {

void PrintProbe(const TAVProbe& probe)
{
    std::printf("File: %s\n", qPrintable(probe.FileName()));
    if (probe.HasVideo()) {
        std::printf("Video codec: %s\n", qPrintable(probe.VideoCodec()));
        std::printf("Frame size: %dx%d\n", probe.Width(), probe.Height());
        std::printf("Frame rate: %.3f\n", probe.FrameRate());
        std::printf("Video bitrate: %d\n", probe.VideoBitrate());
    } else {
        std::printf("Video: none\n");
    }
    if (probe.HasAudio()) {
        std::printf("Audio codec: %s\n", qPrintable(probe.AudioCodec()));
        std::printf("Sample rate: %d\n", probe.SampleRate());
        std::printf("Channels: %d\n", probe.Channels());
        std::printf("Audio bitrate: %d\n", probe.AudioBitrate());
    } else {
        std::printf("Audio: none\n");
    }
}

} // namespace

int RunProbe(const QStringList& args)
{
    if (args.size() != 1)
        return UsageError("probe needs one FILE");
    const QString file = args[0];
    if (!QFileInfo(file).isFile()) {
        PrintError(file + ": no such file");
        return kExitFailed;
    }
    TAVProbe probe;
    probe.SetFileName(file);
    try {
        probe.SetActive(true);
    } catch (const std::exception& e) {
        PrintError(file + ": Invalid Video/Audio File (" + QString::fromUtf8(e.what()) + ")");
        return kExitFailed;
    }
    if (!probe.HasVideo() && !probe.HasAudio()) {
        PrintError(file + ": Invalid Video/Audio File (no video or audio stream)");
        return kExitFailed;
    }
    PrintProbe(probe);
    return kExitOk;
}

int RunDvdList(const QStringList& args)
{
    if (args.size() != 1)
        return UsageError("dvd needs one PATH (drive, VIDEO_TS folder or ISO image)");
    try {
        const dvd::TDvdDisc disc = dvd::ListDvdTitles(args[0]);
        std::printf("%s [%s]\n", qPrintable(disc.Path), qPrintable(disc.VolumeLabel));
        for (const dvd::TDvdTitle& t : disc.Titles)
            std::printf("title %d  %02d:%02d:%02d  chapters %d  angles %d\n", t.Number, t.Hours, t.Minutes,
                        t.Seconds, int(t.Chapters.size()), t.AngleCount);
    } catch (const std::exception& e) {
        PrintError(args[0] + ": " + QString::fromUtf8(e.what()));
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace korvane::cli
