// Bitmap subtitles on preview pictures: clipping, palette, alpha, and which
// subtitle a picture gets.
#include "preview/PushSource.h"

#include <gtest/gtest.h>

#include <vector>

using namespace korvane;

namespace {

// A bitmap rectangle over indexes and a palette the test owns.
struct Bitmap
{
    std::vector<uint8_t> indexes;
    std::vector<uint32_t> palette;
    AVSubtitleRect rect{};

    Bitmap(int x, int y, int w, int h, std::vector<uint8_t> idx, std::vector<uint32_t> pal)
        : indexes(std::move(idx)), palette(std::move(pal))
    {
        rect.type = SUBTITLE_BITMAP;
        rect.x = x;
        rect.y = y;
        rect.w = w;
        rect.h = h;
        rect.nb_colors = int(palette.size());
        rect.data[0] = indexes.data();
        rect.linesize[0] = w;
        // the palette the decoders give always has room for 256 entries
        palette.resize(256, 0xFF00FF00u);
        rect.data[1] = reinterpret_cast<uint8_t*>(palette.data());
    }
};

std::vector<uint8_t> Grey(int w, int h, uint8_t v)
{
    std::vector<uint8_t> p(size_t(w) * h * 4, v);
    return p;
}

const uint8_t* Pixel(const std::vector<uint8_t>& p, int w, int x, int y)
{
    return p.data() + (size_t(y) * w + x) * 4;
}

} // namespace

TEST(PreviewBlend, PaletteAlphaAndIndexesPastThePalette)
{
    const int W = 6, H = 4;
    auto picture = Grey(W, H, 100);
    // colours: transparent, opaque red, half-transparent blue; index 7 is
    // past the three entries and names nothing
    Bitmap b(1, 1, 4, 2, {0, 1, 2, 7, 1, 7, 7, 2}, {0x00FFFFFFu, 0xFFFF0000u, 0x800000FFu});
    BlendSubtitleRect(picture.data(), W, H, b.rect);
    auto same = [&](int x, int y, uint8_t bl, uint8_t g, uint8_t r) {
        const uint8_t* p = Pixel(picture, W, x, y);
        EXPECT_EQ(p[0], bl) << x << "," << y;
        EXPECT_EQ(p[1], g) << x << "," << y;
        EXPECT_EQ(p[2], r) << x << "," << y;
        EXPECT_EQ(p[3], 100) << "fourth byte kept";
    };
    same(0, 0, 100, 100, 100);            // outside the rectangle
    same(1, 1, 100, 100, 100);            // alpha 0
    same(2, 1, 0, 0, 255);                // opaque red
    const uint8_t blue = (100 * (255 - 128) + 255 * 128) / 255;
    const uint8_t rest = (100 * (255 - 128)) / 255;
    same(3, 1, blue, rest, rest);         // half blue, integer division
    same(4, 1, 100, 100, 100);            // index past the palette: skipped
    same(1, 2, 0, 0, 255);
    same(2, 2, 100, 100, 100);
    same(4, 2, blue, rest, rest);
}

TEST(PreviewBlend, RectanglesAreClippedIntoThePicture)
{
    const int W = 4, H = 3;
    auto picture = Grey(W, H, 0);
    // wider than the picture and placed off its right edge: cut to the
    // picture's width and moved back to x 0
    std::vector<uint8_t> idx(6 * 2, 1);
    Bitmap wide(3, 2, 6, 2, idx, {0, 0xFFFFFFFFu});
    BlendSubtitleRect(picture.data(), W, H, wide.rect);
    for (int x = 0; x < W; ++x) {
        EXPECT_EQ(Pixel(picture, W, x, 0)[0], 0) << x;
        EXPECT_EQ(Pixel(picture, W, x, 1)[0], 255) << x;
        EXPECT_EQ(Pixel(picture, W, x, 2)[0], 255) << x;
    }
    // negative positions and a missing palette do not write outside
    Bitmap negative(-5, -5, 2, 2, {1, 1, 1, 1}, {0, 0xFF000000u});
    auto small = Grey(2, 2, 9);
    BlendSubtitleRect(small.data(), 2, 2, negative.rect);
    EXPECT_EQ(Pixel(small, 2, 0, 0)[0], 0);
    Bitmap noPalette(0, 0, 1, 1, {1}, {0, 0xFFFFFFFFu});
    noPalette.rect.data[1] = nullptr;
    BlendSubtitleRect(small.data(), 2, 2, noPalette.rect);
    EXPECT_EQ(Pixel(small, 2, 0, 0)[0], 0);
}

namespace {

// A one-pixel white bitmap subtitle event at timeUs showing from startMs to
// endMs (UINT32_MAX: no end of its own, as PGS gives), or a clear event
// without rectangles.
std::unique_ptr<TFFSubtitle> SubtitleEvent(int64_t timeUs, uint32_t startMs, uint32_t endMs, bool clear = false)
{
    auto s = std::make_unique<TFFSubtitle>();
    s->timeUs = timeUs;
    s->sub.start_display_time = startMs;
    s->sub.end_display_time = endMs;
    if (clear)
        return s;
    s->sub.num_rects = 1;
    s->sub.rects = static_cast<AVSubtitleRect**>(av_mallocz(sizeof(AVSubtitleRect*)));
    AVSubtitleRect* r = s->sub.rects[0] = static_cast<AVSubtitleRect*>(av_mallocz(sizeof(AVSubtitleRect)));
    r->type = SUBTITLE_BITMAP;
    r->w = r->h = 1;
    r->nb_colors = 1;
    r->linesize[0] = 1;
    r->data[0] = static_cast<uint8_t*>(av_mallocz(1));
    r->data[1] = static_cast<uint8_t*>(av_mallocz(1024));
    reinterpret_cast<uint32_t*>(r->data[1])[0] = 0xFFFFFFFFu;
    return s;
}

// Whether the queue draws a subtitle on a black one-pixel picture at startUs.
bool Drawn(TSubtitleQueue& queue, int64_t startUs)
{
    TFFSample s;
    s.width = s.height = 1;
    s.size = 4;
    s.data.reset(new uint8_t[4]{0, 0, 0, 0});
    s.startUs = startUs;
    queue.Apply(s);
    return s.data[0] == 255;
}

} // namespace

TEST(PreviewBlend, QueueDrawsTheCurrentSubtitleAndDropsPastOnes)
{
    auto make = [](int64_t timeUs, uint32_t startMs, uint32_t endMs) {
        return SubtitleEvent(timeUs, startMs, endMs);
    };
    TSubtitleQueue queue;
    queue.Push(make(0, 0, 500));          // 0 .. 0.5 s
    queue.Push(make(1000000, 100, 900));  // 1.1 .. 1.9 s
    auto picture = [](int64_t startUs) {
        TFFSample s;
        s.width = s.height = 1;
        s.size = 4;
        s.data.reset(new uint8_t[4]{0, 0, 0, 0});
        s.startUs = startUs;
        return s;
    };
    TFFSample early = picture(200000);
    queue.Apply(early);
    EXPECT_EQ(early.data[0], 255);
    EXPECT_EQ(queue.Size(), 2u);
    TFFSample between = picture(800000); // the first is over, the second not yet begun
    queue.Apply(between);
    EXPECT_EQ(between.data[0], 0);
    EXPECT_EQ(queue.Size(), 1u);
    TFFSample inSecond = picture(1500000);
    queue.Apply(inSecond);
    EXPECT_EQ(inSecond.data[0], 255);
    TFFSample after = picture(2500000);
    queue.Apply(after);
    EXPECT_EQ(after.data[0], 0);
    EXPECT_EQ(queue.Size(), 0u);
}

// PGS subtitles have no end of their own: the next event ends them, and an
// event without rectangles clears the screen.
TEST(PreviewBlend, SubtitlesWithoutAnEndEndAtTheNextEvent)
{
    TSubtitleQueue queue;
    queue.Push(SubtitleEvent(1000000, 0, UINT32_MAX));           // from 1 s
    queue.Push(SubtitleEvent(2000000, 0, UINT32_MAX, true));     // cleared at 2 s
    queue.Push(SubtitleEvent(3000000, 0, UINT32_MAX));           // from 3 s
    queue.Push(SubtitleEvent(4000000, 0, UINT32_MAX));           // replaced at 4 s
    queue.Push(SubtitleEvent(5000000, 0, UINT32_MAX, true));     // cleared at 5 s
    EXPECT_FALSE(Drawn(queue, 500000));
    EXPECT_TRUE(Drawn(queue, 1500000));
    EXPECT_FALSE(Drawn(queue, 2000000));
    EXPECT_FALSE(Drawn(queue, 2500000));
    EXPECT_TRUE(Drawn(queue, 3500000));
    EXPECT_TRUE(Drawn(queue, 4500000));
    EXPECT_FALSE(Drawn(queue, 5500000));
    EXPECT_EQ(queue.Size(), 0u);
}
