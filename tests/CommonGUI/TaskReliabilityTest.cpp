#include "TaskWorld.h"

#include "PropertyDocument.h"
#include "sources/StreamProtocol.h"
#include "transcode/AVConverter.h"

#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <csignal>
#include <cstdio>
#include <map>

using namespace korvane;
using namespace korvane::test;

namespace {

const char* const kChildEnv = "KORVANE_TASKS_CRASH_DIR";

int OrphanedTasks(const QString& file)
{
    int orphans = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "orphans");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec("select count(*) from Conversions where Converting=0 and CategoryId not in "
                       "(select ID from Categories)") &&
                q.next())
                orphans = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("orphans");
    return orphans;
}

} // namespace

// Runs in a child process started by the test below: two conversions and a
// stream of category changes, until the parent kills it with SIGKILL. Once
// both runs have written output they are paused in the middle: a fast
// machine would otherwise finish the short source before the kill arrives,
// and the history would rightly list it as converted.
TEST(TaskCrashChild, RunsUntilKilled)
{
    const QString dir = qEnvironmentVariable(kChildEnv);
    if (dir.isEmpty())
        GTEST_SKIP() << "started by TaskCrash.KillNineWhileTwoTasksRun";
    TaskWorld w(dir);
    const int chosen = w.db.NewCategory("Chosen", dir + "/chosen", 1);
    QPointer<TAVTask> a = w.Start(LongSample(), "a.mp4", chosen);
    QPointer<TAVTask> b = w.Start(LongSample(), "b.mp4");
    // each run is paused as soon as it has written output
    QElapsedTimer started;
    started.start();
    while (a && b && (a->Status() != TAVTask::stPaused || b->Status() != TAVTask::stPaused)) {
        ASSERT_LT(started.elapsed(), 60000) << "no progress";
        for (TAVTask* task : {a.data(), b.data()})
            if (task->Status() == TAVTask::stRunning && task->Converter()->Progress() > 0)
                task->Pause();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    ASSERT_FALSE(a.isNull() || b.isNull()) << "a task ended before the kill";
    ASSERT_FALSE(a->Converter()->Finished() || b->Converter()->Finished()) << "a task ended before the kill";
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < 100000; ++i) {
        // categories made and deleted with their tasks, as fast as it goes
        const int c = w.db.NewCategory(QString("C%1").arg(i), "/c", 1);
        for (int n = 0; n < 3; ++n)
            w.db.FinishDbTask(w.db.NewDbTask("t"), "t", now, c, {});
        if (i % 2 == 0)
            w.db.DeleteCategoryTree(c);
        QCoreApplication::processEvents();
        if (i == 5) {
            std::printf("READY\n");
            std::fflush(stdout);
        }
    }
}

TEST(TaskCrash, KillNineWhileTwoTasksRun)
{
    const QString dir = TempDir();
    const QString source = LongSample(); // made before, so the child only converts
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kChildEnv, dir);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=TaskCrashChild.RunsUntilKilled"});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (!out.contains("READY") && t.elapsed() < 60000 && child.state() == QProcess::Running) {
        child.waitForReadyRead(100);
        out += child.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("READY")) << "state " << int(child.state()) << " exit " << child.exitCode() << "\n"
                                       << out.toStdString() << child.readAllStandardError().toStdString();
    ::kill(pid_t(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

    TaskWorld w(dir);
    EXPECT_EQ(w.db.IntegrityCheck(), "ok");
    // no category lost half of its deletion
    EXPECT_EQ(OrphanedTasks(w.db.FileName()), 0);
    // the two conversions (a row of the churn may have been caught between
    // its insert and its finish: it is listed too, as it should be)
    std::vector<TAVTask*> conversions;
    for (int row = 0; row < w.list.Count(); ++row)
        if (w.list.TaskAt(row)->Settings()->SourceFile() == source)
            conversions.push_back(w.list.TaskAt(row));
    EXPECT_LE(w.list.Count(), 3);
    ASSERT_EQ(conversions.size(), 2u);
    TAVTask* a = conversions[0];
    TAVTask* b = conversions[1];
    for (TAVTask* task : {a, b}) {
        EXPECT_EQ(task->Status(), TAVTask::stError);
        EXPECT_EQ(task->Settings()->SourceFile(), source);
        EXPECT_EQ(task->Settings()->ConvertOptions()->VideoOptions()->property("EncoderVideoCodecName").toString(),
                  "mpeg4");
    }
    EXPECT_EQ(a->Settings()->TargetFile(), w.outputFolder + "/a.mp4");
    EXPECT_EQ(b->Settings()->TargetFile(), w.outputFolder + "/b.mp4");
    const int chosen = a->CategoryId();
    EXPECT_GT(chosen, 1);
    EXPECT_EQ(w.db.LoadConvertedNodes(1).at(0).Category, "Chosen");

    // started again, it finishes into the category chosen when it was made
    a->Start();
    ASSERT_TRUE(WaitUntil([&] { return !w.InConverting(a); }, 120000));
    const auto done = w.db.LoadConvertedTasks(chosen);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(Probe(w.outputFolder + "/a.mp4").ok);
}

// Each task's row is repainted at most 10 times a second, however often
// the converter reports.
TEST(TaskRate, RowUpdatesAreLimitedPerTask)
{
    TaskWorld w;
    auto* task = new TConvertingTask(w.Settings(SampleMp4(), "r.mp4"), &w.env);
    task->SetCategory(w.explorer.ConvertingNode());
    w.explorer.ConvertingNode()->AddTask(task);
    w.list.AddRow(task);
    QElapsedTimer t;
    t.start();
    int calls = 0;
    while (t.elapsed() < 1000) {
        task->InvalidateRow();
        ++calls;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    Pump(100);
    EXPECT_GT(calls, 200);
    EXPECT_LE(w.list.RowUpdates(), 12);
    EXPECT_GE(w.list.RowUpdates(), 6); // the last call is never lost

    // eight real conversions at once
    std::map<int, int> updatesByRow;
    QObject::connect(&w.list, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from) {
        if (TAVTask* task = w.list.TaskAt(from.row()))
            ++updatesByRow[task->ID()];
    });
    std::vector<TAVTask*> tasks;
    for (int i = 0; i < 8; ++i)
        tasks.push_back(w.Start(LongSample(), QString("rate%1.mp4").arg(i)));
    std::map<int, qint64> ended;
    t.restart();
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (TAVTask* x : w.explorer.ConvertingNode()->Tasks())
                if (x != task && x->Status() != TAVTask::stRunning)
                    return false;
            return w.explorer.ConvertingNode()->Tasks().size() == 1;
        },
        300000));
    const double seconds = t.elapsed() / 1000.0;
    ASSERT_EQ(updatesByRow.size(), 8u);
    for (const auto& [id, updates] : updatesByRow)
        EXPECT_LE(updates, 10 * seconds + 3) << "task " << id << " over " << seconds << " s";
}

namespace {

const QString kDvdRoot = QStringLiteral(KORVANE_FIXTURE_DIR "/dvd_tasks");

// A disc with one 3 s title in two chapters, built once with dvdauthor.
QString DvdDisc()
{
    const QString disc = kDvdRoot + "/DISC";
    QDir().mkpath(kDvdRoot);
    QLockFile lock(kDvdRoot + ".lock");
    lock.setStaleLockTime(600000);
    lock.lock();
    if (QFileInfo::exists(disc + "/VIDEO_TS/VIDEO_TS.IFO"))
        return disc;
    const QString clip = Fixture("dvd_tasks_title.mpg",
                                 {"-f", "lavfi", "-i", "testsrc=size=352x288:rate=25:duration=3", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=48000:duration=3", "-target", "pal-dvd", "-s",
                                  "352x288", "-b:v", "600k", "-g", "12"});
    const QString partial = kDvdRoot + "/partial";
    QDir(partial).removeRecursively();
    for (const QStringList& args : {QStringList{"dvdauthor", "-o", partial, "-t", "-c", "0,1.5", clip},
                                    QStringList{"dvdauthor", "-o", partial, "-T"}}) {
        const ProcessResult r = RunProcess("env", QStringList{"VIDEO_FORMAT=PAL"} + args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    QDir().rename(partial, disc);
    return disc;
}

QString DvdDoc(const QString& drive, const QString& sourceName, const QString& target)
{
    TConversionSettings s;
    s.SetSourceFile(sourceName);
    s.SetSourceType(TConversionSettings::stDvd);
    s.SetDvdDriver(drive);
    s.SetDvdTitle(1);
    s.SetDvdChapter(1);
    s.SetDvdThrough(2);
    s.SetDvdAngle(1);
    s.SetDvdVolume("DISC");
    s.SetTargetFile(target);
    s.SetCategoryId(1);
    s.ConvertOptions()->VideoOptions()->setProperty("EncoderVideoCodecName", "mpeg4");
    return WritePropertyDocument(&s);
}

class SilentStream : public TStream
{
public:
    int64_t Read(void*, int64_t) override
    {
        ++reads;
        return 0;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
    int64_t Size() override { return 0; }
    static inline int reads = 0;
};

} // namespace

// A DVD task brought back from the history opens its title again; the
// stream name it was stored with is never used.
TEST(TaskDvd, RestoredTaskReopensTheTitleOrSaysTheDiscIsGone)
{
    const QString disc = DvdDisc();
    const QString dir = TempDir();
    // a stream of this process that happens to carry the stored number
    const TStreamHandle live = RegisterStream(std::make_unique<SilentStream>());
    const QString stale = StreamSourceName(live);
    {
        TPersistentManager db;
        db.Open(dir + "/settings", dir + "/out");
        db.NewDbTask(DvdDoc(disc, stale, dir + "/out/title.mp4"));
        db.NewDbTask(DvdDoc(dir + "/no-disc-here", stale, dir + "/out/gone.mp4"));
    }
    TaskWorld w(dir);
    ASSERT_EQ(w.list.Count(), 2);
    TAVTask* title = w.list.TaskAt(0);
    TAVTask* gone = w.list.TaskAt(1);
    EXPECT_EQ(title->GetCaption(0), "dvd[DISC:title1]");

    gone->Start();
    EXPECT_EQ(gone->Status(), TAVTask::stError);
    EXPECT_EQ(gone->Converter(), nullptr); // nothing was run
    ASSERT_FALSE(gone->Log().isEmpty());
    EXPECT_EQ(gone->Log().last(), "Can not open DVD");
    EXPECT_EQ(w.db.LoadConvertingTasks()[1].Log().last(), "Can not open DVD");

    title->Start();
    ASSERT_NE(title->Converter(), nullptr);
    EXPECT_NE(title->Converter()->InputFiles().at(0), stale);
    ASSERT_TRUE(WaitUntil([&] { return !w.InConverting(title); }, 120000));
    const ProbeResult p = Probe(dir + "/out/title.mp4");
    ASSERT_TRUE(p.ok);
    EXPECT_NEAR(p.duration, 3, 0.6);
    EXPECT_EQ(SilentStream::reads, 0);
    EXPECT_TRUE(IsStreamRegistered(live));
    ReleaseStream(live);
}
