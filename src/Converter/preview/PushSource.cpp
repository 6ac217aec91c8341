// The preview's decoding source: opening, decoders, the filter graph and the
// queues. The streaming thread's packet handling is in PushSourceThread.cpp.
#include "preview/PushSource.h"

#include "filters/FilterDescription.h"
#include "filters/SynthChain.h"
#include "options/Persistent.h"
#include "sources/StreamProtocol.h"
#include "av/AVLib.h"
#include "transcode/Engine.h"

#include <cstring>
#include <pthread.h>
#include <stdexcept>

namespace korvane {

TFFPushSource::TFFPushSource()
    : m_packet(av::NewPacket()), m_decoded(av::NewFrame()), m_filtered(av::NewFrame()),
      m_lastDropped(av::NewFrame())
{
    if (!m_packet || !m_decoded || !m_filtered || !m_lastDropped)
        throw std::bad_alloc();
}

TFFPushSource::~TFFPushSource()
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_quit = true;
    }
    m_closing = true; // a script stuck in a loop stops at once
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

void TFFPushSource::Open(const QString& name)
{
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw std::bad_alloc();
    const AVInputFormat* format = nullptr;
    av::Dict options;
    const bool stream = IsStreamSource(name);
    if (stream) {
        try {
            m_streamInput = AttachStreamSource(name, raw);
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
        throw EEngineError(QStringLiteral("Could not open file:%1!").arg(ret).toStdString());
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
    d->ctx = NewDecoderContext(st);
    if (!d->ctx)
        return;
    if (type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = av_guess_frame_rate(m_format.get(), st, nullptr);
        if (rate.num > 0 && rate.den > 0)
            d->frameDurationUs = av_rescale_q(1, av_inv_q(rate), av::kMicroseconds);
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

av::CodecContextPtr TFFPushSource::NewDecoderContext(const AVStream* st)
{
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return {};
    av::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0)
        return {};
    ctx->pkt_timebase = st->time_base;
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

namespace {

// the scaler's vector code may write this far past the end of the last row
constexpr size_t kScalerSlack = 256;

AVFilterContext* CreateFilter(AVFilterGraph* graph, const char* filter, const char* name, const char* args)
{
    AVFilterContext* ctx = avfilter_graph_alloc_filter(graph, avfilter_get_by_name(filter), name);
    if (!ctx)
        throw EEngineError("Can not create filter");
    if (avfilter_init_str(ctx, args) < 0)
        throw EEngineError("Can not init filter");
    return ctx;
}

void PrepareGraph(AVFilterGraph* graph)
{
    av_opt_set(graph, "scale_sws_opts", "flags=bicubic", 0);
}

// The graphs and scripts up to the last synth element of split, as a
// conversion runs them; input becomes the format of the pictures leaving
// the last script.
std::unique_ptr<TSynthChain> BuildSynthChain(const SynthSplit& split, PictureFormat& input,
                                             TSynthScript::LogFunction log, TSynthScript::StopFunction stop)
{
    auto chain = std::make_unique<TSynthChain>();
    TSynthChain::Settings settings;
    settings.prepare = PrepareGraph;
    settings.log = std::move(log);
    settings.stop = std::move(stop);
    if (chain->Configure(input, split, settings) < 0)
        throw EEngineError("Parse Graph Failed");
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
    PrepareGraph(graph.get());
    AVRational sar = st->sample_aspect_ratio.num ? st->sample_aspect_ratio : st->codecpar->sample_aspect_ratio;
    if (!sar.num || !sar.den)
        sar = {0, 1};
    PictureFormat in{m_graphWidth, m_graphHeight, m_graphFormat, st->time_base, sar};
    in.startSeconds = StreamStartSeconds(m_format.get(), st);
    const SynthSplit split = SplitAtSynth(m_filters);
    std::unique_ptr<TSynthChain> synth;
    if (split.HasSynth())
        synth = BuildSynthChain(
            split, in, [this](const QString& text) { LogSynthError(text); },
            [this] { return m_closing || m_filterChangesWaiting > 0; });
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
        } catch (const EEngineError&) {
            throw EEngineError("Parse Graph Failed");
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
                                                 &out, nullptr);
        avfilter_inout_free(&in);
        avfilter_inout_free(&out);
        if (ret < 0)
            throw EEngineError("Parse Graph Failed");
    }
    if (avfilter_graph_config(graph.get(), nullptr) < 0)
        throw EEngineError("config graph failed");
    m_bufferSource = source;
    m_bufferSink = sink;
    m_graph = std::move(graph);
    m_synth = std::move(synth);
    m_outWidth = av_buffersink_get_w(sink);
    m_outHeight = av_buffersink_get_h(sink);
}

void TFFPushSource::LogSynthError(const QString& text)
{
    // the scripts start afresh at each seek: their errors go to the library
    // log once per description all the same
    if (m_synthErrorsLogged.contains(text))
        return;
    m_synthErrorsLogged << text;
    av_log(nullptr, AV_LOG_ERROR, "%s\n", text.toUtf8().constData());
}

void TFFPushSource::SetVideoFilters(const QString& description)
{
    // a script running on the streaming thread stops its picture, so the
    // lock comes at once even when the script loops
    ++m_filterChangesWaiting;
    std::unique_lock<std::mutex> lock(m_streamLock);
    --m_filterChangesWaiting;
    if (description != m_filters)
        m_synthErrorsLogged.clear();
    m_filters = description;
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

void TFFPushSource::SetVideoIndex(int index)
{
    if (index == m_videoIndex)
        return;
    if (index < 0 || index >= VideoStreamCount())
        throw std::out_of_range("Assertion failure");
    std::lock_guard<std::mutex> lock(m_streamLock);
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
    std::lock_guard<std::mutex> lock(m_streamLock);
    CloseDecoder(AVMEDIA_TYPE_AUDIO);
    m_audioIndex = index;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_audioQueue.clear();
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
    std::lock_guard<std::mutex> lock(m_streamLock);
    CloseDecoder(AVMEDIA_TYPE_SUBTITLE);
    m_subtitleIndex = index;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_subtitles.Clear();
    }
    if (m_video)
        OpenDecoder(AVMEDIA_TYPE_SUBTITLE);
}

// ---- the queues ----------------------------------------------------------

void TFFPushSource::Seek(int64_t timeUs, TSeekMode mode)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        const int64_t total = TotalDurationUs();
        m_seekTargetUs = std::max<int64_t>(0, total > 0 ? std::min(timeUs, total) : timeUs);
        m_seekMode = mode;
        ++m_seekGeneration;
        m_videoQueue.clear();
        m_videoQueueBytes = 0;
        m_audioQueue.clear();
        m_subtitles.Clear();
        m_endOfStream = false;
    }
    m_wake.notify_all();
}

bool TFFPushSource::Throttled() const
{
    if (m_endOfStream)
        return true;
    const bool videoFull = !m_hasVideoDecoder || int(m_videoQueue.size()) >= kQueueDepth ||
                           m_videoQueueBytes >= kVideoQueueBytes;
    const bool audioFull = !m_hasAudioDecoder || int(m_audioQueue.size()) >= kQueueDepth;
    return videoFull && audioFull;
}

void TFFPushSource::PushVideo(TFFSamplePtr sample)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_seekGeneration != m_doneGeneration)
            return; // from before a seek that is still to be carried out
        m_videoQueueBytes += sample->size;
        m_videoQueue.push_back(std::move(sample));
    }
    m_queued.notify_all();
}

void TFFPushSource::PushAudio(TFFSamplePtr sample)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_seekGeneration != m_doneGeneration)
            return;
        m_audioQueue.push_back(std::move(sample));
    }
    m_queued.notify_all();
}

TFFSamplePtr TFFPushSource::TakeVideo()
{
    return TakeVideoUntil(INT64_MAX, false);
}

TFFSamplePtr TFFPushSource::TakeDueVideo(int64_t nowUs)
{
    return TakeVideoUntil(nowUs, true);
}

TFFSamplePtr TFFPushSource::TakeVideoUntil(int64_t nowUs, bool newestDue)
{
    TFFSamplePtr sample;
    {
        std::lock_guard<std::mutex> convert(m_convertLock);
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            while (!m_videoQueue.empty() && m_videoQueue.front()->startUs <= nowUs) {
                sample = std::move(m_videoQueue.front());
                m_videoQueue.pop_front();
                m_videoQueueBytes -= sample->size;
                if (!newestDue)
                    break;
            }
            if (!sample)
                return nullptr;
        }
        m_wake.notify_all();
        // outside the queue lock: the streaming thread goes on meanwhile
        if (sample->picture && !ToBgra(*sample))
            return nullptr;
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_subtitles.Apply(*sample);
    }
    // no lock held: the callback may call back into the source
    if (m_onBuffer)
        m_onBuffer(this, sample->data.get(), sample->width, sample->height);
    return sample;
}

bool TFFPushSource::ToBgra(TFFSample& sample)
{
    const AVFrame* frame = sample.picture.get();
    const int w = sample.width, h = sample.height;
    m_toBgra.reset(sws_getCachedContext(m_toBgra.release(), w, h, AVPixelFormat(frame->format), w, h,
                                        AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!m_toBgra)
        return false;
    const int packed = w * 4;
    if (w != m_bgraWidth || h != m_bgraHeight || frame->format != m_bgraFormat) {
        m_bgraWidth = w;
        m_bgraHeight = h;
        m_bgraFormat = frame->format;
        m_bgraPacked = packed % 64 == 0 ? TPackedRows::prWhole : TPackedRows::prUnknown;
    }
    sample.data.reset(new uint8_t[size_t(sample.size) + kScalerSlack]);
    auto convert = [&](uint8_t* to, int stride) {
        uint8_t* planes[4] = {to, nullptr, nullptr, nullptr};
        const int lines[4] = {stride, 0, 0, 0};
        sws_scale(m_toBgra.get(), frame->data, frame->linesize, 0, h, planes, lines);
    };
    if (m_bgraPacked == TPackedRows::prWhole) {
        convert(sample.data.get(), packed);
    } else {
        // For some widths (and formats) the scaler's vector code leaves the
        // last pixels of rows that do not start on 64-byte boundaries
        // unwritten: convert into aligned rows and pack them.
        const int aligned = FFALIGN(packed, 64);
        const size_t need = size_t(aligned) * h + kScalerSlack;
        if (m_bgraScratch.size() < need)
            m_bgraScratch.resize(need);
        convert(m_bgraScratch.data(), aligned);
        av_image_copy_plane(sample.data.get(), packed, m_bgraScratch.data(), aligned, packed, h);
        if (m_bgraPacked == TPackedRows::prUnknown) {
            // Whether it does for this size is tried once: a conversion
            // straight into packed rows that start out zero (an unwritten
            // pixel keeps alpha 0, a written one never does) must give the
            // same bytes. Then the copy is spared for the pictures to come.
            std::vector<uint8_t> trial(size_t(sample.size) + kScalerSlack, 0);
            convert(trial.data(), packed);
            m_bgraPacked = std::memcmp(trial.data(), sample.data.get(), size_t(sample.size)) == 0
                               ? TPackedRows::prWhole
                               : TPackedRows::prCopied;
        }
    }
    sample.picture.reset(); // the filters' buffer goes back to them
    return true;
}

TFFSamplePtr TFFPushSource::PeekVideo() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_videoQueue.empty() ? nullptr : m_videoQueue.front();
}

TFFSamplePtr TFFPushSource::WaitVideo(int timeoutMs)
{
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
            return !m_videoQueue.empty() || (m_endOfStream && m_seekGeneration == m_doneGeneration) ||
                   !m_error.isEmpty();
        });
    }
    return TakeVideo();
}

TFFSamplePtr TFFPushSource::TakeAudio()
{
    TFFSamplePtr sample;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_audioQueue.empty())
            return nullptr;
        sample = std::move(m_audioQueue.front());
        m_audioQueue.pop_front();
    }
    m_wake.notify_all();
    if (m_onAudioBuffer)
        m_onAudioBuffer(this, sample->data.get(), sample->size);
    return sample;
}

TFFSamplePtr TFFPushSource::PeekAudio() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_audioQueue.empty() ? nullptr : m_audioQueue.front();
}

TFFSamplePtr TFFPushSource::WaitAudio(int timeoutMs)
{
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
            return !m_audioQueue.empty() || (m_endOfStream && m_seekGeneration == m_doneGeneration) ||
                   !m_error.isEmpty();
        });
    }
    return TakeAudio();
}

int TFFPushSource::QueuedVideo() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return int(m_videoQueue.size());
}

int TFFPushSource::QueuedAudio() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return int(m_audioQueue.size());
}

bool TFFPushSource::EndOfStream() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    if (!m_error.isEmpty())
        return true;
    return m_endOfStream && m_seekGeneration == m_doneGeneration && m_videoQueue.empty() &&
           m_audioQueue.empty();
}

QString TFFPushSource::ErrorText() const
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    return m_error;
}

void TFFPushSource::Fail(const QString& message)
{
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_error = message;
        m_endOfStream = true;
    }
    m_queued.notify_all();
    if (m_onError)
        m_onError(this, message);
}

} // namespace korvane
