// Encoder statistics, reduced decoding, same quality, scaler flags and the
// log bridge's texts.
#include "transcode/AVConverter.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

QString MpegClip(int q)
{
    return Fixture(QStringLiteral("mpeg2_q%1.mpg").arg(q),
                   {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1", "-c:v", "mpeg2video", "-q:v",
                    QString::number(q), "-an"});
}

QStringList FrameHashes(const QString& file)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-v", "error", "-i", file, "-map", "0:v", "-f", "framemd5", "-"});
    QStringList hashes;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        if (!line.startsWith('#'))
            hashes << line.section(',', -1).trimmed();
    return hashes;
}

} // namespace

TEST(EngineDetails, TwoPassH264KeepsItsStatisticsBesideTheOutput)
{
    // libx264 would write x264_2pass.log into the working folder by itself
    const QString work = QDir::currentPath();
    QFile::remove(work + "/x264_2pass.log");
    QFile::remove(work + "/x264_2pass.log.mbtree");
    const QString dir = TempDir();
    auto setup = [](int pass) {
        return [pass](TAVConvertOptions* o) {
            o->VideoOptions()->m_encoderVideoCodecName = "libx264";
            o->VideoOptions()->m_bitrate = 300000;
            o->VideoOptions()->SetPass(pass);
            o->AudioOptions()->m_audioDisable = true;
        };
    };
    // two jobs at once never share statistics
    const QString a = dir + "/a.mp4", b = dir + "/b.mp4";
    ASSERT_EQ(Convert(MpegClip(2), a, setup(1)), "");
    ASSERT_EQ(Convert(MpegClip(20), b, setup(1)), "");
    EXPECT_TRUE(QFileInfo::exists(a + "-ffmpeg2pass-0.log"));
    EXPECT_TRUE(QFileInfo::exists(b + "-ffmpeg2pass-0.log"));
    EXPECT_TRUE(QFileInfo::exists(a + "-ffmpeg2pass-0.log.mbtree"));
    EXPECT_FALSE(QFileInfo::exists(work + "/x264_2pass.log"));
    EXPECT_FALSE(QFileInfo::exists(work + "/x264_2pass.log.mbtree"));
    ASSERT_EQ(Convert(MpegClip(2), a, setup(2)), "");
    EXPECT_TRUE(DecodesCleanly(a));
    EXPECT_TRUE(Convert(MpegClip(2), dir + "/lonely.mp4", setup(2)).contains("Cannot read log file"));
}

TEST(EngineDetails, ReducedDecodingShrinksTheJobsPictures)
{
    const QString in = Fixture("lowres_src.avi", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1",
                                                  "-c:v", "mpeg4", "-q:v", "3"});
    const QString out = TempDir() + "/lowres.mkv";
    ASSERT_EQ(Convert(in, out,
                      [](TAVConvertOptions* o) {
                          o->m_codecOptions << "lowres=1";
                          o->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
                      }),
              "");
    const ProbeResult p = Probe(out);
    ASSERT_EQ(p.Count("video"), 1);
    EXPECT_EQ(p.First("video")->width, 160);
    EXPECT_EQ(p.First("video")->height, 120);
    EXPECT_EQ(p.First("video")->packets, 25);
}

TEST(EngineDetails, SameQualityFollowsTheSourcesQuantiser)
{
    const QString dir = TempDir();
    auto same = [](TAVConvertOptions* o) {
        o->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
        o->VideoOptions()->m_sameQuality = true;
        o->AudioOptions()->m_audioDisable = true;
    };
    const QString fine = dir + "/fine.avi", coarse = dir + "/coarse.avi";
    ASSERT_EQ(Convert(MpegClip(2), fine, same), "");
    ASSERT_EQ(Convert(MpegClip(20), coarse, same), "");
    // a finely quantised source stays fine, a coarse one coarse
    EXPECT_GT(QFileInfo(fine).size(), 3 * QFileInfo(coarse).size());
    // a source whose decoder gives no quantiser gets the fixed one: quantiser 2
    const QString h264 = dir + "/from_h264.avi", q2 = dir + "/q2.avi", q8 = dir + "/q8.avi";
    ASSERT_EQ(Convert(SampleMp4(), h264, same), "");
    auto fixed = [](float q) {
        return [q](TAVConvertOptions* o) {
            o->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
            o->VideoOptions()->m_videoQscale = q;
            o->AudioOptions()->m_audioDisable = true;
        };
    };
    ASSERT_EQ(Convert(SampleMp4(), q2, fixed(2)), "");
    ASSERT_EQ(Convert(SampleMp4(), q8, fixed(8)), "");
    EXPECT_NEAR(double(QFileInfo(h264).size()), double(QFileInfo(q2).size()), QFileInfo(q2).size() * 0.05);
    EXPECT_GT(QFileInfo(h264).size(), QFileInfo(q8).size() * 13 / 10) << QFileInfo(q2).size();
}

TEST(EngineDetails, ScalerFlagsReachTheGraphsOwnConversions)
{
    // same size, chroma to full resolution: only the graph's own conversion scales
    const QString in = MpegClip(2);
    const QString dir = TempDir();
    const QString ours = dir + "/ours.mkv", tool = dir + "/tool.mkv", plain = dir + "/plain.mkv";
    ASSERT_EQ(Convert(in, ours,
                      [](TAVConvertOptions* o) {
                          o->m_codecOptions << "sws_flags=neighbor";
                          o->VideoOptions()->m_encoderVideoCodecName = "ffv1";
                          o->VideoOptions()->PixelFormat = 5; // yuv444p
                      }),
              "");
    ASSERT_EQ(Convert(in, plain,
                      [](TAVConvertOptions* o) {
                          o->VideoOptions()->m_encoderVideoCodecName = "ffv1";
                          o->VideoOptions()->PixelFormat = 5;
                      }),
              "");
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-y", "-v", "error", "-i", in, "-sws_flags", "neighbor", "-c:v", "ffv1",
                                        "-pix_fmt", "yuv444p", tool});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList ourFrames = FrameHashes(ours);
    ASSERT_EQ(ourFrames.size(), 25);
    EXPECT_EQ(ourFrames, FrameHashes(tool));
    EXPECT_NE(ourFrames, FrameHashes(plain));
}

TEST(EngineDetails, LogLinesCollapseRepeatsAndHideAddresses)
{
    EXPECT_EQ(TAVConverter::WithoutAddress("[libx264 @ 0x55d0c0a1b2c0] height not divisible by 2 (720x405)"),
              "[libx264] height not divisible by 2 (720x405)");
    EXPECT_EQ(TAVConverter::WithoutAddress("[mp4 @ 0x7f00aa] [aac @ 0x7f00bb] Too many bits"),
              "[mp4] [aac] Too many bits");
    EXPECT_EQ(TAVConverter::WithoutAddress("Error [not an address @ here]"), "Error [not an address @ here]");

    TAVConverter c;
    QStringList lines;
    c.OnLog = [&](TAVConverter*, int, const QString& text) { lines << text; };
    c.DeliverLogLine(16, "[h264 @ 0x1234] error while decoding MB 3 4");
    c.DeliverLogLine(16, "[h264 @ 0x1234] error while decoding MB 3 4");
    c.DeliverLogLine(16, "[h264 @ 0x5678] error while decoding MB 3 4");
    c.DeliverLogLine(24, "[h264 @ 0x1234] concealing 10 errors");
    c.DeliverLogLine(24, "[h264 @ 0x1234] concealing 10 errors");
    c.FlushRepeatedLog();
    EXPECT_EQ(lines, QStringList({"[h264] error while decoding MB 3 4", "    Last message repeated 2 times",
                                  "[h264] concealing 10 errors", "    Last message repeated 1 times"}));
    EXPECT_EQ(c.LastLogLine(), "[h264] concealing 10 errors");
}
