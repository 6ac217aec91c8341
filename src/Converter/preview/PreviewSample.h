// What the preview's source hands out: timed pictures and sound blocks, and
// the bitmap subtitles drawn onto the pictures.
#pragma once

#include "av/FFmpeg.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>

namespace korvane {

// One decoded unit: a BGRA picture (width x 4 bytes per row) or a block of
// interleaved signed 16-bit audio.
struct TFFSample
{
    std::unique_ptr<uint8_t[]> data;
    int size = 0;     // bytes
    int width = 0;    // pictures only
    int height = 0;
    AVRational pixelAspect{1, 1}; // pictures only: width / height of one pixel
    int64_t startUs = 0; // from the file's start, loop offset included
    int64_t stopUs = 0;  // pictures: until the next picture once that is queued
    int64_t durationUs = 0; // pictures: the duration the source gives it
    double Start() const { return double(startUs) / 1e6; } // seconds
    double Stop() const { return double(stopUs) / 1e6; }
    // a queued picture as the filters gave it; empty once it is in data
    av::FramePtr picture;
};
using TFFSamplePtr = std::shared_ptr<TFFSample>;

// One decoded bitmap subtitle and its display window.
struct TFFSubtitle
{
    AVSubtitle sub{};
    int64_t timeUs = 0; // the packet's time, as for samples
    // where a later event (the next subtitle, or a clear event that draws
    // nothing) ends this one; PGS subtitles carry no end of their own
    int64_t endCapUs = INT64_MAX;
    TFFSubtitle() = default;
    TFFSubtitle(const TFFSubtitle&) = delete;
    TFFSubtitle& operator=(const TFFSubtitle&) = delete;
    ~TFFSubtitle() { avsubtitle_free(&sub); }
    int64_t BeginUs() const { return timeUs + int64_t(sub.start_display_time) * 1000; }
    int64_t EndUs() const { return std::min(endCapUs, timeUs + int64_t(sub.end_display_time) * 1000); }
};

// Draws one bitmap rectangle onto a width x height BGRA picture (4 bytes a
// pixel, rows of width x 4 bytes): the rectangle is clipped into the
// picture, each index is looked up in the rectangle's ARGB palette, and the
// colour is blended by its alpha into blue, green and red (the fourth byte is
// left as it is). An index past the palette is skipped.
void BlendSubtitleRect(uint8_t* picture, int width, int height, const AVSubtitleRect& rect);

// Subtitles waiting for their pictures, oldest first. Apply draws the one
// whose window holds the picture's start, frees the ones already over, and
// keeps the ones still to come.
class TSubtitleQueue
{
public:
    // One subtitle event of the stream. Its begin ends the ones before it
    // (one subtitle shows at a time); an event without rectangles (a clear
    // event) only ends them.
    void Push(std::unique_ptr<TFFSubtitle> sub);
    void Clear() { m_items.clear(); }
    size_t Size() const { return m_items.size(); }
    void Apply(TFFSample& picture);

private:
    std::deque<std::unique_ptr<TFFSubtitle>> m_items;
};

enum class TSeekMode
{
    smAtOrAfter, // the first picture at or after the time
    smBefore     // the last picture before the time (a step back)
};

} // namespace korvane
