// The player object the preview pane works with: it creates the decoding
// source for a file or a "stream:<n>" name, hands it the filters, the loop
// count and the callbacks, and publishes what the source found.
#pragma once

#include "preview/PushSource.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace korvane {

class TAVPlayer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString FileName READ FileName)
    Q_PROPERTY(QString VideoFilters READ VideoFilters WRITE SetVideoFilters)
    Q_PROPERTY(bool DisableAudio READ DisableAudio WRITE SetDisableAudio)
    Q_PROPERTY(int LoopCount READ LoopCount WRITE SetLoopCount)
    Q_PROPERTY(bool HasVideo READ HasVideo)
    Q_PROPERTY(bool HasAudio READ HasAudio)
    Q_PROPERTY(bool HasSubtitle READ HasSubtitle)
    Q_PROPERTY(int VideoStreamCount READ VideoStreamCount)
    Q_PROPERTY(int AudioStreamCount READ AudioStreamCount)
    Q_PROPERTY(int SubtitleStreamCount READ SubtitleStreamCount)
    Q_PROPERTY(int VideoWidth READ VideoWidth)
    Q_PROPERTY(int VideoHeight READ VideoHeight)
    Q_PROPERTY(int VideoIndex READ VideoIndex WRITE SetVideoIndex)
    Q_PROPERTY(int AudioIndex READ AudioIndex WRITE SetAudioIndex)
    Q_PROPERTY(int SubtitleIndex READ SubtitleIndex WRITE SetSubtitleIndex)
public:
    explicit TAVPlayer(QObject* parent = nullptr);
    ~TAVPlayer() override;

    // Opens name (a file path or "stream:<n>"); false when it cannot be
    // opened, with the reason in LastError. A previous source is closed.
    bool OpenFile(const QString& name);
    void Close();
    TFFPushSource* Source() const { return m_source.get(); }
    QString LastError() const { return m_lastError; }

    QString FileName() const { return m_fileName; }
    QString VideoFilters() const { return m_videoFilters; }
    // Shows a new description at once when it differs from the current one
    // in any character. A description whose graph does not build is
    // reported through OnError and leaves the picture empty.
    void SetVideoFilters(const QString& text);
    // Deinterlaces the pictures first, as a job with the Deinterlace option does.
    void SetDeinterlace(bool deinterlace);
    bool Deinterlace() const { return m_deinterlace; }
    bool DisableAudio() const { return m_disableAudio; }
    void SetDisableAudio(bool disable) { m_disableAudio = disable; } // for the next OpenFile
    int LoopCount() const { return m_loopCount; }
    void SetLoopCount(int count) { m_loopCount = count < 1 ? 1 : count; } // for the next OpenFile

    bool HasVideo() const { return m_source && m_source->VideoIndex() >= 0; }
    bool HasAudio() const { return m_source && m_source->AudioIndex() >= 0; }
    bool HasSubtitle() const { return m_source && m_source->SubtitleIndex() >= 0; }
    int VideoStreamCount() const { return m_source ? m_source->VideoStreamCount() : 0; }
    int AudioStreamCount() const { return m_source ? m_source->AudioStreamCount() : 0; }
    int SubtitleStreamCount() const { return m_source ? m_source->SubtitleStreamCount() : 0; }
    int VideoWidth() const { return m_source ? m_source->VideoWidth() : 0; }
    int VideoHeight() const { return m_source ? m_source->VideoHeight() : 0; }
    int VideoIndex() const { return m_source ? m_source->VideoIndex() : -1; }
    int AudioIndex() const { return m_source ? m_source->AudioIndex() : -1; }
    int SubtitleIndex() const { return m_source ? m_source->SubtitleIndex() : -1; }
    void SetVideoIndex(int index);
    void SetAudioIndex(int index);
    void SetSubtitleIndex(int index);

    // The whole playing time (all loop passes), microseconds; 0 when closed.
    int64_t DurationUs() const { return m_source ? m_source->TotalDurationUs() : 0; }
    void Seek(int64_t timeUs, TSeekMode mode = TSeekMode::smAtOrAfter);

    // Handed to each source this player creates (see TFFPushSource).
    std::function<void(TAVPlayer*, uint8_t*, int, int)> OnBuffer;
    std::function<void(TAVPlayer*, const uint8_t*, int)> OnAudioBuffer;
    // A failure of the filters or of the streaming thread. Called on the
    // thread that met it (the streaming thread for decoding failures).
    std::function<void(TAVPlayer*, const QString&)> OnError;

private:
    void ReportError(const QString& message);

    std::unique_ptr<TFFPushSource> m_source;
    QString m_fileName;
    QString m_videoFilters;
    QString m_lastError;
    bool m_disableAudio = false;
    bool m_deinterlace = false;
    int m_loopCount = 1;
};

} // namespace korvane
