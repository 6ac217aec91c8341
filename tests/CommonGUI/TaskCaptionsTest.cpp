#include "TaskWorld.h"

#include "PropertyDocument.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <atomic>
#include <map>
#include <thread>

using namespace korvane;
using namespace korvane::test;

namespace {

// Sets the default locale for one test.
class LocaleScope
{
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_old); }

private:
    QLocale m_old;
};

} // namespace

TEST(TaskCaptions, SizesTimesAndBitratesAsShown)
{
    EXPECT_EQ(SizeText(0), "0KB");
    EXPECT_EQ(SizeText(1023), "0KB");
    EXPECT_EQ(SizeText(2048 + 1023), "2KB");
    EXPECT_EQ(SizeText(5LL << 30), "5242880KB");
    // halves to even, no zero padding
    EXPECT_EQ(DurationText(0.5), "0:0:0");
    EXPECT_EQ(DurationText(1.5), "0:0:2");
    EXPECT_EQ(DurationText(2.5), "0:0:2");
    EXPECT_EQ(DurationText(2.51), "0:0:3");
    EXPECT_EQ(DurationText(3725.4), "1:2:5");

    LocaleScope c(QLocale::c());
    EXPECT_EQ(BitrateText(0), ".0");
    EXPECT_EQ(BitrateText(0.5), ".5");
    EXPECT_EQ(BitrateText(12), "12.0");
    EXPECT_EQ(BitrateText(12.3), "12.3");
    EXPECT_EQ(BitrateText(999.999), "1,000.0");
    EXPECT_EQ(BitrateText(1234.567), "1,234.57");
    EXPECT_EQ(BitrateText(1234567.891), "1,234,567.89");
    {
        LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
        EXPECT_EQ(BitrateText(1234.567), "1.234,57");
        EXPECT_EQ(BitrateText(0.25), ",25");
    }
}

TEST(TaskCaptions, ColumnsOfAWaitingAndAFinishedTask)
{
    TaskWorld w;
    auto s = w.Settings("/media/in/clip.avi", "clip.mp4");
    s->SetProfile("iPod Video");
    TConvertingTask file(std::move(s), &w.env);
    // a task that has not run shows no time left, and its source's size
    // once the look at the disk has come back
    const QStringList expected = {"clip.avi", "0KB", "clip.mp4", "0KB", "iPod Video",
                                  "0:0:0",    "0%",  ".0",       "",    "0:0:0"};
    LocaleScope c(QLocale::c());
    EXPECT_TRUE(WaitUntil([&] { return file.GetCaption(1) == "0KB" && file.GetCaption(3) == "0KB"; }));
    for (int column = 0; column < 10; ++column)
        EXPECT_EQ(file.GetCaption(column), expected[column]) << column;
    EXPECT_EQ(file.GetCaption(10), "");

    // a task brought back after the program ended (stopped or killed) shows
    // what its output already holds
    {
        QDir().mkpath(w.outputFolder);
        QFile left(w.outputFolder + "/left.mp4");
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
        left.write(QByteArray(6 * 1024, 'x'));
    }
    TConvertingTask restored(w.Settings(SampleMp4(), "left.mp4"), &w.env);
    restored.SetStatus(TAVTask::stError);
    EXPECT_TRUE(WaitUntil([&] { return restored.GetCaption(3) == "6KB"; })) << restored.GetCaption(3).toStdString();

    auto d = w.Settings("stream:7", "title.mp4");
    d->SetSourceType(TConversionSettings::stDvd);
    d->SetDvdVolume("HOLIDAY");
    d->SetDvdTitle(3);
    TConvertingTask dvd(std::move(d), &w.env);
    EXPECT_EQ(dvd.GetCaption(0), "dvd[HOLIDAY:title3]");

    auto f = w.Settings(SampleMp4(), "gone.mp4");
    f->SetDuration(62.5);
    f->SetSourceFileSize(4096);
    TConvertingTask finished(std::move(f), &w.env);
    finished.SetIsConverted(true);
    finished.SetStatus(TAVTask::stFinished);
    finished.SetDate(QDateTime(QDate(2026, 12, 9), QTime(7, 5, 3)));
    EXPECT_EQ(finished.GetCaption(1), "4KB");
    EXPECT_TRUE(WaitUntil([&] { return finished.GetCaption(3) == "0KB"; })) << finished.GetCaption(3).toStdString();
    EXPECT_EQ(finished.GetCaption(5), "0:1:2");
    {
        LocaleScope us(QLocale(QLocale::English, QLocale::UnitedStates));
        // short date, long time without the zone name
        const QString date = finished.GetCaption(6);
        EXPECT_TRUE(date.startsWith("12/9/26 7:05:03")) << date.toStdString();
        EXPECT_TRUE(date.endsWith("AM")) << date.toStdString();
        EXPECT_LE(date.size(), 19);
    }
    EXPECT_EQ(finished.GetCaption(7), "");
    EXPECT_FALSE(finished.ConvertedIsValid());
}

TEST(TaskLog, KeepsTheNewest51LinesTrimmedWhileWorkersAppend)
{
    TaskWorld w;
    TConvertingTask task(w.Settings(SampleMp4(), "x.mp4"), &w.env);
    task.AppendLog("\t  first line \x01\r\n");
    EXPECT_EQ(task.Log(), QStringList{"first line"});

    // the workers' second half waits for the reader's last clear, so the
    // log cannot end up cleared after the last line, however they are timed
    std::atomic<bool> clearsDone{false};
    std::vector<std::thread> workers;
    for (int n = 0; n < 4; ++n)
        workers.emplace_back([&task, &clearsDone, n] {
            for (int i = 0; i < 2000; ++i) {
                if (i == 1000)
                    while (!clearsDone.load())
                        std::this_thread::yield();
                task.AppendLog(QStringLiteral("worker %1 line %2").arg(n).arg(i));
            }
        });
    int reads = 0;
    for (int i = 0; i < 2000; ++i) {
        const QStringList copy = task.Log();
        EXPECT_LE(copy.size(), 51);
        reads += int(copy.size() > 0);
        if (i % 100 == 0)
            task.ClearLog();
    }
    clearsDone = true;
    for (std::thread& t : workers)
        t.join();
    const QStringList log = task.Log();
    ASSERT_EQ(log.size(), 51);
    // each worker's lines stay in order; the newest line is a last one
    std::map<QString, int> lastOf;
    for (const QString& line : log) {
        const QStringList parts = line.split(' ');
        ASSERT_EQ(parts.size(), 4) << line.toStdString();
        const int n = parts[3].toInt();
        if (lastOf.count(parts[1])) {
            EXPECT_GT(n, lastOf[parts[1]]);
        }
        lastOf[parts[1]] = n;
    }
    EXPECT_TRUE(log.last().endsWith(" line 1999"));
    EXPECT_GT(reads, 0);

    // the log list follows the task and forgets it when it goes
    auto* owned = new TConvertingTask(w.Settings(SampleMp4(), "y.mp4"), &w.env);
    TLogListModel view;
    owned->LoadTaskInfo(&view);
    owned->AppendLog("one");
    owned->AppendLog("two");
    ASSERT_TRUE(WaitUntil([&] { return view.rowCount() == 2; }, 2000));
    EXPECT_EQ(view.Lines(), QStringList({"one", "two"}));
    delete owned;
    EXPECT_EQ(view.rowCount(), 0);
    EXPECT_EQ(view.Task(), nullptr);
}
