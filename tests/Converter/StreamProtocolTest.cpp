#include "MediaFixtures.h"
#include "options/Persistent.h"
#include "sources/StreamProtocol.h"

#include <QFile>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <stdexcept>

using namespace korvane;

namespace {

// A stream over bytes in memory; counts its destructions.
class TMemoryStream : public TStream
{
public:
    explicit TMemoryStream(QByteArray data, int* destroyed = nullptr) : m_data(std::move(data)), m_destroyed(destroyed) {}
    ~TMemoryStream() override
    {
        if (m_destroyed)
            ++*m_destroyed;
    }
    int64_t Read(void* buffer, int64_t count) override
    {
        if (throwOnRead)
            throw std::runtime_error("disc gone");
        const int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, m_data.size() - m_pos));
        std::memcpy(buffer, m_data.constData() + m_pos, static_cast<size_t>(n));
        m_pos += n;
        return n;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override
    {
        const int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? m_pos : m_data.size();
        if (!seekable || base + offset < 0)
            return -1;
        m_pos = std::min<int64_t>(base + offset, m_data.size());
        return m_pos;
    }
    int64_t Size() override { return knownSize ? m_data.size() : -1; }

    bool throwOnRead = false;
    bool seekable = true;
    bool knownSize = true;

private:
    QByteArray m_data;
    int64_t m_pos = 0;
    int* m_destroyed;
};

QByteArray Pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    return data;
}

struct ContextDeleter { void operator()(AVFormatContext* p) const { avformat_free_context(p); } };
using ContextPtr = std::unique_ptr<AVFormatContext, ContextDeleter>;

} // namespace

TEST(StreamProtocolNames, AcceptsNumberWithOptionalExtension)
{
    EXPECT_EQ(ParseStreamSource("stream:12345678"), 12345678);
    EXPECT_EQ(ParseStreamSource("stream:12345678.vob"), 12345678);
    EXPECT_TRUE(IsStreamSource("stream:3.vob"));
    for (const char* bad : {"stream:", "stream:abc", "stream:-3", "stream:0", "stream:99999999999", "movie.mp4",
                            "/tmp/stream:5", "stream:5/../x", "stream:5.vob.exe", "xstream:5"})
        EXPECT_FALSE(IsStreamSource(bad)) << bad;
    EXPECT_EQ(StreamSourceName(42), "stream:42");
}

TEST(StreamProtocolRegistry, HandlesAreDistinctAndReleaseFreesOnce)
{
    int destroyed = 0;
    std::set<TStreamHandle> handles;
    for (int i = 0; i < 5; ++i)
        handles.insert(RegisterStream(std::make_unique<TMemoryStream>(Pattern(10), &destroyed)));
    EXPECT_EQ(handles.size(), 5u);
    EXPECT_EQ(handles.count(0), 0u);
    for (TStreamHandle h : handles) {
        EXPECT_TRUE(IsStreamRegistered(h));
        EXPECT_TRUE(ReleaseStream(h));
        EXPECT_FALSE(ReleaseStream(h));
    }
    EXPECT_EQ(destroyed, 5);
}

TEST(StreamProtocolAttach, UnknownOrClosedHandleFailsClearly)
{
    ContextPtr ctx(avformat_alloc_context());
    const TStreamHandle h = RegisterStream(std::make_unique<TMemoryStream>(Pattern(10)));
    ASSERT_TRUE(ReleaseStream(h));
    try {
        AttachStreamSource(StreamSourceName(h), ctx.get());
        FAIL() << "a released stream was attached";
    } catch (const EEngineError& e) {
        EXPECT_NE(std::string(e.what()).find(StreamSourceName(h).toStdString()), std::string::npos) << e.what();
    }
    EXPECT_EQ(ctx->pb, nullptr);
    EXPECT_THROW(AttachStreamSource("clip.mp4", ctx.get()), EEngineError);
}

TEST(StreamProtocolAttach, OneNameServesOneOpenAndClosingFreesTheStream)
{
    int destroyed = 0;
    const TStreamHandle h = RegisterStream(std::make_unique<TMemoryStream>(Pattern(100), &destroyed));
    const QString name = StreamSourceName(h) + ".vob";
    ContextPtr ctx(avformat_alloc_context());
    auto input = AttachStreamSource(name, ctx.get());
    ASSERT_NE(ctx->pb, nullptr);
    EXPECT_EQ(ctx->pb, input->Context());
    EXPECT_FALSE(IsStreamRegistered(h));
    ContextPtr other(avformat_alloc_context());
    EXPECT_THROW(AttachStreamSource(name, other.get()), EEngineError);
    EXPECT_EQ(destroyed, 0);
    ctx->pb = nullptr;
    input.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(StreamProtocolIo, ReadsToEndWithEofAndReportsSize)
{
    const QByteArray data = Pattern(100000);
    ContextPtr ctx(avformat_alloc_context());
    auto input = AttachStreamSource(StreamSourceName(RegisterStream(std::make_unique<TMemoryStream>(data))), ctx.get());
    AVIOContext* pb = input->Context();
    EXPECT_EQ(avio_size(pb), data.size());
    QByteArray got(data.size() + 50, '\0');
    EXPECT_EQ(avio_read(pb, reinterpret_cast<unsigned char*>(got.data()), got.size()), data.size());
    EXPECT_EQ(got.left(data.size()), data);
    unsigned char byte = 0;
    EXPECT_EQ(avio_read(pb, &byte, 1), AVERROR_EOF);
    EXPECT_TRUE(avio_feof(pb));
    // seeking back far enough to leave the library's buffer reaches the stream
    EXPECT_EQ(avio_seek(pb, 12345, SEEK_SET), 12345);
    QByteArray part(1000, '\0');
    ASSERT_EQ(avio_read(pb, reinterpret_cast<unsigned char*>(part.data()), part.size()), part.size());
    EXPECT_EQ(part, data.mid(12345, 1000));
    ctx->pb = nullptr;
}

TEST(StreamProtocolIo, FailuresBecomeErrorCodesNotCrashes)
{
    auto stream = std::make_unique<TMemoryStream>(Pattern(1000));
    stream->throwOnRead = true;
    stream->knownSize = false;
    stream->seekable = false;
    ContextPtr ctx(avformat_alloc_context());
    auto input = AttachStreamSource(StreamSourceName(RegisterStream(std::move(stream))), ctx.get());
    unsigned char buf[16];
    EXPECT_LT(avio_read(input->Context(), buf, sizeof buf), 0);
    EXPECT_LT(avio_size(input->Context()), 0) << "an unknown size is not reported as a size";
    ctx->pb = nullptr;
}

TEST(StreamProtocolIo, StopFlagEndsReads)
{
    ContextPtr ctx(avformat_alloc_context());
    auto input = AttachStreamSource(StreamSourceName(RegisterStream(std::make_unique<TMemoryStream>(Pattern(1000)))), ctx.get());
    std::atomic<bool> stop{true};
    input->SetStopFlag(&stop);
    unsigned char buf[16];
    EXPECT_EQ(avio_read(input->Context(), buf, sizeof buf), AVERROR_EXIT);
    input->SetStopFlag(nullptr);
    ctx->pb = nullptr;
}

// A real container read by the demuxer through the stream source: the same
// packets as ffprobe finds in the file.
TEST(StreamProtocolIo, DemuxerReadsAFileServedFromMemory)
{
    const QString file = test::SampleTs();
    ASSERT_FALSE(file.isEmpty());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    int destroyed = 0;
    const TStreamHandle h = RegisterStream(std::make_unique<TMemoryStream>(f.readAll(), &destroyed));
    const QByteArray name = (StreamSourceName(h) + ".ts").toUtf8();

    AVFormatContext* raw = avformat_alloc_context();
    std::unique_ptr<TStreamInput> input = AttachStreamSource(QString::fromUtf8(name), raw);
    ASSERT_EQ(avformat_open_input(&raw, name.constData(), nullptr, nullptr), 0);
    av::InputContextPtr ctx(raw);
    ASSERT_GE(avformat_find_stream_info(ctx.get(), nullptr), 0);
    long long packets = 0;
    av::PacketPtr pkt = av::NewPacket();
    int ret = 0;
    while ((ret = av_read_frame(ctx.get(), pkt.get())) >= 0) {
        ++packets;
        av_packet_unref(pkt.get());
    }
    EXPECT_EQ(ret, AVERROR_EOF);
    const test::ProbeResult probe = test::Probe(file);
    ASSERT_TRUE(probe.ok) << probe.error.toStdString();
    long long expected = 0;
    for (const auto& s : probe.streams)
        expected += s.packets;
    EXPECT_EQ(packets, expected);
    ctx.reset(); // close the input first, then its I/O
    EXPECT_EQ(destroyed, 0);
    input.reset();
    EXPECT_EQ(destroyed, 1);
}
