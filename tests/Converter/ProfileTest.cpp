// What each profile writes into the options tree, the frame-size lookup,
// refusal of out-of-range enumerations, the profile list and registration.
#include "profiles/AVProfile.h"
#include "options/Messages.h"

#include <QMetaProperty>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <memory>

using namespace korvane;
using A = TAVCustomAudioProfile;
using V = TAVCustomVideoProfile;

namespace {

// Every published property of the tree (sub-objects by dotted path) plus the
// unpublished pixel format: two snapshots compare equal when Apply changed
// nothing else.
void Collect(const QObject* object, const QString& prefix, QVariantMap& out)
{
    const QMetaObject* meta = object->metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
        const QMetaProperty prop = meta->property(i);
        const QVariant value = prop.read(object);
        const QString name = prefix + QString::fromLatin1(prop.name());
        if (auto* child = value.value<QObject*>())
            Collect(child, name + QLatin1Char('.'), out);
        else
            out.insert(name, value);
    }
}

QVariantMap Snapshot(const TAVConvertOptions& options)
{
    QVariantMap map;
    Collect(&options, QString(), map);
    map.insert(QStringLiteral("PixelFormat"), options.VideoOptions()->PixelFormat);
    return map;
}

std::unique_ptr<V> H264Profile()
{
    auto p = std::make_unique<V>();
    p->SetAudioEncoder(A::AAC);
    p->SetAudioChannels(A::stereo2);
    p->SetSampleRate(48000);
    p->SetAudioBitrate(128);
    p->SetVideoEncoder(V::H264);
    p->SetFrameWidth(640);
    p->SetFrameHeight(480);
    p->SetFrameRate(V::r2997);
    p->SetVideoBitrate(1500);
    return p;
}

const QStringList kBasicPreset = {
    "coder=1", "flags=+loop", "cmp=+chroma", "partitions=+parti8x8+parti4x4+partp8x8+partb8x8",
    "me_method=hex", "subq=7", "me_range=16", "g=250", "keyint_min=25", "sc_threshold=40",
    "i_qfactor=0.71", "b_strategy=1", "qcomp=0.6", "qmin=10", "qmax=51", "qdiff=4",
    "bf=3", "refs=3", "directpred=1", "trellis=1",
    "flags2=+mixed_refs+wpred+dct8x8+fastpskip+mbtree", "wpredp=2"};

// Records error boxes instead of printing them.
class ErrorRecorder
{
public:
    ErrorRecorder()
    {
        m_old = MessageService::Install([this](MessageKind, const QString&, const QString& text) {
            errors.append(text);
            return true;
        });
    }
    ~ErrorRecorder() { MessageService::Install(m_old); }
    QStringList errors;

private:
    MessageService::Handler m_old;
};

} // namespace

// ---- custom video and audio profiles

TEST(ProfileApply, H264PresetRunsAfterTheProfileOptions)
{
    auto profile = H264Profile();
    profile->SetOptions({"qmax=5", "qmin=3", "maxrate=1000000"});
    TAVConvertOptions options;
    ASSERT_TRUE(profile->Apply(&options));
    const QStringList& lines = options.m_codecOptions;
    EXPECT_TRUE(lines.contains("qmax=51"));
    EXPECT_FALSE(lines.contains("qmax=5"));
    EXPECT_TRUE(lines.contains("qmin=10"));
    EXPECT_TRUE(lines.contains("maxrate=1000000")); // not touched by the preset
    EXPECT_EQ(lines.filter(QRegularExpression("^qmax=")).size(), 1);
}

TEST(ProfileApply, H264YieldsTheFullBasicPresetThenMbdAndLevel)
{
    auto profile = H264Profile();
    profile->SetPass(1);
    TAVConvertOptions options;
    ASSERT_TRUE(profile->Apply(&options));
    QStringList expected = kBasicPreset;
    expected << "mbd=rd" << "level=41";
    EXPECT_EQ(options.m_codecOptions, expected);
    EXPECT_EQ(options.VideoOptions()->m_encoderVideoCodecName, "libx264");
    EXPECT_EQ(options.VideoOptions()->Pass(), 1);
}

TEST(ProfileApply, CustomVideoSetsEveryVideoSetting)
{
    auto profile = H264Profile();
    profile->SetFrameAspectRatio(V::AR4_3);
    profile->SetFormat(A::F_MP4);
    TAVConvertOptions options;
    options.VideoOptions()->m_videoDisable = true;
    options.m_threadCount = 4;
    profile->Apply(&options);
    const TVideoOptions* video = options.VideoOptions();
    EXPECT_FALSE(video->m_videoDisable);
    EXPECT_TRUE(options.SubtitleOptions()->m_subtitleDisable);
    EXPECT_EQ(video->m_frameWidth, 640);
    EXPECT_EQ(video->m_frameHeight, 480);
    EXPECT_EQ(video->m_bitrate, 1500000);
    EXPECT_EQ(video->m_frameAspectRatio, 1.3333334f);
    EXPECT_EQ(video->FrameRate()->num(), 30000);
    EXPECT_EQ(video->FrameRate()->den(), 1001);
    EXPECT_EQ(options.m_threadCount, 4); // libx264 threads
    EXPECT_EQ(options.m_outputFormat, "mp4");
    EXPECT_EQ(options.AudioOptions()->m_encoderAudioCodecName, "libfaac");
    EXPECT_EQ(options.AudioOptions()->m_audioSampleRate, 48000);
    EXPECT_EQ(options.AudioOptions()->m_audioChannels, 2);
}

TEST(ProfileApply, SingleThreadEncodersForceOneThread)
{
    const struct
    {
        V::TCustomVideoEncoder encoder;
        const char* name;
        int threads;
    } cases[] = {{V::H263, "h263", 1},          {V::MPEG4, "mpeg4", 6},     {V::WMV2, "wmv2", 1},
                 {V::MPEG2VIDEO, "mpeg2video", 6}, {V::MSMPEGV3, "msmpeg4", 6}, {V::RV20, "rv20", 1},
                 {V::XVID, "libxvid", 6},       {V::FLV, "flv", 1}};
    for (const auto& c : cases) {
        V profile;
        profile.SetVideoEncoder(c.encoder);
        TAVConvertOptions options;
        options.m_threadCount = 6;
        profile.Apply(&options);
        EXPECT_EQ(options.VideoOptions()->m_encoderVideoCodecName, c.name);
        EXPECT_EQ(options.m_threadCount, c.threads) << c.name;
        EXPECT_TRUE(options.m_codecOptions.isEmpty()) << c.name; // only H.264 has a preset
    }
}

TEST(ProfileApply, AudioBitrateIsRoundedToBits)
{
    A profile;
    TAVConvertOptions options;
    profile.SetAudioBitrate(12.2);
    profile.Apply(&options);
    EXPECT_EQ(options.AudioOptions()->m_bitrate, 12200);
    profile.SetAudioBitrate(128.0);
    profile.Apply(&options);
    EXPECT_EQ(options.AudioOptions()->m_bitrate, 128000);
    profile.SetAudioBitrate(1e12); // hand-edited store: clamped, no overflow
    profile.Apply(&options);
    EXPECT_EQ(options.AudioOptions()->m_bitrate, INT_MAX);
}

TEST(ProfileApply, AudioEncodersFormatsAndChannels)
{
    A profile;
    profile.SetAudioEncoder(A::AMR_NB);
    profile.SetFormat(A::F_3GP2);
    profile.SetAudioChannels(A::mono1);
    profile.SetSampleRate(0);
    TAVConvertOptions options;
    options.AudioOptions()->m_audioSampleRate = 44100;
    profile.Apply(&options);
    EXPECT_EQ(options.AudioOptions()->m_encoderAudioCodecName, "libopencore_amrnb");
    EXPECT_EQ(options.m_outputFormat, "3g2");
    EXPECT_EQ(options.AudioOptions()->m_audioChannels, 1);
    EXPECT_EQ(options.AudioOptions()->m_audioSampleRate, 0); // 0 is passed on
    EXPECT_TRUE(options.VideoOptions()->m_videoDisable);

    profile.SetAudioEncoder(A::RA1);
    profile.SetFormat(A::F_NONE);
    options.m_outputFormat = "keep";
    profile.Apply(&options);
    EXPECT_EQ(options.AudioOptions()->m_encoderAudioCodecName, "real_144");
    EXPECT_EQ(options.m_outputFormat, "keep");
}

TEST(ProfileApply, OptionLinesGoThroughSetCodecOption)
{
    A profile;
    profile.SetOptions({"maxrate=1000000", "no-equals-sign", "=nameless", "vf=scale=1:2"});
    TAVConvertOptions options;
    options.m_codecOptions = QStringList{"maxrate=1", "g=12"};
    profile.Apply(&options);
    EXPECT_EQ(options.m_codecOptions, (QStringList{"maxrate=1000000", "g=12", "vf=scale=1:2"}));
}

TEST(ProfileApply, AudioStreamCopyStopsAfterDisablingVideo)
{
    A profile;
    profile.SetAudioEncoder(A::MP3);
    profile.SetFormat(A::F_AVI);
    profile.SetAudioBitrate(192);
    profile.SetOptions({"g=300"});
    TAVConvertOptions options;
    options.AudioOptions()->m_audioStreamCopy = true;
    QVariantMap expected = Snapshot(options);
    expected["VideoOptions.VideoDisable"] = true;
    expected["SubtitleOptions.SubtitleDisable"] = true;
    EXPECT_TRUE(profile.Apply(&options));
    EXPECT_EQ(Snapshot(options), expected);
}

TEST(ProfileApply, VideoProfileUnderAudioStreamCopyStillSetsVideo)
{
    V profile;
    profile.SetVideoEncoder(V::MPEG4);
    profile.SetFormat(A::F_MP4);
    profile.SetOptions({"g=300"});
    profile.SetFrameWidth(320);
    profile.SetFrameHeight(240);
    profile.SetVideoBitrate(768);
    profile.SetFrameRate(V::r25);
    TAVConvertOptions options;
    options.AudioOptions()->m_audioStreamCopy = true;
    options.VideoOptions()->FrameRate()->setNum(12);
    profile.Apply(&options);
    EXPECT_FALSE(options.VideoOptions()->m_videoDisable);
    EXPECT_EQ(options.VideoOptions()->m_encoderVideoCodecName, "mpeg4");
    EXPECT_EQ(options.VideoOptions()->m_frameWidth, 320);
    EXPECT_EQ(options.VideoOptions()->m_bitrate, 768000);
    EXPECT_EQ(options.VideoOptions()->FrameRate()->num(), 25);
    EXPECT_TRUE(options.m_outputFormat.isEmpty());
    EXPECT_TRUE(options.m_codecOptions.isEmpty());
    EXPECT_TRUE(options.AudioOptions()->m_encoderAudioCodecName.isEmpty());
}

TEST(ProfileApply, ZeroSizeAndOriginalRateKeepTheConverterValues)
{
    V profile;
    profile.SetFrameWidth(0);
    profile.SetFrameHeight(-1);
    profile.SetFrameRate(V::rOriginal);
    TAVConvertOptions options;
    options.VideoOptions()->m_frameWidth = 1280;
    options.VideoOptions()->m_frameHeight = 720;
    options.VideoOptions()->FrameRate()->setNum(50);
    profile.Apply(&options);
    EXPECT_EQ(options.VideoOptions()->m_frameWidth, 1280);
    EXPECT_EQ(options.VideoOptions()->m_frameHeight, 720);
    EXPECT_EQ(options.VideoOptions()->FrameRate()->num(), 50);
    EXPECT_EQ(options.VideoOptions()->m_frameAspectRatio, 0.0f);

    profile.SetFrameHeight(144); // each side alone
    profile.Apply(&options);
    EXPECT_EQ(options.VideoOptions()->m_frameWidth, 1280);
    EXPECT_EQ(options.VideoOptions()->m_frameHeight, 144);
}

// ---- fixed targets

TEST(ProfileTargets, VcdPalAppendsGopBesideAnExistingOne)
{
    TAVVcdProfile profile;
    TAVConvertOptions options;
    options.m_codecOptions = QStringList{"g=300", "maxrate=1"};
    ASSERT_TRUE(profile.Apply(&options));
    EXPECT_EQ(options.m_codecOptions,
              (QStringList{"g=300", "maxrate=1150000", "g=15", "minrate=1150000", "bufsize=327680",
                           "packetsize=2324", "muxrate=1411200"}));
    EXPECT_EQ(options.VideoOptions()->m_encoderVideoCodecName, "mpeg1video");
    EXPECT_EQ(options.AudioOptions()->m_encoderAudioCodecName, "mp2");
    EXPECT_EQ(options.m_outputFormat, "vcd");
    EXPECT_EQ(options.VideoOptions()->m_frameWidth, 352);
    EXPECT_EQ(options.VideoOptions()->m_frameHeight, 288);
    EXPECT_EQ(options.VideoOptions()->m_bitrate, 1150000);
    EXPECT_EQ(options.AudioOptions()->m_bitrate, 224000);
    EXPECT_EQ(options.AudioOptions()->m_audioSampleRate, 44100);
    EXPECT_EQ(options.AudioOptions()->m_audioChannels, 2);
    EXPECT_EQ(options.MuxerOptions()->m_muxPreload, 0.44f);
    EXPECT_EQ(options.VideoOptions()->FrameRate()->num(), 25);
    EXPECT_EQ(options.VideoOptions()->FrameRate()->den(), 1);
}

TEST(ProfileTargets, NtscAndFilmUseTheirHeightGopAndRate)
{
    TAVVcdProfile vcd;
    vcd.SetTarget(TAVTargetProfile::ntsc);
    TAVConvertOptions options;
    vcd.Apply(&options);
    EXPECT_EQ(options.VideoOptions()->m_frameHeight, 240);
    EXPECT_TRUE(options.m_codecOptions.contains("g=18"));
    EXPECT_EQ(options.VideoOptions()->FrameRate()->num(), 30000);
    EXPECT_EQ(options.VideoOptions()->FrameRate()->den(), 1001);

    TAVDvdProfile dvd;
    dvd.SetTarget(TAVTargetProfile::film);
    TAVConvertOptions dvdOptions;
    dvd.Apply(&dvdOptions);
    EXPECT_EQ(dvdOptions.VideoOptions()->m_frameWidth, 720);
    EXPECT_EQ(dvdOptions.VideoOptions()->m_frameHeight, 480);
    EXPECT_EQ(dvdOptions.VideoOptions()->FrameRate()->num(), 24000);
    EXPECT_EQ(dvdOptions.AudioOptions()->m_encoderAudioCodecName, "ac3");
    EXPECT_EQ(dvdOptions.m_outputFormat, "dvd");
    EXPECT_EQ(dvdOptions.VideoOptions()->m_bitrate, 6000000);
    EXPECT_EQ(dvdOptions.AudioOptions()->m_audioSampleRate, 48000);
    EXPECT_TRUE(dvdOptions.m_codecOptions.contains("muxrate=10080000"));
}

TEST(ProfileTargets, SvcdSetsNoChannels)
{
    TAVSVcdProfile profile;
    TAVConvertOptions options;
    options.AudioOptions()->m_audioChannels = 6;
    profile.Apply(&options);
    EXPECT_EQ(options.AudioOptions()->m_audioChannels, 6);
    EXPECT_EQ(options.VideoOptions()->m_frameWidth, 480);
    EXPECT_EQ(options.VideoOptions()->m_frameHeight, 576);
    EXPECT_TRUE(options.m_codecOptions.contains("flags=+scan_offset"));
    EXPECT_TRUE(options.m_codecOptions.contains("maxrate=2516000"));
    EXPECT_EQ(options.m_outputFormat, "svcd");
}

TEST(ProfileTargets, DvPixelFormatsFollowTheStandard)
{
    TAVDvProfile dv;
    TAVConvertOptions pal;
    dv.Apply(&pal);
    EXPECT_EQ(pal.VideoOptions()->PixelFormat, 0);
    EXPECT_EQ(pal.VideoOptions()->m_frameHeight, 576);
    EXPECT_EQ(pal.m_outputFormat, "dv");
    EXPECT_TRUE(pal.VideoOptions()->m_encoderVideoCodecName.isEmpty());
    dv.SetTarget(TAVTargetProfile::ntsc);
    TAVConvertOptions ntsc;
    dv.Apply(&ntsc);
    EXPECT_EQ(ntsc.VideoOptions()->PixelFormat, 7);
    EXPECT_EQ(ntsc.VideoOptions()->m_frameHeight, 480);
}

TEST(ProfileTargets, Dv50LeavesContainerSizeAndAudio)
{
    TAVDv50Profile profile;
    TAVConvertOptions options;
    options.m_outputFormat = "avi";
    options.VideoOptions()->m_frameWidth = 100;
    options.AudioOptions()->m_audioSampleRate = 22050;
    QVariantMap expected = Snapshot(options);
    expected["PixelFormat"] = 4;
    profile.Apply(&options);
    EXPECT_EQ(Snapshot(options), expected); // 25/1 is also the rate's default
}

TEST(ProfileTargets, ImageSetsOnlyOneThread)
{
    {
        TAVConvertOptions probe;
        const QVariantMap map = Snapshot(probe);
        EXPECT_TRUE(map.contains("AudioOptions.AudioChannels")); // sub-objects are walked
        EXPECT_TRUE(map.contains("VideoOptions.FrameRate.num"));
    }
    TAVImageProfile profile;
    TAVConvertOptions options;
    options.m_threadCount = 8;
    QVariantMap expected = Snapshot(options);
    expected["ThreadCount"] = 1;
    profile.Apply(&options);
    EXPECT_EQ(Snapshot(options), expected);
}

TEST(ProfileTargets, X264PresetRows)
{
    TAVX264Profile profile;
    profile.setPreset(TAVX264Profile::LosslessFast);
    TAVConvertOptions options;
    profile.Apply(&options);
    const QStringList& lines = options.m_codecOptions;
    EXPECT_EQ(lines.mid(16), (QStringList{"directpred=1", "cqp=0", "flags2=+fastpskip+mbtree", "wpredp=0"}));
    EXPECT_TRUE(lines.contains("partitions=-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8"));

    profile.setPreset(TAVX264Profile::Best);
    TAVConvertOptions best;
    profile.Apply(&best);
    EXPECT_TRUE(best.m_codecOptions.contains("me_method=tesa"));
    EXPECT_TRUE(best.m_codecOptions.contains("me_range=24"));
    EXPECT_TRUE(best.m_codecOptions.contains("refs=16"));
    EXPECT_EQ(best.m_codecOptions.size(), 22);
}

TEST(ProfileTargets, X264PresetBeyondTheTableSetsNothing)
{
    TAVX264Profile profile;
    profile.setPreset(static_cast<TAVX264Profile::TPreset>(11));
    TAVConvertOptions options;
    options.m_codecOptions = QStringList{"qmax=5"};
    EXPECT_TRUE(profile.Apply(&options));
    EXPECT_EQ(options.m_codecOptions, QStringList{"qmax=5"});
}

// ---- values outside their enumeration (hand-edited store)

TEST(ProfileEnumerations, OutOfRangeValuesRaiseBeforeAnyWrite)
{
    const auto expectRefused = [](TAVProfile& profile) {
        TAVConvertOptions options;
        const QVariantMap before = Snapshot(options);
        try {
            profile.Apply(&options);
            ADD_FAILURE() << "no error";
        } catch (const EEngineError& e) {
            EXPECT_TRUE(QString::fromStdString(e.what()).startsWith("Assertion failure (Converter/AVProfile"))
                << e.what();
        }
        EXPECT_EQ(Snapshot(options), before);
    };
    A audio;
    audio.SetAudioEncoder(static_cast<A::TCustomAudioEncoder>(8));
    expectRefused(audio);
    audio.SetAudioEncoder(A::AAC);
    audio.SetFormat(static_cast<A::TCustomAVFormat>(200));
    expectRefused(audio);
    audio.SetFormat(A::F_NONE);
    audio.SetAudioChannels(static_cast<A::TCustomAudioChannels>(2));
    expectRefused(audio);

    V video;
    video.SetVideoEncoder(static_cast<V::TCustomVideoEncoder>(9));
    expectRefused(video);
    video.SetVideoEncoder(V::H263);
    video.SetFrameRate(static_cast<V::TCustomFrameRate>(255));
    expectRefused(video);

    TAVDvdProfile dvd;
    dvd.SetTarget(static_cast<TAVTargetProfile::TAVTarget>(3));
    expectRefused(dvd);
}

TEST(ProfileEnumerations, UnusedAudioValuesAreNotCheckedUnderStreamCopy)
{
    A profile;
    profile.SetAudioEncoder(static_cast<A::TCustomAudioEncoder>(44));
    TAVConvertOptions options;
    options.AudioOptions()->m_audioStreamCopy = true;
    EXPECT_NO_THROW(profile.Apply(&options));
    EXPECT_TRUE(options.VideoOptions()->m_videoDisable);
}

TEST(ProfileEnumerations, FrameRateValueAndNames)
{
    V profile;
    profile.SetFrameRate(V::r2997);
    EXPECT_DOUBLE_EQ(profile.FrameRateValue(), 29.97);
    EXPECT_EQ(FrameRateNames().value(profile.FrameRate()), "29.97");
    profile.SetFrameRate(V::rOriginal);
    EXPECT_EQ(profile.FrameRateValue(), 0.0);
    profile.SetFrameRate(static_cast<V::TCustomFrameRate>(8));
    EXPECT_EQ(profile.FrameRateValue(), 0.0);
    EXPECT_TRUE(FrameRateNames().value(profile.FrameRate()).isEmpty());
    EXPECT_EQ(FormatNames().size(), 17);
    EXPECT_EQ(FormatNames().value(A::F_3GP2), "3GP2");
    EXPECT_EQ(VideoEncoderNames().value(V::MSMPEGV3), "MSMPEGV3");
    EXPECT_EQ(AudioEncoderNames().value(A::PCM_S16LE), "PCM_S16LE");
    EXPECT_EQ(ChannelNames(), (QStringList{"mono", "stereo"}));
}

TEST(ProfileApply, PassOutsideTheConverterRangeIsRejectedByTheConverter)
{
    ErrorRecorder recorder;
    V profile;
    profile.SetPass(3);
    TAVConvertOptions options;
    profile.Apply(&options);
    EXPECT_EQ(options.VideoOptions()->Pass(), 0);
    EXPECT_EQ(recorder.errors.size(), 1);
}

// ---- frame sizes

TEST(ProfileFrameSize, FirstMatchingRowWins)
{
    V profile;
    profile.SetFrameWidth(852);
    profile.SetFrameHeight(480);
    EXPECT_EQ(profile.FrameSize(), V::fsWvga);
    profile.SetFrameWidth(1366);
    profile.SetFrameHeight(768);
    EXPECT_EQ(profile.FrameSize(), V::fsWxga);
    profile.SetFrameWidth(100);
    profile.SetFrameHeight(100);
    EXPECT_EQ(profile.FrameSize(), V::fsOriginal);
    profile.SetFrameWidth(1440);
    profile.SetFrameHeight(1080);
    EXPECT_EQ(profile.FrameSize(), V::fsMceHd);
    EXPECT_EQ(profile.property("FrameSize").value<V::TAVFrameSize>(), V::fsMceHd);
}

TEST(ProfileFrameSize, TableRowsAreIndexedByValue)
{
    const auto& table = FrameSizeTable();
    for (int i = 0; i < kFrameSizeCount; ++i)
        EXPECT_EQ(table[i].value, i);
    EXPECT_STREQ(table[V::fsWvga].label, "wvga(852x480)");
    EXPECT_STREQ(table[V::fsHd480].label, "hd480(852x480)");
    EXPECT_EQ(table[V::fs16cif].width, 1408);
    EXPECT_EQ(table[V::fsMceHd].height, 1080);
}
