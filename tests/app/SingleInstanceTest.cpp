#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <future>

using namespace korvane;

namespace {

// The second start runs on a thread of its own: its blocking handshake needs
// the first instance's event loop running meanwhile, as between processes.
bool SendFromSecondStart(const QString& socket, const QStringList& files)
{
    auto result = std::async(std::launch::async, [=] { return TSingleInstance(socket).SendToRunning(files); });
    while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QTest::qWait(5);
    return result.get();
}

} // namespace

TEST(SingleInstance, ASecondStartHandsItsFilesToTheFirst)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath("instance");
    EXPECT_FALSE(TSingleInstance(socket).SendToRunning({"a.mp4"}, 200)) << "nobody listens yet";

    TSingleInstance first(socket);
    ASSERT_TRUE(first.Listen());
    QSignalSpy received(&first, &TSingleInstance::FilesReceived);

    const QString relative = "clip with spaces.mkv";
    ASSERT_TRUE(SendFromSecondStart(socket, {"/media/one.mp4", relative, "/media/ünïcode.avi"}));
    ASSERT_EQ(received.count(), 1);
    EXPECT_EQ(received[0][0].toStringList(),
              QStringList({"/media/one.mp4", QDir::current().absoluteFilePath(relative), "/media/ünïcode.avi"}));

    // without files the running window is only brought forward
    ASSERT_TRUE(SendFromSecondStart(socket, {}));
    ASSERT_EQ(received.count(), 2);
    EXPECT_TRUE(received[1][0].toStringList().isEmpty());

    // while the first one runs, a second cannot take over the name
    TSingleInstance second(socket);
    EXPECT_FALSE(second.Listen());
}

TEST(SingleInstance, ASocketLeftByACrashedInstanceIsTakenOver)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath("instance");
    QFile stale(socket);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();

    TSingleInstance first(socket);
    ASSERT_TRUE(first.Listen());
    QSignalSpy received(&first, &TSingleInstance::FilesReceived);
    ASSERT_TRUE(SendFromSecondStart(socket, {"/x.mp4"}));
    EXPECT_EQ(received.count(), 1);
}
