// The preview's decoding source.
//
// A streaming thread demuxes the source (a file or a "stream:<n>" in-process
// stream), decodes the selected video, audio and subtitle streams, runs the
// pictures through a filter graph built from the job's filter description
// (the same translation the conversion uses) and queues timed 32-bit BGRA
// pictures and timed interleaved signed 16-bit audio. The player takes them
// out of the queues on its own thread; nothing here knows about widgets.
//
// Times: every sample carries its start in microseconds from the start of
// the file (the container's start time subtracted), plus the loop offset
// (pass index x file duration). A picture's time is exactly the time a
// conversion starting there would begin with.
//
// Seeking is exact: a seek asks for a time; the thread seeks to the keyframe
// before it, decodes, and drops pictures up to it, so the first picture
// queued after the seek is the first one at or after the time (or, for a
// step back, the last one before it).
//
// Pictures wait in the queue as the filters gave them; the consumer's
// thread turns the one it takes into BGRA. The streaming thread then only
// feeds the decoder and the filters, as the tool's own pipeline does, and
// pictures passed over while playing are never converted.
//
// Threads and locks. Lock order: m_streamLock, then m_convertLock, then
// m_queueLock.
//   m_streamLock: held by the streaming thread while it reads and decodes one
//     packet, and by every selection or filter change (main thread). A
//     change that waits for it, a seek asked for and closing interrupt the
//     read in progress (a slow disc), and the thread then reads again from
//     where its queues stopped.
//   m_convertLock: the BGRA conversion of a taken picture (consumers).
//   m_queueLock: the queues, the seek request, the end-of-stream flag.
#pragma once

#include "av/AVLib.h"
#include "av/FFmpeg.h"
#include "preview/PreviewSample.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {

class TStreamInput;
class TSynthChain;

// The source is the log target of its own contexts: the library's error
// lines about its file, decoders and filters give the reasons it shows.
class TFFPushSource : private LogTarget
{
public:
    // Called with the picture bytes, width and height as each picture is
    // taken out (the subtitle is already drawn on it).
    using BufferCallback = std::function<void(TFFPushSource*, uint8_t*, int, int)>;
    // Called with the audio bytes and their count as each block is taken out.
    using AudioBufferCallback = std::function<void(TFFPushSource*, const uint8_t*, int)>;
    // Called on the streaming thread when it stops on an error, and on the
    // thread that met it for a script's error (the source goes on).
    using ErrorCallback = std::function<void(TFFPushSource*, const QString&)>;

    // Pictures queued ahead.
    static constexpr int kQueueDepth = 30;
    // Sound queued ahead, microseconds.
    static constexpr int64_t kAudioQueueUs = 3000000;
    // Pictures queued ahead are also limited to this many bytes (30 pictures
    // of 1080p would be 250 MB).
    static constexpr int64_t kVideoQueueBytes = 128ll << 20;

    TFFPushSource();
    ~TFFPushSource();
    TFFPushSource(const TFFPushSource&) = delete;
    TFFPushSource& operator=(const TFFPushSource&) = delete;

    // Configuration, before Load.
    void SetDisableAudio(bool disable) { m_disableAudio = disable; }
    void SetBufferCallback(BufferCallback cb) { m_onBuffer = std::move(cb); }
    void SetAudioBufferCallback(AudioBufferCallback cb) { m_onAudioBuffer = std::move(cb); }
    void SetErrorCallback(ErrorCallback cb) { m_onError = std::move(cb); }
    void SetLoopCount(int count) { m_loopCount = count < 1 ? 1 : count; }
    int LoopCount() const { return m_loopCount; }

    // Opens the source and starts the streaming thread. Raises EEngineError
    // when the source cannot be opened or has neither video nor audio, and
    // the filter graph's message when the graph cannot be built.
    void Load(const QString& name);
    QString FileName() const { return m_fileName; }
    bool Loaded() const { return m_thread.joinable(); }

    // The filter description (stored syntax). Rebuilds the graph at once when
    // streaming; queued pictures are dropped. Raises the graph's message
    // ("Parse Graph Failed", ...); the source then shows no pictures until a
    // description that builds is given.
    void SetVideoFilters(const QString& description);
    QString VideoFilters() const;
    // Whether pictures are deinterlaced first, as a job with the
    // Deinterlace option converts them (either field order). Rebuilds the
    // graph as SetVideoFilters does.
    void SetDeinterlace(bool deinterlace);
    // Why the graph of the current description did not build; empty when it did.
    QString GraphError() const;

    // Streams, as indexes into the lists of video, audio and subtitle streams
    // (file order); -1 when a list is empty. A change reopens that decoder.
    int VideoStreamCount() const { return int(m_videoStreams.size()); }
    int AudioStreamCount() const { return int(m_audioStreams.size()); }
    int SubtitleStreamCount() const { return int(m_subtitleStreams.size()); }
    int VideoIndex() const { return m_videoIndex; }
    int AudioIndex() const { return m_audioIndex; }
    int SubtitleIndex() const { return m_subtitleIndex; }
    // What a user picks a sound track by: "2: aac, stereo, 48000 Hz, eng".
    QString AudioStreamText(int index) const;
    // The average picture rate (pictures a second); 0 when unknown.
    double FrameRate() const { return m_frameRate; }
    void SetVideoIndex(int index);
    void SetAudioIndex(int index);
    void SetSubtitleIndex(int index);

    // The picture size after the filters (0 without video).
    int VideoWidth() const { return m_outWidth.load(); }
    int VideoHeight() const { return m_outHeight.load(); }
    // The audio as delivered: rate and 1 or 2 channels (0 without audio).
    int SampleRate() const { return m_sampleRate; }
    int Channels() const { return m_channels; }
    // Durations in microseconds: one pass, and all LoopCount passes.
    int64_t FileDurationUs() const { return m_fileDurationUs; }
    int64_t TotalDurationUs() const { return m_fileDurationUs * m_loopCount; }
    int LoopIndex() const { return m_loopIndex.load(); }

    // Asks the streaming thread to seek to timeUs (of the whole playing time,
    // loop passes included); queued samples are dropped at once. Returns
    // without waiting: the next samples taken are those after the seek.
    void Seek(int64_t timeUs, TSeekMode mode = TSeekMode::smAtOrAfter);

    // Takes the oldest queued picture (in BGRA, subtitles drawn, OnBuffer
    // called), or nothing when none is ready. Peek looks without taking: a
    // peeked picture has its times and size, not yet its pixels. A picture
    // taken after the next one was queued stops where that one starts.
    TFFSamplePtr TakeVideo();
    TFFSamplePtr PeekVideo() const;
    // The newest picture whose time has come by nowUs, taken as TakeVideo
    // does; older due ones are dropped unconverted. Nothing when none is due.
    TFFSamplePtr TakeDueVideo(int64_t nowUs);
    // As TakeVideo, waiting up to timeoutMs for a picture.
    TFFSamplePtr WaitVideo(int timeoutMs);
    TFFSamplePtr TakeAudio();
    TFFSamplePtr PeekAudio() const;
    TFFSamplePtr WaitAudio(int timeoutMs);
    int QueuedVideo() const;
    // The start of the oldest queued picture; -1 when none is queued.
    int64_t NextVideoUs() const;
    int QueuedAudio() const;
    int64_t QueuedAudioUs() const; // the length of the queued sound
    // Packets read from the source since Load.
    int64_t PacketsRead() const { return m_packetsRead.load(); }
    // True when the thread read the whole source (every pass) and both
    // queues are empty, or when it stopped on an error.
    bool EndOfStream() const;
    // The streaming thread's error, empty while it runs.
    QString ErrorText() const;

private:
    // LogTarget
    int LogLevelNow() const override { return AV_LOG_ERROR; }
    int LogJobId() const override { return m_logJob; }
    void DeliverLogLine(int level, const QString& text) override;
    // the library's last error line, taken (empty when none came)
    QString TakeLibraryError();
    // message, with the library's reason when it gave one
    QString WithReason(const QString& message);

    struct Decoder
    {
        int stream = -1; // index in the format context
        av::CodecContextPtr ctx;
        int64_t frameDurationUs = 40000; // for pictures that carry no duration
    };
    void Open(const QString& name);
    // m_streamLock, with the streaming thread's read interrupted meanwhile
    std::unique_lock<std::mutex> LockStream();
    static int InterruptCallback(void* opaque);
    void UpdateInterrupt(); // m_interruptLock held
    void ResumeAfterInterrupt();
    void OpenDecoder(AVMediaType type);
    void CloseDecoder(AVMediaType type);
    static av::CodecContextPtr NewDecoderContext(const AVStream* st, int logJob); // opened, or empty
    void BuildGraphLocked(); // streaming lock held
    // queued pictures dropped, the graph built again; raises as BuildGraphLocked
    void RebuildGraphLocked();
    void LogSynthError(const QString& text); // streaming lock held
    void Run();
    void RunPass();
    void PerformSeek(int64_t targetUs, TSeekMode mode);
    void SeekFile(int64_t fileUs);
    void SeekFileAt(int64_t fileUs); // SeekFile's work
    void RetrySeek(int64_t fileUs);
    int64_t NextBackoff();
    void ResetDecoding();
    void EndOfFile();
    void DecodeVideo(const AVPacket* pkt);
    bool VideoHeldBack() const; // queue lock held
    void DrainVideoDecoder();
    void FilterPicture(AVFrame* frame);
    void SendToFilters(AVFrame* frame);
    void SendHeld(); // the picture kept back while dropping, if any
    void FeedFromSynth();
    void FlushFilters();
    void PullPictures();
    void QueuePicture(AVFrame* filtered, int64_t startUs);
    void DecodeAudio(const AVPacket* pkt);
    void QueueAudio(AVFrame* frame);
    void DecodeSubtitle(const AVPacket* pkt);
    void PushVideo(TFFSamplePtr sample);
    // the oldest queued picture at or before nowUs (the newest such one
    // when newestDue), converted, subtitles drawn, OnBuffer called
    TFFSamplePtr TakeVideoUntil(int64_t nowUs, bool newestDue);
    bool ToBgra(TFFSample& sample); // convert lock held
    void PushAudio(TFFSamplePtr sample);
    bool Throttled() const; // queue lock held
    void ClearAudioQueue(); // queue lock held
    int64_t ToUs(int64_t ts, AVRational tb) const;
    int64_t StreamStartUs(int stream) const; // file time of a stream's first packet
    int64_t LoopOffsetUs() const { return int64_t(m_loopIndex.load()) * m_fileDurationUs; }
    AVStream* Stream(AVMediaType type) const;
    void Fail(const QString& message);

    int m_logJob = 0;
    std::mutex m_logLock;
    QString m_libraryError; // guarded by m_logLock

    // Set before Load, read by the thread.
    bool m_disableAudio = false;
    int m_loopCount = 1;
    BufferCallback m_onBuffer;
    AudioBufferCallback m_onAudioBuffer;
    ErrorCallback m_onError;

    // Set by Load.
    QString m_fileName;
    std::unique_ptr<TStreamInput> m_streamInput; // destroyed after m_format
    av::InputContextPtr m_format;
    std::vector<int> m_videoStreams, m_audioStreams, m_subtitleStreams;
    int64_t m_fileDurationUs = 0;
    int64_t m_startTimeUs = 0; // the container's start time
    double m_frameRate = 0;

    // Guarded by m_streamLock (and touched by the thread while it holds it).
    mutable std::mutex m_streamLock;
    int m_videoIndex = -1, m_audioIndex = -1, m_subtitleIndex = -1;
    std::unique_ptr<Decoder> m_video, m_audio, m_subtitle;
    QString m_filters;
    bool m_deinterlace = false;
    QString m_graphError;
    // the filters up to the last "synth" element, and their scripts; the
    // graph below then takes the scripts' pictures
    std::unique_ptr<TSynthChain> m_synth;
    QStringList m_synthErrorsLogged; // for the current description
    av::FilterGraphPtr m_graph;
    AVFilterContext* m_bufferSource = nullptr;
    AVFilterContext* m_bufferSink = nullptr;
    int m_graphWidth = 0, m_graphHeight = 0, m_graphFormat = -1;
    std::atomic<int> m_outWidth{0}, m_outHeight{0};
    std::atomic<bool> m_hasVideoDecoder{false}, m_hasAudioDecoder{false};
    // a script running on the streaming thread gives way when the source
    // closes or a filter change waits for the streaming lock
    std::atomic<bool> m_closing{false};
    std::atomic<int> m_filterChangesWaiting{0};
    // set while the read in progress should give way
    std::atomic<bool> m_interrupt{false};
    std::mutex m_interruptLock; // orders the setting and clearing of m_interrupt
    int m_lockWaiters = 0;      // guarded by m_interruptLock
    bool m_seekWaiting = false; // guarded by m_interruptLock
    std::atomic<bool> m_seeking{false}; // the thread seeks: only closing stops it
    bool m_resumePending = false;       // thread: a read was interrupted
    // Guarded by m_convertLock.
    std::mutex m_convertLock;
    av::SwsPtr m_toBgra;
    // whether the scaler writes whole packed rows for the current size
    enum class TPackedRows { prUnknown, prWhole, prCopied };
    TPackedRows m_bgraPacked = TPackedRows::prUnknown;
    int m_bgraWidth = 0, m_bgraHeight = 0, m_bgraFormat = -1;
    std::vector<uint8_t> m_bgraScratch; // aligned rows for sizes the scaler needs them for

    av::SwrPtr m_toS16;
    av::ChannelLayout m_swrInLayout;
    int m_swrInFormat = -1, m_swrInRate = 0;
    int m_sampleRate = 0, m_channels = 0;
    // worker-only state of the packet being handled
    av::PacketPtr m_packet;
    av::FramePtr m_decoded, m_filtered, m_lastDropped;
    av::FramePtr m_held; // the last picture passed over before the filters while dropping
    int64_t m_videoClockUs = 0, m_audioClockUs = 0;
    int m_videoPending = 0;     // packets sent since the decoder last gave a picture
    bool m_videoWaitKey = false; // after a drain, decoding starts again at a keyframe
    int64_t m_lastVideoEndUs = 0; // end of the last picture of this pass (file time)
    // the seek being carried out: drop pictures and audio before the target
    bool m_dropping = false;
    TSeekMode m_dropMode = TSeekMode::smAtOrAfter;
    int64_t m_targetUs = 0;          // whole playing time
    int64_t m_audioTargetUs = 0;     // sound before it is dropped
    int64_t m_lastQueuedVideoUs = 0; // start of the last picture queued
    int64_t m_seekFileUs = 0;        // where the file was sought to (file time)
    int64_t m_seekBackoffUs = 0;
    bool m_firstAfterSeek = false;
    bool m_audioDropping = false;
    int64_t m_lastDroppedUs = 0;
    int64_t m_lastDecodedUs = -1; // the last picture decoded while dropping
    std::atomic<int> m_loopIndex{0};
    std::atomic<int64_t> m_packetsRead{0};

    // Guarded by m_queueLock.
    mutable std::mutex m_queueLock;
    std::condition_variable m_wake;      // the thread waits on it
    std::condition_variable m_queued;    // consumers wait on it
    std::deque<TFFSamplePtr> m_videoQueue, m_audioQueue;
    int64_t m_videoQueueBytes = 0;
    int64_t m_audioQueueUs = 0;
    TSubtitleQueue m_subtitles;
    bool m_endOfStream = false;
    uint64_t m_seekGeneration = 0; // raised by each Seek
    uint64_t m_doneGeneration = 0; // the request the thread carried out last
    int64_t m_seekTargetUs = 0;
    TSeekMode m_seekMode = TSeekMode::smAtOrAfter;
    QString m_error;
    bool m_quit = false;

    std::thread m_thread;
};

} // namespace korvane
