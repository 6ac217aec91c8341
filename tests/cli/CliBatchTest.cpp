// convert with several sources: jobs in parallel, folders, refusal to
// overwrite, the JSON report, exit statuses and a clean stop on SIGINT.
#include "CliSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace korvane::test;

namespace {

class CliBatch : public CliTestBase
{
};

const QStringList kCopy = {"--set", "VideoOptions.VideoStreamCopy=1", "--set", "AudioOptions.AudioStreamCopy=1"};

// A minute of 640x360 video: long enough to be interrupted while converting.
QString LongClip()
{
    return Fixture("long60.mp4", {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=60", "-c:v", "libx264",
                                  "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
}

QString CopyTo(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).path());
    EXPECT_TRUE(QFile::copy(from, to)) << to.toStdString();
    return to;
}

} // namespace

TEST_F(CliBatch, SeveralSourcesRunInParallelIntoAFolder)
{
    const QString out = TempDir() + "/made/here";
    ProcessResult r = Cli(QStringList{"convert", SampleMp4(), SampleTs(), SampleMkvSubs(), "-j", "2", "-o", out,
                                      "--json", "--quiet"} + kCopy);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QList<QJsonObject> reports = JsonLines(r.out);
    ASSERT_EQ(reports.size(), 3) << r.out.toStdString();
    QStringList targets;
    for (const QJsonObject& o : reports) {
        EXPECT_EQ(o["status"].toString(), "completed");
        EXPECT_TRUE(o["error"].isNull());
        EXPECT_TRUE(o["profile"].isNull());
        EXPECT_NEAR(o["duration"].toDouble(), 2.0, 0.2);
        EXPECT_GT(o["input_size"].toDouble(), 0);
        EXPECT_EQ(o["output_size"].toDouble(), QFileInfo(o["target"].toString()).size());
        EXPECT_GE(o["elapsed"].toDouble(), 0);
        targets << QFileInfo(o["target"].toString()).fileName();
        EXPECT_TRUE(Probe(o["target"].toString()).ok);
    }
    targets.sort();
    QStringList expected = {QFileInfo(SampleMp4()).fileName(), QFileInfo(SampleTs()).fileName(),
                            QFileInfo(SampleMkvSubs()).fileName()};
    expected.sort();
    EXPECT_EQ(targets, expected);
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 3);
}

TEST_F(CliBatch, RecursiveFoldersTakeOnlyMediaAndKeepTheirLayout)
{
    const QString in = TempDir();
    CopyTo(SampleMp4(), in + "/a.mp4");
    CopyTo(SampleTs(), in + "/deeper/b.ts");
    WriteText(in + "/notes.txt", "not media");
    WriteText(in + "/deeper/fake.mp4", QByteArray(3000, 'z'));
    const QString out = TempDir();

    ProcessResult r = Cli({"convert", in, "-o", out});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--recursive"));

    r = Cli(QStringList{"convert", in, "--recursive", "-o", out, "--json"} + kCopy);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(JsonLines(r.out).size(), 2);
    EXPECT_TRUE(Probe(out + "/a.mp4").ok);
    EXPECT_TRUE(Probe(out + "/deeper/b.ts").ok);
    EXPECT_FALSE(QFileInfo::exists(out + "/notes.txt"));
    EXPECT_FALSE(QFileInfo::exists(out + "/deeper/fake.mp4"));
    EXPECT_TRUE(r.err.contains("fake.mp4: skipped")) << r.err.toStdString();
}

TEST_F(CliBatch, ExistingOutputFailsItsJobOnlyUnlessOverwriteIsGiven)
{
    const QString out = TempDir();
    WriteText(out + "/sample.ts", "precious");
    ProcessResult r = Cli(QStringList{"convert", SampleMp4(), SampleTs(), "-o", out, "--json"} + kCopy);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("sample.ts exists (use --overwrite to replace it)")) << r.err.toStdString();
    EXPECT_EQ(ReadText(out + "/sample.ts"), "precious");
    EXPECT_TRUE(Probe(out + "/sample.mp4").ok);
    const QList<QJsonObject> reports = JsonLines(r.out);
    ASSERT_EQ(reports.size(), 2);
    int failed = 0;
    for (const QJsonObject& o : reports)
        if (o["status"].toString() == "failed") {
            ++failed;
            EXPECT_TRUE(o["error"].toString().contains("exists"));
        }
    EXPECT_EQ(failed, 1);

    r = Cli(QStringList{"convert", SampleMp4(), SampleTs(), "-o", out, "--overwrite", "--quiet"} + kCopy);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(Probe(out + "/sample.ts").ok);
}

TEST_F(CliBatch, TwoSourcesWithOneOutputNameDoNotOverwriteEachOther)
{
    const QString a = CopyTo(SampleMp4(), TempDir() + "/clip.mp4");
    const QString b = CopyTo(SampleMp4(), TempDir() + "/clip.mp4");
    const QString out = TempDir();
    const ProcessResult r = Cli(QStringList{"convert", a, b, "-o", out, "--quiet"} + kCopy);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("is already the output of " + a)) << r.err.toStdString();
    EXPECT_TRUE(Probe(out + "/clip.mp4").ok);
}

TEST_F(CliBatch, AFailedJobGivesOneAndTheOthersStillRun)
{
    const QString dir = TempDir();
    const QString junk = dir + "/junk.avi";
    WriteText(junk, QByteArray(2000, 'x'));
    const QString out = TempDir();
    const ProcessResult r = Cli(QStringList{"convert", dir + "/missing.mp4", junk, SampleMp4(), "-o", out, "-j",
                                            "1", "--json", "--log", dir + "/jobs.log"} + kCopy);
    EXPECT_EQ(r.exitCode, 1);
    const QList<QJsonObject> reports = JsonLines(r.out);
    ASSERT_EQ(reports.size(), 3);
    EXPECT_EQ(reports[0]["status"].toString(), "failed");
    EXPECT_TRUE(reports[0]["error"].toString().contains("no such file"));
    EXPECT_EQ(reports[1]["status"].toString(), "failed");
    EXPECT_FALSE(reports[1]["error"].toString().isEmpty());
    EXPECT_EQ(reports[2]["status"].toString(), "completed");
    EXPECT_TRUE(Probe(out + "/sample.mp4").ok);
    // the log keeps the library's lines of each job, marked with the job
    const QString log = QString::fromUtf8(ReadText(dir + "/jobs.log"));
    EXPECT_TRUE(log.contains("[2 junk.avi]")) << log.toStdString();
}

TEST_F(CliBatch, InterruptStopsTheJobLeavesAReadableFileAndExits130)
{
    const QString in = LongClip();
    const QString out = TempDir() + "/stopped.mkv";
    QProcess p;
    p.start(QStringLiteral(KORVANE_CLI), {"convert", in, "-o", out, "--json", "--quiet", "--set",
                                          "VideoOptions.EncoderVideoCodecName=libx264"});
    ASSERT_TRUE(p.waitForStarted());
    QThread::msleep(2500);
    ASSERT_EQ(p.state(), QProcess::Running) << "the job ended before it could be interrupted";
    ::kill(p.processId(), SIGINT);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 130) << p.readAllStandardError().toStdString();
    const QList<QJsonObject> reports = JsonLines(QString::fromUtf8(p.readAllStandardOutput()));
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports[0]["status"].toString(), "stopped");
    const ProbeResult probe = Probe(out);
    ASSERT_TRUE(probe.ok) << probe.error.toStdString();
    EXPECT_GT(probe.duration, 0.1);
    EXPECT_LT(probe.duration, 55);
}

TEST_F(CliBatch, ASecondInterruptAbortsAtOnce)
{
    const QString out = TempDir() + "/aborted.mkv";
    QProcess p;
    p.start(QStringLiteral(KORVANE_CLI), {"convert", LongClip(), "-o", out, "--quiet", "--set",
                                          "VideoOptions.EncoderVideoCodecName=libx264"});
    ASSERT_TRUE(p.waitForStarted());
    QThread::msleep(1500);
    ::kill(p.processId(), SIGINT);
    ::kill(p.processId(), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 130);
}

// A source is never replaced: not through a link, not by another job of the
// same batch, not by the log; odd names are taken as plain files.
TEST_F(CliBatch, SourcesSurviveLinksBatchesLogsAndOddNames)
{
    const QString dir = TempDir();
    const QString source = dir + "/same.mp4";
    ASSERT_TRUE(QFile::copy(SampleMp4(), source));
    const qint64 size = QFileInfo(source).size();
    ASSERT_TRUE(QFile::link(source, dir + "/link.mp4"));
    ProcessResult r = Cli(QStringList{"convert", source, "-o", dir + "/link.mp4", "--overwrite", "--quiet"} + kCopy);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(QFileInfo(source).size(), size);

    // clip.mkv would become clip.mp4, which is the other source of the batch
    const QString folder = dir + "/both";
    QDir().mkpath(folder);
    ASSERT_TRUE(QFile::copy(SampleMp4(), folder + "/clip.mp4"));
    ASSERT_TRUE(QFile::copy(SampleMkvSubs(), folder + "/clip.mkv"));
    const qint64 clipSize = QFileInfo(folder + "/clip.mp4").size();
    r = Cli({"convert", folder, "-r", "-o", folder, "-p", "AAC Audio", "--overwrite", "--quiet"});
    EXPECT_EQ(QFileInfo(folder + "/clip.mp4").size(), clipSize);

    r = Cli(QStringList{"convert", source, "-o", dir + "/out.mkv", "--log", source, "--quiet"} + kCopy);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(QFileInfo(source).size(), size);

    // "take:1" is no protocol, "%1" is no placeholder, "-lead" is no option
    const QString odd = dir + "/take:1 %1.mp4";
    ASSERT_TRUE(QFile::copy(SampleMp4(), odd));
    ASSERT_TRUE(QFile::copy(SampleMp4(), dir + "/-lead.mp4"));
    auto inDir = [&](const QStringList& args) { return RunProcess(QStringLiteral(KORVANE_CLI), args, 120000, dir); };
    r = inDir(QStringList{"convert", "take:1 %1.mp4", "-o", "o:%1.mkv"} + kCopy);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("take:1 %1.mp4 -> o:%1.mkv")) << r.err.toStdString();
    EXPECT_TRUE(Probe(dir + "/o:%1.mkv").ok);
    r = inDir(QStringList{"convert", "-o", "lead.mkv", "--quiet"} + kCopy + QStringList{"--", "-lead.mp4"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();

    // a relative folder keeps its layout under the output folder
    QDir().mkpath(dir + "/tree/sub");
    ASSERT_TRUE(QFile::copy(SampleMp4(), dir + "/tree/sub/b.mp4"));
    r = inDir(QStringList{"convert", "tree", "-r", "-o", "outR", "--quiet"} + kCopy);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(dir + "/outR/sub/b.mp4"));
}
