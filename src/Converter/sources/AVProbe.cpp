#include "sources/AVProbe.h"
#include "av/AVLib.h"
#include "av/FFmpeg.h"

#include <QFileInfo>
#include <algorithm>
#include <limits>

namespace korvane {

namespace {

int ClampToInt(int64_t value)
{
    return int(std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

} // namespace

TAVProbe::TAVProbe(QObject* parent) : TPersistent(parent) {}

TAVProbe::~TAVProbe()
{
    SetActive(false);
}

void TAVProbe::SetActive(bool active)
{
    if (active == Active())
        return;
    // Closing never depends on the file: one removed while open still closes.
    if (!active) {
        m_format.reset();
        return;
    }
    if (!QFileInfo::exists(m_fileName))
        return;
    Clear();
    try {
        Open();
    } catch (...) {
        m_format.reset();
        throw;
    }
}

void TAVProbe::Clear()
{
    m_hasVideo = m_hasAudio = false;
    m_videoCodec.clear();
    m_audioCodec.clear();
    m_width = m_height = m_videoBitrate = 0;
    m_frameRate = 0;
    m_sampleRate = m_channels = m_audioBitrate = 0;
}

void TAVProbe::Open()
{
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw EEngineError("Error Opening File!");
    const QByteArray name = LibraryUrl(m_fileName);
    // on failure avformat_open_input frees the context itself
    if (avformat_open_input(&raw, name.constData(), nullptr, nullptr) < 0)
        throw EEngineError("Error Opening File!");
    av::InputContextPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        throw EEngineError("Can not find stream information");
    m_format = std::move(format);
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        const AVMediaType type = m_format->streams[i]->codecpar->codec_type;
        if ((type == AVMEDIA_TYPE_VIDEO && !m_hasVideo) || (type == AVMEDIA_TYPE_AUDIO && !m_hasAudio))
            ProbeStream(int(i));
    }
}

void TAVProbe::ProbeStream(int index)
{
    AVStream* stream = m_format->streams[index];
    const AVCodecParameters* par = stream->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder)
        throw EEngineError(QStringLiteral("Unsupported codec(id=%1) for input stream %2")
                               .arg(int(par->codec_id))
                               .arg(index)
                               .toStdString());
    // The decoder is opened to prove the stream can be decoded, then freed:
    // the parameters below are read from the opened context.
    av::CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context || avcodec_parameters_to_context(context.get(), par) < 0 ||
        avcodec_open2(context.get(), decoder, nullptr) < 0)
        throw EEngineError(QStringLiteral("Error while opening codec for input stream %1").arg(index).toStdString());

    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        m_hasVideo = true;
        m_videoCodec = QString::fromUtf8(decoder->name);
        m_width = context->width;
        m_height = context->height;
        m_videoBitrate = ClampToInt(context->bit_rate);
        const AVRational rate = stream->r_frame_rate;
        m_frameRate = rate.den ? av_q2d(rate) : 0.0;
        return;
    }
    m_hasAudio = true;
    m_audioCodec = QString::fromUtf8(decoder->name);
    m_sampleRate = context->sample_rate;
    m_channels = context->ch_layout.nb_channels;
    const int bits = av_get_bits_per_sample(par->codec_id);
    m_audioBitrate = bits > 0 ? ClampToInt(int64_t(m_sampleRate) * m_channels * bits)
                              : ClampToInt(context->bit_rate);
}

bool TAVProbe::IsUsableSource(const QString& fileName)
{
    TAVProbe probe;
    probe.SetFileName(fileName);
    try {
        probe.SetActive(true);
    } catch (const EEngineError&) {
        return false;
    }
    return probe.Active() && (probe.HasVideo() || probe.HasAudio());
}

} // namespace korvane
