// TFolderWatch on its own, with the probe replaced: what it hands out, when,
// and what the record makes of a second look.
#include "watch/FolderWatch.h"
#include "MediaFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return condition();
}

void Write(const QString& file, const QByteArray& data)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

struct Watched
{
    QStringList converted, log;
    int idle = 0;
    void Connect(TFolderWatch& w)
    {
        w.IsMedia = [](const QString& file) { return file.endsWith(".mp4"); };
        w.OnConvert = [this, &w](const TWatchItem& item) {
            converted << QDir(item.Source).dirName() + " -> " + QFileInfo(item.Target).fileName();
            w.Finished(item.Source, "completed");
        };
        w.OnLog = [this](const QString& line) { log << line; };
        w.OnIdle = [this] { ++idle; };
    }
};

} // namespace

TEST(FolderWatch, AFolderMissingAtStartIsWaitedForWhenAsked)
{
    const QString root = TempDir();
    const QString folder = root + "/later";
    TWatchRecord record(root + "/record.json");
    TFolderWatch refused({{folder}, false, root + "/out", ".mkv", 100}, &record);
    EXPECT_TRUE(refused.Start().contains("no such folder"));

    TFolderWatch watch({{folder}, false, root + "/out", ".mkv", 100, true}, &record);
    Watched seen;
    seen.Connect(watch);
    ASSERT_TRUE(watch.Start().isEmpty());
    EXPECT_TRUE(seen.log.join('\n').contains("later: no such folder; watching for it to appear"));
    QDir().mkpath(folder);
    ASSERT_TRUE(WaitFor([&] { return seen.log.join('\n').contains("later: the folder is back"); }));
    Write(folder + "/clip.mp4", "a");
    ASSERT_TRUE(WaitFor([&] { return seen.converted.size() == 1; }));
    EXPECT_EQ(seen.converted[0], "clip.mp4 -> clip.mkv");
}

TEST(FolderWatch, OutputsInsideTheWatchedTreeAndUnfinishedNamesAreLeftAlone)
{
    const QString root = TempDir();
    QDir().mkpath(root + "/in/out");
    Write(root + "/in/out/made.mp4", "output of an earlier run");
    Write(root + "/in/copying.mp4.part", "x");
    Write(root + "/in/.hidden.mp4", "x");
    Write(root + "/in/real.mp4", "x");
    TWatchRecord record(root + "/record.json");
    TFolderWatch watch({{root + "/in"}, true, root + "/in/out", ".mkv", 100}, &record);
    Watched seen;
    seen.Connect(watch);
    ASSERT_TRUE(watch.Start().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return seen.idle > 0; }));
    EXPECT_EQ(seen.converted, QStringList{"real.mp4 -> real.mkv"});

    // a second watch over the same record takes nothing; a change is taken
    TFolderWatch again({{root + "/in"}, true, root + "/in/out", ".mkv", 100}, &record);
    Watched second;
    second.Connect(again);
    ASSERT_TRUE(again.Start().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return second.idle > 0; }));
    EXPECT_TRUE(second.converted.isEmpty());
    QThread::msleep(20);
    Write(root + "/in/real.mp4", "changed");
    ASSERT_TRUE(WaitFor([&] { return second.converted.size() == 1; }));
}
