#include "filters/SynthChain.h"

#include "filters/FilterDescription.h"
#include "options/Persistent.h"

namespace korvane {

namespace {

// The element starting at pos, leading spaces skipped, when it is a synth
// element: "synth" alone or "synth=..." (not "synthesis=...").
bool IsSynthAt(const QString& s, qsizetype pos, qsizetype* nameEnd)
{
    while (pos < s.size() && s[pos] == u' ')
        ++pos;
    if (!QStringView(s).mid(pos).startsWith(u"synth")) return false;
    const qsizetype after = pos + 5;
    if (after < s.size() && s[after] != u'=' && s[after] != u',' && s[after] != u' ') return false;
    *nameEnd = after;
    return true;
}

// Where the element starting at pos ends: the next "," outside single quotes
// (drawtext texts are quoted and may hold commas).
qsizetype ElementEnd(const QString& s, qsizetype pos)
{
    bool quoted = false;
    for (qsizetype i = pos; i < s.size(); ++i) {
        if (s[i] == u'\\' && i + 1 < s.size()) {
            ++i;
            continue;
        }
        if (s[i] == u'\'')
            quoted = !quoted;
        else if (s[i] == u',' && !quoted)
            return i;
    }
    return s.size();
}

QString SourceArguments(const PictureFormat& f)
{
    QString args = QString::asprintf("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", f.width,
                                     f.height, f.pixelFormat, f.timeBase.num, f.timeBase.den, f.sampleAspect.num,
                                     f.sampleAspect.den);
    if (f.frameRate.num > 0 && f.frameRate.den > 0)
        args += QString::asprintf(":frame_rate=%d/%d", f.frameRate.num, f.frameRate.den);
    return args;
}

} // namespace

double StreamStartSeconds(const AVFormatContext* container, const AVStream* stream)
{
    if (stream && stream->start_time != AV_NOPTS_VALUE && stream->time_base.den)
        return double(stream->start_time) * av_q2d(stream->time_base);
    if (container && container->start_time != AV_NOPTS_VALUE)
        return double(container->start_time) / AV_TIME_BASE;
    return 0;
}

SynthSplit SplitAtSynth(const QString& stored)
{
    SynthSplit split;
    qsizetype segmentStart = 0;
    for (qsizetype pos = 0; pos <= stored.size();) {
        qsizetype nameEnd = 0;
        if (!IsSynthAt(stored, pos, &nameEnd)) {
            pos = ElementEnd(stored, pos) + 1;
            continue;
        }
        // the script runs to the next ',' whatever it holds: its own commas are written "|"
        qsizetype end = stored.indexOf(u',', nameEnd);
        if (end < 0) end = stored.size();
        split.segments << stored.mid(segmentStart, std::max<qsizetype>(0, pos - 1 - segmentStart));
        if (nameEnd < stored.size() && stored[nameEnd] == u'=') {
            QString script = stored.mid(nameEnd + 1, end - nameEnd - 1);
            script.replace(u'|', u',');
            split.scripts << script;
        } else {
            split.scripts << std::nullopt; // "synth" without "=": no argument
        }
        segmentStart = end + 1;
        pos = end + 1;
    }
    if (!split.HasSynth())
        split.segments = QStringList{stored};
    else
        split.segments << (segmentStart < stored.size() ? stored.mid(segmentStart) : QString());
    return split;
}

int TSynthChain::Configure(const PictureFormat& input, const SynthSplit& split, const Settings& settings)
{
    m_stages.clear();
    m_ready.clear();
    PictureFormat in = input;
    for (qsizetype k = 0; k < split.scripts.size(); ++k) {
        if (!split.scripts[k]) {
            if (settings.log) settings.log(QStringLiteral("The synth filter needs a script: synth=SCRIPT"));
            return AVERROR(EINVAL);
        }
        Stage stage;
        QString user;
        try {
            stage.script = std::make_unique<TSynthScript>(*split.scripts[k], settings.log, settings.stop);
            if (!split.segments[k].trimmed().isEmpty())
                user =
                    BuildFilterGraphText(split.segments[k], FilterInput{in.width, in.height, in.pixelFormat});
        } catch (const std::exception& e) {
            if (settings.log) settings.log(QString::fromUtf8(e.what()));
            return AVERROR(EINVAL);
        }
        QStringList chain;
        if (k == 0 && !settings.head.isEmpty()) chain << settings.head;
        if (!user.isEmpty()) chain << user;
        const int ret = BuildStage(stage, in, chain.join(u','), settings);
        if (ret < 0) return ret;
        in.width = av_buffersink_get_w(stage.sink);
        in.height = av_buffersink_get_h(stage.sink);
        in.pixelFormat = av_buffersink_get_format(stage.sink);
        in.timeBase = av_buffersink_get_time_base(stage.sink);
        in.sampleAspect = av_buffersink_get_sample_aspect_ratio(stage.sink);
        in.frameRate = av_buffersink_get_frame_rate(stage.sink);
        m_stages.push_back(std::move(stage));
    }
    m_output = in;
    return 0;
}

int TSynthChain::BuildStage(Stage& stage, const PictureFormat& in, const QString& text,
                            const Settings& settings)
{
    stage.graph.reset(avfilter_graph_alloc());
    if (!stage.graph) return AVERROR(ENOMEM);
    AVFilterGraph* graph = stage.graph.get();
    if (settings.prepare) settings.prepare(graph);
    int ret = avfilter_graph_create_filter(&stage.source, avfilter_get_by_name("buffer"), "src",
                                           SourceArguments(in).toUtf8().constData(), nullptr, graph);
    if (ret < 0) return ret;
    ret = avfilter_graph_create_filter(&stage.sink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                       nullptr, graph);
    if (ret < 0) return ret;
    // the script works on 8-bit 4:2:0 pictures
    const QString format = QStringLiteral("format=pix_fmts=yuv420p|yuvj420p");
    QString description;
    if (text.isEmpty()) {
        description = format;
    } else {
        // the user's part may name [in] and [out] itself (a logo): wrap it
        QString body = text;
        body.replace(QLatin1String("[in]"), QLatin1String("[kv_synth_in]"));
        body.replace(QLatin1String("[out]"), QLatin1String("[kv_synth_out]"));
        if (!text.contains(QLatin1String("[in]"))) body.prepend(QLatin1String("[kv_synth_in]"));
        if (!text.contains(QLatin1String("[out]"))) body.append(QLatin1String("[kv_synth_out]"));
        description = QStringLiteral("[in]null[kv_synth_in];[kv_synth_out]%1[out];%2").arg(format, body);
    }
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (!outputs || !inputs) {
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        return AVERROR(ENOMEM);
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = stage.source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = stage.sink;
    ret = avfilter_graph_parse_ptr(graph, description.toUtf8().constData(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (ret < 0) {
        if (settings.log)
            settings.log(QStringLiteral("Cannot build the filter graph \"%1\"").arg(description));
        return ret;
    }
    return avfilter_graph_config(graph, nullptr);
}

void TSynthChain::Send(const AVFrame* picture)
{
    if (m_stages.empty()) return;
    Stage& first = m_stages.front();
    const int ret = picture ? av_buffersrc_add_frame_flags(first.source, const_cast<AVFrame*>(picture),
                                                           AV_BUFFERSRC_FLAG_KEEP_REF)
                            : av_buffersrc_add_frame(first.source, nullptr);
    if (ret < 0 && picture) throw EEngineError("Error while feeding the filter graph");
    Pump(0);
}

void TSynthChain::Pump(size_t first)
{
    for (size_t k = first; k < m_stages.size(); ++k) {
        Stage& stage = m_stages[k];
        for (;;) {
            av::FramePtr picture = av::NewFrame();
            if (!picture) throw EEngineError("Out of memory");
            const int ret = av_buffersink_get_frame(stage.sink, picture.get());
            if (ret == AVERROR(EAGAIN)) break;
            if (ret == AVERROR_EOF) {
                if (!stage.ended && k + 1 < m_stages.size() &&
                    av_buffersrc_add_frame(m_stages[k + 1].source, nullptr) < 0)
                    throw EEngineError("Error while filtering video");
                stage.ended = true;
                break;
            }
            if (ret < 0) throw EEngineError("Error while filtering video");
            RunScript(stage, picture.get());
            if (k + 1 < m_stages.size()) {
                if (av_buffersrc_add_frame(m_stages[k + 1].source, picture.get()) < 0)
                    throw EEngineError("Error while feeding the filter graph");
            } else {
                m_ready.push_back(std::move(picture));
            }
        }
    }
}

void TSynthChain::RunScript(Stage& stage, AVFrame* picture)
{
    const int64_t number = stage.number++;
    // a picture shared with the decoder is copied before the script writes
    // on it; the shared one then stays as it was and serves to undo a failure
    av::FramePtr original;
    if (!av_frame_is_writable(picture)) {
        original = av::NewFrame();
        if (!original) throw EEngineError("Out of memory");
        av_frame_move_ref(original.get(), picture);
        if (WritableCopy(stage, original.get(), picture) < 0) throw EEngineError("Out of memory");
    }
    double seconds = 0;
    const AVRational tb = av_buffersink_get_time_base(stage.sink);
    if (picture->pts != AV_NOPTS_VALUE && tb.den)
        seconds = double(picture->pts) * av_q2d(tb) - m_output.startSeconds;
    else if (const AVRational rate = av_buffersink_get_frame_rate(stage.sink); rate.num > 0 && rate.den > 0)
        seconds = double(number) / av_q2d(rate);
    stage.script->Process(picture, number, seconds, original.get());
}

int TSynthChain::WritableCopy(Stage& stage, const AVFrame* source, AVFrame* copy)
{
    // pooled: a fresh 1080p buffer per picture would cost page faults each time
    const auto format = AVPixelFormat(source->format);
    const int size = av_image_get_buffer_size(format, source->width, source->height, 64);
    if (size < 0) return size;
    if (!stage.pool || stage.poolSize != size) {
        stage.pool.reset(av_buffer_pool_init(size_t(size), av_buffer_alloc));
        stage.poolSize = size;
        if (!stage.pool) return AVERROR(ENOMEM);
    }
    copy->buf[0] = av_buffer_pool_get(stage.pool.get());
    if (!copy->buf[0]) return AVERROR(ENOMEM);
    copy->width = source->width;
    copy->height = source->height;
    copy->format = source->format;
    int ret = av_image_fill_arrays(copy->data, copy->linesize, copy->buf[0]->data, format, source->width,
                                   source->height, 64);
    if (ret >= 0) ret = av_frame_copy_props(copy, source);
    if (ret >= 0) ret = av_frame_copy(copy, source);
    if (ret < 0) av_frame_unref(copy);
    return ret;
}

av::FramePtr TSynthChain::TakeOutput()
{
    if (m_ready.empty()) return {};
    av::FramePtr next = std::move(m_ready.front());
    m_ready.pop_front();
    return next;
}

TSynthScript* TSynthChain::Script(int index) const
{
    return index >= 0 && size_t(index) < m_stages.size() ? m_stages[size_t(index)].script.get() : nullptr;
}

} // namespace korvane
