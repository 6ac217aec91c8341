#include "preview/AVPlayer.h"

#include "options/Persistent.h"

namespace korvane {

TAVPlayer::TAVPlayer(QObject* parent) : QObject(parent) {}

TAVPlayer::~TAVPlayer() = default;

bool TAVPlayer::OpenFile(const QString& name)
{
    Close();
    m_lastError.clear();
    auto source = std::make_unique<TFFPushSource>();
    source->SetDisableAudio(m_disableAudio);
    source->SetLoopCount(m_loopCount);
    if (OnBuffer)
        source->SetBufferCallback([this](TFFPushSource*, uint8_t* data, int w, int h) { OnBuffer(this, data, w, h); });
    if (OnAudioBuffer)
        source->SetAudioBufferCallback(
            [this](TFFPushSource*, const uint8_t* data, int count) { OnAudioBuffer(this, data, count); });
    source->SetErrorCallback([this](TFFPushSource*, const QString& message) { ReportError(message); });
    try {
        source->SetVideoFilters(m_videoFilters);
        source->SetDeinterlace(m_deinterlace);
        source->Load(name);
    } catch (const std::exception& e) {
        m_lastError = QString::fromUtf8(e.what());
        return false;
    }
    m_source = std::move(source);
    m_fileName = name;
    const QString graphError = m_source->GraphError();
    if (!graphError.isEmpty())
        ReportError(graphError);
    return true;
}

void TAVPlayer::Close()
{
    m_source.reset();
    m_fileName.clear();
}

void TAVPlayer::ReportError(const QString& message)
{
    if (OnError)
        OnError(this, message);
}

void TAVPlayer::SetVideoFilters(const QString& text)
{
    // compared exactly: an edit that only changes case or blanks (a script,
    // overlay text) changes the pictures too
    if (text == m_videoFilters)
        return;
    m_videoFilters = text;
    if (!m_source)
        return;
    try {
        m_source->SetVideoFilters(text);
    } catch (const EEngineError& e) {
        ReportError(QString::fromUtf8(e.what()));
    }
}

void TAVPlayer::SetDeinterlace(bool deinterlace)
{
    m_deinterlace = deinterlace;
    if (m_source)
        m_source->SetDeinterlace(deinterlace);
}

void TAVPlayer::SetVideoIndex(int index)
{
    if (m_source)
        m_source->SetVideoIndex(index);
}

void TAVPlayer::SetAudioIndex(int index)
{
    if (m_source)
        m_source->SetAudioIndex(index);
}

void TAVPlayer::SetSubtitleIndex(int index)
{
    if (m_source)
        m_source->SetSubtitleIndex(index);
}

void TAVPlayer::Seek(int64_t timeUs, TSeekMode mode)
{
    if (m_source)
        m_source->Seek(timeUs, mode);
}

} // namespace korvane
