// The preview's decoding source against the ffmpeg tools: picture times and
// counts, exact seeks, loop passes, filters and audio.
#include "MediaFixtures.h"
#include "options/Persistent.h"
#include "preview/AVPlayer.h"
#include "preview/PushSource.h"
#include "sources/StreamProtocol.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <chrono>

using namespace korvane;
using korvane::test::Fixture;
using korvane::test::RunProcess;

namespace {

// 4 s, 320x240 at 25 fps, keyframes every 2 s and B-frames: a seek must
// decode from the keyframe before the time and drop up to it.
QString GopClip()
{
    return Fixture(QStringLiteral("preview_gop.mp4"),
                   {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=4", "-c:v", "libx264", "-g", "50",
                    "-bf", "2", "-pix_fmt", "yuv420p"});
}

// Start times of the first video stream's frames, seconds from the file's
// start, as ffprobe reads them.
std::vector<double> ProbeFrameTimes(const QString& file)
{
    const auto start = RunProcess(KORVANE_FFPROBE, {"-v", "error", "-show_entries", "format=start_time", "-of",
                                                    "default=nw=1:nk=1", file});
    const double startTime = start.out.trimmed().toDouble();
    const auto r = RunProcess(KORVANE_FFPROBE, {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                "frame=best_effort_timestamp_time", "-of", "csv=p=0", file});
    std::vector<double> times;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        times.push_back(line.section(',', 0, 0).trimmed().toDouble() - startTime);
    return times;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The ffmpeg tool's output of args as raw bytes.
QByteArray ToolOutput(QStringList args)
{
    const QString out = QDir(test::TempDir()).filePath(QStringLiteral("tool.raw"));
    QFile::remove(out);
    args.prepend("-y");
    args << out;
    const auto r = RunProcess(KORVANE_FFMPEG, args);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return ReadAll(out);
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i % 4 == 3)
            continue; // the fourth byte is not part of the picture
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    const double mse = sum / double(n / 4 * 3);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Every picture of the source until its end.
std::vector<TFFSamplePtr> AllPictures(TFFPushSource& source)
{
    std::vector<TFFSamplePtr> pictures;
    for (int idle = 0; idle < 500 && !source.EndOfStream();) {
        if (TFFSamplePtr s = source.WaitVideo(20)) {
            pictures.push_back(std::move(s));
            idle = 0;
        } else {
            ++idle;
        }
        while (source.TakeAudio()) {
        }
    }
    return pictures;
}

TFFSamplePtr FirstPictureAfterSeek(TFFPushSource& source, int64_t timeUs, TSeekMode mode = TSeekMode::smAtOrAfter)
{
    source.Seek(timeUs, mode);
    return source.WaitVideo(10000);
}

} // namespace

TEST(PreviewSource, PicturesAndTimesMatchTheProbe)
{
    for (const QString& file : {GopClip(), test::SampleTs()}) {
        SCOPED_TRACE(file.toStdString());
        TFFPushSource source;
        source.SetDisableAudio(true);
        source.Load(file);
        EXPECT_EQ(source.AudioStreamCount(), 0);
        ASSERT_EQ(source.VideoStreamCount(), 1);
        EXPECT_EQ(source.VideoWidth(), 320);
        EXPECT_EQ(source.VideoHeight(), 240);
        const std::vector<double> expected = ProbeFrameTimes(file);
        const auto pictures = AllPictures(source);
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(pictures.size(), expected.size());
        for (size_t i = 0; i < pictures.size(); ++i) {
            EXPECT_NEAR(pictures[i]->Start(), expected[i], 1e-6) << "picture " << i;
            EXPECT_GT(pictures[i]->stopUs, pictures[i]->startUs);
            ASSERT_EQ(pictures[i]->size, 320 * 240 * 4);
        }
        EXPECT_TRUE(source.ErrorText().isEmpty());
    }
}

TEST(PreviewSource, SeekShowsTheToolsPictureAtThatTime)
{
    const QString file = GopClip();
    const std::vector<double> times = ProbeFrameTimes(file);
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.Load(file);
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int64_t> anyTime(0, 3900000);
    // random times, a keyframe's own time, the very start, and one between two pictures
    std::vector<int64_t> targets = {anyTime(random), anyTime(random), anyTime(random), 2000000, 0, 1010000};
    for (const int64_t target : targets) {
        SCOPED_TRACE(target);
        const TFFSamplePtr shown = FirstPictureAfterSeek(source, target);
        ASSERT_TRUE(shown);
        // the first picture at or after the time
        const auto first = std::find_if(times.begin(), times.end(), [&](double t) { return t * 1e6 >= target - 0.5; });
        ASSERT_NE(first, times.end());
        EXPECT_NEAR(shown->Start(), *first, 1e-6);
        const QByteArray tool = ToolOutput({"-v", "error", "-ss", QString::number(double(target) / 1e6, 'f', 6), "-i",
                                            file, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgra"});
        ASSERT_EQ(tool.size(), shown->size);
        const double psnr = Psnr(shown->data.get(), reinterpret_cast<const uint8_t*>(tool.constData()), tool.size());
        EXPECT_GT(psnr, 45.0);
    }
    // a step back shows the picture before the one at the time
    const TFFSamplePtr before = FirstPictureAfterSeek(source, int64_t(times[50] * 1e6), TSeekMode::smBefore);
    ASSERT_TRUE(before);
    EXPECT_NEAR(before->Start(), times[49], 1e-6);
    const TFFSamplePtr next = source.WaitVideo(10000);
    ASSERT_TRUE(next);
    EXPECT_NEAR(next->Start(), times[50], 1e-6);
    // past the last picture: the last one is shown
    const TFFSamplePtr last = FirstPictureAfterSeek(source, source.TotalDurationUs());
    ASSERT_TRUE(last);
    EXPECT_NEAR(last->Start(), times.back(), 1e-6);
}

// Playing late takes the newest picture that is due: the ones before it are
// passed over, and the one shown has its own pixels.
TEST(PreviewSource, LatePicturesArePassedOverForTheDueOne)
{
    const QString file = GopClip();
    const std::vector<double> times = ProbeFrameTimes(file);
    ASSERT_GT(times.size(), 5u);
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.Load(file);
    for (int i = 0; i < 1000 && source.QueuedVideo() < 5; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(source.QueuedVideo(), 5);
    EXPECT_FALSE(source.TakeDueVideo(-1)); // nothing is due before the first picture
    ASSERT_TRUE(source.PeekVideo());
    EXPECT_FALSE(source.PeekVideo()->data); // queued pictures wait unconverted

    const TFFSamplePtr due = source.TakeDueVideo(int64_t(times[3] * 1e6) + 1000);
    ASSERT_TRUE(due);
    EXPECT_NEAR(due->Start(), times[3], 1e-6);
    const QByteArray tool = ToolOutput({"-v", "error", "-i", file, "-vf", "select=eq(n\\,3)", "-frames:v", "1", "-f",
                                        "rawvideo", "-pix_fmt", "bgra"});
    ASSERT_EQ(tool.size(), due->size);
    EXPECT_GT(Psnr(due->data.get(), reinterpret_cast<const uint8_t*>(tool.constData()), tool.size()), 45.0);
    const TFFSamplePtr next = source.TakeVideo();
    ASSERT_TRUE(next);
    EXPECT_NEAR(next->Start(), times[4], 1e-6);
}

TEST(PreviewSource, OddSizesComeOutWhole)
{
    // widths that are no multiple of the scaler's vector step (for one of
    // them it leaves the ends of packed rows unwritten, for the other not),
    // upright and turned on their side; every picture, not only the first,
    // as the way of converting is decided on the first
    for (const char* size : {"214x118", "328x184"}) {
        const QString file = Fixture(QStringLiteral("preview_odd_%1.mp4").arg(size),
                                     {"-f", "lavfi", "-i", QStringLiteral("testsrc2=size=%1:rate=25:duration=1").arg(size),
                                      "-c:v", "libx264", "-pix_fmt", "yuv420p"});
        for (const auto& [stored, tool] : {std::pair<QString, QString>{"", "null"}, {"rotate=90", "transpose=1"}}) {
            SCOPED_TRACE(QStringLiteral("%1 %2").arg(size, stored).toStdString());
            TFFPushSource source;
            source.SetDisableAudio(true);
            source.SetVideoFilters(stored);
            source.Load(file);
            const auto pictures = AllPictures(source);
            ASSERT_EQ(pictures.size(), 25u);
            const QByteArray theirs =
                ToolOutput({"-v", "error", "-i", file, "-vf", tool, "-f", "rawvideo", "-pix_fmt", "bgra"});
            ASSERT_EQ(theirs.size(), qsizetype(pictures[0]->size) * 25);
            for (size_t i = 0; i < pictures.size(); ++i) {
                const auto* expected = reinterpret_cast<const uint8_t*>(theirs.constData()) + i * pictures[0]->size;
                EXPECT_GT(Psnr(pictures[i]->data.get(), expected, pictures[i]->size), 45.0) << "picture " << i;
            }
        }
    }
}

TEST(PreviewSource, SeeksInStreamsWithoutAnIndexLandOnTheTime)
{
    // MPEG-TS has no index and starts at 1.4 s: the demuxer's seek may land
    // after the time, and the source must go back further
    const QString file = test::SampleTs();
    const std::vector<double> times = ProbeFrameTimes(file);
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.Load(file);
    for (const int64_t target : {1500000, 300000, 1999000, 40000, 1000000}) {
        SCOPED_TRACE(target);
        const TFFSamplePtr shown = FirstPictureAfterSeek(source, target);
        ASSERT_TRUE(shown);
        const auto first = std::find_if(times.begin(), times.end(), [&](double t) { return t * 1e6 >= target - 0.5; });
        const double expected = first != times.end() ? *first : times.back();
        EXPECT_NEAR(shown->Start(), expected, 1e-6);
    }
}

TEST(PreviewSource, SecondLoopPassIsOffsetByTheFileDuration)
{
    const QString file = test::SampleMp4();
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.SetLoopCount(2);
    source.Load(file);
    EXPECT_EQ(source.TotalDurationUs(), 2 * source.FileDurationUs());
    const auto pictures = AllPictures(source);
    const size_t once = ProbeFrameTimes(file).size();
    ASSERT_EQ(pictures.size(), 2 * once);
    for (size_t i = 0; i < once; ++i)
        EXPECT_EQ(pictures[once + i]->startUs, pictures[i]->startUs + source.FileDurationUs()) << i;
    EXPECT_EQ(source.LoopIndex(), 1);
    // a seek into the second pass reads the file from its start again
    const TFFSamplePtr shown = FirstPictureAfterSeek(source, source.FileDurationUs() + 400000);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->startUs, pictures[10]->startUs + source.FileDurationUs());
}

TEST(PreviewSource, FiltersChangeThePictureAsTheConversionDraws)
{
    const QString file = test::SampleMp4();
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.Load(file);
    ASSERT_TRUE(FirstPictureAfterSeek(source, 0));
    source.SetVideoFilters(QStringLiteral("rotate=90"));
    EXPECT_EQ(source.VideoWidth(), 240);
    EXPECT_EQ(source.VideoHeight(), 320);
    const TFFSamplePtr turned = FirstPictureAfterSeek(source, 0);
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->width, 240);
    EXPECT_EQ(turned->height, 320);
    const QByteArray tool =
        ToolOutput({"-v", "error", "-i", file, "-vf", "transpose=1", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "bgra"});
    ASSERT_EQ(tool.size(), turned->size);
    EXPECT_GT(Psnr(turned->data.get(), reinterpret_cast<const uint8_t*>(tool.constData()), tool.size()), 45.0);

    // two elements of the stored syntax, as the dialog joins them
    source.SetVideoFilters(QStringLiteral("hflip,drawbox=10:10:50:40:red"));
    EXPECT_EQ(source.VideoWidth(), 320);
    ASSERT_TRUE(FirstPictureAfterSeek(source, 0));

    // a description that does not build names the step that failed and leaves no picture
    EXPECT_THROW(source.SetVideoFilters(QStringLiteral("nosuchfilter=1")), EEngineError);
    EXPECT_EQ(source.GraphError(), QStringLiteral("Parse Graph Failed: No such filter: 'nosuchfilter'"));
    source.Seek(0);
    EXPECT_FALSE(source.WaitVideo(300));
    // an empty description links the source straight to the sink
    source.SetVideoFilters(QString());
    EXPECT_TRUE(source.GraphError().isEmpty());
    const TFFSamplePtr plain = FirstPictureAfterSeek(source, 0);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->width, 320);
}

TEST(PreviewSource, AudioEqualsTheToolsSigned16Output)
{
    struct Case
    {
        QString file;
        int audioIndex;
        int channels;
        int rate;
    };
    // stereo AAC in MP4 (its priming samples left out); the first track
    // (mono) and the second (stereo 48 kHz, chosen after opening) of a
    // Matroska file whose sound starts before its first picture; sound alone
    const QString aacOnly = Fixture(QStringLiteral("preview_aac_only.m4a"),
                                    {"-f", "lavfi", "-i", "sine=frequency=330:duration=2:sample_rate=44100", "-c:a",
                                     "aac"});
    for (const Case& c : {Case{test::SampleMp4(), 0, 2, 44100}, Case{test::SampleTwoAudio(), 0, 1, 22050},
                          Case{test::SampleTwoAudio(), 1, 2, 48000}, Case{aacOnly, 0, 1, 44100}}) {
        SCOPED_TRACE(c.file.toStdString());
        TFFPushSource source;
        source.Load(c.file);
        source.SetAudioIndex(c.audioIndex);
        // some sound played first, then back to the start, as after a track change
        for (int played = 0; played < 8;)
            played += source.WaitAudio(10000) ? 1 : 0;
        source.Seek(0);
        ASSERT_EQ(source.Channels(), c.channels);
        EXPECT_EQ(source.SampleRate(), c.rate);
        QByteArray ours;
        int64_t lastStop = -1;
        for (int idle = 0; idle < 500 && !source.EndOfStream();) {
            const TFFSamplePtr block = source.WaitAudio(20);
            while (source.TakeVideo()) {
            }
            if (!block) {
                ++idle;
                continue;
            }
            idle = 0;
            if (lastStop >= 0) {
                EXPECT_NEAR(double(block->startUs), double(lastStop), 1000.0); // containers with millisecond times
            }
            lastStop = block->stopUs;
            ours.append(reinterpret_cast<const char*>(block->data.get()), block->size);
        }
        const QByteArray tool = ToolOutput({"-v", "error", "-i", c.file, "-map", QStringLiteral("0:a:%1").arg(c.audioIndex),
                                            "-ac", QString::number(c.channels), "-f", "s16le"});
        ASSERT_FALSE(tool.isEmpty());
        // a track chosen while streaming plays from the seek back to the
        // start with every sample, the ones before the first picture too
        EXPECT_EQ(ours.size(), tool.size());
        EXPECT_TRUE(ours == tool);
    }
}

TEST(PreviewSource, OpensInProcessStreamsByName)
{
    class TFileStream : public TStream
    {
    public:
        explicit TFileStream(const QString& path) : m_file(path) { m_file.open(QIODevice::ReadOnly); }
        int64_t Read(void* buffer, int64_t count) override { return m_file.read(static_cast<char*>(buffer), count); }
        int64_t Seek(int64_t offset, TSeekOrigin origin) override
        {
            const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                                 : origin == TSeekOrigin::soCurrent ? m_file.pos()
                                                                    : m_file.size();
            return m_file.seek(base + offset) ? m_file.pos() : -1;
        }
        int64_t Size() override { return m_file.size(); }

    private:
        QFile m_file;
    };
    const QString file = test::SampleTs();
    const QString name = StreamSourceName(RegisterStream(std::make_unique<TFileStream>(file)));
    TAVPlayer player;
    player.SetDisableAudio(true);
    ASSERT_TRUE(player.OpenFile(name)) << player.LastError().toStdString();
    EXPECT_EQ(player.FileName(), name);
    EXPECT_TRUE(player.HasVideo());
    EXPECT_FALSE(player.HasAudio());
    EXPECT_EQ(AllPictures(*player.Source()).size(), ProbeFrameTimes(file).size());
    // the name served its one open
    TAVPlayer again;
    EXPECT_FALSE(again.OpenFile(name));
    EXPECT_FALSE(again.OpenFile(QDir(test::TempDir()).filePath("missing.mp4")));
    EXPECT_FALSE(again.LastError().isEmpty());
}

TEST(PreviewSource, PlayerPassesFiltersOnlyWhenTheyChange)
{
    TAVPlayer player;
    QStringList errors;
    player.OnError = [&](TAVPlayer*, const QString& m) { errors << m; };
    player.SetVideoFilters(QStringLiteral("hflip,vflip"));
    player.SetDisableAudio(true);
    ASSERT_TRUE(player.OpenFile(test::SampleMp4()));
    EXPECT_EQ(player.Source()->VideoFilters(), QStringLiteral("hflip,vflip"));
    // a change of case alone is a change (a script, overlay text)
    player.SetVideoFilters(QStringLiteral("HFLIP,vflip"));
    EXPECT_EQ(player.Source()->VideoFilters(), QStringLiteral("HFLIP,vflip"));
    // and the pane is told why the graph does not build
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.last(), QStringLiteral("Parse Graph Failed: No such filter: 'HFLIP'"));
    player.SetVideoFilters(QStringLiteral("nosuchfilter"));
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors.last(), QStringLiteral("Parse Graph Failed: No such filter: 'nosuchfilter'"));
    player.SetVideoFilters(QStringLiteral("crop=w=1000:h=1000"));
    ASSERT_EQ(errors.size(), 3);
    EXPECT_TRUE(errors.last().startsWith(QStringLiteral("config graph failed: "))) << errors.last().toStdString();
    EXPECT_THROW(player.SetVideoIndex(1), std::out_of_range);
}

namespace {

// Pictures at 0, 0.04, 0.24, 0.28, 0.48, ... s: pairs 40 ms apart, 200 ms
// between pairs. Matroska stores no durations of its own for them: every
// packet says 40 ms.
QString VfrClip()
{
    return Fixture(QStringLiteral("preview_vfr.mkv"),
                   {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=4", "-vf",
                    "setpts='(floor(N/2)*0.24+mod(N,2)*0.04)/TB'", "-fps_mode", "vfr", "-c:v", "libx264", "-g", "50",
                    "-bf", "0", "-pix_fmt", "yuv420p"});
}

} // namespace

// On a variable frame rate without true durations a step back finds the
// picture before, however far back it lies, and a picture lasts until the
// next one.
TEST(PreviewSource, StepsBackAndTimesPicturesOnAVariableRateWithoutDurations)
{
    const QString file = VfrClip();
    const std::vector<double> times = ProbeFrameTimes(file);
    ASSERT_GE(times.size(), 6u);
    ASSERT_NEAR(times[3], 0.28, 1e-6);
    ASSERT_NEAR(times[4], 0.48, 1e-6);
    TFFPushSource source;
    source.Load(file);
    const TFFSamplePtr at = FirstPictureAfterSeek(source, 480000);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->startUs, 480000);
    const TFFSamplePtr before = FirstPictureAfterSeek(source, 480000, TSeekMode::smBefore);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->startUs, 280000);
    // from the end back to the picture before the end
    const TFFSamplePtr last = FirstPictureAfterSeek(source, source.TotalDurationUs(), TSeekMode::smBefore);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->startUs, int64_t(std::llround(times.back() * 1e6)));
    // the picture at 0.28 s lasts until the one at 0.48 s once that is queued
    source.Seek(280000);
    for (int i = 0; i < 500 && source.QueuedVideo() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const TFFSamplePtr pair = source.TakeVideo();
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->startUs, 280000);
    EXPECT_EQ(pair->stopUs, 480000);
}

namespace {

// 2 s of interlaced pictures, bottom field first, flagged so.
QString BottomFieldFirstClip()
{
    return Fixture(QStringLiteral("preview_bff.mkv"),
                   {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=2", "-vf",
                    "tinterlace=mode=interleave_bottom,setfield=bff", "-c:v", "libx264", "-x264-params",
                    "interlaced=1:bff=1", "-pix_fmt", "yuv420p"});
}

} // namespace

// A job that deinterlaces is previewed deinterlaced as the conversion does
// it, bottom field first included.
TEST(PreviewSource, DeinterlacesBottomFieldFirstAsTheConversionDoes)
{
    const QString file = BottomFieldFirstClip();
    TFFPushSource source;
    source.SetDisableAudio(true);
    source.Load(file);
    const TFFSamplePtr woven = FirstPictureAfterSeek(source, 800000);
    ASSERT_TRUE(woven);
    source.SetDeinterlace(true);
    const TFFSamplePtr picture = FirstPictureAfterSeek(source, 800000);
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->startUs, woven->startUs);
    // the conversion's deinterlacer, as the tool runs it
    const QByteArray tool = ToolOutput({"-v", "error", "-i", file, "-vf", "yadif,select='gte(t,0.8)'", "-frames:v",
                                        "1", "-f", "rawvideo", "-pix_fmt", "bgra"});
    ASSERT_EQ(tool.size(), picture->size);
    const auto* expected = reinterpret_cast<const uint8_t*>(tool.constData());
    EXPECT_GT(Psnr(picture->data.get(), expected, size_t(picture->size)), 45.0);
    EXPECT_LT(Psnr(woven->data.get(), expected, size_t(woven->size)), 40.0);
}
