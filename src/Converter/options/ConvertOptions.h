// The options tree of one conversion: TAVConvertOptions and its sub-objects.
// Published properties (Q_PROPERTY, in declaration order) are the persisted
// format: stored settings address them by dotted path, for example
// "ConvertOptions.AudioOptions.AudioVolume". Every property has a setter and
// Assign goes through the setters, so validation also runs on copy.
#pragma once

#include "options/Persistent.h"

#include <QStringList>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace korvane {

constexpr int64_t kNoTimeLimit = std::numeric_limits<int64_t>::max();
constexpr int kMaxFramesUnlimited = 2147483647;

class TRational : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(int num READ num WRITE setNum)
    Q_PROPERTY(int den READ den WRITE setDen)
public:
    explicit TRational(QObject* parent = nullptr) : TPersistent(parent) {}
    int num() const { return m_num; }
    int den() const { return m_den; }
    void setNum(int v) { m_num = v; }
    void setDen(int v) { m_den = v; }
    void Assign(const TPersistent* source) override;
    bool DeclaredDefault(const char* property, QVariant* value) const override;

private:
    int m_num = 25;
    int m_den = 1;
};

class TAudioOptions : public TPersistent
{
    Q_OBJECT
public:
    enum TAVAudioSampleFormat { sfAuto, sfU8, sfS16, sfS32, sfFLT, sfDBL };
    Q_ENUM(TAVAudioSampleFormat)
private:
    Q_PROPERTY(int AudioChannels MEMBER m_audioChannels)
    Q_PROPERTY(int AudioSampleRate MEMBER m_audioSampleRate)
    Q_PROPERTY(int AudioVolume MEMBER m_audioVolume)
    Q_PROPERTY(int AudioSyncMethod MEMBER m_audioSyncMethod)
    Q_PROPERTY(bool AudioDisable MEMBER m_audioDisable)
    Q_PROPERTY(TAVAudioSampleFormat AudioSampleFmt READ AudioSampleFmt WRITE SetAudioSampleFmt)
    Q_PROPERTY(bool AudioStreamCopy MEMBER m_audioStreamCopy)
    Q_PROPERTY(QString EncoderAudioCodecName MEMBER m_encoderAudioCodecName)
    Q_PROPERTY(QString DecoderAudioCodecName MEMBER m_decoderAudioCodecName)
    Q_PROPERTY(int AudioCodecTag MEMBER m_audioCodecTag)
    Q_PROPERTY(QString AudioLanguage MEMBER m_audioLanguage)
    Q_PROPERTY(float AudioQScale MEMBER m_audioQScale)
    Q_PROPERTY(float AudioDriftThreshold MEMBER m_audioDriftThreshold)
    Q_PROPERTY(int Bitrate MEMBER m_bitrate)
    Q_PROPERTY(int MaxFrames MEMBER m_maxFrames)
public:
    explicit TAudioOptions(QObject* parent = nullptr) : TPersistent(parent) {}
    void Assign(const TPersistent* source) override;
    bool DeclaredDefault(const char* property, QVariant* value) const override;

    TAVAudioSampleFormat AudioSampleFmt() const { return m_audioSampleFmt; }
    // sfAuto is ignored: once a concrete format is set it only changes to another one.
    void SetAudioSampleFmt(TAVAudioSampleFormat v);

    int m_audioChannels = 0;
    int m_audioSampleRate = 0;
    int m_audioVolume = 256;
    int m_audioSyncMethod = 0;
    bool m_audioDisable = false;
    TAVAudioSampleFormat m_audioSampleFmt = sfAuto;
    bool m_audioStreamCopy = false;
    QString m_encoderAudioCodecName;
    QString m_decoderAudioCodecName;
    int m_audioCodecTag = 0;
    QString m_audioLanguage;
    float m_audioQScale = -99999.0f;
    float m_audioDriftThreshold = 0.1f;
    int m_bitrate = 0;
    int m_maxFrames = kMaxFramesUnlimited;
};

class TSubtitleOptions : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(QString SubtitleLanguage MEMBER m_subtitleLanguage)
    Q_PROPERTY(QString SubtitleCodecName MEMBER m_subtitleCodecName)
    Q_PROPERTY(bool SubtitleDisable MEMBER m_subtitleDisable)
    Q_PROPERTY(bool SubtitleStreamCopy MEMBER m_subtitleStreamCopy)
    Q_PROPERTY(int SubtitleCodecTag MEMBER m_subtitleCodecTag)
public:
    explicit TSubtitleOptions(QObject* parent = nullptr) : TPersistent(parent) {}
    void Assign(const TPersistent* source) override;

    QString m_subtitleLanguage;
    QString m_subtitleCodecName;
    bool m_subtitleDisable = false;
    bool m_subtitleStreamCopy = false;
    int m_subtitleCodecTag = 0;
};

class TVideoOptions : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(int FrameWidth MEMBER m_frameWidth)
    Q_PROPERTY(int FrameHeight MEMBER m_frameHeight)
    Q_PROPERTY(QString EncoderVideoCodecName MEMBER m_encoderVideoCodecName)
    Q_PROPERTY(QString DecoderVideoCodecName MEMBER m_decoderVideoCodecName)
    Q_PROPERTY(bool VideoDisable MEMBER m_videoDisable)
    Q_PROPERTY(bool VideoStreamCopy MEMBER m_videoStreamCopy)
    Q_PROPERTY(int VideoCodecTag MEMBER m_videoCodecTag)
    Q_PROPERTY(QString VideoLanguage MEMBER m_videoLanguage)
    Q_PROPERTY(int VideoGlobalHeader MEMBER m_videoGlobalHeader)
    Q_PROPERTY(bool IntraOnly MEMBER m_intraOnly)
    Q_PROPERTY(float VideoQscale MEMBER m_videoQscale)
    Q_PROPERTY(bool SameQuality MEMBER m_sameQuality)
    Q_PROPERTY(QString VideoRcOverrideString MEMBER m_videoRcOverrideString)
    Q_PROPERTY(int IntraDcPrecision MEMBER m_intraDcPrecision)
    Q_PROPERTY(int VideoSyncMethod MEMBER m_videoSyncMethod)
    Q_PROPERTY(int TopFieldFirst MEMBER m_topFieldFirst)
    Q_PROPERTY(bool ForceFPS MEMBER m_forceFPS)
    Q_PROPERTY(QStringList IntraMatrix READ IntraMatrix WRITE SetIntraMatrix)
    Q_PROPERTY(QStringList InterMatrix READ InterMatrix WRITE SetInterMatrix)
    Q_PROPERTY(korvane::TRational* FrameRate READ FrameRate WRITE SetFrameRate)
    Q_PROPERTY(float FrameAspectRatio MEMBER m_frameAspectRatio)
    Q_PROPERTY(int MeThreshold MEMBER m_meThreshold)
    Q_PROPERTY(bool Deinterlace MEMBER m_deinterlace)
    Q_PROPERTY(int Pass READ Pass WRITE SetPass)
    Q_PROPERTY(int MaxFrames MEMBER m_maxFrames)
    Q_PROPERTY(int Bitrate MEMBER m_bitrate)
    Q_PROPERTY(QStringList ForceKeyFrames MEMBER m_forceKeyFrames)
public:
    explicit TVideoOptions(QObject* parent = nullptr);
    void Assign(const TPersistent* source) override;
    bool DeclaredDefault(const char* property, QVariant* value) const override;

    QStringList IntraMatrix() const { return m_intraMatrix; }
    QStringList InterMatrix() const { return m_interMatrix; }
    // Empty, or exactly 64 whole numbers; otherwise ErrorBox and nothing stored.
    void SetIntraMatrix(const QStringList& value);
    void SetInterMatrix(const QStringList& value);
    TRational* FrameRate() const { return m_frameRate; }
    void SetFrameRate(TRational* value);
    int Pass() const { return m_pass; }
    // 0, 1 or 2; otherwise ErrorBox and Pass unchanged.
    void SetPass(int value);

    int m_frameWidth = 0;
    int m_frameHeight = 0;
    QString m_encoderVideoCodecName;
    QString m_decoderVideoCodecName;
    bool m_videoDisable = false;
    bool m_videoStreamCopy = false;
    int m_videoCodecTag = 0;
    QString m_videoLanguage;
    int m_videoGlobalHeader = 0;
    bool m_intraOnly = false;
    float m_videoQscale = 0.0f;
    bool m_sameQuality = false;
    QString m_videoRcOverrideString;
    int m_intraDcPrecision = 8;
    int m_videoSyncMethod = -1;
    int m_topFieldFirst = -1;
    bool m_forceFPS = false;
    QStringList m_intraMatrix;
    QStringList m_interMatrix;
    TRational* m_frameRate; // owned
    float m_frameAspectRatio = 0.0f;
    int m_meThreshold = 0;
    bool m_deinterlace = false;
    int m_pass = 0;
    int m_maxFrames = kMaxFramesUnlimited;
    int m_bitrate = 0;
    QStringList m_forceKeyFrames;

    // Not published; copied by Assign.
    uint8_t VideoDiscard = 0;
    int PixelFormat = -1;
    // Filled from IntraMatrix / InterMatrix when those hold 64 entries.
    std::array<uint16_t, 64> IntraMatrixData{};
    std::array<uint16_t, 64> InterMatrixData{};

private:
    bool SetMatrix(const QStringList& value, QStringList& list, std::array<uint16_t, 64>& data);
};

class TMuxerOptions : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(float MuxPreload MEMBER m_muxPreload)
    Q_PROPERTY(float MuxMaxDelay MEMBER m_muxMaxDelay)
    Q_PROPERTY(QStringList AudioBitstreamFilters MEMBER m_audioBitstreamFilters)
    Q_PROPERTY(QStringList SubtitleBitstreamFilters MEMBER m_subtitleBitstreamFilters)
    Q_PROPERTY(QStringList VideoBitstreamFilters MEMBER m_videoBitstreamFilters)
public:
    explicit TMuxerOptions(QObject* parent = nullptr) : TPersistent(parent) {}
    void Assign(const TPersistent* source) override;

    float m_muxPreload = 0.5f;
    float m_muxMaxDelay = 0.7f;
    QStringList m_audioBitstreamFilters;
    QStringList m_subtitleBitstreamFilters;
    QStringList m_videoBitstreamFilters;
};

class TGrabOptions : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(int VideoChannel MEMBER m_videoChannel)
    Q_PROPERTY(QString VideoStandard MEMBER m_videoStandard)
    Q_PROPERTY(bool InputSync MEMBER m_inputSync)
public:
    explicit TGrabOptions(QObject* parent = nullptr) : TPersistent(parent) {}
    void Assign(const TPersistent* source) override;

    int m_videoChannel = 0;
    QString m_videoStandard;
    bool m_inputSync = false;
};

class TFilterOptions : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(QString VideoFilters MEMBER m_videoFilters)
public:
    explicit TFilterOptions(QObject* parent = nullptr) : TPersistent(parent) {}
    void Assign(const TPersistent* source) override;

    QString m_videoFilters;
};

// One (input file, stream, scale) entry of the timestamp scale table.
struct TimestampScale
{
    int file = 0;
    int stream = 0;
    double scale = 0.0;
};

class TAVConvertOptions : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(korvane::TAudioOptions* AudioOptions READ AudioOptions WRITE SetAudioOptions)
    Q_PROPERTY(korvane::TSubtitleOptions* SubtitleOptions READ SubtitleOptions WRITE SetSubtitleOptions)
    Q_PROPERTY(korvane::TVideoOptions* VideoOptions READ VideoOptions WRITE SetVideoOptions)
    Q_PROPERTY(korvane::TMuxerOptions* MuxerOptions READ MuxerOptions WRITE SetMuxerOptions)
    Q_PROPERTY(korvane::TGrabOptions* GrabOptions READ GrabOptions WRITE SetGrabOptions)
    Q_PROPERTY(korvane::TFilterOptions* FilterOptions READ FilterOptions WRITE SetFilterOptions)
    Q_PROPERTY(QStringList MetaData MEMBER m_metaData)
    Q_PROPERTY(QStringList CodecOptions MEMBER m_codecOptions)
    Q_PROPERTY(QString OutputFormat MEMBER m_outputFormat)
    Q_PROPERTY(QString InputFormat MEMBER m_inputFormat)
    Q_PROPERTY(qint64 StartTime MEMBER m_startTime)
    Q_PROPERTY(qint64 RecordingTime MEMBER m_recordingTime)
    Q_PROPERTY(int ThreadCount MEMBER m_threadCount)
    Q_PROPERTY(QStringList StreamMaps MEMBER m_streamMaps)
public:
    explicit TAVConvertOptions(QObject* parent = nullptr);
    void Assign(const TPersistent* source) override;
    bool DeclaredDefault(const char* property, QVariant* value) const override;

    korvane::TAudioOptions* AudioOptions() const { return m_audio; }
    korvane::TSubtitleOptions* SubtitleOptions() const { return m_subtitle; }
    korvane::TVideoOptions* VideoOptions() const { return m_video; }
    korvane::TMuxerOptions* MuxerOptions() const { return m_muxer; }
    korvane::TGrabOptions* GrabOptions() const { return m_grab; }
    korvane::TFilterOptions* FilterOptions() const { return m_filter; }
    // Setting a sub-object copies the given one into the owned object.
    void SetAudioOptions(korvane::TAudioOptions* v) { m_audio->Assign(v); }
    void SetSubtitleOptions(korvane::TSubtitleOptions* v) { m_subtitle->Assign(v); }
    void SetVideoOptions(korvane::TVideoOptions* v) { m_video->Assign(v); }
    void SetMuxerOptions(korvane::TMuxerOptions* v) { m_muxer->Assign(v); }
    void SetGrabOptions(korvane::TGrabOptions* v) { m_grab->Assign(v); }
    void SetFilterOptions(korvane::TFilterOptions* v) { m_filter->Assign(v); }

    // Appends "Name=Value" when no line has that name (case-insensitive),
    // else replaces the value; replacing with an empty value deletes the line.
    void SetCodecOption(const QString& name, const QString& value);

    QStringList m_metaData;
    QStringList m_codecOptions;
    QString m_outputFormat;
    QString m_inputFormat;
    int64_t m_startTime = 0;
    int64_t m_recordingTime = kNoTimeLimit;
    int m_threadCount = 1;
    QStringList m_streamMaps;

    // Engine parameters without a published property; not copied by Assign.
    int ProgramId = 0;
    bool LoopInput = false;
    bool RateEmulation = false;
    bool CopyTimestamps = false;
    bool CopyInitialNonKeyFrames = false;
    bool ExitOnError = false;
    float DtsDeltaThreshold = 10.0f;
    int64_t RecordingTimestamp = 0;
    int LoopOutput = -1;
    int64_t FileSizeLimit = 0;
    int64_t InputTimestampOffset = 0;
    int DataMaxFrames = kMaxFramesUnlimited;
    std::vector<TimestampScale> TimestampScales;
    int ScalerFlags = 4;
    int64_t AudioSize = 0;
    int64_t VideoSize = 0;

private:
    TAudioOptions* m_audio;
    TSubtitleOptions* m_subtitle;
    TVideoOptions* m_video;
    TMuxerOptions* m_muxer;
    TGrabOptions* m_grab;
    TFilterOptions* m_filter;
};

// Whole-number test used by the matrix setters and elsewhere: no "." and a
// complete integer parse.
bool IsWholeNumber(const QString& text, long long* value = nullptr);

} // namespace korvane
