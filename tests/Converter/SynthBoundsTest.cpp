// Scripts that try to escape the budget through the library's C loops,
// finalizers or a full memory: each ends as a script error within its
// picture (or at once, on a stop), and the process goes on.
#include "av/FFmpeg.h"
#include "filters/SynthScript.h"
#include "JobRunner.h"
#include "MediaFixtures.h"
#include "transcode/AVConverter.h"

#include <QElapsedTimer>
#include <QStringList>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace korvane;
using namespace korvane::test;

namespace {

av::FramePtr Picture(uint8_t y = 100)
{
    av::FramePtr frame = av::NewFrame();
    frame->width = 16;
    frame->height = 16;
    frame->format = AV_PIX_FMT_YUV420P;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    for (int p = 0; p < 3; ++p)
        std::memset(frame->data[p], y, size_t(frame->linesize[p]) * (p ? 8 : 16));
    return frame;
}

struct Host
{
    QStringList log;
    std::atomic<bool> stop{false};
    TSynthScript script;
    explicit Host(const QString& text)
        : script(
              text, [this](const QString& m) { log << m; }, [this] { return stop.load(); })
    {
    }
};

// A __len that claims the longest table there can be.
const char* const kHuge = "setmetatable({}, {__len = function() return math.maxinteger - 1 end})";

} // namespace

TEST(SynthBounds, LibraryLoopsInCEndWithinTheBudget)
{
    const QString huge = QString::fromLatin1(kHuge);
    const QStringList cases = {
        "table.move({}, 1, math.maxinteger - 1, 1)",
        "table.move({}, 1, 1e15, 2, {})",
        "table.insert(" + huge + ", 1, 'x')",
        "table.remove(" + huge + ", 1)",
        "table.concat(setmetatable({}, {__len = function() return math.maxinteger end, __index = tostring}))",
        "table.unpack(setmetatable({}, {__len = function() return 1e12 end}))",
        "table.sort(setmetatable({}, {__len = function() return 2^31 - 2 end, __index = function() return 1 end}))",
        "string.format('%' .. string.rep('9', 5000) .. 'd', 1)",
        "local s = string.rep('a', 30000) s:find('[' .. string.rep('b-b', 20000) .. 'a]*x')",
        "local s = string.rep('a', 30000) s:match('%f[' .. string.rep('b-b', 20000) .. 'a]a*x')",
        "utf8.char(65)", // not in the sandbox
        // one instruction each, megabytes of work in C
        "local s = string.rep('x', 2^22) for i = 1, 1e9 do local t = s:upper() end",
        "for i = 1, 1e9 do local t = string.rep('ab', 2^21) end",
    };
    for (const QString& call : cases) {
        SCOPED_TRACE(call.left(120).toStdString());
        Host h("frame:set(0, 0, 0, 9) " + call);
        h.script.SetInstructionBudget(2'000'000);
        av::FramePtr pic = Picture();
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(h.script.Process(pic.get(), 0, 0));
        EXPECT_LT(t.elapsed(), 5000);
        EXPECT_EQ(pic->data[0][0], 100); // the picture as it was
        ASSERT_EQ(h.log.size(), 1);
        EXPECT_TRUE(h.log[0].startsWith("synth script error: ")) << h.log[0].toStdString();
    }
}

TEST(SynthBounds, BoundedFunctionsStillDoTheirWork)
{
    Host h(R"(
        assert(string.rep('', math.maxinteger) == '' and string.rep('', 1e18, '') == '')
        assert(('ab'):rep(3, '-') == 'ab-ab-ab')
        local t = {1, 2, 3}
        table.insert(t, 4) table.insert(t, 1, 0)
        assert(table.concat(t, ',') == '0,1,2,3,4')
        assert(table.remove(t) == 4 and table.remove(t, 1) == 0 and table.concat(t) == '123')
        assert(table.concat({}, 'x') == '' and table.concat({1, 2, 3}, '', 2) == '23')
        assert(select('#', table.unpack({1, 2, 3})) == 3 and select(2, table.unpack({1, 2, 3}, 2, 3)) == 3)
        local m = table.move({1, 2, 3}, 1, 3, 2) assert(table.concat(m) == '1123')
        local s = {3, 1, 2} table.sort(s) assert(table.concat(s) == '123')
        table.sort(s, function(a, b) return a > b end) assert(table.concat(s) == '321')
        -- a table with a metatable is sorted through its metamethods
        local backing = {5, 4, 6}
        local proxy = setmetatable({}, {__len = function() return 3 end, __index = backing,
                                        __newindex = function(_, k, v) backing[k] = v end})
        table.sort(proxy) assert(table.concat(backing) == '456')
        assert(string.format('%5.1f|%-3d|%s', 2.25, 7, 'x') == '  2.2|7  |x')
        assert(('[b-d]'):len() == 5 and ('abc'):find('[b-d]') == 2)
        assert(setmetatable({}, {__index = {k = 1}}).k == 1)
        frame:set(0, 0, 0, 1)
    )");
    av::FramePtr pic = Picture();
    EXPECT_TRUE(h.script.Process(pic.get(), 0, 0)) << h.script.FirstError().toStdString();
    EXPECT_EQ(pic->data[0][0], 1);
}

TEST(SynthBounds, FinalizersAreRefused)
{
    for (const char* script :
         {"setmetatable({}, {__gc = function() while true do end end})",
          // a placeholder filled in later would mark the object all the same
          "local mt = {__gc = true} local o = setmetatable({}, mt) mt.__gc = function() while true do end end"}) {
        SCOPED_TRACE(script);
        QElapsedTimer t;
        t.start();
        {
            Host h(QString::fromLatin1(script));
            av::FramePtr pic = Picture();
            EXPECT_FALSE(h.script.Process(pic.get(), 0, 0));
            ASSERT_EQ(h.log.size(), 1);
            EXPECT_TRUE(h.log[0].contains("__gc")) << h.log[0].toStdString();
        } // closing the state runs no finalizer
        EXPECT_LT(t.elapsed(), 5000);
    }
}

TEST(SynthBounds, AFullMemoryAndAnEmptiedFrameAreScriptErrors)
{
    // the state is filled to its cap and `frame` emptied: setting the next
    // picture up fails inside the state, which is an error like any other
    Host h(R"(
        if not big then
            big = {}
            pcall(function() for i = 1, 1e9 do big[i] = string.rep('x', 200) .. i end end)
        end
        for k in pairs(frame) do frame[k] = nil end
        frame = nil
    )");
    h.script.SetMemoryCap(4 << 20);
    for (int n = 0; n < 4; ++n) {
        av::FramePtr pic = Picture();
        h.script.Process(pic.get(), n, 0);
        EXPECT_EQ(pic->data[0][0], 100);
    }
    EXPECT_LE(h.script.MemoryInUse(), size_t(4 << 20));
    EXPECT_LE(h.log.size(), 1);
}

TEST(SynthBounds, AStopEndsALibraryLoopWithinASecond)
{
    const QString huge = QString::fromLatin1(kHuge);
    for (const QString& call : {QString("table.move({}, 1, math.maxinteger - 1, 1)"),
                                "table.insert(" + huge + ", 1, 'x')", "table.remove(" + huge + ", 1)",
                                QString("local s = string.rep('x', 2^24) for i = 1, 1e9 do local t = s .. i end")}) {
        SCOPED_TRACE(call.toStdString());
        Host h("frame:set(0, 0, 0, 9) " + call);
        h.script.SetInstructionBudget(INT64_MAX / 2);
        av::FramePtr pic = Picture();
        std::atomic<int64_t> stoppedAt{0};
        QElapsedTimer t;
        t.start();
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stoppedAt = t.elapsed();
            h.stop = true;
        });
        EXPECT_FALSE(h.script.Process(pic.get(), 0, 0));
        const int64_t ended = t.elapsed();
        stopper.join();
        EXPECT_LT(ended - stoppedAt, 1000);
        EXPECT_EQ(pic->data[0][0], 100);
        EXPECT_TRUE(h.log.isEmpty()); // a stop is no script error
    }
}

TEST(SynthBounds, FrameTimeStartsAtZeroOnASourceThatStartsLater)
{
    // an MPEG-TS starts at 1.4 s: the script counts from its first picture
    TAVConverter c;
    JobEvents ev;
    Record(c, ev);
    std::mutex lock;
    QStringList log;
    c.OnLog = [&](TAVConverter*, int, const QString& line) {
        std::lock_guard guard(lock);
        log << line;
    };
    c.SetInputFiles({SampleTs()});
    c.SetOutputFiles({TempDir() + "/times.mkv"});
    c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "ffv1";
    c.ConvertOptions()->AudioOptions()->m_audioDisable = true;
    c.ConvertOptions()->FilterOptions()->m_videoFilters =
        "synth=if frame.number == 0 then assert(math.abs(frame.time) < 0.001| 'first at ' .. frame.time) end "
        "if frame.number == 25 then assert(math.abs(frame.time - 1) < 0.001| 'then at ' .. frame.time) end";
    c.Start();
    ASSERT_TRUE(WaitFinished(ev));
    EXPECT_TRUE(ev.order.contains("complete")) << c.ErrorText().toStdString();
    std::lock_guard guard(lock);
    EXPECT_TRUE(log.filter("synth script error").isEmpty()) << log.join('\n').toStdString();
}
