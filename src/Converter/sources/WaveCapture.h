// Live audio capture ("wavcap"): 16-bit PCM from an ALSA capture device.
//
// An input named "wavcap:" records from ALSA's default capture device;
// "wavcap:NAME" names another ALSA PCM ("hw:1", "plughw:0,0", a name from
// .asoundrc). The rate and the channel count come from the job.
//
// TWaveCapture is the source itself, with the three operations of an input
// format: ReadHeader opens and sets up the device, the first ReadPacket
// starts it (so nothing is recorded while the job still prepares its
// output), ReadPacket hands over all that was captured since the last read,
// ReadClose stops it. Reading polls ALSA's own buffer (snd_pcm_avail,
// snd_pcm_wait): no thread, no copy of the samples besides the one into the
// packet. All state is per object; two objects may record at once, but never
// from the same device.
//
// Packets carry the capture clock: the start time plus the duration of all
// samples handed over before. Sound lost to an overrun (the job read later
// than the device's 2 s buffer lasts) is logged with its length and handed
// over as silence, so the recording stays as long as the time it took. A
// device that delivers nothing for 5 s fails the read, naming the device.
//
// For a job, AttachWaveCapture puts a capture behind a custom AVIOContext
// that the s16le demuxer reads with the same rate and channel count.
#pragma once

#include "av/FFmpeg.h"

#include <QString>
#include <functional>
#include <memory>

typedef struct _snd_pcm snd_pcm_t;

namespace korvane {

// The duration of bytes of 16-bit PCM, in microseconds.
int64_t WaveCaptureDurationUs(int64_t bytes, int sampleRate, int channels);

class TWaveCapture
{
public:
    using LogFunction = std::function<void(const QString& line)>;
    using StopFunction = std::function<bool()>;

    // device: an ALSA PCM name; empty means "default". Lines go to log (by
    // default the media library's log, without a context object).
    explicit TWaveCapture(QString device = {}, LogFunction log = {});
    ~TWaveCapture();
    TWaveCapture(const TWaveCapture&) = delete;
    TWaveCapture& operator=(const TWaveCapture&) = delete;

    using ClockFunction = std::function<int64_t()>;
    static constexpr int64_t kSilenceLimitUs = 5000000;

    // While stop says true, ReadPacket ends with AVERROR_EXIT.
    void SetStopFunction(StopFunction stop) { m_stop = std::move(stop); }
    // The clock in microseconds (av_gettime by default); tests move it.
    void SetClock(ClockFunction clock) { m_clock = std::move(clock); }

    // Opens and sets up the device: 0; -1 when the rate or the channel count
    // is not positive (the device is not touched); -5 when the device fails
    // ("wave capture error:%s" with ALSA's text, logged) or is already
    // recording in this process.
    int ReadHeader(int sampleRate, int channels);
    // Starts the device on the first call; waits until something was
    // captured, then moves all of it into pkt (stream 0, pts on the capture
    // clock in microseconds), or the silence that stands for lost sound.
    // Negative on failure: -5 for a device failure or a device silent for
    // kSilenceLimitUs (FailureText says why), AVERROR_EXIT on a stop,
    // AVERROR_EOF after close.
    int ReadPacket(AVPacket* pkt);
    // Stops and closes the device: 0.
    int ReadClose();
    // Stops a started device and drops what it holds: the next read starts it again.
    void Rewind();

    QString Device() const { return m_device; }
    bool Started() const { return m_started; }
    // Why the last read failed, naming the device; empty when it did not.
    QString FailureText() const { return m_failure; }
    int SampleRate() const { return m_sampleRate; }
    int Channels() const { return m_channels; }
    int BlockAlign() const { return 2 * m_channels; }

private:
    int DeviceError(int alsaError);
    bool Recover(int alsaError);
    int Start();
    int64_t Now() const;
    void AccountForLoss();
    int Silence(AVPacket* pkt);
    int Silent(); // the device delivered nothing for too long
    void Stamp(AVPacket* pkt, int64_t frames);

    QString m_device;
    LogFunction m_log;
    StopFunction m_stop;
    snd_pcm_t* m_pcm = nullptr; // owned by the thread reading this capture
    bool m_claimed = false;     // m_device is in the process-wide list of recording devices
    int m_sampleRate = 0;
    int m_channels = 0;
    ClockFunction m_clock;
    bool m_started = false;
    int64_t m_originUs = 0;        // the capture clock at the start
    int64_t m_framesHandedOver = 0; // sound and silence, since the start
    int64_t m_lastSoundUs = 0;     // when the device last delivered
    int64_t m_silentFrames = 0;    // lost sound still to hand over as silence
    QString m_failure;
};

// "wavcap:" and "wavcap:NAME".
bool IsWaveCaptureSource(const QString& name);
// The ALSA device of such a name ("default" for "wavcap:").
QString WaveCaptureDevice(const QString& name);

// A started capture behind an AVIOContext: set as the context's pb before
// avformat_open_input with the s16le demuxer.
class TWaveCaptureInput
{
public:
    TWaveCaptureInput(std::unique_ptr<TWaveCapture> capture, AVIOContext* io);
    ~TWaveCaptureInput();
    TWaveCaptureInput(const TWaveCaptureInput&) = delete;
    TWaveCaptureInput& operator=(const TWaveCaptureInput&) = delete;
    TWaveCapture& Capture() const { return *m_capture; }
    // The job's output is ready: the device starts at the next read. Until
    // then reads get silence that is never handed on (the library reads at
    // the open, looking for a tag): the device records nothing before.
    void OutputsReady();

private:
    friend std::unique_ptr<TWaveCaptureInput> AttachWaveCapture(const QString&, AVFormatContext*, int, int,
                                                                TWaveCapture::StopFunction, AVDictionary**,
                                                                int*);
    static int Read(void* opaque, uint8_t* buffer, int size);

    std::unique_ptr<TWaveCapture> m_capture;
    AVIOContext* m_io = nullptr;
    av::PacketPtr m_pending; // captured bytes not yet read by the demuxer
    int m_offset = 0;
    bool m_ready = false; // the outputs are ready: reads record
};

// Opens the capture named by name with rate and channels and attaches it to
// ctx (allocated, not opened): ctx->pb is set, the demuxer options (sample
// rate, channel layout) go into options. On failure returns nothing and
// *error holds the capture's code (-1, -5, -12).
std::unique_ptr<TWaveCaptureInput> AttachWaveCapture(const QString& name, AVFormatContext* ctx,
                                                     int sampleRate, int channels,
                                                     TWaveCapture::StopFunction stop, AVDictionary** options,
                                                     int* error);

} // namespace korvane
