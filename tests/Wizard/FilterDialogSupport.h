// Shared by the filter dialog tests: answering a modal dialog, converting a
// sample through the engine with a filter description, and the ffmpeg tool
// as the independent judge of the pictures.
#pragma once

#include "JobRunner.h"
#include "MediaFixtures.h"
#include "transcode/AVConverter.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace korvane::test {

inline std::string S(const QString& text)
{
    return text.toStdString();
}

// Runs answer on the next modal dialog as soon as it is shown (from inside
// its exec loop). answer closes the dialog; one it left open (a failed
// assertion inside it) is cancelled, so the test never hangs.
inline void AnswerNextDialog(std::function<void(QDialog*)> answer)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        answer(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    timer->start();
}

// A 1 s 320x240 test picture in a lossless file, without sound.
inline QString FilterSource()
{
    return Fixture("filter_dialog_src.mkv",
                   {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1", "-c:v", "ffv1", "-pix_fmt", "yuv420p"});
}

// Converts FilterSource() through the engine with the given description
// into a lossless output; returns the error text (empty on success).
inline QString ConvertWithFilters(const QString& filters, const QString& output)
{
    TAVConverter c;
    JobEvents ev;
    Record(c, ev);
    c.SetInputFiles({FilterSource()});
    c.SetOutputFiles({output});
    c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "ffv1";
    c.ConvertOptions()->AudioOptions()->m_audioDisable = true;
    c.ConvertOptions()->FilterOptions()->m_videoFilters = filters;
    c.Start();
    if (!WaitFinished(ev, 120000))
        return "timed out";
    if (!ev.order.contains("complete"))
        return "not completed: " + c.ErrorText();
    return c.ErrorText();
}

// The same source through the ffmpeg tool with its own filters (-vf, or
// -filter_complex when extra inputs are given); returns its complaint.
inline QString ToolConvert(const QString& filters, const QString& output, const QStringList& extraInputs = {})
{
    QStringList args{"-y", "-v", "error", "-i", FilterSource()};
    for (const QString& input : extraInputs)
        args << "-i" << input;
    args << (extraInputs.isEmpty() ? "-vf" : "-filter_complex") << filters << "-an" << "-c:v" << "ffv1"
         << "-pix_fmt" << "yuv420p" << output;
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG), args);
    return r.exitCode == 0 ? QString() : r.err;
}

// The first picture of a file as RGB, decoded by the ffmpeg tool.
inline QImage FirstPicture(const QString& file)
{
    const QString png = TempDir() + "/first.png";
    const ProcessResult r =
        RunProcess(QStringLiteral(KORVANE_FFMPEG), {"-y", "-v", "error", "-i", file, "-frames:v", "1", png});
    EXPECT_EQ(r.exitCode, 0) << S(r.err);
    return QImage(png).convertToFormat(QImage::Format_RGB32);
}

// Pixels of a region whose colour is within tolerance of rgb.
inline int CountNear(const QImage& image, const QRect& region, QRgb rgb, int tolerance = 40)
{
    int count = 0;
    const QRect r = region.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(rgb)) <= tolerance && std::abs(qGreen(p) - qGreen(rgb)) <= tolerance &&
                std::abs(qBlue(p) - qBlue(rgb)) <= tolerance)
                ++count;
        }
    }
    return count;
}

// Pixels of a region that match in picture but did not in source.
inline int CountBecame(const QImage& picture, const QImage& source, const QRect& region,
                       const std::function<bool(QRgb)>& matches)
{
    int count = 0;
    const QRect r = region.intersected(picture.rect()).intersected(source.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x)
            count += matches(picture.pixel(x, y)) && !matches(source.pixel(x, y)) ? 1 : 0;
    }
    return count;
}

} // namespace korvane::test
