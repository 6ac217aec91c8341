// The preview's bitmap subtitles: decoding, and drawing them onto pictures.
#include "preview/PushSource.h"

#include <algorithm>

namespace korvane {

void BlendSubtitleRect(uint8_t* picture, int width, int height, const AVSubtitleRect& rect)
{
    if (!picture || width <= 0 || height <= 0 || rect.type != SUBTITLE_BITMAP || !rect.data[0] ||
        !rect.data[1])
        return;
    const int w = std::clamp(rect.w, 0, width);
    const int h = std::clamp(rect.h, 0, height);
    const int x = std::clamp(rect.x, 0, width - w);
    const int y = std::clamp(rect.y, 0, height - h);
    const auto* palette = reinterpret_cast<const uint32_t*>(rect.data[1]);
    // the palette holds nb_colors entries (at most 256); an index past them
    // names no colour and is left out
    const int colours = std::clamp(rect.nb_colors, 0, 256);
    for (int row = 0; row < h; ++row) {
        const uint8_t* indexes = rect.data[0] + ptrdiff_t(row) * rect.linesize[0];
        uint8_t* pixel = picture + (ptrdiff_t(y + row) * width + x) * 4;
        for (int column = 0; column < w; ++column, pixel += 4) {
            const int index = indexes[column];
            if (index >= colours)
                continue;
            const uint32_t argb = palette[index];
            const uint32_t alpha = argb >> 24;
            if (alpha == 0)
                continue;
            const uint32_t red = (argb >> 16) & 0xFF, green = (argb >> 8) & 0xFF, blue = argb & 0xFF;
            pixel[0] = uint8_t((pixel[0] * (255 - alpha) + blue * alpha) / 255);
            pixel[1] = uint8_t((pixel[1] * (255 - alpha) + green * alpha) / 255);
            pixel[2] = uint8_t((pixel[2] * (255 - alpha) + red * alpha) / 255);
        }
    }
}

void TSubtitleQueue::Push(std::unique_ptr<TFFSubtitle> sub)
{
    const int64_t begin = sub->BeginUs();
    for (auto& item : m_items)
        if (item->BeginUs() <= begin)
            item->endCapUs = std::min(item->endCapUs, begin);
    if (sub->sub.num_rects > 0)
        m_items.push_back(std::move(sub));
}

void TSubtitleQueue::Apply(TFFSample& picture)
{
    while (!m_items.empty()) {
        const TFFSubtitle& sub = *m_items.front();
        // a subtitle's own end is its last shown moment; one ended by a
        // later event is gone when that event begins
        if (sub.EndUs() < picture.startUs || sub.endCapUs <= picture.startUs) {
            m_items.pop_front(); // over before this picture: never shown again
            continue;
        }
        if (sub.BeginUs() <= picture.startUs) {
            for (unsigned i = 0; i < sub.sub.num_rects; ++i)
                BlendSubtitleRect(picture.data.get(), picture.width, picture.height, *sub.sub.rects[i]);
        }
        break; // drawn, or still to come
    }
}

void TFFPushSource::DecodeSubtitle(const AVPacket* pkt)
{
    auto sub = std::make_unique<TFFSubtitle>();
    int got = 0;
    if (avcodec_decode_subtitle2(m_subtitle->ctx.get(), &sub->sub, &got, const_cast<AVPacket*>(pkt)) < 0 || !got)
        return;
    // text subtitles are not drawn here; bitmap events without rectangles
    // end the subtitle shown before them
    if (sub->sub.format != 0)
        return;
    const AVRational tb = Stream(AVMEDIA_TYPE_SUBTITLE)->time_base;
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    sub->timeUs = (ts != AV_NOPTS_VALUE ? ToUs(ts, tb) : m_videoClockUs) + LoopOffsetUs();
    std::lock_guard<std::mutex> queue(m_queueLock);
    if (m_seekGeneration == m_doneGeneration)
        m_subtitles.Push(std::move(sub));
}

} // namespace korvane
