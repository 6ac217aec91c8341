#include "MediaFixtures.h"
#include "options/Persistent.h"
#include "sources/dvd/DvdScan.h"
#include "sources/dvd/DvdSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <gtest/gtest.h>

#include <mutex>

using namespace korvane;
using namespace korvane::dvd;
using namespace korvane::test;

namespace korvane::test {

namespace {

const QString kFixtureRoot = QStringLiteral(KORVANE_FIXTURE_DIR "/dvd");
const QString kDiscFolder = kFixtureRoot + QStringLiteral("/KORVANE_DISC");
const QString kIso = kFixtureRoot + QStringLiteral("/disc.iso");

QString DvdClip(const QString& name, const QString& picture, double seconds, int tone)
{
    const QString duration = QString::number(seconds);
    return Fixture(name, {"-f", "lavfi", "-i", QStringLiteral("%1=size=352x288:rate=25:duration=%2").arg(picture, duration),
                          "-f", "lavfi", "-i", QStringLiteral("sine=frequency=%1:sample_rate=48000:duration=%2").arg(tone).arg(duration),
                          "-target", "pal-dvd", "-s", "352x288", "-b:v", "600k", "-g", "12"});
}

bool Run(const QStringList& args, QString* error)
{
    const ProcessResult r = RunProcess(QStringLiteral("env"), QStringList{"VIDEO_FORMAT=PAL"} + args);
    if (r.exitCode != 0)
        *error = args.first() + ": " + r.err.right(600);
    return r.exitCode == 0;
}

// Title 1: 4 s in chapters at 0, 1, 2, 3 s. Title 2: 3 s in chapters at 0
// and 1.5 s. Built once with dvdauthor, written beside and renamed.
void BuildDisc()
{
    if (QFileInfo::exists(kDiscFolder + "/VIDEO_TS/VIDEO_TS.IFO") && QFileInfo::exists(kIso))
        return;
    const QString a = DvdClip("dvd_title1.mpg", "testsrc", 4, 440);
    const QString b = DvdClip("dvd_title2.mpg", "testsrc2", 3, 880);
    ASSERT_FALSE(a.isEmpty() || b.isEmpty());
    QDir(kFixtureRoot).removeRecursively();
    QDir().mkpath(kFixtureRoot);
    const QString partial = kFixtureRoot + "/partial";
    QString error;
    ASSERT_TRUE(Run({"dvdauthor", "-o", partial, "-t", "-c", "0,1,2,3", a}, &error)) << error.toStdString();
    ASSERT_TRUE(Run({"dvdauthor", "-o", partial, "-t", "-c", "0,1.5", b}, &error)) << error.toStdString();
    ASSERT_TRUE(Run({"dvdauthor", "-o", partial, "-T"}, &error)) << error.toStdString();
    ASSERT_TRUE(QDir().rename(partial, kDiscFolder));
    ASSERT_TRUE(Run({"genisoimage", "-quiet", "-dvd-video", "-V", "KORVANE_ISO", "-o", kIso + ".part", kDiscFolder},
                    &error)) << error.toStdString();
    ASSERT_TRUE(QDir().rename(kIso + ".part", kIso));
}

void EnsureDisc()
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    // test processes run in parallel: one builds, the others wait
    QDir().mkpath(QFileInfo(kFixtureRoot).path());
    QLockFile fileLock(kFixtureRoot + ".lock");
    fileLock.setStaleLockTime(600000);
    fileLock.lock();
    BuildDisc();
}

} // namespace

QString DvdFixtureFolder()
{
    EnsureDisc();
    return kDiscFolder;
}

QString DvdFixtureIso()
{
    EnsureDisc();
    return kIso;
}

// A copy of the fixture disc that a test may change.
QString CopyOfDisc()
{
    const QString target = TempDir() + "/copy";
    QDir().mkpath(target + "/VIDEO_TS");
    const QDir source(DvdFixtureFolder() + "/VIDEO_TS");
    for (const QString& name : source.entryList(QDir::Files))
        QFile::copy(source.filePath(name), target + "/VIDEO_TS/" + name);
    return target;
}

} // namespace korvane::test

namespace {

using korvane::test::CopyOfDisc;
using korvane::test::DvdFixtureFolder;
using korvane::test::DvdFixtureIso;

void Damage(const QString& file)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.write(QByteArray(f.size(), '\x5a'));
}

std::string OpenError(const QString& path)
{
    try {
        ScanDvd(path);
    } catch (const EEngineError& e) {
        return e.what();
    }
    return "no error";
}

double Seconds(int64_t us) { return us / 1e6; }

} // namespace

TEST(DvdScan, ListsTitlesChaptersAndDurations)
{
    const TDvdDisc disc = ListDvdTitles(DvdFixtureFolder());
    ASSERT_EQ(disc.Titles.size(), 2u);
    EXPECT_EQ(disc.VolumeLabel, "KORVANE_DISC") << "a folder copy is named after its folder";
    const TDvdTitle& one = disc.Titles[0];
    EXPECT_EQ(one.Number, 1);
    EXPECT_EQ(one.AngleCount, 1);
    ASSERT_EQ(one.Chapters.size(), 4u);
    EXPECT_NEAR(Seconds(one.DurationUs), 4.0, 0.3);
    for (size_t c = 0; c < 4; ++c) {
        EXPECT_EQ(one.Chapters[c].Number, static_cast<int>(c) + 1);
        EXPECT_NEAR(Seconds(one.Chapters[c].DurationUs), 1.0, 0.5) << "chapter " << c + 1;
    }
    const TDvdTitle& two = disc.Titles[1];
    EXPECT_EQ(two.Number, 2);
    ASSERT_EQ(two.Chapters.size(), 2u);
    EXPECT_NEAR(Seconds(two.DurationUs), 3.0, 0.3);
    EXPECT_NEAR(Seconds(two.Chapters[0].DurationUs), 1.5, 0.5);
    EXPECT_EQ(two.Path, DvdFixtureFolder());
    // the caption is the title number and its whole seconds
    EXPECT_EQ(DvdTitleCaption(one), QString::asprintf("1(00:00:%.2d)", one.Seconds));
    EXPECT_EQ(one.Seconds, static_cast<int>(one.DurationUs / 1000000));
}

TEST(DvdScan, OpensVideoTsFolderItselfAndImages)
{
    EXPECT_EQ(ListDvdTitles(DvdFixtureFolder() + "/VIDEO_TS").Titles.size(), 2u);
    const TDvdDisc iso = ListDvdTitles(DvdFixtureIso());
    ASSERT_EQ(iso.Titles.size(), 2u);
    EXPECT_EQ(iso.VolumeLabel, "KORVANE_ISO");
    EXPECT_EQ(DvdVolumeLabel(DvdFixtureIso()), "KORVANE_ISO");
    EXPECT_EQ(iso.Titles[0].Chapters.size(), 4u);
}

TEST(DvdScanErrors, MissingPathNonDvdFolderAndDamagedTablesSayCanNotOpenDvd)
{
    EXPECT_EQ(OpenError("/nonexistent/korvane/disc"), "Can not open DVD");
    EXPECT_EQ(OpenError(""), "Can not open DVD");
    const QString plain = korvane::test::TempDir();
    QFile(plain + "/notes.txt").open(QIODevice::WriteOnly);
    EXPECT_EQ(OpenError(plain), "Can not open DVD");
    const QString notDisc = korvane::test::TempDir() + "/junk.iso";
    QFile junk(notDisc);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(200000, 'x'));
    junk.close();
    EXPECT_EQ(OpenError(notDisc), "Can not open DVD");

    const QString damaged = CopyOfDisc();
    Damage(damaged + "/VIDEO_TS/VIDEO_TS.IFO");
    Damage(damaged + "/VIDEO_TS/VIDEO_TS.BUP");
    EXPECT_EQ(OpenError(damaged), "Can not open DVD");
}

TEST(DvdScanErrors, DamagedTitleSetIsLeftOutAndCannotBeOpened)
{
    const QString damaged = CopyOfDisc();
    Damage(damaged + "/VIDEO_TS/VTS_02_0.IFO");
    Damage(damaged + "/VIDEO_TS/VTS_02_0.BUP");
    const TDvdDisc disc = ScanDvd(damaged);
    ASSERT_EQ(disc.Titles.size(), 1u);
    EXPECT_EQ(disc.Titles[0].Number, 1);
    try {
        OpenDvdSource(damaged, 2);
        FAIL() << "a damaged title was opened";
    } catch (const EEngineError& e) {
        EXPECT_STREQ(e.what(), "Can not open title");
    }
}

TEST(DvdTexts, CaptionsAndSafeOutputNames)
{
    TDvdTitle title;
    title.Number = 3;
    title.Hours = 1;
    title.Minutes = 2;
    title.Seconds = 5;
    EXPECT_EQ(DvdTitleCaption(title), "3(01:02:05)");
    EXPECT_EQ(DvdSourceCaption("MOVIE", 2), "dvd[MOVIE:title2]");
    EXPECT_EQ(DvdDefaultOutputName("MOVIE", 2), "MOVIE_2");
    EXPECT_EQ(DvdDefaultOutputName("../etc/x", 1), ".._etc_x_1") << "a label never names another folder";
    EXPECT_EQ(DvdDefaultOutputName("..", 1), "__1");
    EXPECT_EQ(DvdDefaultOutputName("http:x", 4), "http_x_4") << "nor a protocol";
}

TEST(DvdTexts, ChapterRanges)
{
    int first = -1, last = -1;
    EXPECT_TRUE(ParseChapterRange("2-5", &first, &last));
    EXPECT_EQ(first, 2);
    EXPECT_EQ(last, 5);
    EXPECT_TRUE(ParseChapterRange("3", &first, &last));
    EXPECT_EQ(first, 3);
    EXPECT_EQ(last, 3);
    EXPECT_TRUE(ParseChapterRange("4-", &first, &last));
    EXPECT_EQ(first, 4);
    EXPECT_EQ(last, 0);
    for (const char* bad : {"", "0-2", "5-2", "a-b", "1-2-3", "-3"})
        EXPECT_FALSE(ParseChapterRange(bad, &first, &last)) << bad;
}

// A stand-in for /sys/block, /proc/mounts and /dev: sr0 is mounted on the
// fixture disc, sr1 on a folder without a DVD, sr2 is not mounted and has no
// device, sda is not optical.
TEST(DvdDrives, ListsOnlyOpticalDrivesHoldingAVideoDvd)
{
    const QString root = korvane::test::TempDir();
    for (const char* name : {"sr0", "sr1", "sr2", "sda"})
        QDir().mkpath(root + "/sys/" + name);
    const QString empty = root + "/empty disc";
    QDir().mkpath(empty);
    QString disc = DvdFixtureFolder();
    QFile mounts(root + "/mounts");
    ASSERT_TRUE(mounts.open(QIODevice::WriteOnly));
    mounts.write("/dev/sda1 / ext4 rw 0 0\n");
    mounts.write(QString(root + "/dev/sr0 " + disc + " udf ro 0 0\n").toUtf8());
    mounts.write(QString(root + "/dev/sr1 " + QString(empty).replace(" ", "\\040") + " iso9660 ro 0 0\n").toUtf8());
    mounts.close();

    const std::vector<TDvdDrive> drives = ListDvdDrives(root + "/sys", root + "/mounts", root + "/dev");
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].Device, root + "/dev/sr0");
    EXPECT_EQ(drives[0].MountPoint, disc);
    EXPECT_EQ(drives[0].Path(), disc);
    EXPECT_EQ(drives[0].Caption, "sr0: [KORVANE_DISC]");
    EXPECT_EQ(ListDvdTitles(drives[0].Path()).Titles.size(), 2u);
}

TEST(DvdDrives, MountPointsWithEscapedSpacesAreFound)
{
    const QString root = korvane::test::TempDir();
    QDir().mkpath(root + "/sys/sr0");
    const QString spaced = root + "/my disc";
    QDir().mkpath(spaced + "/VIDEO_TS");
    QFile::copy(DvdFixtureFolder() + "/VIDEO_TS/VIDEO_TS.IFO", spaced + "/VIDEO_TS/VIDEO_TS.IFO");
    QFile mounts(root + "/mounts");
    ASSERT_TRUE(mounts.open(QIODevice::WriteOnly));
    mounts.write(QString("/dev/sr0 " + QString(spaced).replace(" ", "\\040") + " udf ro 0 0\n").toUtf8());
    mounts.close();
    const std::vector<TDvdDrive> drives = ListDvdDrives(root + "/sys", root + "/mounts", "/dev");
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].MountPoint, spaced);
}

// The command line lists and converts titles of the test disc, through the
// converter and the stream input; outputs are checked with ffprobe.
TEST(DvdCommandLine, ListsAndConvertsTitlesChapterRangesAndWindows)
{
    EnsureDisc();
    const QString cli = QStringLiteral(KORVANE_CLI);
    ProcessResult r = RunProcess(cli, {"dvd", kIso});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("title 1  00:00:04  chapters 4  angles 1")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("title 2  00:00:03  chapters 2  angles 1")) << r.out.toStdString();
    EXPECT_EQ(RunProcess(cli, {"dvd", TempDir()}).exitCode, 1);

    const QString dir = TempDir();
    struct Case
    {
        QStringList args;
        double seconds;
        double above = 0.55; // sound muxed ahead of the pictures may start earlier than the range
    } cases[] = {
        {{"--title", "2"}, 3.0},
        // chapter edges fall on the disc's 0.5 s navigation units
        {{"--title", "1", "--chapters", "2-3"}, 2.0},
        // the last chapter alone: the title ends where the range does
        {{"--title", "1", "--chapters", "4-4"}, 1.0, 0.9},
        {{"--title", "2", "--chapters", "2-2"}, 1.5, 0.9},
        {{"--title", "1", "--start", "1"}, 3.0},
    };
    int n = 0;
    for (const Case& k : cases) {
        const QString out = dir + QStringLiteral("/title%1.mkv").arg(n++);
        r = RunProcess(cli, QStringList{"convert", "dvd:" + kDiscFolder, "-o", out, "--quiet", "--set",
                                        "VideoOptions.EncoderVideoCodecName=mpeg4"} + k.args);
        ASSERT_EQ(r.exitCode, 0) << k.args.join(' ').toStdString() << r.err.toStdString();
        const ProbeResult p = Probe(out);
        ASSERT_TRUE(p.ok);
        EXPECT_GT(p.duration, k.seconds - 0.55) << k.args.join(' ').toStdString();
        EXPECT_LT(p.duration, k.seconds + k.above) << k.args.join(' ').toStdString();
        ASSERT_EQ(p.Count("video"), 1);
        EXPECT_GE(p.First("video")->packets, int(k.seconds * 25) - 2);
        EXPECT_TRUE(DecodesCleanly(out));
    }
    r = RunProcess(cli, {"convert", "dvd:" + kDiscFolder, "--title", "9", "-o", dir + "/none.mkv", "--quiet"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Can not open title")) << r.err.toStdString();
}
