// Live capture without sound hardware: ALSA's own "file" plugin, configured
// through ALSA_CONFIG_PATH, plays the part of the microphone and delivers
// the samples of a raw file; what the capture hands over must be those
// samples.
#include "sources/WaveCapture.h"
#include "JobRunner.h"
#include "MediaFixtures.h"
#include "transcode/AVConverter.h"

#include <alsa/asoundlib.h>

#include <QFile>
#include <QStringList>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

// 16-bit samples that never repeat within a test's length.
QByteArray Feed(int frames, int channels, int seed)
{
    QByteArray data(frames * channels * 2, Qt::Uninitialized);
    auto* samples = reinterpret_cast<int16_t*>(data.data());
    for (int i = 0; i < frames * channels; ++i)
        samples[i] = int16_t((i * 7919 + seed * 104729 + i / 3) & 0xffff);
    return data;
}

// Writes an ALSA configuration with the devices "default", "feedA" and
// "feedB", each reading one raw file, and makes the library read it.
class AlsaFeed
{
public:
    AlsaFeed()
    {
        const QString dir = TempDir();
        m_a = Feed(22050, 2, 1);
        m_b = Feed(22050, 2, 2);
        QString conf;
        for (const auto& [device, data, file] :
             {std::tuple{"!default", &m_a, "a.raw"}, std::tuple{"feedA", &m_a, "a.raw"},
              std::tuple{"feedB", &m_b, "b.raw"}}) {
            QFile raw(dir + "/" + file);
            EXPECT_TRUE(raw.open(QIODevice::WriteOnly));
            raw.write(*data);
            conf +=
                QStringLiteral("pcm.%1 { type file slave.pcm { type null } file \"/dev/null\" infile \"%2\" "
                               "format \"raw\" }\n")
                    .arg(device, raw.fileName());
        }
        QFile f(dir + "/asound.conf");
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(conf.toUtf8());
        f.close();
        ::setenv("ALSA_CONFIG_PATH", QFile::encodeName(f.fileName()).constData(), 1);
        snd_config_update_free_global(); // read again at the next open
    }
    ~AlsaFeed()
    {
        ::unsetenv("ALSA_CONFIG_PATH");
        snd_config_update_free_global();
    }
    const QByteArray& A() const { return m_a; }
    const QByteArray& B() const { return m_b; }

private:
    QByteArray m_a, m_b;
};

// Reads packets until at least bytes were captured.
QByteArray Record(TWaveCapture& capture, int bytes,
                  std::vector<std::pair<int64_t, int64_t>>* stamps = nullptr)
{
    QByteArray all;
    av::PacketPtr pkt = av::NewPacket();
    while (all.size() < bytes) {
        const int ret = capture.ReadPacket(pkt.get());
        EXPECT_EQ(ret, 0);
        if (ret < 0) break;
        if (stamps) stamps->push_back({pkt->pts, pkt->duration});
        EXPECT_EQ(pkt->duration, WaveCaptureDurationUs(pkt->size, capture.SampleRate(), capture.Channels()));
        all.append(reinterpret_cast<const char*>(pkt->data), pkt->size);
        av_packet_unref(pkt.get());
    }
    return all;
}

// The fed samples must appear whole in what was captured; a few frames of
// something else may come first.
void ExpectContains(const QByteArray& captured, const QByteArray& fed, int blockAlign)
{
    const qsizetype at = captured.indexOf(fed.left(64));
    ASSERT_GE(at, 0) << "the fed samples are not in the capture";
    EXPECT_EQ(at % blockAlign, 0);
    EXPECT_TRUE(captured.mid(at, fed.size()) == fed) << "captured samples differ from the fed ones";
}

} // namespace

TEST(WaveCapture, CapturedSamplesAreTheFedOnesStampedWithTheClock)
{
    AlsaFeed feed;
    QStringList log;
    TWaveCapture capture({}, [&](const QString& l) { log << l; });
    ASSERT_EQ(capture.ReadHeader(44100, 2), 0) << log.join('\n').toStdString();
    EXPECT_FALSE(capture.Started()); // the device waits for the first read
    std::vector<std::pair<int64_t, int64_t>> stamps;
    const int64_t before = av_gettime();
    const QByteArray captured = Record(capture, feed.A().size() + 4096, &stamps);
    EXPECT_TRUE(capture.Started());
    ExpectContains(captured, feed.A(), 4);
    // the capture clock: the first packet at the start, each one where the
    // one before ends
    ASSERT_FALSE(stamps.empty());
    EXPECT_GE(stamps[0].first, before);
    EXPECT_LT(stamps[0].first, before + 50000);
    for (size_t k = 1; k < stamps.size(); ++k)
        EXPECT_NEAR(stamps[k].first, stamps[k - 1].first + stamps[k - 1].second, 1);
    EXPECT_EQ(capture.ReadClose(), 0);
    av::PacketPtr pkt = av::NewPacket();
    EXPECT_EQ(capture.ReadPacket(pkt.get()), AVERROR_EOF);
    EXPECT_TRUE(log.isEmpty());
    // 100 ms of 44.1 kHz stereo
    EXPECT_EQ(WaveCaptureDurationUs(17640, 44100, 2), 100000);
    EXPECT_EQ(WaveCaptureDurationUs(17640, 44100, 1), 200000);
}

TEST(WaveCapture, BadParametersAndDevicesFailWithTheirCodes)
{
    AlsaFeed feed;
    QStringList log;
    // not positive: refused before the device is touched (it does not even exist)
    TWaveCapture missing("no_such_device_here", [&](const QString& l) { log << l; });
    EXPECT_EQ(missing.ReadHeader(0, 2), -1);
    EXPECT_EQ(missing.ReadHeader(44100, 0), -1);
    EXPECT_EQ(missing.ReadHeader(-8000, 1), -1);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(missing.ReadHeader(44100, 2), -5);
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith("wave capture error:")) << log[0].toStdString();
    EXPECT_GT(log[0].size(), QString("wave capture error:").size());
}

TEST(WaveCapture, TwoCapturesKeepTheirOwnSamplesAndOneDeviceRecordsOnce)
{
    AlsaFeed feed;
    QStringList log;
    TWaveCapture a("feedA", [&](const QString& l) { log << l; });
    TWaveCapture b("feedB", [&](const QString& l) { log << l; });
    ASSERT_EQ(a.ReadHeader(44100, 2), 0);
    ASSERT_EQ(b.ReadHeader(44100, 2), 0);
    TWaveCapture again("feedA", [&](const QString& l) { log << l; });
    EXPECT_EQ(again.ReadHeader(44100, 2), -5);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0], "wave capture error:the device \"feedA\" is already recording in this program");
    // interleaved reads: each capture's data stays its own
    QByteArray fromA, fromB;
    while (fromA.size() < feed.A().size() + 4096 || fromB.size() < feed.B().size() + 4096) {
        fromA += Record(a, 1);
        fromB += Record(b, 1);
    }
    ExpectContains(fromA, feed.A(), 4);
    ExpectContains(fromB, feed.B(), 4);
    a.ReadClose();
    EXPECT_EQ(again.ReadHeader(44100, 2), 0); // free again once closed
}

TEST(WaveCapture, LostSoundIsLoggedAndKeptAsSilence)
{
    AlsaFeed feed;
    QStringList log;
    TWaveCapture capture("feedA", [&](const QString& l) { log << l; });
    int64_t now = 1'000'000'000;
    capture.SetClock([&] { return now; });
    ASSERT_EQ(capture.ReadHeader(8000, 1), 0);
    av::PacketPtr pkt = av::NewPacket();
    ASSERT_EQ(capture.ReadPacket(pkt.get()), 0);
    EXPECT_EQ(pkt->pts, now);
    int64_t heldUs = pkt->duration;
    av_packet_unref(pkt.get());
    // the job stalls for 10 s, far longer than the device's buffer
    now += 10'000'000;
    bool silence = false;
    while (heldUs < 10'000'000) {
        ASSERT_EQ(capture.ReadPacket(pkt.get()), 0);
        EXPECT_NEAR(pkt->pts, 1'000'000'000 + heldUs, 1);
        heldUs += pkt->duration;
        silence = silence || (pkt->size > 0 && QByteArray(reinterpret_cast<const char*>(pkt->data), pkt->size)
                                                   .count('\0') == pkt->size);
        av_packet_unref(pkt.get());
    }
    // as much sound and silence as the time that passed
    EXPECT_LT(heldUs, 10'000'000 + 200'000);
    EXPECT_TRUE(silence);
    ASSERT_EQ(log.size(), 1) << log.join('\n').toStdString();
    EXPECT_TRUE(log[0].startsWith("wave capture overrun on \"feedA\": ")) << log[0].toStdString();
    EXPECT_TRUE(log[0].contains("lost")) << log[0].toStdString();
}

TEST(WaveCapture, StopEndsAWaitingRead)
{
    AlsaFeed feed;
    TWaveCapture capture;
    bool stop = false;
    capture.SetStopFunction([&] { return stop; });
    ASSERT_EQ(capture.ReadHeader(8000, 1), 0);
    av::PacketPtr pkt = av::NewPacket();
    stop = true;
    EXPECT_EQ(capture.ReadPacket(pkt.get()), AVERROR_EXIT);
}

TEST(WaveCapture, JobRecordsTheFedSamplesIntoAFile)
{
    AlsaFeed feed;
    const QString out = TempDir() + "/voice.wav";
    {
        TAVConverter c;
        JobEvents ev;
        Record(c, ev);
        c.SetInputFiles({"wavcap:"});
        c.SetOutputFiles({out});
        c.ConvertOptions()->AudioOptions()->m_audioSampleRate = 44100;
        c.ConvertOptions()->AudioOptions()->m_audioChannels = 2;
        c.ConvertOptions()->m_recordingTime = 1000000;
        c.Start();
        ASSERT_TRUE(WaitFinished(ev));
        ASSERT_TRUE(ev.order.contains("complete")) << c.ErrorText().toStdString();
    }
    const ProbeResult p = Probe(out);
    ASSERT_EQ(p.Count("audio"), 1);
    EXPECT_EQ(p.First("audio")->sampleRate, 44100);
    EXPECT_EQ(p.First("audio")->channels, 2);
    EXPECT_NEAR(p.First("audio")->duration, 1.0, 0.1);
    QFile wav(out);
    ASSERT_TRUE(wav.open(QIODevice::ReadOnly));
    const QByteArray file = wav.readAll();
    const qsizetype data = file.indexOf("data");
    ASSERT_GT(data, 0);
    ExpectContains(file.mid(data + 8), feed.A(), 4);

    // the input format "wavcap" names the capture; the input's name is the device
    {
        const QString named = TempDir() + "/named.wav";
        TAVConverter c;
        JobEvents ev;
        Record(c, ev);
        c.SetInputFiles({"feedA"});
        c.SetOutputFiles({named});
        c.ConvertOptions()->m_inputFormat = "wavcap";
        c.ConvertOptions()->AudioOptions()->m_audioSampleRate = 44100;
        c.ConvertOptions()->AudioOptions()->m_audioChannels = 2;
        c.ConvertOptions()->m_recordingTime = 500000;
        c.Start();
        ASSERT_TRUE(WaitFinished(ev));
        ASSERT_TRUE(ev.order.contains("complete")) << c.ErrorText().toStdString();
        EXPECT_NEAR(Probe(named).duration, 0.5, 0.1);
        QFile f(named);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        ExpectContains(bytes.mid(bytes.indexOf("data") + 8), feed.A().left(44100), 4);
    }

    for (const auto& [input, rate, code] :
         {std::tuple{"wavcap:", -1, "Could not open file:-1!"},
          std::tuple{"wavcap:no_such_device_here", 44100, "Could not open file:-5!"}}) {
        TAVConverter c;
        JobEvents ev;
        Record(c, ev);
        QStringList log;
        c.OnLog = [&log](TAVConverter*, int, const QString& line) { log << line; };
        c.SetInputFiles({input});
        c.SetOutputFiles({TempDir() + "/never.wav"});
        c.ConvertOptions()->AudioOptions()->m_audioSampleRate = rate;
        c.Start();
        ASSERT_TRUE(WaitFinished(ev));
        EXPECT_TRUE(ev.order.contains("failed"));
        EXPECT_EQ(c.ErrorText(), code);
        if (rate > 0) {
            EXPECT_FALSE(log.filter("wave capture error:").isEmpty()) << log.join('\n').toStdString();
        }
    }
}

TEST(WaveCapture, TheDeviceStartsWhenTheOutputIsReady)
{
    AlsaFeed feed;
    AVFormatContext* ctx = avformat_alloc_context();
    ASSERT_TRUE(ctx);
    av::Dict options;
    int error = 0;
    std::unique_ptr<TWaveCaptureInput> input =
        AttachWaveCapture("wavcap:feedA", ctx, 44100, 2, {}, &options.p, &error);
    ASSERT_TRUE(input) << error;
    EXPECT_FALSE(input->Capture().Started());
    ASSERT_EQ(avformat_open_input(&ctx, "wavcap:feedA", av_find_input_format("s16le"), &options.p), 0);
    av::InputContextPtr owner(ctx);
    // the open reads (a tag check) but records nothing
    EXPECT_FALSE(input->Capture().Started());
    input->OutputsReady();
    EXPECT_FALSE(input->Capture().Started());
    QByteArray captured;
    av::PacketPtr pkt = av::NewPacket();
    while (captured.size() < 16384) {
        ASSERT_EQ(av_read_frame(ctx, pkt.get()), 0);
        captured.append(reinterpret_cast<const char*>(pkt->data), pkt->size);
        av_packet_unref(pkt.get());
    }
    EXPECT_TRUE(input->Capture().Started());
    // the feed from its start, none of the silence of the open before it
    EXPECT_TRUE(captured.startsWith(feed.A().left(4096)));
}
