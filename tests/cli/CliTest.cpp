// The command-line front end, run as a real process.
#include "CliSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_NEAR(p.duration, 1.0, 0.05);
    EXPECT_EQ(p.First("video")->codecName, "mpeg4");
    // the filter flipped the pictures: they match the tool's flip of the same window
    const QString flipped = dir + "/tool_flip.mkv", unflipped = dir + "/tool_plain.mkv";
    for (const auto& [file, filter] : {std::pair{flipped, QString("hflip")}, std::pair{unflipped, QString("null")}})
        ASSERT_EQ(RunProcess(QStringLiteral(KORVANE_FFMPEG), {"-y", "-v", "error", "-ss", "0.5", "-to", "1.5", "-i",
                                                             SampleMp4(), "-vf", filter, "-an", "-c:v", "ffv1", file})
                      .exitCode,
                  0);
    EXPECT_GT(Psnr(flipped, dir + "/cut.mkv"), 25.0);
    EXPECT_LT(Psnr(unflipped, dir + "/cut.mkv"), 20.0);
    // the bit rate option reached the encoder: on noisy pictures the bytes
    // follow the rate, as the tool's do
    const QString noisy = Fixture("noisy12.mkv", {"-f", "lavfi", "-i",
                                                "testsrc2=size=320x240:rate=25:duration=1,noise=alls=12:allf=t",
                                                "-c:v", "ffv1"});
    QList<double> ours, tools;
    for (const QString& rate : QStringList{"300000", "3000000"}) {
        const QString out = dir + "/rate" + rate + ".mkv", tool = dir + "/tool_rate" + rate + ".mkv";
        r = Cli({"convert", noisy, "-o", out, "--quiet", "--option", "b=" + rate, "--set",
                 "VideoOptions.EncoderVideoCodecName=mpeg4"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        ASSERT_EQ(RunProcess(QStringLiteral(KORVANE_FFMPEG),
                             {"-y", "-v", "error", "-i", noisy, "-c:v", "mpeg4", "-b:v", rate, tool})
                      .exitCode,
                  0);
        ours << QFileInfo(out).size();
        tools << QFileInfo(tool).size();
        EXPECT_NEAR(ours.last(), tools.last(), tools.last() * 0.15) << rate.toStdString();
    }
    EXPECT_GT(ours[1], 2 * ours[0]);

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

// The nice value of every thread of a running process, from /proc.
QList<int> NiceValues(qint64 pid)
{
    QList<int> values;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        // field 19 of stat, counted after the command name in parentheses
        const QString stat = QString::fromLatin1(ReadText(tasks + "/" + tid + "/stat"));
        const QStringList fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 16)
            values << fields[16].toInt();
    }
    return values;
}

TEST_F(CliBasics, ANicedStartStaysNicedAlsoWhenItWritesTheConfiguration)
{
    ASSERT_FALSE(QFileInfo::exists(m_settings + "Config.Xml"));
    // a source that blocks the job until the test lets it go: a named pipe
    const QString dir = TempDir();
    const QString fifo = dir + "/source.ts";
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess cli;
    cli.start("nice", {"-n", "7", QStringLiteral(KORVANE_CLI), "convert", fifo, "-o", dir + "/out.mkv", "--quiet"});
    ASSERT_TRUE(cli.waitForStarted());
    // the configuration is written on this first start before the job opens its source
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(m_settings + "Config.Xml") && t.elapsed() < 20000)
        QThread::msleep(20);
    QThread::msleep(300);
    const QList<int> nice = NiceValues(cli.processId());
    {
        QFile writer(fifo); // lets the blocked open return; the job then fails on an empty source
        writer.open(QIODevice::WriteOnly);
    }
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_TRUE(QFileInfo::exists(m_settings + "Config.Xml"));
    ASSERT_FALSE(nice.isEmpty());
    for (int value : nice)
        EXPECT_EQ(value, 7);
}
