// Audio path: keeps the output in step with the input clock (drop, pad or
// stretch), converts channels, rate and sample format, applies the volume,
// and collects samples in a FIFO until the encoder has a whole frame.
#include "transcode/AVConverter.h"
#include "transcode/Resume.h"
#include "transcode/Transcoder.h"

#include <cmath>

namespace korvane {

namespace {

template <typename T> void ScaleSamples(T* data, int count, int volume, double lo, double hi)
{
    for (int i = 0; i < count; ++i) {
        const double v = (double(data[i]) * volume + 128.0) / 256.0;
        data[i] = T(std::clamp(std::floor(v), lo, hi));
    }
}

template <typename T> void ScaleFloat(T* data, int count, int volume)
{
    for (int i = 0; i < count; ++i)
        data[i] = T(std::clamp(double(data[i]) * volume / 256.0, -1.0, 1.0));
}

// Gain in 1/256 steps, saturating, for every sample format.
void ApplyVolume(AVFrame* frame, int volume)
{
    const AVSampleFormat fmt = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(fmt);
    const int channels = frame->ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const int count = frame->nb_samples * (planar ? 1 : channels);
    for (int p = 0; p < planes; ++p) {
        uint8_t* d = frame->extended_data[p];
        switch (av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8:
            for (int i = 0; i < count; ++i)
                d[i] = uint8_t(std::clamp((int(d[i]) - 128) * volume / 256 + 128, 0, 255));
            break;
        case AV_SAMPLE_FMT_S16: ScaleSamples(reinterpret_cast<int16_t*>(d), count, volume, -32768, 32767); break;
        case AV_SAMPLE_FMT_S32:
            ScaleSamples(reinterpret_cast<int32_t*>(d), count, volume, -2147483648.0, 2147483647.0);
            break;
        case AV_SAMPLE_FMT_FLT: ScaleFloat(reinterpret_cast<float*>(d), count, volume); break;
        case AV_SAMPLE_FMT_DBL: ScaleFloat(reinterpret_cast<double*>(d), count, volume); break;
        default: break;
        }
    }
}

} // namespace

void Transcoder::SetupAudioEncoder(TAVOutputStream& ost, TAVInputStream& ist)
{
    AVCodecContext* enc = ost.encoder();
    if (enc->sample_rate <= 0 || enc->ch_layout.nb_channels <= 0)
        throw EEngineError("Can not resample channels @  Hz to %d channels @ %d Hz");
    ist.decodingNeeded = true;
    ost.encodingNeeded = true;
}

namespace {

// Gives frame room for at least samples samples in the encoder's format,
// reusing its buffer when that is large enough and no one else holds it.
void ReserveSamples(AVFrame* frame, const AVCodecContext* enc, int samples)
{
    if (frame->buf[0] && frame->nb_samples >= samples && av_frame_is_writable(frame))
        return;
    av_frame_unref(frame);
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
    frame->nb_samples = std::max(samples, 4096);
    if (av_frame_get_buffer(frame, 0) < 0)
        throw EEngineError("Out of memory in do_audio_out");
}

} // namespace

void Transcoder::OpenResampler(TAVOutputStream& ost, const AVFrame* decoded)
{
    AVCodecContext* enc = ost.encoder();
    const bool same = ost.resampler && ost.resamplerRate == decoded->sample_rate &&
                      ost.resamplerFormat == decoded->format &&
                      av_channel_layout_compare(&ost.resamplerLayout.v, &decoded->ch_layout) == 0;
    if (same)
        return;
    // the input changed its layout, rate or format mid-stream: what the old
    // resampler still holds goes out first, then a new one takes over
    if (ost.resampler)
        ResampleIntoFifo(ost, nullptr, 0, 0);
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, const_cast<AVChannelLayout*>(&decoded->ch_layout),
                            AVSampleFormat(decoded->format), decoded->sample_rate, 0, nullptr) < 0 ||
        swr_init(swr) < 0) {
        swr_free(&swr);
        throw EEngineError(QString::asprintf("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                             decoded->ch_layout.nb_channels, decoded->sample_rate,
                                             enc->ch_layout.nb_channels, enc->sample_rate)
                               .toStdString());
    }
    ost.resampler.reset(swr);
    ost.resamplerRate = decoded->sample_rate;
    ost.resamplerFormat = decoded->format;
    av_channel_layout_uninit(&ost.resamplerLayout.v);
    av_channel_layout_copy(&ost.resamplerLayout.v, &decoded->ch_layout);
}

// Converts count input samples (none: drains the resampler), applies the
// volume and appends what comes out to the FIFO, leaving out skip samples
// more than are still pending (those run on into later calls).
void Transcoder::ResampleIntoFifo(TAVOutputStream& ost, const uint8_t* const* input, int count, int64_t skip)
{
    AVCodecContext* enc = ost.encoder();
    AVFrame* out = ost.audioFrame.get();
    ost.dropPending += skip;
    ReserveSamples(out, enc, swr_get_out_samples(ost.resampler.get(), count) + 16);
    const int got = swr_convert(ost.resampler.get(), out->extended_data, out->nb_samples,
                                const_cast<const uint8_t**>(input), count);
    if (got < 0)
        throw EEngineError("Cannot convert sample format");
    if (got == 0)
        return;
    const int volume = m_o.AudioOptions()->m_audioVolume;
    if (volume != 256) {
        const int capacity = out->nb_samples;
        out->nb_samples = got;
        ApplyVolume(out, volume);
        out->nb_samples = capacity;
    }
    const int64_t dropped = std::min<int64_t>(got, ost.dropPending);
    ost.dropPending -= dropped;
    const int kept = int(got - dropped);
    if (kept == 0)
        return;
    // the leading samples to drop are skipped by offsetting each plane
    const int bps = av_get_bytes_per_sample(enc->sample_fmt);
    const bool planar = av_sample_fmt_is_planar(enc->sample_fmt);
    const int planes = planar ? enc->ch_layout.nb_channels : 1;
    const size_t offset = size_t(got - kept) * size_t(planar ? bps : bps * enc->ch_layout.nb_channels);
    ost.planes.resize(size_t(planes));
    for (int p = 0; p < planes; ++p)
        ost.planes[size_t(p)] = out->extended_data[p] + offset;
    if (av_audio_fifo_write(ost.fifo.get(), ost.planes.data(), kept) < kept)
        throw EEngineError("av_fifo_realloc2() failed");
}

// Silence in front of the next samples, written in bounded pieces so a long
// gap never needs one huge buffer.
void Transcoder::PadWithSilence(TAVOutputStream& ost, int64_t samples)
{
    AVCodecContext* enc = ost.encoder();
    constexpr int kPiece = 4096;
    av::FramePtr silence = av::NewFrame();
    if (!silence)
        throw EEngineError("Out of memory in do_audio_out");
    ReserveSamples(silence.get(), enc, kPiece);
    av_samples_set_silence(silence->extended_data, 0, kPiece, enc->ch_layout.nb_channels, enc->sample_fmt);
    while (samples > 0) {
        const int n = int(std::min<int64_t>(samples, kPiece));
        if (av_audio_fifo_write(ost.fifo.get(), reinterpret_cast<void**>(silence->extended_data), n) < n)
            throw EEngineError("av_fifo_realloc2() failed");
        samples -= n;
        // long gaps are encoded as they are filled, so the FIFO stays small
        SendAudioFrames(ost, false);
    }
}

void Transcoder::EncodeAudio(TAVOutputStream& ost, TAVInputStream& ist, AVFrame* decoded)
{
    if (!decoded || ost.finished)
        return;
    AVCodecContext* enc = ost.encoder();
    const int rate = enc->sample_rate;
    const int method = m_o.AudioOptions()->m_audioSyncMethod;
    OpenResampler(ost, decoded);
    const int fifoSamples = av_audio_fifo_size(ost.fifo.get());
    const double syncTime = double(ost.sync->ptsUs) / 1000000.0;
    int64_t dropSamples = 0, padSamples = 0;
    if (method == 0) {
        // no correction: the output starts at the input's first time and then
        // counts samples, so rounded or jittering input timestamps never open
        // gaps or overlaps between packets whose data is contiguous
        if (!ost.audioClockStarted) {
            ost.syncOpts = std::max<int64_t>(0, std::llround(syncTime * rate) - fifoSamples);
            // the part of the first samples that lies before the start is cut off
            if (syncTime < 0)
                dropSamples = std::llround(-syncTime * rate);
        }
    } else {
        const double delta = syncTime * rate - double(ost.syncOpts) - fifoSamples;
        if (std::fabs(delta) > 50) {
            if (ist.isStart || std::fabs(delta) > rate * m_o.AudioOptions()->m_audioDriftThreshold) {
                if (delta < 0)
                    dropSamples = std::llround(-delta);
                else
                    padSamples = std::llround(delta);
                ist.isStart = false;
            } else if (method > 1) {
                const int comp = int(std::clamp<long long>(std::llround(delta), -method, method));
                swr_set_compensation(ost.resampler.get(), comp, rate);
            }
        }
    }
    if (!ost.audioClockStarted) {
        // a resumed job's frames must fall where the kept part's fell: its
        // first sample moves on to the kept part's frame grid
        int audio = 0; // this stream's number among its file's sound streams
        for (const TAVOutputStream& other : m_ost) {
            if (&other == &ost)
                break;
            audio += other.file == ost.file && other.type() == AVMEDIA_TYPE_AUDIO;
        }
        const int64_t align = m_c.m_resume->AudioGridDrop(audio, ost.syncOpts, enc);
        const int64_t pad = std::max<int64_t>(0, padSamples - align);
        dropSamples += align - (padSamples - pad);
        padSamples = pad;
        ost.syncOpts += align;
    }
    ost.audioClockStarted = true;
    if (padSamples > 0)
        PadWithSilence(ost, padSamples);
    ResampleIntoFifo(ost, decoded->extended_data, decoded->nb_samples, dropSamples);
    SendAudioFrames(ost, false);
}

void Transcoder::SendAudioFrames(TAVOutputStream& ost, bool flush)
{
    AVCodecContext* enc = ost.encoder();
    if (flush && ost.resampler)
        ResampleIntoFifo(ost, nullptr, 0, 0); // what the resampler still holds
    if (!ost.fifo) {
        // first call, right after the encoder opened
        ost.fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 4096));
        ost.audioFrame = av::NewFrame();
        ost.encodeFrame = av::NewFrame();
        if (!ost.fifo || !ost.audioFrame || !ost.encodeFrame)
            throw EEngineError("no memory");
        return;
    }
    const bool variable = enc->frame_size <= 1 || (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int frameSize = variable ? 4096 : enc->frame_size;
    AVAudioFifo* fifo = ost.fifo.get();
    const int maxFrames = MaxFramesFor(AVMEDIA_TYPE_AUDIO);
    const int64_t windowEndUs = WindowEndUs();
    const int64_t windowEndSamples =
        windowEndUs == INT64_MAX ? INT64_MAX : av_rescale(windowEndUs, enc->sample_rate, 1000000);
    while (av_audio_fifo_size(fifo) >= (variable ? 1 : frameSize) || (flush && av_audio_fifo_size(fifo) > 0)) {
        int n = std::min(frameSize, av_audio_fifo_size(fifo));
        // samples at or after the end of the window are left out; the last
        // frame may be a short one
        if (ost.finished || ost.syncOpts >= windowEndSamples) {
            ost.finished = true;
            av_audio_fifo_drain(fifo, av_audio_fifo_size(fifo));
            break;
        }
        if (ost.syncOpts + n > windowEndSamples) {
            n = int(windowEndSamples - ost.syncOpts);
            ost.finished = true;
        }
        // encoders without a small last frame get the tail padded with silence
        const bool padTail = n < frameSize && !variable &&
                             !(enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
        if (ost.frameNumber >= maxFrames) {
            av_audio_fifo_drain(fifo, n);
            continue;
        }
        // the encoder may still hold the last frame's buffer: a new one is
        // taken only then
        AVFrame* frame = ost.encodeFrame.get();
        const int wanted = padTail ? frameSize : n;
        if (!frame->buf[0] || frame->nb_samples != wanted || av_frame_make_writable(frame) < 0) {
            av_frame_unref(frame);
            frame->format = enc->sample_fmt;
            frame->sample_rate = enc->sample_rate;
            frame->nb_samples = wanted;
            av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
            if (av_frame_get_buffer(frame, 0) < 0)
                throw EEngineError("Out of memory in do_audio_out");
        }
        if (padTail)
            av_samples_set_silence(frame->extended_data, 0, frameSize, enc->ch_layout.nb_channels, enc->sample_fmt);
        if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->extended_data), n) < n)
            throw EEngineError("Audio FIFO read failed");
        frame->pts = av_rescale_q(ost.syncOpts, {1, enc->sample_rate}, enc->time_base);
        ost.syncOpts += n;
        if (avcodec_send_frame(enc, frame) < 0)
            throw EEngineError("Audio encoding failed");
        ++ost.frameNumber;
        DrainEncoder(ost, false);
    }
}

} // namespace korvane
