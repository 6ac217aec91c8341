// The preview's streaming thread: reads packets, decodes, filters and queues
// pictures and audio, carries out seeks and loop passes.
#include "preview/PushSource.h"

#include "filters/SynthChain.h"

#include "options/Persistent.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace korvane {

namespace {

// A frame's duration in microseconds, 0 when it carries none.
int64_t FrameDurationUs(const AVFrame* frame, AVRational tb)
{
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 42, 100)
    const int64_t d = frame->duration;
#else
    const int64_t d = frame->pkt_duration;
#endif
    return d > 0 ? av_rescale_q(d, tb, av::kMicroseconds) : 0;
}

} // namespace

int64_t TFFPushSource::ToUs(int64_t ts, AVRational tb) const
{
    return av_rescale_q(ts, tb, av::kMicroseconds) - m_startTimeUs;
}

void TFFPushSource::Run()
{
    try {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_queueLock);
                m_wake.wait(lock, [this] {
                    return m_quit || m_seekGeneration != m_doneGeneration || !Throttled();
                });
                if (m_quit)
                    return;
            }
            RunPass();
        }
    } catch (const std::exception& e) {
        Fail(QString::fromUtf8(e.what()));
    }
}

void TFFPushSource::RunPass()
{
    std::unique_lock<std::mutex> lock(m_streamLock);
    bool seek = false;
    uint64_t generation = 0;
    int64_t target = 0;
    TSeekMode mode = TSeekMode::smAtOrAfter;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        if (m_seekGeneration != m_doneGeneration) {
            seek = true;
            generation = m_seekGeneration;
            target = m_seekTargetUs;
            mode = m_seekMode;
        }
    }
    if (seek) {
        PerformSeek(target, mode);
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_doneGeneration = generation;
        m_endOfStream = false;
        m_subtitles.Clear();
        return;
    }
    const int ret = av_read_frame(m_format.get(), m_packet.get());
    if (ret == AVERROR(EAGAIN)) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return;
    }
    if (ret < 0) {
        EndOfFile();
        return;
    }
    const int index = m_packet->stream_index;
    if (m_video && index == m_video->stream) {
        // while a seek drops pictures, those well before the time that no
        // other picture refers to need not be decoded at all
        AVCodecContext* dec = m_video->ctx.get();
        dec->skip_frame = AVDISCARD_DEFAULT;
        if (m_dropping && !(m_packet->flags & AV_PKT_FLAG_KEY) && m_packet->pts != AV_NOPTS_VALUE) {
            const int64_t at = ToUs(m_packet->pts, Stream(AVMEDIA_TYPE_VIDEO)->time_base) + LoopOffsetUs();
            if (at + 4 * m_video->frameDurationUs < m_targetUs)
                dec->skip_frame = AVDISCARD_NONREF;
        }
        DecodeVideo(m_packet.get());
    }
    else if (m_audio && index == m_audio->stream)
        DecodeAudio(m_packet.get());
    else if (m_subtitle && index == m_subtitle->stream)
        DecodeSubtitle(m_packet.get());
    av_packet_unref(m_packet.get());
}

void TFFPushSource::EndOfFile()
{
    // what the decoders and filters still hold
    if (m_video) {
        DecodeVideo(nullptr);
        FlushFilters();
    }
    if (m_audio)
        DecodeAudio(nullptr);
    if (m_dropping) {
        // the time asked for lies past the last picture: show the last one
        if (m_lastDropped->buf[0]) {
            QueuePicture(m_lastDropped.get(), m_lastDroppedUs);
        } else if (m_lastDecodedUs >= 0 && m_lastDecodedUs < m_targetUs) {
            // it was passed over before the filters: ask for it by its time
            m_targetUs = m_lastDecodedUs;
            m_dropMode = TSeekMode::smAtOrAfter;
            RetrySeek(m_seekFileUs);
            return;
        } else if (m_seekFileUs > 0) {
            // the demuxer landed after the last picture
            RetrySeek(m_seekFileUs - NextBackoff());
            return;
        }
        av_frame_unref(m_lastDropped.get());
        m_dropping = false;
    }
    const int next = m_loopIndex + 1;
    if (next < m_loopCount && m_fileDurationUs > 0) {
        m_loopIndex = next;
        SeekFile(0);
        ResetDecoding();
        return;
    }
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        // a seek asked for meanwhile starts reading again
        if (m_seekGeneration == m_doneGeneration)
            m_endOfStream = true;
    }
    m_queued.notify_all();
}

void TFFPushSource::PerformSeek(int64_t targetUs, TSeekMode mode)
{
    int loop = 0;
    int64_t fileUs = targetUs;
    if (m_fileDurationUs > 0) {
        loop = int(std::min<int64_t>(targetUs / m_fileDurationUs, m_loopCount - 1));
        fileUs = targetUs - int64_t(loop) * m_fileDurationUs;
    }
    m_loopIndex = loop;
    m_dropping = m_video != nullptr;
    m_dropMode = mode;
    m_targetUs = targetUs;
    m_audioDropping = true;
    m_seekBackoffUs = 0;
    m_firstAfterSeek = true;
    m_lastDecodedUs = -1;
    av_frame_unref(m_lastDropped.get());
    SeekFile(mode == TSeekMode::smBefore ? fileUs - 1 : fileUs);
    ResetDecoding();
}

int64_t TFFPushSource::NextBackoff()
{
    // twice as far back each time
    m_seekBackoffUs = m_seekBackoffUs ? m_seekBackoffUs * 2 : 1000000;
    return m_seekBackoffUs;
}

void TFFPushSource::RetrySeek(int64_t fileUs)
{
    SeekFile(fileUs);
    ResetDecoding();
    m_firstAfterSeek = true;
    m_lastDecodedUs = -1;
    // sound after the time may have been queued already
    m_audioDropping = true;
    std::lock_guard<std::mutex> queue(m_queueLock);
    m_audioQueue.clear();
}

void TFFPushSource::SeekFile(int64_t fileUs)
{
    fileUs = std::max<int64_t>(0, fileUs);
    m_seekFileUs = fileUs;
    AVFormatContext* ctx = m_format.get();
    const int64_t ts = fileUs + m_startTimeUs;
    int ret = -1;
    if (m_audio && fileUs <= StreamStartUs(m_video ? m_video->stream : m_audio->stream)) {
        // At the start (before the first picture) the sound is read from its
        // own first packet, as a first reading does. A seek on the pictures' stream
        // makes Matroska drop the sound ahead of the keyframe, and a seek to
        // the time would leave out an MP4's priming packet, whose decoding
        // the first heard samples depend on.
        AVStream* st = m_format->streams[m_audio->stream];
        int64_t at = av_rescale_q(ts, av::kMicroseconds, st->time_base);
        if (st->start_time != AV_NOPTS_VALUE)
            at = std::min(at, st->start_time);
        if (const AVIndexEntry* first = avformat_index_get_entry(st, 0))
            at = std::min(at, first->timestamp); // a priming packet sits before the start time
        ret = avformat_seek_file(ctx, m_audio->stream, INT64_MIN, at, at, 0);
    }
    // the keyframe at or before the time; pictures up to the time are dropped
    if (ret < 0)
        ret = avformat_seek_file(ctx, -1, INT64_MIN, ts, ts, 0);
    if (ret < 0)
        ret = av_seek_frame(ctx, -1, ts, AVSEEK_FLAG_BACKWARD);
    if (ret < 0 && fileUs > 0) {
        m_seekFileUs = 0;
        ret = avformat_seek_file(ctx, -1, INT64_MIN, m_startTimeUs, m_startTimeUs, 0);
    }
    if (ret < 0)
        av_seek_frame(ctx, -1, 0, AVSEEK_FLAG_BYTE);
}

int64_t TFFPushSource::StreamStartUs(int stream) const
{
    const AVStream* st = m_format->streams[stream];
    return st->start_time != AV_NOPTS_VALUE ? ToUs(st->start_time, st->time_base) : 0;
}

void TFFPushSource::ResetDecoding()
{
    for (Decoder* d : {m_video.get(), m_subtitle.get()})
        if (d)
            avcodec_flush_buffers(d->ctx.get());
    if (m_audio) {
        // a fresh sound decoder: a flushed one keeps state (AAC's noise
        // generator) that makes the samples after the seek differ from a
        // first reading of the same packets
        if (av::CodecContextPtr fresh = NewDecoderContext(m_format->streams[m_audio->stream]))
            m_audio->ctx = std::move(fresh);
        else
            avcodec_flush_buffers(m_audio->ctx.get());
    }
    m_swrInFormat = -1; // a new converter: no tail of the old position
    m_videoClockUs = 0;
    m_audioClockUs = 0;
    if (m_video) {
        // filters keep pictures of the old position (and end after the last pass)
        try {
            BuildGraphLocked();
        } catch (const EEngineError& e) {
            m_graphError = QString::fromUtf8(e.what());
        }
    }
}

void TFFPushSource::DecodeVideo(const AVPacket* pkt)
{
    AVCodecContext* dec = m_video->ctx.get();
    // a damaged packet is skipped: the decoder goes on with the next one
    avcodec_send_packet(dec, pkt);
    while (m_video && avcodec_receive_frame(dec, m_decoded.get()) >= 0) {
        FilterPicture(m_decoded.get());
        av_frame_unref(m_decoded.get());
    }
}

void TFFPushSource::FilterPicture(AVFrame* frame)
{
    const AVRational tb = Stream(AVMEDIA_TYPE_VIDEO)->time_base;
    int64_t pts = frame->best_effort_timestamp;
    int64_t fileUs;
    if (pts != AV_NOPTS_VALUE) {
        fileUs = ToUs(pts, tb);
    } else {
        fileUs = m_videoClockUs;
        pts = av_rescale_q(fileUs + m_startTimeUs, av::kMicroseconds, tb);
    }
    frame->pts = pts;
    int64_t durationUs = FrameDurationUs(frame, tb);
    if (durationUs <= 0)
        durationUs = m_video->frameDurationUs;
    m_videoClockUs = fileUs + durationUs;
    if (m_dropping) {
        const int64_t at = fileUs + LoopOffsetUs();
        if (m_firstAfterSeek) {
            m_firstAfterSeek = false;
            const bool late = m_dropMode == TSeekMode::smBefore ? at >= m_targetUs : at > m_targetUs;
            if (late && m_seekFileUs > 0) {
                // the demuxer landed after the time (no index, inexact
                // timestamps): go further back
                RetrySeek(m_seekFileUs - NextBackoff());
                return;
            }
        }
        m_lastDecodedUs = at;
        // pictures well before the time need no filtering: only the last
        // ones can come out of the filters at or after it
        const int64_t margin = (m_dropMode == TSeekMode::smBefore ? 3 : 2) * durationUs;
        if (at + margin < m_targetUs)
            return;
    }
    if (frame->width != m_graphWidth || frame->height != m_graphHeight || frame->format != m_graphFormat) {
        m_graphWidth = frame->width;
        m_graphHeight = frame->height;
        m_graphFormat = frame->format;
        try {
            BuildGraphLocked();
        } catch (const EEngineError& e) {
            m_graphError = QString::fromUtf8(e.what());
        }
    }
    if (!m_graph)
        return; // the filters did not build: no pictures
    if (m_synth) {
        try {
            m_synth->Send(frame);
        } catch (const EEngineError&) {
            return; // a graph before a script failed on this picture: it is skipped
        }
        FeedFromSynth();
        return;
    }
    if (av_buffersrc_add_frame_flags(m_bufferSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
        return;
    PullPictures();
}

void TFFPushSource::FeedFromSynth()
{
    while (av::FramePtr picture = m_synth->TakeOutput()) {
        if (av_buffersrc_add_frame(m_bufferSource, picture.get()) < 0)
            continue;
        PullPictures();
    }
}

void TFFPushSource::FlushFilters()
{
    // pictures that filters hold back come out at the end
    if (!m_graph)
        return;
    if (m_synth) {
        try {
            m_synth->Send(nullptr);
        } catch (const EEngineError&) {
        }
        FeedFromSynth();
    }
    if (av_buffersrc_add_frame(m_bufferSource, nullptr) >= 0)
        PullPictures();
}

void TFFPushSource::PullPictures()
{
    for (;;) {
        const int ret = av_buffersink_get_frame(m_bufferSink, m_filtered.get());
        if (ret < 0)
            break; // wants more input, ended, or failed on this picture
        const AVRational tb = av_buffersink_get_time_base(m_bufferSink);
        const int64_t at = (m_filtered->pts != AV_NOPTS_VALUE ? ToUs(m_filtered->pts, tb) : m_videoClockUs) +
                           LoopOffsetUs();
        if (m_dropping) {
            if (at < m_targetUs) {
                av_frame_unref(m_lastDropped.get());
                av_frame_move_ref(m_lastDropped.get(), m_filtered.get());
                m_lastDroppedUs = at;
                continue;
            }
            m_dropping = false;
            if (m_dropMode == TSeekMode::smBefore && m_lastDropped->buf[0])
                QueuePicture(m_lastDropped.get(), m_lastDroppedUs);
            av_frame_unref(m_lastDropped.get());
        }
        QueuePicture(m_filtered.get(), at);
        av_frame_unref(m_filtered.get());
    }
}

void TFFPushSource::QueuePicture(AVFrame* frame, int64_t startUs)
{
    const int w = frame->width, h = frame->height;
    if (w <= 0 || h <= 0)
        return;
    auto sample = std::make_shared<TFFSample>();
    sample->picture.reset(av_frame_alloc());
    if (!sample->picture || av_frame_ref(sample->picture.get(), frame) < 0)
        return;
    sample->size = w * h * 4;
    sample->width = w;
    sample->height = h;
    if (frame->sample_aspect_ratio.num > 0 && frame->sample_aspect_ratio.den > 0)
        sample->pixelAspect = frame->sample_aspect_ratio;
    int64_t durationUs = FrameDurationUs(frame, av_buffersink_get_time_base(m_bufferSink));
    if (durationUs <= 0)
        durationUs = m_video->frameDurationUs;
    sample->startUs = startUs;
    sample->stopUs = startUs + durationUs;
    m_outWidth = w;
    m_outHeight = h;
    PushVideo(std::move(sample));
}

void TFFPushSource::DecodeAudio(const AVPacket* pkt)
{
    AVCodecContext* dec = m_audio->ctx.get();
    avcodec_send_packet(dec, pkt);
    while (m_audio && avcodec_receive_frame(dec, m_decoded.get()) >= 0) {
        QueueAudio(m_decoded.get());
        av_frame_unref(m_decoded.get());
    }
}

void TFFPushSource::QueueAudio(AVFrame* frame)
{
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || m_sampleRate <= 0)
        return;
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &frame->ch_layout) < 0)
        return;
    av::ChannelLayout inLayout;
    inLayout.v = in;
    if (!m_toS16 || m_swrInFormat != frame->format || m_swrInRate != frame->sample_rate ||
        av_channel_layout_compare(&m_swrInLayout.v, &inLayout.v) != 0) {
        // interleaved signed 16-bit, mono stays mono, everything else is stereo
        av::ChannelLayout out;
        av_channel_layout_default(&out.v, m_channels);
        SwrContext* swr = nullptr;
        if (swr_alloc_set_opts2(&swr, &out.v, AV_SAMPLE_FMT_S16, m_sampleRate, &inLayout.v,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
            swr_init(swr) < 0) {
            swr_free(&swr);
            m_toS16.reset();
            return;
        }
        m_toS16.reset(swr);
        m_swrInFormat = frame->format;
        m_swrInRate = frame->sample_rate;
        std::swap(m_swrInLayout.v, inLayout.v);
    }
    const int capacity = swr_get_out_samples(m_toS16.get(), frame->nb_samples);
    if (capacity <= 0)
        return;
    const int frameBytes = 2 * m_channels;
    auto sample = std::make_shared<TFFSample>();
    sample->data.reset(new uint8_t[size_t(capacity) * frameBytes]);
    uint8_t* out = sample->data.get();
    int count = swr_convert(m_toS16.get(), &out, capacity, const_cast<const uint8_t**>(frame->extended_data),
                            frame->nb_samples);
    if (count <= 0)
        return;
    const AVRational tb = Stream(AVMEDIA_TYPE_AUDIO)->time_base;
    const int64_t pts = frame->best_effort_timestamp;
    int64_t startUs = (pts != AV_NOPTS_VALUE ? ToUs(pts, tb) : m_audioClockUs) + LoopOffsetUs();
    if (m_audioDropping) {
        const int64_t stopUs = startUs + int64_t(count) * 1000000 / m_sampleRate;
        if (stopUs <= m_targetUs)
            return; // before the time asked for
        if (startUs < m_targetUs) {
            const int skip = int((m_targetUs - startUs) * m_sampleRate / 1000000);
            std::memmove(out, out + size_t(skip) * frameBytes, size_t(count - skip) * frameBytes);
            count -= skip;
            startUs += int64_t(skip) * 1000000 / m_sampleRate;
        }
        m_audioDropping = false;
    }
    sample->size = count * frameBytes;
    sample->startUs = startUs;
    sample->stopUs = startUs + int64_t(count) * 1000000 / m_sampleRate;
    m_audioClockUs = sample->stopUs - LoopOffsetUs();
    PushAudio(std::move(sample));
}

void TFFPushSource::DecodeSubtitle(const AVPacket* pkt)
{
    auto sub = std::make_unique<TFFSubtitle>();
    int got = 0;
    if (avcodec_decode_subtitle2(m_subtitle->ctx.get(), &sub->sub, &got, const_cast<AVPacket*>(pkt)) < 0 || !got)
        return;
    // text subtitles are not drawn here
    if (sub->sub.format != 0 || sub->sub.num_rects == 0)
        return;
    const AVRational tb = Stream(AVMEDIA_TYPE_SUBTITLE)->time_base;
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    sub->timeUs = (ts != AV_NOPTS_VALUE ? ToUs(ts, tb) : m_videoClockUs) + LoopOffsetUs();
    std::lock_guard<std::mutex> queue(m_queueLock);
    if (m_seekGeneration == m_doneGeneration)
        m_subtitles.Push(std::move(sub));
}

} // namespace korvane
