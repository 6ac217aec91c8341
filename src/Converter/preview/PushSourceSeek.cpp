// Seeking in the preview's source: exact seeks (the keyframe before the time,
// then pictures dropped up to it), the end of the file and the loop passes.
#include "preview/PushSource.h"

#include "options/Persistent.h"
#include "sources/StreamProtocol.h"

#include <algorithm>

namespace korvane {

void TFFPushSource::EndOfFile()
{
    // what the decoders and filters still hold
    if (m_video) {
        DecodeVideo(nullptr);
        if (m_dropping)
            SendHeld(); // the last picture lies before the time asked for
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
        } else if (m_seekFileUs > 0 && m_lastDecodedUs < 0) {
            // the demuxer landed after the last picture (none was decoded
            // since the seek). When pictures were decoded and the filters
            // gave none, reading again from earlier would give none either.
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
    m_audioTargetUs = targetUs;
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
    ClearAudioQueue();
}

void TFFPushSource::ResumeAfterInterrupt()
{
    // Read again from before where the queues stopped and drop what they
    // already hold. While a seek's dropping is under way its targets stay.
    if (AVIOContext* pb = m_format->pb) {
        pb->eof_reached = 0;
        pb->error = 0;
    }
    const int64_t loop = LoopOffsetUs();
    if (m_video && !m_dropping) {
        m_dropping = true;
        m_dropMode = TSeekMode::smAtOrAfter;
        m_targetUs = m_lastQueuedVideoUs + 1;
        av_frame_unref(m_lastDropped.get());
    }
    if (m_audio && !m_audioDropping) {
        m_audioDropping = true;
        m_audioTargetUs = m_audioClockUs + loop;
    }
    int64_t fromUs = INT64_MAX;
    if (m_video)
        fromUs = std::min(fromUs, m_targetUs - loop);
    if (m_audio)
        fromUs = std::min(fromUs, m_audioTargetUs - loop);
    if (fromUs == INT64_MAX)
        fromUs = m_seekFileUs;
    m_seekBackoffUs = 0;
    m_firstAfterSeek = true;
    m_lastDecodedUs = -1;
    SeekFile(fromUs);
    ResetDecoding();
}

void TFFPushSource::SeekFile(int64_t fileUs)
{
    // only closing stops a seek: an interrupted one would leave the
    // demuxer anywhere
    m_seeking = true;
    if (m_streamInput)
        m_streamInput->SetStopFlag(&m_closing);
    SeekFileAt(std::max<int64_t>(0, fileUs));
    if (m_streamInput)
        m_streamInput->SetStopFlag(&m_interrupt);
    m_seeking = false;
}

void TFFPushSource::SeekFileAt(int64_t fileUs)
{
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
        if (av::CodecContextPtr fresh = NewDecoderContext(m_format->streams[m_audio->stream], m_logJob))
            m_audio->ctx = std::move(fresh);
        else
            avcodec_flush_buffers(m_audio->ctx.get());
    }
    m_swrInFormat = -1; // a new converter: no tail of the old position
    m_videoPending = 0;
    m_videoWaitKey = false;
    av_frame_unref(m_held.get());
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

} // namespace korvane
