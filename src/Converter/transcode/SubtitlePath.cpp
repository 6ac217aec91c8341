// Subtitle path: re-encodes a decoded subtitle (text into ASS or mov_text,
// bitmaps into DVB or DVD) and writes it.
#include "transcode/AVConverter.h"
#include "transcode/Transcoder.h"

namespace korvane {

void Transcoder::EncodeSubtitle(TAVOutputStream& ost, TAVInputStream& ist, AVSubtitle* sub, int64_t ptsInStreamTb)
{
    if (ptsInStreamTb == AV_NOPTS_VALUE)
        throw EEngineError("Subtitle packets must have a pts");
    if (m_subtitleBuffer.empty())
        m_subtitleBuffer.resize(1 << 20);
    AVCodecContext* enc = ost.encoder();
    const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const int passes = dvb ? 2 : 1;
    // the display start moves into the pts; the end stays relative to it
    int64_t subPtsUs = av_rescale_q(ptsInStreamTb, ist.stream->time_base, av::kMicroseconds) +
                       av_rescale_q(sub->start_display_time, {1, 1000}, av::kMicroseconds);
    sub->end_display_time -= sub->start_display_time;
    sub->start_display_time = 0;
    sub->pts = subPtsUs;
    const unsigned numRects = sub->num_rects;
    for (int pass = 0; pass < passes; ++pass) {
        // the second DVB packet is an empty page that clears the display
        if (pass == 1)
            sub->num_rects = 0;
        const int size = avcodec_encode_subtitle(enc, m_subtitleBuffer.data(), int(m_subtitleBuffer.size()), sub);
        if (pass == 1)
            sub->num_rects = numRects;
        if (size < 0)
            throw EEngineError("Subtitle encoding failed");
        AVPacket* pkt = m_outPacket.get();
        if (av_new_packet(pkt, size) < 0)
            throw EEngineError("Out of memory");
        memcpy(pkt->data, m_subtitleBuffer.data(), size_t(size));
        const AVRational tb = ost.stream->time_base;
        pkt->pts = av_rescale_q(subPtsUs, av::kMicroseconds, tb);
        pkt->duration = av_rescale_q(sub->end_display_time, {1, 1000}, tb);
        if (dvb) {
            pkt->pts += av_rescale_q(pass == 0 ? sub->start_display_time : sub->end_display_time, {1, 1000}, tb);
            pkt->duration = 0;
        }
        pkt->dts = pkt->pts;
        pkt->flags |= AV_PKT_FLAG_KEY;
        WriteFrame(ost, pkt);
    }
    ++ost.frameNumber;
}

} // namespace korvane
