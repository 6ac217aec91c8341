// The media libraries, and one RAII owner for each of their handles.
// Every FFmpeg object the engine creates is held by one of these.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <memory>
#include <utility>
#include <string>

namespace korvane::av {

struct CodecContextDeleter { void operator()(AVCodecContext* p) const { avcodec_free_context(&p); } };
struct FrameDeleter { void operator()(AVFrame* p) const { av_frame_free(&p); } };
struct PacketDeleter { void operator()(AVPacket* p) const { av_packet_free(&p); } };
struct BsfDeleter { void operator()(AVBSFContext* p) const { av_bsf_free(&p); } };
struct FilterGraphDeleter { void operator()(AVFilterGraph* p) const { avfilter_graph_free(&p); } };
struct SwsDeleter { void operator()(SwsContext* p) const { sws_freeContext(p); } };
struct SwrDeleter { void operator()(SwrContext* p) const { swr_free(&p); } };
struct AudioFifoDeleter { void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); } };
struct DictDeleter { void operator()(AVDictionary* p) const { av_dict_free(&p); } };
struct AvFreeDeleter { void operator()(void* p) const { av_free(p); } };
struct InOutDeleter { void operator()(AVFilterInOut* p) const { avfilter_inout_free(&p); } };

// An opened input: avformat_close_input also frees a custom I/O context's
// buffer only when the context owns it, so custom I/O stays with its owner.
struct InputContextDeleter { void operator()(AVFormatContext* p) const { avformat_close_input(&p); } };
// An output context: closes its file (when it has one) and frees the context.
struct OutputContextDeleter
{
    void operator()(AVFormatContext* p) const
    {
        if (p && p->oformat && !(p->oformat->flags & AVFMT_NOFILE))
            avio_closep(&p->pb);
        avformat_free_context(p);
    }
};

// A format context that was only allocated (never opened).
struct FormatContextDeleter { void operator()(AVFormatContext* p) const { avformat_free_context(p); } };
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
// A file handle from fopen.
struct FileDeleter { void operator()(FILE* p) const { if (p) std::fclose(p); } };
using FilePtr = std::unique_ptr<FILE, FileDeleter>;

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using BsfPtr = std::unique_ptr<AVBSFContext, BsfDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutDeleter>;
template <typename T> using AvBuffer = std::unique_ptr<T, AvFreeDeleter>;

// A dictionary owned by the caller; pass &dict.p to the library.
struct Dict
{
    AVDictionary* p = nullptr;
    Dict() = default;
    Dict(const Dict&) = delete;
    Dict& operator=(const Dict&) = delete;
    ~Dict() { av_dict_free(&p); }
};

// A channel layout that frees what it owns (custom layouts carry a map).
struct ChannelLayout
{
    AVChannelLayout v{};
    ChannelLayout() = default;
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;
    ChannelLayout(ChannelLayout&& o) noexcept : v(o.v) { o.v = {}; }
    ChannelLayout& operator=(ChannelLayout&& o) noexcept
    {
        std::swap(v, o.v);
        return *this;
    }
    ~ChannelLayout() { av_channel_layout_uninit(&v); }
};

inline FramePtr NewFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr NewPacket() { return PacketPtr(av_packet_alloc()); }

// Text of a library error code.
inline std::string ErrorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};

} // namespace korvane::av
