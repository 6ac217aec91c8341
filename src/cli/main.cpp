// korvane-cli: the command-line front end over the conversion engine.
#include "AVConverter.h"
#include "AVLib.h"
#include "Messages.h"
#include "PropertyPath.h"
#include "FFmpeg.h"
#include "StreamProtocol.h"
#include "dvd/DvdSource.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <memory>

using namespace korvane;

namespace {

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

void PrintUsage(FILE* to)
{
    std::fputs(
        "Usage: korvane-cli COMMAND [options]\n"
        "\n"
        "Commands:\n"
        "  --version                 program and media library versions\n"
        "  --help                    this text\n"
        "  convert SOURCE... -o OUTPUT [options]\n"
        "                            convert the sources into one output file; a source\n"
        "                            dvd:PATH is a DVD title (drive, VIDEO_TS folder or ISO)\n"
        "  dvd PATH                  list the titles of a DVD (number, duration, chapters, angles)\n"
        "\n"
        "Options of convert:\n"
        "  -o, --output FILE         output file (its name chooses the container)\n"
        "  --set PATH=VALUE          set an option by its path, e.g. VideoOptions.VideoStreamCopy=1,\n"
        "                            AudioOptions.Bitrate=128000 (lists: lines separated by |)\n"
        "  --option NAME=VALUE       an encoder or muxer option (repeatable)\n"
        "  --format NAME             output container format\n"
        "  --start SECONDS           start position in the sources\n"
        "  --end SECONDS             end position in the sources\n"
        "  --filter TEXT             video filter description\n"
        "  --title N                 DVD title to convert (dvd: sources)\n"
        "  --chapters A-B            DVD chapter range (default: all)\n"
        "  --angle K                 DVD angle (default 1)\n"
        "  --overwrite               replace an existing output file\n"
        "  --quiet                   no progress lines\n",
        to);
}

int UsageError(const QString& text)
{
    std::fprintf(stderr, "korvane-cli: %s\n", qPrintable(text));
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

bool ParseSeconds(const QString& text, int64_t* us)
{
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || s < 0 || s > 1e9)
        return false;
    *us = int64_t(s * 1000000.0 + 0.5);
    return true;
}

struct ConvertJob
{
    QStringList sources;
    QString output;
    bool overwrite = false;
    bool quiet = false;
};

int RunConvert(QCoreApplication& app, const QStringList& args)
{
    auto converter = std::make_unique<TAVConverter>();
    TAVConvertOptions* o = converter->ConvertOptions();
    ConvertJob job;
    int64_t startUs = -1, endUs = -1;
    int title = 0, angle = 1, firstChapter = 1, lastChapter = 0;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto next = [&](QString* value) {
            if (i + 1 >= args.size())
                return false;
            *value = args[++i];
            return true;
        };
        QString value;
        if (a == "-o" || a == "--output") {
            if (!next(&job.output))
                return UsageError("-o needs a file name");
        } else if (a == "--set") {
            if (!next(&value) || !value.contains('='))
                return UsageError("--set needs PATH=VALUE");
            const int eq = value.indexOf('=');
            const QString error = SetPropertyByPath(o, value.left(eq), value.mid(eq + 1));
            if (!error.isEmpty())
                return UsageError("--set " + value.left(eq) + ": " + error);
        } else if (a == "--option") {
            if (!next(&value) || !value.contains('='))
                return UsageError("--option needs NAME=VALUE");
            o->m_codecOptions.append(value);
        } else if (a == "--format") {
            if (!next(&o->m_outputFormat))
                return UsageError("--format needs a name");
        } else if (a == "--start" || a == "--end") {
            int64_t us = 0;
            if (!next(&value) || !ParseSeconds(value, &us))
                return UsageError(a + " needs a number of seconds");
            (a == "--start" ? startUs : endUs) = us;
        } else if (a == "--filter") {
            if (!next(&value))
                return UsageError("--filter needs a text");
            o->FilterOptions()->m_videoFilters = value;
        } else if (a == "--title" || a == "--angle") {
            bool ok = false;
            const int n = next(&value) ? value.toInt(&ok) : 0;
            if (!ok || n < 1)
                return UsageError(a + " needs a number from 1");
            (a == "--title" ? title : angle) = n;
        } else if (a == "--chapters") {
            if (!next(&value) || !dvd::ParseChapterRange(value, &firstChapter, &lastChapter))
                return UsageError("--chapters needs a range A-B");
        } else if (a == "--overwrite") {
            job.overwrite = true;
        } else if (a == "--quiet") {
            job.quiet = true;
        } else if (a.startsWith('-') && a.size() > 1) {
            return UsageError("unknown option " + a);
        } else {
            job.sources << a;
        }
    }
    if (job.sources.isEmpty())
        return UsageError("convert needs at least one source");
    if (job.output.isEmpty())
        return UsageError("convert needs an output (-o FILE)");
    if (endUs >= 0 && endUs <= std::max<int64_t>(startUs, 0))
        return UsageError("--end must be after --start");
    if (startUs > 0)
        o->m_startTime = startUs;
    if (endUs >= 0)
        o->m_recordingTime = endUs - std::max<int64_t>(startUs, 0);
    QStringList inputs;
    for (const QString& s : job.sources) {
        if (!s.startsWith("dvd:"))
            continue;
        if (title < 1)
            return UsageError("a dvd: source needs --title N");
        try {
            const dvd::TDvdSource source = dvd::OpenDvdSource(s.mid(4), title, firstChapter, lastChapter, angle);
            inputs << source.Name + ".vob";
        } catch (const std::exception& e) {
            std::fprintf(stderr, "korvane-cli: %s: %s\n", qPrintable(s), e.what());
            return kExitFailed;
        }
    }
    for (const QString& s : job.sources)
        if (!s.startsWith("dvd:")) {
            if (!QFileInfo(s).isFile()) {
                std::fprintf(stderr, "korvane-cli: %s: no such file\n", qPrintable(s));
                return kExitFailed;
            }
        }
    if (QFileInfo::exists(job.output) && !job.overwrite) {
        std::fprintf(stderr, "korvane-cli: %s exists (use --overwrite to replace it)\n", qPrintable(job.output));
        return kExitFailed;
    }
    for (const QString& s : job.sources)
        if (!s.startsWith("dvd:"))
            inputs << s;
    converter->SetInputFiles(inputs);
    converter->SetOutputFiles({job.output});

    bool failed = false;
    converter->OnFailed = [&](TAVConverter* c) {
        failed = true;
        const QString last = c->LastLogLine();
        std::fprintf(stderr, "korvane-cli: %s%s%s\n", qPrintable(c->ErrorText()), last.isEmpty() ? "" : ": ",
                     qPrintable(last));
    };
    converter->OnFinished = [&](TAVConverter*) { app.quit(); };
    int lastShown = -1;
    converter->OnProgress = [&](TAVConverter* c) {
        if (job.quiet)
            return;
        const int p = c->Progress();
        if (p != lastShown) {
            lastShown = p;
            std::fprintf(stderr, "\r%3d%%  %s  %lld KB  %.1f kbit/s", p, qPrintable(TimeText(c->GetElapsedTime())),
                         static_cast<long long>(c->OutputSize() / 1024), c->Bitrate());
        }
    };
    QTimer::singleShot(0, [&] { converter->Start(); });
    app.exec();
    if (!job.quiet && lastShown >= 0)
        std::fputs("\n", stderr);
    if (failed || !converter->ErrorText().isEmpty())
        return kExitFailed;
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
        std::fprintf(stderr, "korvane-cli: %s: %s\n", qPrintable(args[0]), e.what());
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MessageService::Install([](MessageKind kind, const QString& caption, const QString& text) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        return kind != MessageKind::Confirm;
    });
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const QString command = args.takeFirst();
    if (command == "--version") {
        PrintVersion();
        return kExitOk;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (command == "convert")
        return RunConvert(app, args);
    if (command == "dvd")
        return RunDvdList(args);
    return UsageError("unknown command " + command);
}
