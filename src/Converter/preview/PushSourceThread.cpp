// The preview's streaming thread: waits for room in the queues or a seek,
// reads one packet at a time and hands it to its decoder.
#include "preview/PushSource.h"

#include <chrono>

namespace korvane {

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
    {
        // a seek asked for from here on interrupts the read below; one asked
        // for before is carried out now
        std::lock_guard<std::mutex> guard(m_interruptLock);
        m_seekWaiting = false;
        UpdateInterrupt();
    }
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
        m_resumePending = false; // the seek reads afresh
        PerformSeek(target, mode);
        std::lock_guard<std::mutex> queue(m_queueLock);
        m_doneGeneration = generation;
        m_endOfStream = false;
        m_subtitles.Clear();
        return;
    }
    bool drain = false;
    {
        std::lock_guard<std::mutex> queue(m_queueLock);
        drain = m_hasAudioDecoder && m_audioQueueUs >= kAudioQueueUs && VideoHeldBack();
    }
    if (drain && m_video) {
        DrainVideoDecoder();
        return;
    }
    if (m_resumePending) {
        m_resumePending = false;
        ResumeAfterInterrupt();
        return;
    }
    const int ret = av_read_frame(m_format.get(), m_packet.get());
    if (ret == AVERROR(EAGAIN)) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return;
    }
    if (ret < 0 && (ret == AVERROR_EXIT || m_interrupt || m_closing)) {
        // the read gave way to a change, a seek or closing: it may have left
        // the demuxer in the middle of a packet
        m_resumePending = true;
        return;
    }
    if (ret < 0) {
        EndOfFile();
        return;
    }
    ++m_packetsRead;
    const int index = m_packet->stream_index;
    if (m_video && index == m_video->stream) {
        // while a seek drops pictures, those well before the time that no
        // other picture refers to need not be decoded at all
        AVCodecContext* dec = m_video->ctx.get();
        dec->skip_frame = AVDISCARD_DEFAULT;
        if (m_videoWaitKey && !(m_packet->flags & AV_PKT_FLAG_KEY)) {
            av_packet_unref(m_packet.get());
            return;
        }
        m_videoWaitKey = false;
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

} // namespace korvane
