// One transcoding run of a converter.
//
// Stages, one file each: TranscodeSetup (pairs output streams with input
// streams, decides copy or re-encode, opens codecs, writes headers),
// MainLoop (chooses the input whose outputs are furthest behind, reads a
// packet, corrects its timestamps, dispatches it; at the end flushes and
// writes trailers), PacketDispatch (decodes or copies a packet and feeds the
// output streams; WriteFrame is the only way to the muxer), AudioPath,
// VideoPath, SubtitlePath.
//
// Timestamps: names carry their time base. ...Us is microseconds; packets
// are in their stream's time base until WriteFrame rescales nothing further.
// Input timestamps are shifted by the input's offset so that the requested
// start position is 0.
//
// Everything here runs on the converter's worker thread; no lock is taken
// around decoding or encoding.
#pragma once

#include "filters/SynthChain.h"
#include "av/AVLib.h"
#include "transcode/Engine.h"

#include <cstdio>
#include <vector>

namespace korvane {

class TAVConverter;
class TAVConvertOptions;

struct TAVInputFile
{
    bool eof = false;
    bool noPacket = false; // the last read said EAGAIN
    int firstStream = 0;
    int streamCount = 0;
};

struct TAVInputStream
{
    int file = 0;
    int index = 0;
    AVStream* stream = nullptr;
    bool discard = true; // no output takes this stream
    bool decodingNeeded = false;
    int64_t startUs = 0; // wall clock at setup, for rate emulation
    int64_t nextPtsUs = AV_NOPTS_VALUE;
    int64_t ptsUs = 0;
    bool isStart = true;
    av::CodecContextPtr decoder;
    av::FramePtr frame; // reused decoded frame
};

struct TAVOutputStream
{
    int file = 0;
    int index = 0;
    int source = 0; // entry of the input stream table
    AVStream* stream = nullptr;
    OutputStreamSetup* setup = nullptr; // encoder context and settings
    bool encodingNeeded = false;
    int frameNumber = 0;
    TAVInputStream* sync = nullptr;
    int64_t syncOpts = 0; // next frame position, encoder time base
    int64_t endInStreamTb = AV_NOPTS_VALUE; // end of the last packet written
    int64_t lastMuxDts = AV_NOPTS_VALUE;
    std::vector<av::BsfPtr> bsfs;
    std::vector<av::PacketPtr> bsfPackets; // one reused output packet per filter
    // audio
    av::SwrPtr resampler;
    av::AudioFifoPtr fifo;
    av::FramePtr audioFrame;  // resampled samples, reused
    av::FramePtr encodeFrame; // one encoder frame, reused
    std::vector<void*> planes; // scratch plane pointers
    int resamplerRate = 0, resamplerFormat = -1; // what the resampler was built for
    av::ChannelLayout resamplerLayout;
    bool audioClockStarted = false;
    // output samples still to be left out before the first kept one: the
    // part before the start, and in a resumed job what puts its frames on
    // the kept part's grid; may be more than one decoded frame holds
    int64_t dropPending = 0;
    // video
    bool videoClockStarted = false;
    av::FilterGraphPtr graph;
    AVFilterContext* bufferSource = nullptr;
    AVFilterContext* bufferSink = nullptr;
    av::FramePtr filtered;
    // frame rate conversion: the last picture out of the filters (it fills
    // the slots of a gap before the next one) and how many slots the last
    // three pictures gave to the picture before them, newest first
    av::FramePtr lastPicture;
    int gapFills[3] = {0, 0, 0};
    std::unique_ptr<TSynthChain> synth; // the chain up to its last "synth" element, when it has one
    int sourceWidth = 0, sourceHeight = 0, sourcePixFmt = -1;
    av::FilePtr passLog; // first pass statistics
    bool flushed = false;
    bool finished = false; // the stream reached the end of the job's time window
    // stream copy with a start position: the packets from the last key frame
    // at or before the start, held until the start is reached
    std::vector<av::PacketPtr> held;

    AVCodecContext* encoder() const { return setup->codec.get(); }
    AVMediaType type() const { return setup->type; }
};

class Transcoder
{
public:
    Transcoder(TAVConverter& converter, ConverterEngine& engine);
    ~Transcoder();
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    // Setup, main loop and end of the run. Errors are reported through the
    // converter (ErrorText, DoError) and never leave this call.
    void Run();

    // shared by the stages
    void WriteFrame(TAVOutputStream& ost, AVPacket* pkt);
    int MaxFramesFor(AVMediaType type) const;
    // End of the job's time window in output microseconds; INT64_MAX when open.
    int64_t WindowEndUs() const;

private:
    // TranscodeSetup.cpp
    void Setup();
    void BuildStreamTables();
    void ChooseSources();
    void PrepareStreamCopy(TAVOutputStream& ost, TAVInputStream& ist);
    void PrepareEncoding(TAVOutputStream& ost, TAVInputStream& ist);
    void OpenTwoPassLog(TAVOutputStream& ost);
    void OpenCodecs();
    void BuildBitstreamFilters(TAVOutputStream& ost);
    void CopyChapters(int inputIndex, int outputIndex);
    void WriteHeaders();

    // MainLoop.cpp
    void Loop();
    int ChooseInput(double& optsMin);
    static int ReadFailure(const AVFormatContext* ic, int ret);
    bool RealInputsAtEnd() const;
    void CorrectTimestamps(TAVInputStream& ist, AVPacket* pkt);
    void Finish();
    int WriteTrailers();
    void PrintReport(bool last);

    // PacketDispatch.cpp
    int OutputPacket(TAVInputStream& ist, const AVPacket* pkt);
    void Dispatch(TAVInputStream& ist, AVFrame* frame, AVSubtitle* sub, const AVPacket* pkt);
    void CopyPacket(TAVOutputStream& ost, TAVInputStream& ist, const AVPacket* pkt);
    bool HoldBeforeStart(TAVOutputStream& ost, const AVPacket* pkt);
    void WriteCopied(TAVOutputStream& ost, TAVInputStream& ist, const AVPacket* pkt);
    void WriteHeldPackets(TAVOutputStream& ost, TAVInputStream& ist);
    void WriteThroughFilters(TAVOutputStream& ost, AVPacket* pkt, size_t first);
    void FlushBitstreamFilters(TAVOutputStream& ost);
    void Mux(TAVOutputStream& ost, AVPacket* pkt);
    void FlushEncoders(TAVInputStream& ist);
    void DrainEncoder(TAVOutputStream& ost, bool flush);

    // AudioPath.cpp
    void SetupAudioEncoder(TAVOutputStream& ost, TAVInputStream& ist);
    void EncodeAudio(TAVOutputStream& ost, TAVInputStream& ist, AVFrame* decoded);
    void OpenResampler(TAVOutputStream& ost, const AVFrame* decoded);
    void ResampleIntoFifo(TAVOutputStream& ost, const uint8_t* const* input, int count, int64_t skip);
    void PadWithSilence(TAVOutputStream& ost, int64_t samples);
    void SendAudioFrames(TAVOutputStream& ost, bool flush);

    // VideoPath.cpp
    int ConfigureFilters(TAVInputStream& ist, TAVOutputStream& ost);
    void FilterVideo(TAVOutputStream& ost, TAVInputStream& ist, AVFrame* decoded);
    void PullFilteredVideo(TAVOutputStream& ost, TAVInputStream& ist);
    void FlushVideoFilters(TAVOutputStream& ost);
    void FeedFromSynth(TAVOutputStream& ost, TAVInputStream& ist);
    void EncodeVideo(TAVOutputStream& ost, TAVInputStream& ist, AVFrame* picture);
    double PictureSlots(const TAVOutputStream& ost) const;
    void SendToSlots(TAVOutputStream& ost, AVFrame* picture, int count, int previous);
    void KeepLastPicture(TAVOutputStream& ost, const AVFrame* picture);
    void FillLastSlots(TAVOutputStream& ost);

    // SubtitlePath.cpp
    void EncodeSubtitle(TAVOutputStream& ost, TAVInputStream& ist, AVSubtitle* sub, int64_t ptsInStreamTb);

    TAVConverter& m_c;
    ConverterEngine& m_e;
    TAVConvertOptions& m_o;
    std::vector<TAVInputFile> m_files;
    std::vector<TAVInputStream> m_ist;
    std::vector<TAVOutputStream> m_ost;
    av::PacketPtr m_packet;   // the packet being read, reused
    av::PacketPtr m_outPacket; // encoder output, reused
    std::vector<uint8_t> m_subtitleBuffer;
    std::vector<bool> m_needsTrailer; // per output: header written, trailer not yet attempted
    QString m_readError; // an input failed to read: the run ends as failed after its end steps
};

} // namespace korvane
