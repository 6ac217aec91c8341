// The DVD tab reads drives and discs off the GUI thread: drives without a
// disc are listed, a scan can be cancelled and the dialog closed meanwhile,
// Refresh reads a swapped disc, and Start notices a disc swapped after its
// titles were read.
#include "DvdSourceTab.h"
#include "FormNewConversion.h"
#include "MediaFixtures.h"
#include "WizardTestSupport.h"
#include "sources/StreamProtocol.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPushButton>
#include <QThread>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

void CopyFolder(const QString& from, const QString& to)
{
    QDir(to).removeRecursively();
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        ASSERT_TRUE(QFile::copy(file, target)) << target.toStdString();
    }
}

// A disc of one title, unlike the shared one of two.
QString OtherDisc()
{
    const QString clip = Fixture("dvd_other.mpg", {"-f", "lavfi", "-i", "testsrc=size=352x288:rate=25:duration=2",
                                                   "-f", "lavfi", "-i", "sine=frequency=660:sample_rate=48000:duration=2",
                                                   "-target", "pal-dvd", "-s", "352x288", "-b:v", "600k"});
    const QString disc = TempDir() + "/OTHER";
    for (const QStringList& args : {QStringList{"dvdauthor", "-o", disc, "-t", clip},
                                    QStringList{"dvdauthor", "-o", disc, "-T"}}) {
        const ProcessResult r = RunProcess("env", QStringList{"VIDEO_FORMAT=PAL"} + args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    return disc;
}

TEST(DvdDrivesListed, OpticalDrivesWithoutADiscAreListedToo)
{
    const QString root = TempDir();
    for (const char* name : {"sr0", "sr1", "sda"})
        QDir().mkpath(root + "/sys/" + name);
    QFile mounts(root + "/mounts");
    ASSERT_TRUE(mounts.open(QIODevice::WriteOnly));
    mounts.write(QString(root + "/dev/sr0 " + DvdDiscFolder() + " udf ro 0 0\n").toUtf8());
    mounts.close();
    const auto all = dvd::ListOpticalDrives(root + "/sys", root + "/mounts", root + "/dev");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(all[0].HasDisc);
    EXPECT_EQ(all[0].Caption, "sr0: [KORVANE_DISC]");
    EXPECT_FALSE(all[1].HasDisc);
    EXPECT_EQ(all[1].Caption, "sr1: [no disc]");
    EXPECT_EQ(dvd::ListDvdDrives(root + "/sys", root + "/mounts", root + "/dev").size(), 1u);

    // The tab lists them on a worker, once it is first shown.
    BoxRecorder messages;
    WizardWorld world;
    TFormNewConversion form(
        TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}},
        new FakePreviewPane);
    TDvdSourceTab* tab = form.DvdTab();
    QThread* listedOn = nullptr;
    tab->ListDrives = [&] {
        listedOn = QThread::currentThread();
        return dvd::ListOpticalDrives(root + "/sys", root + "/mounts", root + "/dev");
    };
    EXPECT_FALSE(tab->HasListedDrives());
    form.SelectSourceTab(TFormNewConversion::tabDvd);
    ASSERT_TRUE(WaitFor([&] { return tab->HasListedDrives() && !tab->IsListingDrives(); }));
    EXPECT_NE(listedOn, nullptr);
    EXPECT_NE(listedOn, QApplication::instance()->thread());
    ASSERT_EQ(tab->Drives()->count(), 3);
    EXPECT_EQ(tab->Drives()->itemText(1), "sr1: [no disc]");
    // choosing the empty drive says so
    tab->ChooseDrive(1);
    ASSERT_TRUE(WaitFor([&] { return !tab->IsScanning(); }));
    ASSERT_EQ(messages.errors.size(), 1);
    EXPECT_TRUE(messages.errors[0].contains("no video DVD")) << messages.errors[0].toStdString();
}

TEST(DvdScanCancel, ACancelledScanIsDroppedAndTheDialogClosesDuringAScan)
{
    BoxRecorder messages;
    WizardWorld world;
    auto form = std::make_unique<TFormNewConversion>(
        TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}},
        new FakePreviewPane);
    TDvdSourceTab* tab = form->DvdTab();
    tab->ListDrives = [] { return std::vector<dvd::TDvdDrive>{}; };
    form->SelectSourceTab(TFormNewConversion::tabDvd);
    tab->OpenDiscPath(DvdDiscFolder());
    ASSERT_TRUE(tab->IsScanning());
    EXPECT_EQ(tab->RefreshButton()->text(), "Cancel");
    EXPECT_TRUE(tab->RefreshButton()->isEnabled());
    form->UpdateReadiness();
    EXPECT_EQ(form->StartBlockedReason(), "Reading the disc...");
    tab->RefreshButton()->click();
    EXPECT_FALSE(tab->IsScanning());
    EXPECT_EQ(tab->RefreshButton()->text(), "Refresh");
    QThread::msleep(300);
    WaitFor([] { return false; }, 1500); // the worker's result arrives and is dropped
    EXPECT_FALSE(tab->HasTitle());
    EXPECT_TRUE(messages.errors.isEmpty());

    // Closing while a disc is read closes at once, and nothing is shown later.
    int rejected = 0;
    QObject::connect(form.get(), &QDialog::rejected, [&] { ++rejected; });
    tab->OpenDiscPath(world.folder); // no disc there: the scan would fail
    ASSERT_TRUE(tab->IsScanning());
    form->reject();
    EXPECT_EQ(rejected, 1);
    EXPECT_FALSE(tab->IsScanning());
    WaitFor([] { return false; }, 1500);
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join("|").toStdString();
}

TEST(DvdSwap, ADiscSwappedBeforeStartIsToldAndRefreshReadsTheNewOne)
{
    BoxRecorder messages;
    WizardWorld world;
    const QString drive = TempDir() + "/drive";
    CopyFolder(DvdDiscFolder(), drive);
    const QString other = OtherDisc();
    auto form = std::make_unique<TFormNewConversion>(
        TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}},
        new FakePreviewPane);
    ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
    TDvdSourceTab* tab = form->DvdTab();
    tab->ListDrives = [] { return std::vector<dvd::TDvdDrive>{}; };
    form->SelectSourceTab(TFormNewConversion::tabDvd);
    tab->OpenDiscPath(drive);
    ASSERT_TRUE(WaitFor([&] { return tab->HasTitle(); }));
    ASSERT_EQ(tab->Titles()->count(), 2);
    const QByteArray firstId = tab->Disc().Id;
    EXPECT_FALSE(firstId.isEmpty());
    // the title's preview is opened on a worker; the swap comes after it
    ASSERT_TRUE(WaitFor([&] { return !tab->IsOpeningPreview(); }));

    CopyFolder(other, drive); // the disc is swapped
    form->Finish();
    ASSERT_TRUE(WaitFor([&] { return !tab->IsChecking() && !tab->IsScanning() && !messages.errors.isEmpty(); }));
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_TRUE(messages.errors[0].contains("was changed")) << messages.errors[0].toStdString();
    // its titles were read again
    ASSERT_TRUE(WaitFor([&] { return tab->HasTitle() && tab->Titles()->count() == 1; }));
    EXPECT_NE(tab->Disc().Id, firstId);

    // Start now converts the new disc's title.
    form->Finish();
    ASSERT_TRUE(WaitFor([&] { return form->result() == QDialog::Accepted; }));
    auto settings = form->GetConversionSettings();
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0]->DvdTitle(), 1);
    const auto handle = ParseStreamSource(settings[0]->SourceFile());
    ASSERT_TRUE(handle.has_value());
    EXPECT_TRUE(ReleaseStream(*handle));
}

} // namespace
