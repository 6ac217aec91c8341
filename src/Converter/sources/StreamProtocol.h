// In-process byte streams opened by the engine like files.
//
// A stream object (a DVD title range, for instance) is registered in a
// process-wide registry and gets an integer handle; its source name is
// "stream:<handle>" (a trailing extension such as ".vob" is allowed). The
// input opener recognises such names and attaches a custom AVIOContext that
// reads the stream. Handles are registry keys, never memory addresses: a
// stale or forged name finds nothing instead of reading freed memory.
//
// One name serves one open: attaching takes the stream out of the registry,
// and the attached input frees it when it is destroyed.
#pragma once

#include "av/FFmpeg.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace korvane {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream produced inside the program. Read by one thread at a time.
class TStream
{
public:
    virtual ~TStream() = default;
    // Bytes delivered into buffer (at most count); 0 at the end; negative on
    // a read error.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Bytes written; streams are read-only unless they say otherwise.
    virtual int64_t Write(const void* buffer, int64_t count);
    // The new position, or -1 when the seek is refused.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    // Total bytes, or -1 when unknown.
    virtual int64_t Size() = 0;
};

using TStreamHandle = int;

// Puts stream into the registry and returns its handle (never 0, never
// reused in this process). Thread-safe.
TStreamHandle RegisterStream(std::unique_ptr<TStream> stream);
// Frees a registered stream that was never attached. False when the handle
// is unknown (already attached or released). Thread-safe.
bool ReleaseStream(TStreamHandle handle);
// True while handle names a registered, not yet attached stream.
bool IsStreamRegistered(TStreamHandle handle);

// "stream:<handle>".
QString StreamSourceName(TStreamHandle handle);
// True for names of the form "stream:<digits>" with an optional extension.
bool IsStreamSource(const QString& name);
// The handle in such a name, or nothing when the name is not one.
std::optional<TStreamHandle> ParseStreamSource(const QString& name);

// An opened "stream:" source: owns the stream and the AVIOContext reading it.
// Destroy it only after avformat_close_input on the context it is attached to.
class TStreamInput
{
public:
    TStreamInput(std::unique_ptr<TStream> stream, TStreamHandle handle);
    ~TStreamInput();
    TStreamInput(const TStreamInput&) = delete;
    TStreamInput& operator=(const TStreamInput&) = delete;

    AVIOContext* Context() const { return m_io; }
    TStream& Stream() const { return *m_stream; }
    TStreamHandle Handle() const { return m_handle; }

    // While *stop is true, reads and seeks fail with AVERROR_EXIT, so a
    // blocked open or read ends when the job is stopped. The flag must outlive
    // this object; nullptr removes it.
    void SetStopFlag(const std::atomic<bool>* stop) { m_stop.store(stop); }

private:
    static int ReadPacket(void* opaque, uint8_t* buffer, int size);
    static int64_t SeekStream(void* opaque, int64_t offset, int whence);
    bool Stopped() const;

    std::unique_ptr<TStream> m_stream;
    TStreamHandle m_handle;
    AVIOContext* m_io = nullptr;
    std::atomic<const std::atomic<bool>*> m_stop{nullptr};
};

// Takes the stream named by name ("stream:<n>[.ext]") out of the registry
// and sets ctx->pb to an AVIOContext over it. ctx comes from
// avformat_alloc_context() and is not opened yet. Raises EEngineError when
// the name is not a stream source or names no live stream (unknown, or
// already opened or released).
std::unique_ptr<TStreamInput> AttachStreamSource(const QString& name, AVFormatContext* ctx);

} // namespace korvane
