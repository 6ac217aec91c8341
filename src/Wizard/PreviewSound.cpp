// The preview's sound: the device fed block by block from the source, and
// the pane's clock that the sound corrects.
#include "FramePreview.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <cstring>

namespace korvane {

void TAudioFeed::SetSource(TFFPushSource* source)
{
    m_source = source;
    Reset();
}

void TAudioFeed::Reset()
{
    m_pending.reset();
    m_offset = 0;
    m_firstStartUs = -1;
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
        }
        const qint64 n = std::min<qint64>(maxSize - written, m_pending->size - m_offset);
        std::memcpy(data + written, m_pending->data.get() + m_offset, size_t(n));
        m_offset += int(n);
        written += n;
    }
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
    m_sink = std::make_unique<QAudioSink>(device, format);
    if (!m_feed.isOpen())
        m_feed.open(QIODevice::ReadOnly);
    connect(m_sink.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_sink && m_sink->error() != QAudio::NoError &&
            m_sink->error() != QAudio::UnderrunError) {
            // the device went away: go on with the steady clock
            QMetaObject::invokeMethod(this, [this] { m_sink.reset(); }, Qt::QueuedConnection);
        }
    });
}

void TFramePreview::StartSound()
{
    if (!m_sink)
        return;
    m_lastSoundUs = -1;
    if (m_sink->state() == QAudio::SuspendedState)
        m_sink->resume();
    else
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
        const int64_t sound = m_feed.FirstStartUs() + m_sink->processedUSecs();
        if (sound != m_lastSoundUs) {
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
