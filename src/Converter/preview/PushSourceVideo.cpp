// The preview's pictures: decoding, the filters and the queued pictures with
// their times.
#include "preview/PushSource.h"

#include "filters/SynthChain.h"
#include "options/Persistent.h"

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

void TFFPushSource::DecodeVideo(const AVPacket* pkt)
{
    AVCodecContext* dec = m_video->ctx.get();
    // a damaged packet is skipped: the decoder goes on with the next one
    if (avcodec_send_packet(dec, pkt) >= 0 && pkt)
        ++m_videoPending;
    while (m_video && avcodec_receive_frame(dec, m_decoded.get()) >= 0) {
        m_videoPending = 0;
        FilterPicture(m_decoded.get());
        av_frame_unref(m_decoded.get());
    }
    if (!pkt)
        m_videoPending = 0;
}

void TFFPushSource::DrainVideoDecoder()
{
    // The decoder's threads hold pictures back until more come. When the
    // sound has filled its queue and no picture is queued (one still
    // picture under long sound), they are taken out now, and decoding
    // starts again at the next keyframe.
    DecodeVideo(nullptr);
    avcodec_flush_buffers(m_video->ctx.get());
    m_videoWaitKey = true;
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
        if (at + margin < m_targetUs) {
            // The durations may be wrong (a variable frame rate stored
            // without them): the last one passed over may still be the
            // picture just before the time, so it is kept until the next.
            av_frame_unref(m_held.get());
            av_frame_ref(m_held.get(), frame);
            return;
        }
        SendHeld();
    }
    SendToFilters(frame);
}

void TFFPushSource::SendHeld()
{
    if (!m_held->buf[0])
        return;
    av::FramePtr held(av_frame_clone(m_held.get()));
    av_frame_unref(m_held.get());
    if (held)
        SendToFilters(held.get());
}

void TFFPushSource::SendToFilters(AVFrame* frame)
{
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
    // a picture held from before a graph that failed to build has no sink
    // to take its time base from
    int64_t durationUs = m_bufferSink ? FrameDurationUs(frame, av_buffersink_get_time_base(m_bufferSink)) : 0;
    if (durationUs <= 0 && m_video)
        durationUs = m_video->frameDurationUs;
    sample->startUs = startUs;
    sample->stopUs = startUs + durationUs;
    sample->durationUs = durationUs;
    m_lastQueuedVideoUs = startUs;
    m_outWidth = w;
    m_outHeight = h;
    PushVideo(std::move(sample));
}

} // namespace korvane
