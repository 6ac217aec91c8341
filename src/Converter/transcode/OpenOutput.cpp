// Opening one output: container format, one stream per carried media type
// with its encoder settings, bitstream filter names, metadata, and the file.
#include "transcode/AVConverter.h"
#include "av/AVLib.h"
#include "transcode/Engine.h"
#include "options/Messages.h"

extern "C" {
#include <libavcodec/dv_profile.h>
}

#include <QDir>
#include <QFileInfo>
#include <cmath>

namespace korvane {

namespace {

constexpr double kSameQualityFallbackQscale = 2.0;

void ApplyOptionOverrides(const TAVConvertOptions& o, JobParams& job)
{
    const TAudioOptions* a = o.AudioOptions();
    const TVideoOptions* v = o.VideoOptions();
    if (a->m_audioChannels) {
        job.channels = a->m_audioChannels;
        av_channel_layout_uninit(&job.layout);
        av_channel_layout_default(&job.layout, job.channels);
    }
    if (a->m_audioSampleRate)
        job.sampleRate = a->m_audioSampleRate;
    if (a->AudioSampleFmt() != TAudioOptions::sfAuto)
        job.sampleFormat = int(a->AudioSampleFmt()) - 1;
    if (v->m_frameWidth)
        job.frameWidth = v->m_frameWidth;
    if (v->m_frameHeight)
        job.frameHeight = v->m_frameHeight;
    if (job.frameWidth < 0 || job.frameHeight < 0)
        ErrorBox(QStringLiteral("crop dimensions are outside the range of the original image."));
}

bool AnyInputHas(const ConverterEngine& e, AVMediaType type)
{
    for (const InputEntry& in : e.inputs)
        for (unsigned i = 0; in.ctx && i < in.ctx->nb_streams; ++i)
            if (in.ctx->streams[i]->codecpar->codec_type == type)
                return true;
    return false;
}

// Names are checked now; the filters are built when the stream's parameters are known.
QStringList ValidBitstreamFilters(const QStringList& names)
{
    QStringList valid;
    for (int i = 0; i < names.size(); ++i) {
        const QString name = names[i].trimmed();
        if (name.isEmpty())
            continue;
        if (!av_bsf_get_by_name(name.toUtf8().constData())) {
            ErrorBox(QStringLiteral("Invalid BitstreamFilter ") + name);
            if (valid.isEmpty())
                return {}; // an unknown first filter leaves the stream without any
            continue;
        }
        valid << name;
    }
    return valid;
}

AVRational NearestAspect(double value)
{
    AVRational r{0, 1};
    if (value > 0 && std::isfinite(value))
        av_reduce(&r.num, &r.den, std::llround(value * 1000000), 1000000, 255);
    return r;
}

struct NewStream
{
    OutputStreamSetup setup;
    AVCodecID id = AV_CODEC_ID_NONE;
};

// Common start of every new stream: the stream, its encoder and its context.
NewStream CreateStream(TAVConverter& c, AVFormatContext* oc, AVMediaType type, bool copy, const QString& name,
                       const QString& fileName)
{
    NewStream ns;
    ns.setup.stream = avformat_new_stream(oc, nullptr);
    if (!ns.setup.stream)
        throw EEngineError("Could not alloc stream");
    ns.setup.stream->id = 0;
    ns.setup.type = type;
    ns.setup.streamCopy = copy;
    if (!copy) {
        if (name.isEmpty()) {
            ns.id = av_guess_codec(oc->oformat, nullptr, fileName.toUtf8().constData(), nullptr, type);
            ns.setup.encoder = avcodec_find_encoder(ns.id);
        } else {
            QString note;
            const QString actual = EncoderAlias(name, &note);
            if (!note.isEmpty())
                c.DoLog(AV_LOG_WARNING, note);
            ns.id = FindCodec(actual, type, true);
            ns.setup.encoder = avcodec_find_encoder_by_name(actual.toUtf8().constData());
        }
    }
    ns.setup.codec.reset(avcodec_alloc_context3(ns.setup.encoder));
    if (!ns.setup.codec)
        throw EEngineError("Could not alloc stream");
    TagContext(ns.setup.codec.get(), c.LogJobId());
    ns.setup.codec->codec_type = type;
    ns.setup.codec->codec_id = ns.id;
    return ns;
}

// What every new stream takes from the options: its bitstream filter
// names, the codec thread count and a forced codec tag.
void ApplyStreamBasics(OutputStreamSetup& setup, const QStringList& filters, int threads, int tag)
{
    setup.bitstreamFilters = ValidBitstreamFilters(filters);
    setup.codec->thread_count = threads;
    if (tag)
        setup.codec->codec_tag = unsigned(tag);
}

void SetLanguage(AVStream* st, const QString& language)
{
    av_dict_set(&st->metadata, "language", language.toUtf8().constData(), 0);
}

bool Lists(const AVPixelFormat* list, AVPixelFormat format)
{
    for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == format)
            return true;
    return false;
}

// Codecs whose players (phones, portable players, set-top boxes, disc
// players) decode 8-bit 4:2:0 only, although today's encoders may offer
// 10-bit, 4:2:2 or 4:4:4 as well.
bool DevicePicturesOnly(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_H263:
    case AV_CODEC_ID_H263P:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_WMV1:
    case AV_CODEC_ID_WMV2:
    case AV_CODEC_ID_MSMPEG4V2:
    case AV_CODEC_ID_MSMPEG4V3:
    case AV_CODEC_ID_FLV1:
    case AV_CODEC_ID_RV10:
    case AV_CODEC_ID_RV20: return true;
    default: return false;
    }
}

// requested: the pixel format the options named, or -1.
void ChoosePixelFormat(AVCodecContext* codec, const AVCodec* encoder, int requested)
{
    if (requested >= 0)
        codec->pix_fmt = AVPixelFormat(requested);
    else if (DevicePicturesOnly(codec->codec_id))
        codec->pix_fmt = AV_PIX_FMT_YUV420P;
    if (!encoder || !encoder->pix_fmts)
        return;
    // JPEG pictures are full range: limited-range YUV is only accepted with
    // relaxed compliance, so the full-range twin is the standard choice
    if (codec->codec_id == AV_CODEC_ID_MJPEG && codec->strict_std_compliance >= 0) {
        if (codec->pix_fmt == AV_PIX_FMT_YUV420P)
            codec->pix_fmt = AV_PIX_FMT_YUVJ420P;
        else if (codec->pix_fmt == AV_PIX_FMT_YUV422P)
            codec->pix_fmt = AV_PIX_FMT_YUVJ422P;
        else if (codec->pix_fmt == AV_PIX_FMT_YUV444P)
            codec->pix_fmt = AV_PIX_FMT_YUVJ444P;
    }
    if (Lists(encoder->pix_fmts, codec->pix_fmt))
        return;
    if (codec->codec_id == AV_CODEC_ID_MJPEG && codec->strict_std_compliance < 0 &&
        (codec->pix_fmt == AV_PIX_FMT_YUV420P || codec->pix_fmt == AV_PIX_FMT_YUV422P))
        return;
    codec->pix_fmt = encoder->pix_fmts[0];
}

// Pictures of a subsampled format need sizes that are whole multiples of the
// chroma block, and some encoders want more: an odd-sized source is scaled
// to the next smaller size they take. The caller derives the pixel aspect
// from the new size, so the picture keeps its shape on screen.
bool AlignFrameSize(TAVConverter& c, AVCodecContext* codec)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(codec->pix_fmt);
    if (!desc || codec->width <= 0 || codec->height <= 0)
        return false;
    int alignW = 1 << desc->log2_chroma_w, alignH = 1 << desc->log2_chroma_h;
    switch (codec->codec_id) {
    case AV_CODEC_ID_WMV1:
    case AV_CODEC_ID_WMV2:
    case AV_CODEC_ID_MSMPEG4V2:
    case AV_CODEC_ID_MSMPEG4V3:
    case AV_CODEC_ID_RV10:
    case AV_CODEC_ID_RV20:
        // their macroblock rows are written whole
        alignW = std::max(alignW, 16);
        alignH = std::max(alignH, 16);
        break;
    default: break;
    }
    const int w = std::max(alignW, codec->width / alignW * alignW);
    const int h = std::max(alignH, codec->height / alignH * alignH);
    if (w == codec->width && h == codec->height)
        return false;
    c.DoLog(AV_LOG_INFO, QStringLiteral("Picture size %1x%2 scaled to %3x%4 for the encoder")
                             .arg(codec->width)
                             .arg(codec->height)
                             .arg(w)
                             .arg(h));
    codec->width = w;
    codec->height = h;
    return true;
}

void ChooseSampleFormat(AVCodecContext* codec, const AVCodec* encoder)
{
    if (!encoder || !encoder->sample_fmts)
        return;
    for (const AVSampleFormat* f = encoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == codec->sample_fmt)
            return;
    codec->sample_fmt = encoder->sample_fmts[0];
}

void ChooseSampleRate(AVCodecContext* codec, const AVCodec* encoder)
{
    if (!encoder || !encoder->supported_samplerates)
        return;
    int best = 0, bestDiff = INT32_MAX;
    for (const int* r = encoder->supported_samplerates; *r; ++r) {
        const int diff = std::abs(codec->sample_rate - *r);
        if (diff < bestDiff) {
            best = *r;
            bestDiff = diff;
        }
    }
    if (bestDiff != 0)
        av_log(codec, AV_LOG_WARNING, "Requested sampling rate unsupported using closest supported (%d)\n", best);
    codec->sample_rate = best;
}

// DV has fixed frame sizes: a picture of any other size is scaled to the
// size of the standard its frame rate belongs to.
void FitDvFrame(AVCodecContext* codec)
{
    if (codec->codec_id != AV_CODEC_ID_DVVIDEO)
        return;
    const AVRational rate = av_inv_q(codec->time_base);
    if (av_dv_codec_profile2(codec->width, codec->height, codec->pix_fmt, rate))
        return;
    const bool pal = std::fabs(av_q2d(rate) - 25.0) < 0.5;
    codec->width = 720;
    codec->height = pal ? 576 : 480;
    if (!av_dv_codec_profile2(codec->width, codec->height, codec->pix_fmt, rate))
        codec->pix_fmt = pal ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
}

// DV carries 16-bit stereo PCM at 48, 44.1 or 32 kHz: other sound is
// converted to that, the way DV pictures are fitted to their sizes.
void FitDvAudio(TAVConverter& c, const AVOutputFormat* fmt, AVCodecContext* codec)
{
    if (qstrcmp(fmt->name, "dv") != 0 || codec->codec_id != AV_CODEC_ID_PCM_S16LE)
        return;
    const int rate = codec->sample_rate;
    if (rate != 48000 && rate != 44100 && rate != 32000)
        codec->sample_rate = 48000;
    if (codec->ch_layout.nb_channels != 2) {
        av_channel_layout_uninit(&codec->ch_layout);
        av_channel_layout_default(&codec->ch_layout, 2);
    }
    if (rate != codec->sample_rate)
        c.DoLog(AV_LOG_INFO, QStringLiteral("DV sound is written at %1 Hz").arg(codec->sample_rate));
}

// An image sequence needs a frame number in its name. "name1.jpg" becomes
// "name%d.jpg", so the first picture keeps the name that was asked for;
// another name gets the number before its extension.
QString NumberedImageName(const QString& fileName)
{
    const QFileInfo info(fileName);
    QString stem = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    stem.replace(QLatin1Char('%'), QLatin1String("%%"));
    if (stem.endsWith(QLatin1Char('1')) && (stem.size() == 1 || !stem[stem.size() - 2].isDigit()))
        stem.chop(1);
    QString folder = info.path() == QLatin1String(".") && !fileName.startsWith(QLatin1String("./"))
                         ? QString()
                         : info.path() + QLatin1Char('/');
    folder.replace(QLatin1Char('%'), QLatin1String("%%"));
    return folder + stem + QLatin1String("%d") + suffix;
}

// Containers that cannot be written without a stream of the other kind.
bool ContainerNeedsAudio(const AVOutputFormat* fmt) { return qstrcmp(fmt->name, "psp") == 0; }
bool ContainerNeedsVideo(const AVOutputFormat* fmt)
{
    return qstrcmp(fmt->name, "psp") == 0 || qstrcmp(fmt->name, "dv") == 0;
}

// Opens a made-up input: silence at the job's rate and channels, or black
// pictures at the job's size and rate.
void AddFillerInput(TAVConverter& c, ConverterEngine& e, AVMediaType type)
{
    TAVConvertOptions& o = *c.ConvertOptions();
    JobParams& job = e.job;
    QString graph;
    if (type == AVMEDIA_TYPE_AUDIO) {
        if (job.sampleRate <= 0)
            job.sampleRate = 48000;
        if (job.channels <= 0) {
            job.channels = 2;
            av_channel_layout_uninit(&job.layout);
            av_channel_layout_default(&job.layout, 2);
        }
        char layout[64] = {};
        AVChannelLayout def{};
        av_channel_layout_default(&def, job.channels);
        av_channel_layout_describe(&def, layout, sizeof layout);
        graph = QStringLiteral("anullsrc=r=%1:cl=%2").arg(job.sampleRate).arg(QString::fromLatin1(layout));
    } else {
        if (job.frameWidth <= 0 || job.frameHeight <= 0)
            job.frameWidth = 320, job.frameHeight = 240;
        const TRational* rate = o.VideoOptions()->FrameRate();
        const int num = rate->num() > 0 && rate->den() > 0 ? rate->num() : 25;
        const int den = rate->num() > 0 && rate->den() > 0 ? rate->den() : 1;
        graph = QStringLiteral("color=c=black:s=%1x%2:r=%3/%4").arg(job.frameWidth).arg(job.frameHeight).arg(num).arg(den);
    }
    // as long as the real inputs, within the job's window; the main loop
    // ends an input of unknown length with the real ones
    int64_t durationUs = 0;
    for (const InputEntry& in : e.inputs)
        if (!in.filler && in.ctx && in.ctx->duration > 0)
            durationUs = std::max(durationUs, in.ctx->duration);
    durationUs = std::min(durationUs - o.m_startTime, o.m_recordingTime);
    if (durationUs > 0)
        graph += QStringLiteral(":d=%1").arg(double(durationUs) / 1e6, 0, 'f', 6);
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, graph.toUtf8().constData(), av_find_input_format("lavfi"), nullptr) < 0)
        throw EEngineError("Could not make a silent track or a black picture for the container");
    InputEntry entry;
    entry.ctx.reset(raw);
    entry.filler = true;
    entry.endsWithRealInputs = durationUs <= 0;
    TagContext(raw, c.LogJobId());
    if (avformat_find_stream_info(raw, nullptr) < 0)
        throw EEngineError("Could not make a silent track or a black picture for the container");
    c.DoLog(AV_LOG_INFO, type == AVMEDIA_TYPE_AUDIO
                             ? QStringLiteral("The source has no sound: a silent track is added for the container")
                             : QStringLiteral("The source has no pictures: a black picture is added for the container"));
    e.inputs.push_back(std::move(entry));
}

// A name that numbers pictures: "%d" in it, or a stem ending in a lone "1".
bool IsSequenceName(const QString& fileName)
{
    if (av_filename_number_test(fileName.toUtf8().constData()))
        return true;
    const QString stem = QFileInfo(fileName).completeBaseName();
    return stem.endsWith(QLatin1Char('1')) && (stem.size() == 1 || !stem[stem.size() - 2].isDigit());
}

void NewVideoStream(TAVConverter& c, ConverterEngine& e, OutputEntry& out, const QString& fileName)
{
    TAVConvertOptions& o = *c.ConvertOptions();
    TVideoOptions* v = o.VideoOptions();
    AVFormatContext* oc = out.ctx.get();
    NewStream ns = CreateStream(c, oc, AVMEDIA_TYPE_VIDEO, v->m_videoStreamCopy, v->m_encoderVideoCodecName, fileName);
    AVCodecContext* codec = ns.setup.codec.get();
    AVCodecContext* def = e.defaultCodec[AVMEDIA_TYPE_VIDEO].get();
    ApplyStreamBasics(ns.setup, o.MuxerOptions()->m_videoBitstreamFilters, o.m_threadCount, v->m_videoCodecTag);
    if ((v->m_videoGlobalHeader & 1) || (v->m_videoGlobalHeader == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        def->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (v->m_videoGlobalHeader & 2) {
        codec->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        def->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
    if (ns.setup.streamCopy) {
        if (e.job.frameWidth > 0)
            ns.setup.stream->sample_aspect_ratio =
                NearestAspect(v->m_frameAspectRatio * e.job.frameHeight / e.job.frameWidth);
    } else {
        if (!ns.setup.encoder)
            throw EEngineError("Unsupported codec for output stream ");
        AVRational rate{v->FrameRate()->num(), v->FrameRate()->den()};
        if (rate.num <= 0 || rate.den <= 0)
            rate = {25, 1};
        CopyContextOptions(codec, def, e.optionNames, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        if (ns.setup.encoder->supported_framerates && !v->m_forceFPS)
            rate = ns.setup.encoder->supported_framerates[av_find_nearest_q_idx(rate, ns.setup.encoder->supported_framerates)];
        // MPEG-4 Part 2 writes the time base in 16 bits: an odd rate (78125/417)
        // becomes the nearest one that fits
        if (codec->codec_id == AV_CODEC_ID_MPEG4)
            av_reduce(&rate.num, &rate.den, rate.num, rate.den, 65535);
        codec->time_base = av_inv_q(rate);
        codec->framerate = rate;
        codec->width = e.job.frameWidth;
        codec->height = e.job.frameHeight;
        codec->pix_fmt = AVPixelFormat(v->PixelFormat);
        ChoosePixelFormat(codec, ns.setup.encoder, e.requestedPixelFormat);
        FitDvFrame(codec);
        const double shape = codec->height > 0 ? double(codec->width) / codec->height : 0.0;
        double aspect = v->m_frameAspectRatio;
        if (AlignFrameSize(c, codec) && aspect <= 0)
            aspect = shape; // square pixels before: the same shape after
        if (codec->width > 0)
            codec->sample_aspect_ratio = ns.setup.stream->sample_aspect_ratio =
                NearestAspect(aspect * codec->height / codec->width);
        if (v->m_intraOnly)
            codec->gop_size = 0;
        if (v->m_videoQscale != 0 || v->m_sameQuality) {
            codec->flags |= AV_CODEC_FLAG_QSCALE;
            // same quality follows each source picture's quantiser where the
            // decoder tells it; elsewhere it is quantiser 2, near transparent
            const double qscale = v->m_videoQscale != 0 ? v->m_videoQscale : kSameQualityFallbackQscale;
            codec->global_quality = int(std::lround(FF_QP2LAMBDA * qscale));
        }
        auto matrix = [](const std::array<uint16_t, 64>& data) {
            auto* m = static_cast<uint16_t*>(av_malloc(64 * sizeof(uint16_t)));
            if (m)
                std::copy(data.begin(), data.end(), m);
            return m;
        };
        if (!v->IntraMatrix().isEmpty())
            codec->intra_matrix = matrix(v->IntraMatrixData);
        if (!v->InterMatrix().isEmpty())
            codec->inter_matrix = matrix(v->InterMatrixData);
        if (codec->rc_initial_buffer_occupancy == 0)
            codec->rc_initial_buffer_occupancy = codec->rc_buffer_size * 3 / 4;
        codec->intra_dc_precision = v->m_intraDcPrecision - 8;
        if (v->Pass() == 1)
            codec->flags |= AV_CODEC_FLAG_PASS1;
        else if (v->Pass() == 2)
            codec->flags |= AV_CODEC_FLAG_PASS2;
    }
    if (!v->m_videoLanguage.trimmed().isEmpty())
        SetLanguage(ns.setup.stream, v->m_videoLanguage);
    out.streams.push_back(std::move(ns.setup));
}

void NewAudioStream(TAVConverter& c, ConverterEngine& e, OutputEntry& out, const QString& fileName)
{
    TAVConvertOptions& o = *c.ConvertOptions();
    TAudioOptions* a = o.AudioOptions();
    AVFormatContext* oc = out.ctx.get();
    NewStream ns = CreateStream(c, oc, AVMEDIA_TYPE_AUDIO, a->m_audioStreamCopy, a->m_encoderAudioCodecName, fileName);
    AVCodecContext* codec = ns.setup.codec.get();
    AVCodecContext* def = e.defaultCodec[AVMEDIA_TYPE_AUDIO].get();
    ApplyStreamBasics(ns.setup, o.MuxerOptions()->m_audioBitstreamFilters, o.m_threadCount, a->m_audioCodecTag);
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        def->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (ns.setup.streamCopy) {
        codec->sample_rate = e.job.sampleRate;
        av_channel_layout_copy(&codec->ch_layout, &e.job.layout);
    } else {
        if (!ns.setup.encoder)
            throw EEngineError("Unsupported codec for output stream ");
        CopyContextOptions(codec, def, e.optionNames, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        if (a->m_audioQScale > -99999.0f) {
            codec->flags |= AV_CODEC_FLAG_QSCALE;
            codec->global_quality = int(std::lround(FF_QP2LAMBDA * a->m_audioQScale));
        }
        codec->sample_fmt = AVSampleFormat(e.job.sampleFormat);
        codec->sample_rate = e.job.sampleRate;
        // a layout whose channel count differs from the requested one is
        // replaced by the default layout of that count
        av_channel_layout_uninit(&codec->ch_layout);
        if (e.job.layout.nb_channels == e.job.channels && e.job.layout.order != AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_copy(&codec->ch_layout, &e.job.layout);
        else
            av_channel_layout_default(&codec->ch_layout, e.job.channels);
        ChooseSampleFormat(codec, ns.setup.encoder);
        ChooseSampleRate(codec, ns.setup.encoder);
        FitDvAudio(c, oc->oformat, codec);
    }
    if (codec->sample_rate > 0)
        codec->time_base = {1, codec->sample_rate};
    if (!a->m_audioLanguage.trimmed().isEmpty())
        SetLanguage(ns.setup.stream, a->m_audioLanguage);
    out.streams.push_back(std::move(ns.setup));
}

void NewSubtitleStream(TAVConverter& c, ConverterEngine& e, OutputEntry& out, const QString& fileName)
{
    TAVConvertOptions& o = *c.ConvertOptions();
    TSubtitleOptions* s = o.SubtitleOptions();
    AVFormatContext* oc = out.ctx.get();
    QString name = s->m_subtitleCodecName;
    if (!s->m_subtitleStreamCopy && name.isEmpty()) {
        // no encoder named: the container's own subtitle format
        const AVCodec* enc = avcodec_find_encoder(oc->oformat->subtitle_codec);
        if (enc)
            name = QString::fromLatin1(enc->name);
    }
    NewStream ns = CreateStream(c, oc, AVMEDIA_TYPE_SUBTITLE, s->m_subtitleStreamCopy, name, fileName);
    AVCodecContext* codec = ns.setup.codec.get();
    // subtitle encoders keep their own thread count
    ApplyStreamBasics(ns.setup, o.MuxerOptions()->m_subtitleBitstreamFilters, codec->thread_count,
                      s->m_subtitleCodecTag);
    if (!ns.setup.streamCopy) {
        if (!ns.setup.encoder)
            throw EEngineError("Unsupported codec for output stream ");
        CopyContextOptions(codec, e.defaultCodec[AVMEDIA_TYPE_SUBTITLE].get(), e.optionNames,
                           AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    }
    if (!s->m_subtitleLanguage.isEmpty())
        SetLanguage(ns.setup.stream, s->m_subtitleLanguage);
    out.streams.push_back(std::move(ns.setup));
}

} // namespace

void OpenOutput(TAVConverter& c, ConverterEngine& e, int index)
{
    TAVConvertOptions& o = *c.ConvertOptions();
    const QString fileName = c.OutputFiles().value(index);
    const QByteArray utf8 = fileName.toUtf8();
    if (utf8.size() > 1023)
        throw EEngineError("Output file name is too long (more than 1023 bytes)");
    ApplyOptionOverrides(o, e.job);
    if (!e.forcedOutput) {
        e.forcedOutput = av_guess_format(nullptr, utf8.constData(), nullptr);
        if (!e.forcedOutput)
            throw EEngineError(
                QStringLiteral("Unable to find a suitable output format for %1").arg(fileName).toStdString());
        // "name1.gif" is the first picture of a sequence, like "name1.jpg";
        // other GIF names are one animated picture
        if (qstrcmp(e.forcedOutput->name, "gif") == 0 && IsSequenceName(fileName))
            e.forcedOutput = av_guess_format("image2", nullptr, nullptr);
    }
    OutputEntry out;
    QByteArray target = utf8;
    if (qstrcmp(e.forcedOutput->name, "image2") == 0 && !av_filename_number_test(utf8.constData()))
        target = NumberedImageName(fileName).toUtf8();
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, e.forcedOutput, nullptr,
                                       LibraryUrl(QString::fromUtf8(target)).constData()) < 0 || !oc)
        throw EEngineError("Out of memory");
    out.ctx.reset(oc);
    TagContext(oc, c.LogJobId());
    oc->interrupt_callback = {&OutputOpenInterruptCallback, &e};
    const AVOutputFormat* fmt = oc->oformat;
    const TVideoOptions* v = o.VideoOptions();
    const TAudioOptions* a = o.AudioOptions();
    const TSubtitleOptions* s = o.SubtitleOptions();
    bool video = fmt->video_codec != AV_CODEC_ID_NONE || v->m_videoStreamCopy || !v->m_encoderVideoCodecName.isEmpty();
    bool audio = fmt->audio_codec != AV_CODEC_ID_NONE || a->m_audioStreamCopy || !a->m_encoderAudioCodecName.isEmpty();
    bool subtitle = fmt->subtitle_codec != AV_CODEC_ID_NONE || s->m_subtitleStreamCopy || !s->m_subtitleCodecName.isEmpty();
    if (!c.InputFiles().isEmpty()) {
        const bool hasVideo = AnyInputHas(e, AVMEDIA_TYPE_VIDEO), hasAudio = AnyInputHas(e, AVMEDIA_TYPE_AUDIO);
        // a container that needs both kinds gets the missing one made up,
        // as long as the source has the other
        if (audio && !hasAudio && hasVideo && video && !a->m_audioDisable && !v->m_videoDisable &&
            ContainerNeedsAudio(fmt))
            AddFillerInput(c, e, AVMEDIA_TYPE_AUDIO);
        if (video && !hasVideo && hasAudio && audio && !a->m_audioDisable && !v->m_videoDisable &&
            ContainerNeedsVideo(fmt))
            AddFillerInput(c, e, AVMEDIA_TYPE_VIDEO);
        video = video && AnyInputHas(e, AVMEDIA_TYPE_VIDEO);
        audio = audio && AnyInputHas(e, AVMEDIA_TYPE_AUDIO);
        subtitle = subtitle && AnyInputHas(e, AVMEDIA_TYPE_SUBTITLE);
    }
    video = video && !v->m_videoDisable;
    audio = audio && !a->m_audioDisable;
    subtitle = subtitle && !s->m_subtitleDisable;
    if (video)
        NewVideoStream(c, e, out, fileName);
    if (audio)
        NewAudioStream(c, e, out, fileName);
    if (subtitle)
        NewSubtitleStream(c, e, out, fileName);
    for (const QString& line : o.m_metaData) {
        const int eq = line.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? line : line.left(eq);
        const QString value = eq < 0 ? QString() : line.mid(eq + 1);
        av_dict_set(&oc->metadata, name.toUtf8().constData(), value.toUtf8().constData(), 0);
    }
    if ((fmt->flags & AVFMT_NEEDNUMBER) && !av_filename_number_test(target.constData()))
        throw EEngineError("unexpected error");
    if (int(e.outputs.size()) <= index)
        e.outputs.resize(index + 1);
    e.outputs[index] = std::move(out);
    if (!(fmt->flags & AVFMT_NOFILE)) {
        const QString folder = QFileInfo(fileName).path();
        if (!folder.isEmpty())
            QDir().mkpath(folder);
        const QString path = QString::fromUtf8(target);
        const bool existed = QFileInfo::exists(path);
        if (avio_open2(&oc->pb, LibraryUrl(path).constData(), AVIO_FLAG_WRITE, &oc->interrupt_callback, nullptr) < 0)
            throw EEngineError("Could not open file");
        if (!existed && QFileInfo(path).isFile())
            e.outputs[index].createdFile = path;
    }
    oc->max_delay = int(std::lround(o.MuxerOptions()->m_muxMaxDelay * 1000000.0));
    oc->flags |= AVFMT_FLAG_NONBLOCK;
    // options meant for writing are marked for encoding today
    CopyContextOptions(oc, e.defaultFormat, e.optionNames, AV_OPT_FLAG_ENCODING_PARAM);
}

} // namespace korvane
