// Media of kinds the usual samples do not cover, through the catalog's
// profiles: odd frame rates, headerless sound, raw PCM. The ffmpeg tool's
// own conversion of the same file is the yardstick for what must come out.
#include "CliSupport.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace korvane::test;

namespace {

class CliRealMedia : public CliTestBase
{
protected:
    // Converts source with a profile; the output's probe.
    ProbeResult Convert(const QString& source, const QString& profile, const QString& output,
                        const QStringList& extra = {})
    {
        const ProcessResult r = Cli(QStringList{"convert", source, "-o", output, "--quiet", "--profile", profile} + extra);
        EXPECT_EQ(r.exitCode, 0) << profile.toStdString() << ": " << r.err.toStdString();
        return Probe(output);
    }

    // The duration of the tool's own conversion of source (its input options first).
    double ToolDuration(const QStringList& inputOptions, const QString& source, const QString& extension)
    {
        const QString out = TempDir() + "/tool." + extension;
        const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                           QStringList{"-v", "error", "-y"} + inputOptions + QStringList{"-i", source, out});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return Probe(out).duration;
    }
};

} // namespace

TEST_F(CliRealMedia, MpegFourProfilesTakeOddFrameRates)
{
    // 187.35 frames a second: MPEG-4 Part 2 cannot write the time base 417/78125
    const QString source =
        Fixture("vp9_mp3_odd_rate.avi", {"-f", "lavfi", "-i", "testsrc=s=320x240:r=78125/417:d=2", "-f", "lavfi",
                                         "-i", "sine=d=2", "-c:v", "libvpx-vp9", "-deadline", "realtime",
                                         "-cpu-used", "8", "-c:a", "libmp3lame"});
    ASSERT_FALSE(source.isEmpty());
    const QString out = TempDir() + "/odd.avi";
    const ProbeResult p = Convert(source, "Normal AVI (*.avi)", out);
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    ASSERT_EQ(p.Count("video"), 1);
    ASSERT_EQ(p.Count("audio"), 1);
    EXPECT_EQ(p.First("video")->codecName, "mpeg4");
    EXPECT_NEAR(p.duration, 2.0, 0.15);
    QString error;
    EXPECT_TRUE(DecodesCleanly(out, &error)) << error.toStdString();
}

TEST_F(CliRealMedia, HeaderlessSoundKeepsItsOwnRate)
{
    // GSM without a header, known by its extension: the demuxer's 8 kHz holds
    const QString gsm = Fixture("voice_16s.gsm", {"-f", "lavfi", "-i", "sine=d=16.2:sample_rate=8000", "-c:a",
                                                  "libgsm", "-f", "gsm"});
    ASSERT_FALSE(gsm.isEmpty());
    const double expected = ToolDuration({}, gsm, "mp3");
    ASSERT_GT(expected, 16.0);
    for (const auto& [profile, extension] : {std::pair{"MP3 Audio", "mp3"}, std::pair{"AAC Audio", "mp4"},
                                             std::pair{"AC3 Dolby Audio", "ac3"}}) {
        const ProbeResult p = Convert(gsm, profile, TempDir() + "/gsm." + extension);
        ASSERT_TRUE(p.ok) << profile << ": " << p.error.toStdString();
        EXPECT_NEAR(p.duration, expected, 0.15) << profile;
    }

    // G.722 without a header is 16 kHz
    const QString g722 = Fixture("voice.g722", {"-f", "lavfi", "-i", "sine=d=3:sample_rate=16000", "-c:a",
                                                "g722", "-f", "g722"});
    ASSERT_FALSE(g722.isEmpty());
    const ProbeResult p = Convert(g722, "MP3 Audio", TempDir() + "/g722.mp3");
    EXPECT_NEAR(p.duration, ToolDuration({}, g722, "mp3"), 0.15);
}

TEST_F(CliRealMedia, RawPcmIsReadWithTheRateAndChannelsTheUserNamed)
{
    // 3 s of 16 kHz stereo: read as the 44.1 kHz mono of a raw demuxer's
    // defaults it would last 2.2 s
    const QString raw = Fixture("pcm_16k_stereo.s16le", {"-f", "lavfi", "-i", "sine=d=3:sample_rate=16000", "-ac",
                                                         "2", "-f", "s16le"});
    ASSERT_FALSE(raw.isEmpty());
    const double expected = ToolDuration({"-f", "s16le", "-ar", "16000", "-ac", "2"}, raw, "wav");
    ASSERT_NEAR(expected, 3.0, 0.05);
    const QString out = TempDir() + "/pcm.wav";
    const ProcessResult r = Cli({"convert", raw, "-o", out, "--quiet", "--set", "InputFormat=s16le", "--set",
                                 "AudioOptions.AudioSampleRate=16000", "--set", "AudioOptions.AudioChannels=2"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const ProbeResult p = Probe(out);
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.First("audio")->sampleRate, 16000);
    EXPECT_EQ(p.First("audio")->channels, 2);
    EXPECT_NEAR(p.duration, expected, 0.05);
}

TEST_F(CliRealMedia, SoundWithCoverArtKeepsBoth)
{
    const QString cover = Fixture("cover.png", {"-f", "lavfi", "-i", "testsrc=s=200x200:d=1", "-frames:v", "1"});
    ASSERT_FALSE(cover.isEmpty());
    const QString mp3 = Fixture("song_with_cover.mp3", {"-f", "lavfi", "-i", "sine=d=3", "-i", cover, "-map", "0",
                                                        "-map", "1", "-c:a", "libmp3lame", "-c:v", "mjpeg",
                                                        "-disposition:v", "attached_pic"});
    ASSERT_FALSE(mp3.isEmpty());
    const ProbeResult audio = Convert(mp3, "MP3 Audio", TempDir() + "/song.mp3");
    EXPECT_NEAR(audio.duration, 3.0, 0.1);
    // a video profile: the cover becomes the picture, the sound stays whole
    const ProbeResult video = Convert(mp3, "MPEG-4(*.mp4)", TempDir() + "/song.mp4");
    ASSERT_TRUE(video.ok) << video.error.toStdString();
    ASSERT_EQ(video.Count("video"), 1);
    ASSERT_EQ(video.Count("audio"), 1);
    EXPECT_NEAR(video.First("audio")->duration, 3.0, 0.1);
}

TEST_F(CliRealMedia, AJobThatFailsBeforeAnyMediaLeavesNoFile)
{
    const QString pictures =
        Fixture("pictures_only.mp4", {"-f", "lavfi", "-i", "testsrc=s=160x120:d=1", "-c:v", "mpeg4"});
    ASSERT_FALSE(pictures.isEmpty());
    const QString out = TempDir() + "/nothing.mp3";
    const ProcessResult r = Cli({"convert", pictures, "-o", out, "--quiet", "--profile", "MP3 Audio"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("Output file does not contain any stream")) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out));

    // a file that was there before is the user's: it stays
    WriteText(out, "keep");
    EXPECT_NE(Cli({"convert", pictures, "-o", out, "--quiet", "--overwrite", "--profile", "MP3 Audio"}).exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(out));
}
