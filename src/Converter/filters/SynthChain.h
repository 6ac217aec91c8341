// The "synth" element of a video filter description and the part of a video
// chain that runs it.
//
// In a stored description, `synth=SCRIPT` takes everything after "synth="
// up to the next "," as the script; every "|" in it becomes ",". Anything
// else ("=", ":", ";", brackets, quotes, spaces) reaches the script
// unchanged. libavfilter cannot host an outside filter, so the engine cuts
// the chain at each synth element: the filters before it run in a graph of
// their own that ends in yuv420p or yuvj420p, the script runs on each picture
// in C++, and the pictures go on into the next graph. The last graph (the
// filters after the last synth element, the encoder's format and the sink)
// stays with the video path.
#pragma once

#include "filters/SynthScript.h"
#include "av/FFmpeg.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace korvane {

// A stored description cut at its synth elements.
struct SynthSplit
{
    // The filter text between synth elements, in order: one more than scripts.
    QStringList segments;
    // The script of each synth element, "|" already turned into ","; nothing
    // for a "synth" without an argument.
    QList<std::optional<QString>> scripts;

    bool HasSynth() const { return !scripts.isEmpty(); }
};

SynthSplit SplitAtSynth(const QString& stored);

// What enters or leaves a chain.
struct PictureFormat
{
    int width = 0;
    int height = 0;
    int pixelFormat = -1; // AVPixelFormat
    AVRational timeBase{1, 25};
    AVRational sampleAspect{0, 1};
    AVRational frameRate{0, 1}; // 0/1 when unknown
    // The time of the source's first picture in seconds (a container's start
    // time, 1.4 s in an MPEG-TS): scripts see times from there, so that
    // frame.time is 0 at the first picture.
    double startSeconds = 0;
};

// The start of a stream's pictures in seconds: its own start time, else its
// container's, else 0.
double StreamStartSeconds(const AVFormatContext* container, const AVStream* stream);

class TSynthChain
{
public:
    struct Settings
    {
        QString head;                                // the engine's own filters first (deinterlacer, scaler)
        std::function<void(AVFilterGraph*)> prepare; // called on each new graph (log routing, threads)
        TSynthScript::LogFunction log;               // the job's log, for errors
        TSynthScript::StopFunction stop;             // true once the job is being stopped
    };

    // Builds the graphs and script states up to the last synth element of
    // split. Returns 0 or a negative AVERROR code; the reason is logged.
    int Configure(const PictureFormat& input, const SynthSplit& split, const Settings& settings);

    // The pictures leaving the last script.
    const PictureFormat& Output() const { return m_output; }

    // Feeds one decoded picture (nullptr at the end of the stream) and runs
    // it through the chain; what comes out waits for TakeOutput. Raises
    // EEngineError when a graph fails.
    void Send(const AVFrame* picture);
    // The next picture that left the chain, or nothing.
    av::FramePtr TakeOutput();

    // The script of the element at index (for tests and benchmarks).
    TSynthScript* Script(int index) const;

private:
    struct PoolDeleter
    {
        void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
    };
    struct Stage
    {
        av::FilterGraphPtr graph;
        AVFilterContext* source = nullptr;
        AVFilterContext* sink = nullptr;
        std::unique_ptr<TSynthScript> script;
        int64_t number = 0; // pictures run through the script
        bool ended = false;
        std::unique_ptr<AVBufferPool, PoolDeleter> pool; // buffers of the writable copies
        int poolSize = 0;
    };

    int BuildStage(Stage& stage, const PictureFormat& in, const QString& text, const Settings& settings);
    void Pump(size_t first);
    void RunScript(Stage& stage, AVFrame* picture);
    static int WritableCopy(Stage& stage, const AVFrame* source, AVFrame* copy);

    std::vector<Stage> m_stages;
    PictureFormat m_output;
    std::deque<av::FramePtr> m_ready;
};

} // namespace korvane
