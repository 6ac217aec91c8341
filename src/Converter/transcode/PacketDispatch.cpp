// Packet dispatch: decodes a packet when its stream is re-encoded, keeps the
// input stream's clock, and feeds every output stream that takes it; stream
// copy rewrites timestamps and writes the packet. WriteFrame is the only
// way packets reach a muxer.
#include "transcode/AVConverter.h"
#include "transcode/Transcoder.h"

namespace korvane {

namespace {

// Duration of one packet of a stream that is not decoded, in microseconds.
int64_t CopiedPacketDurationUs(const AVStream* st, const AVPacket* pkt)
{
    if (pkt && pkt->duration > 0)
        return av_rescale_q(pkt->duration, st->time_base, av::kMicroseconds);
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->frame_size > 0 && par->sample_rate > 0)
        return int64_t(par->frame_size) * 1000000 / par->sample_rate;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && st->avg_frame_rate.num > 0)
        return av_rescale_q(1, av_inv_q(st->avg_frame_rate), av::kMicroseconds);
    return 0;
}

} // namespace

int Transcoder::OutputPacket(TAVInputStream& ist, const AVPacket* pkt)
{
    const AVRational tb = ist.stream->time_base;
    if (ist.nextPtsUs == AV_NOPTS_VALUE)
        ist.nextPtsUs = ist.ptsUs;
    if (pkt && pkt->dts != AV_NOPTS_VALUE)
        ist.nextPtsUs = ist.ptsUs = av_rescale_q(pkt->dts, tb, av::kMicroseconds);

    if (pkt) {
        if (m_o.RateEmulation) {
            const int64_t elapsed = av_gettime() - ist.startUs;
            if (ist.ptsUs > elapsed)
                av_usleep(unsigned(std::min<int64_t>(ist.ptsUs - elapsed, 1000000)));
        }
        for (TAVOutputStream& ost : m_ost)
            if (ost.setup->streamCopy && &m_ist[ost.source] == &ist)
                CopyPacket(ost, ist, pkt);
        if (!ist.decodingNeeded) {
            ist.ptsUs = ist.nextPtsUs;
            ist.nextPtsUs += CopiedPacketDurationUs(ist.stream, pkt);
            return 0;
        }
    }
    if (!ist.decodingNeeded)
        return 0;

    AVCodecContext* dec = ist.decoder.get();
    if (dec->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        if (!pkt)
            return 0; // subtitle decoders hold nothing back worth flushing
        struct Subtitle
        {
            AVSubtitle v{};
            ~Subtitle() { avsubtitle_free(&v); }
        } sub;
        int got = 0;
        if (avcodec_decode_subtitle2(dec, &sub.v, &got, const_cast<AVPacket*>(pkt)) < 0)
            return -1;
        if (got)
            Dispatch(ist, nullptr, &sub.v, pkt);
        return 0;
    }

    int ret = avcodec_send_packet(dec, pkt);
    if (ret < 0 && ret != AVERROR_EOF)
        return -1;
    for (;;) {
        AVFrame* frame = ist.frame.get();
        ret = avcodec_receive_frame(dec, frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            break;
        if (ret < 0)
            return -1;
        const int64_t best = frame->best_effort_timestamp;
        if (best != AV_NOPTS_VALUE)
            ist.ptsUs = av_rescale_q(best, tb, av::kMicroseconds);
        else
            ist.ptsUs = ist.nextPtsUs;
        int64_t durationUs = 0;
        if (dec->codec_type == AVMEDIA_TYPE_AUDIO && frame->sample_rate > 0)
            durationUs = int64_t(frame->nb_samples) * 1000000 / frame->sample_rate;
        else if (frame->pkt_duration > 0)
            durationUs = av_rescale_q(frame->pkt_duration, tb, av::kMicroseconds);
        else if (dec->framerate.num > 0)
            durationUs = av_rescale_q(1, av_inv_q(dec->framerate), av::kMicroseconds);
        ist.nextPtsUs = ist.ptsUs + durationUs;
        frame->pts = best;
        Dispatch(ist, frame, nullptr, pkt);
        av_frame_unref(frame);
    }
    return 0;
}

void Transcoder::Dispatch(TAVInputStream& ist, AVFrame* frame, AVSubtitle* sub, const AVPacket* pkt)
{
    // frames before the requested start are decoded but not encoded; a
    // resumed job's pictures of its preroll go on to set the pace
    if (m_o.m_startTime != 0 && !m_o.CopyTimestamps && ist.ptsUs < 0) {
        const bool pace = frame && ist.decoder->codec_type == AVMEDIA_TYPE_VIDEO &&
                          ist.ptsUs >= -m_c.ResumePrerollUs();
        if (!pace && (!frame || ist.decoder->codec_type != AVMEDIA_TYPE_AUDIO ||
                      ist.ptsUs + av_rescale_q(frame->nb_samples, {1, std::max(1, frame->sample_rate)},
                                               av::kMicroseconds) <= 0))
            return;
    }
    for (TAVOutputStream& ost : m_ost) {
        if (!ost.encodingNeeded || &m_ist[ost.source] != &ist)
            continue;
        switch (ost.type()) {
        case AVMEDIA_TYPE_AUDIO: EncodeAudio(ost, ist, frame); break;
        case AVMEDIA_TYPE_VIDEO: FilterVideo(ost, ist, frame); break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (sub)
                EncodeSubtitle(ost, ist, sub, pkt ? pkt->pts : AV_NOPTS_VALUE);
            break;
        default: break;
        }
    }
}

void Transcoder::CopyPacket(TAVOutputStream& ost, TAVInputStream& ist, const AVPacket* pkt)
{
    if (ost.finished)
        return;
    // the window ends at the first packet that starts at or after its end
    if (ist.ptsUs >= WindowEndUs()) {
        ost.finished = true;
        return;
    }
    if (m_o.m_startTime != 0 && !m_o.CopyTimestamps && ost.frameNumber == 0) {
        if (HoldBeforeStart(ost, pkt))
            return;
        WriteHeldPackets(ost, ist);
    }
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    if (ost.frameNumber == 0 && !key && !m_o.CopyInitialNonKeyFrames)
        return;
    if (ost.frameNumber >= MaxFramesFor(ost.type()))
        return;
    WriteCopied(ost, ist, pkt);
}

// A copied stream cannot begin between key frames: the packets from the last
// key frame before the start are kept (they sit before 0) until the first
// packet at or after the start shows that no later key frame comes first.
bool Transcoder::HoldBeforeStart(TAVOutputStream& ost, const AVPacket* pkt)
{
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (ts == AV_NOPTS_VALUE || ts >= 0)
        return false;
    if (pkt->flags & AV_PKT_FLAG_KEY)
        ost.held.clear();
    else if (ost.held.empty() && !m_o.CopyInitialNonKeyFrames)
        return true;
    av::PacketPtr copy = av::NewPacket();
    if (!copy || av_packet_ref(copy.get(), pkt) < 0)
        throw EEngineError("Out of memory");
    ost.held.push_back(std::move(copy));
    return true;
}

void Transcoder::WriteHeldPackets(TAVOutputStream& ost, TAVInputStream& ist)
{
    for (av::PacketPtr& held : ost.held) {
        if (held->dts == AV_NOPTS_VALUE)
            held->dts = held->pts;
        if (ost.frameNumber < MaxFramesFor(ost.type()))
            WriteCopied(ost, ist, held.get());
    }
    ost.held.clear();
}

void Transcoder::WriteCopied(TAVOutputStream& ost, TAVInputStream& ist, const AVPacket* pkt)
{
    AVPacket* out = m_outPacket.get();
    if (av_packet_ref(out, pkt) < 0)
        throw EEngineError("Out of memory");
    const AVRational itb = ist.stream->time_base;
    const AVRational otb = ost.stream->time_base;
    out->stream_index = ost.index;
    out->pts = pkt->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(pkt->pts, itb, otb);
    out->dts = pkt->dts == AV_NOPTS_VALUE ? av_rescale_q(ist.ptsUs, av::kMicroseconds, otb)
                                          : av_rescale_q(pkt->dts, itb, otb);
    out->duration = av_rescale_q(pkt->duration, itb, otb);
    if (ost.type() == AVMEDIA_TYPE_AUDIO)
        m_o.AudioSize += pkt->size;
    else if (ost.type() == AVMEDIA_TYPE_VIDEO)
        m_o.VideoSize += pkt->size;
    WriteFrame(ost, out);
    ++ost.frameNumber;
}

void Transcoder::WriteFrame(TAVOutputStream& ost, AVPacket* pkt)
{
    if (ost.bsfs.empty()) {
        Mux(ost, pkt);
        return;
    }
    // filters work in the time base they were set up with; the muxer may
    // have chosen another one for the stream when the header was written
    if (pkt)
        av_packet_rescale_ts(pkt, ost.stream->time_base, ost.bsfs.front()->time_base_in);
    WriteThroughFilters(ost, pkt, 0);
}

void Transcoder::FlushBitstreamFilters(TAVOutputStream& ost)
{
    if (!ost.bsfs.empty())
        WriteThroughFilters(ost, nullptr, 0);
}

void Transcoder::WriteThroughFilters(TAVOutputStream& ost, AVPacket* pkt, size_t first)
{
    // a filter error drops what the filter could not take; the packet goes on
    AVBSFContext* bsf = ost.bsfs[first].get();
    if (av_bsf_send_packet(bsf, pkt) < 0) {
        if (pkt)
            av_packet_unref(pkt);
        if (pkt || first + 1 >= ost.bsfs.size())
            return;
    }
    AVPacket* filtered = ost.bsfPackets[first].get();
    while (av_bsf_receive_packet(bsf, filtered) >= 0) {
        if (first + 1 < ost.bsfs.size()) {
            WriteThroughFilters(ost, filtered, first + 1);
        } else {
            av_packet_rescale_ts(filtered, bsf->time_base_out, ost.stream->time_base);
            Mux(ost, filtered);
        }
    }
    // at the end of the stream the next filter is flushed in turn
    if (!pkt && first + 1 < ost.bsfs.size())
        WriteThroughFilters(ost, nullptr, first + 1);
}

void Transcoder::Mux(TAVOutputStream& ost, AVPacket* pkt)
{
    AVFormatContext* oc = m_e.outputs[ost.file].ctx.get();
    pkt->stream_index = ost.index;
    // muxers refuse decreasing decoding times; nudge them forward as the tool does
    if (pkt->dts != AV_NOPTS_VALUE && ost.lastMuxDts != AV_NOPTS_VALUE &&
        !(oc->oformat->flags & AVFMT_NOTIMESTAMPS)) {
        const int64_t least = ost.lastMuxDts + !(oc->oformat->flags & AVFMT_TS_NONSTRICT);
        if (pkt->dts < least) {
            if (pkt->pts != AV_NOPTS_VALUE && pkt->pts >= pkt->dts)
                pkt->pts = std::max(pkt->pts, least);
            pkt->dts = least;
        }
    }
    if (pkt->dts != AV_NOPTS_VALUE)
        ost.lastMuxDts = pkt->dts;
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (ts != AV_NOPTS_VALUE) {
        const int64_t end = ts + std::max<int64_t>(pkt->duration, 0);
        if (ost.endInStreamTb == AV_NOPTS_VALUE || end > ost.endInStreamTb)
            ost.endInStreamTb = end;
    }
    const int ret = av_interleaved_write_frame(oc, pkt);
    if (ret < 0) {
        av_packet_unref(pkt);
        throw EEngineError("av_interleaved_write_frame() ");
    }
    ++m_e.outputs[ost.file].packetsWritten;
}

void Transcoder::DrainEncoder(TAVOutputStream& ost, bool flush)
{
    AVCodecContext* enc = ost.encoder();
    if (flush) {
        if (ost.flushed)
            return;
        ost.flushed = true;
        if (ost.type() == AVMEDIA_TYPE_AUDIO)
            SendAudioFrames(ost, true);
        if (ost.type() == AVMEDIA_TYPE_SUBTITLE)
            return;
        if (avcodec_send_frame(enc, nullptr) < 0)
            return;
    }
    AVPacket* pkt = m_outPacket.get();
    for (;;) {
        const int ret = avcodec_receive_packet(enc, pkt);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            break;
        if (ret < 0)
            throw EEngineError(ost.type() == AVMEDIA_TYPE_VIDEO ? "Video encoding failed" : "Audio encoding failed");
        if (ost.passLog && enc->stats_out)
            std::fputs(enc->stats_out, ost.passLog.get());
        if (ost.type() == AVMEDIA_TYPE_AUDIO)
            m_o.AudioSize += pkt->size;
        else
            m_o.VideoSize += pkt->size;
        av_packet_rescale_ts(pkt, enc->time_base, ost.stream->time_base);
        WriteFrame(ost, pkt);
    }
    if (flush && ost.passLog && enc->stats_out)
        std::fputs(enc->stats_out, ost.passLog.get());
}

} // namespace korvane
