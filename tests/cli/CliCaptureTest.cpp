// Recording from the command line: korvane-cli convert wavcap: ... with
// ALSA's "file" plugin standing in for the sound card (ALSA_CONFIG_PATH).
#include "CliSupport.h"

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
    const ProcessResult r = Cli({"convert", "wavcap:", "-o", out, "--quiet", "--set", "AudioOptions.AudioSampleRate=44100",
                                 "--set", "AudioOptions.AudioChannels=2", "--end", "10"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const ProbeResult p = Probe(out);
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    ASSERT_EQ(p.Count("audio"), 1);
    EXPECT_EQ(p.First("audio")->sampleRate, 44100);
    EXPECT_EQ(p.First("audio")->channels, 2);
    EXPECT_NEAR(p.duration, 10.0, 0.2);
    EXPECT_TRUE(DecodesCleanly(out));

    const ProcessResult missing = Cli({"convert", "wavcap:no_such_device_here", "-o", TempDir() + "/x.wav", "--quiet"});
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
            if (::write(fd, chunk.constData(), size_t(chunk.size())) < 0 && errno == EPIPE)
                break;
            QThread::msleep(20);
        }
        if (fd >= 0)
            ::close(fd);
    });
    const QString out = TempDir() + "/stopped.wav";
    QProcess p;
    p.start(QStringLiteral(KORVANE_CLI), {"convert", "wavcap:", "-o", out, "--quiet", "--set",
                                          "AudioOptions.AudioSampleRate=8000", "--set", "AudioOptions.AudioChannels=1"});
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
