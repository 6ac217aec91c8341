// Measures the preview's decoding source (bench/preview.sh runs it).
//   korvane_preview_bench throughput FILE [FILTERS]
//     every picture of FILE through the filters into BGRA, as fast as the
//     source delivers them; prints "pictures seconds pictures_per_second"
//   korvane_preview_bench seek FILE COUNT
//     COUNT seeks to random times (fixed seed), each timed from the request
//     to the picture asked for; prints "median_ms p90_ms max_ms"
//   korvane_preview_bench memory FILE AT_SECONDS WAIT_SECONDS
//     a paused pane: the picture at AT_SECONDS is taken, then nothing more
//     for WAIT_SECONDS; prints "peak_rss_mb queued_pictures queued_sound_s"
#include "preview/PushSource.h"

#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace korvane;
using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

static int Throughput(const QString& file, const QString& filters)
{
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.SetVideoFilters(filters);
    const auto start = Clock::now();
    source.Load(file);
    long pictures = 0;
    while (!source.EndOfStream()) {
        if (source.WaitVideo(100))
            ++pictures;
    }
    const double s = Seconds(start);
    if (!source.ErrorText().isEmpty() || !source.GraphError().isEmpty()) {
        std::fprintf(stderr, "%s%s\n", qPrintable(source.ErrorText()), qPrintable(source.GraphError()));
        return 1;
    }
    std::printf("%ld %.3f %.1f\n", pictures, s, double(pictures) / s);
    return 0;
}

static int SeekLatency(const QString& file, int count)
{
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.Load(file);
    if (!source.WaitVideo(10000))
        return 1;
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> anyTime(0, std::max<int64_t>(1, source.TotalDurationUs() - 1));
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const int64_t target = anyTime(random);
        const auto start = Clock::now();
        source.Seek(target);
        const TFFSamplePtr picture = source.WaitVideo(10000);
        if (!picture)
            return 1;
        ms.push_back(Seconds(start) * 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.1f %.1f %.1f\n", ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
    return 0;
}

static int PausedMemory(const QString& file, double atSeconds, double waitSeconds)
{
    TFFPushSource source;
    source.Load(file);
    if (atSeconds > 0)
        source.Seek(int64_t(atSeconds * 1e6));
    if (source.VideoStreamCount() > 0 && !source.WaitVideo(30000))
        return 1;
    // paused: the shown picture stays, nothing more is taken
    std::this_thread::sleep_for(std::chrono::duration<double>(waitSeconds));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.1f %d %.2f\n", double(usage.ru_maxrss) / 1024.0, source.QueuedVideo(),
                double(source.QueuedAudioUs()) / 1e6);
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == "throughput")
        return Throughput(args[2], args.value(3));
    if (args.size() >= 4 && args[1] == "seek")
        return SeekLatency(args[2], args[3].toInt());
    if (args.size() >= 5 && args[1] == "memory")
        return PausedMemory(args[2], args[3].toDouble(), args[4].toDouble());
    std::fprintf(stderr, "usage: korvane_preview_bench throughput FILE [FILTERS] | seek FILE COUNT | "
                         "memory FILE AT_SECONDS WAIT_SECONDS\n");
    return 2;
}
