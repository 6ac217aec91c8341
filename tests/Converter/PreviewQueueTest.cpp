// The preview source's queues and its reading: each queue is bounded on its
// own, a graph that gives no picture is not decoded over and over, and
// waiters on the stream lock do not wait for a slow read.
#include "MediaFixtures.h"
#include "options/Persistent.h"
#include "preview/AVPlayer.h"
#include "preview/PushSource.h"
#include "sources/StreamProtocol.h"

#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

using namespace korvane;
using korvane::test::Fixture;
using korvane::test::RunProcess;

namespace {

// One still picture and 30 s of sound: the pictures' queue never fills.
QString StillImageMp4()
{
    return Fixture(QStringLiteral("preview_still.mp4"),
                   {"-f", "lavfi", "-i", "color=c=blue:size=320x240:rate=1:duration=1", "-f", "lavfi", "-i",
                    "sine=frequency=440:duration=30", "-c:v", "libx264", "-tune", "stillimage", "-c:a", "aac"});
}

// 10 s of pictures and 1 s of sound: after the first second only pictures come.
QString SoundEndsEarly()
{
    return Fixture(QStringLiteral("preview_short_sound.mp4"),
                   {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=10", "-f", "lavfi", "-i",
                    "sine=frequency=440:duration=1", "-c:v", "libx264", "-g", "50", "-pix_fmt", "yuv420p", "-c:a",
                    "aac"});
}

// 20 s of small pictures, keyframes every 2 s.
QString LongSmallClip()
{
    return Fixture(QStringLiteral("preview_long_small.mp4"),
                   {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=20", "-c:v", "libx264", "-g",
                    "50", "-pix_fmt", "yuv420p"});
}

// Waits until the streaming thread has nothing more to do for a while (the
// queue counts stop moving).
void Settle(const TFFPushSource& source)
{
    int lastVideo = -1, lastAudio = -1;
    for (int still = 0, i = 0; still < 10 && i < 400; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const int v = source.QueuedVideo(), a = source.QueuedAudio();
        still = v == lastVideo && a == lastAudio ? still + 1 : 0;
        lastVideo = v;
        lastAudio = a;
    }
}

} // namespace

TEST(PreviewQueues, EachQueueIsBoundedOnItsOwn)
{
    {
        // nothing takes the sound: it stops at the queue's depth although
        // the pictures' queue holds one picture
        TFFPushSource source;
        source.Load(StillImageMp4());
        Settle(source);
        EXPECT_EQ(source.QueuedVideo(), 1);
        // one block of AAC past the bound at most
        EXPECT_LE(source.QueuedAudioUs(), TFFPushSource::kAudioQueueUs + 30000);
        EXPECT_GE(source.QueuedAudioUs(), TFFPushSource::kAudioQueueUs);
    }
    {
        // paused after the sound ended: the pictures stop at the depth too
        TFFPushSource source;
        source.Load(SoundEndsEarly());
        source.Seek(5000000);
        Settle(source);
        EXPECT_EQ(source.QueuedAudio(), 0);
        EXPECT_LE(source.QueuedVideo(), TFFPushSource::kQueueDepth);
        EXPECT_GT(source.QueuedVideo(), 0);
        // and taking them reads on to the end
        int taken = 0;
        while (!source.EndOfStream() && taken < 1000)
            if (source.WaitVideo(2000))
                ++taken;
        EXPECT_EQ(taken, 125);
    }
}

// A description whose graph never gives a picture: a seek near the end reads
// the file once to its end, not again from ever earlier points.
TEST(PreviewQueues, AGraphWithoutPicturesIsNotDecodedOverAndOver)
{
    TFFPushSource source;
    source.SetVideoFilters(QStringLiteral("select=0"));
    source.Load(LongSmallClip());
    ASSERT_TRUE(source.GraphError().isEmpty()) << source.GraphError().toStdString();
    for (int i = 0; i < 400 && !source.EndOfStream(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(source.EndOfStream());
    const int64_t firstPass = source.PacketsRead();
    EXPECT_EQ(firstPass, 500);
    source.Seek(19000000);
    for (int i = 0; i < 1000 && !source.EndOfStream(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(source.EndOfStream());
    EXPECT_FALSE(source.WaitVideo(10));
    // from the keyframe at 18 s to the end
    EXPECT_LE(source.PacketsRead() - firstPass, 60);
}

namespace {

// 2 s of large intra pictures (about 50 KB each) and two sound tracks.
QString LargePictures()
{
    return Fixture(QStringLiteral("preview_large_pictures.mkv"),
                   {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=5:duration=2", "-f", "lavfi", "-i",
                    "sine=frequency=440:duration=2", "-f", "lavfi", "-i", "sine=frequency=880:duration=2", "-map",
                    "0", "-map", "1", "-map", "2", "-c:v", "mjpeg", "-q:v", "2", "-c:a", "aac"});
}

// A stream read 512 bytes at a time, each read taking as long as *delayMs:
// a slow disc.
class SlowStream : public TStream
{
public:
    SlowStream(QByteArray data, std::atomic<int>* delayMs) : m_data(std::move(data)), m_delayMs(delayMs) {}
    int64_t Read(void* buffer, int64_t count) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs->load()));
        const int64_t n = std::min<int64_t>({count, 512, m_data.size() - m_pos});
        if (n <= 0)
            return 0;
        std::memcpy(buffer, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override
    {
        const int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? m_pos
                                                                                                     : m_data.size();
        if (base + offset < 0 || base + offset > m_data.size())
            return -1;
        return m_pos = base + offset;
    }
    int64_t Size() override { return m_data.size(); }

private:
    QByteArray m_data;
    int64_t m_pos = 0;
    std::atomic<int>* m_delayMs;
};

} // namespace

// A filter change, a stream change and closing do not wait for a slow read:
// the read is interrupted and the source reads on afterwards.
TEST(PreviewQueues, ChangesAndClosingDoNotWaitForASlowRead)
{
    QFile f(LargePictures());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    static std::atomic<int> delay{0};
    delay = 0;
    const TStreamHandle handle = RegisterStream(std::make_unique<SlowStream>(f.readAll(), &delay));
    auto source = std::make_unique<TFFPushSource>();
    source->Load(StreamSourceName(handle) + ".mkv");
    ASSERT_TRUE(source->WaitVideo(5000));
    delay = 100; // a picture now takes 10 s to read
    while (source->TakeVideo()) {
    }
    while (source->TakeAudio()) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the thread is in a read
    auto since = std::chrono::steady_clock::now();
    source->SetVideoFilters(QStringLiteral("hflip"));
    EXPECT_LT(std::chrono::steady_clock::now() - since, std::chrono::milliseconds(1500));
    since = std::chrono::steady_clock::now();
    source->SetAudioIndex(1);
    EXPECT_LT(std::chrono::steady_clock::now() - since, std::chrono::milliseconds(1500));
    delay = 0;
    // it goes on reading: pictures come after the change
    source->Seek(500000);
    EXPECT_TRUE(source->WaitVideo(10000));
    delay = 100;
    while (source->TakeVideo()) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    since = std::chrono::steady_clock::now();
    source.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - since, std::chrono::milliseconds(1500));
}
