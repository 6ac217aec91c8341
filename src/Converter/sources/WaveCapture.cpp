#include "sources/WaveCapture.h"

#include <alsa/asoundlib.h>

#include <QSet>
#include <mutex>

namespace korvane {

namespace {

// ALSA keeps this much sound when the job reads late (a slow encoder).
constexpr unsigned kDeviceBufferUs = 2000000;
// How long one poll of the device waits before looking at the stop request.
constexpr int kPollMs = 10;
constexpr int kDeviceFailure = -5;
constexpr int kIoBufferSize = 65536;
// Sound lost shorter than this is jitter of the clocks, not a gap.
constexpr int64_t kLossThresholdUs = 20000;
// A device that reports no overrun but runs behind the clock by more than
// its buffer can hold lost the difference all the same.
constexpr int64_t kLagMarginUs = 500000;
// The longest silence packet handed over at once.
constexpr int64_t kSilenceChunkUs = 100000;

// The devices recording in this process: a second capture of one of them is refused.
std::mutex g_devicesLock;
QSet<QString> g_devices; // guarded by g_devicesLock

// ALSA prints its own complaints on stderr; the capture logs them itself.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void LibraryLog(const QString& line)
{
    av_log(nullptr, AV_LOG_ERROR, "%s\n", line.toUtf8().constData());
}

} // namespace

int64_t WaveCaptureDurationUs(int64_t bytes, int sampleRate, int channels)
{
    if (sampleRate <= 0 || channels <= 0) return 0;
    return bytes * 1000000 / (int64_t(sampleRate) * channels * 2);
}

TWaveCapture::TWaveCapture(QString device, LogFunction log)
    : m_device(device.isEmpty() ? QStringLiteral("default") : std::move(device)),
      m_log(log ? std::move(log) : LogFunction(&LibraryLog))
{
}

TWaveCapture::~TWaveCapture()
{
    ReadClose();
}

int TWaveCapture::DeviceError(int alsaError)
{
    m_log(QStringLiteral("wave capture error:%1").arg(QString::fromUtf8(snd_strerror(alsaError))));
    return kDeviceFailure;
}

int TWaveCapture::ReadHeader(int sampleRate, int channels)
{
    if (sampleRate <= 0 || channels <= 0) return -1;
    if (m_pcm) return 0;
    {
        std::lock_guard lock(g_devicesLock);
        if (g_devices.contains(m_device)) {
            m_log(QStringLiteral("wave capture error:the device \"%1\" is already recording in this program")
                      .arg(m_device));
            return kDeviceFailure;
        }
        g_devices.insert(m_device);
        m_claimed = true;
    }
    m_sampleRate = sampleRate;
    m_channels = channels;
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(&QuietAlsaErrors); });
    int err = snd_pcm_open(&m_pcm, m_device.toUtf8().constData(), SND_PCM_STREAM_CAPTURE, 0);
    if (err < 0) {
        m_pcm = nullptr;
        ReadClose();
        return DeviceError(err);
    }
    // the plug layer of the usual devices converts rate and channels when
    // the hardware lacks them
    err = snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                             unsigned(sampleRate), 1, kDeviceBufferUs);
    if (err < 0) {
        const int result = DeviceError(err);
        ReadClose();
        return result;
    }
    return 0;
}

int64_t TWaveCapture::Now() const
{
    return m_clock ? m_clock() : av_gettime();
}

int TWaveCapture::Start()
{
    const int err = snd_pcm_start(m_pcm);
    if (err < 0) return err;
    m_started = true;
    m_originUs = m_lastSoundUs = Now();
    m_framesHandedOver = 0;
    m_silentFrames = 0;
    return 0;
}

// The sound the capture clock is behind the wall clock by is lost: it is
// logged and handed over as silence before what comes next.
void TWaveCapture::AccountForLoss()
{
    const int64_t heldUs = WaveCaptureDurationUs((m_framesHandedOver + m_silentFrames) * BlockAlign(), m_sampleRate,
                                                 m_channels);
    const int64_t lostUs = Now() - m_originUs - heldUs;
    if (lostUs < kLossThresholdUs) return;
    m_silentFrames += lostUs * m_sampleRate / 1000000;
    m_log(QStringLiteral("wave capture overrun on \"%1\": %2 s of sound were lost and are kept as silence")
              .arg(m_device)
              .arg(double(lostUs) / 1e6, 0, 'f', 3));
}

void TWaveCapture::Stamp(AVPacket* pkt, int64_t frames)
{
    pkt->stream_index = 0;
    pkt->pts = pkt->dts =
        m_originUs + WaveCaptureDurationUs(m_framesHandedOver * BlockAlign(), m_sampleRate, m_channels);
    pkt->duration = WaveCaptureDurationUs(frames * BlockAlign(), m_sampleRate, m_channels);
    m_framesHandedOver += frames;
}

int TWaveCapture::Silence(AVPacket* pkt)
{
    const int64_t frames = std::min<int64_t>(m_silentFrames, kSilenceChunkUs * m_sampleRate / 1000000 + 1);
    const int ret = av_new_packet(pkt, int(frames) * BlockAlign());
    if (ret < 0) return ret;
    std::memset(pkt->data, 0, size_t(pkt->size));
    m_silentFrames -= frames;
    Stamp(pkt, frames);
    return 0;
}

bool TWaveCapture::Recover(int alsaError)
{
    // an overrun (the job read too late) loses the sound that did not fit;
    // recording goes on
    if (snd_pcm_recover(m_pcm, alsaError, 1) < 0) return false;
    const snd_pcm_state_t state = snd_pcm_state(m_pcm);
    return state == SND_PCM_STATE_RUNNING || snd_pcm_start(m_pcm) >= 0;
}

int TWaveCapture::Silent()
{
    m_failure = QStringLiteral("the capture device \"%1\" delivered no sound for %2 seconds")
                    .arg(m_device)
                    .arg(kSilenceLimitUs / 1000000);
    m_log(QStringLiteral("wave capture error:%1").arg(m_failure));
    return kDeviceFailure;
}

int TWaveCapture::ReadPacket(AVPacket* pkt)
{
    if (!m_pcm) return AVERROR_EOF;
    if (!m_started) {
        const int err = Start();
        if (err < 0) return DeviceError(err);
    }
    if (m_silentFrames > 0) return Silence(pkt);
    for (;;) {
        if (m_stop && m_stop()) return AVERROR_EXIT;
        snd_pcm_sframes_t avail = snd_pcm_avail(m_pcm);
        if (avail < 0) {
            if (!Recover(int(avail))) return DeviceError(int(avail));
            AccountForLoss();
            if (m_silentFrames > 0) return Silence(pkt);
            continue;
        }
        if (avail == 0) {
            if (Now() - m_lastSoundUs >= kSilenceLimitUs) return Silent();
            const int waited = snd_pcm_wait(m_pcm, kPollMs);
            if (waited < 0 && !Recover(waited)) return DeviceError(waited);
            continue;
        }
        const int blockAlign = BlockAlign();
        avail = std::min<snd_pcm_sframes_t>(avail, (INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE) / blockAlign);
        const int ret = av_new_packet(pkt, int(avail) * blockAlign);
        if (ret < 0) return ret;
        const snd_pcm_sframes_t got = snd_pcm_readi(m_pcm, pkt->data, snd_pcm_uframes_t(avail));
        if (got <= 0) {
            av_packet_unref(pkt);
            if (got < 0 && !Recover(int(got))) return DeviceError(int(got));
            if (got < 0) AccountForLoss();
            if (m_silentFrames > 0) return Silence(pkt);
            if (Now() - m_lastSoundUs >= kSilenceLimitUs) return Silent();
            continue;
        }
        av_shrink_packet(pkt, int(got) * blockAlign);
        Stamp(pkt, got);
        m_lastSoundUs = Now();
        // a device that lost sound without an overrun is behind by more
        // than its buffer holds
        const int64_t behindUs = m_lastSoundUs - m_originUs -
                                 WaveCaptureDurationUs(m_framesHandedOver * blockAlign, m_sampleRate, m_channels);
        if (behindUs > int64_t(kDeviceBufferUs) + kLagMarginUs) AccountForLoss();
        return 0;
    }
}

void TWaveCapture::Rewind()
{
    if (!m_pcm || !m_started) return;
    snd_pcm_drop(m_pcm);
    snd_pcm_prepare(m_pcm); // a failure shows at the next start
    m_started = false;
    m_silentFrames = 0;
}

int TWaveCapture::ReadClose()
{
    if (m_pcm) {
        snd_pcm_drop(m_pcm);
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
    if (m_claimed) {
        std::lock_guard lock(g_devicesLock);
        g_devices.remove(m_device);
        m_claimed = false;
    }
    m_started = false;
    return 0;
}

bool IsWaveCaptureSource(const QString& name)
{
    return name.startsWith(QLatin1String("wavcap:"));
}

QString WaveCaptureDevice(const QString& name)
{
    const QString device = name.mid(7);
    return device.isEmpty() ? QStringLiteral("default") : device;
}

TWaveCaptureInput::TWaveCaptureInput(std::unique_ptr<TWaveCapture> capture, AVIOContext* io)
    : m_capture(std::move(capture)), m_io(io), m_pending(av::NewPacket())
{
}

TWaveCaptureInput::~TWaveCaptureInput()
{
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
}

void TWaveCaptureInput::OutputsReady()
{
    m_ready = true;
    m_capture->Rewind();
    av_packet_unref(m_pending.get());
    m_offset = 0;
    if (m_io) m_io->buf_ptr = m_io->buf_end; // the silence read ahead goes
}

int TWaveCaptureInput::Read(void* opaque, uint8_t* buffer, int size)
{
    auto* self = static_cast<TWaveCaptureInput*>(opaque);
    if (!self->m_ready) {
        std::memset(buffer, 0, size_t(size));
        return size;
    }
    AVPacket* pending = self->m_pending.get();
    if (self->m_offset >= pending->size) {
        av_packet_unref(pending);
        self->m_offset = 0;
        const int ret = self->m_capture->ReadPacket(pending);
        if (ret < 0) return ret;
    }
    const int n = std::min(size, pending->size - self->m_offset);
    std::memcpy(buffer, pending->data + self->m_offset, size_t(n));
    self->m_offset += n;
    return n;
}

std::unique_ptr<TWaveCaptureInput> AttachWaveCapture(const QString& name, AVFormatContext* ctx,
                                                     int sampleRate, int channels,
                                                     TWaveCapture::StopFunction stop, AVDictionary** options,
                                                     int* error)
{
    auto capture = std::make_unique<TWaveCapture>(WaveCaptureDevice(name));
    capture->SetStopFunction(std::move(stop));
    *error = capture->ReadHeader(sampleRate, channels);
    if (*error < 0) return {};
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) {
        *error = -12;
        return {};
    }
    auto input = std::make_unique<TWaveCaptureInput>(std::move(capture), nullptr);
    input->m_io =
        avio_alloc_context(buffer, kIoBufferSize, 0, input.get(), &TWaveCaptureInput::Read, nullptr, nullptr);
    if (!input->m_io) {
        av_free(buffer);
        *error = -12;
        return {};
    }
    input->m_io->seekable = 0;
    ctx->pb = input->m_io;
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    av_dict_set_int(options, "sample_rate", sampleRate, 0);
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    char text[64] = {};
    if (av_channel_layout_describe(&layout, text, sizeof text) >= 0)
        av_dict_set(options, "ch_layout", text, 0);
    av_channel_layout_uninit(&layout);
    return input;
}

} // namespace korvane
