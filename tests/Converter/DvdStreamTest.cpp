#include "MediaFixtures.h"
#include "options/Persistent.h"
#include "sources/StreamProtocol.h"
#include "sources/dvd/DvdSource.h"
#include "sources/dvd/DvdStream.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::dvd;

namespace korvane::test {
QString DvdFixtureFolder(); // DvdScanTest.cpp
QString CopyOfDisc();
}

namespace {

using korvane::test::DvdFixtureFolder;

TDvdTitle Title(int number)
{
    const TDvdDisc disc = ScanDvd(DvdFixtureFolder());
    return disc.Titles.at(number - 1);
}

// The title set's VOB file: a one-title set played straight through is the
// title's byte stream, an oracle independent of libdvdnav.
QByteArray Vob(int titleSet)
{
    QFile f(DvdFixtureFolder() + QString::asprintf("/VIDEO_TS/VTS_%02d_1.VOB", titleSet));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray ReadAll(TStream& stream, int chunk)
{
    QByteArray all;
    QByteArray buf(chunk, '\0');
    for (;;) {
        const int64_t n = stream.Read(buf.data(), chunk);
        if (n <= 0)
            break;
        all.append(buf.constData(), static_cast<int>(n));
    }
    return all;
}

std::string CreateError(const TDvdTitle& title, int first, int last, int angle)
{
    try {
        TDvdStream::Create(title, first, last, angle);
    } catch (const EEngineError& e) {
        return e.what();
    }
    return "no error";
}

struct Demuxed
{
    long long videoPackets = 0;
    double firstVideoPts = -1, lastVideoPts = -1; // seconds
    int64_t size = -1;
};

// Opens a registered stream source as the engine does and reads all packets.
Demuxed Demux(const QString& name, double seekTo = -1)
{
    Demuxed result;
    AVFormatContext* raw = avformat_alloc_context();
    std::unique_ptr<TStreamInput> input = AttachStreamSource(name, raw);
    const QByteArray url = name.toUtf8();
    EXPECT_EQ(avformat_open_input(&raw, url.constData(), av_find_input_format("mpeg"), nullptr), 0);
    av::InputContextPtr ctx(raw);
    if (!ctx)
        return result;
    EXPECT_GE(avformat_find_stream_info(ctx.get(), nullptr), 0);
    result.size = avio_size(ctx->pb);
    const int video = av_find_best_stream(ctx.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    EXPECT_GE(video, 0);
    if (seekTo >= 0) {
        EXPECT_GE(avformat_seek_file(ctx.get(), -1, INT64_MIN, static_cast<int64_t>(seekTo * AV_TIME_BASE),
                                     static_cast<int64_t>(seekTo * AV_TIME_BASE), 0), 0);
    }
    av::PacketPtr pkt = av::NewPacket();
    int ret = 0;
    while ((ret = av_read_frame(ctx.get(), pkt.get())) >= 0) {
        if (pkt->stream_index == video) {
            ++result.videoPackets;
            if (pkt->pts != AV_NOPTS_VALUE) {
                const double t = pkt->pts * av_q2d(ctx->streams[video]->time_base);
                if (result.firstVideoPts < 0)
                    result.firstVideoPts = t;
                result.lastVideoPts = std::max(result.lastVideoPts, t);
            }
        }
        av_packet_unref(pkt.get());
    }
    EXPECT_EQ(ret, AVERROR_EOF);
    ctx.reset();
    return result;
}

} // namespace

TEST(DvdStream, WholeTitleIsTheTitleSetsVob)
{
    const QByteArray vob = Vob(1);
    ASSERT_FALSE(vob.isEmpty());
    auto stream = TDvdStream::Create(Title(1), 1, 4, 1);
    EXPECT_EQ(stream->Size(), vob.size());
    // odd chunk sizes cross block boundaries and leave remainders in the ring
    for (int chunk : {2048, 1000, 7, 5000}) {
        ASSERT_EQ(stream->Seek(0, TSeekOrigin::soBeginning), 0);
        EXPECT_EQ(ReadAll(*stream, chunk), vob) << "chunk " << chunk;
    }
}

TEST(DvdStream, OneReadLargerThanTheStreamDeliversItAll)
{
    const QByteArray vob = Vob(2);
    auto stream = TDvdStream::Create(Title(2), 1, 2, 1);
    QByteArray buf(vob.size() + 100000, '\0');
    EXPECT_EQ(stream->Read(buf.data(), buf.size()), vob.size());
    EXPECT_EQ(buf.left(vob.size()), vob);
    EXPECT_EQ(stream->Read(buf.data(), 10), 0) << "past the range: 0";
}

TEST(DvdStream, ChapterRangesSplitTheTitleWithoutGapsOrOverlaps)
{
    const TDvdTitle title = Title(1);
    const QByteArray vob = Vob(1);
    auto first = TDvdStream::Create(title, 1, 1, 1);
    auto middle = TDvdStream::Create(title, 2, 3, 1);
    auto last = TDvdStream::Create(title, 4, 4, 1);
    const QByteArray a = ReadAll(*first, 4096), b = ReadAll(*middle, 4096), c = ReadAll(*last, 4096);
    EXPECT_EQ(a.size(), first->Size());
    EXPECT_EQ(b.size(), middle->Size());
    EXPECT_EQ(c.size(), last->Size());
    EXPECT_GT(a.size(), 0);
    EXPECT_GT(b.size(), a.size()) << "two chapters against one";
    EXPECT_EQ(a + b + c, vob);
}

TEST(DvdStream, ReadingPastTheRangeGivesTheRestThenZero)
{
    auto stream = TDvdStream::Create(Title(1), 2, 2, 1);
    const int64_t size = stream->Size();
    ASSERT_EQ(stream->Seek(size - 100, TSeekOrigin::soBeginning), size - 100);
    char buf[4096];
    EXPECT_EQ(stream->Read(buf, sizeof buf), 100);
    EXPECT_EQ(stream->Read(buf, sizeof buf), 0);
    EXPECT_EQ(stream->Read(buf, 0), 0);
}

TEST(DvdStream, SeeksLandOnExactBytes)
{
    const QByteArray vob = Vob(1);
    auto stream = TDvdStream::Create(Title(1), 1, 4, 1);
    char buf[3000];
    for (int64_t offset : {int64_t(5000), int64_t(300000), int64_t(2048), int64_t(0), int64_t(vob.size() - 3000),
                           int64_t(123457)}) {
        ASSERT_EQ(stream->Seek(offset, TSeekOrigin::soBeginning), offset);
        ASSERT_EQ(stream->Read(buf, sizeof buf), 3000) << offset;
        EXPECT_EQ(QByteArray(buf, 3000), vob.mid(offset, 3000)) << "offset " << offset;
        EXPECT_EQ(stream->Position(), offset + 3000);
    }
    // after the end has been reached, a seek back still works
    ReadAll(*stream, 65536);
    ASSERT_EQ(stream->Seek(5000, TSeekOrigin::soBeginning), 5000);
    ASSERT_EQ(stream->Read(buf, 100), 100);
    EXPECT_EQ(QByteArray(buf, 100), vob.mid(5000, 100));
}

TEST(DvdStream, SeekInsideALaterChapterRange)
{
    const QByteArray vob = Vob(1);
    auto whole = TDvdStream::Create(Title(1), 1, 4, 1);
    auto head = TDvdStream::Create(Title(1), 1, 2, 1);
    const int64_t rangeStart = head->Size();
    auto range = TDvdStream::Create(Title(1), 3, 4, 1);
    char buf[2500];
    ASSERT_EQ(range->Seek(7000, TSeekOrigin::soBeginning), 7000);
    ASSERT_EQ(range->Read(buf, sizeof buf), 2500);
    EXPECT_EQ(QByteArray(buf, 2500), vob.mid(rangeStart + 7000, 2500));
}

TEST(DvdStream, RefusedSeeks)
{
    auto stream = TDvdStream::Create(Title(2), 1, 2, 1);
    EXPECT_EQ(stream->Seek(0, TSeekOrigin::soCurrent), -1);
    EXPECT_EQ(stream->Seek(0, TSeekOrigin::soEnd), -1);
    EXPECT_EQ(stream->Seek(-1, TSeekOrigin::soBeginning), -1);
    const int64_t size = stream->Size();
    EXPECT_EQ(stream->Seek(size + 5000, TSeekOrigin::soBeginning), size) << "past the end goes to the end";
    char buf[16];
    EXPECT_EQ(stream->Read(buf, sizeof buf), 0);
    EXPECT_EQ(stream->Seek(0, TSeekOrigin::soBeginning), 0);
    EXPECT_EQ(stream->Read(buf, sizeof buf), 16);
}

TEST(DvdStreamErrors, BadRangesAnglesAndDiscs)
{
    const TDvdTitle title = Title(1);
    EXPECT_EQ(CreateError(title, 0, 2, 1), "Can not start chapter");
    EXPECT_EQ(CreateError(title, 3, 2, 1), "Can not start chapter");
    EXPECT_EQ(CreateError(title, 1, 5, 1), "Can not start chapter");
    EXPECT_EQ(CreateError(title, 1, 4, 2), "Can not open title");
    EXPECT_EQ(CreateError(title, 1, 4, 0), "Can not open title");
    TDvdTitle gone = title;
    gone.Path = "/nonexistent/korvane/disc";
    EXPECT_EQ(CreateError(gone, 1, 1, 1), "Can not open title");
    TDvdTitle unknown = title;
    unknown.Number = 9;
    EXPECT_EQ(CreateError(unknown, 1, 1, 1), "Can not start chapter");
    EXPECT_THROW(OpenDvdSource("/nonexistent/korvane/disc", 1), EEngineError);
    try {
        OpenDvdSource(DvdFixtureFolder(), 3);
        FAIL() << "title 3 does not exist";
    } catch (const EEngineError& e) {
        EXPECT_STREQ(e.what(), "Can not open title");
    }
}

// The engine's way in: a registered title opened by name and demuxed.
TEST(DvdSource, TitleDemuxesThroughTheStreamSource)
{
    const TDvdSource source = OpenDvdSource(DvdFixtureFolder(), 1);
    EXPECT_TRUE(IsStreamSource(source.Name));
    EXPECT_TRUE(IsStreamRegistered(source.Handle));
    EXPECT_EQ(source.Size, Vob(1).size());
    EXPECT_EQ(source.VolumeLabel, "KORVANE_DISC");
    const Demuxed d = Demux(source.Name + ".vob");
    EXPECT_EQ(d.size, source.Size) << "the size query reaches the stream";
    EXPECT_EQ(d.videoPackets, 100) << "4 s at 25 fps";
    EXPECT_NEAR(d.lastVideoPts - d.firstVideoPts, 4.0 - 0.04, 0.05);
    EXPECT_NEAR(source.DurationUs / 1e6, 4.0, 0.3);
    EXPECT_FALSE(IsStreamRegistered(source.Handle)) << "the open took the stream";
    EXPECT_FALSE(ReleaseStream(source.Handle));
    AVFormatContext* again = avformat_alloc_context();
    EXPECT_THROW(AttachStreamSource(source.Name, again), EEngineError) << "one name serves one open";
    avformat_free_context(again);
}

TEST(DvdSource, ChapterRangeHasTheChaptersLength)
{
    const TDvdTitle title = Title(1);
    const TDvdSource source = OpenDvdSource(DvdFixtureFolder(), 1, 2, 3);
    const double expected = (title.Chapters[1].DurationUs + title.Chapters[2].DurationUs) / 1e6;
    EXPECT_NEAR(source.DurationUs / 1e6, expected, 0.001);
    const Demuxed d = Demux(source.Name);
    EXPECT_NEAR(d.videoPackets / 25.0, expected, 0.1);
    EXPECT_GT(d.firstVideoPts, 0.5) << "starts in chapter 2, not at the title's start";
    EXPECT_NEAR(d.lastVideoPts - d.firstVideoPts + 0.04, expected, 0.1);
}

TEST(DvdSource, DemuxerSeeksInsideTheTitle)
{
    const TDvdSource source = OpenDvdSource(DvdFixtureFolder(), 2);
    const Demuxed d = Demux(source.Name, 2.0);
    EXPECT_GT(d.videoPackets, 0);
    EXPECT_LT(d.videoPackets, 75) << "the seek skipped the start";
    EXPECT_NEAR(d.firstVideoPts, 2.0 + 0.5, 0.7);
}

TEST(DvdSource, UnopenedSourceIsReleasedByItsHandle)
{
    const TDvdSource source = OpenDvdSource(DvdFixtureFolder(), 2, 2, 2);
    EXPECT_TRUE(ReleaseStream(source.Handle));
    AVFormatContext* ctx = avformat_alloc_context();
    EXPECT_THROW(AttachStreamSource(source.Name, ctx), EEngineError);
    avformat_free_context(ctx);
}

TEST(DvdStream, TheLastChapterSeeksBackAfterItsEndWasRead)
{
    const QByteArray vob = Vob(1);
    auto head = TDvdStream::Create(Title(1), 1, 3, 1);
    const int64_t lastStart = head->Size();
    auto last = TDvdStream::Create(Title(1), 4, 4, 1);
    ASSERT_EQ(lastStart + last->Size(), vob.size());
    // the demuxer's pattern: read to the end (the title ends there), then back
    EXPECT_EQ(ReadAll(*last, 65536), vob.mid(lastStart));
    char buf[3000];
    for (int64_t offset : {int64_t(0), last->Size() - 3000, int64_t(5000), int64_t(0)}) {
        ASSERT_EQ(last->Seek(offset, TSeekOrigin::soBeginning), offset);
        ASSERT_EQ(last->Read(buf, sizeof buf), 3000) << offset;
        EXPECT_EQ(QByteArray(buf, 3000), vob.mid(lastStart + offset, 3000)) << "offset " << offset;
        EXPECT_EQ(ReadAll(*last, 4096).size(), last->Size() - offset - 3000) << "to the end again from " << offset;
    }
}

TEST(DvdSource, TheLastChapterAloneDemuxesToItsEnd)
{
    for (const auto& [title, chapter] : {std::pair{1, 4}, std::pair{2, 2}}) {
        SCOPED_TRACE(title);
        const TDvdTitle t = Title(title);
        const TDvdSource source = OpenDvdSource(DvdFixtureFolder(), title, chapter, chapter);
        const double expected = t.Chapters[chapter - 1].DurationUs / 1e6;
        const Demuxed d = Demux(source.Name + ".vob");
        EXPECT_NEAR(d.videoPackets / 25.0, expected, 0.1);
        EXPECT_NEAR(d.lastVideoPts - d.firstVideoPts + 0.04, expected, 0.1);
    }
}

namespace {

// A copy of the disc whose first title declares two angles in the disc's
// title table (and its backup). dvdauthor cannot author angle blocks, so
// both angles play the same cells.
QString DiscWithTwoAngles()
{
    const QString disc = korvane::test::CopyOfDisc();
    for (const char* name : {"/VIDEO_TS/VIDEO_TS.IFO", "/VIDEO_TS/VIDEO_TS.BUP"}) {
        QFile f(disc + name);
        EXPECT_TRUE(f.open(QIODevice::ReadWrite)) << name;
        QByteArray ifo = f.readAll();
        // the title table's sector, then its first entry: type, angles, ...
        const auto* p = reinterpret_cast<const uint8_t*>(ifo.constData());
        const uint32_t sector = uint32_t(p[0xC4]) << 24 | uint32_t(p[0xC5]) << 16 | uint32_t(p[0xC6]) << 8 | p[0xC7];
        const qsizetype angles = qsizetype(sector) * kBlockSize + 8 + 1;
        EXPECT_LT(angles, ifo.size());
        EXPECT_EQ(ifo[angles], 1);
        ifo[angles] = 2;
        f.seek(0);
        f.write(ifo);
    }
    return disc;
}

} // namespace

// The angle is applied at every start of playback: the first one, a seek,
// and the start after the title was read to its end (which resets the
// reader). An angle the title does not have is refused.
TEST(DvdStream, AChosenAngleIsAppliedAtEveryStart)
{
    const QString disc = DiscWithTwoAngles();
    const TDvdTitle title = ScanDvd(disc).Titles.at(0);
    ASSERT_EQ(title.AngleCount, 2);
    const QByteArray vob = Vob(1);
    auto whole = TDvdStream::Create(title, 1, 4, 2);
    EXPECT_EQ(whole->Angle(), 2);
    EXPECT_EQ(ReadAll(*whole, 65536), vob);

    const int64_t lastStart = TDvdStream::Create(title, 1, 3, 2)->Size();
    auto last = TDvdStream::Create(title, 4, 4, 2);
    EXPECT_EQ(ReadAll(*last, 65536), vob.mid(lastStart));
    char buf[3000];
    ASSERT_EQ(last->Seek(5000, TSeekOrigin::soBeginning), 5000);
    ASSERT_EQ(last->Read(buf, sizeof buf), 3000);
    EXPECT_EQ(QByteArray(buf, 3000), vob.mid(lastStart + 5000, 3000));

    EXPECT_EQ(CreateError(title, 1, 4, 3), "Can not open title");
    // the engine's way in, at the second angle
    const TDvdSource source = OpenDvdSource(disc, 1, 2, 3, 2);
    const Demuxed d = Demux(source.Name + ".vob");
    EXPECT_NEAR(d.videoPackets / 25.0, (title.Chapters[1].DurationUs + title.Chapters[2].DurationUs) / 1e6, 0.1);
}
