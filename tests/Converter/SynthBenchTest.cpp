// Speed of the synth element on 1080p pictures: the script host alone and
// the chain with its filter graph. Disabled in the suite (timings mean
// nothing under the sanitizers or on a loaded machine); bench/synth.sh runs it.
#include "filters/SynthChain.h"
#include "filters/SynthScript.h"

#include <QElapsedTimer>
#include <cstdio>
#include <gtest/gtest.h>

using namespace korvane;

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kPictures = 300;
const char* const kMap = "local t = {} for i = 0, 255 do t[i] = 255 - i end frame:map(0, t)";

av::FramePtr Picture1080()
{
    av::FramePtr f = av::NewFrame();
    f->width = kWidth;
    f->height = kHeight;
    f->format = AV_PIX_FMT_YUV420P;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < (p ? kHeight / 2 : kHeight); ++y)
            for (int x = 0; x < (p ? kWidth / 2 : kWidth); ++x)
                f->data[p][y * f->linesize[p] + x] = uint8_t(x + y * 3 + p);
    return f;
}

void Report(const char* what, qint64 ns)
{
    const double perSecond = kPictures / (double(ns) / 1e9);
    std::printf("synth bench: %-34s %8.1f pictures/s (%.2f ms each)\n", what, perSecond,
                double(ns) / 1e6 / kPictures);
    EXPECT_GT(perSecond, 100.0);
}

} // namespace

TEST(SynthBench, DISABLED_MapOn1080p)
{
    av::FramePtr picture = Picture1080();
    {
        TSynthScript script(kMap, {});
        QElapsedTimer t;
        t.start();
        for (int n = 0; n < kPictures; ++n)
            ASSERT_TRUE(script.Process(picture.get(), n, n / 25.0));
        Report("frame:map, script host", t.nsecsElapsed());
    }
    {
        TSynthChain chain;
        const PictureFormat in{kWidth, kHeight, AV_PIX_FMT_YUV420P, {1, 25}, {1, 1}, {25, 1}};
        ASSERT_EQ(chain.Configure(in, SplitAtSynth(QString("synth=") + QString(kMap).replace(',', '|')), {}),
                  0);
        QElapsedTimer t;
        t.start();
        int out = 0;
        for (int n = 0; n < kPictures; ++n) {
            picture->pts = n;
            chain.Send(picture.get());
            while (chain.TakeOutput())
                ++out;
        }
        chain.Send(nullptr);
        while (chain.TakeOutput())
            ++out;
        EXPECT_EQ(out, kPictures);
        Report("frame:map, graph + script", t.nsecsElapsed());
    }
}

// The library functions that loop in C, on a small picture: what a script
// pays for their bounds.
TEST(SynthBench, DISABLED_LibraryCalls)
{
    const char* const script = R"(
        local t = {}
        for i = 1, 200 do table.insert(t, i) end
        table.insert(t, 1, 0) table.remove(t, 1)
        local s = table.concat(t, ',')
        local a, b = s:find('19(%d),')
        local n = 0 for w in s:gmatch('%d+') do n = n + 1 end
        table.sort(t, function(x, y) return x > y end)
        local m = table.move(t, 1, 100, 1, {})
        local f = string.format('%d %s %5.2f', #m, s:sub(1, 8), n / 3) .. string.rep('ab', 20)
        frame:set(0, 0, 0, #f % 256)
    )";
    constexpr int kRuns = 3000;
    av::FramePtr f = av::NewFrame();
    f->width = 64;
    f->height = 64;
    f->format = AV_PIX_FMT_YUV420P;
    ASSERT_EQ(av_frame_get_buffer(f.get(), 0), 0);
    TSynthScript host(script, {});
    QElapsedTimer t;
    t.start();
    for (int n = 0; n < kRuns; ++n)
        ASSERT_TRUE(host.Process(f.get(), n, n / 25.0)) << host.FirstError().toStdString();
    const qint64 ns = t.nsecsElapsed();
    std::printf("synth bench: %-34s %8.1f scripts/s (%.1f us each)\n", "library calls, 64x64", kRuns / (double(ns) / 1e9),
                double(ns) / 1e3 / kRuns);
}
