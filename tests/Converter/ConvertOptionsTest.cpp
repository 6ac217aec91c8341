#include "transcode/AVConverter.h"
#include "options/ConvertOptions.h"
#include "JobRunner.h"

#include <gtest/gtest.h>

using namespace korvane;
using korvane::test::MessageRecorder;

namespace {
QStringList Matrix(int count, const QString& odd = {})
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QString::number(i + 1);
    if (!odd.isEmpty() && count > 10)
        list[10] = odd;
    return list;
}
} // namespace

TEST(ConvertOptions, ValidatingSettersKeepOldValueAndReport)
{
    MessageRecorder messages;
    TVideoOptions v;
    v.SetPass(2);
    v.SetPass(3);
    v.SetPass(-1);
    EXPECT_EQ(v.Pass(), 2);

    v.SetIntraMatrix(Matrix(64));
    v.SetIntraMatrix(Matrix(63));
    v.SetIntraMatrix(Matrix(64, "1.5"));
    v.SetIntraMatrix(Matrix(64, "abc"));
    EXPECT_EQ(v.IntraMatrix(), Matrix(64));
    EXPECT_EQ(v.IntraMatrixData[10], 11); // a rejected list leaves the data alone
    EXPECT_EQ(messages.Texts(),
              (QStringList{"pass number can be only 0, 1 or 2", "pass number can be only 0, 1 or 2",
                           "matrix element count should be equal 64", "Invalid matrix element",
                           "Invalid matrix element"}));
    v.SetInterMatrix(Matrix(64, "70000"));
    EXPECT_EQ(v.InterMatrixData[10], uint16_t(70000)); // truncated to 16 bits
    v.SetIntraMatrix({});
    EXPECT_TRUE(v.IntraMatrix().isEmpty());
}

TEST(ConvertOptions, SampleFormatAutoNeverReplacesAConcreteFormat)
{
    TAudioOptions a, source;
    a.SetAudioSampleFmt(TAudioOptions::sfS16);
    a.SetAudioSampleFmt(TAudioOptions::sfAuto);
    EXPECT_EQ(a.AudioSampleFmt(), TAudioOptions::sfS16);
    a.Assign(&source); // source has sfAuto
    EXPECT_EQ(a.AudioSampleFmt(), TAudioOptions::sfS16);
    a.setProperty("AudioSampleFmt", int(TAudioOptions::sfFLT));
    EXPECT_EQ(a.AudioSampleFmt(), TAudioOptions::sfFLT);
}

TEST(ConvertOptions, SetCodecOptionAppendsReplacesAndDeletes)
{
    TAVConvertOptions o;
    o.SetCodecOption("g", "12");
    EXPECT_EQ(o.m_codecOptions, QStringList{"g=12"});
    o.SetCodecOption("G", "15");
    EXPECT_EQ(o.m_codecOptions, QStringList{"g=15"});
    o.SetCodecOption("qmax", "");
    EXPECT_EQ(o.m_codecOptions, (QStringList{"g=15", "qmax="}));
    o.SetCodecOption("g", "");
    EXPECT_EQ(o.m_codecOptions, QStringList{"qmax="});
}

TEST(ConvertOptions, AssignCopiesPublishedTreeButNotEngineParameters)
{
    TAVConvertOptions a, b;
    b.VideoOptions()->m_frameWidth = 640;
    b.VideoOptions()->FrameRate()->setNum(30000);
    b.VideoOptions()->FrameRate()->setDen(1001);
    b.VideoOptions()->SetPass(1);
    b.VideoOptions()->PixelFormat = 4;
    b.AudioOptions()->m_audioVolume = 512;
    b.m_codecOptions = {"b=500000"};
    b.m_streamMaps = {"0=1"};
    b.AudioSize = 1234;
    b.ProgramId = 7;
    a.VideoSize = 99;
    TVideoOptions* ownedVideo = a.VideoOptions();
    a.Assign(&b);
    EXPECT_EQ(a.VideoOptions(), ownedVideo); // copied into, never replaced
    EXPECT_EQ(a.VideoOptions()->m_frameWidth, 640);
    EXPECT_EQ(a.VideoOptions()->FrameRate()->num(), 30000);
    EXPECT_EQ(a.VideoOptions()->FrameRate()->den(), 1001);
    EXPECT_EQ(a.VideoOptions()->Pass(), 1);
    EXPECT_EQ(a.VideoOptions()->PixelFormat, 4);
    EXPECT_EQ(a.AudioOptions()->m_audioVolume, 512);
    EXPECT_EQ(a.m_codecOptions, QStringList{"b=500000"});
    EXPECT_EQ(a.m_streamMaps, QStringList{"0=1"});
    EXPECT_EQ(a.AudioSize, 0);
    EXPECT_EQ(a.VideoSize, 99);
    EXPECT_EQ(a.ProgramId, 0);
    TVideoOptions other;
    EXPECT_THROW(a.Assign(&other), EEngineError);
}

TEST(ConvertOptions, DeclaredDefaultsAreOnlyTheListedOnes)
{
    TAVConvertOptions o;
    QVariant v;
    EXPECT_TRUE(o.DeclaredDefault("ThreadCount", &v));
    EXPECT_EQ(v.toInt(), 1);
    EXPECT_FALSE(o.DeclaredDefault("RecordingTime", &v));
    EXPECT_TRUE(o.VideoOptions()->DeclaredDefault("IntraDcPrecision", &v));
    EXPECT_FALSE(o.VideoOptions()->DeclaredDefault("MaxFrames", &v));
    EXPECT_TRUE(o.AudioOptions()->DeclaredDefault("MaxFrames", &v));
    EXPECT_TRUE(o.VideoOptions()->FrameRate()->DeclaredDefault("num", &v));
    EXPECT_EQ(v.toInt(), 25);
}

TEST(SetOption, FreeFormOptionsReachTheDefaultContextsAndAreRemembered)
{
    MessageRecorder messages;
    TAVConverter c;
    EXPECT_EQ(c.SetOption("b", "300000"), 0);
    EXPECT_EQ(c.SetOption("b", "500000"), 0); // a later line wins
    EXPECT_EQ(c.SetOption("vb", "1000"), 0);  // prefix rule: option b of the video context
    EXPECT_EQ(c.SetOption("nosuchoption", "1"), -1);
    EXPECT_EQ(c.SetOption("g", "notanumber"), -1);
    EXPECT_EQ(c.SetOption("preset", "fast"), 0); // an encoder's own option, kept for that encoder
    EXPECT_EQ(c.OptionNames(), (QStringList{"b", "b", "vb", "preset"}));
    EXPECT_EQ(messages.Texts(), QStringList{"Invalid value for Option!"});
}

TEST(SetOption, LegacyEncoderOptionsMapToTodaysNames)
{
    MessageRecorder messages;
    TAVConverter c;
    EXPECT_EQ(c.SetOption("flags2", "+mixed_refs+wpred+dct8x8+fastpskip"), 0);
    EXPECT_EQ(c.SetOption("partitions", "+parti8x8+parti4x4+partp8x8+partb8x8"), 0);
    EXPECT_EQ(c.SetOption("directpred", "3"), 0);
    EXPECT_EQ(c.SetOption("cqp", "20"), 0);
    EXPECT_EQ(c.SetOption("flags", "+scan_offset"), 0);
    EXPECT_EQ(c.SetOption("flags2", "+psy+skiprd+ivlc+non_linear_q+local_header"), 0);
    EXPECT_TRUE(messages.Texts().isEmpty()) << messages.Texts().join('\n').toStdString();
    EXPECT_TRUE(c.OptionNames().contains("mixed-refs"));
    EXPECT_TRUE(c.OptionNames().contains("direct-pred"));
    EXPECT_TRUE(c.OptionNames().contains("qp"));
    EXPECT_TRUE(c.OptionNames().contains("scan_offset"));
    EXPECT_TRUE(c.OptionNames().contains("intra_vlc"));
    EXPECT_TRUE(c.OptionNames().contains("mpv_flags"));
}
