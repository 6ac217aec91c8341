// What the dialog returns runs: the settings of a file with a marked range
// and a filter, and of a DVD chapter range, converted by the engine and
// checked with ffprobe.
#include "DvdSourceTab.h"
#include "FilterListPage.h"
#include "FormNewConversion.h"
#include "JobRunner.h"
#include "MediaFixtures.h"
#include "WizardTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

// Runs one task's settings as the task does: the options copied, one input,
// one output.
bool Convert(const TConversionSettings& settings, QString* error)
{
    TAVConverter converter;
    JobEvents events;
    Record(converter, events);
    converter.ConvertOptions()->Assign(settings.ConvertOptions());
    converter.SetInputFiles({settings.SourceFile()});
    converter.SetOutputFiles({settings.TargetFile()});
    converter.Start();
    if (!WaitFinished(events, 120000)) {
        *error = "the job did not finish";
        return false;
    }
    *error = converter.ErrorText();
    return events.order.contains("complete");
}

TWizardEnvironment EnvironmentOf(WizardWorld& world, int64_t start, int64_t end)
{
    TWizardEnvironment env{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}};
    env.PreviewFactory = [start, end](QWidget*) {
        auto* pane = new FakePreviewPane;
        pane->start = start;
        pane->end = end;
        return pane;
    };
    return env;
}

TEST(NewConversionJob, RunNewConversionGivesSettingsThatConvertTheMarkedRangeWithTheFilters)
{
    WizardWorld world;
    BoxRecorder messages;
    SetWizardEnvironment(EnvironmentOf(world, 500'000, 1'500'000));
    const QString source = ClipNamed(world.folder + "/in", "holiday clip.mp4");

    // The user picks the profile, adds a flip on the filter page and starts.
    TAVFilter::SetEditor([](TAVFilter& f, bool) {
        if (auto* s = qobject_cast<TVideoStdFilter*>(&f)) s->SetVerticalFilp(true);
        return true;
    });
    bool driven = false;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<TFormNewConversion*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
        form->UpdateReadiness();
        ASSERT_TRUE(form->FilterButton()->isEnabled());
        form->FilterButton()->click();
        ASSERT_TRUE(form->FilterPage()->NewFilter(TAVFilter::fkStandard));
        form->StartButton()->click();
        driven = true;
    });
    auto settings = RunNewConversion(nullptr, {source});
    TAVFilter::SetEditor(nullptr);
    ASSERT_TRUE(driven);
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0]->TargetFile(), world.outputFolder + "/holiday clip.mp4");
    EXPECT_FALSE(settings[0]->ConvertOptions()->FilterOptions()->m_videoFilters.isEmpty());

    QString error;
    ASSERT_TRUE(Convert(*settings[0], &error)) << error.toStdString();
    const ProbeResult out = Probe(settings[0]->TargetFile());
    ASSERT_TRUE(out.ok) << out.error.toStdString();
    ASSERT_NE(out.First("video"), nullptr);
    EXPECT_EQ(out.First("video")->codecName, "mpeg4");
    EXPECT_EQ(out.First("video")->width, 480);
    EXPECT_NE(out.First("audio"), nullptr);
    EXPECT_NEAR(out.duration, 1.0, 0.25);
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join('\n').toStdString();
}

TEST(NewConversionJob, CancelGivesNothing)
{
    WizardWorld world;
    SetWizardEnvironment(EnvironmentOf(world, 0, 0));
    QTimer::singleShot(0, [] {
        if (auto* form = qobject_cast<TFormNewConversion*>(QApplication::activeModalWidget()))
            form->CancelButton()->click();
    });
    EXPECT_TRUE(RunNewConversion(nullptr, {ClipNamed(world.folder, "a.mp4")}).empty());
}

TEST(NewConversionJob, DvdChapterRangeConvertsFromTheStreamTheDialogOpened)
{
    WizardWorld world;
    BoxRecorder messages;
    auto* pane = new FakePreviewPane;
    TFormNewConversion form(EnvironmentOf(world, 0, 0), pane);
    ASSERT_TRUE(form.SelectProfileByDescription("MPEG4-AVC(*.mp4)"));
    TDvdSourceTab* tab = form.DvdTab();
    tab->ListDrives = [] { return std::vector<dvd::TDvdDrive>{}; };
    form.SelectSourceTab(TFormNewConversion::tabDvd);
    tab->OpenDiscPath(DvdDiscFolder());
    ASSERT_TRUE(WaitFor([&] { return tab->HasTitle(); }));
    // title 1 (4 s in chapters at 0, 1, 2, 3 s), chapters 2 to 3: 2 s
    ASSERT_EQ(tab->Chapters()->count(), 4);
    tab->Chapters()->setCurrentIndex(1);
    emit tab->Chapters()->activated(1);
    tab->Through()->setCurrentIndex(2);
    emit tab->Through()->activated(2);
    EXPECT_EQ(tab->FirstChapter(), 2);
    EXPECT_EQ(tab->LastChapter(), 3);
    EXPECT_EQ(form.OutputPath(), world.outputFolder + "/KORVANE_DISC_1.mp4");
    form.Finish(); // the disc is checked on a worker
    ASSERT_TRUE(WaitFor([&] { return form.result() == QDialog::Accepted; }));
    auto settings = form.GetConversionSettings();
    ASSERT_EQ(settings.size(), 1u);
    QString error;
    ASSERT_TRUE(Convert(*settings[0], &error)) << error.toStdString();
    const ProbeResult out = Probe(settings[0]->TargetFile());
    ASSERT_TRUE(out.ok) << out.error.toStdString();
    // two of the four chapters (a picture group may reach over the edge)
    EXPECT_GT(out.duration, 1.8);
    EXPECT_LT(out.duration, 2.8);
    ASSERT_NE(out.First("video"), nullptr);
    EXPECT_EQ(out.First("video")->width, 320);
}

} // namespace
