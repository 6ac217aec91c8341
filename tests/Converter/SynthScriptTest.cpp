// The script host of the "synth" element on its own: the frame API, the
// sandbox, the budget and memory cap, and how a stored description is cut at
// its synth elements.
#include "filters/SynthScript.h"
#include "filters/SynthChain.h"
#include "options/Persistent.h"

#include <QElapsedTimer>
#include <QStringList>
#include <gtest/gtest.h>

using namespace korvane;

namespace {

struct Picture
{
    av::FramePtr frame = av::NewFrame();

    Picture(int width, int height, uint8_t y = 100, uint8_t u = 110, uint8_t v = 120)
    {
        frame->width = width;
        frame->height = height;
        frame->format = AV_PIX_FMT_YUV420P;
        EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
        const uint8_t values[3] = {y, u, v};
        for (int p = 0; p < 3; ++p) {
            const int h = p ? (height + 1) / 2 : height;
            for (int row = 0; row < h; ++row)
                std::memset(frame->data[p] + row * frame->linesize[p], values[p], size_t(frame->linesize[p]));
        }
    }
    uint8_t At(int plane, int x, int y) const { return frame->data[plane][y * frame->linesize[plane] + x]; }
    // Every sample of the visible planes, for comparisons.
    std::vector<uint8_t> Samples() const
    {
        std::vector<uint8_t> all;
        for (int p = 0; p < 3; ++p) {
            const int w = p ? (frame->width + 1) / 2 : frame->width,
                      h = p ? (frame->height + 1) / 2 : frame->height;
            for (int row = 0; row < h; ++row)
                all.insert(all.end(), frame->data[p] + row * frame->linesize[p],
                           frame->data[p] + row * frame->linesize[p] + w);
        }
        return all;
    }
};

struct Host
{
    QStringList log;
    bool stop = false;
    TSynthScript script;
    explicit Host(const QString& text)
        : script(
              text, [this](const QString& m) { log << m; }, [this] { return stop; })
    {
    }
};

} // namespace

TEST(SynthSplit, ScriptRunsToTheNextCommaWithPipesTurnedIntoCommas)
{
    const SynthSplit s = SplitAtSynth("vflip,synth=frame:fill(0|1|2|3|4|5) -- a=b:c;[d] 'e\" ,negate");
    ASSERT_EQ(s.scripts.size(), 1);
    EXPECT_EQ(*s.scripts[0], "frame:fill(0,1,2,3,4,5) -- a=b:c;[d] 'e\" ");
    EXPECT_EQ(s.segments, (QStringList{"vflip", "negate"}));

    const SynthSplit two = SplitAtSynth("synth=a,drawtext=fontfile='f'#text='x,synth=y'#x=1,synth=b");
    ASSERT_EQ(two.scripts.size(), 2);
    EXPECT_EQ(*two.scripts[0], "a");
    EXPECT_EQ(*two.scripts[1], "b");
    EXPECT_EQ(two.segments, (QStringList{"", "drawtext=fontfile='f'#text='x,synth=y'#x=1", ""}));

    const SynthSplit none = SplitAtSynth("synthetic=1,negate");
    EXPECT_FALSE(none.HasSynth());
    EXPECT_EQ(none.segments, QStringList{"synthetic=1,negate"});

    const SynthSplit bare = SplitAtSynth("negate,synth");
    ASSERT_EQ(bare.scripts.size(), 1);
    EXPECT_FALSE(bare.scripts[0].has_value());
    const SynthSplit empty = SplitAtSynth("synth=");
    ASSERT_EQ(empty.scripts.size(), 1);
    EXPECT_EQ(*empty.scripts[0], "");
}

TEST(SynthScript, FrameApiReadsAndChangesThePicture)
{
    Picture pic(9, 7); // odd sizes: chroma planes are 5 x 4
    Host h(R"(
        assert(frame.width == 9 and frame.height == 7 and frame.number == 3 and frame.time == 1.5)
        assert(frame:get(0, 8, 6) == 100 and frame:get(1, 4, 3) == 110 and frame:get(2, 0, 0) == 120)
        frame:set(0, 0, 0, 300)          -- clamped
        frame:set(0, 1, 0, -5)
        frame:set(0, 2, 0, 7.6)
        frame:set(0, 99, 99, 1)          -- outside: ignored
        frame:fill(1, 3, 2, 100, 100, 1) -- clipped to 5 x 4
        local lut = {} for i = 0, 255 do lut[i] = 255 - i end
        frame:map(2, lut)
    )");
    ASSERT_TRUE(h.script.Process(pic.frame.get(), 3, 1.5)) << h.script.FirstError().toStdString();
    EXPECT_EQ(pic.At(0, 0, 0), 255);
    EXPECT_EQ(pic.At(0, 1, 0), 0);
    EXPECT_EQ(pic.At(0, 2, 0), 8);
    EXPECT_EQ(pic.At(0, 3, 0), 100);
    EXPECT_EQ(pic.At(1, 2, 2), 110);
    EXPECT_EQ(pic.At(1, 3, 2), 1);
    EXPECT_EQ(pic.At(1, 4, 3), 1);
    EXPECT_EQ(pic.At(1, 3, 1), 110);
    EXPECT_EQ(pic.At(2, 4, 3), 135);
    EXPECT_TRUE(h.log.isEmpty());
}

TEST(SynthScript, FailuresLeaveThePictureAsItWasAndAreReportedOnce)
{
    const struct
    {
        const char* script;
        const char* message; // part of the first error
    } cases[] = {
        {"frame:fill(0, 0, 0, 4, 4, 0) error('boom')", "boom"},
        {"frame:map(0, {})", "lut[0] is not a number"},
        {"frame:fill(0, 0, 0, 2, 2, 9) local x = frame:get(0, 100, 0)", "outside the plane"},
        {"frame:set(5, 0, 0, 1)", "plane must be"},
        {"this is not lua", "syntax error"},
        {"frame:fill(0, 0, 0, 9, 9, 1) while true do end", "instructions on one picture"},
        // a pcall cannot swallow the budget and go on
        {"frame:set(0, 0, 0, 1) while true do pcall(function() while true do end end) end", "instructions"},
        {"frame:set(0, 0, 0, 1) local t = {} for i = 1, 1e9 do t[i] = string.rep('x', 1000) .. i end",
         "not enough memory"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.script);
        Picture pic(16, 16);
        const std::vector<uint8_t> before = pic.Samples();
        Host h(QString::fromUtf8(k.script));
        h.script.SetInstructionBudget(2'000'000);
        h.script.SetMemoryCap(8 << 20);
        for (int n = 0; n < 2; ++n) {
            EXPECT_FALSE(h.script.Process(pic.frame.get(), n, 0));
            EXPECT_EQ(pic.Samples(), before);
        }
        ASSERT_EQ(h.log.size(), 1) << h.log.join('\n').toStdString();
        EXPECT_TRUE(h.log[0].startsWith("synth script error: ")) << h.log[0].toStdString();
        EXPECT_TRUE(h.log[0].contains(k.message)) << h.log[0].toStdString();
        EXPECT_LE(h.script.MemoryInUse(), size_t(8 << 20));
    }
}

TEST(SynthScript, SandboxOffersNoWayOut)
{
    Picture pic(8, 8);
    Host h(R"(
        assert(io == nil and os == nil and package == nil and debug == nil and require == nil)
        assert(dofile == nil and loadfile == nil and print == nil)
        assert(string.upper('a') == 'A' and math.floor(2.5) == 2 and table.concat({1, 2}) == '12')
        assert(load('return 1 + 1')() == 2)
        local fn, err = load(string.dump(function() return 1 end))
        assert(fn == nil and err:find('binary'), 'binary chunk loaded')
        local fn2 = load(string.dump(function() return 1 end), 'x', 'b')
        assert(fn2 == nil, 'binary chunk loaded with mode b')
        local env = {}
        assert(load('y = 5', 'c', 't', env))() assert(env.y == 5 and y == nil)
        frame:set(0, 0, 0, 42)
    )");
    EXPECT_TRUE(h.script.Process(pic.frame.get(), 0, 0)) << h.script.FirstError().toStdString();
    EXPECT_EQ(pic.At(0, 0, 0), 42);
}

TEST(SynthScript, StateLastsBetweenPicturesAndStopEndsALoop)
{
    Picture pic(8, 8);
    Host h(
        "count = (count or 0) + 1 frame:set(0, 0, 0, count) if frame.number == 2 then while true do end end");
    for (int n = 0; n < 2; ++n)
        ASSERT_TRUE(h.script.Process(pic.frame.get(), n, 0));
    EXPECT_EQ(pic.At(0, 0, 0), 2);
    h.stop = true; // a stop ends the loop long before the budget; it is no script error
    EXPECT_FALSE(h.script.Process(pic.frame.get(), 2, 0));
    EXPECT_EQ(pic.At(0, 0, 0), 2);
    EXPECT_TRUE(h.log.isEmpty());
}

// Pattern matching runs in C, where the instruction budget is not seen: a
// pattern that could backtrack for hours over a long text is refused at
// once, while everyday patterns, plain searches and anchored scans of long
// texts work as Lua's own.
TEST(SynthScript, PatternsThatCouldRunForHoursAreRefused)
{
    Picture pic(8, 8);
    Host everyday(R"(
        local k, v = ('gain=12'):match('(%w+)=(%w+)')
        assert(k == 'gain' and v == '12')
        assert(('a.b.c'):gsub('%.', '/') == 'a/b/c')
        assert(select(2, ('x y  z'):gsub('%s+', ' ')) == 2)
        local words = 0 for w in ('one two three'):gmatch('%a+') do words = words + 1 end assert(words == 3)
        assert(('[x]*+-?'):find('*+-?', 1, true) == 4)
        assert(('f(a(b)c)d'):match('%b()') == '(a(b)c)')
        assert(('say "hi" and "bye"'):match('(["])(.-)%1') == '"')
        local long = string.rep('a', 20000)
        assert(long:find('^a*$') == 1)
        assert(#long:gsub('a', 'b') == 20000)
        frame:set(0, 0, 0, 1)
    )");
    EXPECT_TRUE(everyday.script.Process(pic.frame.get(), 0, 0)) << everyday.script.FirstError().toStdString();
    EXPECT_EQ(pic.At(0, 0, 0), 1);

    for (const char* call : {"s:find('.-.-.-b')", "s:match('(a*)(a*)(a*)b')", "s:gsub('a-a-b', '')",
                             "for x in s:gmatch('a*a*a*b') do end", "string.find(s, '[a]+[^b]-.*x')"}) {
        SCOPED_TRACE(call);
        Host h(QStringLiteral("local s = string.rep('a', 3000) frame:set(0, 0, 0, 9) %1").arg(call));
        Picture p(8, 8);
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(h.script.Process(p.frame.get(), 0, 0));
        EXPECT_LT(t.elapsed(), 2000);
        EXPECT_TRUE(h.script.FirstError().contains("the pattern is too costly for a text of 3000 characters"))
            << h.script.FirstError().toStdString();
        EXPECT_EQ(p.At(0, 0, 0), 100); // the picture as it was
    }
}

TEST(SynthScript, ScriptLengthIsLimitedToTheField)
{
    const QString longest = QStringLiteral("--") + QString(TSynthScript::kMaxScriptBytes - 2, u'x');
    EXPECT_NO_THROW(TSynthScript(longest, {}));
    try {
        TSynthScript tooLong(longest + u'x', {});
        FAIL() << "a 65536-byte script was accepted";
    } catch (const EEngineError& e) {
        EXPECT_STREQ(e.what(), "The synth script is 65536 bytes long; at most 65535 bytes are allowed");
    }
}
