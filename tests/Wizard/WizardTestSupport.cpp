#include "WizardTestSupport.h"

#include "MediaFixtures.h"
#include "ProfileCatalog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>
#include <gtest/gtest.h>

#include <mutex>

namespace korvane::test {

BoxRecorder::BoxRecorder()
{
    m_previous = MessageService::Install([this](MessageKind kind, const QString&, const QString& text) {
        if (kind == MessageKind::Confirm) {
            confirms << text;
            return confirmAnswer;
        }
        if (kind == MessageKind::Error)
            errors << text;
        return true;
    });
}

BoxRecorder::~BoxRecorder()
{
    MessageService::Install(m_previous);
}

WizardWorld::WizardWorld() : folder(TempDir())
{
    BuildProfileCatalog(&profiles);
    outputFolder = folder + "/out";
    QDir().mkpath(outputFolder);
    configuration.SetOutputFolder(outputFolder);
    storePath = folder + "/VelquistProfiles.ini";
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

QString ClipNamed(const QString& folder, const QString& name)
{
    QDir().mkpath(folder);
    const QString target = folder + "/" + name;
    QFile::remove(target);
    EXPECT_TRUE(QFile::copy(SampleMp4(), target));
    return target;
}

namespace {

const QString kRoot = QStringLiteral(KORVANE_FIXTURE_DIR "/dvd-wizard");
const QString kDisc = kRoot + QStringLiteral("/KORVANE_DISC");

QString Clip(const QString& name, const QString& picture, double seconds, int tone)
{
    const QString duration = QString::number(seconds);
    return Fixture(name, {"-f", "lavfi", "-i", QStringLiteral("%1=size=352x288:rate=25:duration=%2").arg(picture, duration),
                          "-f", "lavfi", "-i", QStringLiteral("sine=frequency=%1:sample_rate=48000:duration=%2").arg(tone).arg(duration),
                          "-target", "pal-dvd", "-s", "352x288", "-b:v", "600k", "-g", "12"});
}

bool Author(const QStringList& args, QString* error)
{
    const ProcessResult r = RunProcess(QStringLiteral("env"), QStringList{"VIDEO_FORMAT=PAL"} + args);
    if (r.exitCode != 0)
        *error = args.first() + ": " + r.err.right(600);
    return r.exitCode == 0;
}

void BuildDisc()
{
    if (QFileInfo::exists(kDisc + "/VIDEO_TS/VIDEO_TS.IFO"))
        return;
    const QString a = Clip("dvd_title1.mpg", "testsrc", 4, 440);
    const QString b = Clip("dvd_title2.mpg", "testsrc2", 3, 880);
    ASSERT_FALSE(a.isEmpty() || b.isEmpty());
    QDir(kRoot).removeRecursively();
    QDir().mkpath(kRoot);
    const QString partial = kRoot + "/partial";
    QString error;
    ASSERT_TRUE(Author({"dvdauthor", "-o", partial, "-t", "-c", "0,1,2,3", a}, &error)) << error.toStdString();
    ASSERT_TRUE(Author({"dvdauthor", "-o", partial, "-t", "-c", "0,1.5", b}, &error)) << error.toStdString();
    ASSERT_TRUE(Author({"dvdauthor", "-o", partial, "-T"}, &error)) << error.toStdString();
    ASSERT_TRUE(QDir().rename(partial, kDisc));
}

} // namespace

QString DvdDiscFolder()
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    // test processes run in parallel: one builds, the others wait
    QDir().mkpath(QFileInfo(kRoot).path());
    QLockFile fileLock(kRoot + ".lock");
    fileLock.setStaleLockTime(600000);
    fileLock.lock();
    BuildDisc();
    return kDisc;
}

} // namespace korvane::test
