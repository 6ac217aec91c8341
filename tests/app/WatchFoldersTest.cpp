// The desktop program's watch folders: a file arriving in a listed folder
// becomes a task under Converting, converts, and is kept in the entry's
// history category, made when missing; it is not taken a second time.
#include "WatchFolders.h"
#include "MainWindowSupport.h"
#include "MediaFixtures.h"
#include "PersistentManager.h"
#include "watch/WatchFolderList.h"
#include "watch/WatchService.h"

#include <QDir>
#include <QFile>

using namespace korvane;
using namespace korvane::test;

TEST_F(MainWindowTest, AWatchFolderFileIsConvertedIntoItsCategory)
{
    qputenv("XDG_STATE_HOME", dir.filePath("state").toUtf8());
    const QString in = dir.filePath("incoming"), out = dir.filePath("converted");
    QDir().mkpath(in);
    ASSERT_TRUE(TWatchFolderList::Save({{in, "matroska video", out, "Watched"}}).isEmpty());
    TWatchService* service = StartWatchFolders(dm.get(), window.get());
    ASSERT_EQ(service->Running(), 1);
    service->StableMs = 300; // started again with a short wait
    service->Start(TWatchFolderList::Load());

    ASSERT_TRUE(QFile::copy(SampleMp4(), in + "/clip.mp4"));
    int category = 0;
    ASSERT_TRUE(WaitFor([&] {
        category = FindHistoryCategory(dm->Db(), "Watched");
        return category != 0 && dm->Db()->LoadConvertedTasks(category).size() == 1;
    })) << messages.join('\n').toStdString();
    EXPECT_TRUE(Converting()->Tasks().isEmpty());
    EXPECT_NE(Explorer()->FindCategory(category), nullptr) << "the new category is shown in the explorer";
    const ProbeResult probe = Probe(out + "/clip.mkv");
    ASSERT_TRUE(probe.ok) << probe.error.toStdString();
    EXPECT_NEAR(probe.duration, 2.0, 0.2);

    // the same file is not taken again, also after a restart of the watches
    service->Start(TWatchFolderList::Load());
    QTest::qWait(1200);
    EXPECT_TRUE(Converting()->Tasks().isEmpty());
    EXPECT_EQ(dm->Db()->LoadConvertedTasks(category).size(), 1u);
}

TEST_F(MainWindowTest, AWatchFolderWithAnUnknownProfileIsLeftOut)
{
    qputenv("XDG_STATE_HOME", dir.filePath("state").toUtf8());
    QDir().mkpath(dir.filePath("in"));
    ASSERT_TRUE(
        TWatchFolderList::Save({{dir.filePath("in"), "no such profile", dir.filePath("out"), ""}}).isEmpty());
    TWatchService* service = StartWatchFolders(dm.get(), window.get());
    EXPECT_EQ(service->Running(), 0);
}
