// The commands that only report: --help, --version, categories, profiles,
// probe and dvd.
#include "sources/AVProbe.h"
#include "Cli.h"
#include "av/FFmpeg.h"
#include "ProfileCatalog.h"
#include "Profiles.h"
#include "sources/dvd/DvdSource.h"

#include <QFileInfo>

namespace korvane::cli {

void PrintUsage(FILE* to)
{
    std::fputs(
        "Usage: korvane-cli COMMAND [options]\n"
        "\n"
        "Commands:\n"
        "  --version                 program and media library versions\n"
        "  --help                    this text\n"
        "  categories                the profile categories, in order\n"
        "  profiles [--category NAME]\n"
        "                            the profiles (name, category, extension): the catalog and\n"
        "                            your custom profiles; NAME is matched ignoring case\n"
        "  probe FILE                the first video and audio stream of a media file\n"
        "  dvd PATH                  list the titles of a DVD (number, duration, chapters, angles)\n"
        "  convert SOURCE... [options]\n"
        "                            convert every source on its own job; a source dvd:PATH is a\n"
        "                            DVD title (drive, VIDEO_TS folder or ISO), a folder needs\n"
        "                            --recursive; a source wavcap: records from the default ALSA\n"
        "                            capture device, wavcap:NAME from the ALSA device NAME\n"
        "                            (16-bit PCM at AudioOptions.AudioSampleRate, default 44100,\n"
        "                            with AudioOptions.AudioChannels, default 1; --end SECONDS\n"
        "                            ends the recording, Ctrl+C too)\n"
        "\n"
        "Options of convert:\n"
        "  -p, --profile NAME        apply a profile by its name (ignoring case); see 'profiles'\n"
        "  -o, --output PATH         one source: the output file (or an existing folder);\n"
        "                            several sources: the output folder (created when missing).\n"
        "                            Without -o the output goes to the configured output folder,\n"
        "                            named after the source with the profile's extension\n"
        "  -j, --jobs N              run at most N jobs at once (default: number of processors)\n"
        "  -r, --recursive           take the media files of folder sources and their subfolders\n"
        "  --set PATH=VALUE          set an option by its path, e.g. VideoOptions.VideoStreamCopy=1,\n"
        "                            AudioOptions.Bitrate=128000 (lists: lines separated by |);\n"
        "                            applied after the profile\n"
        "  --option NAME=VALUE       an encoder or muxer option (repeatable; after the profile)\n"
        "  --format NAME             output container format\n"
        "  --start SECONDS           start position in the sources\n"
        "  --end SECONDS             end position in the sources\n"
        "  --filter TEXT             video filter description; synth=SCRIPT runs a Lua script on\n"
        "                            every picture (write its commas as |; see the README)\n"
        "  --title N                 DVD title to convert (dvd: sources)\n"
        "  --chapters A-B            DVD chapter range (default: all)\n"
        "  --angle K                 DVD angle (default 1)\n"
        "  --overwrite               replace existing output files (otherwise such a job fails)\n"
        "  --resume                  carry on an output left by a stopped or killed run of the\n"
        "                            same source with the same settings (no output: convert)\n"
        "  --quiet                   no progress lines\n"
        "  --json                    print one JSON object per job on stdout when it ends\n"
        "  --log FILE                write every job's log lines to FILE\n"
        "\n"
        "Exit status: 0 every job completed, 1 a job failed, 2 bad command line,\n"
        "130 interrupted (Ctrl+C stops every job cleanly; a second Ctrl+C aborts at once).\n",
        to);
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
    for (int i = 0; i < args.size(); ++i) {
        if ((args[i] == "--category" || args[i] == "-c") && i + 1 < args.size()) {
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
