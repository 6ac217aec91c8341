// The preview's filter graph: the job's filter description between a buffer
// source and a buffer sink, with the scripts of "synth" elements before it.
#include "preview/PushSource.h"

#include "filters/FilterDescription.h"
#include "filters/SynthChain.h"
#include "options/Persistent.h"

namespace korvane {

namespace {

AVFilterContext* CreateFilter(AVFilterGraph* graph, const char* filter, const char* name, const char* args)
{
    AVFilterContext* ctx = avfilter_graph_alloc_filter(graph, avfilter_get_by_name(filter), name);
    if (!ctx)
        throw EEngineError("Can not create filter");
    if (avfilter_init_str(ctx, args) < 0)
        throw EEngineError("Can not init filter");
    return ctx;
}

void PrepareGraph(AVFilterGraph* graph, int logJob)
{
    av_opt_set(graph, "scale_sws_opts", "flags=bicubic", 0);
    TagContext(graph, logJob);
}

// The graphs and scripts up to the last synth element of split, as a
// conversion runs them; input becomes the format of the pictures leaving
// the last script. Nothing when they do not build.
std::unique_ptr<TSynthChain> BuildSynthChain(const SynthSplit& split, PictureFormat& input, int logJob,
                                             TSynthScript::LogFunction log, TSynthScript::StopFunction stop)
{
    auto chain = std::make_unique<TSynthChain>();
    TSynthChain::Settings settings;
    settings.prepare = [logJob](AVFilterGraph* graph) { PrepareGraph(graph, logJob); };
    settings.log = std::move(log);
    settings.stop = std::move(stop);
    if (chain->Configure(input, split, settings) < 0)
        return nullptr;
    input = chain->Output();
    return chain;
}

} // namespace

void TFFPushSource::BuildGraphLocked()
{
    m_synth.reset();
    m_graph.reset();
    m_bufferSource = m_bufferSink = nullptr;
    m_graphError.clear();
    m_outWidth = m_outHeight = 0;
    if (!m_video)
        return;
    AVStream* st = Stream(AVMEDIA_TYPE_VIDEO);
    av::FilterGraphPtr graph(avfilter_graph_alloc());
    if (!graph)
        throw EEngineError("Can not create filter");
    PrepareGraph(graph.get(), m_logJob);
    TakeLibraryError(); // only this graph's reasons
    AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : st->codecpar->sample_aspect_ratio;
    if (!sar.num || !sar.den)
        sar = {0, 1};
    PictureFormat in{m_graphWidth, m_graphHeight, m_graphFormat, st->time_base, sar};
    in.startSeconds = StreamStartSeconds(m_format.get(), st);
    // a job that deinterlaces puts the deinterlacer first, as the conversion does
    QString description = m_filters;
    if (m_deinterlace)
        description = description.isEmpty() ? QStringLiteral("yadif") : QStringLiteral("yadif,") + description;
    const SynthSplit split = SplitAtSynth(description);
    std::unique_ptr<TSynthChain> synth;
    if (split.HasSynth())
        synth = BuildSynthChain(
            split, in, m_logJob, [this](const QString& text) { LogSynthError(text); },
            [this] { return m_closing || m_filterChangesWaiting > 0; });
    if (split.HasSynth() && !synth)
        throw EEngineError(WithReason(QStringLiteral("Parse Graph Failed")).toStdString());
    const QString filters = split.segments.last();
    const QByteArray args = QString::asprintf("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                                              in.width, in.height, in.pixelFormat, in.timeBase.num,
                                              in.timeBase.den, in.sampleAspect.num, in.sampleAspect.den)
                                .toUtf8();
    AVFilterContext* source = CreateFilter(graph.get(), "buffer", "src", args.constData());
    AVFilterContext* sink = CreateFilter(graph.get(), "buffersink", "out", nullptr);
    QString user;
    if (!filters.trimmed().isEmpty()) {
        try {
            user = BuildFilterGraphText(filters, FilterInput{in.width, in.height, in.pixelFormat});
        } catch (const EEngineError& e) {
            throw EEngineError(QStringLiteral("Parse Graph Failed: %1").arg(QString::fromUtf8(e.what())).toStdString());
        }
    }
    if (user.isEmpty()) {
        if (avfilter_link(source, 0, sink, 0) < 0)
            throw EEngineError("line filter failed");
    } else {
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        av::InOutPtr outputsOwner(outputs), inputsOwner(inputs);
        if (!outputs || !inputs)
            throw std::bad_alloc();
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        AVFilterInOut* in = inputsOwner.release();
        AVFilterInOut* out = outputsOwner.release();
        const int ret = avfilter_graph_parse_ptr(graph.get(), WrapUserGraph(user, {}, {}).toUtf8().constData(), &in,
                                                 &out, graph.get()); // its errors carry the graph's log tag
        avfilter_inout_free(&in);
        avfilter_inout_free(&out);
        if (ret < 0)
            throw EEngineError(WithReason(QStringLiteral("Parse Graph Failed")).toStdString());
    }
    if (avfilter_graph_config(graph.get(), nullptr) < 0)
        throw EEngineError(WithReason(QStringLiteral("config graph failed")).toStdString());
    m_bufferSource = source;
    m_bufferSink = sink;
    m_graph = std::move(graph);
    m_synth = std::move(synth);
    m_outWidth = av_buffersink_get_w(sink);
    m_outHeight = av_buffersink_get_h(sink);
}

void TFFPushSource::LogSynthError(const QString& text)
{
    // the scripts start afresh at each seek: their errors are shown once
    // per description all the same
    if (m_synthErrorsLogged.contains(text))
        return;
    m_synthErrorsLogged << text;
    if (m_onError)
        m_onError(this, text);
}

void TFFPushSource::SetVideoFilters(const QString& description)
{
    // a script running on the streaming thread stops its picture, so the
    // lock comes at once even when the script loops
    ++m_filterChangesWaiting;
    std::unique_lock<std::mutex> lock = LockStream();
    --m_filterChangesWaiting;
    if (description != m_filters)
        m_synthErrorsLogged.clear();
    m_filters = description;
    RebuildGraphLocked();
}

void TFFPushSource::SetDeinterlace(bool deinterlace)
{
    std::unique_lock<std::mutex> lock = LockStream();
    if (deinterlace == m_deinterlace)
        return;
    m_deinterlace = deinterlace;
    try {
        RebuildGraphLocked();
    } catch (const EEngineError&) {
        // kept in GraphError: the source shows no pictures until it builds
    }
}

void TFFPushSource::RebuildGraphLocked()
{
    if (!m_video)
        return;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_videoQueue.clear();
        m_videoQueueBytes = 0;
    }
    m_wake.notify_all();
    try {
        BuildGraphLocked();
    } catch (const EEngineError& e) {
        m_graphError = QString::fromUtf8(e.what());
        throw;
    }
}

QString TFFPushSource::VideoFilters() const
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    return m_filters;
}

QString TFFPushSource::GraphError() const
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    return m_graphError;
}

} // namespace korvane
