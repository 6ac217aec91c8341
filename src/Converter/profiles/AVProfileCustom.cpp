// The user-editable profiles: what they write into the options tree and how
// they are kept in the profile store.
#include "profiles/AVProfile.h"

#include "profiles/IniFile.h"

#include <climits>
#include <cmath>

namespace korvane {

namespace {

// Indexed by TCustomAudioEncoder.
const char* const kAudioCodecs[] = {"libfaac",    "wmav2",    "ac3",     "mp2",
                                    "libmp3lame", "pcm_s16le", "real_144", "libopencore_amrnb"};
constexpr int kAudioCodecCount = sizeof(kAudioCodecs) / sizeof(kAudioCodecs[0]);

// Indexed by TCustomAVFormat; F_NONE leaves the container to the file name.
const char* const kOutputFormats[] = {nullptr, "rm",   "mp4",  "asf", "avi", "3gp", "3g2", "flv", "mov",
                                      "psp",   "ipod", "svcd", "vcd", "vob", "dvd", "webm", "ac3"};
constexpr int kOutputFormatCount = sizeof(kOutputFormats) / sizeof(kOutputFormats[0]);

constexpr int kChannelCount = 2;

struct VideoCodec
{
    const char* name;
    bool singleThread; // encoders without threading in the media library
};

// Indexed by TCustomVideoEncoder.
const VideoCodec kVideoCodecs[] = {{"h263", true},       {"libx264", false}, {"mpeg4", false},
                                   {"wmv2", true},       {"mpeg2video", false}, {"msmpeg4", false},
                                   {"rv20", true},       {"libxvid", false}, {"flv", true}};
constexpr int kVideoCodecCount = sizeof(kVideoCodecs) / sizeof(kVideoCodecs[0]);

struct Rate
{
    int num;
    int den;
    double shown; // the number the display name spells
};

// Indexed by TCustomFrameRate; rOriginal sets nothing.
constexpr Rate kFrameRates[] = {{0, 0, 0.0},           {15000, 1001, 14.99}, {20, 1, 20.0},
                                {24000, 1001, 23.97}, {24, 1, 24.0},        {25, 1, 25.0},
                                {30000, 1001, 29.97}, {30, 1, 30.0}};
constexpr int kFrameRateCount = sizeof(kFrameRates) / sizeof(kFrameRates[0]);

static_assert(kAudioCodecCount == TAVCustomAudioProfile::AMR_NB + 1);
static_assert(kOutputFormatCount == TAVCustomAudioProfile::F_AC3 + 1);
static_assert(kVideoCodecCount == TAVCustomVideoProfile::FLV + 1);
static_assert(kFrameRateCount == TAVCustomVideoProfile::r30 + 1);

// kbit/s to bit/s, rounded and kept inside the options' int; a hand-edited
// store must not overflow the multiplication.
int KiloToBits(double kbits)
{
    const double bits = std::round(kbits * 1000.0);
    if (!(bits > INT_MIN)) // also NaN
        return bits != bits ? 0 : INT_MIN;
    return bits >= INT_MAX ? INT_MAX : static_cast<int>(bits);
}

QString Key(const char* name, int index)
{
    return QString::fromLatin1(name) + QString::number(index);
}

// Enumerations are stored as their ordinal; only the low byte is kept.
template <class E>
E ReadOrdinal(const TIniFile& ini, const char* name, int index, E current)
{
    const int value = ini.ReadInteger(kProfileSection, Key(name, index), static_cast<int>(current));
    return static_cast<E>(static_cast<quint8>(value & 0xFF));
}

} // namespace

// ---- TAVCustomAudioProfile

void TAVCustomAudioProfile::CheckEnumerations(const TAVConvertOptions* options) const
{
    if (options->AudioOptions()->m_audioStreamCopy)
        return; // the audio settings are not used then
    if (m_audioEncoder >= kAudioCodecCount)
        ProfileAssertionFailure(__LINE__);
    if (m_format >= kOutputFormatCount)
        ProfileAssertionFailure(__LINE__);
    if (m_audioChannels >= kChannelCount)
        ProfileAssertionFailure(__LINE__);
}

bool TAVCustomAudioProfile::Apply(TAVConvertOptions* options)
{
    CheckEnumerations(options);
    options->VideoOptions()->m_videoDisable = true;
    options->SubtitleOptions()->m_subtitleDisable = true;
    TAudioOptions* audio = options->AudioOptions();
    if (audio->m_audioStreamCopy)
        return true;
    audio->m_encoderAudioCodecName = QString::fromLatin1(kAudioCodecs[m_audioEncoder]);
    if (const char* format = kOutputFormats[m_format])
        options->m_outputFormat = QString::fromLatin1(format);
    audio->m_bitrate = KiloToBits(m_audioBitrate);
    audio->m_audioSampleRate = m_sampleRate;
    audio->m_audioChannels = m_audioChannels == mono1 ? 1 : 2;
    for (const QString& line : m_options) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        // a line without a name is no option; it would add a nameless line
        if (eq <= 0)
            continue;
        options->SetCodecOption(line.left(eq), line.mid(eq + 1));
    }
    return true;
}

void TAVCustomAudioProfile::SaveToIni(TIniFile& ini, int index) const
{
    TAVProfile::SaveToIni(ini, index);
    ini.WriteBool(kProfileSection, Key("IsVideo", index), false);
    ini.WriteInteger(kProfileSection, Key("SampleRate", index), m_sampleRate);
    ini.WriteInteger(kProfileSection, Key("AudioEncoder", index), m_audioEncoder);
    ini.WriteInteger(kProfileSection, Key("AudioChannels", index), m_audioChannels);
    ini.WriteFloat(kProfileSection, Key("AudioBitrate", index), m_audioBitrate);
    ini.WriteInteger(kProfileSection, Key("Format", index), m_format);
    ini.WriteString(kProfileSection, Key("Options", index), ToCommaText(m_options));
}

void TAVCustomAudioProfile::LoadFromIni(const TIniFile& ini, int index)
{
    TAVProfile::LoadFromIni(ini, index);
    m_sampleRate = ini.ReadInteger(kProfileSection, Key("SampleRate", index), m_sampleRate);
    m_audioEncoder = ReadOrdinal(ini, "AudioEncoder", index, m_audioEncoder);
    m_audioChannels = ReadOrdinal(ini, "AudioChannels", index, m_audioChannels);
    m_audioBitrate = ini.ReadFloat(kProfileSection, Key("AudioBitrate", index), m_audioBitrate);
    m_format = ReadOrdinal(ini, "Format", index, m_format);
    const QString optionsKey = Key("Options", index);
    if (ini.ValueExists(kProfileSection, optionsKey))
        m_options = FromCommaText(ini.ReadString(kProfileSection, optionsKey, QString()));
}

// ---- TAVCustomVideoProfile

TAVCustomVideoProfile::TAVFrameSize TAVCustomVideoProfile::FrameSize() const
{
    return FrameSizeOf(m_frameWidth, m_frameHeight);
}

double TAVCustomVideoProfile::FrameRateValue() const
{
    return m_frameRate < kFrameRateCount ? kFrameRates[m_frameRate].shown : 0.0;
}

void TAVCustomVideoProfile::CheckEnumerations(const TAVConvertOptions* options) const
{
    TAVCustomAudioProfile::CheckEnumerations(options);
    if (m_videoEncoder >= kVideoCodecCount)
        ProfileAssertionFailure(__LINE__);
    if (m_frameRate >= kFrameRateCount)
        ProfileAssertionFailure(__LINE__);
}

void TAVCustomVideoProfile::ApplyVideoEncoder(TAVConvertOptions* options) const
{
    const VideoCodec& codec = kVideoCodecs[m_videoEncoder];
    options->VideoOptions()->m_encoderVideoCodecName = QString::fromLatin1(codec.name);
    if (codec.singleThread)
        options->m_threadCount = 1;
    if (m_videoEncoder == H264) {
        // the preset runs after the profile's own options and wins over them
        TAVX264Profile preset;
        preset.setPreset(TAVX264Profile::basic);
        preset.Apply(options);
        options->SetCodecOption(QStringLiteral("mbd"), QStringLiteral("rd"));
        options->SetCodecOption(QStringLiteral("level"), QStringLiteral("41"));
    }
}

bool TAVCustomVideoProfile::Apply(TAVConvertOptions* options)
{
    const bool result = TAVCustomAudioProfile::Apply(options); // checks every enumeration first
    TVideoOptions* video = options->VideoOptions();
    video->m_videoDisable = false;
    ApplyVideoEncoder(options);
    if (m_frameWidth > 0)
        video->m_frameWidth = m_frameWidth;
    if (m_frameHeight > 0)
        video->m_frameHeight = m_frameHeight;
    video->m_bitrate = KiloToBits(m_videoBitrate);
    if (m_frameAspectRatio == AR4_3)
        video->m_frameAspectRatio = 4.0f / 3.0f;
    video->SetPass(m_pass);
    if (m_frameRate != rOriginal) {
        video->FrameRate()->setNum(kFrameRates[m_frameRate].num);
        video->FrameRate()->setDen(kFrameRates[m_frameRate].den);
    }
    return result;
}

void TAVCustomVideoProfile::SaveToIni(TIniFile& ini, int index) const
{
    TAVCustomAudioProfile::SaveToIni(ini, index);
    ini.WriteBool(kProfileSection, Key("IsVideo", index), true);
    ini.WriteInteger(kProfileSection, Key("FrameWidth", index), m_frameWidth);
    ini.WriteInteger(kProfileSection, Key("FrameHeight", index), m_frameHeight);
    ini.WriteInteger(kProfileSection, Key("VideoEncoder", index), m_videoEncoder);
    ini.WriteInteger(kProfileSection, Key("FrameRate", index), m_frameRate);
    ini.WriteInteger(kProfileSection, Key("VideoBitrate", index), m_videoBitrate);
    // kept so that a forced 4:3 display aspect survives a save and restart
    ini.WriteInteger(kProfileSection, Key("FrameAspectRatio", index), m_frameAspectRatio);
}

void TAVCustomVideoProfile::LoadFromIni(const TIniFile& ini, int index)
{
    TAVCustomAudioProfile::LoadFromIni(ini, index);
    m_frameWidth = ini.ReadInteger(kProfileSection, Key("FrameWidth", index), m_frameWidth);
    m_frameHeight = ini.ReadInteger(kProfileSection, Key("FrameHeight", index), m_frameHeight);
    m_videoEncoder = ReadOrdinal(ini, "VideoEncoder", index, m_videoEncoder);
    m_frameRate = ReadOrdinal(ini, "FrameRate", index, m_frameRate);
    m_videoBitrate = ini.ReadInteger(kProfileSection, Key("VideoBitrate", index), m_videoBitrate);
    m_frameAspectRatio = ReadOrdinal(ini, "FrameAspectRatio", index, m_frameAspectRatio);
}

} // namespace korvane
