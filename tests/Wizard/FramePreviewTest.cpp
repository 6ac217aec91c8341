// The preview pane, offscreen: opening, playing on the steady clock, keys,
// exact marks and what a conversion of the marked range starts with.
#include "FramePreview.h"
#include "JobRunner.h"
#include "MediaFixtures.h"
#include "NullSoundServer.h"
#include "PreviewPane.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QComboBox>
#include <QToolButton>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <thread>

using namespace korvane;
using namespace korvane::test;

namespace {

void Wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        Wait(5);
    }
    return true;
}

std::unique_ptr<TFramePreview> OpenedPane(const QString& file)
{
    auto pane = std::make_unique<TFramePreview>();
    pane->SetAudioDeviceAllowed(false); // tests never make a sound
    pane->resize(480, 360);
    pane->show();
    pane->OpenSource(file);
    EXPECT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    return pane;
}

void Key(TFramePreview& pane, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(&pane, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(&pane, &release);
}

} // namespace

TEST(FramePreview, OpensOnItsFirstPictureWithEmptyMarks)
{
    auto pane = OpenedPane(SampleMp4());
    ASSERT_TRUE(pane->View()->Picture());
    EXPECT_EQ(pane->View()->Picture()->startUs, 0);
    EXPECT_EQ(pane->View()->Picture()->width, 320);
    EXPECT_FALSE(pane->View()->PictureRect().isEmpty());
    // 4:3 kept inside the 480-wide view
    EXPECT_NEAR(double(pane->View()->PictureRect().width()) / pane->View()->PictureRect().height(), 4.0 / 3.0, 0.02);
    EXPECT_EQ(pane->StartLabel()->text(), "Start[00:00:00.000 #0]");
    EXPECT_EQ(pane->EndLabel()->text(), "End[00:00:00.000 #0]");
    EXPECT_TRUE(pane->PositionLabel()->text().startsWith("Position: 00:00:00.000 #0 Duration: 00:00:02."))
        << pane->PositionLabel()->text().toStdString();
    EXPECT_FALSE(pane->SelectionLabel()->isVisible());
    EXPECT_EQ(pane->PlayButton()->toolTip(), "Play");
    EXPECT_FALSE(pane->Playing());
    EXPECT_EQ(pane->StartPosition(), 0);
    EXPECT_EQ(pane->EndPosition(), 0);

    // a file that does not open
    const QString missing = QDir(TempDir()).filePath("missing.mp4");
    pane->OpenSource(missing);
    EXPECT_TRUE(pane->StatusLabel()->isVisible());
    // the message, and under it the library's reason
    const QStringList lines = pane->StatusLabel()->text().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("can not open the file %1!").arg(missing));
    EXPECT_TRUE(lines[1].contains("No such file or directory")) << lines[1].toStdString();
    EXPECT_FALSE(pane->View()->Picture());
}

TEST(FramePreview, PlaysToTheEndWithoutAnAudioDevice)
{
    auto pane = OpenedPane(SampleMp4()); // has sound; no device is used
    EXPECT_FALSE(pane->UsingAudioDevice());
    Key(*pane, Qt::Key_Space);
    EXPECT_TRUE(pane->Playing());
    EXPECT_EQ(pane->PlayButton()->toolTip(), "Pause");
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(WaitFor([&] { return pane->PositionUs() >= 600000; }, 5000));
    // the steady clock runs at the pictures' pace, not faster
    EXPECT_GE(t.elapsed(), 450);
    // the sound nobody hears is dropped as its time passes
    const TFFSamplePtr oldest = pane->Player().Source()->PeekAudio();
    ASSERT_TRUE(oldest);
    EXPECT_GT(oldest->stopUs, pane->PositionUs() - 100000);
    Key(*pane, Qt::Key_Space);
    EXPECT_FALSE(pane->Playing());
    const int64_t paused = pane->PositionUs();
    Wait(200);
    EXPECT_EQ(pane->PositionUs(), paused);
    Key(*pane, Qt::Key_Space);
    // at the end it stops on the last picture
    ASSERT_TRUE(WaitFor([&] { return !pane->Playing(); }, 8000));
    EXPECT_EQ(pane->PositionUs(), 1960000);
    EXPECT_EQ(pane->PlayButton()->toolTip(), "Play");
}

TEST(FramePreview, KeysStepAndMarkTheShownPictures)
{
    auto pane = OpenedPane(SampleMp4());
    pane->SeekTo(1000000);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    EXPECT_EQ(pane->PositionUs(), 1000000);
    Key(*pane, Qt::Key_Right);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    EXPECT_EQ(pane->PositionUs(), 1040000);
    Key(*pane, Qt::Key_I);
    EXPECT_EQ(pane->StartPosition(), 1040000);
    EXPECT_EQ(pane->StartLabel()->text(), "Start[00:00:01.040 #26]");
    pane->SeekTo(1500000);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    Key(*pane, Qt::Key_Left);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    EXPECT_EQ(pane->PositionUs(), 1480000); // the picture before the one at 1.5 s
    EXPECT_EQ(pane->View()->Picture()->startUs, 1480000);
    Key(*pane, Qt::Key_O);
    EXPECT_EQ(pane->EndMark(), 1480000);
    // the range ends where the end picture ends
    EXPECT_EQ(pane->EndPosition(), 1520000);
    EXPECT_EQ(pane->EndLabel()->text(), "End[00:00:01.480 #37]");
    EXPECT_EQ(pane->SelectionLabel()->text(), "Selection: 00:00:00.480");
    EXPECT_TRUE(pane->SelectionLabel()->isVisible());
    EXPECT_EQ(pane->TimeBar()->SelStart(), 1040000);
    EXPECT_EQ(pane->TimeBar()->SelEnd(), 1480000);
    // a start after the end drops the end
    pane->SeekTo(1800000);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    pane->SetStart();
    EXPECT_EQ(pane->StartPosition(), 1800000);
    EXPECT_EQ(pane->EndPosition(), 0);
    // the marks outlive the source: the dialog reads them after stopping
    pane->StopPreview();
    EXPECT_EQ(pane->StartPosition(), 1800000);
    EXPECT_FALSE(pane->View()->Picture());
}

TEST(FramePreview, ConvertingTheMarkedRangeStartsOnTheMarkedPicture)
{
    const QString source = SampleMp4();
    IPreviewPane* created = CreatePreviewPane(nullptr);
    std::unique_ptr<TFramePreview> pane(dynamic_cast<TFramePreview*>(created));
    ASSERT_TRUE(pane);
    pane->SetAudioDeviceAllowed(false);
    pane->OpenSource(source);
    pane->SetVideoFilters(QStringLiteral("negate"));
    pane->SeekTo(700000);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    pane->SetStart();
    const TFFSamplePtr marked = pane->View()->Picture();
    pane->SeekTo(1100000);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    pane->SetEnd();
    pane->StopPreview();
    ASSERT_EQ(pane->StartPosition(), 720000); // the first picture at or after 0.7 s
    ASSERT_EQ(pane->EndMark(), 1120000);
    ASSERT_EQ(pane->EndPosition(), 1160000);

    // what the dialog makes of the marks
    TAVConverter c;
    JobEvents ev;
    Record(c, ev);
    const QString out = QDir(TempDir()).filePath("range.mkv");
    c.SetInputFiles({source});
    c.SetOutputFiles({out});
    c.ConvertOptions()->m_startTime = pane->StartPosition();
    c.ConvertOptions()->m_recordingTime = pane->EndPosition() - pane->StartPosition();
    c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "ffv1";
    c.ConvertOptions()->FilterOptions()->m_videoFilters = QStringLiteral("negate");
    c.ConvertOptions()->AudioOptions()->m_audioDisable = true;
    c.Start();
    ASSERT_TRUE(WaitFinished(ev, 120000));
    ASSERT_TRUE(ev.order.contains("complete")) << c.ErrorText().toStdString();
    // every picture from the start mark up to the end mark (where the
    // engine's time limit ends is its own matter), the first one the marked picture
    const ProbeResult p = Probe(out);
    ASSERT_EQ(p.Count("video"), 1);
    EXPECT_GE(p.First("video")->packets, 10);
    const QString raw = QDir(TempDir()).filePath("first.raw");
    const ProcessResult r = RunProcess(KORVANE_FFMPEG, {"-y", "-v", "error", "-i", out, "-frames:v", "1", "-f",
                                                        "rawvideo", "-pix_fmt", "bgra", raw});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile f(raw);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray first = f.readAll();
    ASSERT_EQ(first.size(), marked->size);
    EXPECT_EQ(std::memcmp(first.constData(), marked->data.get(), size_t(first.size())), 0);
}


// With a sound device the pane plays through it, its position follows the
// sound the device has played, and a pause holds the device's stream.
TEST(FramePreview, PlaysThroughASoundDeviceOnTheSoundsClock)
{
    NullSoundServer server;
    if (!server.Problem().isEmpty())
        GTEST_SKIP() << server.Problem().toStdString();
    qputenv("PULSE_SERVER", ("unix:" + server.Socket()).toLocal8Bit());
    ASSERT_FALSE(QMediaDevices::defaultAudioOutput().isNull()) << "the null sink is not seen";

    auto pane = std::make_unique<TFramePreview>();
    pane->resize(480, 360);
    pane->show();
    pane->OpenSource(SampleMp4()); // 2 s, stereo 44.1 kHz sound
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    Key(*pane, Qt::Key_Space);
    ASSERT_TRUE(pane->UsingAudioDevice());
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(WaitFor([&] { return pane->PositionUs() >= 800000; }, 5000));
    // the device plays in real time, and the pictures keep to it
    EXPECT_GE(t.elapsed(), 650);
    EXPECT_TRUE(pane->UsingAudioDevice());
    // the stream on the server, playing
    const QString playing = server.Ctl({"list", "sink-inputs"});
    EXPECT_TRUE(playing.contains("Corked: no")) << playing.toStdString();

    Key(*pane, Qt::Key_Space);
    EXPECT_FALSE(pane->Playing());
    const int64_t paused = pane->PositionUs();
    ASSERT_TRUE(WaitFor([&] { return server.Ctl({"list", "sink-inputs"}).contains("Corked: yes"); }, 3000));
    Wait(300);
    EXPECT_EQ(pane->PositionUs(), paused);

    // resumed, it plays to the end on the sound's clock and stops on the last picture
    Key(*pane, Qt::Key_Space);
    t.restart();
    ASSERT_TRUE(WaitFor([&] { return !pane->Playing(); }, 8000));
    EXPECT_GE(t.elapsed(), (1960000 - paused) / 1000 - 200);
    EXPECT_EQ(pane->PositionUs(), 1960000);
    EXPECT_TRUE(pane->UsingAudioDevice());
}

// The sound's clock follows its timestamps: after a jump in them the time of
// what the device played is that of the block it came from.
TEST(FramePreview, SoundClockFollowsJumpsInTheSoundsTimes)
{
    // 2 s of sound whose second half is stamped 0.5 s later
    const QString file = Fixture(QStringLiteral("preview_sound_jump.mkv"),
                                 {"-f", "lavfi", "-i", "sine=frequency=440:duration=2:sample_rate=48000", "-af",
                                  "asetpts='if(gte(T,1),PTS+0.5/TB,PTS)'", "-c:a", "pcm_s16le"});
    TFFPushSource source;
    source.Load(file);
    ASSERT_EQ(source.SampleRate(), 48000);
    TAudioFeed feed;
    feed.SetSource(&source);
    feed.SetFormat(source.SampleRate(), source.Channels());
    ASSERT_TRUE(feed.open(QIODevice::ReadOnly));
    qint64 total = 0;
    char buffer[4096];
    for (int idle = 0; idle < 500 && !(source.EndOfStream() && idle > 5);) {
        const qint64 n = feed.read(buffer, sizeof buffer);
        total += n;
        idle = n > 0 ? 0 : idle + 1;
        if (n <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int64_t bytesPerSecond = 48000 * 2 * source.Channels();
    EXPECT_NEAR(double(total), 2.0 * double(bytesPerSecond), double(bytesPerSecond) * 0.05);
    EXPECT_EQ(feed.FirstStartUs(), 0);
    EXPECT_NEAR(double(feed.SoundTimeUs(0)), 0.0, 1000.0);
    EXPECT_NEAR(double(feed.SoundTimeUs(500000)), 500000.0, 1000.0);
    EXPECT_NEAR(double(feed.SoundTimeUs(1200000)), 1700000.0, 25000.0);
    EXPECT_NEAR(double(feed.SoundTimeUs(1900000)), 2400000.0, 25000.0);
}

// Another sound track opens the device again in that track's format; the
// volume and muting carry over.
TEST(FramePreview, AudioTrackChangeReopensTheDeviceInItsFormat)
{
    NullSoundServer server;
    if (!server.Problem().isEmpty())
        GTEST_SKIP() << server.Problem().toStdString();
    qputenv("PULSE_SERVER", ("unix:" + server.Socket()).toLocal8Bit());
    ASSERT_FALSE(QMediaDevices::defaultAudioOutput().isNull()) << "the null sink is not seen";

    auto pane = std::make_unique<TFramePreview>();
    pane->resize(480, 360);
    pane->show();
    pane->SetVolume(40);
    pane->OpenSource(SampleTwoAudio()); // mono 22.05 kHz, then stereo 48 kHz
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    ASSERT_TRUE(pane->UsingAudioDevice());
    EXPECT_EQ(pane->SoundFormat().sampleRate(), 22050);
    EXPECT_EQ(pane->SoundFormat().channelCount(), 1);
    EXPECT_NEAR(pane->DeviceVolume(), 0.4, 0.01);
    ASSERT_TRUE(pane->AudioTrackBox()->isVisible());
    ASSERT_EQ(pane->AudioTrackBox()->count(), 2);
    EXPECT_TRUE(pane->AudioTrackBox()->itemText(1).startsWith("2: aac, stereo, 48000 Hz"))
        << pane->AudioTrackBox()->itemText(1).toStdString();

    pane->SeekTo(400000);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    const int64_t shown = pane->PositionUs();
    pane->SetMuted(true);
    pane->SetAudioTrack(1);
    ASSERT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    EXPECT_EQ(pane->AudioTrackBox()->currentIndex(), 1);
    ASSERT_TRUE(pane->UsingAudioDevice());
    EXPECT_EQ(pane->SoundFormat().sampleRate(), 48000);
    EXPECT_EQ(pane->SoundFormat().channelCount(), 2);
    EXPECT_EQ(pane->DeviceVolume(), 0.0);
    EXPECT_EQ(pane->PositionUs(), shown); // on the same picture
    // it plays on through the device with the new track
    Key(*pane, Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return pane->PositionUs() >= 900000; }, 5000));
    ASSERT_TRUE(pane->UsingAudioDevice());
    pane->SetMuted(false);
    EXPECT_NEAR(pane->DeviceVolume(), 0.4, 0.01);
}
