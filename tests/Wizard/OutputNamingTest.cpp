#include "OutputNaming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace korvane;

namespace {

TEST(OutputNaming, ExtensionReplacesWhatFollowsTheLastDotOfTheFileName)
{
    EXPECT_EQ(ChangeFileExt("/a/name.avi", ".mp4"), "/a/name.mp4");
    EXPECT_EQ(ChangeFileExt("/a/my name.v1.avi", ".mp3"), "/a/my name.v1.mp3");
    EXPECT_EQ(ChangeFileExt("/a.dir/name", ".mp4"), "/a.dir/name.mp4"); // a dot in a folder is not one
    EXPECT_EQ(ChangeFileExt("name", ".mkv"), "name.mkv");
    EXPECT_EQ(JoinFolder("/out/", "a.mp4"), "/out/a.mp4");
    EXPECT_EQ(JoinFolder("/out", "a.mp4"), "/out/a.mp4");
    EXPECT_EQ(JoinFolder("", "a.mp4"), "a.mp4");
    EXPECT_EQ(FileOutputPath("/out", "/src/clip.final.mov", ".mp4"), "/out/clip.final.mp4");
}

TEST(OutputNaming, BatchOutputsShareTheFirstFolderAndNeverCollide)
{
    const QStringList sources{"/one/a.avi", "/two/a.mkv", "/two/clip.mov", "/three/a.wmv"};
    const QStringList outputs = BatchOutputPaths("/out/first.mp4", sources, ".mp4");
    EXPECT_EQ(outputs, (QStringList{"/out/first.mp4", "/out/a.mp4", "/out/clip.mp4", "/out/a (2).mp4"}));
    // The first source's typed name counts as taken too.
    EXPECT_EQ(BatchOutputPaths("/out/a.mp4", {"/x/a.avi", "/y/a.avi"}, ".mp4"),
              (QStringList{"/out/a.mp4", "/out/a (2).mp4"}));
    EXPECT_EQ(BatchOutputPaths("/out/a.mp4", {"/x/a.avi"}, ".mp4"), QStringList{"/out/a.mp4"});
}

TEST(OutputNaming, SameFileSeesThroughLinksAndDots)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile f(dir.filePath("real.mp4"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_TRUE(QFile::link(dir.filePath("real.mp4"), dir.filePath("link.mp4")));
    EXPECT_EQ(SameFile(dir.filePath("link.mp4")), SameFile(dir.filePath("real.mp4")));
    EXPECT_EQ(SameFile(dir.path() + "/sub/../new.mp4"), SameFile(dir.path() + "/new.mp4"));
}

} // namespace
