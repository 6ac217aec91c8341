// The "synth" element inside real jobs, checked against the ffmpeg tool's
// own filters on lossless outputs.
#include "JobRunner.h"
#include "MediaFixtures.h"
#include "transcode/AVConverter.h"

#include <gtest/gtest.h>
#include <mutex>

using namespace korvane;
using namespace korvane::test;

namespace {

struct Job
{
    TAVConverter c;
    JobEvents ev;
    std::mutex lock;
    QStringList log;

    Job(const QString& input, const QString& output, const QString& filters)
    {
        Record(c, ev);
        c.OnLog = [this](TAVConverter*, int, const QString& line) {
            std::lock_guard guard(lock);
            log << line;
        };
        c.SetInputFiles({input});
        c.SetOutputFiles({output});
        c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "ffv1";
        c.ConvertOptions()->FilterOptions()->m_videoFilters = filters;
        c.ConvertOptions()->AudioOptions()->m_audioDisable = true;
    }
    QStringList Lines(const QString& part)
    {
        std::lock_guard guard(lock);
        return log.filter(part);
    }
};

// 10 pictures, 4:2:0.
QString Source()
{
    return Fixture("synth_src.mkv", {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=10:duration=1", "-c:v",
                                     "ffv1", "-pix_fmt", "yuv420p"});
}

// 3 pictures: an endless loop spends its whole budget on each.
QString ShortSource()
{
    return Fixture("synth_short.mkv", {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=10:duration=0.3",
                                       "-c:v", "ffv1", "-pix_fmt", "yuv420p"});
}

// The same pictures in 4:4:4, which the element cannot take as they are.
QString Source444()
{
    return Fixture("synth_src444.mkv", {"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=10:duration=1", "-c:v",
                                        "ffv1", "-pix_fmt", "yuv444p"});
}

// The tool's version of the source through filters, losslessly.
QString Tool(const QString& source, const QString& filters, const QString& name)
{
    const QString out = TempDir() + "/" + name;
    const ProcessResult r =
        RunProcess(QStringLiteral(KORVANE_FFMPEG),
                   {"-y", "-v", "error", "-i", source, "-vf", filters, "-an", "-c:v", "ffv1", out});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return out;
}

// the tool's negval on limited-range luma: 16 + 235 - the value clipped to 16..235
const char* const kNegate =
    "local t = {} for i = 0|255 do t[i] = 251 - math.min(math.max(i|16)|235) end frame:map(0|t)";

} // namespace

TEST(SynthFilter, ScriptsGiveTheToolsPictures)
{
    const struct
    {
        QString stored;
        QString tool;
        QString source;
        QString plane = "average";
    } cases[] = {
        {QString("synth=") + kNegate, "lutyuv=y=negval", Source()},
        // a box filled on every plane with white's samples, commas written as "|"
        {"synth=frame:fill(0|10|20|30|40|235) frame:fill(1|5|10|15|20|128) frame:fill(2|5|10|15|20|128)",
         "drawbox=x=10:y=20:w=30:h=40:color=white:t=fill", Source()},
        // filters on both sides of the element, and "=", ":", ";", quotes and brackets in the script
        {"vflip,synth=local s = \"a=b:c;[d]'e\" frame:fill(0|0|0|#s|2|235) frame:fill(1|0|0|6|1|128) "
         "frame:fill(2|0|0|6|1|128),hflip",
         "vflip,drawbox=x=0:y=0:w=11:h=2:color=white:t=fill,hflip", Source()},
        // 4:4:4 pictures are converted before the element (chroma goes
        // through the engine's scaler settings, not the tool's: luma compared)
        {QString("synth=") + kNegate, "format=yuv420p,lutyuv=y=negval,format=yuv444p", Source444(), "y"},
    };
    int n = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.stored.toStdString());
        const QString ours = TempDir() + QStringLiteral("/synth%1.mkv").arg(n);
        Job job(k.source, ours, k.stored);
        job.c.Start();
        ASSERT_TRUE(WaitFinished(job.ev));
        ASSERT_TRUE(job.ev.order.contains("complete")) << job.c.ErrorText().toStdString();
        EXPECT_EQ(job.c.ErrorText(), "");
        EXPECT_TRUE(job.Lines("synth").isEmpty()) << job.Lines("synth").join('\n').toStdString();
        const QString theirs = Tool(k.source, k.tool, QStringLiteral("tool%1.mkv").arg(n++));
        EXPECT_EQ(Psnr(theirs, ours, k.plane), 1000) << "pictures differ from the tool's";
        EXPECT_GT(Psnr(theirs, ours), 40);
        EXPECT_EQ(Probe(ours).First("video")->packets, 10);
    }
}

TEST(SynthFilter, FailingScriptsLeavePicturesUnchangedAndTheJobCompletes)
{
    const struct
    {
        QString script;
        QString message;
    } cases[] = {
        {"frame:map(0|{}) error('never here')", "lut[0] is not a number"},
        {"frame:fill(0|0|0|8|8|0) os.execute('touch /tmp/synth-escaped')", "attempt to index a nil value"},
        {"frame:fill(0|0|0|8|8|0) while true do end", "instructions on one picture"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.script.toStdString());
        const QString ours = TempDir() + "/unchanged.mkv";
        Job job(ShortSource(), ours, "synth=" + k.script);
        job.c.Start();
        ASSERT_TRUE(WaitFinished(job.ev, 120000));
        ASSERT_TRUE(job.ev.order.contains("complete")) << job.c.ErrorText().toStdString();
        EXPECT_EQ(job.c.ErrorText(), "");
        const QStringList errors = job.Lines("synth script error");
        ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
        EXPECT_TRUE(errors[0].contains(k.message)) << errors[0].toStdString();
        EXPECT_EQ(Psnr(ShortSource(), ours), 1000);
        EXPECT_EQ(Probe(ours).First("video")->packets, 3);
    }
}

TEST(SynthFilter, WithoutAScriptOrWithTooLongAOneTheJobFails)
{
    const QString tooLong = "synth=--" + QString(65534, u'x');
    for (const QString& stored : {QString("negate,synth"), tooLong}) {
        Job job(Source(), TempDir() + "/failed.mkv", stored);
        job.c.Start();
        ASSERT_TRUE(WaitFinished(job.ev));
        EXPECT_TRUE(job.c.ErrorText().contains("Error opening filters!")) << job.c.ErrorText().toStdString();
        const QString reason = stored == tooLong ? "at most 65535 bytes" : "needs a script";
        EXPECT_EQ(job.Lines(reason).size(), 1) << job.log.join('\n').toStdString();
    }
}

TEST(SynthFilter, ParallelJobsKeepTheirOwnScripts)
{
    // each job keeps a counter in its script state: a shared state would
    // make the counters run over both jobs' pictures
    const QString a = TempDir() + "/a.mkv", b = TempDir() + "/b.mkv";
    Job negate(Source(), a, QString("synth=n = (n or 0) + 1 assert(n == frame.number + 1) ") + kNegate);
    Job box(Source(), b,
            "synth=n = (n or 0) + 1 assert(n == frame.number + 1) frame:fill(0|10|20|30|40|235) "
            "frame:fill(1|5|10|15|20|128) frame:fill(2|5|10|15|20|128)");
    negate.c.Start();
    box.c.Start();
    ASSERT_TRUE(WaitFinished(negate.ev));
    ASSERT_TRUE(WaitFinished(box.ev));
    EXPECT_TRUE(negate.Lines("synth").isEmpty()) << negate.log.join('\n').toStdString();
    EXPECT_TRUE(box.Lines("synth").isEmpty()) << box.log.join('\n').toStdString();
    EXPECT_EQ(Psnr(Tool(Source(), "lutyuv=y=negval", "neg.mkv"), a), 1000);
    EXPECT_EQ(Psnr(Tool(Source(), "drawbox=x=10:y=20:w=30:h=40:color=white:t=fill", "box.mkv"), b), 1000);
}

TEST(SynthFilter, StopEndsAJobStuckInAScript)
{
    Job job(Source(), TempDir() + "/stuck.mkv", "synth=while true do end");
    job.c.Start();
    // the first picture is in the loop well before the budget runs out
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    job.c.Stop();
    ASSERT_TRUE(WaitFinished(job.ev, 5000));
    EXPECT_TRUE(job.ev.order.contains("stopped"));
}
