// The main loop: choose the input whose outputs are furthest behind, read a
// packet, correct its timestamps and dispatch it; then flush and finish.
#include "transcode/AVConverter.h"
#include "transcode/Transcoder.h"

#include <cmath>

namespace korvane {

Transcoder::Transcoder(TAVConverter& converter, ConverterEngine& engine)
    : m_c(converter), m_e(engine), m_o(*converter.ConvertOptions()), m_packet(av::NewPacket()),
      m_outPacket(av::NewPacket())
{
}

Transcoder::~Transcoder()
{
    for (TAVOutputStream& ost : m_ost) {
        if (ost.setup && ost.setup->codec)
            av_freep(&ost.setup->codec->stats_in);
    }
}

void Transcoder::Run()
{
    m_c.BeginTranscode();
    try {
        if (!m_packet || !m_outPacket)
            throw EEngineError("Out of memory");
        Setup();
        Loop();
        Finish();
        if (!m_readError.isEmpty())
            throw EEngineError(m_readError.toStdString());
    } catch (const std::exception& e) {
        m_c.SetErrorText(QString::fromUtf8(e.what()));
        m_c.CallOnMainThread([this] { m_c.DoError(); });
        // a half-written output is closed so what was written stays readable
        WriteTrailers();
        m_e.RemoveEmptyOutputs();
    }
}

// The error of a read that failed for another reason than the end of the
// data or damaged data (a failing disc, a vanished network file), or 0.
// Demuxers may report such a failure as the end of the file: the I/O
// context keeps the real cause.
int Transcoder::ReadFailure(const AVFormatContext* ic, int ret)
{
    if (ret != AVERROR_EOF && ret != AVERROR_INVALIDDATA && ret != AVERROR_EXIT)
        return ret;
    if (ic->pb && ic->pb->error < 0 && ic->pb->error != AVERROR_EOF && ic->pb->error != AVERROR_EXIT)
        return ic->pb->error;
    return 0;
}

int Transcoder::ChooseInput(double& optsMin)
{
    double iptsMin = 1e100;
    optsMin = 1e100;
    int fileIndex = -1;
    const bool inputSync = m_o.GrabOptions()->m_inputSync;
    for (TAVOutputStream& ost : m_ost) {
        TAVInputStream& ist = m_ist[ost.source];
        const TAVInputFile& file = m_files[ist.file];
        if (file.noPacket || ost.finished)
            continue;
        const double opts = ost.endInStreamTb == AV_NOPTS_VALUE
                                ? 0.0
                                : double(ost.endInStreamTb) * av_q2d(ost.stream->time_base);
        const double ipts = double(ist.ptsUs);
        if (!file.eof) {
            if (ipts < iptsMin) {
                iptsMin = ipts;
                if (inputSync)
                    fileIndex = ist.file;
            }
            if (opts < optsMin) {
                optsMin = opts;
                if (!inputSync)
                    fileIndex = ist.file;
            }
        }
        if (ost.frameNumber >= MaxFramesFor(ost.type())) {
            fileIndex = -1;
            break;
        }
    }
    return fileIndex;
}

bool Transcoder::RealInputsAtEnd() const
{
    for (size_t f = 0; f < m_files.size(); ++f)
        if (!m_e.inputs[f].filler && !m_files[f].eof)
            return false;
    return true;
}

void Transcoder::CorrectTimestamps(TAVInputStream& ist, AVPacket* pkt)
{
    InputEntry& in = m_e.inputs[ist.file];
    const AVRational tb = ist.stream->time_base;
    const int64_t offset = av_rescale_q(in.tsOffsetUs, av::kMicroseconds, tb);
    if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts += offset;
    if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts += offset;
    const double scale = pkt->stream_index < TAVConverter::kMaxStreamsPerFile ? in.scales[pkt->stream_index] : 0.0;
    if (scale != 0.0) {
        if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts = std::llround(double(pkt->pts) * scale);
        if (pkt->dts != AV_NOPTS_VALUE)
            pkt->dts = std::llround(double(pkt->dts) * scale);
    }
    // a jump in a stream that allows discontinuities (MPEG-TS, PS) moves the
    // whole input's offset, so later packets continue where this one left off
    if (pkt->dts != AV_NOPTS_VALUE && ist.nextPtsUs != AV_NOPTS_VALUE &&
        (in.ctx->iformat->flags & AVFMT_TS_DISCONT) && !m_o.CopyTimestamps) {
        const int64_t pktDtsUs = av_rescale_q(pkt->dts, tb, av::kMicroseconds);
        const int64_t delta = pktDtsUs - ist.nextPtsUs;
        if (std::llabs(delta) > int64_t(m_o.DtsDeltaThreshold * 1000000.0) || pktDtsUs + 1 < ist.ptsUs) {
            in.tsOffsetUs -= delta;
            pkt->dts -= av_rescale_q(delta, av::kMicroseconds, tb);
            if (pkt->pts != AV_NOPTS_VALUE)
                pkt->pts -= av_rescale_q(delta, av::kMicroseconds, tb);
        }
    }
}

void Transcoder::Loop()
{
    int eagainCount = 0;
    for (;;) {
        if (!m_c.LoopPass())
            break;
        double optsMin = 0;
        const int fileIndex = ChooseInput(optsMin);
        if (fileIndex < 0) {
            if (eagainCount > 0) {
                for (TAVInputFile& f : m_files)
                    f.noPacket = false;
                eagainCount = 0;
                av_usleep(10000);
                continue;
            }
            break;
        }
        // a made-up stream ends with the real ones
        if (m_e.inputs[fileIndex].endsWithRealInputs && RealInputsAtEnd())
            break;
        m_c.SetConvertedDuration(optsMin);
        if (double(m_o.m_recordingTime) / 1000000.0 <= optsMin)
            break;
        if (m_o.FileSizeLimit != 0) {
            AVIOContext* pb = m_e.outputs[0].ctx->pb;
            if (pb && avio_tell(pb) >= m_o.FileSizeLimit)
                break;
        }
        AVFormatContext* ic = m_e.inputs[fileIndex].ctx.get();
        const int ret = av_read_frame(ic, m_packet.get());
        if (ret == AVERROR(EAGAIN)) {
            m_files[fileIndex].noPacket = true;
            ++eagainCount;
            continue;
        }
        if (ret == AVERROR_EXIT)
            continue; // interrupted by a stop request: the next pass ends the loop
        if (ret < 0) {
            m_files[fileIndex].eof = true;
            const int failure = ReadFailure(ic, ret);
            if (failure < 0) {
                // the input could not be read to its end: what was read is
                // finished and written, and the job ends as failed
                const InputResource* source = m_e.inputs[fileIndex].resource.get();
                const QString reason = source ? source->FailureText() : QString();
                m_readError = QStringLiteral("Error reading input #%1: %2")
                                  .arg(fileIndex)
                                  .arg(reason.isEmpty() ? QString::fromStdString(av::ErrorText(failure)) : reason);
                m_c.DoLog(AV_LOG_ERROR, m_readError);
                break;
            }
            if (ret != AVERROR_EOF)
                m_c.DoLog(AV_LOG_WARNING, QStringLiteral("Damaged data in input #%1: %2")
                                              .arg(fileIndex)
                                              .arg(QString::fromStdString(av::ErrorText(ret))));
            if (m_o.ExitOnError)
                break;
            continue;
        }
        for (TAVInputFile& f : m_files)
            f.noPacket = false;
        eagainCount = 0;
        const TAVInputFile& file = m_files[fileIndex];
        if (m_packet->stream_index >= file.streamCount) {
            av_packet_unref(m_packet.get());
            continue;
        }
        TAVInputStream& ist = m_ist[file.firstStream + m_packet->stream_index];
        if (ist.discard) {
            av_packet_unref(m_packet.get());
            continue;
        }
        CorrectTimestamps(ist, m_packet.get());
        const int dispatched = OutputPacket(ist, m_packet.get());
        av_packet_unref(m_packet.get());
        if (dispatched >= 0)
            PrintReport(false);
    }
}

void Transcoder::Finish()
{
    for (TAVInputStream& ist : m_ist)
        if (ist.decodingNeeded)
            OutputPacket(ist, nullptr);
    // a window that starts in the last stretch of a copied stream still gets it
    for (TAVOutputStream& ost : m_ost)
        if (!ost.held.empty())
            WriteHeldPackets(ost, m_ist[ost.source]);
    for (TAVOutputStream& ost : m_ost)
        if (ost.encodingNeeded && ost.type() == AVMEDIA_TYPE_VIDEO) {
            FlushVideoFilters(ost);
            FillLastSlots(ost);
        }
    for (TAVOutputStream& ost : m_ost)
        if (ost.encodingNeeded)
            DrainEncoder(ost, true);
    for (TAVOutputStream& ost : m_ost)
        FlushBitstreamFilters(ost);
    // the figure shown at the end is what was converted, not the last pass's
    double convertedS = 0;
    for (const TAVOutputStream& ost : m_ost)
        if (ost.endInStreamTb != AV_NOPTS_VALUE)
            convertedS = std::max(convertedS, double(ost.endInStreamTb) * av_q2d(ost.stream->time_base));
    if (convertedS > 0)
        m_c.SetConvertedDuration(convertedS);
    const int failed = WriteTrailers();
    if (failed < 0)
        throw EEngineError(("Could not write the end of the output file: " + av::ErrorText(failed)));
    PrintReport(true);
}

int Transcoder::WriteTrailers()
{
    // a trailer is written once, also when it fails: a second one is undefined
    int failed = 0;
    for (size_t i = 0; i < m_needsTrailer.size(); ++i) {
        if (!m_needsTrailer[i])
            continue;
        m_needsTrailer[i] = false;
        const int ret = av_write_trailer(m_e.outputs[i].ctx.get());
        if (ret < 0 && failed == 0)
            failed = ret;
    }
    return failed;
}

void Transcoder::PrintReport(bool last)
{
    if (!last) {
        const int64_t now = av_gettime();
        const int64_t lastTime = m_c.LastTime();
        if (lastTime == 0) {
            m_c.SetLastTime(now);
            return;
        }
        if (now - lastTime < 500000)
            return;
        m_c.SetLastTime(now);
    } else {
        m_c.SetLastTime(av_gettime());
    }
    AVIOContext* pb = m_e.outputs.empty() ? nullptr : m_e.outputs[0].ctx->pb;
    int64_t outputSize = 0;
    if (pb) {
        outputSize = avio_size(pb);
        if (outputSize < 0)
            outputSize = avio_tell(pb);
    }
    m_c.SetSizes(m_c.GetInputSize(0), outputSize);
    double t = 1e10;
    for (const TAVOutputStream& ost : m_ost) {
        if (ost.endInStreamTb == AV_NOPTS_VALUE)
            continue;
        const double v = double(ost.endInStreamTb) * av_q2d(ost.stream->time_base);
        if (v > 0 && v < t)
            t = v;
    }
    m_c.SetBitrate(double(outputSize) * 8.0 / std::max(t, 0.01) / 1000.0);
}

} // namespace korvane
