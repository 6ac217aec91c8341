// The preview's source with "synth" elements in the filter description: the
// scripts draw what the conversion draws, the description switches to and
// from them without reopening, and a looping script does not hold up a
// change or the close.
#include "MediaFixtures.h"
#include "filters/SynthScript.h"
#include "options/Persistent.h"
#include "preview/PushSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <cstring>
#include <thread>

using namespace korvane;

namespace {

// negval on limited-range luma, as the tool computes it: 251 - the value clipped to 16..235
const char* const kNegate =
    "synth=local t = {} for i = 0|255 do t[i] = 251 - math.min(math.max(i|16)|235) end frame:map(0|t)";
const char* const kLoop = "synth=while true do end";

TFFSamplePtr PictureAt(TFFPushSource& source, int64_t timeUs)
{
    source.Seek(timeUs);
    return source.WaitVideo(20000);
}

bool SamePicture(const TFFSamplePtr& a, const TFFSamplePtr& b)
{
    return a && b && a->width == b->width && a->height == b->height && a->size == b->size &&
           a->startUs == b->startUs && std::memcmp(a->data.get(), b->data.get(), size_t(a->size)) == 0;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

TEST(PreviewSynth, ScriptsDrawTheConversionsPictureAndSwitchWithoutReopening)
{
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.Load(test::SampleMp4());
    const TFFSamplePtr plain = PictureAt(source, 0);
    const TFFSamplePtr plainLater = PictureAt(source, 1'000'000);
    ASSERT_TRUE(plain && plainLater);

    // lutyuv clips chroma to its limited range unless told to keep it; the script keeps it
    source.SetVideoFilters(QStringLiteral("lutyuv=y=negval:u=val:v=val"));
    const TFFSamplePtr lut = PictureAt(source, 0);
    const TFFSamplePtr lutLater = PictureAt(source, 1'000'000);
    ASSERT_TRUE(lut && lutLater);
    ASSERT_FALSE(SamePicture(lut, plain));

    // from the lut straight to the script, then a filter after the script
    source.SetVideoFilters(QString::fromUtf8(kNegate));
    EXPECT_TRUE(source.GraphError().isEmpty());
    EXPECT_TRUE(SamePicture(PictureAt(source, 0), lut));
    EXPECT_TRUE(SamePicture(PictureAt(source, 1'000'000), lutLater));
    source.SetVideoFilters(QString::fromUtf8(kNegate) + QStringLiteral(",crop=100:80:0:0"));
    EXPECT_EQ(source.VideoWidth(), 100);
    EXPECT_EQ(source.VideoHeight(), 80);
    const TFFSamplePtr cropped = PictureAt(source, 0);
    ASSERT_TRUE(cropped);
    for (int y = 0; y < 80; ++y)
        ASSERT_EQ(
            std::memcmp(cropped->data.get() + y * 100 * 4, lut->data.get() + y * lut->width * 4, 100 * 4), 0)
            << "row " << y;

    // a script that does not compile leaves the pictures as they were
    source.SetVideoFilters(QStringLiteral("synth=this is not lua"));
    EXPECT_TRUE(SamePicture(PictureAt(source, 0), plain));
    // a synth without a script does not build, and the next description does
    EXPECT_THROW(source.SetVideoFilters(QStringLiteral("vflip,synth")), EEngineError);
    EXPECT_FALSE(source.GraphError().isEmpty());

    source.SetVideoFilters(QString());
    EXPECT_TRUE(source.GraphError().isEmpty());
    EXPECT_TRUE(SamePicture(PictureAt(source, 0), plain));
    EXPECT_TRUE(SamePicture(PictureAt(source, 1'000'000), plainLater));
}

TEST(PreviewSynth, LoopingScriptPassesPicturesAndGivesWayToChangesAndClosing)
{
    // how long one picture takes to exhaust the script's budget on this machine
    av::FramePtr frame = av::NewFrame();
    frame->width = 64;
    frame->height = 48;
    frame->format = AV_PIX_FMT_YUV420P;
    ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    TSynthScript script(QString::fromUtf8(kLoop).mid(6), {});
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(script.Process(frame.get(), 0, 0));
    const double budget = Seconds(start);

    TFFSamplePtr plain;
    {
        TFFPushSource source;
        source.SetDisableAudio(true);
        source.Load(test::SampleMp4());
        plain = PictureAt(source, 0);
        ASSERT_TRUE(plain);
        source.SetVideoFilters(QString::fromUtf8(kLoop));
        // the script fails on each picture, which passes unchanged
        EXPECT_TRUE(SamePicture(PictureAt(source, 0), plain));

        // the streaming thread is inside the script now: a change does not wait for its budget
        source.Seek(0);
        start = std::chrono::steady_clock::now();
        source.SetVideoFilters(QStringLiteral("vflip"));
        EXPECT_LT(Seconds(start), budget / 2);
        // shortly after a picture came through, the thread is in the script of the next one
        source.SetVideoFilters(QString::fromUtf8(kLoop));
        EXPECT_TRUE(SamePicture(PictureAt(source, 0), plain));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        start = std::chrono::steady_clock::now();
    }
    EXPECT_LT(Seconds(start), budget / 2);
}

// A script's error reaches the one who shows it, once per description.
TEST(PreviewSynth, ScriptErrorsAreReported)
{
    TFFPushSource source;
    std::mutex lock;
    QStringList errors;
    source.SetErrorCallback([&](TFFPushSource*, const QString& m) {
        std::lock_guard<std::mutex> guard(lock);
        errors << m;
    });
    source.SetDisableAudio(true);
    source.SetVideoFilters(QStringLiteral("synth=error('boom in the script')"));
    source.Load(test::SampleMp4());
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!errors.isEmpty())
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(errors.size(), 1) << errors.join('|').toStdString();
    EXPECT_TRUE(errors.first().contains(QStringLiteral("boom in the script"))) << errors.first().toStdString();
}

TEST(PreviewSynth, ClosingEndsAScriptInsideALibraryLoop)
{
    // a loop in C over a table of any length: only the charges of the bounded
    // library see the closing
    const char* const script = "synth=local t = setmetatable({}| {__len = function() return math.maxinteger - 1 end}) "
                               "table.insert(t| 1| 0)";
    std::chrono::steady_clock::time_point start;
    {
        TFFPushSource source;
        source.SetDisableAudio(true);
        source.Load(test::SampleMp4());
        source.SetVideoFilters(QString::fromUtf8(script));
        source.Seek(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        start = std::chrono::steady_clock::now();
    }
    EXPECT_LT(Seconds(start), 1.0);
}
