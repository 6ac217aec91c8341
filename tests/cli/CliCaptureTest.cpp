// Recording from the command line: korvane-cli convert wavcap: ... with
// ALSA's "file" plugin standing in for the sound card (ALSA_CONFIG_PATH).
#include "CliSupport.h"
#include "NullSoundServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace korvane::test;

namespace {

class CliCapture : public CliTestBase
{
protected:
    // The default capture device reads infile (a raw file or a pipe).
    void UseCaptureFeed(const QString& infile)
    {
        const QString conf = TempDir() + "/asound.conf";
        WriteText(conf, QStringLiteral("pcm.!default { type file slave.pcm { type null } file \"/dev/null\" "
                                       "infile \"%1\" format \"raw\" }\n")
                            .arg(infile)
                            .toUtf8());
        qputenv("ALSA_CONFIG_PATH", QFile::encodeName(conf));
    }
    void TearDown() override { qunsetenv("ALSA_CONFIG_PATH"); }
};

} // namespace

TEST_F(CliCapture, HelpDocumentsRecording)
{
    const ProcessResult r = Cli({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("wavcap:")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("wavcap:NAME"));
    EXPECT_TRUE(r.out.contains("synth=SCRIPT"));
}

TEST_F(CliCapture, EndSecondsRecordsThatLong)
{
    const QString raw = TempDir() + "/feed.raw";
    WriteText(raw, QByteArray(44100 * 4, '\x10'));
    UseCaptureFeed(raw);
    const QString out = TempDir() + "/voice.mp3";
    const ProcessResult r =
        Cli({"convert", "wavcap:", "-o", out, "--quiet", "--set", "AudioOptions.AudioSampleRate=44100",
             "--set", "AudioOptions.AudioChannels=2", "--end", "10"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const ProbeResult p = Probe(out);
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    ASSERT_EQ(p.Count("audio"), 1);
    EXPECT_EQ(p.First("audio")->sampleRate, 44100);
    EXPECT_EQ(p.First("audio")->channels, 2);
    EXPECT_NEAR(p.duration, 10.0, 0.2);
    EXPECT_TRUE(DecodesCleanly(out));

    const ProcessResult missing =
        Cli({"convert", "wavcap:no_such_device_here", "-o", TempDir() + "/x.wav", "--quiet"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("Could not open file:-5!")) << missing.err.toStdString();
}

TEST_F(CliCapture, InterruptEndsARecordingWithAPlayableFile)
{
    // a pipe paces the feed: the recording lasts until the interrupt
    const QString fifo = TempDir() + "/feed.fifo";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    UseCaptureFeed(fifo);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::signal(SIGPIPE, SIG_IGN);
        int fd = -1;
        while (!done && (fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK)) < 0)
            QThread::msleep(10);
        const QByteArray chunk(640, '\x20');
        while (!done && fd >= 0) {
            if (::write(fd, chunk.constData(), size_t(chunk.size())) < 0 && errno == EPIPE) break;
            QThread::msleep(20);
        }
        if (fd >= 0) ::close(fd);
    });
    const QString out = TempDir() + "/stopped.wav";
    QProcess p;
    p.start(QStringLiteral(KORVANE_CLI),
            {"convert", "wavcap:", "-o", out, "--quiet", "--set", "AudioOptions.AudioSampleRate=8000",
             "--set", "AudioOptions.AudioChannels=1"});
    ASSERT_TRUE(p.waitForStarted());
    QThread::msleep(1500);
    const bool running = p.state() == QProcess::Running;
    ::kill(p.processId(), SIGINT);
    const bool finished = p.waitForFinished(30000);
    done = true;
    writer.join();
    ASSERT_TRUE(running) << "the recording ended before it could be interrupted: "
                         << p.readAllStandardError().toStdString();
    ASSERT_TRUE(finished);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 130) << p.readAllStandardError().toStdString();
    const ProbeResult probe = Probe(out);
    ASSERT_TRUE(probe.ok) << probe.error.toStdString();
    EXPECT_EQ(probe.First("audio")->sampleRate, 8000);
    EXPECT_GT(probe.duration, 0.1);
    EXPECT_TRUE(DecodesCleanly(out));
}

// A device that delivers nothing (here a sound server's capture whose sink is
// suspended, as a stalled microphone) fails the job after 5 s with a message
// naming the device, instead of waiting for ever; the same device recording
// normally shows that it is the silence that fails the job.
TEST_F(CliCapture, ADeviceThatDeliversNothingFailsTheJobNamingIt)
{
    NullSoundServer server;
    if (!server.Problem().isEmpty())
        GTEST_SKIP() << server.Problem().toStdString();
    const QString conf = TempDir() + "/asound.conf";
    WriteText(conf, server.AlsaCaptureDevice("stalled_mic").toUtf8());
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(conf));
    const QStringList settings{"--quiet", "--set", "AudioOptions.AudioSampleRate=8000", "--set",
                               "AudioOptions.AudioChannels=1"};

    const QString heard = TempDir() + "/heard.wav";
    const ProcessResult ok = Cli(QStringList{"convert", "wavcap:stalled_mic", "-o", heard, "--end", "1"} + settings);
    ASSERT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    EXPECT_NEAR(Probe(heard).duration, 1.0, 0.1);

    ASSERT_TRUE(server.Suspend(true));
    const QString out = TempDir() + "/nothing.wav";
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(QStringLiteral(KORVANE_CLI), QStringList{"convert", "wavcap:stalled_mic", "-o", out, "--end", "60"} + settings);
    ASSERT_TRUE(p.waitForStarted());
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        FAIL() << "a device that delivers nothing held the job for 30 s";
    }
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("the capture device \"stalled_mic\" delivered no sound for 5 seconds"))
        << err.toStdString();
    EXPECT_GE(t.elapsed(), 4900);
    EXPECT_FALSE(QFile::exists(out)) << "a failed recording with no sound left a file behind";
}
