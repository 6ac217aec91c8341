#include "transcode/AVConverter.h"
#include "av/AVLib.h"
#include "av/FFmpeg.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace korvane;
using namespace korvane::test;

namespace {

// A converter whose transcoding run only turns the loop hooks, logging one
// line per pass from its worker and one through a tagged codec context from
// a thread of its own, as the library's worker threads do.
class LoopConverter : public TAVConverter
{
public:
    std::atomic<int> passes{0};
    int maxPasses = 1000000;
    QString tag;
    ~LoopConverter() override { StopAndWait(); }

    void SetClock(int64_t start, int64_t last)
    {
        SetStartTime(start);
        SetLastTime(last);
    }

protected:
    void Transcode() override
    {
        BeginTranscode();
        av::CodecContextPtr ctx(avcodec_alloc_context3(nullptr));
        TagContext(ctx.get(), LogJobId());
        while (LoopPass() && passes < maxPasses) {
            ++passes;
            av_log(nullptr, AV_LOG_ERROR, "%s pass\n", qPrintable(tag));
            std::thread helper([&] { av_log(ctx.get(), AV_LOG_ERROR, "%s helper\n", qPrintable(tag)); });
            helper.join();
            av_log(nullptr, AV_LOG_VERBOSE, "%s verbose\n", qPrintable(tag));
            QThread::msleep(2);
        }
    }
};

void Prepare(TAVConverter& c, const QString& name)
{
    c.SetInputFiles({SampleMp4()});
    c.SetOutputFiles({TempDir() + "/" + name});
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!condition() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

} // namespace

TEST(Converter, ProgressAndRemainingTime)
{
    LoopConverter c;
    EXPECT_EQ(c.Progress(), 0);
    EXPECT_EQ(c.GetRemainingTime(), 362439);
    c.SetDuration(100);
    c.SetConvertedDuration(25);
    EXPECT_EQ(c.Progress(), 25);
    c.SetClock(0, 30000000);
    EXPECT_EQ(c.GetElapsedTime(), 30);
    EXPECT_EQ(c.GetRemainingTime(), 90);
    c.ConvertOptions()->m_startTime = 10000000;
    c.ConvertOptions()->m_recordingTime = 30000000;
    c.SetConvertedDuration(15);
    EXPECT_EQ(c.Progress(), 50);
    c.ConvertOptions()->m_startTime = 200000000; // past the end: no span left
    EXPECT_EQ(c.Progress(), 0);
}

TEST(Converter, StateRequestsOnlyChangeWhatTheyShould)
{
    TAVConverter c;
    c.Stop();
    c.Pause();
    c.Resume();
    EXPECT_EQ(c.State(), TAVConverter::stIdle);
}

TEST(Converter, PauseHoldsTheWorkerAndStopEndsWithoutCompletion)
{
    LoopConverter c;
    JobEvents ev;
    Record(c, ev);
    Prepare(c, "pause.mkv");
    c.Start();
    ASSERT_TRUE(WaitFor([&] { return c.passes > 3; }));
    c.Pause();
    c.Resume(); // back to running
    EXPECT_EQ(c.State(), TAVConverter::stRunning);
    c.Pause();
    EXPECT_EQ(c.State(), TAVConverter::stPaused);
    QThread::msleep(50);
    const int held = c.passes;
    WaitFor([] { return false; }, 200);
    EXPECT_LE(c.passes - held, 1); // at most the pass that was under way
    c.Resume();
    ASSERT_TRUE(WaitFor([&] { return c.passes > held + 3; }));
    c.Pause();
    c.Stop(); // a stop while paused is seen at once
    ASSERT_TRUE(WaitFinished(ev));
    EXPECT_EQ(ev.order, (QStringList{"progress", "stopped", "finished"}));
    EXPECT_EQ(c.State(), TAVConverter::stIdle);
    EXPECT_FALSE(ThreadRegistry::Contains(&c));
    EXPECT_TRUE(c.ErrorText().isEmpty());
}

TEST(Converter, CompletedJobFiresCompleteOnce)
{
    LoopConverter c;
    c.maxPasses = 5;
    JobEvents ev;
    Record(c, ev);
    Prepare(c, "complete.mkv");
    c.Start();
    ASSERT_TRUE(WaitFinished(ev));
    EXPECT_EQ(ev.order, (QStringList{"progress", "complete", "finished"}));
}

TEST(Converter, FailureBeforeTranscodingIsReportedAndLeavesNoTrace)
{
    {
        TAVConverter c;
        JobEvents ev;
        Record(c, ev);
        c.SetInputFiles({TempDir() + "/missing.mp4"});
        c.SetOutputFiles({TempDir() + "/out.mkv"});
        c.Start();
        ASSERT_TRUE(WaitFinished(ev));
        EXPECT_EQ(ev.order, (QStringList{"failed", "finished"}));
        EXPECT_EQ(c.ErrorText(), QString("Could not open file:%1!").arg(AVERROR(ENOENT)));
        EXPECT_EQ(c.State(), TAVConverter::stIdle);
        EXPECT_FALSE(ThreadRegistry::Contains(&c));
    }
    {
        TAVConverter c;
        JobEvents ev;
        Record(c, ev);
        c.SetOutputFiles({TempDir() + "/out.mkv"});
        c.Start();
        ASSERT_TRUE(WaitFinished(ev));
        EXPECT_EQ(ev.order, (QStringList{"failed", "finished"}));
    }
    {
        TAVConverter c;
        JobEvents ev;
        Record(c, ev);
        Prepare(c, "maps.mkv");
        c.ConvertOptions()->m_streamMaps = {"0=x"};
        c.Start();
        ASSERT_TRUE(WaitFinished(ev));
        EXPECT_EQ(ev.order, (QStringList{"failed", "finished"}));
        EXPECT_FALSE(c.ErrorText().isEmpty());
    }
    {
        TAVConverter c;
        JobEvents ev;
        Record(c, ev);
        Prepare(c, "format.mkv");
        c.ConvertOptions()->m_outputFormat = "nosuchformat";
        c.Start();
        ASSERT_TRUE(WaitFinished(ev));
        EXPECT_EQ(c.ErrorText(), "Unknown input  or Output format nosuchformat");
    }
    EXPECT_EQ(ThreadRegistry::Count(), 0);
}

TEST(Converter, LogLinesReachTheirOwnJobOnly)
{
    LoopConverter a, b;
    a.tag = "alpha";
    b.tag = "beta";
    a.maxPasses = b.maxPasses = 20;
    std::mutex lock;
    QStringList linesA, linesB;
    a.OnLog = [&](TAVConverter*, int, const QString& text) {
        std::lock_guard g(lock);
        linesA << text;
    };
    b.OnLog = [&](TAVConverter*, int, const QString& text) {
        std::lock_guard g(lock);
        linesB << text;
    };
    JobEvents ea, eb;
    Record(a, ea);
    Record(b, eb);
    a.OnLog = a.OnLog;
    Prepare(a, "a.mkv");
    Prepare(b, "b.mkv");
    a.Start();
    b.Start();
    av_log(nullptr, AV_LOG_ERROR, "main thread line\n"); // belongs to no job
    ASSERT_TRUE(WaitFinished(ea));
    ASSERT_TRUE(WaitFinished(eb));
    std::lock_guard g(lock);
    EXPECT_EQ(linesA.filter("alpha pass").size(), 20);
    EXPECT_EQ(linesA.filter("alpha helper").size(), 20);
    EXPECT_EQ(linesB.filter("beta pass").size(), 20);
    EXPECT_EQ(linesB.filter("beta helper").size(), 20);
    EXPECT_TRUE(linesA.filter("beta").isEmpty());
    EXPECT_TRUE(linesB.filter("alpha").isEmpty());
    EXPECT_TRUE(linesA.filter("verbose").isEmpty()); // above the level filter
    EXPECT_TRUE(linesA.filter("main thread").isEmpty());
    EXPECT_FALSE(a.LastLogLine().startsWith("beta"));
}

TEST(Converter, TimeTextAndPtsGuess)
{
    EXPECT_EQ(TimeText(3725), "1:2:5");
    EXPECT_EQ(TimeText(0), "0:0:0");
    EXPECT_EQ(Clip(5, 0, 3), 3);
    EXPECT_EQ(SwapRgb(0x112233), 0x332211u);
    PtsCorrection ctx;
    EXPECT_EQ(GuessCorrectPts(ctx, 10, 5), 10);
    EXPECT_EQ(GuessCorrectPts(ctx, 8, 6), 6); // the pts went back: the dts is trusted
    EXPECT_EQ(GuessCorrectPts(ctx, 7, 7), 7);
    EXPECT_EQ(GuessCorrectPts(ctx, AV_NOPTS_VALUE, 9), 9);
}

TEST(Converter, StopAskedWhileOpeningIsNotLost)
{
    TAVConverter c;
    JobEvents ev;
    Record(c, ev);
    Prepare(c, "early.mkv");
    c.ConvertOptions()->VideoOptions()->m_videoStreamCopy = true;
    c.Start();
    c.Stop(); // the worker is at most opening its files now
    ASSERT_TRUE(WaitFinished(ev));
    ev.order.removeAll("progress"); // one pass may report before it sees the stop
    EXPECT_EQ(ev.order, (QStringList{"stopped", "finished"}));
    EXPECT_TRUE(c.ErrorText().isEmpty());
}

TEST(Converter, PauseAskedWhileOpeningTakesEffectWhenTranscodingBegins)
{
    // a pipe holds the open until the writer sends the first bytes
    QTemporaryDir dir;
    const QString fifo = dir.filePath("source.ts");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    TAVConverter c;
    JobEvents ev;
    Record(c, ev);
    c.SetInputFiles({fifo});
    c.SetOutputFiles({dir.filePath("paused.avi")});
    c.ConvertOptions()->VideoOptions()->setProperty("EncoderVideoCodecName", "mpeg4");
    c.Start();
    EXPECT_FALSE(TAVConverter().Pause()) << "nothing to pause before a start";
    QThread::msleep(100);
    EXPECT_TRUE(c.Pause()) << "the open is under way";
    std::thread writer([&] {
        QFile source(SampleTs()), pipe(fifo);
        if (source.open(QIODevice::ReadOnly) && pipe.open(QIODevice::WriteOnly))
            pipe.write(source.readAll());
    });
    ASSERT_TRUE(WaitFor([&] { return c.State() == TAVConverter::stPaused; }, 20000));
    const int progress = c.Progress();
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(c.Progress(), progress);
    EXPECT_FALSE(ev.finished);
    c.Resume();
    ASSERT_TRUE(WaitFinished(ev));
    writer.join();
    EXPECT_EQ(ev.order.last(), "finished");
    EXPECT_TRUE(ev.order.contains("complete")) << ev.order.join(",").toStdString();
}
