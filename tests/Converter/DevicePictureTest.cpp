// Outputs for devices: pictures in the formats and sizes their players take,
// and the streams their containers need, from sources that lack them.
#include "profiles/AVProfile.h"
#include "transcode/AVConverter.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

// One entry of the first stream of a kind, read by ffprobe.
QString StreamField(const QString& file, const QString& stream, const QString& field)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFPROBE), {"-v", "error", "-select_streams", stream,
                                                                           "-show_entries", "stream=" + field, "-of",
                                                                           "default=nw=1:nk=1", file});
    return r.out.section('\n', 0, 0).trimmed();
}

QString Clip(const QString& name, const QString& pixFmt, const QString& codec)
{
    return Fixture(name, {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1", "-pix_fmt", pixFmt,
                          "-c:v", codec});
}

void H264(TAVConvertOptions* o)
{
    o->VideoOptions()->m_encoderVideoCodecName = "libx264";
    o->AudioOptions()->m_audioDisable = true;
}

} // namespace

TEST(DevicePictures, DeviceCodecsGetEightBitFourTwoZeroUnlessAFormatIsNamed)
{
    const QString dir = TempDir();
    // 10-bit 4:2:2, RGB and 4:4:4 sources: a phone plays none of their H.264 twins
    const QList<QPair<QString, QString>> sources = {{"yuv422p10le", "ffv1"}, {"rgb24", "png"}, {"yuv444p", "ffv1"}};
    for (const auto& [pixFmt, codec] : sources) {
        SCOPED_TRACE(pixFmt.toStdString());
        const QString in = Clip("device_" + pixFmt + ".mkv", pixFmt, codec);
        const QString out = dir + "/h264_" + pixFmt + ".mp4";
        ASSERT_EQ(Convert(in, out, H264), "");
        EXPECT_EQ(StreamField(out, "v:0", "pix_fmt"), "yuv420p");
        EXPECT_FALSE(StreamField(out, "v:0", "profile").contains("4:")) << StreamField(out, "v:0", "profile").toStdString();
        EXPECT_FALSE(StreamField(out, "v:0", "profile").contains("10"));
        const QString mpeg4 = dir + "/mpeg4_" + pixFmt + ".avi";
        ASSERT_EQ(Convert(in, mpeg4, [](TAVConvertOptions* o) { o->VideoOptions()->m_encoderVideoCodecName = "mpeg4"; }), "");
        EXPECT_EQ(StreamField(mpeg4, "v:0", "pix_fmt"), "yuv420p");
    }
    // a format the options name is kept
    const QString named = dir + "/named.mkv";
    ASSERT_EQ(Convert(Clip("device_yuv420p.mkv", "yuv420p", "ffv1"), named,
                      [](TAVConvertOptions* o) {
                          H264(o);
                          o->VideoOptions()->PixelFormat = 5; // yuv444p
                      }),
              "");
    EXPECT_EQ(StreamField(named, "v:0", "pix_fmt"), "yuv444p");
    // lossless and picture encoders keep a format they list, else take their first
    const QString lossless = dir + "/lossless.mkv";
    ASSERT_EQ(Convert(Clip("device_yuv422p10le.mkv", "yuv422p10le", "ffv1"), lossless,
                      [](TAVConvertOptions* o) { o->VideoOptions()->m_encoderVideoCodecName = "ffv1"; }),
              "");
    EXPECT_EQ(StreamField(lossless, "v:0", "pix_fmt"), "yuv422p10le");
    const QString picture = dir + "/picture.mkv";
    ASSERT_EQ(Convert(Clip("device_yuv420p.mkv", "yuv420p", "ffv1"), picture,
                      [](TAVConvertOptions* o) { o->VideoOptions()->m_encoderVideoCodecName = "png"; }),
              "");
    EXPECT_EQ(StreamField(picture, "v:0", "pix_fmt"), "rgb24"); // the first format png lists
}

TEST(DevicePictures, DvFiftyKeepsFourTwoTwoAndFitsMonoSoundToDv)
{
    const QString in = Fixture("dv_mono_source.mkv",
                               {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1", "-f", "lavfi", "-i",
                                "sine=frequency=440:sample_rate=22050:duration=1", "-ac", "1", "-c:v", "ffv1", "-c:a",
                                "pcm_s16le"});
    const QString out = TempDir() + "/dv50.dv";
    ASSERT_EQ(Convert(in, out,
                      [](TAVConvertOptions* o) {
                          TAVDv50Profile dv50;
                          dv50.Apply(o);
                      }),
              "");
    EXPECT_EQ(StreamField(out, "v:0", "pix_fmt"), "yuv422p");
    EXPECT_EQ(StreamField(out, "v:0", "width"), "720");
    EXPECT_EQ(StreamField(out, "a:0", "channels"), "2");
    EXPECT_EQ(StreamField(out, "a:0", "sample_rate"), "48000");
    QString error;
    EXPECT_TRUE(DecodesCleanly(out, &error)) << error.toStdString();
}

TEST(DevicePictures, OddSizesAreScaledToWhatTheEncoderTakesKeepingTheShape)
{
    const QString in = Fixture("odd_720x405.mpg", {"-f", "lavfi", "-i", "testsrc=size=720x405:rate=25:duration=1",
                                                   "-c:v", "mpeg2video", "-q:v", "4", "-an"});
    const QString dir = TempDir();
    for (const QString& encoder : QStringList{"libx264", "libxvid", "wmv2"}) {
        SCOPED_TRACE(encoder.toStdString());
        const QString out = dir + "/odd_" + encoder + ".mkv";
        ASSERT_EQ(Convert(in, out, [&](TAVConvertOptions* o) { o->VideoOptions()->m_encoderVideoCodecName = encoder; }),
                  "");
        const int width = StreamField(out, "v:0", "width").toInt(), height = StreamField(out, "v:0", "height").toInt();
        EXPECT_EQ(height % 2, 0);
        EXPECT_LE(height, 405);
        EXPECT_GE(height, 400);
        // the picture keeps its 16:9 shape on screen
        const QStringList sar = StreamField(out, "v:0", "sample_aspect_ratio").split(':');
        const double pixel = sar.size() == 2 && sar[1].toDouble() > 0 ? sar[0].toDouble() / sar[1].toDouble() : 1.0;
        EXPECT_NEAR(width * pixel / height, 720.0 / 405.0, 0.01);
        QString error;
        EXPECT_TRUE(DecodesCleanly(out, &error)) << error.toStdString();
    }
}

TEST(DevicePictures, APspFileFromASilentSourceGetsASilentTrack)
{
    const QString in = Fixture("odd_720x405.mpg", {"-f", "lavfi", "-i", "testsrc=size=720x405:rate=25:duration=1",
                                                   "-c:v", "mpeg2video", "-q:v", "4", "-an"});
    const QString out = TempDir() + "/psp.mp4";
    ASSERT_EQ(Convert(in, out,
                      [](TAVConvertOptions* o) {
                          o->m_outputFormat = "psp";
                          o->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
                          o->VideoOptions()->m_frameWidth = 368;
                          o->VideoOptions()->m_frameHeight = 208;
                          o->AudioOptions()->m_encoderAudioCodecName = "aac";
                          o->AudioOptions()->m_audioSampleRate = 48000;
                          o->AudioOptions()->m_audioChannels = 2;
                      }),
              "");
    const ProbeResult p = Probe(out);
    ASSERT_EQ(p.Count("audio"), 1);
    EXPECT_EQ(p.First("audio")->codecName, "aac");
    EXPECT_EQ(p.First("audio")->sampleRate, 48000);
    EXPECT_NEAR(p.First("audio")->duration, p.First("video")->duration, 0.1);
    // silence: the mean volume is at the floor
    const ProcessResult v = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-hide_banner", "-i", out, "-af", "volumedetect", "-vn", "-f", "null", "-"});
    EXPECT_TRUE(v.err.contains("mean_volume: -91")) << v.err.right(400).toStdString();
}
