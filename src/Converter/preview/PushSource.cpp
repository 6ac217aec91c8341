// The preview's decoding source: opening the source, its decoders and the
// choice of streams. The filter graph is in PushSourceGraph.cpp, the queues in
// PushSourceQueues.cpp, the streaming thread in PushSourceThread.cpp (reading),
// PushSourceSeek.cpp, PushSourceVideo.cpp, PushSourceAudio.cpp and
// PushSourceSubtitles.cpp.
#include "preview/PushSource.h"

#include "av/AVLib.h"
#include "filters/SynthChain.h"
#include "options/Persistent.h"
#include "sources/StreamProtocol.h"
#include "transcode/Engine.h"

#include <pthread.h>
#include <stdexcept>

namespace korvane {

TFFPushSource::TFFPushSource()
    : m_packet(av::NewPacket()), m_decoded(av::NewFrame()), m_filtered(av::NewFrame()),
      m_lastDropped(av::NewFrame()), m_held(av::NewFrame())
{
    if (!m_packet || !m_decoded || !m_filtered || !m_lastDropped || !m_held)
        throw std::bad_alloc();
    m_logJob = RegisterLogJob(this);
}

TFFPushSource::~TFFPushSource()
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_quit = true;
    }
    m_closing = true; // a script stuck in a loop, or a slow read, stops at once
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    // decoders and the graph go before the format context they read from
    m_synth.reset();
    m_graph.reset();
    m_video.reset();
    m_audio.reset();
    m_subtitle.reset();
    m_format.reset();
    m_streamInput.reset();
    UnregisterLogJob(m_logJob);
}

void TFFPushSource::DeliverLogLine(int level, const QString& text)
{
    if (level > AV_LOG_ERROR)
        return;
    // "[AVFilterGraph @ 0x...] No such filter: 'x'": the reason without its prefix
    QString line = text.trimmed();
    while (line.startsWith(QLatin1Char('['))) {
        const int close = line.indexOf(QLatin1String("] "));
        if (close < 0)
            break;
        line = line.mid(close + 2).trimmed();
    }
    if (line.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(m_logLock);
    m_libraryError = line;
}

QString TFFPushSource::TakeLibraryError()
{
    std::lock_guard<std::mutex> lock(m_logLock);
    return std::exchange(m_libraryError, QString());
}

QString TFFPushSource::WithReason(const QString& message)
{
    const QString reason = TakeLibraryError();
    return reason.isEmpty() ? message : message + QStringLiteral(": ") + reason;
}

void TFFPushSource::Load(const QString& name)
{
    if (name.isEmpty())
        throw EEngineError("No source name");
    std::lock_guard<std::mutex> lock(m_streamLock);
    if (m_thread.joinable())
        throw std::logic_error("The preview source is already loaded");
    LoadMediaLibraries();
    Open(name);
    if (m_videoIndex >= 0) {
        OpenDecoder(AVMEDIA_TYPE_VIDEO);
        if (m_subtitleIndex >= 0)
            OpenDecoder(AVMEDIA_TYPE_SUBTITLE);
    }
    if (m_audioIndex >= 0)
        OpenDecoder(AVMEDIA_TYPE_AUDIO);
    m_fileName = name;
    m_thread = std::thread(&TFFPushSource::Run, this);
    pthread_setname_np(m_thread.native_handle(), "preview");
}

int TFFPushSource::InterruptCallback(void* opaque)
{
    const auto* self = static_cast<const TFFPushSource*>(opaque);
    return self->m_closing || (self->m_interrupt && !self->m_seeking);
}

void TFFPushSource::UpdateInterrupt()
{
    m_interrupt = m_lockWaiters > 0 || m_seekWaiting;
}

std::unique_lock<std::mutex> TFFPushSource::LockStream()
{
    {
        std::lock_guard<std::mutex> guard(m_interruptLock);
        ++m_lockWaiters;
        UpdateInterrupt();
    }
    std::unique_lock<std::mutex> lock(m_streamLock);
    std::lock_guard<std::mutex> guard(m_interruptLock);
    --m_lockWaiters;
    UpdateInterrupt();
    return lock;
}

void TFFPushSource::Open(const QString& name)
{
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw std::bad_alloc();
    TagContext(raw, m_logJob);
    raw->interrupt_callback = {&TFFPushSource::InterruptCallback, this};
    const AVInputFormat* format = nullptr;
    av::Dict options;
    const bool stream = IsStreamSource(name);
    if (stream) {
        try {
            m_streamInput = AttachStreamSource(name, raw);
            m_streamInput->SetStopFlag(&m_interrupt);
        } catch (...) {
            avformat_free_context(raw);
            throw;
        }
        if (name.endsWith(QLatin1String(".vob"), Qt::CaseInsensitive))
            format = av_find_input_format("mpeg");
        // subtitle streams of a disc title show up late
        av_dict_set(&options.p, "probesize", "20000000", 0);
        av_dict_set(&options.p, "analyzeduration", "20000000", 0);
    }
    // the open frees the context itself when it fails
    const QByteArray url = stream ? name.toUtf8() : LibraryUrl(name);
    int ret = avformat_open_input(&raw, url.constData(), format, &options.p);
    if (ret < 0)
        throw EEngineError(QStringLiteral("Could not open file:%1! %2")
                               .arg(ret)
                               .arg(QString::fromStdString(av::ErrorText(ret)))
                               .toStdString());
    m_format.reset(raw);
    if ((ret = avformat_find_stream_info(raw, nullptr)) < 0)
        throw EEngineError(QStringLiteral("Could not find codec parameters:%1!").arg(ret).toStdString());
    if (raw->pb)
        raw->pb->eof_reached = 0;
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        AVStream* st = raw->streams[i];
        st->discard = AVDISCARD_ALL; // only the selected streams are read
        switch (st->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
                m_videoStreams.push_back(int(i));
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (!m_disableAudio)
                m_audioStreams.push_back(int(i));
            break;
        case AVMEDIA_TYPE_SUBTITLE: m_subtitleStreams.push_back(int(i)); break;
        default: break;
        }
    }
    m_videoIndex = m_videoStreams.empty() ? -1 : 0;
    m_audioIndex = m_audioStreams.empty() ? -1 : 0;
    m_subtitleIndex = m_subtitleStreams.empty() ? -1 : 0;
    if (m_videoIndex < 0 && m_audioIndex < 0)
        throw EEngineError("The source has neither video nor audio");
    m_startTimeUs = raw->start_time != AV_NOPTS_VALUE ? raw->start_time : 0;
    m_fileDurationUs = raw->duration != AV_NOPTS_VALUE && raw->duration > 0 ? raw->duration : 0;
}

AVStream* TFFPushSource::Stream(AVMediaType type) const
{
    const Decoder* d = type == AVMEDIA_TYPE_VIDEO   ? m_video.get()
                       : type == AVMEDIA_TYPE_AUDIO ? m_audio.get()
                                                    : m_subtitle.get();
    return d && m_format ? m_format->streams[d->stream] : nullptr;
}

void TFFPushSource::OpenDecoder(AVMediaType type)
{
    const std::vector<int>& list = type == AVMEDIA_TYPE_VIDEO   ? m_videoStreams
                                   : type == AVMEDIA_TYPE_AUDIO ? m_audioStreams
                                                                : m_subtitleStreams;
    const int selected = type == AVMEDIA_TYPE_VIDEO   ? m_videoIndex
                         : type == AVMEDIA_TYPE_AUDIO ? m_audioIndex
                                                      : m_subtitleIndex;
    std::unique_ptr<Decoder>& slot = type == AVMEDIA_TYPE_VIDEO   ? m_video
                                     : type == AVMEDIA_TYPE_AUDIO ? m_audio
                                                                  : m_subtitle;
    slot.reset();
    if (selected < 0 || selected >= int(list.size()))
        return;
    AVStream* st = m_format->streams[list[selected]];
    // a stream without a decoder, or whose decoder does not open, stays silent
    auto d = std::make_unique<Decoder>();
    d->stream = list[selected];
    d->ctx = NewDecoderContext(st, m_logJob);
    if (!d->ctx)
        return;
    if (type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = av_guess_frame_rate(m_format.get(), st, nullptr);
        if (rate.num > 0 && rate.den > 0)
            d->frameDurationUs = av_rescale_q(1, av_inv_q(rate), av::kMicroseconds);
        const AVRational average = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate : rate;
        m_frameRate = average.num > 0 && average.den > 0 ? av_q2d(average) : 0;
    }
    st->discard = AVDISCARD_DEFAULT;
    slot = std::move(d);
    if (type == AVMEDIA_TYPE_VIDEO) {
        m_hasVideoDecoder = true;
        m_graphWidth = st->codecpar->width;
        m_graphHeight = st->codecpar->height;
        m_graphFormat = st->codecpar->format;
        try {
            BuildGraphLocked();
        } catch (const EEngineError& e) {
            // the source still opens; it shows no pictures until the filters build
            m_graphError = QString::fromUtf8(e.what());
        }
    } else if (type == AVMEDIA_TYPE_AUDIO) {
        m_hasAudioDecoder = true;
        m_sampleRate = st->codecpar->sample_rate;
        m_channels = st->codecpar->ch_layout.nb_channels == 1 ? 1 : 2;
        m_swrInFormat = -1;
    }
}

QString TFFPushSource::AudioStreamText(int index) const
{
    if (index < 0 || index >= AudioStreamCount())
        return {};
    const AVStream* st = m_format->streams[m_audioStreams[size_t(index)]];
    const AVCodecParameters* par = st->codecpar;
    QStringList parts;
    parts << QString::fromUtf8(avcodec_get_name(par->codec_id));
    char layout[64] = {};
    if (av_channel_layout_describe(&par->ch_layout, layout, sizeof layout) > 0)
        parts << QString::fromUtf8(layout);
    if (par->sample_rate > 0)
        parts << QStringLiteral("%1 Hz").arg(par->sample_rate);
    if (const AVDictionaryEntry* language = av_dict_get(st->metadata, "language", nullptr, 0))
        parts << QString::fromUtf8(language->value);
    if (const AVDictionaryEntry* title = av_dict_get(st->metadata, "title", nullptr, 0))
        parts << QString::fromUtf8(title->value);
    return QStringLiteral("%1: %2").arg(index + 1).arg(parts.join(QStringLiteral(", ")));
}

av::CodecContextPtr TFFPushSource::NewDecoderContext(const AVStream* st, int logJob)
{
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return {};
    av::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0)
        return {};
    ctx->pkt_timebase = st->time_base;
    TagContext(ctx.get(), logJob);
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        // the preview must keep up with real time: let the decoder use the cores
        ctx->thread_count = 0;
        ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0)
        return {};
    return ctx;
}

void TFFPushSource::CloseDecoder(AVMediaType type)
{
    AVStream* st = Stream(type);
    if (st)
        st->discard = AVDISCARD_ALL;
    if (type == AVMEDIA_TYPE_VIDEO) {
        m_synth.reset();
        m_graph.reset();
        m_bufferSource = m_bufferSink = nullptr;
        m_video.reset();
        m_hasVideoDecoder = false;
    } else if (type == AVMEDIA_TYPE_AUDIO) {
        m_audio.reset();
        m_hasAudioDecoder = false;
    } else {
        m_subtitle.reset();
    }
}

void TFFPushSource::SetVideoIndex(int index)
{
    if (index == m_videoIndex)
        return;
    if (index < 0 || index >= VideoStreamCount())
        throw std::out_of_range("Assertion failure");
    std::unique_lock<std::mutex> lock = LockStream();
    CloseDecoder(AVMEDIA_TYPE_VIDEO);
    m_videoIndex = index;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_videoQueue.clear();
        m_videoQueueBytes = 0;
        m_subtitles.Clear();
    }
    OpenDecoder(AVMEDIA_TYPE_VIDEO);
    m_wake.notify_all();
}

void TFFPushSource::SetAudioIndex(int index)
{
    if (index == m_audioIndex)
        return;
    if (index < 0 || index >= AudioStreamCount())
        throw std::out_of_range("Assertion failure");
    std::unique_lock<std::mutex> lock = LockStream();
    CloseDecoder(AVMEDIA_TYPE_AUDIO);
    m_audioIndex = index;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        ClearAudioQueue();
    }
    OpenDecoder(AVMEDIA_TYPE_AUDIO);
    m_wake.notify_all();
}

void TFFPushSource::SetSubtitleIndex(int index)
{
    if (index == m_subtitleIndex)
        return;
    if (index < 0 || index >= SubtitleStreamCount())
        throw std::out_of_range("Assertion failure");
    std::unique_lock<std::mutex> lock = LockStream();
    CloseDecoder(AVMEDIA_TYPE_SUBTITLE);
    m_subtitleIndex = index;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_subtitles.Clear();
    }
    if (m_video)
        OpenDecoder(AVMEDIA_TYPE_SUBTITLE);
}

} // namespace korvane
