// Start and end positions: the engine's cut is compared with the cut the
// ffmpeg tool makes of the same input with -ss and -to.
#include "transcode/AVConverter.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

// 6 s, 320x240 at 25 fps, H.264 with a key frame every 12 pictures, AAC stereo.
QString Source()
{
    return Fixture("window_src.mp4", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=6", "-f", "lavfi",
                                      "-i", "sine=frequency=440:sample_rate=44100:duration=6", "-ac", "2", "-c:v",
                                      "libx264", "-preset", "ultrafast", "-g", "12", "-pix_fmt", "yuv420p", "-c:a",
                                      "aac", "-b:a", "96k"});
}

QString Convert(const QString& output, double startS, double endS, const std::function<void(TAVConvertOptions*)>& setup)
{
    TAVConverter c;
    JobEvents ev;
    Record(c, ev);
    c.SetInputFiles({Source()});
    c.SetOutputFiles({output});
    TAVConvertOptions* o = c.ConvertOptions();
    o->m_startTime = int64_t(startS * 1e6);
    o->m_recordingTime = int64_t((endS - startS) * 1e6);
    setup(o);
    c.Start();
    if (!WaitFinished(ev, 120000))
        return "timed out";
    if (!ev.order.contains("complete"))
        return "not completed: " + c.ErrorText();
    return c.ErrorText();
}

// The same window cut by the ffmpeg tool.
void ToolCut(const QString& output, double startS, double endS, const QStringList& codecArgs)
{
    QStringList args{"-y", "-v", "error", "-ss", QString::number(startS), "-to", QString::number(endS), "-i", Source()};
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG), args + codecArgs + QStringList{output});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
}

// One line per decoded frame of the selected streams: its checksum.
QStringList FrameHashes(const QString& file, const QString& stream)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-v", "error", "-i", file, "-map", "0:" + stream, "-f", "framemd5", "-"});
    QStringList hashes;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        if (!line.startsWith('#'))
            hashes << line.section(',', -1).trimmed();
    return hashes;
}

// Decoded audio samples of the first audio stream.
long long AudioSamples(const QString& file)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFPROBE), {"-v", "error", "-select_streams", "a:0",
                                                                           "-show_entries", "frame=nb_samples", "-of",
                                                                           "csv=p=0", file});
    long long total = 0;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        total += line.trimmed().toLongLong();
    return total;
}

struct Packet
{
    double pts = 0;
    bool key = false;
};

std::vector<Packet> Packets(const QString& file, const QString& stream)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFPROBE), {"-v", "error", "-select_streams", stream,
                                                                           "-show_entries", "packet=pts_time,flags",
                                                                           "-of", "csv=p=0", file});
    std::vector<Packet> packets;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        packets.push_back({line.section(',', 0, 0).toDouble(), line.section(',', 1, 1).startsWith('K')});
    return packets;
}

} // namespace

TEST(TimeWindow, ReencodedWindowHoldsTheSamePicturesAndSamplesAsTheToolsCut)
{
    const QString dir = TempDir();
    const QString ours = dir + "/ours.mkv", tool = dir + "/tool.mkv";
    ASSERT_EQ(Convert(ours, 2, 5,
                      [](TAVConvertOptions* o) {
                          o->VideoOptions()->m_encoderVideoCodecName = "ffv1";
                          o->AudioOptions()->m_encoderAudioCodecName = "pcm_s16le";
                      }),
              "");
    ToolCut(tool, 2, 5, {"-c:v", "ffv1", "-c:a", "pcm_s16le"});
    // lossless pictures: the same frames, the first one being the picture at 2 s
    const QStringList ourFrames = FrameHashes(ours, "v"), toolFrames = FrameHashes(tool, "v");
    EXPECT_EQ(ourFrames.size(), 75);
    EXPECT_EQ(ourFrames, toolFrames);
    const long long samples = AudioSamples(ours);
    EXPECT_NEAR(double(samples), 3.0 * 44100, 1024);
    EXPECT_NEAR(double(samples), double(AudioSamples(tool)), 1024);
}

TEST(TimeWindow, EncodersThatHoldPicturesBackStillStopAtTheEnd)
{
    const QString dir = TempDir();
    // video only: an encoder with a look-ahead must not carry the cut past the end
    const QString videoOnly = dir + "/video.mkv";
    ASSERT_EQ(Convert(videoOnly, 2, 5,
                      [](TAVConvertOptions* o) {
                          o->VideoOptions()->m_encoderVideoCodecName = "libx264";
                          o->AudioOptions()->m_audioDisable = true;
                      }),
              "");
    ProbeResult p = Probe(videoOnly);
    ASSERT_EQ(p.Count("video"), 1);
    EXPECT_EQ(p.Count("audio"), 0);
    EXPECT_EQ(p.First("video")->packets, 75);
    EXPECT_NEAR(p.duration, 3.0, 0.04);

    const QString both = dir + "/both.mkv", tool = dir + "/tool.mkv";
    ASSERT_EQ(Convert(both, 2, 5,
                      [](TAVConvertOptions* o) {
                          o->VideoOptions()->m_encoderVideoCodecName = "libx264";
                          o->AudioOptions()->m_encoderAudioCodecName = "aac";
                      }),
              "");
    ToolCut(tool, 2, 5, {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    p = Probe(both);
    const ProbeResult t = Probe(tool);
    ASSERT_EQ(p.Count("audio"), 1);
    EXPECT_EQ(p.First("video")->packets, t.First("video")->packets);
    EXPECT_LE(std::abs(p.First("audio")->packets - t.First("audio")->packets), 1);
    EXPECT_NEAR(double(AudioSamples(both)), double(AudioSamples(tool)), 1024);
}

TEST(TimeWindow, StreamCopyBeginsAtTheKeyFrameBeforeTheStart)
{
    const QString dir = TempDir();
    const QString ours = dir + "/copy.mkv", tool = dir + "/tool.mkv";
    // 1.1 s lies between the key frames at 0.96 s and 1.44 s
    ASSERT_EQ(Convert(ours, 1.1, 3,
                      [](TAVConvertOptions* o) {
                          o->VideoOptions()->m_videoStreamCopy = true;
                          o->AudioOptions()->m_audioStreamCopy = true;
                      }),
              "");
    ToolCut(tool, 1.1, 3, {"-c", "copy"});
    const std::vector<Packet> video = Packets(ours, "v:0");
    ASSERT_FALSE(video.empty());
    EXPECT_TRUE(video.front().key);
    EXPECT_NEAR(video.front().pts, 0.0, 0.02);
    EXPECT_EQ(video.size(), Packets(tool, "v:0").size());
    // the audio starts at the start position: 0.14 s after the key frame
    const std::vector<Packet> audio = Packets(ours, "a:0");
    ASSERT_FALSE(audio.empty());
    EXPECT_NEAR(audio.front().pts, 0.14, 0.03);
    EXPECT_NEAR(Probe(ours).duration, 1.9 + 0.14, 0.05);
    QString error;
    EXPECT_TRUE(DecodesCleanly(ours, &error)) << error.toStdString();
}
