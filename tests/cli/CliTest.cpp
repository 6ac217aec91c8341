// The command-line front end, run as a real process.
#include "CliSupport.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace korvane::test;

namespace {
class CliBasics : public CliTestBase
{
};
} // namespace

TEST_F(CliBasics, VersionAndHelp)
{
    ProcessResult r = Cli({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("korvane-cli"));
    EXPECT_TRUE(r.out.contains("libavcodec 59."));
    r = Cli({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* word : {"convert", "categories", "profiles", "--category", "probe", "dvd", "--profile", "--output",
                             "--jobs", "--recursive", "--set", "--option", "--format", "--start", "--end",
                             "--filter", "--title", "--chapters", "--angle", "--overwrite", "--quiet", "--json",
                             "--log", "130"})
        EXPECT_TRUE(r.out.contains(word)) << word;
}

TEST_F(CliBasics, UsageErrorsExitWithTwo)
{
    const QString in = SampleMp4();
    const QString out = TempDir() + "/out.mkv";
    const QList<QStringList> bad = {
        {},
        {"frobnicate"},
        {"convert"},
        {"convert", in},
        {"convert", in, "-o", out, "--set", "VideoOptions.NoSuchThing=1"},
        {"convert", in, "-o", out, "--set", "VideoOptions.FrameWidth=wide"},
        {"convert", in, "-o", out, "--set", "AudioOptions.AudioSampleFmt=sfNope"},
        {"convert", in, "-o", out, "--start", "abc"},
        {"convert", in, "-o", out, "--start", "5", "--end", "2"},
        {"convert", in, "-o", out, "--bogus"},
        {"convert", in, "-o", out, "-j", "0"},
        {"convert", in, "-o", out, "--jobs", "many"},
        {"convert", in, "-o", out, "--chapters", "x"},
        {"convert", in, "-o"},
        {"convert", in, "-p"},
        {"convert", in, "-o", out, "--set", "novalue"},
        {"convert", in, "-o", out, "--option", "=1"},
        {"convert", "dvd:/nowhere", "-o", out},
        {"convert", TempDir(), "-o", TempDir()},
        {"categories", "extra"},
        {"profiles", "--category"},
        {"profiles", "--bogus"},
        {"probe"},
        {"probe", in, in},
    };
    for (const QStringList& args : bad) {
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
}

TEST_F(CliBasics, ConvertSucceedsFailsAndNeverOverwritesSilently)
{
    const QString dir = TempDir();
    const QString out = dir + "/copy.mkv";
    ProcessResult r = Cli({"convert", SampleMp4(), "-o", out, "--quiet", "--set", "VideoOptions.VideoStreamCopy=1",
                           "--set", "AudioOptions.AudioStreamCopy=true"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ProbeResult p = Probe(out);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.First("video")->codecName, "h264");

    r = Cli({"convert", SampleMp4(), "-o", out, "--quiet"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("exists"));

    r = Cli({"convert", SampleMp4(), "-o", dir + "/cut.mkv", "--quiet", "--start", "0.5", "--end", "1.5", "--option",
             "b=400000", "--set", "VideoOptions.EncoderVideoCodecName=mpeg4", "--filter", "hflip"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    p = Probe(dir + "/cut.mkv");
    EXPECT_NEAR(p.duration, 1.0, 0.15);
    EXPECT_EQ(p.First("video")->codecName, "mpeg4");

    r = Cli({"convert", dir + "/nothing.mp4", "-o", dir + "/x.mkv", "--quiet"});
    EXPECT_EQ(r.exitCode, 1);
    QFile junk(dir + "/junk.mp4");
    junk.open(QIODevice::WriteOnly);
    junk.write(QByteArray(1000, 'x'));
    junk.close();
    r = Cli({"convert", dir + "/junk.mp4", "-o", dir + "/y.mkv", "--quiet"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Could not"));
    r = Cli({"convert", SampleMp4(), "-o", dir + "/z.mkv", "--quiet", "--set", "VideoOptions.EncoderVideoCodecName=nosuch"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Unknown Codec Name"));
}
