// Apply of the fixed targets: VCD, SVCD, DVD, DV, DV50, image sequences and
// the H.264 encoder presets.
#include "profiles/AVProfile.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace korvane {

namespace {

void SetEncoders(TAVConvertOptions* options, const char* video, const char* audio, const char* format)
{
    options->VideoOptions()->m_encoderVideoCodecName = QString::fromLatin1(video);
    options->AudioOptions()->m_encoderAudioCodecName = QString::fromLatin1(audio);
    options->m_outputFormat = QString::fromLatin1(format);
}

void SetBitrates(TAVConvertOptions* options, int video, int audio)
{
    options->VideoOptions()->m_bitrate = video;
    options->AudioOptions()->m_bitrate = audio;
}

void SetCodecOptions(TAVConvertOptions* options, std::initializer_list<std::pair<const char*, const char*>> list)
{
    for (const auto& [name, value] : list)
        options->SetCodecOption(QString::fromLatin1(name), QString::fromLatin1(value));
}

struct Rate
{
    int num;
    int den;
};

// Indexed by TAVTarget.
constexpr Rate kStandardRates[] = {{25, 1}, {30000, 1001}, {24000, 1001}};
constexpr int kStandardCount = sizeof(kStandardRates) / sizeof(kStandardRates[0]);

} // namespace

// ---- TAVTargetProfile

void TAVTargetProfile::CheckTarget() const
{
    if (m_target >= kStandardCount)
        ProfileAssertionFailure(__LINE__);
}

void TAVTargetProfile::ApplyFrameSizeAndGop(TAVConvertOptions* options, int width, int palHeight,
                                            int ntscHeight) const
{
    TVideoOptions* video = options->VideoOptions();
    video->m_frameWidth = width;
    // a plain append: a "g" line set earlier stays and this one follows it
    if (m_target == pal) {
        video->m_frameHeight = palHeight;
        options->m_codecOptions.append(QStringLiteral("g=15"));
    } else {
        video->m_frameHeight = ntscHeight;
        options->m_codecOptions.append(QStringLiteral("g=18"));
    }
}

void TAVTargetProfile::ApplyStandardFrameRate(TAVConvertOptions* options) const
{
    CheckTarget();
    const Rate rate = kStandardRates[m_target];
    options->VideoOptions()->FrameRate()->setNum(rate.num);
    options->VideoOptions()->FrameRate()->setDen(rate.den);
}

// ---- VCD

TAVVcdProfile::TAVVcdProfile(QObject* owner) : TAVTargetProfile(owner)
{
    SetDescription(QStringLiteral("VCD"));
    SetExtension(QStringLiteral(".mpg"));
}

bool TAVVcdProfile::Apply(TAVConvertOptions* options)
{
    CheckTarget();
    SetEncoders(options, "mpeg1video", "mp2", "vcd");
    ApplyFrameSizeAndGop(options, 352, 288, 240);
    SetBitrates(options, 1150000, 224000);
    SetCodecOptions(options, {{"maxrate", "1150000"},
                              {"minrate", "1150000"},
                              {"bufsize", "327680"},
                              {"packetsize", "2324"},
                              {"muxrate", "1411200"}});
    options->AudioOptions()->m_audioSampleRate = 44100;
    options->AudioOptions()->m_audioChannels = 2;
    options->MuxerOptions()->m_muxPreload = 0.44f;
    ApplyStandardFrameRate(options);
    return true;
}

// ---- SVCD

TAVSVcdProfile::TAVSVcdProfile(QObject* owner) : TAVTargetProfile(owner)
{
    SetDescription(QStringLiteral("SVCD"));
    SetExtension(QStringLiteral(".mpg"));
}

bool TAVSVcdProfile::Apply(TAVConvertOptions* options)
{
    CheckTarget();
    SetEncoders(options, "mpeg2video", "mp2", "svcd");
    ApplyFrameSizeAndGop(options, 480, 576, 480);
    SetBitrates(options, 2040000, 224000);
    SetCodecOptions(options, {{"maxrate", "2516000"},
                              {"minrate", "0"},
                              {"bufsize", "1835008"},
                              {"flags", "+scan_offset"},
                              {"packetsize", "2324"}});
    options->AudioOptions()->m_audioSampleRate = 44100;
    ApplyStandardFrameRate(options);
    return true;
}

// ---- DVD

TAVDvdProfile::TAVDvdProfile(QObject* owner) : TAVTargetProfile(owner)
{
    SetDescription(QStringLiteral("DVD"));
    SetExtension(QStringLiteral(".vob"));
}

bool TAVDvdProfile::Apply(TAVConvertOptions* options)
{
    CheckTarget();
    SetEncoders(options, "mpeg2video", "ac3", "dvd");
    ApplyFrameSizeAndGop(options, 720, 576, 480);
    SetBitrates(options, 6000000, 448000);
    SetCodecOptions(options, {{"maxrate", "9000000"},
                              {"minrate", "0"},
                              {"bufsize", "1835008"},
                              {"packetsize", "2048"},
                              {"muxrate", "10080000"}});
    options->AudioOptions()->m_audioSampleRate = 48000;
    ApplyStandardFrameRate(options);
    return true;
}

// ---- DV

TAVDvProfile::TAVDvProfile(QObject* owner) : TAVTargetProfile(owner)
{
    SetDescription(QStringLiteral("DV"));
    SetExtension(QStringLiteral(".dv"));
}

bool TAVDvProfile::Apply(TAVConvertOptions* options)
{
    CheckTarget();
    options->m_outputFormat = QStringLiteral("dv");
    TVideoOptions* video = options->VideoOptions();
    video->m_frameWidth = 720;
    if (Target() == pal) {
        video->m_frameHeight = 576;
        video->PixelFormat = AV_PIX_FMT_YUV420P;
    } else {
        video->m_frameHeight = 480;
        video->PixelFormat = AV_PIX_FMT_YUV411P;
    }
    options->AudioOptions()->m_audioSampleRate = 48000;
    options->AudioOptions()->m_audioChannels = 2;
    ApplyStandardFrameRate(options);
    return true;
}

// ---- DV50

TAVDv50Profile::TAVDv50Profile(QObject* owner) : TAVTargetProfile(owner)
{
    SetDescription(QStringLiteral("DV50"));
    SetExtension(QStringLiteral(".dv"));
}

bool TAVDv50Profile::Apply(TAVConvertOptions* options)
{
    CheckTarget();
    options->VideoOptions()->PixelFormat = AV_PIX_FMT_YUV422P;
    ApplyStandardFrameRate(options);
    return true;
}

// ---- Image sequences

TAVImageProfile::TAVImageProfile(QObject* owner) : TAVProfile(owner)
{
    SetDescription(QStringLiteral("Image Sequence Profile"));
}

bool TAVImageProfile::Apply(TAVConvertOptions* options)
{
    options->m_threadCount = 1;
    return true;
}

// ---- H.264 presets

namespace {

struct NamedValue
{
    const char* name;
    const char* value;
};

struct X264Preset
{
    const char* partitions;
    const char* meMethod;
    const char* subq;
    const char* meRange;
    const char* bStrategy;
    NamedValue next[4]; // unused entries have no name
    const char* flags2;
    const char* wpredp;
};

// Indexed by TPreset.
const X264Preset kX264Presets[] = {
    {"+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "7", "16", "1",
     {{"bf", "3"}, {"refs", "3"}, {"directpred", "1"}, {"trellis", "1"}},
     "+mixed_refs+wpred+dct8x8+fastpskip+mbtree", "2"},
    {"-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8", "dia", "2", "16", "1",
     {{"bf", "3"}, {"refs", "1"}, {"directpred", "3"}, {"trellis", "0"}},
     "-bpyramid-wpred-mixed_refs-dct8x8+fastpskip+mbtree", "2"},
    {"+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "6", "16", "2",
     {{"bf", "3"}, {"refs", "1"}, {"directpred", "3"}, {"trellis", "0"}},
     "+wpred+dct8x8+fastpskip+mbtree", "2"},
    {"+parti8x8+parti4x4+partp8x8+partb8x8", "hex", "6", "16", "1",
     {{"bf", "3"}, {"refs", "2"}, {"directpred", "3"}, {"trellis", "0"}},
     "+wpred+dct8x8+fastpskip+mbtree", "2"},
    {"+parti8x8+parti4x4+partp8x8+partb8x8", "umh", "8", "16", "2",
     {{"bf", "3"}, {"refs", "4"}, {"directpred", "3"}, {"trellis", "1"}},
     "+wpred+mixed_refs+dct8x8+fastpskip+mbtree", "2"},
    {"+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8", "tesa", "10", "24", "2",
     {{"bf", "3"}, {"refs", "16"}, {"directpred", "3"}, {"trellis", "2"}},
     "+wpred+mixed_refs+dct8x8-fastpskip+mbtree", "2"},
    {"-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8", "hex", "3", "16", "1",
     {{"directpred", "1"}, {"cqp", "0"}},
     "+fastpskip+mbtree", "0"},
    {"-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "hex", "5", "16", "1",
     {{"directpred", "1"}, {"cqp", "0"}},
     "+fastpskip+mbtree", "2"},
    {"+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "umh", "6", "16", "1",
     {{"refs", "2"}, {"directpred", "1"}, {"cqp", "0"}},
     "+dct8x8+fastpskip+mbtree", "2"},
    {"+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "umh", "8", "16", "1",
     {{"refs", "4"}, {"directpred", "1"}, {"cqp", "0"}},
     "+mixed_refs+dct8x8+fastpskip+mbtree", "2"},
    {"+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8", "esa", "8", "16", "1",
     {{"refs", "16"}, {"directpred", "1"}, {"cqp", "0"}},
     "+mixed_refs+dct8x8+fastpskip+mbtree", "2"},
};
constexpr int kX264PresetCount = sizeof(kX264Presets) / sizeof(kX264Presets[0]);
static_assert(kX264PresetCount == TAVX264Profile::LosslessMax + 1);

} // namespace

TAVX264Profile::TAVX264Profile(QObject* owner) : TAVProfile(owner)
{
    SetDescription(QStringLiteral("H264 Profile"));
    SetExtension(QStringLiteral(".mp4"));
}

bool TAVX264Profile::Apply(TAVConvertOptions* options)
{
    if (m_preset >= kX264PresetCount)
        return true;
    const X264Preset& p = kX264Presets[m_preset];
    SetCodecOptions(options, {{"coder", "1"},
                              {"flags", "+loop"},
                              {"cmp", "+chroma"},
                              {"partitions", p.partitions},
                              {"me_method", p.meMethod},
                              {"subq", p.subq},
                              {"me_range", p.meRange},
                              {"g", "250"},
                              {"keyint_min", "25"},
                              {"sc_threshold", "40"},
                              {"i_qfactor", "0.71"},
                              {"b_strategy", p.bStrategy},
                              {"qcomp", "0.6"},
                              {"qmin", "10"},
                              {"qmax", "51"},
                              {"qdiff", "4"}});
    for (const NamedValue& option : p.next)
        if (option.name)
            options->SetCodecOption(QString::fromLatin1(option.name), QString::fromLatin1(option.value));
    SetCodecOptions(options, {{"flags2", p.flags2}, {"wpredp", p.wpredp}});
    return true;
}

} // namespace korvane
