// watch: files arriving in a folder are converted once each, after they have
// stopped growing; the record under XDG_STATE_HOME makes a restart convert
// only what is new, retries a failed file only once it changed, and skips
// files that are not media. Outputs are checked with ffprobe.
#include "CliSupport.h"
#include "PersistentManager.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace korvane::test;

namespace {

const QStringList kCopy = {"--set", "VideoOptions.VideoStreamCopy=1", "--set",
                           "AudioOptions.AudioStreamCopy=1"};

class CliWatch : public CliTestBase
{
protected:
    void SetUp() override
    {
        CliTestBase::SetUp();
        m_state = TempDir();
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_state));
        m_in = TempDir() + "/incoming";
        m_out = TempDir() + "/converted";
        QDir().mkpath(m_in);
    }

    QStringList WatchArgs(const QStringList& extra = {}) const
    {
        return QStringList{"watch", m_in, "-p", "matroska video", "-o", m_out, "--stable", "1", "--json"} +
               kCopy + extra;
    }
    ProcessResult Once() const { return Cli(WatchArgs({"--once"})); }
    QJsonObject RecordOf(const QString& source) const
    {
        const QJsonObject doc = QJsonDocument::fromJson(ReadText(m_state + "/korvane/watch.json")).object();
        for (const QJsonValue& v : doc["files"].toArray())
            if (v.toObject()["source"].toString() == source) return v.toObject();
        return {};
    }

    QString m_state, m_in, m_out;
};

// A watch running in the background, its stdout read as JSON lines.
class RunningWatch
{
public:
    explicit RunningWatch(const QStringList& args)
    {
        m_process.start(QStringLiteral(KORVANE_CLI), args);
        EXPECT_TRUE(m_process.waitForStarted());
    }
    ~RunningWatch()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // Waits until n reports came or timeoutMs passed; returns the reports.
    QList<QJsonObject> WaitForReports(int n, int timeoutMs = 60000)
    {
        QElapsedTimer clock;
        clock.start();
        while (Lines(m_out).size() < n && clock.elapsed() < timeoutMs &&
               m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(200);
            Read();
        }
        return JsonLines(m_out);
    }
    bool WaitForError(const QString& text, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!m_err.contains(text) && clock.elapsed() < timeoutMs &&
               m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(200);
            Read();
        }
        return m_err.contains(text);
    }
    // Ctrl+C; returns the exit code.
    int Interrupt()
    {
        ::kill(m_process.processId(), SIGINT);
        m_process.waitForFinished(30000);
        Read();
        return m_process.exitCode();
    }
    const QString& Err() const { return m_err; }

private:
    void Read()
    {
        m_out += QString::fromUtf8(m_process.readAllStandardOutput());
        m_err += QString::fromUtf8(m_process.readAllStandardError());
    }
    QProcess m_process;
    QString m_out, m_err;
};

// Writes from to path in pieces with pauses, as a slow copy does.
void CopySlowly(const QString& from, const QString& path, int pieces, int pauseMs)
{
    const QByteArray data = ReadText(from);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const qsizetype step = data.size() / pieces + 1;
    for (qsizetype at = 0; at < data.size(); at += step) {
        f.write(data.mid(at, step));
        f.flush();
        QThread::msleep(pauseMs);
    }
}

} // namespace

TEST_F(CliWatch, ThreeArrivingFilesAreConvertedOnceTheSlowOneOnlyWhenComplete)
{
    RunningWatch watch(WatchArgs({"-j", "2"}));
    QThread::msleep(300);
    ASSERT_TRUE(QFile::copy(SampleMp4(), m_in + "/first.mp4"));
    ASSERT_TRUE(QFile::copy(SampleTs(), m_in + "/second.ts"));
    // pauses shorter than the stability wait: the file must not be taken half written
    CopySlowly(SampleMp4(), m_in + "/slow.mp4", 6, 600);
    const QList<QJsonObject> reports = watch.WaitForReports(3);
    QThread::msleep(1500); // nothing more comes: each file once
    EXPECT_EQ(watch.Interrupt(), 130);
    ASSERT_EQ(reports.size(), 3) << watch.Err().toStdString();
    for (const QJsonObject& o : reports)
        EXPECT_EQ(o["status"].toString(), "completed") << o["source"].toString().toStdString();
    for (const char* name : {"first.mkv", "second.mkv", "slow.mkv"}) {
        const ProbeResult p = Probe(m_out + "/" + name);
        ASSERT_TRUE(p.ok) << name << ": " << p.error.toStdString();
        EXPECT_NEAR(p.duration, 2.0, 0.2) << name; // the slow file whole, not its first pieces
        EXPECT_EQ(p.Count("video"), 1);
    }
    EXPECT_EQ(RecordOf(m_in + "/slow.mp4")["size"].toDouble(), QFileInfo(m_in + "/slow.mp4").size());
}

TEST_F(CliWatch, ARestartConvertsOnlyWhatArrivedMeanwhile)
{
    ASSERT_TRUE(QFile::copy(SampleMp4(), m_in + "/a.mp4"));
    ASSERT_TRUE(QFile::copy(SampleTs(), m_in + "/b.ts"));
    ProcessResult r = Once();
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(JsonLines(r.out).size(), 2);
    const QDateTime firstWrite = QFileInfo(m_out + "/a.mkv").lastModified();

    ASSERT_TRUE(QFile::copy(SampleMkvSubs(), m_in + "/c.mkv"));
    r = Once();
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QList<QJsonObject> reports = JsonLines(r.out);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports[0]["source"].toString(), m_in + "/c.mkv");
    EXPECT_TRUE(Probe(m_out + "/c.mkv").ok);

    r = Once();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_EQ(QFileInfo(m_out + "/a.mkv").lastModified(), firstWrite);
    EXPECT_EQ(RecordOf(m_in + "/a.mp4")["result"].toString(), "completed");
}

TEST_F(CliWatch, AnInterruptedConversionIsDoneAgainOnTheNextStart)
{
    const QString clip =
        Fixture("watch-long30.mp4", {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=30", "-c:v",
                                     "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    ASSERT_TRUE(QFile::copy(clip, m_in + "/long.mp4"));
    // encoded, not copied: slow enough to be interrupted
    const QStringList encode = {"watch",
                                m_in,
                                "-p",
                                "matroska video",
                                "-o",
                                m_out,
                                "--stable",
                                "0.2",
                                "--json",
                                "--set",
                                "VideoOptions.EncoderVideoCodecName=libx264"};
    {
        RunningWatch watch(encode);
        ASSERT_TRUE(watch.WaitForError("watching"));
        // stopped as soon as the conversion writes
        QElapsedTimer clock;
        clock.start();
        while (!QFileInfo::exists(m_out + "/long.mkv") && clock.elapsed() < 20000)
            QThread::msleep(50);
        QThread::msleep(300);
        EXPECT_EQ(watch.Interrupt(), 130);
    }
    EXPECT_EQ(RecordOf(m_in + "/long.mp4")["result"].toString(), "converting");
    ASSERT_TRUE(QFileInfo::exists(m_out + "/long.mkv"));
    // the stopped output is this watch's own: replaced without --overwrite
    const ProcessResult r = Cli(QStringList{encode} << "--once"
                                                    << "-q");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(JsonLines(r.out).size(), 1);
    EXPECT_EQ(JsonLines(r.out)[0]["status"].toString(), "completed");
    EXPECT_NEAR(Probe(m_out + "/long.mkv").duration, 30.0, 0.5);
    EXPECT_EQ(RecordOf(m_in + "/long.mp4")["result"].toString(), "completed");
}

TEST_F(CliWatch, AFailedFileIsRetriedOnlyOnceItChanged)
{
    ASSERT_TRUE(QFile::copy(SampleMp4(), m_in + "/clip.mp4"));
    QDir().mkpath(m_out);
    WriteText(m_out + "/clip.mkv", "someone else's file"); // the job must not replace it
    ProcessResult r = Once();
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(JsonLines(r.out).size(), 1);
    EXPECT_EQ(JsonLines(r.out)[0]["status"].toString(), "failed");
    EXPECT_EQ(ReadText(m_out + "/clip.mkv"), "someone else's file");
    EXPECT_EQ(RecordOf(m_in + "/clip.mp4")["result"].toString(), "failed");

    QFile::remove(m_out + "/clip.mkv");
    r = Once(); // unchanged: not tried again
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(m_out + "/clip.mkv"));

    // a new version of the file arrives (rewritten in place)
    QThread::msleep(20);
    WriteText(m_in + "/clip.mp4", ReadText(SampleTs()));
    r = Once();
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(JsonLines(r.out).size(), 1);
    EXPECT_EQ(JsonLines(r.out)[0]["status"].toString(), "completed");
    EXPECT_TRUE(Probe(m_out + "/clip.mkv").ok);
    EXPECT_EQ(RecordOf(m_in + "/clip.mp4")["result"].toString(), "completed");
}

TEST_F(CliWatch, FilesThatAreNotMediaAreSkippedWithALineOnce)
{
    WriteText(m_in + "/notes.txt", "not media");
    WriteText(m_in + "/fake.mp4", QByteArray(4000, 'z'));
    WriteText(m_in + "/.hidden.mp4", ReadText(SampleMp4()));
    WriteText(m_in + "/download.mp4.part", ReadText(SampleMp4()));
    ASSERT_TRUE(QFile::copy(SampleMp4(), m_in + "/real.mp4"));
    ProcessResult r = Once();
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(JsonLines(r.out).size(), 1);
    EXPECT_TRUE(r.err.contains(m_in + "/notes.txt: skipped, not a media file")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(m_in + "/fake.mp4: skipped, not a media file"));
    EXPECT_EQ(QDir(m_out).entryList(QDir::Files), QStringList{"real.mkv"});
    EXPECT_EQ(RecordOf(m_in + "/fake.mp4")["result"].toString(), "skipped");

    r = Once();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(r.err.contains("skipped")) << r.err.toStdString();
}

TEST_F(CliWatch, AFolderThatDisappearsIsReportedAndWatchedAgainWhenBack)
{
    RunningWatch watch(WatchArgs({"--recursive"}));
    ASSERT_TRUE(watch.WaitForError("watching"));
    const QString aside = m_in + ".away";
    ASSERT_TRUE(QDir().rename(m_in, aside));
    EXPECT_TRUE(watch.WaitForError("incoming: the folder is gone")) << watch.Err().toStdString();
    ASSERT_TRUE(QDir().rename(aside, m_in));
    EXPECT_TRUE(watch.WaitForError("incoming: the folder is back")) << watch.Err().toStdString();
    QDir().mkpath(m_in + "/sub");
    QThread::msleep(300);
    ASSERT_TRUE(QFile::copy(SampleMp4(), m_in + "/sub/late.mp4"));
    const QList<QJsonObject> reports = watch.WaitForReports(1);
    EXPECT_EQ(watch.Interrupt(), 130);
    ASSERT_EQ(reports.size(), 1) << watch.Err().toStdString();
    EXPECT_TRUE(Probe(m_out + "/sub/late.mkv").ok);
}

TEST_F(CliWatch, TheCommandLineIsChecked)
{
    EXPECT_EQ(Cli({"watch", m_in, "-o", m_out}).exitCode, 2);            // no profile
    EXPECT_EQ(Cli({"watch", m_in, "-p", "matroska video"}).exitCode, 2); // no output folder
    EXPECT_EQ(Cli({"watch", m_in + "/none", "-p", "matroska video", "-o", m_out}).exitCode, 2);
    EXPECT_EQ(Cli({"watch", m_in, "-p", "no such profile", "-o", m_out}).exitCode, 2);
    EXPECT_EQ(Cli({"watch", m_in, "-p", "matroska video", "-o", m_out, "--stable", "x"}).exitCode, 2);
}

TEST_F(CliWatch, ACategoryPutsCompletedConversionsIntoTheHistory)
{
    ASSERT_TRUE(QFile::copy(SampleMp4(), m_in + "/one.mp4"));
    ProcessResult r = Cli(WatchArgs({"--once", "--category", "Watched"}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_TRUE(QFile::copy(SampleTs(), m_in + "/two.ts"));
    r = Cli(WatchArgs({"--once", "--category", "watched"})); // the same category, found ignoring case
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    korvane::TPersistentManager db;
    db.Open(m_settings, m_out);
    int watched = 0, categories = 0;
    for (const korvane::TCategoryRow& row :
         db.LoadConvertedNodes(korvane::TPersistentManager::kRootCategoryId)) {
        ++categories;
        if (row.Category == "Watched") watched = row.ID;
    }
    ASSERT_NE(watched, 0);
    EXPECT_EQ(categories, 1);
    const auto rows = db.LoadConvertedTasks(watched);
    ASSERT_EQ(rows.size(), 2u);
    QStringList targets;
    for (const auto& row : rows) {
        EXPECT_FALSE(row.Converting);
        targets << (row.ConvertSettings.contains(m_out + "/one.mkv")   ? "one"
                    : row.ConvertSettings.contains(m_out + "/two.mkv") ? "two"
                                                                       : "?");
    }
    targets.sort();
    EXPECT_EQ(targets, QStringList({"one", "two"}));
}
