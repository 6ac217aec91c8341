// Opening one input: format context, options, start position, and the job's
// audio and video parameters taken from its streams.
#include "transcode/AVConverter.h"
#include "av/AVLib.h"
#include "transcode/Engine.h"
#include "transcode/Resume.h"
#include "sources/StreamProtocol.h"
#include "sources/WaveCapture.h"

#include <cmath>

namespace korvane {

namespace {

// A demuxer's own option of that name: a raw format's sample_rate, ch_layout...
bool DemuxerTakes(const AVInputFormat* format, const char* name)
{
    return format && format->priv_class &&
           av_opt_find(const_cast<const AVClass**>(&format->priv_class), name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

// The sound of a headerless input is read at the rate and with the channels
// the options name, but only when the user named the input's format: a raw
// format read by its extension (GSM, G.722, ...) keeps its demuxer's own
// rate, which an output rate from a profile would otherwise replace.
void FillRawAudioOptions(const TAVConvertOptions& o, const AVInputFormat* forced, AVDictionary** dict)
{
    const TAudioOptions* audio = o.AudioOptions();
    if (audio->m_audioSampleRate > 0 && DemuxerTakes(forced, "sample_rate"))
        av_dict_set_int(dict, "sample_rate", audio->m_audioSampleRate, 0);
    if (audio->m_audioChannels > 0 && DemuxerTakes(forced, "ch_layout")) {
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, audio->m_audioChannels);
        char text[64] = {};
        if (av_channel_layout_describe(&layout, text, sizeof text) >= 0)
            av_dict_set(dict, "ch_layout", text, 0);
        av_channel_layout_uninit(&layout);
    }
}

void FillDemuxerOptions(const TAVConvertOptions& o, const JobParams& job, AVDictionary** dict)
{
    // the parameters a raw video or grabbing demuxer needs; other demuxers leave them unused
    const TRational* rate = o.VideoOptions()->FrameRate();
    if (rate->num() > 0 && rate->den() > 0)
        av_dict_set(dict, "framerate", QStringLiteral("%1/%2").arg(rate->num()).arg(rate->den()).toUtf8(), 0);
    if (job.frameWidth > 0 && job.frameHeight > 0)
        av_dict_set(dict, "video_size",
                    QStringLiteral("%1x%2").arg(job.frameWidth).arg(job.frameHeight).toUtf8(), 0);
    if (o.VideoOptions()->PixelFormat >= 0) {
        if (const char* name = av_get_pix_fmt_name(AVPixelFormat(o.VideoOptions()->PixelFormat)))
            av_dict_set(dict, "pixel_format", name, 0);
    }
    av_dict_set_int(dict, "channel", o.GrabOptions()->m_videoChannel, 0);
    if (!o.GrabOptions()->m_videoStandard.isEmpty())
        av_dict_set(dict, "standard", o.GrabOptions()->m_videoStandard.toUtf8().constData(), 0);
}

void SelectProgram(AVFormatContext* ctx, int programId)
{
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = AVDISCARD_ALL;
    bool found = false;
    for (unsigned p = 0; p < ctx->nb_programs; ++p) {
        AVProgram* program = ctx->programs[p];
        if (program->id == programId) {
            found = true;
            program->discard = AVDISCARD_DEFAULT;
            for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
                ctx->streams[program->stream_index[k]]->discard = AVDISCARD_DEFAULT;
        } else {
            program->discard = AVDISCARD_ALL;
        }
    }
    if (!found)
        throw EEngineError("Specified program id not found");
}

void TakeAudioParameters(const TAVConvertOptions& o, AVStream* st, JobParams& job)
{
    const AVCodecParameters* par = st->codecpar;
    av_channel_layout_uninit(&job.layout);
    av_channel_layout_copy(&job.layout, &par->ch_layout);
    job.channels = par->ch_layout.nb_channels;
    job.sampleRate = par->sample_rate;
    job.sampleFormat = par->format;
    if (o.AudioOptions()->m_audioDisable)
        st->discard = AVDISCARD_ALL;
}

void TakeVideoParameters(TAVConverter& c, TAVConvertOptions& o, AVFormatContext* ctx, AVStream* st, ConverterEngine& e)
{
    const AVCodecParameters* par = st->codecpar;
    TVideoOptions* v = o.VideoOptions();
    JobParams& job = e.job;
    // a reduced decoding resolution (lowres) shrinks the pictures by that many bits
    int64_t lowres = 0;
    if (e.optionNames.contains(QLatin1String("lowres")))
        av_opt_get_int(e.defaultCodec[AVMEDIA_TYPE_VIDEO].get(), "lowres", 0, &lowres);
    if (const AVCodec* decoder = avcodec_find_decoder(par->codec_id))
        lowres = std::min<int64_t>(lowres, decoder->max_lowres);
    job.frameHeight = AV_CEIL_RSHIFT(par->height, int(lowres));
    job.frameWidth = AV_CEIL_RSHIFT(par->width, int(lowres));
    AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
    double aspect = sar.num ? av_q2d(sar) : 0.0;
    if (par->height > 0)
        aspect *= double(par->width) / double(par->height);
    v->m_frameAspectRatio = float(aspect);
    v->PixelFormat = par->format;
    AVRational rate = st->r_frame_rate;
    if (!rate.num || !rate.den)
        rate = av_guess_frame_rate(ctx, st, nullptr);
    if (st->avg_frame_rate.num && rate.num && av_cmp_q(st->avg_frame_rate, rate) != 0 &&
        std::fabs(av_q2d(st->avg_frame_rate) - av_q2d(rate)) > 0.01)
        c.DoLog(AV_LOG_ERROR,
                QString::asprintf("Seems stream %d codec frame rate differs from container frame rate: "
                                  "%2.2f (%d/%d) -> %2.2f (%d/%d)",
                                  st->index, av_q2d(st->avg_frame_rate), st->avg_frame_rate.num,
                                  st->avg_frame_rate.den, av_q2d(rate), rate.num, rate.den));
    // a rate the options asked for (a profile's) is kept; otherwise the output follows the input
    if (rate.num > 0 && rate.den > 0 && e.requestedRate.num == 0) {
        v->FrameRate()->setNum(rate.num);
        v->FrameRate()->setDen(rate.den);
    }
    if (v->m_videoDisable)
        st->discard = AVDISCARD_ALL;
    else if (v->VideoDiscard)
        st->discard = static_cast<AVDiscard>(v->VideoDiscard);
}

// Keeps an in-process stream source alive until its format context is closed.
struct StreamResource : InputResource
{
    std::unique_ptr<TStreamInput> input;
};

// Keeps a live capture recording until its format context is closed.
struct WaveCaptureResource : InputResource
{
    std::unique_ptr<TWaveCaptureInput> input;
    QString FailureText() const override { return input->Capture().FailureText(); }
    void OutputsReady() override { input->OutputsReady(); }
};

// A capture: a "wavcap:[DEVICE]" source, or any name (the device; empty for
// the default one) with the input format "wavcap".
bool IsCapture(const TAVConvertOptions& o, const QString& fileName)
{
    return IsWaveCaptureSource(fileName) || o.m_inputFormat == QLatin1String("wavcap");
}

// The capture is set up and read as raw 16-bit PCM with the audio options'
// rate and channel count (44100 Hz mono when unset); the device starts at
// the first read, once the outputs are ready.
const AVInputFormat* AttachCapture(TAVConverter& c, const QString& fileName, AVFormatContext* raw,
                                   AVDictionary** options, InputEntry& entry)
{
    const TAudioOptions* audio = c.ConvertOptions()->AudioOptions();
    const int rate = audio->m_audioSampleRate != 0 ? audio->m_audioSampleRate : 44100;
    const int channels = audio->m_audioChannels != 0 ? audio->m_audioChannels : 1;
    auto resource = std::make_unique<WaveCaptureResource>();
    int error = 0;
    const QString source = IsWaveCaptureSource(fileName) ? fileName : QStringLiteral("wavcap:") + fileName;
    resource->input =
        AttachWaveCapture(source, raw, rate, channels, [&c] { return c.StopRequested(); }, options, &error);
    if (!resource->input) {
        avformat_free_context(raw);
        throw EEngineError(QStringLiteral("Could not open file:%1!").arg(error).toStdString());
    }
    entry.resource = std::move(resource);
    return av_find_input_format("s16le");
}

// The time (AV_TIME_BASE) of the first picture a read finds where ctx now
// stands, AV_NOPTS_VALUE when a few hundred packets show none. The packets
// read are lost: the caller seeks again.
int64_t FirstPictureTime(AVFormatContext* ctx)
{
    av::PacketPtr pkt = av::NewPacket();
    if (!pkt)
        return AV_NOPTS_VALUE;
    for (int read = 0, again = 0; read < 500 && again < 100;) {
        const int ret = av_read_frame(ctx, pkt.get());
        if (ret == AVERROR(EAGAIN)) {
            ++again;
            continue;
        }
        if (ret < 0)
            break;
        ++read;
        const AVStream* st = ctx->streams[pkt->stream_index];
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        const bool picture = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                             !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && ts != AV_NOPTS_VALUE;
        const int64_t us = picture ? av_rescale_q(ts, st->time_base, AV_TIME_BASE_Q) : AV_NOPTS_VALUE;
        av_packet_unref(pkt.get());
        if (picture)
            return us;
    }
    return AV_NOPTS_VALUE;
}

// True when every picture of ctx fills exactly one slot of the output: the
// sources' rates are constant, the output keeps them, and no filter of the
// user's may change them. There is then no pace to fall in step with.
bool KeepsSourceRate(const TAVConvertOptions& o, const ConverterEngine& e, const AVFormatContext* ctx)
{
    if (!o.FilterOptions()->m_videoFilters.trimmed().isEmpty())
        return false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        const AVRational rate = st->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0 || av_cmp_q(st->avg_frame_rate, rate) != 0 ||
            (e.requestedRate.num != 0 && av_cmp_q(e.requestedRate, rate) != 0))
            return false;
    }
    return true;
}

// Seeks to the job's start t0. A resumed job also reads the pictures before
// it that set the pace (see ResumeSession::VideoPrerollUs): those from the
// key picture before t0 cost nothing more, as they are decoded anyway. Only
// when they cover less than ResumeSession::kEnoughPaceUs, and the output's
// rate differs from the source's, does the read reach a key picture
// further back.
void SeekToStart(TAVConverter& c, const ConverterEngine& e, AVFormatContext* ctx, int64_t t0)
{
    const int64_t preroll = c.ResumePrerollUs();
    int64_t target = t0;
    if (preroll > 0 && !KeepsSourceRate(*c.ConvertOptions(), e, ctx)) {
        const int64_t landing = av_seek_frame(ctx, -1, t0, AVSEEK_FLAG_BACKWARD) >= 0 ? FirstPictureTime(ctx) : AV_NOPTS_VALUE;
        if (landing == AV_NOPTS_VALUE || landing > t0 - std::min(preroll, ResumeSession::kEnoughPaceUs))
            target = t0 - preroll;
    }
    av_seek_frame(ctx, -1, target, AVSEEK_FLAG_BACKWARD); // a failed seek reads from the start
}

} // namespace

void OpenInput(TAVConverter& c, ConverterEngine& e, int index)
{
    TAVConvertOptions& o = *c.ConvertOptions();
    const QString fileName = c.InputFiles().value(index);
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw EEngineError("Out of memory");
    TagContext(raw, c.LogJobId());
    raw->interrupt_callback = {&StopRequestedCallback, &c};
    av::Dict options;
    FillDemuxerOptions(o, e.job, &options.p);
    CopyContextOptions(raw, e.defaultFormat, e.optionNames, AV_OPT_FLAG_DECODING_PARAM);
    try {
        raw->video_codec_id = FindCodec(o.VideoOptions()->m_decoderVideoCodecName, AVMEDIA_TYPE_VIDEO, false);
        raw->audio_codec_id = FindCodec(o.AudioOptions()->m_decoderAudioCodecName, AVMEDIA_TYPE_AUDIO, false);
        raw->subtitle_codec_id = FindCodec(o.SubtitleOptions()->m_subtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false);
    } catch (...) {
        avformat_free_context(raw);
        throw;
    }
    raw->flags |= AVFMT_FLAG_NONBLOCK;
    FillRawAudioOptions(o, e.forcedInput, &options.p);
    AddPrivateOptions(e, e.forcedInput ? &e.forcedInput->priv_class : nullptr, &options.p);

    InputEntry entry;
    const AVInputFormat* format = e.forcedInput;
    if (IsStreamSource(fileName)) {
        auto resource = std::make_unique<StreamResource>();
        try {
            resource->input = AttachStreamSource(fileName, raw);
        } catch (...) {
            avformat_free_context(raw);
            throw;
        }
        if (!format && fileName.endsWith(QLatin1String(".vob"), Qt::CaseInsensitive))
            format = av_find_input_format("mpeg");
        // subtitle streams of a disc title show up late
        av_dict_set(&options.p, "probesize", "20000000", 0);
        av_dict_set(&options.p, "analyzeduration", "20000000", 0);
        entry.resource = std::move(resource);
    }
    const bool capture = IsCapture(o, fileName);
    if (capture)
        format = AttachCapture(c, fileName, raw, &options.p, entry);
    const bool ownSource = IsStreamSource(fileName) || capture;
    // the open frees the context itself when it fails
    const int ret = avformat_open_input(&raw, (ownSource ? fileName.toUtf8() : LibraryUrl(fileName)).constData(), format, &options.p);
    if (ret < 0)
        throw EEngineError(QStringLiteral("Could not open file:%1!").arg(ret).toStdString());
    entry.ctx.reset(raw);
    AVFormatContext* ctx = raw;
    if (o.ProgramId != 0)
        SelectProgram(ctx, o.ProgramId);
    // a capture's header says all there is to know: reading ahead would
    // start the device before the outputs are ready
    const int info = capture ? 0 : avformat_find_stream_info(ctx, nullptr);
    if (info < 0)
        throw EEngineError(QStringLiteral("Could not find codec parameters:%1!").arg(info).toStdString());
    if (ctx->nb_streams > unsigned(TAVConverter::kMaxStreamsPerFile))
        throw EEngineError(QStringLiteral("Input file #%1 has %2 streams; at most %3 are supported")
                               .arg(index)
                               .arg(ctx->nb_streams)
                               .arg(TAVConverter::kMaxStreamsPerFile)
                               .toStdString());

    int64_t t0 = o.m_startTime;
    if (ctx->start_time != AV_NOPTS_VALUE)
        t0 += ctx->start_time;
    if (o.m_startTime != 0)
        SeekToStart(c, e, ctx, t0);
    entry.tsOffsetUs = o.CopyTimestamps ? o.InputTimestampOffset : o.InputTimestampOffset - t0;
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
        c.SetDuration(double(ctx->duration) / 1000000.0);

    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AVStream* st = ctx->streams[i];
        switch (st->codecpar->codec_type) {
        case AVMEDIA_TYPE_AUDIO: TakeAudioParameters(o, st, e.job); break;
        case AVMEDIA_TYPE_VIDEO: TakeVideoParameters(c, o, ctx, st, e); break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (o.SubtitleOptions()->m_subtitleDisable)
                st->discard = AVDISCARD_ALL;
            break;
        default: break;
        }
    }
    if (int(e.inputs.size()) <= index)
        e.inputs.resize(index + 1);
    e.inputs[index] = std::move(entry);
}

} // namespace korvane
