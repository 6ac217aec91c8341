// Live audio capture ("wavcap"): 16-bit PCM from an ALSA capture device.
//
// An input named "wavcap:" records from ALSA's default capture device;
// "wavcap:NAME" names another ALSA PCM ("hw:1", "plughw:0,0", a name from
// .asoundrc). The rate and the channel count come from the job.
//
// TWaveCapture is the source itself, with the three operations of an input
// format: ReadHeader opens and starts the device, ReadPacket hands over all
// that was captured since the last read, stamped with the media clock now
// minus its duration, ReadClose stops it. Reading polls ALSA's own buffer
// (snd_pcm_avail, snd_pcm_wait): no thread, no copy of the samples besides
// the one into the packet. All state is per object; two objects may record
// at once, but never from the same device.
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

    // While stop says true, ReadPacket ends with AVERROR_EXIT.
    void SetStopFunction(StopFunction stop) { m_stop = std::move(stop); }

    // Opens and starts the device: 0; -1 when the rate or the channel count
    // is not positive (the device is not touched); -5 when the device fails
    // ("wave capture error:%s" with ALSA's text, logged) or is already
    // recording in this process.
    int ReadHeader(int sampleRate, int channels);
    // Waits until something was captured, then moves all of it into pkt
    // (stream 0, pts = now - duration in microseconds). Negative on failure:
    // -5 for a device failure, AVERROR_EXIT on a stop, AVERROR_EOF after close.
    int ReadPacket(AVPacket* pkt);
    // Stops and closes the device: 0.
    int ReadClose();

    QString Device() const { return m_device; }
    int SampleRate() const { return m_sampleRate; }
    int Channels() const { return m_channels; }
    int BlockAlign() const { return 2 * m_channels; }

private:
    int DeviceError(int alsaError);
    bool Recover(int alsaError);

    QString m_device;
    LogFunction m_log;
    StopFunction m_stop;
    snd_pcm_t* m_pcm = nullptr; // owned by the thread reading this capture
    bool m_claimed = false;     // m_device is in the process-wide list of recording devices
    int m_sampleRate = 0;
    int m_channels = 0;
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

private:
    friend std::unique_ptr<TWaveCaptureInput> AttachWaveCapture(const QString&, AVFormatContext*, int, int,
                                                                TWaveCapture::StopFunction, AVDictionary**,
                                                                int*);
    static int Read(void* opaque, uint8_t* buffer, int size);

    std::unique_ptr<TWaveCapture> m_capture;
    AVIOContext* m_io = nullptr;
    av::PacketPtr m_pending; // captured bytes not yet read by the demuxer
    int m_offset = 0;
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
