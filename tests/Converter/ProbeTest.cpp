// The media probe on real samples (checked against ffprobe) and on files
// that are not media at all.
#include "sources/AVProbe.h"
#include "MediaFixtures.h"

#include <QFile>
#include <gtest/gtest.h>
#include <random>

using namespace korvane;
using namespace korvane::test;

namespace {

QStringList Lavfi(const QString& graph) { return {"-f", "lavfi", "-i", graph}; }

QString SamplePcmWav()
{
    return Fixture(QStringLiteral("probe_pcm.wav"),
                   Lavfi(QStringLiteral("sine=frequency=440:sample_rate=44100:duration=1")) +
                       QStringList{"-ac", "2", "-c:a", "pcm_s16le"});
}

QString SampleTwoVideo()
{
    return Fixture(QStringLiteral("probe_two_video.mkv"),
                   Lavfi(QStringLiteral("testsrc=size=320x240:rate=25:duration=1")) +
                       Lavfi(QStringLiteral("testsrc=size=160x120:rate=10:duration=1")) +
                       QStringList{"-map", "0", "-map", "1", "-c:v", "mpeg4"});
}

QString SampleSubtitlesOnly()
{
    return Fixture(QStringLiteral("probe_subs_only.mkv"), {"-i", SampleMkvSubs(), "-map", "0:s", "-c", "copy"});
}

// Opens the file and returns the message of the raised error, if any.
QString Activate(TAVProbe& probe, const QString& file)
{
    probe.SetFileName(file);
    try {
        probe.SetActive(true);
    } catch (const EEngineError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

QString WriteFile(const QString& name, const QByteArray& bytes)
{
    const QString path = TempDir() + u'/' + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

} // namespace

TEST(ProbeMedia, VideoAndAudioParametersMatchFfprobe)
{
    const QString file = SampleMp4();
    const ProbeResult oracle = Probe(file);
    ASSERT_TRUE(oracle.ok);
    TAVProbe probe;
    ASSERT_EQ(Activate(probe, file), QString());
    ASSERT_TRUE(probe.Active());
    ASSERT_TRUE(probe.HasVideo());
    ASSERT_TRUE(probe.HasAudio());
    const ProbeStream* v = oracle.First(QStringLiteral("video"));
    const ProbeStream* a = oracle.First(QStringLiteral("audio"));
    EXPECT_EQ(probe.VideoCodec(), v->codecName);
    EXPECT_EQ(probe.Width(), v->width);
    EXPECT_EQ(probe.Height(), v->height);
    EXPECT_DOUBLE_EQ(probe.FrameRate(), 25.0);
    EXPECT_GT(probe.VideoBitrate(), 0);
    EXPECT_EQ(probe.AudioCodec(), a->codecName);
    EXPECT_EQ(probe.SampleRate(), 44100);
    EXPECT_EQ(probe.Channels(), 2);
    EXPECT_GT(probe.AudioBitrate(), 50000);
    EXPECT_LT(probe.AudioBitrate(), 150000);
    probe.SetActive(false);
    EXPECT_FALSE(probe.Active());
}

TEST(ProbeMedia, AudioOnlyFilesAreAcceptedAndBitratesFollowTheCodec)
{
    TAVProbe mp3;
    ASSERT_EQ(Activate(mp3, SampleAudioOnly()), QString());
    EXPECT_TRUE(mp3.HasAudio());
    EXPECT_FALSE(mp3.HasVideo());
    EXPECT_EQ(mp3.AudioCodec(), QStringLiteral("mp3float"));
    EXPECT_EQ(mp3.AudioBitrate(), 128000); // the decoder context's figure
    EXPECT_TRUE(TAVProbe::IsUsableSource(SampleAudioOnly()));

    TAVProbe pcm;
    ASSERT_EQ(Activate(pcm, SamplePcmWav()), QString());
    EXPECT_EQ(pcm.AudioCodec(), QStringLiteral("pcm_s16le"));
    EXPECT_EQ(pcm.AudioBitrate(), 1411200); // 44100 x 2 x 16
}

TEST(ProbeMedia, OnlyTheFirstVideoStreamIsProbed)
{
    TAVProbe probe;
    ASSERT_EQ(Activate(probe, SampleTwoVideo()), QString());
    EXPECT_EQ(probe.Width(), 320);
    EXPECT_EQ(probe.Height(), 240);
    EXPECT_DOUBLE_EQ(probe.FrameRate(), 25.0);
    EXPECT_FALSE(probe.HasAudio());
}

TEST(ProbeMedia, FileWithoutVideoOrAudioIsNotUsable)
{
    TAVProbe probe;
    ASSERT_EQ(Activate(probe, SampleSubtitlesOnly()), QString());
    EXPECT_TRUE(probe.Active());
    EXPECT_FALSE(probe.HasVideo());
    EXPECT_FALSE(probe.HasAudio());
    EXPECT_FALSE(TAVProbe::IsUsableSource(SampleSubtitlesOnly()));
}

TEST(ProbeBadInput, MissingFileLeavesTheProbeInactiveWithoutError)
{
    TAVProbe probe;
    EXPECT_EQ(Activate(probe, TempDir() + QStringLiteral("/nothing-here.mp4")), QString());
    EXPECT_FALSE(probe.Active());
    EXPECT_FALSE(TAVProbe::IsUsableSource(TempDir() + QStringLiteral("/nothing-here.mp4")));
}

TEST(ProbeBadInput, EmptyFileCannotBeOpened)
{
    TAVProbe probe;
    EXPECT_EQ(Activate(probe, WriteFile(QStringLiteral("empty.mp4"), {})), QStringLiteral("Error Opening File!"));
    EXPECT_FALSE(probe.Active());
}

TEST(ProbeBadInput, RandomBytesAreRefusedWithoutACrash)
{
    std::mt19937 random(1234);
    const QStringList messages{QStringLiteral("Error Opening File!"), QStringLiteral("Can not find stream information")};
    for (const char* name : {"noise.bin", "noise.mp4", "noise.mp3", "noise.mkv"}) {
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        for (char& b : bytes)
            b = char(random());
        const QString file = WriteFile(QString::fromLatin1(name), bytes);
        TAVProbe probe;
        const QString error = Activate(probe, file);
        if (!error.isEmpty()) {
            EXPECT_TRUE(messages.contains(error) || error.startsWith(QStringLiteral("Unsupported codec(id=")) ||
                        error.startsWith(QStringLiteral("Error while opening codec for input stream ")))
                << name << ": " << error.toStdString();
            EXPECT_FALSE(probe.Active());
        }
        EXPECT_FALSE(TAVProbe::IsUsableSource(file)) << name;
    }
}

// A file removed while the probe has it open is still closed on request.
TEST(ProbeBadInput, ClosingWorksAfterTheFileIsRemoved)
{
    const QString file = TempDir() + QStringLiteral("/gone.wav");
    ASSERT_TRUE(QFile::copy(SamplePcmWav(), file));
    TAVProbe probe;
    ASSERT_EQ(Activate(probe, file), QString());
    ASSERT_TRUE(QFile::remove(file));
    probe.SetActive(false);
    EXPECT_FALSE(probe.Active());
}

// A truncated file keeps whatever can be read, or fails with a stated message.
TEST(ProbeBadInput, TruncatedFileDoesNotCrash)
{
    // an MP4 keeps its index at the end: cut short, it cannot be opened
    QFile source(SampleMp4());
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QString file = WriteFile(QStringLiteral("cut.mp4"), source.read(source.size() / 3));
    TAVProbe probe;
    EXPECT_EQ(Activate(probe, file), QStringLiteral("Error Opening File!"));
    EXPECT_FALSE(probe.Active());
    // a Matroska file has its header in front: cut short, it still tells its streams
    QFile mkv(SampleMkvSubs());
    ASSERT_TRUE(mkv.open(QIODevice::ReadOnly));
    const QString cutMkv = WriteFile(QStringLiteral("cut.mkv"), mkv.read(mkv.size() / 2));
    TAVProbe readable;
    EXPECT_EQ(Activate(readable, cutMkv), QString());
    EXPECT_EQ(readable.Width(), 320);
    EXPECT_EQ(readable.Height(), 240);
    EXPECT_GT(readable.SampleRate(), 0);
}
