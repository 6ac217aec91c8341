// The preview's sound: the device fed block by block from the source, and
// the pane's clock that the sound corrects.
#include "FramePreview.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QComboBox>
#include <QMediaDevices>
#include <QPainter>
#include <QPixmap>
#include <QSlider>
#include <QToolButton>
#include <cstring>

namespace korvane {

void TAudioFeed::SetSource(TFFPushSource* source)
{
    m_source = source;
    Reset();
}

void TAudioFeed::SetFormat(int sampleRate, int channels)
{
    m_bytesPerSecond = int64_t(sampleRate) * channels * 2;
    Reset();
}

void TAudioFeed::Reset()
{
    m_pending.reset();
    m_offset = 0;
    m_firstStartUs = -1;
    m_anchors.clear();
    m_bytes = 0;
    m_expectUs = -1;
}

int64_t TAudioFeed::SoundTimeUs(int64_t playedUs)
{
    if (m_anchors.empty() || m_bytesPerSecond <= 0)
        return -1;
    const int64_t byte = playedUs * m_bytesPerSecond / 1000000;
    while (m_anchors.size() > 1 && m_anchors[1].byte <= byte)
        m_anchors.pop_front();
    const Anchor& a = m_anchors.front();
    return a.us + (byte - a.byte) * 1000000 / m_bytesPerSecond;
}

qint64 TAudioFeed::readData(char* data, qint64 maxSize)
{
    qint64 written = 0;
    while (m_source && written < maxSize) {
        if (!m_pending || m_offset >= m_pending->size) {
            m_pending = m_source->TakeAudio();
            m_offset = 0;
            if (!m_pending)
                break; // nothing decoded yet: the sink asks again
            if (m_firstStartUs < 0)
                m_firstStartUs = m_pending->startUs;
            if (m_expectUs < 0 || std::llabs(m_pending->startUs - m_expectUs) > kJumpUs)
                m_anchors.push_back({m_bytes + written, m_pending->startUs});
            m_expectUs = m_pending->stopUs;
        }
        const qint64 n = std::min<qint64>(maxSize - written, m_pending->size - m_offset);
        std::memcpy(data + written, m_pending->data.get() + m_offset, size_t(n));
        m_offset += int(n);
        written += n;
    }
    m_bytes += written;
    return written;
}

void TFramePreview::OpenSound()
{
    m_sink.reset();
    TFFPushSource* source = m_player.Source();
    if (!m_audioAllowed || !source || source->AudioIndex() < 0 || source->SampleRate() <= 0)
        return;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return;
    QAudioFormat format;
    format.setSampleRate(source->SampleRate());
    format.setChannelCount(source->Channels());
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return;
    m_feed.SetFormat(format.sampleRate(), format.channelCount());
    m_sink = std::make_unique<QAudioSink>(device, format);
    ApplyVolume();
    if (!m_feed.isOpen())
        m_feed.open(QIODevice::ReadOnly);
    QAudioSink* sink = m_sink.get();
    connect(sink, &QAudioSink::stateChanged, this, [this, sink](QAudio::State state) {
        if (state == QAudio::StoppedState && m_sink.get() == sink && sink->error() != QAudio::NoError &&
            sink->error() != QAudio::UnderrunError) {
            // the device went away: go on with the steady clock (unless
            // another sink took this one's place meanwhile)
            QMetaObject::invokeMethod(
                this, [this, sink] {
                    if (m_sink.get() == sink)
                        m_sink.reset();
                },
                Qt::QueuedConnection);
        }
    });
}

QAudioFormat TFramePreview::SoundFormat() const
{
    return m_sink ? m_sink->format() : QAudioFormat();
}

double TFramePreview::DeviceVolume() const
{
    return m_sink ? m_sink->volume() : 0.0;
}

void TFramePreview::ApplyVolume()
{
    if (m_sink)
        m_sink->setVolume(m_muted ? 0.0 : double(m_volume) / 100.0);
}

void TFramePreview::SetVolume(int percent)
{
    m_volume = std::clamp(percent, 0, 100);
    ApplyVolume();
    UpdateSoundControls();
}

void TFramePreview::SetMuted(bool muted)
{
    m_muted = muted;
    ApplyVolume();
    UpdateSoundControls();
}

void TFramePreview::SetAudioTrack(int index)
{
    if (!m_player.Source() || index == m_player.AudioIndex() || index < 0 ||
        index >= m_player.AudioStreamCount())
        return;
    const bool playing = m_playing;
    Pause();
    StopSound();
    m_sink.reset();
    m_player.SetAudioIndex(index);
    // the device is opened again for the new track's rate and channels, and
    // its sound starts at the shown picture
    OpenSound();
    SeekTo(PositionUs());
    if (playing)
        Resume();
    UpdateSoundControls();
}

namespace {

// A loudspeaker, with waves or struck through, in the button text's colour.
QIcon SpeakerIcon(bool muted, const QColor& colour)
{
    return PaintedIcon(colour, [muted, colour](QPainter& p) {
        const QPointF body[] = {{4, 12}, {10, 12}, {17, 5}, {17, 27}, {10, 20}, {4, 20}};
        p.drawPolygon(body, 6);
        QPen pen(colour, 2.5, Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        if (muted) {
            p.drawLine(QPointF(21, 11), QPointF(29, 21));
            p.drawLine(QPointF(29, 11), QPointF(21, 21));
        } else {
            p.drawArc(QRectF(14, 10, 10, 12), -60 * 16, 120 * 16);
            p.drawArc(QRectF(14, 5, 16, 22), -60 * 16, 120 * 16);
        }
    });
}

} // namespace

void TFramePreview::UpdateSoundControls()
{
    m_mute->setIcon(SpeakerIcon(m_muted, palette().color(QPalette::ButtonText)));
    m_mute->setToolTip(m_muted ? QStringLiteral("Sound off (click to hear it)") : QStringLiteral("Mute"));
    if (m_volumeSlider->value() != m_volume)
        m_volumeSlider->setValue(m_volume);
    m_volumeSlider->setEnabled(!m_muted);
    // the track picker lists the source's sound tracks when it has several
    TFFPushSource* source = m_player.Source();
    const int tracks = source ? source->AudioStreamCount() : 0;
    if (m_audioTrack->count() != tracks || (tracks > 0 && m_audioTrack->itemText(0) != source->AudioStreamText(0))) {
        m_audioTrack->clear();
        for (int i = 0; i < tracks; ++i)
            m_audioTrack->addItem(source->AudioStreamText(i));
    }
    if (tracks > 0)
        m_audioTrack->setCurrentIndex(m_player.AudioIndex());
    m_audioTrack->setVisible(tracks > 1);
    const bool sound = source && source->AudioIndex() >= 0;
    m_mute->setEnabled(sound || !source);
}

void TFramePreview::StartSound()
{
    if (!m_sink)
        return;
    m_lastSoundUs = -1;
    if (m_sink->state() == QAudio::SuspendedState) {
        m_sink->resume();
        return;
    }
    // a stopped sink may have closed the feed it pulled from
    if (!m_feed.isOpen())
        m_feed.open(QIODevice::ReadOnly);
    m_sink->start(&m_feed);
}

void TFramePreview::StopSound()
{
    if (m_sink)
        m_sink->stop();
    m_feed.Reset();
    m_lastSoundUs = -1;
}

int64_t TFramePreview::ClockUs()
{
    if (!m_playing)
        return m_clockBaseUs;
    int64_t now = m_clockBaseUs + m_steady.nsecsElapsed() / 1000;
    if (m_sink && m_feed.FirstStartUs() >= 0) {
        // the sound's position moves in steps of the device's period; when
        // it moves, it corrects the steady clock
        const int64_t sound = m_feed.SoundTimeUs(m_sink->processedUSecs());
        if (sound >= 0 && sound != m_lastSoundUs) {
            m_lastSoundUs = sound;
            if (std::llabs(sound - now) > 60000) {
                m_clockBaseUs = now = sound;
                m_steady.restart();
            }
        }
    }
    return now;
}

} // namespace korvane
