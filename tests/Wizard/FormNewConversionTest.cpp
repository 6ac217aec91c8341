#include "FormNewConversion.h"
#include "DvdSourceTab.h"
#include "FilterListPage.h"
#include "MediaFixtures.h"
#include "WizardTestSupport.h"
#include "sources/StreamProtocol.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <gtest/gtest.h>

#include <limits>

using namespace korvane;
using namespace korvane::test;

namespace {

class NewConversion : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pane = new FakePreviewPane;
        form = std::make_unique<TFormNewConversion>(
            TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}},
            pane);
        ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
    }
    void TearDown() override { TAVFilter::SetEditor(nullptr); }

    // Finishes and returns the settings (empty when the dialog stayed open).
    std::vector<std::unique_ptr<TConversionSettings>> FinishAndCollect()
    {
        form->Finish();
        if (form->result() != QDialog::Accepted) return {};
        return form->GetConversionSettings();
    }

    BoxRecorder messages;
    WizardWorld world;
    FakePreviewPane* pane = nullptr; // owned by the form
    std::unique_ptr<TFormNewConversion> form;
};

TEST_F(NewConversion, OutputGoesToTheConfiguredFolderAndFollowsTheProfileExtension)
{
    EXPECT_EQ(form->windowTitle(), "New Conversion Wizard");
    EXPECT_FALSE(form->IsReady());
    EXPECT_FALSE(form->StartButton()->isEnabled());
    EXPECT_FALSE(form->FilterButton()->isEnabled());

    const QString source = ClipNamed(world.folder + "/somewhere/else", "a.avi");
    ASSERT_TRUE(form->ChooseSourceFiles({source}));
    EXPECT_EQ(form->OutputPath(), world.outputFolder + "/a.mp4");
    EXPECT_EQ(pane->current, source);
    EXPECT_TRUE(form->IsReady());
    EXPECT_TRUE(form->StartButton()->isEnabled());
    EXPECT_TRUE(form->FilterButton()->isEnabled());

    // Another profile changes only the extension, even of a path the user typed.
    form->SetOutputPath("/elsewhere/my name.v1.mp4");
    ASSERT_TRUE(form->SelectProfileByDescription("MP3 Audio"));
    EXPECT_EQ(form->CategoryList()->currentText(), "Audio");
    EXPECT_EQ(form->OutputPath(), "/elsewhere/my name.v1.mp3");

    // An empty output path stays empty and makes the dialog not ready.
    form->SetOutputPath("   ");
    form->UpdateReadiness();
    EXPECT_FALSE(form->StartButton()->isEnabled());
}

TEST_F(NewConversion, RefusesFilesThatAreNotMediaAndKeepsThePreviousSource)
{
    const QString good = ClipNamed(world.folder, "good.mp4");
    ASSERT_TRUE(form->ChooseSourceFiles({good}));
    const QString bad = world.folder + "/notes.avi";
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is not a video");
    f.close();
    EXPECT_FALSE(form->ChooseSourceFiles({bad}));
    EXPECT_EQ(messages.errors, QStringList{"Invalid Video/Audio File: " + bad});
    EXPECT_EQ(form->Sources(), QStringList{good});
    EXPECT_EQ(form->SourceEdit()->text(), good);

    // Among several files the bad one is named and left out; the others stay.
    const QString other = ClipNamed(world.folder, "other.mp4");
    EXPECT_TRUE(form->ChooseSourceFiles({good, bad, other}));
    EXPECT_EQ(messages.errors.last(), "Invalid Video/Audio File: " + bad);
    EXPECT_EQ(form->Sources(), (QStringList{good, other}));

    // A typed path to a missing file is not ready and stops the preview.
    form->SourceEdit()->setText(world.folder + "/missing.avi");
    emit form->SourceEdit()->textEdited(form->SourceEdit()->text());
    EXPECT_FALSE(form->IsSourceReady());
    EXPECT_TRUE(pane->current.isEmpty());
}

TEST_F(NewConversion, TimeRangeComesFromThePreviewMarks)
{
    world.configuration.PerformanceOptions()->SetThreadCount(3);
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
    auto settings = FinishAndCollect();
    ASSERT_EQ(settings.size(), 1u);
    const TAVConvertOptions* o = settings[0]->ConvertOptions();
    EXPECT_EQ(o->m_startTime, 0);
    EXPECT_EQ(o->m_recordingTime, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(o->m_threadCount, 3);
    EXPECT_TRUE(o->m_inputFormat.isEmpty());
    // the profile was applied: MPEG-4 profile writes an mp4 with 48 kHz AAC
    EXPECT_EQ(o->AudioOptions()->m_audioSampleRate, 48000);
    EXPECT_EQ(settings[0]->SourceType(), TConversionSettings::stFile);
    EXPECT_EQ(settings[0]->Profile(), "MPEG-4(*.mp4)");
    EXPECT_EQ(settings[0]->TargetFile(), world.outputFolder + "/a.mp4");
    EXPECT_EQ(settings[0]->CategoryId(), kRootCategoryId);
    EXPECT_GE(pane->stops, 1); // the preview stops before the settings are made

    auto marked = std::make_unique<TFormNewConversion>(
        TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}}, [] {
            auto* p = new FakePreviewPane;
            p->start = 10'000'000;
            p->end = 25'000'000;
            return p;
        }());
    world.configuration.PerformanceOptions()->SetThreadCount(0);
    ASSERT_TRUE(marked->ChooseSourceFiles({ClipNamed(world.folder, "b.avi")}));
    marked->Finish();
    auto ranged = marked->GetConversionSettings();
    ASSERT_EQ(ranged.size(), 1u);
    EXPECT_EQ(ranged[0]->ConvertOptions()->m_startTime, 10'000'000);
    EXPECT_EQ(ranged[0]->ConvertOptions()->m_recordingTime, 15'000'000);
    EXPECT_EQ(ranged[0]->ConvertOptions()->m_threadCount, std::max(1, QThread::idealThreadCount()));
}

TEST_F(NewConversion, EndMarkBeforeStartMarksNoRange)
{
    pane->start = 20'000'000;
    pane->end = 5'000'000;
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
    auto settings = FinishAndCollect();
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0]->ConvertOptions()->m_startTime, 20'000'000);
    EXPECT_EQ(settings[0]->ConvertOptions()->m_recordingTime, std::numeric_limits<int64_t>::max());
}

// The filter dialogs are replaced by an editor that fills known values.
void InstallFakeFilterEditor(bool answer = true)
{
    TAVFilter::SetEditor([answer](TAVFilter& filter, bool) {
        if (auto* logo = qobject_cast<TLogoFilter*>(&filter)) {
            logo->SetLogoFile("/tmp/my logo file.png");
            logo->SetX(12);
            logo->SetY(34);
        }
        if (auto* standard = qobject_cast<TVideoStdFilter*>(&filter)) standard->SetVerticalFilp(true);
        if (auto* text = qobject_cast<TOverlayTextFilter*>(&filter))
            text->setProperty("Text", "Hello, world");
        return answer;
    });
}

TEST_F(NewConversion, FiltersJoinWithACommaAndApplyFromEitherPage)
{
    InstallFakeFilterEditor();
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
    form->GoToFilters();
    ASSERT_EQ(form->CurrentPage(), TFormNewConversion::pgFilters);
    EXPECT_TRUE(form->BackButton()->isEnabled());
    TFilterListPage* page = form->FilterPage();
    EXPECT_FALSE(page->EditButton()->isEnabled());
    ASSERT_TRUE(page->NewFilter(TAVFilter::fkLogo));
    ASSERT_TRUE(page->NewFilter(TAVFilter::fkStandard));
    ASSERT_EQ(page->Count(), 2);
    EXPECT_TRUE(page->EditButton()->isEnabled());
    const QString logo = page->Filter(0)->GetFilterText();
    EXPECT_TRUE(logo.contains("/tmp/my logo file.png")) << logo.toStdString();
    const QString expected = logo + "," + page->Filter(1)->GetFilterText();
    EXPECT_EQ(form->FilterDescription(), expected);
    EXPECT_EQ(pane->filters.last(), expected);

    // From the first page the filters apply too: the preview shows them there.
    form->GoBack();
    auto fromFirst = FinishAndCollect();
    ASSERT_EQ(fromFirst.size(), 1u);
    EXPECT_EQ(fromFirst[0]->ConvertOptions()->FilterOptions()->m_videoFilters, expected);

    form->setResult(0);
    form->GoToFilters();
    auto fromFilters = FinishAndCollect();
    ASSERT_EQ(fromFilters.size(), 1u);
    EXPECT_EQ(fromFilters[0]->ConvertOptions()->FilterOptions()->m_videoFilters, expected);
}

TEST_F(NewConversion, FilterListNewCancelEditAndDelete)
{
    TFilterListPage* page = form->FilterPage();
    InstallFakeFilterEditor(false);
    EXPECT_FALSE(page->NewFilter(TAVFilter::fkLogo)); // cancelled: nothing added
    EXPECT_EQ(page->Count(), 0);
    EXPECT_TRUE(page->FilterDescription().isEmpty());
    InstallFakeFilterEditor(true);
    ASSERT_TRUE(page->NewFilter(TAVFilter::fkOverlayText));
    ASSERT_TRUE(page->NewFilter(TAVFilter::fkLogo));
    page->List()->setCurrentRow(0);
    TAVFilter::SetEditor([](TAVFilter& f, bool isNew) {
        EXPECT_FALSE(isNew);
        f.setProperty("Text", "Changed");
        return true;
    });
    EXPECT_TRUE(page->EditFilter());
    EXPECT_TRUE(page->FilterDescription().contains("Changed"));
    page->DeleteFilter();
    ASSERT_EQ(page->Count(), 1);
    EXPECT_EQ(page->Filter(0)->Kind(), TAVFilter::fkLogo);
    EXPECT_EQ(page->FilterDescription(), page->Filter(0)->GetFilterText());
}

TEST_F(NewConversion, SeveralSourcesGiveOneTaskEachInOneFolder)
{
    pane->start = 10'000'000;
    pane->end = 25'000'000;
    const QString a = ClipNamed(world.folder + "/one", "a.avi");
    const QString sameName = ClipNamed(world.folder + "/two", "a.mkv");
    const QString c = ClipNamed(world.folder + "/two", "clip.mov");
    ASSERT_TRUE(form->ChooseSourceFiles({a, sameName, c}));
    EXPECT_TRUE(pane->current.isEmpty()); // no preview for several sources
    EXPECT_EQ(form->OutputPath(), world.outputFolder + "/a.mp4");
    form->CategoryPicker()->SetCategories({{1, -1, "Converted"}, {7, 1, "Holidays"}});
    ASSERT_TRUE(form->CategoryPicker()->SetCategoryId(7));
    auto settings = FinishAndCollect();
    ASSERT_EQ(settings.size(), 3u);
    const QStringList expected{world.outputFolder + "/a.mp4", world.outputFolder + "/a (2).mp4",
                               world.outputFolder + "/clip.mp4"};
    const QStringList sources{a, sameName, c};
    for (size_t i = 0; i < settings.size(); ++i) {
        EXPECT_EQ(settings[i]->SourceFile(), sources[int(i)]);
        EXPECT_EQ(settings[i]->TargetFile(), expected[int(i)]);
        EXPECT_EQ(settings[i]->CategoryId(), 7);
        EXPECT_EQ(settings[i]->ConvertOptions()->m_startTime, 0); // marks ignored
        EXPECT_EQ(settings[i]->ConvertOptions()->m_recordingTime, std::numeric_limits<int64_t>::max());
    }
}

TEST_F(NewConversion, AnOutputThatIsTheSourceIsRefused)
{
    world.configuration.SetOutputFolder(world.folder);
    auto form2 = std::make_unique<TFormNewConversion>(
        TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}},
        new FakePreviewPane);
    ASSERT_TRUE(form2->SelectProfileByDescription("MPEG-4(*.mp4)"));
    ASSERT_TRUE(form2->ChooseSourceFiles({ClipNamed(world.folder, "same.mp4")}));
    // the source exists, so it is never proposed; typed, it is refused
    EXPECT_EQ(form2->OutputPath(), world.folder + "/same (2).mp4");
    form2->SetOutputPath(world.folder + "/same.mp4");
    form2->Finish();
    EXPECT_NE(form2->result(), QDialog::Accepted);
    ASSERT_EQ(messages.errors.size(), 1);
    EXPECT_TRUE(form2->GetConversionSettings().empty());
}

TEST_F(NewConversion, EditIsOnlyForCustomProfilesAndShowsTheEditedProfileAfterwards)
{
    ASSERT_TRUE(form->SelectProfileByDescription("JPEG Sequence"));
    EXPECT_FALSE(form->EditProfileButton()->isEnabled());
    EXPECT_TRUE(form->ProfileInformation()->text().isEmpty());
    ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
    EXPECT_TRUE(form->EditProfileButton()->isEnabled());
    EXPECT_TRUE(form->ProfileInformation()->text().contains("XVID"))
        << form->ProfileInformation()->text().toStdString();
    // a profile that names no format shows its file type, not "NONE"
    ASSERT_TRUE(form->SelectProfileByDescription("IPad H264 Video"));
    EXPECT_TRUE(form->ProfileInformation()->text().startsWith("Format: MP4    File: .mp4"))
        << form->ProfileInformation()->text().toStdString();
    ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));

    // The editor moved the profile to another category and renamed it.
    TAVProfile* edited = form->CurrentProfile();
    form->RunProfileEditor = [](TAVProfile* p) {
        p->SetCategory("android");
        p->SetDescription("Renamed");
        return p;
    };
    form->EditCurrentProfile();
    EXPECT_EQ(form->CategoryList()->currentText(), "Android");
    EXPECT_EQ(form->ProfileList()->currentText(), "Renamed");
    EXPECT_EQ(form->CurrentProfile(), edited);

    // The editor deleted every profile of the category and handed back none:
    // the dialog shows an empty list and is not ready, and nothing dangles.
    form->RunProfileEditor = [this](TAVProfile*) -> TAVProfile* {
        for (TAVProfile* p : world.profiles.ProfilesOfCategory("Android"))
            delete p;
        return nullptr;
    };
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
    form->EditCurrentProfile();
    EXPECT_EQ(form->CategoryList()->currentText(), "Android");
    EXPECT_EQ(form->ProfileList()->count(), 0);
    EXPECT_EQ(form->CurrentProfile(), nullptr);
    EXPECT_FALSE(form->IsReady());
}

TEST_F(NewConversion, CategoryChoiceListsItsProfilesInCatalogOrder)
{
    const int iphone = form->CategoryList()->findText("iPhone");
    ASSERT_GE(iphone, 0);
    form->SelectCategory(iphone);
    EXPECT_EQ(form->ProfileList()->count(), 5);
    EXPECT_EQ(form->ProfileList()->currentIndex(), 0);
    EXPECT_EQ(form->CurrentProfile(), world.profiles.ProfilesOfCategory("IPhone").first());
}

TEST_F(NewConversion, DvdTabListsTitlesAndConvertsAChapterRange)
{
    const QString disc = DvdDiscFolder();
    TDvdSourceTab* tab = form->DvdTab();
    tab->ListDrives = [] { return std::vector<dvd::TDvdDrive>{}; };
    form->SelectSourceTab(TFormNewConversion::tabDvd);
    EXPECT_FALSE(form->IsSourceReady());
    ASSERT_TRUE(WaitFor([&] { return tab->HasListedDrives(); }));
    const int entries = tab->Drives()->count();
    tab->AskDiscPath = [disc] { return disc; };
    tab->ChooseDrive(entries - 1); // "Open VIDEO_TS folder or ISO image..."
    ASSERT_TRUE(WaitFor([&] { return !tab->IsScanning() && tab->HasTitle(); }));
    ASSERT_EQ(tab->Titles()->count(), 2);
    EXPECT_EQ(tab->Titles()->itemText(0), "1(00:00:04)");
    EXPECT_EQ(tab->Titles()->itemText(1), "2(00:00:03)");
    EXPECT_EQ(tab->Chapters()->count(), 4);
    EXPECT_EQ(tab->FirstChapter(), 1);
    EXPECT_EQ(tab->LastChapter(), 4);
    EXPECT_EQ(tab->Angle(), 1);
    EXPECT_TRUE(tab->Chapters()->isEnabled());
    EXPECT_EQ(form->OutputPath(), world.outputFolder + "/KORVANE_DISC_1.mp4");
    // the preview's stream is opened on a worker and comes a moment later
    ASSERT_TRUE(WaitFor([&] { return IsStreamSource(pane->current); })) << pane->current.toStdString();
    const QString previewStream = pane->current;

    // "Through" never goes before "Chapter".
    tab->Chapters()->setCurrentIndex(2);
    emit tab->Chapters()->activated(2);
    tab->Through()->setCurrentIndex(0);
    emit tab->Through()->activated(0);
    EXPECT_EQ(tab->FirstChapter(), 3);
    EXPECT_EQ(tab->LastChapter(), 3);

    // Start checks the disc and opens the task's stream on a worker.
    form->Finish();
    ASSERT_TRUE(WaitFor([&] { return form->result() == QDialog::Accepted; }));
    auto settings = form->GetConversionSettings();
    ASSERT_EQ(settings.size(), 1u);
    const TConversionSettings& s = *settings[0];
    EXPECT_EQ(s.SourceType(), TConversionSettings::stDvd);
    EXPECT_EQ(s.DvdDriver(), disc);
    EXPECT_EQ(s.DvdTitle(), 1);
    EXPECT_EQ(s.DvdChapter(), 3);
    EXPECT_EQ(s.DvdThrough(), 3);
    EXPECT_EQ(s.DvdAngle(), 1);
    EXPECT_EQ(s.DvdVolume(), "KORVANE_DISC");
    const auto handle = ParseStreamSource(s.SourceFile());
    ASSERT_TRUE(handle.has_value());
    EXPECT_NE(s.SourceFile(), previewStream);

    // Closing the dialog frees the preview's streams, never the task's.
    form.reset();
    EXPECT_FALSE(IsStreamRegistered(*ParseStreamSource(previewStream)));
    EXPECT_TRUE(IsStreamRegistered(*handle));
    EXPECT_TRUE(ReleaseStream(*handle));
}

TEST_F(NewConversion, DvdThatCannotBeOpenedIsReported)
{
    TDvdSourceTab* tab = form->DvdTab();
    tab->ListDrives = [] { return std::vector<dvd::TDvdDrive>{}; };
    form->SelectSourceTab(TFormNewConversion::tabDvd);
    int rejected = 0;
    QObject::connect(form.get(), &QDialog::rejected, [&] { ++rejected; });
    tab->OpenDiscPath(world.folder); // no VIDEO_TS in it
    EXPECT_TRUE(tab->IsScanning());
    EXPECT_FALSE(tab->Drives()->isEnabled()); // only Cancel is usable meanwhile
    EXPECT_FALSE(form->StartButton()->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return !tab->IsScanning(); }));
    EXPECT_EQ(messages.errors, QStringList{"Can not open DVD"});
    EXPECT_FALSE(tab->HasTitle());
    EXPECT_TRUE(tab->Drives()->isEnabled());
    EXPECT_FALSE(form->IsReady());
    form->reject();
    EXPECT_EQ(rejected, 1);
}

} // namespace
