// Conversions end to end through the converter, checked with ffprobe and by
// decoding the outputs with the ffmpeg tool.
#include "transcode/AVConverter.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

struct Job
{
    TAVConverter c;
    JobEvents ev;
    QString output;

    Job(const QString& input, const QString& outputName)
    {
        Record(c, ev);
        c.SetInputFiles({input});
        output = TempDir() + "/" + outputName;
        c.SetOutputFiles({output});
    }
    void Copy()
    {
        c.ConvertOptions()->VideoOptions()->m_videoStreamCopy = true;
        c.ConvertOptions()->AudioOptions()->m_audioStreamCopy = true;
    }
    bool Run()
    {
        c.Start();
        return WaitFinished(ev, 120000);
    }
};

bool Monotonic(const std::vector<double>& dts)
{
    for (size_t i = 1; i < dts.size(); ++i)
        if (dts[i] < dts[i - 1])
            return false;
    return !dts.empty();
}

} // namespace

TEST(Transcode, RemuxByStreamCopyKeepsEveryPacket)
{
    struct Case
    {
        QString input, output;
    } cases[] = {{SampleMp4(), "copy.mkv"}, {SampleTs(), "copy_ts.mp4"}, {SampleMkvSubs(), "copy_back.mp4"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.output.toStdString());
        Job job(k.input, k.output);
        job.Copy();
        job.c.ConvertOptions()->SubtitleOptions()->m_subtitleDisable = true;
        ASSERT_TRUE(job.Run());
        EXPECT_EQ(job.ev.order.filter("complete").size(), 1);
        EXPECT_TRUE(job.c.ErrorText().isEmpty()) << job.c.ErrorText().toStdString();
        const ProbeResult in = Probe(k.input), out = Probe(job.output);
        ASSERT_TRUE(out.ok) << out.error.toStdString();
        ASSERT_EQ(out.Count("video"), 1);
        ASSERT_EQ(out.Count("audio"), 1);
        EXPECT_EQ(out.First("video")->codecName, in.First("video")->codecName);
        EXPECT_EQ(out.First("audio")->codecName, in.First("audio")->codecName);
        EXPECT_EQ(out.First("video")->packets, in.First("video")->packets);
        EXPECT_NEAR(double(out.First("audio")->packets), double(in.First("audio")->packets), 1.0);
        EXPECT_NEAR(out.duration, in.duration, 0.1);
        EXPECT_TRUE(Monotonic(PacketDts(job.output, out.First("video")->index)));
        QString error;
        EXPECT_TRUE(DecodesCleanly(job.output, &error)) << error.toStdString();
        EXPECT_NEAR(job.c.Progress(), 100, 5);
        EXPECT_GT(job.c.OutputSize(), 0);
        EXPECT_GT(job.c.Bitrate(), 0);
    }
}

TEST(Transcode, SubtitlesChaptersAndMetadataCarryOver)
{
    Job job(SampleMkvSubs(), "subs.mkv");
    job.Copy();
    job.c.ConvertOptions()->SubtitleOptions()->m_subtitleCodecName = "ass";
    job.c.ConvertOptions()->m_metaData = {"comment=made by a test"};
    ASSERT_TRUE(job.Run());
    EXPECT_TRUE(job.c.ErrorText().isEmpty()) << job.c.ErrorText().toStdString();
    const ProbeResult out = Probe(job.output);
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(out.Count("subtitle"), 1);
    EXPECT_EQ(out.First("subtitle")->codecName, "ass");
    EXPECT_EQ(out.First("subtitle")->packets, 2);
    EXPECT_EQ(out.chapters, 2);
    EXPECT_EQ(out.tags.at("comment"), "made by a test");
    EXPECT_EQ(out.First("audio")->language, "eng");

    Job mp4(SampleMkvSubs(), "subs.mp4");
    mp4.Copy();
    mp4.c.ConvertOptions()->SubtitleOptions()->m_subtitleCodecName = "mov_text";
    ASSERT_TRUE(mp4.Run());
    EXPECT_TRUE(mp4.c.ErrorText().isEmpty()) << mp4.c.ErrorText().toStdString();
    const ProbeResult m = Probe(mp4.output);
    ASSERT_EQ(m.Count("subtitle"), 1);
    EXPECT_EQ(m.First("subtitle")->codecName, "mov_text");
}

TEST(Transcode, StreamMapPicksTheSecondAudioTrack)
{
    Job job(SampleTwoAudio(), "second.mkv");
    job.Copy();
    job.c.ConvertOptions()->m_streamMaps = {"0=0", "0=2"};
    ASSERT_TRUE(job.Run());
    EXPECT_TRUE(job.c.ErrorText().isEmpty()) << job.c.ErrorText().toStdString();
    const ProbeResult out = Probe(job.output);
    ASSERT_EQ(out.Count("audio"), 1);
    EXPECT_EQ(out.First("audio")->sampleRate, 48000);

    Job bad(SampleTwoAudio(), "badmap.mkv");
    bad.Copy();
    bad.c.ConvertOptions()->m_streamMaps = {"0=0"};
    MessageRecorder messages;
    ASSERT_TRUE(bad.Run());
    EXPECT_EQ(bad.c.ErrorText(), "Number of stream maps must match number of output streams");
    EXPECT_EQ(bad.ev.order.last(), "finished");
}

TEST(Transcode, AudioOnlyAndReencoding)
{
    Job audio(SampleAudioOnly(), "audio.wav");
    ASSERT_TRUE(audio.Run());
    EXPECT_TRUE(audio.c.ErrorText().isEmpty()) << audio.c.ErrorText().toStdString();
    ProbeResult out = Probe(audio.output);
    EXPECT_EQ(out.Count("video"), 0);
    ASSERT_EQ(out.Count("audio"), 1);
    EXPECT_EQ(out.First("audio")->codecName, "pcm_s16le");
    EXPECT_NEAR(out.duration, 2.0, 0.1);

    Job video(SampleMp4(), "small.avi");
    TAVConvertOptions* o = video.c.ConvertOptions();
    o->VideoOptions()->m_frameWidth = 160;
    o->VideoOptions()->m_frameHeight = 120;
    o->VideoOptions()->FrameRate()->setNum(15);
    o->AudioOptions()->m_audioSampleRate = 22050;
    o->AudioOptions()->m_audioChannels = 1;
    o->AudioOptions()->m_encoderAudioCodecName = "mp2";
    ASSERT_TRUE(video.Run());
    EXPECT_TRUE(video.c.ErrorText().isEmpty()) << video.c.ErrorText().toStdString();
    out = Probe(video.output);
    ASSERT_EQ(out.Count("video"), 1);
    EXPECT_EQ(out.First("video")->width, 160);
    EXPECT_EQ(out.First("video")->height, 120);
    EXPECT_EQ(out.First("audio")->sampleRate, 22050);
    EXPECT_EQ(out.First("audio")->channels, 1);
    EXPECT_NEAR(out.First("video")->duration, out.First("audio")->duration, 0.1);
    QString error;
    EXPECT_TRUE(DecodesCleanly(video.output, &error)) << error.toStdString();
}

TEST(Transcode, WindowsAndLimitsCutTheOutput)
{
    Job window(SampleMp4(), "window.mkv");
    window.c.ConvertOptions()->m_startTime = 500000;
    window.c.ConvertOptions()->m_recordingTime = 1000000;
    window.c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
    ASSERT_TRUE(window.Run());
    EXPECT_TRUE(window.c.ErrorText().isEmpty()) << window.c.ErrorText().toStdString();
    ProbeResult out = Probe(window.output);
    EXPECT_NEAR(out.duration, 1.0, 0.15);

    Job frames(SampleMp4(), "frames.mkv");
    frames.c.ConvertOptions()->VideoOptions()->m_maxFrames = 10;
    frames.c.ConvertOptions()->AudioOptions()->m_audioDisable = true;
    ASSERT_TRUE(frames.Run());
    out = Probe(frames.output);
    ASSERT_EQ(out.Count("video"), 1);
    EXPECT_EQ(out.First("video")->packets, 10);

    Job size(SampleMp4(), "size.mkv");
    size.Copy();
    size.c.ConvertOptions()->FileSizeLimit = 20000;
    ASSERT_TRUE(size.Run());
    const qint64 bytes = QFile(size.output).size();
    EXPECT_GE(bytes, 20000);
    EXPECT_LT(bytes, 80000);
    EXPECT_TRUE(Probe(size.output).ok);
}

TEST(Transcode, StopDuringARunLeavesAPlayableFile)
{
    const QString longClip = Fixture("long.mp4", {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=30",
                                                  "-c:v", "mpeg4", "-q:v", "3"});
    Job job(longClip, "stopped.mkv");
    job.c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
    job.c.Start();
    QElapsedTimer t;
    t.start();
    while (job.c.ConvertedDuration() < 1.0 && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    job.c.Stop();
    ASSERT_TRUE(WaitFinished(job.ev));
    EXPECT_TRUE(job.ev.order.contains("stopped"));
    EXPECT_FALSE(job.ev.order.contains("complete"));
    const ProbeResult out = Probe(job.output);
    ASSERT_TRUE(out.ok);
    EXPECT_GT(out.duration, 0.5);
    EXPECT_LT(out.duration, 29.0);
    QString error;
    EXPECT_TRUE(DecodesCleanly(job.output, &error)) << error.toStdString();
}

TEST(Transcode, BadInputsEndTheJobWithAMessage)
{
    const QString dir = TempDir();
    QFile(dir + "/empty.mp4").open(QIODevice::WriteOnly);
    {
        QFile f(dir + "/random.mp4");
        f.open(QIODevice::WriteOnly);
        QByteArray junk(50000, 0);
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919 + 13) % 251);
        f.write(junk);
    }
    QFile::copy(SampleMp4(), dir + "/truncated.mp4");
    {
        QFile f(dir + "/truncated.mp4");
        f.resize(f.size() / 2);
    }
    QFile::copy(SampleTs(), dir + "/truncated.ts");
    {
        QFile f(dir + "/truncated.ts");
        f.resize(f.size() / 2);
    }
    QFile::copy(SampleTs(), dir + "/flipped.ts");
    {
        QFile f(dir + "/flipped.ts");
        f.open(QIODevice::ReadWrite);
        QByteArray data = f.readAll();
        for (int i = int(data.size()) / 3; i < int(data.size()) / 3 + 4000; ++i)
            data[i] = char(~data[i]);
        f.seek(0);
        f.write(data);
    }
    MessageRecorder messages;
    for (const QString name : {"missing.mp4", "empty.mp4", "random.mp4", ""}) {
        SCOPED_TRACE(name.toStdString());
        Job job(dir + "/" + name, "bad.mkv");
        ASSERT_TRUE(job.Run());
        EXPECT_TRUE(job.ev.order.contains("failed"));
        EXPECT_FALSE(job.c.ErrorText().isEmpty());
    }
    for (const QString name : {"truncated.mp4", "truncated.ts", "flipped.ts"}) {
        SCOPED_TRACE(name.toStdString());
        Job job(dir + "/" + name, name + ".mkv");
        ASSERT_TRUE(job.Run());
        EXPECT_EQ(job.ev.order.last(), "finished");
        if (job.ev.order.contains("complete")) {
            // what could be read was converted
            const ProbeResult out = Probe(job.output);
            EXPECT_TRUE(out.ok);
        }
    }
    Job unwritable(SampleMp4(), "x.mkv");
    unwritable.c.SetOutputFiles({"/proc/korvane/out.mkv"});
    ASSERT_TRUE(unwritable.Run());
    EXPECT_EQ(unwritable.c.ErrorText(), "Could not open file");
}

TEST(Transcode, BitstreamFilterChainsFromTheMuxerOptions)
{
    Job job(SampleTs(), "filtered.mp4");
    job.Copy();
    job.c.ConvertOptions()->MuxerOptions()->m_audioBitstreamFilters = {"aac_adtstoasc"};
    job.c.ConvertOptions()->MuxerOptions()->m_videoBitstreamFilters = {"h264_metadata", "dump_extra"};
    ASSERT_TRUE(job.Run());
    EXPECT_TRUE(job.c.ErrorText().isEmpty()) << job.c.ErrorText().toStdString();
    const ProbeResult out = Probe(job.output);
    EXPECT_EQ(out.First("video")->packets, Probe(SampleTs()).First("video")->packets);
    EXPECT_TRUE(DecodesCleanly(job.output));

    // an unknown first filter leaves the stream without any: dump_extra, which
    // puts the parameter sets in front of every key frame, does not run
    auto firstPacketSize = [](const QString& file) {
        const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFPROBE),
                                           {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=size",
                                            "-read_intervals", "%+#1", "-of", "csv=p=0", file});
        return r.out.section('\n', 0, 0).trimmed().toInt();
    };
    Job applied(SampleMp4(), "applied.mkv");
    applied.Copy();
    applied.c.ConvertOptions()->MuxerOptions()->m_videoBitstreamFilters = {"dump_extra"};
    ASSERT_TRUE(applied.Run());
    Job plain(SampleMp4(), "plain.mkv");
    plain.Copy();
    ASSERT_TRUE(plain.Run());
    ASSERT_GT(firstPacketSize(plain.output), 0);
    EXPECT_GT(firstPacketSize(applied.output), firstPacketSize(plain.output)) << "dump_extra adds the headers";

    MessageRecorder messages;
    Job unknown(SampleMp4(), "unknown.mkv");
    unknown.Copy();
    unknown.c.ConvertOptions()->MuxerOptions()->m_videoBitstreamFilters = {"no_such_filter", "dump_extra"};
    ASSERT_TRUE(unknown.Run());
    EXPECT_TRUE(unknown.c.ErrorText().isEmpty());
    EXPECT_EQ(messages.Texts(), QStringList{"Invalid BitstreamFilter no_such_filter"});
    EXPECT_EQ(firstPacketSize(unknown.output), firstPacketSize(plain.output)) << "the filters after it are skipped";
    EXPECT_TRUE(DecodesCleanly(unknown.output));
}

TEST(Transcode, AFullDiskEndsTheJobAsFailed)
{
    MessageRecorder messages;
    for (const QString format : {"matroska", "mp4", "mpegts"}) {
        SCOPED_TRACE(format.toStdString());
        Job job(SampleMp4(), "unused");
        job.c.SetOutputFiles({"/dev/full"}); // every write fails: no space left
        job.c.ConvertOptions()->m_outputFormat = format;
        job.c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
        ASSERT_TRUE(job.Run());
        EXPECT_FALSE(job.c.ErrorText().isEmpty());
        EXPECT_EQ(job.ev.order.last(), "finished");
    }
    EXPECT_FALSE(messages.Texts().isEmpty());
}

TEST(Transcode, BitstreamFiltersKeepTimesAndGiveBackWhatTheyHold)
{
    const QString wav = Fixture("tone_44k.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=2",
                                                 "-c:a", "pcm_s16le"});
    Job job(wav, "rechunked.mkv");
    job.Copy();
    job.c.ConvertOptions()->MuxerOptions()->m_audioBitstreamFilters = {"pcm_rechunk"};
    ASSERT_TRUE(job.Run());
    EXPECT_TRUE(job.c.ErrorText().isEmpty()) << job.c.ErrorText().toStdString();
    const ProbeResult out = Probe(job.output);
    EXPECT_NEAR(out.duration, 2.0, 0.03);
    const std::vector<double> dts = PacketDts(job.output, 0);
    EXPECT_TRUE(Monotonic(dts));
    // every sample is there, the filter's last partial chunk included
    const ProcessResult samples = RunProcess(
        QStringLiteral(KORVANE_FFPROBE),
        {"-v", "error", "-show_entries", "packet=duration", "-select_streams", "a:0", "-of", "csv=p=0", job.output});
    double total = 0;
    for (const QString& line : samples.out.split('\n', Qt::SkipEmptyParts))
        total += line.toDouble();
    EXPECT_NEAR(total, 2000.0, 2.0); // milliseconds in Matroska
}
