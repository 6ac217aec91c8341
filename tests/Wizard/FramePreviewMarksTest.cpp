// The preview pane's marks and keys: the end mark takes in the shown end
// picture, marks dragged on the time bar land on pictures, and the keys move
// by seconds, to the ends and to the marks.
#include "FramePreview.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

using namespace korvane;
using namespace korvane::test;

namespace {

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

std::unique_ptr<TFramePreview> OpenedPane(const QString& file)
{
    auto pane = std::make_unique<TFramePreview>();
    pane->SetAudioDeviceAllowed(false);
    pane->resize(480, 360);
    pane->show();
    pane->OpenSource(file);
    EXPECT_TRUE(WaitFor([&] { return !pane->WaitingForPicture(); }));
    return pane;
}

bool Shown(TFramePreview& pane)
{
    return WaitFor([&] { return !pane.WaitingForPicture(); });
}

void Key(TFramePreview& pane, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(&pane, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(&pane, &release);
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Pictures every 40 ms up to 1.04 s, then pairs 40 ms apart with 200 ms
// between pairs (1.24, 1.28, 1.48, ...); Matroska gives every one 40 ms.
QString VfrClip()
{
    return Fixture(QStringLiteral("preview_vfr_end.mkv"),
                   {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=4", "-vf",
                    "setpts='if(lt(N,25),N*0.04,1+floor((N-25)/2)*0.24+mod(N-25,2)*0.04)/TB'", "-fps_mode", "vfr",
                    "-c:v", "libx264", "-g", "50", "-bf", "0", "-pix_fmt", "yuv420p"});
}

} // namespace

// The picture shown when the end is marked is the last one converted: the
// range ends 40 ms after it, as the file says, though the next picture comes
// 200 ms later (a conversion at a constant rate would fill that gap with the
// next picture).
TEST(FramePreviewMarks, TheShownEndPictureIsConvertedOnAVariableRate)
{
    const QString source = VfrClip();
    auto pane = OpenedPane(source);
    pane->SeekTo(1040000);
    ASSERT_TRUE(Shown(*pane));
    ASSERT_EQ(pane->PositionUs(), 1040000);
    ASSERT_TRUE(WaitFor([&] { return pane->Player().Source()->QueuedVideo() > 0; }));
    pane->SetEnd();
    const TFFSamplePtr endPicture = pane->View()->Picture();
    EXPECT_EQ(pane->EndMark(), 1040000);
    EXPECT_EQ(pane->EndPosition(), 1080000);
    EXPECT_EQ(pane->SelectionLabel()->text(), "Selection: 00:00:01.080");
    pane->StopPreview();

    TAVConverter c;
    JobEvents ev;
    Record(c, ev);
    const QString out = QDir(TempDir()).filePath("vfr_range.mkv");
    c.SetInputFiles({source});
    c.SetOutputFiles({out});
    c.ConvertOptions()->m_startTime = pane->StartPosition();
    c.ConvertOptions()->m_recordingTime = pane->EndPosition() - pane->StartPosition();
    c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "ffv1";
    c.Start();
    ASSERT_TRUE(WaitFinished(ev, 120000));
    ASSERT_TRUE(ev.order.contains("complete")) << c.ErrorText().toStdString();
    // the output's last picture, as the tool decodes it, is the end picture
    const QString raw = QDir(TempDir()).filePath("vfr_all.raw");
    const ProcessResult r =
        RunProcess(KORVANE_FFMPEG, {"-y", "-v", "error", "-i", out, "-f", "rawvideo", "-pix_fmt", "bgra", raw});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile f(raw);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    ASSERT_GE(all.size(), endPicture->size);
    ASSERT_EQ(all.size() % endPicture->size, 0);
    EXPECT_EQ(std::memcmp(all.constData() + all.size() - endPicture->size, endPicture->data.get(),
                          size_t(endPicture->size)),
              0);
}

TEST(FramePreviewMarks, KeysMoveBySecondsToTheEndsAndToTheMarks)
{
    auto pane = OpenedPane(SampleMp4()); // 2 s at 25 fps
    Key(*pane, Qt::Key_Right, Qt::ShiftModifier);
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->PositionUs(), 1000000);
    Key(*pane, Qt::Key_I);
    Key(*pane, Qt::Key_Left, Qt::ShiftModifier);
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->PositionUs(), 0);
    Key(*pane, Qt::Key_PageDown); // past the end: the last picture
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->PositionUs(), 1960000);
    Key(*pane, Qt::Key_Left); // one picture back
    ASSERT_TRUE(Shown(*pane));
    Key(*pane, Qt::Key_O);
    EXPECT_EQ(pane->EndMark(), 1920000);
    Key(*pane, Qt::Key_Home);
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->PositionUs(), 0);
    Key(*pane, Qt::Key_End);
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->PositionUs(), 1960000);
    Key(*pane, Qt::Key_PageUp);
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->PositionUs(), 0);
    Key(*pane, Qt::Key_BracketRight);
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->PositionUs(), 1920000);
    Key(*pane, Qt::Key_BracketLeft);
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->PositionUs(), 1000000);
    EXPECT_EQ(pane->StartPosition(), 1000000);
}

TEST(FramePreviewMarks, MarksDraggedOnTheBarLandOnPictures)
{
    auto pane = OpenedPane(SampleMp4());
    TTimeBar* bar = pane->TimeBar();
    // the end handle waits at the end of the bar until an end is set
    const QPoint endHandle = bar->MarkHandle(TTimeBar::mkEnd).center();
    ASSERT_EQ(bar->MarkAt(endHandle), TTimeBar::mkEnd);
    Mouse(bar, QEvent::MouseButtonPress, endHandle, Qt::LeftButton);
    const QPoint to(bar->XAt(1010000), endHandle.y());
    Mouse(bar, QEvent::MouseMove, to, Qt::LeftButton);
    Mouse(bar, QEvent::MouseButtonRelease, to, Qt::NoButton);
    ASSERT_TRUE(Shown(*pane));
    QApplication::processEvents();
    const int64_t shown = pane->PositionUs();
    EXPECT_EQ(shown % 40000, 0); // a picture's time
    EXPECT_NEAR(double(shown), 1010000.0, 60000.0);
    EXPECT_EQ(pane->EndMark(), shown);
    EXPECT_EQ(pane->EndPosition(), shown + 40000);
    EXPECT_EQ(bar->SelEnd(), shown);
    // the start handle, dragged from 0
    const QPoint startHandle = bar->MarkHandle(TTimeBar::mkStart).center();
    ASSERT_EQ(bar->MarkAt(startHandle), TTimeBar::mkStart);
    Mouse(bar, QEvent::MouseButtonPress, startHandle, Qt::LeftButton);
    const QPoint at(bar->XAt(500000), startHandle.y());
    Mouse(bar, QEvent::MouseMove, at, Qt::LeftButton);
    Mouse(bar, QEvent::MouseButtonRelease, at, Qt::NoButton);
    ASSERT_TRUE(Shown(*pane));
    QApplication::processEvents();
    EXPECT_EQ(pane->StartPosition(), pane->PositionUs());
    EXPECT_NEAR(double(pane->StartPosition()), 500000.0, 60000.0);
    EXPECT_EQ(pane->EndMark(), shown); // the other mark stays
    // a later seek leaves the marks where they are
    pane->SeekTo(1800000);
    ASSERT_TRUE(Shown(*pane));
    EXPECT_EQ(pane->EndMark(), shown);
}

// Errors of the filters reach the pane with their reason.
TEST(FramePreviewMarks, ShowsWhyThePictureIsMissing)
{
    auto pane = OpenedPane(SampleMp4());
    pane->SetVideoFilters(QStringLiteral("nosuchfilter"));
    ASSERT_TRUE(WaitFor([&] { return pane->StatusLabel()->isVisible(); }));
    EXPECT_EQ(pane->StatusLabel()->text(), "Parse Graph Failed: No such filter: 'nosuchfilter'");
    pane->SetVideoFilters(QStringLiteral("synth=error('no picture for you')"));
    ASSERT_TRUE(WaitFor([&] { return pane->StatusLabel()->text().contains("no picture for you"); }));
    pane->SetVideoFilters(QString());
    ASSERT_TRUE(Shown(*pane));
    EXPECT_FALSE(pane->StatusLabel()->isVisible());
}
