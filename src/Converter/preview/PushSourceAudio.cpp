// The preview's sound: decoding and conversion into interleaved signed 16-bit
// blocks with their times.
#include "preview/PushSource.h"

#include <cstring>

namespace korvane {

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
        if (stopUs <= m_audioTargetUs)
            return; // before the time asked for
        if (startUs < m_audioTargetUs) {
            const int skip = int((m_audioTargetUs - startUs) * m_sampleRate / 1000000);
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

} // namespace korvane
