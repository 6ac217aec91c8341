// Transcode setup: stream tables, pairing, copy or re-encode, codecs,
// chapters and headers.
#include "transcode/AVConverter.h"
#include "transcode/Transcoder.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>

namespace korvane {

namespace {
[[noreturn]] void Fail(const QString& text) { throw EEngineError(text.toStdString()); }
} // namespace

int Transcoder::MaxFramesFor(AVMediaType type) const
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO: return m_o.VideoOptions()->m_maxFrames;
    case AVMEDIA_TYPE_AUDIO: return m_o.AudioOptions()->m_maxFrames;
    case AVMEDIA_TYPE_DATA: return m_o.DataMaxFrames;
    default: return kMaxFramesUnlimited;
    }
}

int64_t Transcoder::WindowEndUs() const
{
    if (m_o.m_recordingTime == kNoTimeLimit)
        return INT64_MAX;
    // with the input's own timestamps kept, the window starts at the start position
    return m_o.CopyTimestamps ? m_o.m_startTime + m_o.m_recordingTime : m_o.m_recordingTime;
}

void Transcoder::Setup()
{
    BuildStreamTables();
    ChooseSources();
    for (TAVOutputStream& ost : m_ost) {
        TAVInputStream& ist = m_ist[ost.source];
        av_dict_copy(&ost.stream->metadata, ist.stream->metadata, AV_DICT_DONT_OVERWRITE);
        ost.stream->disposition = ist.stream->disposition;
        // a cover picture encoded again is a video stream of the output: as
        // an attached picture, muxers would want it in an image codec
        if (!ost.setup->streamCopy)
            ost.stream->disposition &= ~AV_DISPOSITION_ATTACHED_PIC;
        if (ost.setup->streamCopy)
            PrepareStreamCopy(ost, ist);
        else
            PrepareEncoding(ost, ist);
    }
    OpenCodecs();
    for (TAVInputStream& ist : m_ist)
        ist.ptsUs = 0, ist.nextPtsUs = AV_NOPTS_VALUE, ist.isStart = true;
    for (size_t i = 0; i < m_e.inputs.size(); ++i)
        if (m_e.inputs[i].ctx->nb_chapters > 0)
            for (size_t o = 0; o < m_e.outputs.size(); ++o)
                CopyChapters(int(i), int(o));
    WriteHeaders();
    for (InputEntry& in : m_e.inputs)
        if (in.resource)
            in.resource->OutputsReady();
    m_c.SetStartTime(av_gettime());
}

void Transcoder::BuildStreamTables()
{
    for (size_t f = 0; f < m_e.inputs.size(); ++f) {
        AVFormatContext* ctx = m_e.inputs[f].ctx.get();
        TAVInputFile file;
        file.firstStream = int(m_ist.size());
        file.streamCount = int(ctx->nb_streams);
        m_files.push_back(file);
        for (unsigned s = 0; s < ctx->nb_streams; ++s) {
            TAVInputStream ist;
            ist.file = int(f);
            ist.index = int(s);
            ist.stream = ctx->streams[s];
            if (m_o.RateEmulation)
                ist.startUs = av_gettime();
            m_ist.push_back(std::move(ist));
        }
    }
    int total = 0;
    for (const OutputEntry& out : m_e.outputs) {
        if (out.streams.empty())
            Fail(QStringLiteral("Output file does not contain any stream"));
        total += int(out.streams.size());
    }
    const auto& maps = m_e.streamMaps;
    if (!maps.empty() && int(maps.size()) != total)
        Fail(QStringLiteral("Number of stream maps must match number of output streams"));
    for (const TAVStreamMap& m : maps) {
        auto valid = [&](int file, int stream) {
            return file >= 0 && file < int(m_files.size()) && stream >= 0 && stream < m_files[file].streamCount;
        };
        if (!valid(m.file, m.stream))
            Fail(QString::asprintf("Could not find input stream #%d.%d", m.file, m.stream));
        if (!valid(m.syncFile, m.syncStream))
            Fail(QString::asprintf("Could not find sync stream #%d.%d", m.syncFile, m.syncStream));
    }
}

void Transcoder::ChooseSources()
{
    const auto& maps = m_e.streamMaps;
    m_ost.reserve(64);
    int n = 0;
    for (size_t f = 0; f < m_e.outputs.size(); ++f) {
        OutputEntry& out = m_e.outputs[f];
        for (size_t s = 0; s < out.streams.size(); ++s, ++n) {
            TAVOutputStream ost;
            ost.file = int(f);
            ost.index = int(s);
            ost.setup = &out.streams[s];
            ost.stream = out.streams[s].stream;
            const AVMediaType type = ost.setup->type;
            int source = -1;
            if (!maps.empty()) {
                const TAVStreamMap& m = maps[n];
                source = m_files[m.file].firstStream + m.stream;
                if (m_ist[source].stream->codecpar->codec_type != type)
                    Fail(QString::asprintf("Codec type mismatch for mapping #%d.%d -> #%d.%d", m.file, m.stream,
                                           int(f), int(s)));
                ost.sync = &m_ist[m_files[m.syncFile].firstStream + m.syncStream];
            } else {
                // prefer a stream whose parameters the probe found; the
                // first of equals wins
                int64_t best = -1;
                for (size_t j = 0; j < m_ist.size(); ++j) {
                    TAVInputStream& ist = m_ist[j];
                    if (!ist.discard || ist.stream->discard == AVDISCARD_ALL ||
                        ist.stream->codecpar->codec_type != type)
                        continue;
                    if (m_o.ProgramId) {
                        AVFormatContext* ctx = m_e.inputs[ist.file].ctx.get();
                        bool listed = false;
                        for (unsigned p = 0; p < ctx->nb_programs && !listed; ++p)
                            if (ctx->programs[p]->id == m_o.ProgramId)
                                for (unsigned k = 0; k < ctx->programs[p]->nb_stream_indexes; ++k)
                                    listed = listed || ctx->programs[p]->stream_index[k] == unsigned(ist.index);
                        if (!listed)
                            continue;
                    }
                    const AVCodecParameters* par = ist.stream->codecpar;
                    const int64_t frames = (par->width > 0 || par->sample_rate > 0 || type == AVMEDIA_TYPE_SUBTITLE) ? 1 : 0;
                    if (frames > best) {
                        best = frames;
                        source = int(j);
                    }
                }
                if (source < 0 && m_o.ProgramId == 0)
                    for (size_t j = 0; j < m_ist.size(); ++j)
                        if (m_ist[j].stream->codecpar->codec_type == type &&
                            m_ist[j].stream->discard != AVDISCARD_ALL)
                            source = int(j);
                if (source < 0)
                    Fail(QStringLiteral("Could not find input stream matching output stream "));
                ost.sync = &m_ist[source];
            }
            ost.source = source;
            m_ist[source].discard = false;
            m_ost.push_back(std::move(ost));
        }
    }
}

void Transcoder::PrepareStreamCopy(TAVOutputStream& ost, TAVInputStream& ist)
{
    AVCodecParameters* par = ost.stream->codecpar;
    const AVCodecParameters* ipar = ist.stream->codecpar;
    const AVOutputFormat* fmt = m_e.outputs[ost.file].ctx->oformat;
    const unsigned wantedTag = ost.setup->codec->codec_tag;
    if (avcodec_parameters_copy(par, ipar) < 0)
        Fail(QStringLiteral("failed to allocate extradata"));
    // keep the input's tag only where the container accepts it for this codec
    par->codec_tag = 0;
    if (wantedTag)
        par->codec_tag = wantedTag;
    else if (!fmt->codec_tag || av_codec_get_id(fmt->codec_tag, ipar->codec_tag) == ipar->codec_id ||
             !av_codec_get_tag(fmt->codec_tag, ipar->codec_id))
        par->codec_tag = ipar->codec_tag;
    if (fmt->codec_tag && par->codec_tag && av_codec_get_id(fmt->codec_tag, par->codec_tag) != par->codec_id)
        par->codec_tag = 0;
    ost.stream->time_base = ist.stream->time_base;
    ost.stream->avg_frame_rate = ist.stream->avg_frame_rate;
    ost.stream->r_frame_rate = ist.stream->r_frame_rate;
    switch (ipar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        if (m_o.AudioOptions()->m_audioVolume != 256)
            Fail(QStringLiteral("-acodec copy and -vol are incompatible (frames are not decoded)"));
        if ((par->block_align == 1 && par->codec_id == AV_CODEC_ID_MP3) || par->codec_id == AV_CODEC_ID_AC3)
            par->block_align = 0;
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (ost.stream->sample_aspect_ratio.num == 0)
            ost.stream->sample_aspect_ratio = ist.stream->sample_aspect_ratio;
        break;
    case AVMEDIA_TYPE_SUBTITLE: break;
    default: Fail(QStringLiteral("unknown codec type"));
    }
}

void Transcoder::PrepareEncoding(TAVOutputStream& ost, TAVInputStream& ist)
{
    AVCodecContext* enc = ost.encoder();
    const AVCodecParameters* ipar = ist.stream->codecpar;
    enc->bits_per_raw_sample = 0;
    enc->chroma_sample_location = ipar->chroma_location;
    switch (ost.type()) {
    case AVMEDIA_TYPE_AUDIO: SetupAudioEncoder(ost, ist); break;
    case AVMEDIA_TYPE_VIDEO:
        if (enc->pix_fmt == AV_PIX_FMT_NONE)
            Fail(QStringLiteral("Video pixel format is unknown, stream can not be decoded"));
        ost.sourceWidth = ipar->width;
        ost.sourceHeight = ipar->height;
        ost.sourcePixFmt = ipar->format;
        if (int64_t flags = 4; av_opt_get_int(m_e.defaultScaler, "sws_flags", 0, &flags) >= 0)
            m_o.ScalerFlags = int(flags);
        ist.decodingNeeded = true;
        ost.encodingNeeded = true;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        ist.decodingNeeded = true;
        ost.encodingNeeded = true;
        break;
    default: break;
    }
    if (ost.encodingNeeded && (enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        OpenTwoPassLog(ost);
}

void Transcoder::OpenTwoPassLog(TAVOutputStream& ost)
{
    // beside the output and named after it, so jobs running at once never
    // share a statistics file
    const QString output = m_c.OutputFiles().value(ost.file);
    const int n = int(&ost - m_ost.data());
    const QString path = output + QStringLiteral("-ffmpeg2pass-%1.log").arg(n);
    AVCodecContext* enc = ost.encoder();
    // libx264 keeps its statistics itself, in the file its own option names
    // (else in the working folder); it reads and writes them on its own
    if (enc->priv_data && av_opt_find(enc->priv_data, "stats", nullptr, 0, 0) &&
        qstrcmp(ost.setup->encoder->name, "libx264") == 0) {
        if (av_opt_set(enc->priv_data, "stats", QFile::encodeName(path).constData(), 0) < 0)
            Fail(QStringLiteral("Cannot write log file %1").arg(path));
        if ((enc->flags & AV_CODEC_FLAG_PASS2) && !QFileInfo::exists(path))
            Fail(QStringLiteral("Cannot read log file %1").arg(path));
        return;
    }
    if (enc->flags & AV_CODEC_FLAG_PASS1) {
        ost.passLog.reset(std::fopen(QFile::encodeName(path).constData(), "wb"));
        if (!ost.passLog)
            Fail(QStringLiteral("Cannot write log file %1").arg(path));
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("Cannot read log file %1: %2").arg(path, file.errorString()));
    const QByteArray data = file.readAll();
    char* buffer = static_cast<char*>(av_malloc(size_t(data.size()) + 1));
    if (!buffer)
        Fail(QStringLiteral("Could not allocate log buffer"));
    memcpy(buffer, data.constData(), size_t(data.size()));
    buffer[data.size()] = 0;
    enc->stats_in = buffer;
}

void Transcoder::OpenCodecs()
{
    for (TAVInputStream& ist : m_ist) {
        if (!ist.decodingNeeded)
            continue;
        const AVCodec* dec = avcodec_find_decoder(ist.stream->codecpar->codec_id);
        if (!dec)
            Fail(QStringLiteral("Unsupported codec for input stream "));
        ist.decoder.reset(avcodec_alloc_context3(dec));
        if (!ist.decoder || avcodec_parameters_to_context(ist.decoder.get(), ist.stream->codecpar) < 0)
            Fail(QStringLiteral("Error while opening codec for input stream "));
        AVCodecContext* d = ist.decoder.get();
        TagContext(d, m_c.LogJobId());
        d->pkt_timebase = ist.stream->time_base;
        d->thread_count = dec->id == AV_CODEC_ID_SVQ3 ? 1 : m_o.m_threadCount;
        const AVMediaType type = d->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO)
            CopyContextOptions(d, m_e.defaultCodec[type].get(), m_e.optionNames,
                               AV_OPT_FLAG_DECODING_PARAM |
                                   (type == AVMEDIA_TYPE_VIDEO ? AV_OPT_FLAG_VIDEO_PARAM : AV_OPT_FLAG_AUDIO_PARAM));
        if (type == AVMEDIA_TYPE_VIDEO)
            d->framerate = ist.stream->avg_frame_rate;
        if (m_o.VideoOptions()->m_meThreshold && type == AVMEDIA_TYPE_VIDEO)
            d->export_side_data |= AV_CODEC_EXPORT_DATA_MVS;
        if (m_o.VideoOptions()->m_sameQuality && type == AVMEDIA_TYPE_VIDEO)
            d->export_side_data |= AV_CODEC_EXPORT_DATA_VIDEO_ENC_PARAMS;
        if (avcodec_open2(d, dec, nullptr) < 0)
            Fail(QStringLiteral("Error while opening codec for input stream "));
        ist.frame = av::NewFrame();
        // a decoder asked for a reduced resolution gives smaller pictures
        if (type == AVMEDIA_TYPE_VIDEO && d->lowres > 0 && d->width > 0 && d->height > 0)
            for (TAVOutputStream& ost : m_ost)
                if (&m_ist[ost.source] == &ist && ost.type() == AVMEDIA_TYPE_VIDEO)
                    ost.sourceWidth = d->width, ost.sourceHeight = d->height;
    }
    for (TAVOutputStream& ost : m_ost) {
        if (ost.encodingNeeded) {
            TAVInputStream& ist = m_ist[ost.source];
            if (ost.type() == AVMEDIA_TYPE_VIDEO) {
                if (ConfigureFilters(ist, ost) != 0)
                    Fail(QStringLiteral("Error opening filters!"));
            }
            AVCodecContext* enc = ost.encoder();
            if (ost.type() == AVMEDIA_TYPE_SUBTITLE && ist.decoder && ist.decoder->subtitle_header) {
                // text subtitles carry their style header from decoder to encoder
                enc->subtitle_header = static_cast<uint8_t*>(av_mallocz(ist.decoder->subtitle_header_size + 1));
                if (!enc->subtitle_header)
                    Fail(QStringLiteral("Out of memory"));
                memcpy(enc->subtitle_header, ist.decoder->subtitle_header, ist.decoder->subtitle_header_size);
                enc->subtitle_header_size = ist.decoder->subtitle_header_size;
                enc->time_base = AVRational{1, 1000};
            }
            av::Dict opts;
            AddPrivateOptions(m_e, &ost.setup->encoder->priv_class, &opts.p);
            if (enc->rc_max_rate > 0 && enc->bit_rate > enc->rc_max_rate) {
                // a bit rate above the cap is refused by the encoders: the cap wins
                m_c.DoLog(AV_LOG_WARNING, QStringLiteral("Bit rate %1 lowered to the maximum rate %2")
                                               .arg(enc->bit_rate)
                                               .arg(enc->rc_max_rate));
                enc->bit_rate = enc->rc_max_rate;
            }
            int opened = ost.setup->encoder ? avcodec_open2(enc, ost.setup->encoder, &opts.p) : -1;
            if (opened < 0 && ost.setup->encoder && enc->thread_count != 1) {
                // some encoders cannot run frame threads at every setting: one thread still works
                m_c.DoLog(AV_LOG_WARNING, QStringLiteral("Encoder %1 retried with one thread")
                                               .arg(QString::fromLatin1(ost.setup->encoder->name)));
                enc->thread_count = 1;
                av::Dict retry;
                AddPrivateOptions(m_e, &ost.setup->encoder->priv_class, &retry.p);
                opened = avcodec_open2(enc, ost.setup->encoder, &retry.p);
            }
            if (opened < 0)
                Fail(QStringLiteral("Error while opening codec for output stream - maybe incorrect parameters "
                                    "such as bit_rate, rate, width or height"));
            if (avcodec_parameters_from_context(ost.stream->codecpar, enc) < 0)
                Fail(QStringLiteral("Out of memory"));
            ost.stream->time_base = enc->time_base;
            if (ost.type() == AVMEDIA_TYPE_VIDEO)
                ost.stream->avg_frame_rate = enc->framerate;
            if (ost.type() == AVMEDIA_TYPE_AUDIO)
                SendAudioFrames(ost, false); // sets up the frame the encoder wants
        }
        BuildBitstreamFilters(ost);
    }
}

void Transcoder::BuildBitstreamFilters(TAVOutputStream& ost)
{
    const AVCodecParameters* par = ost.stream->codecpar;
    AVRational tb = ost.stream->time_base;
    for (const QString& name : ost.setup->bitstreamFilters) {
        const AVBitStreamFilter* filter = av_bsf_get_by_name(name.toUtf8().constData());
        AVBSFContext* raw = nullptr;
        if (!filter || av_bsf_alloc(filter, &raw) < 0)
            continue;
        av::BsfPtr bsf(raw);
        avcodec_parameters_copy(bsf->par_in, ost.bsfs.empty() ? par : ost.bsfs.back()->par_out);
        bsf->time_base_in = ost.bsfs.empty() ? tb : ost.bsfs.back()->time_base_out;
        if (av_bsf_init(bsf.get()) < 0) {
            m_c.DoLog(AV_LOG_ERROR, QStringLiteral("Bitstream filter %1 does not apply to this stream").arg(name));
            continue;
        }
        ost.bsfs.push_back(std::move(bsf));
        ost.bsfPackets.push_back(av::NewPacket());
        if (!ost.bsfPackets.back())
            Fail(QStringLiteral("Out of memory"));
    }
    if (!ost.bsfs.empty())
        avcodec_parameters_copy(ost.stream->codecpar, ost.bsfs.back()->par_out);
}

void Transcoder::CopyChapters(int inputIndex, int outputIndex)
{
    AVFormatContext* is = m_e.inputs[inputIndex].ctx.get();
    AVFormatContext* os = m_e.outputs[outputIndex].ctx.get();
    const int64_t offsetBase = -m_e.inputs[inputIndex].tsOffsetUs;
    for (unsigned i = 0; i < is->nb_chapters; ++i) {
        const AVChapter* in = is->chapters[i];
        // chapter times are moved by the same offset as the packets
        const int64_t offset = av_rescale_q(offsetBase, av::kMicroseconds, in->time_base);
        const int64_t limit = m_o.m_recordingTime == kNoTimeLimit
                                  ? INT64_MAX
                                  : av_rescale_q(m_o.m_recordingTime, av::kMicroseconds, in->time_base);
        if (in->end < offset)
            continue;
        if (limit != INT64_MAX && in->start > limit + offset)
            break;
        AVChapter** grown = static_cast<AVChapter**>(
            av_realloc_array(os->chapters, os->nb_chapters + 1, sizeof(AVChapter*)));
        if (!grown)
            Fail(QStringLiteral("Copy chapters failed"));
        os->chapters = grown;
        AVChapter* out = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!out)
            Fail(QStringLiteral("Copy chapters failed"));
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<int64_t>(0, in->start - offset);
        out->end = std::min<int64_t>(limit, in->end - offset);
        av_dict_copy(&out->metadata, in->metadata, 0);
        os->chapters[os->nb_chapters++] = out;
    }
}

void Transcoder::WriteHeaders()
{
    m_needsTrailer.assign(m_e.outputs.size(), false);
    for (size_t i = 0; i < m_e.outputs.size(); ++i) {
        AVFormatContext* oc = m_e.outputs[i].ctx.get();
        av::Dict opts;
        MuxerHeaderOptions(m_e, m_o, oc->oformat, &opts.p);
        if (avformat_write_header(oc, &opts.p) < 0)
            Fail(QStringLiteral("Could not write header for output file  (incorrect codec parameters ?)"));
        m_needsTrailer[i] = true;
    }
}

void MuxerHeaderOptions(const ConverterEngine& e, const TAVConvertOptions& o, const AVOutputFormat* format,
                        AVDictionary** dict)
{
    const AVClass* const* muxer = &format->priv_class;
    if (*muxer && av_opt_find(const_cast<const AVClass**>(muxer), "preload", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
        av_dict_set_int(dict, "preload", std::lround(o.MuxerOptions()->m_muxPreload * 1000000.0), 0);
    if (*muxer && o.LoopOutput >= 0 &&
        av_opt_find(const_cast<const AVClass**>(muxer), "loop", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
        av_dict_set_int(dict, "loop", o.LoopOutput, 0);
    AddPrivateOptions(e, muxer, dict);
}

} // namespace korvane
