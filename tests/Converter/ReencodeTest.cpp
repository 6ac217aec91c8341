// Re-encoding through the engine, compared with the ffmpeg tool on the same
// input: picture quality, filters, two passes, volume, deinterlacing.
#include "transcode/AVConverter.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

// Mean volume in dB of the first audio stream, by the ffmpeg tool.
double MeanVolume(const QString& file)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-hide_banner", "-i", file, "-af", "volumedetect", "-vn", "-f", "null", "-"});
    const QRegularExpressionMatch m = QRegularExpression("mean_volume: (-?[0-9.]+) dB").match(r.err);
    return m.hasMatch() ? m.captured(1).toDouble() : 1e9;
}

QString Source()
{
    return Fixture("reencode_src.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=2", "-f", "lavfi",
                                        "-i", "sine=frequency=440:sample_rate=48000:duration=2", "-c:v", "ffv1",
                                        "-c:a", "pcm_s16le"});
}

} // namespace

TEST(Reencode, IdentityAtHighBitRateKeepsThePicture)
{
    const QString out = TempDir() + "/identity.mp4";
    ASSERT_EQ(Convert(Source(), out,
                      [](TAVConvertOptions* o) {
                          o->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
                          o->VideoOptions()->m_bitrate = 8000000;
                          o->AudioOptions()->m_encoderAudioCodecName = "aac";
                      }),
              "");
    EXPECT_GT(Psnr(Source(), out), 35.0);
    const ProbeResult p = Probe(out);
    ASSERT_EQ(p.Count("video"), 1);
    ASSERT_EQ(p.Count("audio"), 1);
    EXPECT_LT(std::abs(p.First("video")->duration - p.First("audio")->duration), 0.1);
    EXPECT_EQ(p.First("video")->packets, 50);
}

TEST(Reencode, FiltersGiveTheSamePicturesAsTheToolsOwnFilters)
{
    struct Case
    {
        QString stored;  // as the filter settings write it
        QString tool;    // the same picture by the ffmpeg tool
        int width, height;
    } cases[] = {
        {"vflip", "vflip", 320, 240},
        {"hflip,negate", "hflip,negate", 320, 240},
        {"rotate=90", "transpose=clock", 240, 320},
        {"negate,rotate=-90,vflip", "negate,transpose=cclock,vflip", 240, 320},
        {"rotate=180,drawbox=10:20:100:50:Red", "hflip,vflip,drawbox=x=10:y=20:w=100:h=50:color=Red", 320, 240},
    };
    const QString dir = TempDir();
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.stored.toStdString());
        const QString ours = dir + QStringLiteral("/ours%1.mkv").arg(n);
        const QString theirs = dir + QStringLiteral("/theirs%1.mkv").arg(n++);
        ASSERT_EQ(Convert(Source(), ours,
                          [&](TAVConvertOptions* o) {
                              o->VideoOptions()->m_encoderVideoCodecName = "ffv1";
                              o->FilterOptions()->m_videoFilters = k.stored;
                              o->AudioOptions()->m_audioDisable = true;
                          }),
                  "");
        const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                           {"-y", "-v", "error", "-i", Source(), "-vf", k.tool, "-an", "-c:v", "ffv1", theirs});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const ProbeResult p = Probe(ours);
        ASSERT_EQ(p.Count("video"), 1);
        EXPECT_EQ(p.First("video")->width, k.width);
        EXPECT_EQ(p.First("video")->height, k.height);
        EXPECT_EQ(Psnr(theirs, ours), 1000) << "pictures differ from the tool's";
    }
}

TEST(Reencode, TwoPassesWithStatisticsBesideTheOutput)
{
    const QString dir = TempDir();
    const QString out = dir + "/twopass.mp4";
    auto setup = [](int pass) {
        return [pass](TAVConvertOptions* o) {
            o->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
            o->VideoOptions()->m_bitrate = 300000;
            o->VideoOptions()->SetPass(pass);
            o->AudioOptions()->m_audioDisable = true;
        };
    };
    ASSERT_EQ(Convert(Source(), out, setup(1)), "");
    EXPECT_TRUE(QFileInfo::exists(out + "-ffmpeg2pass-0.log"));
    ASSERT_EQ(Convert(Source(), out, setup(2)), "");
    EXPECT_GT(Psnr(Source(), out), 25.0);
    // a second pass without the first one's statistics fails with a message
    const QString lonely = dir + "/lonely.mp4";
    EXPECT_TRUE(Convert(Source(), lonely, setup(2)).contains("Cannot read log file"));
}

TEST(Reencode, VolumeAndDeinterlace)
{
    const QString dir = TempDir();
    const QString plain = dir + "/plain.wav", louder = dir + "/louder.wav", quieter = dir + "/quieter.mka";
    ASSERT_EQ(Convert(Source(), plain, [](TAVConvertOptions*) {}), "");
    ASSERT_EQ(Convert(Source(), louder, [](TAVConvertOptions* o) { o->AudioOptions()->m_audioVolume = 512; }), "");
    ASSERT_EQ(Convert(Source(), quieter,
                      [](TAVConvertOptions* o) {
                          o->AudioOptions()->m_audioVolume = 128;
                          o->AudioOptions()->m_encoderAudioCodecName = "flac";
                          o->AudioOptions()->SetAudioSampleFmt(TAudioOptions::sfS32);
                      }),
              "");
    const double base = MeanVolume(plain);
    EXPECT_NEAR(MeanVolume(louder) - base, 6.0, 0.5);
    EXPECT_NEAR(MeanVolume(quieter) - base, -6.0, 0.5);

    const QString interlaced = Fixture("interlaced.mkv", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=1",
                                                          "-vf", "interlace", "-c:v", "ffv1"});
    const QString out = dir + "/deinterlaced.mkv";
    ASSERT_EQ(Convert(interlaced, out,
                      [](TAVConvertOptions* o) {
                          o->VideoOptions()->m_deinterlace = true;
                          o->VideoOptions()->m_encoderVideoCodecName = "ffv1";
                      }),
              "");
    // the deinterlacer gives back its last picture too
    EXPECT_EQ(Probe(out).First("video")->packets, Probe(interlaced).First("video")->packets);
    const QString tool = dir + "/tool.mkv";
    RunProcess(QStringLiteral(KORVANE_FFMPEG), {"-y", "-v", "error", "-i", interlaced, "-vf", "yadif", "-c:v", "ffv1", tool});
    EXPECT_GT(Psnr(tool, out), 45.0); // same filter; format negotiation may round differently
}

TEST(Reencode, EveryEncoderOfTheCatalogWorksInItsContainer)
{
    struct Case
    {
        QString video, audio, file, videoName, audioName;
        int width, height;
    } cases[] = {
        {"h263", "libopencore_amrnb", "h263.3gp", "h263", "aac", 352, 288},
        {"libx264", "libfaac", "x264.mp4", "h264", "aac", 320, 240},
        {"mpeg4", "aac", "mpeg4.mp4", "mpeg4", "aac", 320, 240},
        {"wmv2", "wmav2", "wmv2.wmv", "wmv2", "wmav2", 320, 240},
        {"mpeg2video", "mp2", "mpeg2.mpg", "mpeg2video", "mp2", 320, 240},
        {"msmpeg4", "libmp3lame", "msmpeg4.avi", "msmpeg4v3", "mp3", 320, 240},
        {"rv20", "real_144", "rv20.rm", "rv20", "ra_144", 320, 240},
        {"libxvid", "ac3", "xvid.avi", "mpeg4", "ac3", 320, 240},
        {"flv", "libmp3lame", "flv.flv", "flv1", "mp3", 320, 240},
        {"mpeg1video", "mp2", "mpeg1.mpg", "mpeg1video", "mp2", 320, 240},
        {"mpeg4", "pcm_s16le", "pcm.avi", "mpeg4", "pcm_s16le", 320, 240},
    };
    const QString dir = TempDir();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file.toStdString());
        const QString out = dir + "/" + k.file;
        ASSERT_EQ(Convert(Source(), out,
                          [&](TAVConvertOptions* o) {
                              o->VideoOptions()->m_encoderVideoCodecName = k.video;
                              o->AudioOptions()->m_encoderAudioCodecName = k.audio;
                              o->VideoOptions()->m_frameWidth = k.width;
                              o->VideoOptions()->m_frameHeight = k.height;
                          }),
                  "");
        const ProbeResult p = Probe(out);
        ASSERT_EQ(p.Count("video"), 1);
        ASSERT_EQ(p.Count("audio"), 1);
        EXPECT_EQ(p.First("video")->codecName, k.videoName);
        EXPECT_EQ(p.First("audio")->codecName, k.audioName);
        EXPECT_EQ(p.First("video")->width, k.width);
        QString error;
        EXPECT_TRUE(DecodesCleanly(out, &error)) << error.toStdString();
    }
}

TEST(Reencode, ClocksAreKeptByPaddingAndDuplicating)
{
    const QString dir = TempDir();
    // audio that starts half a second after the video
    const QString late = Fixture("late_audio.mkv", {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2",
                                                    "-itsoffset", "0.5", "-f", "lavfi", "-i",
                                                    "sine=frequency=440:sample_rate=48000:duration=1.5", "-c:v", "ffv1",
                                                    "-c:a", "pcm_s16le"});
    const QString padded = dir + "/padded.mkv";
    ASSERT_EQ(Convert(late, padded,
                      [](TAVConvertOptions* o) {
                          o->AudioOptions()->m_audioSyncMethod = 1;
                          o->AudioOptions()->m_encoderAudioCodecName = "pcm_s16le";
                          o->VideoOptions()->m_encoderVideoCodecName = "ffv1";
                      }),
              "");
    // the half second before the audio is filled with silence
    const std::vector<double> audioDts = PacketDts(padded, 1);
    ASSERT_FALSE(audioDts.empty());
    EXPECT_NEAR(audioDts.front(), 0.0, 0.03);
    EXPECT_NEAR(audioDts.back(), 2.0, 0.1);
    EXPECT_LT(MeanVolume(padded), MeanVolume(late) - 1.0);

    // a video whose second half jumps one second ahead: the constant-rate
    // output repeats pictures to fill the gap
    const QString gap = Fixture("video_gap.mkv", {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2",
                                                  "-vf", "setpts='PTS+gte(T,1)*1/TB'", "-c:v", "ffv1"});
    const QString filled = dir + "/filled.avi";
    ASSERT_EQ(Convert(gap, filled, [](TAVConvertOptions* o) { o->VideoOptions()->m_encoderVideoCodecName = "mpeg4"; }),
              "");
    const ProbeResult p = Probe(filled);
    ASSERT_EQ(p.Count("video"), 1);
    EXPECT_NEAR(double(p.First("video")->packets), 75.0, 2.0);
}

TEST(Reencode, AudioThatChangesItsLayoutMidStreamAndEveryResampledSample)
{
    const QString dir = TempDir();
    // two MPEG-TS pieces back to back: stereo, then mono (as broadcasts switch)
    const QString stereo = Fixture("ts_stereo.ts", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=1",
                                                    "-ac", "2", "-c:a", "mp2", "-f", "mpegts"});
    const QString mono = Fixture("ts_mono.ts", {"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=48000:duration=1",
                                                "-ac", "1", "-c:a", "mp2", "-f", "mpegts"});
    const QString joined = dir + "/joined.ts";
    {
        QFile out(joined);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        for (const QString& part : {stereo, mono}) {
            QFile in(part);
            ASSERT_TRUE(in.open(QIODevice::ReadOnly));
            out.write(in.readAll());
        }
    }
    const QString wav = dir + "/joined.wav";
    ASSERT_EQ(Convert(joined, wav, [](TAVConvertOptions*) {}), "");
    const ProbeResult p = Probe(wav);
    ASSERT_EQ(p.Count("audio"), 1);
    EXPECT_NEAR(p.First("audio")->duration, 2.0, 0.1);

    // 2 s at 44.1 kHz resampled to 48 kHz: the resampler's tail is kept
    const QString source = Fixture("tone_44k.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2",
                                                    "-c:a", "pcm_s16le"});
    const QString resampled = dir + "/tone_48k.wav";
    ASSERT_EQ(Convert(source, resampled, [](TAVConvertOptions* o) { o->AudioOptions()->m_audioSampleRate = 48000; }), "");
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFPROBE),
                                       {"-v", "error", "-show_entries", "stream=duration_ts", "-of", "csv=p=0", resampled});
    EXPECT_NEAR(r.out.trimmed().toDouble(), 96000, 2);
}
