#include "sources/StreamProtocol.h"

#include "options/Persistent.h"

#include <QRegularExpression>
#include <map>
#include <mutex>
#include <random>

namespace korvane {

namespace {

// Size of the AVIOContext's buffer: a whole number of DVD blocks.
constexpr int kIoBufferSize = 32 * 2048;

// Live, not yet attached streams by handle. The lock guards only this map;
// streams themselves are used outside it.
class TStreamRegistry
{
public:
    TStreamHandle Add(std::unique_ptr<TStream> stream)
    {
        std::lock_guard guard(m_lock);
        const TStreamHandle handle = m_next++;
        if (m_next <= 0) // wrapped after two billion streams: start again low
            m_next = 1;
        m_streams[handle] = std::move(stream);
        return handle;
    }

    std::unique_ptr<TStream> Take(TStreamHandle handle)
    {
        std::lock_guard guard(m_lock);
        auto it = m_streams.find(handle);
        if (it == m_streams.end())
            return nullptr;
        std::unique_ptr<TStream> stream = std::move(it->second);
        m_streams.erase(it);
        return stream;
    }

    bool Contains(TStreamHandle handle)
    {
        std::lock_guard guard(m_lock);
        return m_streams.count(handle) != 0;
    }

private:
    std::mutex m_lock;
    std::map<TStreamHandle, std::unique_ptr<TStream>> m_streams; // guarded by m_lock
    // Handles start at a random value so that a "stream:<n>" name kept from
    // an earlier run of the program (the history stores source names) does
    // not pick up an unrelated stream of this run.
    TStreamHandle m_next = FirstHandle(); // guarded by m_lock

    static TStreamHandle FirstHandle()
    {
        std::random_device device;
        return std::uniform_int_distribution<TStreamHandle>(1'000'000, 900'000'000)(device);
    }
};

TStreamRegistry& Registry()
{
    static TStreamRegistry registry;
    return registry;
}

} // namespace

int64_t TStream::Write(const void*, int64_t) { return -1; }

TStreamHandle RegisterStream(std::unique_ptr<TStream> stream)
{
    if (!stream)
        throw EEngineError("Assertion failure (Converter/StreamProtocol): no stream to register");
    return Registry().Add(std::move(stream));
}

bool ReleaseStream(TStreamHandle handle)
{
    // destroyed outside the registry lock: a DVD stream closes its reader
    return Registry().Take(handle) != nullptr;
}

bool IsStreamRegistered(TStreamHandle handle) { return Registry().Contains(handle); }

QString StreamSourceName(TStreamHandle handle) { return QStringLiteral("stream:%1").arg(handle); }

std::optional<TStreamHandle> ParseStreamSource(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^stream:([0-9]{1,10})(\\.[A-Za-z0-9]{1,8})?$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int handle = match.captured(1).toInt(&ok);
    if (!ok || handle <= 0)
        return std::nullopt;
    return handle;
}

bool IsStreamSource(const QString& name) { return ParseStreamSource(name).has_value(); }

TStreamInput::TStreamInput(std::unique_ptr<TStream> stream, TStreamHandle handle)
    : m_stream(std::move(stream)), m_handle(handle)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (!buffer)
        throw EEngineError("Out of memory");
    m_io = avio_alloc_context(buffer, kIoBufferSize, 0, this, &TStreamInput::ReadPacket, nullptr,
                              &TStreamInput::SeekStream);
    if (!m_io) {
        av_free(buffer);
        throw EEngineError("Out of memory");
    }
}

TStreamInput::~TStreamInput()
{
    if (m_io) {
        // the library may have replaced the buffer it was given
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
}

bool TStreamInput::Stopped() const
{
    const std::atomic<bool>* stop = m_stop.load();
    return stop && stop->load();
}

int TStreamInput::ReadPacket(void* opaque, uint8_t* buffer, int size)
{
    auto* self = static_cast<TStreamInput*>(opaque);
    if (self->Stopped())
        return AVERROR_EXIT;
    try {
        const int64_t n = self->m_stream->Read(buffer, size);
        if (n < 0)
            return AVERROR(EIO);
        if (n == 0)
            return AVERROR_EOF; // 0 is not an end for the library
        return static_cast<int>(n);
    } catch (...) {
        // nothing may unwind through the library's C frames
        return AVERROR(EIO);
    }
}

int64_t TStreamInput::SeekStream(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<TStreamInput*>(opaque);
    if (self->Stopped())
        return AVERROR_EXIT;
    try {
        if (whence & AVSEEK_SIZE) {
            const int64_t size = self->m_stream->Size();
            return size < 0 ? AVERROR(ENOSYS) : size;
        }
        TSeekOrigin origin;
        switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: origin = TSeekOrigin::soBeginning; break;
        case SEEK_CUR: origin = TSeekOrigin::soCurrent; break;
        case SEEK_END: origin = TSeekOrigin::soEnd; break;
        default: return AVERROR(EINVAL);
        }
        const int64_t position = self->m_stream->Seek(offset, origin);
        return position < 0 ? AVERROR(EIO) : position;
    } catch (...) {
        return AVERROR(EIO);
    }
}

std::unique_ptr<TStreamInput> AttachStreamSource(const QString& name, AVFormatContext* ctx)
{
    if (!ctx)
        throw EEngineError("Assertion failure (Converter/StreamProtocol): no format context");
    const std::optional<TStreamHandle> handle = ParseStreamSource(name);
    if (!handle)
        throw EEngineError(QStringLiteral("Not a stream source: %1").arg(name).toStdString());
    std::unique_ptr<TStream> stream = Registry().Take(*handle);
    if (!stream)
        throw EEngineError(
            QStringLiteral("Stream source %1 is not open (unknown, closed or already in use)").arg(name).toStdString());
    auto input = std::make_unique<TStreamInput>(std::move(stream), *handle);
    ctx->pb = input->Context();
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    return input;
}

} // namespace korvane
