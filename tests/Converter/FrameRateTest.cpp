// Constant frame rate outputs of variable frame rate sources: every output
// slot shows the same source picture as the ffmpeg tool's own conversion
// (-vsync cfr) at the same rate, and both have as many pictures.
//
// The sources paint picture N in flat grey of luma 16 + 2N, so the mean luma
// of a decoded output picture, measured by the ffmpeg tool, names the source
// picture it shows.
#include "transcode/AVConverter.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

// 100 numbered pictures at 25 fps, retimed by setpts (times in seconds, N the
// picture's number), stored with their own times.
QString NumberedSource(const QString& name, const QString& times)
{
    return Fixture(name, {"-f", "lavfi", "-i",
                          "color=gray:size=64x48:rate=25:duration=4,format=yuv420p,"
                          "geq=lum='16+2*N':cb=128:cr=128",
                          "-vf", QStringLiteral("setpts='(%1)/TB'").arg(times), "-fps_mode", "vfr", "-c:v", "ffv1"});
}

// The source picture each decoded picture of file shows, in order; -1 for a
// picture whose luma is not flat enough to name one.
std::vector<int> ShownPictures(const QString& file)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-hide_banner", "-nostats", "-i", file, "-an", "-vf",
                                        "signalstats,metadata=mode=print:key=lavfi.signalstats.YAVG", "-f", "null", "-"});
    std::vector<int> shown;
    const QRegularExpression line(QStringLiteral("lavfi\\.signalstats\\.YAVG=([0-9.]+)"));
    for (auto it = line.globalMatch(r.err); it.hasNext();) {
        const double luma = it.next().captured(1).toDouble();
        const double n = (luma - 16.0) / 2.0;
        shown.push_back(std::abs(n - std::round(n)) < 0.2 ? int(std::lround(n)) : -1);
    }
    return shown;
}

// The ffmpeg tool's conversion of source at rate, constant frame rate.
QString ToolConversion(const QString& source, const QString& rate, const QStringList& filters, const QString& out)
{
    QStringList args{"-y", "-hide_banner", "-loglevel", "error", "-i", source, "-an"};
    if (!filters.isEmpty())
        args << "-vf" << filters.join(',');
    args << "-vsync" << "cfr" << "-r" << rate << "-c:v" << "ffv1" << out;
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG), args);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return out;
}

struct Case
{
    const char* name;
    QString source;
    int rateNum, rateDen;
    QString filter; // the job's filter description, and the tool's -vf
};

// First slot where the two lists differ, or -1.
int FirstDifference(const std::vector<int>& a, const std::vector<int>& b)
{
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i])
            return int(i);
    return a.size() == b.size() ? -1 : int(std::min(a.size(), b.size()));
}

} // namespace

// A gap of one second after picture 49 at 25 fps: the slots of the gap repeat
// picture 49, and the pictures after it keep their own slots (picture 51 at
// 3.04 s in slot 76), not one slot early.
TEST(FrameRate, PicturesAfterAGapKeepTheirSlots)
{
    const QString source = NumberedSource("vfr_gap_1s.mkv", "N/25+gte(N,50)");
    const QString out = TempDir() + "/gap.avi";
    ASSERT_EQ(Convert(source, out, [](TAVConvertOptions* o) { o->VideoOptions()->m_encoderVideoCodecName = "ffv1"; }),
              "");
    const std::vector<int> shown = ShownPictures(out);
    ASSERT_EQ(shown.size(), 125u);
    for (int slot = 50; slot < 74; ++slot)
        EXPECT_EQ(shown[size_t(slot)], 49) << "slot " << slot;
    EXPECT_EQ(shown[76], 51);
    EXPECT_EQ(shown[124], 99);
    const ProbeResult p = Probe(out);
    ASSERT_EQ(p.Count("video"), 1);
    EXPECT_EQ(p.First("video")->packets, 125);
}

// Gaps of whole and partial slots, rate changes, a source slower than the
// output, an NTSC output and a job with a filter of the user's (the picture
// length then comes from the rate, not from the picture): the same picture
// in every slot as the tool's, the same number of pictures and the same
// duration.
TEST(FrameRate, EverySlotShowsThePictureTheToolShows)
{
    const Case cases[] = {
        {"whole gap", NumberedSource("vfr_gap_1s.mkv", "N/25+gte(N,50)"), 25, 1, {}},
        {"partial gap", NumberedSource("vfr_gap_037.mkv", "N/25+0.37*gte(N,50)"), 25, 1, {}},
        {"rate changes", NumberedSource("vfr_rates.mkv", "if(lt(N,30),N/30,if(lt(N,60),1+(N-30)/15,3+(N-60)/50))"),
         25, 1, {}},
        {"slow source", NumberedSource("vfr_slow10.mkv", "N/10"), 25, 1, {}},
        {"ntsc output", NumberedSource("vfr_gap_1s.mkv", "N/25+gte(N,50)"), 30000, 1001, {}},
        {"user filter, gap", NumberedSource("vfr_gap_037.mkv", "N/25+0.37*gte(N,50)"), 25, 1, "hflip"},
        {"user filter, slow source", NumberedSource("vfr_slow10.mkv", "N/10"), 25, 1, "hflip"},
    };
    const QString dir = TempDir();
    int k = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString ours = dir + QStringLiteral("/ours%1.avi").arg(k);
        const QString tool = dir + QStringLiteral("/tool%1.avi").arg(k);
        ++k;
        ASSERT_EQ(Convert(c.source, ours,
                          [&c](TAVConvertOptions* o) {
                              o->VideoOptions()->m_encoderVideoCodecName = "ffv1";
                              o->VideoOptions()->FrameRate()->setNum(c.rateNum);
                              o->VideoOptions()->FrameRate()->setDen(c.rateDen);
                              o->FilterOptions()->m_videoFilters = c.filter;
                          }),
                  "");
        ToolConversion(c.source, QStringLiteral("%1/%2").arg(c.rateNum).arg(c.rateDen),
                       c.filter.isEmpty() ? QStringList{} : QStringList{c.filter}, tool);
        const std::vector<int> expected = ShownPictures(tool), shown = ShownPictures(ours);
        ASSERT_GT(expected.size(), 90u);
        EXPECT_EQ(std::count(expected.begin(), expected.end(), -1), 0);
        EXPECT_EQ(shown.size(), expected.size());
        const int first = FirstDifference(expected, shown);
        EXPECT_EQ(first, -1) << "slot " << first << ": the tool shows picture "
                             << (size_t(first) < expected.size() ? expected[size_t(first)] : -2) << ", ours "
                             << (size_t(first) < shown.size() ? shown[size_t(first)] : -2);
        const ProbeResult a = Probe(ours), b = Probe(tool);
        ASSERT_EQ(a.Count("video"), 1);
        ASSERT_EQ(b.Count("video"), 1);
        EXPECT_EQ(a.First("video")->packets, b.First("video")->packets);
        EXPECT_NEAR(a.First("video")->duration, b.First("video")->duration, 0.001);
    }
}
