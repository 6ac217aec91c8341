// Media probe: opens a file, finds its first video and first audio stream,
// checks that a decoder opens for each and records their main parameters.
// The new conversion dialog uses it to accept or refuse a source file.
#pragma once

#include "av/FFmpeg.h"
#include "options/Persistent.h"

#include <QString>

namespace korvane {

class TAVProbe : public TPersistent
{
    Q_OBJECT
public:
    explicit TAVProbe(QObject* parent = nullptr);
    ~TAVProbe() override;

    QString FileName() const { return m_fileName; }
    void SetFileName(const QString& fileName) { m_fileName = fileName; }

    // Setting the value it already has does nothing, nor does opening a file
    // that does not exist. true opens and probes (raising EEngineError with
    // the failure's message, leaving the probe inactive); false closes.
    bool Active() const { return m_format != nullptr; }
    void SetActive(bool active);

    bool HasVideo() const { return m_hasVideo; }
    bool HasAudio() const { return m_hasAudio; }
    QString VideoCodec() const { return m_videoCodec; } // decoder names
    QString AudioCodec() const { return m_audioCodec; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int VideoBitrate() const { return m_videoBitrate; } // bit/s
    double FrameRate() const { return m_frameRate; }    // the stream's real frame rate
    int SampleRate() const { return m_sampleRate; }
    int Channels() const { return m_channels; }
    int AudioBitrate() const { return m_audioBitrate; } // bit/s; computed for fixed-size samples
    // The container's duration in microseconds; 0 when it does not say.
    int64_t DurationUs() const
    {
        return m_format && m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0 ? m_format->duration : 0;
    }

    // The dialog's rule: a file is a usable source when it probes without an
    // error and has a video or an audio stream.
    static bool IsUsableSource(const QString& fileName);

private:
    void Open();
    void Clear();
    void ProbeStream(int index); // raises on a missing or failing decoder

    QString m_fileName;
    av::InputContextPtr m_format;
    bool m_hasVideo = false;
    bool m_hasAudio = false;
    QString m_videoCodec;
    QString m_audioCodec;
    int m_width = 0;
    int m_height = 0;
    int m_videoBitrate = 0;
    double m_frameRate = 0;
    int m_sampleRate = 0;
    int m_channels = 0;
    int m_audioBitrate = 0;
};

} // namespace korvane
