// Video path: one filter graph per re-encoded stream (buffer source,
// optional deinterlacer and scaler, the user's filters, a format filter for
// the encoder and the buffer sink), and the encoder with the frame
// duplicate/drop logic that keeps the output frame rate.
#include "transcode/AVConverter.h"
#include "filters/FilterDescription.h"
#include "filters/SynthChain.h"
#include "transcode/Transcoder.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/video_enc_params.h>
}

namespace korvane {

namespace {

// The quantiser the source picture was coded with, as an encoder quality
// (lambda), where the decoder exports it: the MPEG-1, MPEG-2, MPEG-4 Part 2
// and H.263 decoders give one per macroblock, which these encoders share
// (MPEG-2 in its quantiser codes, the others doubled). Otherwise fallback,
// the fixed quality the stream was opened with.
int SourceQuality(const AVFrame* picture, AVCodecID source, int fallback)
{
    const AVFrameSideData* sd = av_frame_get_side_data(picture, AV_FRAME_DATA_VIDEO_ENC_PARAMS);
    if (!sd || sd->size < sizeof(AVVideoEncParams))
        return fallback;
    auto* params = reinterpret_cast<AVVideoEncParams*>(sd->data);
    if (params->type != AV_VIDEO_ENC_PARAMS_MPEG2)
        return fallback;
    double qp = params->qp;
    if (params->nb_blocks > 0) {
        double sum = 0;
        for (unsigned i = 0; i < params->nb_blocks; ++i)
            sum += av_video_enc_params_block(params, i)->delta_qp;
        qp += sum / params->nb_blocks;
    }
    const double qscale = source == AV_CODEC_ID_MPEG2VIDEO ? qp : qp / 2.0;
    if (qscale <= 0)
        return fallback;
    return int(std::lround(std::clamp(qscale, 1.0, 31.0) * FF_QP2LAMBDA));
}

} // namespace

int Transcoder::ConfigureFilters(TAVInputStream& ist, TAVOutputStream& ost)
{
    AVCodecContext* enc = ost.encoder();
    const AVCodecParameters* par = ist.stream->codecpar;
    const int inWidth = ost.sourceWidth, inHeight = ost.sourceHeight, inFormat = ost.sourcePixFmt;
    ost.graph.reset(avfilter_graph_alloc());
    if (!ost.graph)
        return AVERROR(ENOMEM);
    AVFilterGraph* graph = ost.graph.get();
    TagContext(graph, m_c.LogJobId());
    graph->nb_threads = std::max(0, m_o.m_threadCount);
    // the conversions the graph adds on its own scale with the job's flags too
    graph->scale_sws_opts = av_strdup(QString::asprintf("flags=0x%X", unsigned(m_o.ScalerFlags)).toUtf8().constData());
    if (!graph->scale_sws_opts)
        return AVERROR(ENOMEM);
    const AVRational tb = ist.stream->time_base;
    AVRational sar = ist.stream->sample_aspect_ratio.num ? ist.stream->sample_aspect_ratio : par->sample_aspect_ratio;
    if (!sar.num)
        sar = {0, 1};
    int ret = 0;

    // the chain as text: [in] deinterlace, scale, user filters, encoder format [out]
    QStringList chain;
    if (m_o.VideoOptions()->m_deinterlace)
        chain << QStringLiteral("yadif");
    if (enc->width != inWidth || enc->height != inHeight) {
        if (enc->width <= 0 || enc->height <= 0)
            return AVERROR(EINVAL);
        chain << QString::asprintf("scale=%d:%d:flags=0x%X", enc->width, enc->height, unsigned(m_o.ScalerFlags));
    }
    QString stored = m_o.FilterOptions()->m_videoFilters;
    FilterInput userInput{enc->width, enc->height, int(enc->pix_fmt)};
    PictureFormat source{inWidth, inHeight, inFormat, tb, sar};
    // the pictures come in the job's time: the source's first picture moved by the input's offset
    const InputEntry& input = m_e.inputs[ist.file];
    source.startSeconds =
        StreamStartSeconds(input.ctx.get(), ist.stream) + double(input.tsOffsetUs) / AV_TIME_BASE;
    // the source's nominal rate goes with the pictures through the filters
    // (which may change it): the frame rate conversion takes a picture's
    // length from the rate that comes out
    source.frameRate = av_guess_frame_rate(input.ctx.get(), ist.stream, nullptr);
    if (source.frameRate.num <= 0 || source.frameRate.den <= 0)
        source.frameRate = {0, 1};
    ost.synth.reset();
    if (const SynthSplit split = SplitAtSynth(stored); split.HasSynth()) {
        // the filters up to the last script run in graphs of their own; this
        // graph takes the scripts' pictures
        ost.synth = std::make_unique<TSynthChain>();
        TSynthChain::Settings settings;
        settings.head = chain.join(QLatin1Char(','));
        const int jobId = m_c.LogJobId(), threads = std::max(0, m_o.m_threadCount);
        settings.prepare = [jobId, threads](AVFilterGraph* g) {
            TagContext(g, jobId);
            g->nb_threads = threads;
        };
        settings.log = [this](const QString& text) { m_c.DoLog(AV_LOG_ERROR, text); };
        settings.stop = [this] { return m_c.StopRequested(); };
        if ((ret = ost.synth->Configure(source, split, settings)) < 0)
            return ret;
        source = ost.synth->Output();
        chain.clear();
        stored = split.segments.last();
        userInput = FilterInput{source.width, source.height, source.pixelFormat};
    }
    QString srcArgs = QString::asprintf("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
                                        source.width, source.height, source.pixelFormat, source.timeBase.num,
                                        source.timeBase.den, source.sampleAspect.num, source.sampleAspect.den);
    if (source.frameRate.num > 0 && source.frameRate.den > 0)
        srcArgs += QString::asprintf(":frame_rate=%d/%d", source.frameRate.num, source.frameRate.den);
    ret = avfilter_graph_create_filter(&ost.bufferSource, avfilter_get_by_name("buffer"), "src",
                                       srcArgs.toUtf8().constData(), nullptr, graph);
    if (ret < 0)
        return ret;
    ret = avfilter_graph_create_filter(&ost.bufferSink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                       nullptr, graph);
    if (ret < 0)
        return ret;

    QString user;
    if (!stored.trimmed().isEmpty()) {
        try {
            user = BuildFilterGraphText(stored, userInput);
        } catch (const std::exception& e) {
            m_c.DoLog(AV_LOG_ERROR, QString::fromUtf8(e.what()));
            return AVERROR(EINVAL);
        }
    }
    const QString format = QStringLiteral("format=pix_fmts=%1")
                               .arg(QString::fromLatin1(av_get_pix_fmt_name(enc->pix_fmt)));
    QString text;
    const QString head = chain.isEmpty() ? QString() : chain.join(QLatin1Char(','));
    if (user.isEmpty()) {
        text = (head.isEmpty() ? QString() : head + QLatin1Char(',')) + format;
    } else {
        // the head chain feeds the user's graph, the format filter reads its end
        text = WrapUserGraph(user, head, format);
    }
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    av::InOutPtr outputsOwner(outputs), inputsOwner(inputs);
    if (!outputs || !inputs)
        return AVERROR(ENOMEM);
    outputs->name = av_strdup("in");
    outputs->filter_ctx = ost.bufferSource;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = ost.bufferSink;
    AVFilterInOut* in = inputsOwner.release();
    AVFilterInOut* out = outputsOwner.release();
    ret = avfilter_graph_parse_ptr(graph, text.toUtf8().constData(), &in, &out, nullptr);
    avfilter_inout_free(&in);
    avfilter_inout_free(&out);
    if (ret < 0) {
        m_c.DoLog(AV_LOG_ERROR, QStringLiteral("Cannot build the filter graph \"%1\"").arg(text));
        return ret;
    }
    if ((ret = avfilter_graph_config(graph, nullptr)) < 0)
        return ret;
    enc->width = av_buffersink_get_w(ost.bufferSink);
    enc->height = av_buffersink_get_h(ost.bufferSink);
    const AVRational outSar = av_buffersink_get_sample_aspect_ratio(ost.bufferSink);
    if (outSar.num && !enc->sample_aspect_ratio.num)
        enc->sample_aspect_ratio = ost.stream->sample_aspect_ratio = outSar;
    if (!ost.filtered)
        ost.filtered = av::NewFrame();
    return 0;
}

void Transcoder::FilterVideo(TAVOutputStream& ost, TAVInputStream& ist, AVFrame* decoded)
{
    if (!decoded)
        return;
    if (decoded->width != ost.sourceWidth || decoded->height != ost.sourceHeight ||
        decoded->format != ost.sourcePixFmt) {
        AVCodecContext* enc = ost.encoder();
        const bool scaling = enc->width != ost.sourceWidth || enc->height != ost.sourceHeight ||
                             enc->pix_fmt != ost.sourcePixFmt;
        if (!scaling)
            throw EEngineError(QString::asprintf("Input Stream #%d.%d frame size changed to %dx%d, %s", ist.file,
                                                 ist.index, decoded->width, decoded->height,
                                                 av_get_pix_fmt_name(AVPixelFormat(decoded->format)))
                                   .toStdString());
        // the scaler follows the new picture size; the encoder keeps its own
        ost.sourceWidth = decoded->width;
        ost.sourceHeight = decoded->height;
        ost.sourcePixFmt = decoded->format;
        const int w = enc->width, h = enc->height;
        FlushVideoFilters(ost);
        if (ConfigureFilters(ist, ost) != 0)
            throw EEngineError("Error opening filters!");
        enc->width = w;
        enc->height = h;
    }
    if (ost.synth) {
        ost.synth->Send(decoded);
        FeedFromSynth(ost, ist);
        return;
    }
    if (av_buffersrc_add_frame_flags(ost.bufferSource, decoded, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
        throw EEngineError("Error while feeding the filter graph");
    PullFilteredVideo(ost, ist);
}

void Transcoder::FeedFromSynth(TAVOutputStream& ost, TAVInputStream& ist)
{
    while (av::FramePtr picture = ost.synth->TakeOutput()) {
        if (av_buffersrc_add_frame(ost.bufferSource, picture.get()) < 0)
            throw EEngineError("Error while feeding the filter graph");
        PullFilteredVideo(ost, ist);
    }
}

void Transcoder::FlushVideoFilters(TAVOutputStream& ost)
{
    // pictures that filters hold back (a deinterlacer's last one) come out at the end
    if (!ost.graph || !ost.bufferSource)
        return;
    if (ost.synth) {
        ost.synth->Send(nullptr);
        FeedFromSynth(ost, m_ist[ost.source]);
    }
    if (av_buffersrc_add_frame(ost.bufferSource, nullptr) < 0)
        return;
    PullFilteredVideo(ost, m_ist[ost.source]);
}

void Transcoder::PullFilteredVideo(TAVOutputStream& ost, TAVInputStream& ist)
{
    for (;;) {
        AVFrame* picture = ost.filtered.get();
        const int ret = av_buffersink_get_frame(ost.bufferSink, picture);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            break;
        if (ret < 0)
            throw EEngineError("Error while filtering video");
        EncodeVideo(ost, ist, picture);
        av_frame_unref(picture);
    }
}

// Frame rate conversion for constant-rate outputs. A picture covers the
// output slots from its time to its time plus its length. The slots of a gap
// before it (a variable rate source that pauses) show the picture before, and
// the picture itself takes the slots from where its time rounds to, as the
// ffmpeg tool's constant-rate conversion places them (its thresholds: 1.1
// slots before a picture is repeated, 0.6 of a slot kept by the picture
// before). A picture is dropped only when it starts more than 1.1 slots
// before the next free slot: a slower output keeps its pictures within about
// a slot of their times, so it lasts as long as the sound.
void Transcoder::EncodeVideo(TAVOutputStream& ost, TAVInputStream& ist, AVFrame* picture)
{
    AVCodecContext* enc = ost.encoder();
    if (ost.finished)
        return;
    const TVideoOptions* v = m_o.VideoOptions();
    // the picture's time and length in output slots (the encoder's time base)
    double syncIpts;
    if (picture->pts != AV_NOPTS_VALUE)
        syncIpts = double(picture->pts) * av_q2d(av_buffersink_get_time_base(ost.bufferSink)) / av_q2d(enc->time_base);
    else
        syncIpts = double(ost.sync->ptsUs) / 1000000.0 / av_q2d(enc->time_base);
    const double length = PictureSlots(ost);
    int n = 1;      // slots this call fills
    int before = 0; // of them, the first ones that show the picture before
    const int method = v->m_videoSyncMethod;
    const double start = syncIpts - double(ost.syncOpts); // against the next free slot
    // a resumed job's preroll starts its clock where its first picture lies
    const bool preroll = m_c.ResumePrerollUs() > 0;
    if (method == 0 || (preroll && !ost.videoClockStarted)) {
        ost.syncOpts = std::llround(syncIpts);
    } else if (method == 2) {
        if (start <= -0.6)
            n = 0;
        else if (start > 0.6)
            ost.syncOpts = std::llround(syncIpts);
    } else {
        const double end = start + length;
        // a picture that starts a little before the next free slot but ends
        // after it starts on that slot: nothing of the picture before is kept
        const double gap = start < 0 && end > 0 ? 0.0 : start;
        if (start < -1.1) {
            n = 0;
        } else if (end > 1.1) {
            n = int(std::lrint(float(end)));
            if (gap > 1.1)
                before = int(std::llrint(float(gap - 0.6)));
        }
    }
    ost.videoClockStarted = true;
    // pictures before the job's start (a resumed job's preroll) only set the pace
    for (; preroll && n > 0 && ost.syncOpts < 0; --n) {
        ++ost.syncOpts;
        before = std::max(0, before - 1);
    }
    n = std::min(n, MaxFramesFor(AVMEDIA_TYPE_VIDEO) - ost.frameNumber);
    before = std::clamp(before, 0, std::max(n, 0));
    std::move_backward(ost.gapFills, ost.gapFills + 2, ost.gapFills + 3);
    ost.gapFills[0] = before;
    if (!v->m_meThreshold)
        picture->pict_type = AV_PICTURE_TYPE_NONE;
    if (v->m_topFieldFirst >= 0 && (enc->flags & (AV_CODEC_FLAG_INTERLACED_ME | AV_CODEC_FLAG_INTERLACED_DCT)))
        picture->top_field_first = v->m_topFieldFirst;
    if (v->m_sameQuality)
        picture->quality = SourceQuality(picture, ist.stream->codecpar->codec_id, enc->global_quality);
    else if (enc->flags & AV_CODEC_FLAG_QSCALE)
        picture->quality = enc->global_quality;
    if (n > 0)
        SendToSlots(ost, picture, n, before);
    // a dropped picture still is the one a later gap repeats
    KeepLastPicture(ost, picture);
}

// A picture's length in output slots: one picture of the filtered rate, at
// most one slot; 0 when the rate is unknown.
double Transcoder::PictureSlots(const TAVOutputStream& ost) const
{
    const AVRational rate = av_buffersink_get_frame_rate(ost.bufferSink);
    if (rate.num <= 0 || rate.den <= 0)
        return 0;
    return std::min(1.0, 1.0 / (av_q2d(rate) * av_q2d(ost.encoder()->time_base)));
}

// Gives count slots from the next free one to the encoder: the first
// `previous` show the picture before (when there is one), the rest this one.
void Transcoder::SendToSlots(TAVOutputStream& ost, AVFrame* picture, int count, int previous)
{
    AVCodecContext* enc = ost.encoder();
    const int64_t windowEndUs = WindowEndUs();
    for (int i = 0; i < count; ++i) {
        AVFrame* shown = i < previous && ost.lastPicture ? ost.lastPicture.get() : picture;
        if (!shown)
            return;
        // pictures that would be shown at or after the window's end are left out
        if (windowEndUs != INT64_MAX && av_rescale_q(ost.syncOpts, enc->time_base, av::kMicroseconds) >= windowEndUs) {
            ost.finished = true;
            return;
        }
        shown->pts = ost.syncOpts;
        if (avcodec_send_frame(enc, shown) < 0)
            throw EEngineError("Video encoding failed");
        DrainEncoder(ost, false);
        ++ost.syncOpts;
        ++ost.frameNumber;
    }
}

void Transcoder::KeepLastPicture(TAVOutputStream& ost, const AVFrame* picture)
{
    if (!ost.lastPicture && !(ost.lastPicture = av::NewFrame()))
        throw EEngineError("Out of memory");
    av_frame_unref(ost.lastPicture.get());
    if (av_frame_ref(ost.lastPicture.get(), picture) < 0)
        throw EEngineError("Out of memory");
}

// At the end of a constant-rate stream the last picture takes as many more
// slots as the middle of the last three gap fills: a source slower than the
// output keeps its last picture as long as the others.
void Transcoder::FillLastSlots(TAVOutputStream& ost)
{
    const int method = m_o.VideoOptions()->m_videoSyncMethod;
    if (ost.finished || !ost.lastPicture || method == 0 || method == 2)
        return;
    const int* f = ost.gapFills;
    int n = std::max(std::min(f[0], f[1]), std::min(std::max(f[0], f[1]), f[2]));
    n = std::min(n, MaxFramesFor(AVMEDIA_TYPE_VIDEO) - ost.frameNumber);
    if (n > 0)
        SendToSlots(ost, ost.lastPicture.get(), n, n);
    ost.lastPicture.reset();
}

} // namespace korvane
