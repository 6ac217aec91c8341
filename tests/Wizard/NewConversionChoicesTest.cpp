// What the user chose in the new conversion dialog stays chosen, the filters
// the preview shows are the ones converted, Start says why it is disabled,
// and the profile editor and the overlay text keep their values round trip.
#include "FilterDialogSupport.h"
#include "FilterListPage.h"
#include "FormEditProfile.h"
#include "FormNewConversion.h"
#include "FormTextFilter.h"
#include "FrameProfile.h"
#include "MediaFixtures.h"
#include "WizardTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QDropEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

class NewConversionChoices : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pane = new FakePreviewPane;
        form = std::make_unique<TFormNewConversion>(
            TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}},
            pane);
    }
    void TearDown() override { TAVFilter::SetEditor(nullptr); }

    BoxRecorder messages;
    WizardWorld world;
    FakePreviewPane* pane = nullptr;
    std::unique_ptr<TFormNewConversion> form;
};

TEST_F(NewConversionChoices, ReselectingTheCategoryKeepsTheProfileAndTabsKeepATypedOutput)
{
    ASSERT_TRUE(form->SelectProfileByDescription("M4V(*.m4v)"));
    const int category = form->CategoryList()->currentIndex();
    const int profile = form->ProfileList()->currentIndex();
    ASSERT_GT(profile, 0) << "the test needs a profile that is not the first of its category";
    emit form->CategoryList()->activated(category);
    EXPECT_EQ(form->ProfileList()->currentIndex(), profile);
    EXPECT_EQ(form->CurrentProfile()->Description(), "M4V(*.m4v)");

    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
    form->findChild<QLineEdit*>("SaveTo")->setText(world.folder + "/typed.m4v");
    emit form->findChild<QLineEdit*>("SaveTo")->textEdited(world.folder + "/typed.m4v");
    form->SelectSourceTab(TFormNewConversion::tabDvd);
    form->SelectSourceTab(TFormNewConversion::tabFile);
    EXPECT_EQ(form->OutputPath(), world.folder + "/typed.m4v");
    // New files are named after themselves in the folder the user chose.
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder + "/b", "b.avi")}));
    EXPECT_EQ(form->OutputPath(), world.folder + "/b.m4v");
}

TEST_F(NewConversionChoices, TheFiltersThePreviewShowsAreConvertedFromEitherPage)
{
    TAVFilter::SetEditor([](TAVFilter& filter, bool) {
        if (auto* standard = qobject_cast<TVideoStdFilter*>(&filter)) standard->SetVerticalFilp(true);
        return true;
    });
    ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
    form->GoToFilters();
    ASSERT_TRUE(form->FilterPage()->NewFilter(TAVFilter::fkStandard));
    const QString shown = pane->filters.last();
    ASSERT_FALSE(shown.isEmpty());
    form->GoBack(); // the preview still shows the filter
    EXPECT_EQ(pane->filters.last(), shown);
    form->Finish();
    ASSERT_EQ(form->result(), QDialog::Accepted);
    auto settings = form->GetConversionSettings();
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0]->ConvertOptions()->FilterOptions()->m_videoFilters, shown);
}

TEST_F(NewConversionChoices, ADisabledStartSaysWhyAndBrowseChoosesTheOutput)
{
    form->UpdateReadiness();
    EXPECT_FALSE(form->StartButton()->isEnabled());
    EXPECT_EQ(form->StartReasonLabel()->text(), "Choose a source file.");
    EXPECT_EQ(form->StartButton()->toolTip(), "Choose a source file.");
    form->SetSources({world.folder + "/gone.avi"});
    EXPECT_EQ(form->StartReasonLabel()->text(), "The source file gone.avi does not exist.");
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
    form->SetOutputPath("  ");
    EXPECT_EQ(form->StartReasonLabel()->text(), "Enter where to save the output.");

    QString offered;
    form->AskOutputPath = [&](const QString& current) {
        offered = current;
        return world.folder + "/picked.mp4";
    };
    form->SetOutputPath(world.outputFolder + "/x.mp4");
    form->OutputBrowseButton()->click();
    EXPECT_EQ(offered, world.outputFolder + "/x.mp4");
    EXPECT_EQ(form->OutputPath(), world.folder + "/picked.mp4");
    EXPECT_TRUE(form->StartButton()->isEnabled());
    EXPECT_TRUE(form->StartReasonLabel()->text().isEmpty());
    EXPECT_TRUE(form->StartButton()->toolTip().isEmpty());
    // a chosen output keeps its name when the profile changes, only the extension follows
    ASSERT_TRUE(form->SelectProfileByDescription("MP3 Audio"));
    EXPECT_EQ(form->OutputPath(), world.folder + "/picked.mp3");
}

TEST(FilterRoundTrip, OverlayTextKeepsItsTrailingBlankLines)
{
    TOverlayTextFilter filter;
    filter.SetText("A\r\n\r\n");
    TFormTextFilter form;
    form.LoadFrom(filter);
    form.SaveTo(filter);
    EXPECT_EQ(filter.Text().toStdString(), "A\r\n\r\n");
    filter.SetText("A\r\nB\r\n\r\n\r\n");
    form.LoadFrom(filter);
    form.SaveTo(filter);
    EXPECT_EQ(filter.Text().toStdString(), "A\r\nB\r\n\r\n\r\n");
    filter.SetText("One\r\n");
    form.LoadFrom(filter);
    EXPECT_EQ(form.Text()->toPlainText().toStdString(), "One");
}

TEST(ProfileRoundTrip, AFrameSizeOutsideTheTableSurvivesAnEdit)
{
    WizardWorld world;
    auto* video = qobject_cast<TAVCustomVideoProfile*>(world.profiles.ProfilesOfCategory("Video").first());
    ASSERT_NE(video, nullptr);
    video->SetFrameWidth(1024);
    video->SetFrameHeight(576);
    TFrameProfile frame;
    frame.ShowProfile(video);
    auto* size = frame.findChild<QComboBox*>("FrameSize");
    EXPECT_EQ(size->currentText(), "1024x576");
    auto* rate = frame.findChild<QComboBox*>("SampleRate");
    rate->setCurrentIndex(rate->findText("22050"));
    EXPECT_EQ(video->FrameWidth(), 1024);
    EXPECT_EQ(video->FrameHeight(), 576);
    // a table size chosen afterwards is written, and the extra entry goes with the next profile
    size->setCurrentIndex(size->findText("pal(720x576)"));
    EXPECT_EQ(video->FrameWidth(), 720);
    auto* other = qobject_cast<TAVCustomVideoProfile*>(world.profiles.ProfilesOfCategory("Video").at(1));
    frame.ShowProfile(other);
    EXPECT_EQ(size->findText("1024x576"), -1);
}

TEST(ProfileEditor, ProfilesThatCannotConvertAreRefusedAtTheirField)
{
    BoxRecorder messages;
    WizardWorld world;
    const QList<TAVProfile*> audio = world.profiles.ProfilesOfCategory("Audio");
    ASSERT_GE(audio.size(), 2);
    auto* first = qobject_cast<TAVCustomAudioProfile*>(audio[0]);
    ASSERT_NE(first, nullptr);
    TFormEditProfile editor(&world.profiles, world.storePath);
    editor.OpenProfile(audio[1]);

    struct Case
    {
        std::function<void()> spoil, mend;
        const char* problem;
        const char* field;
        TAVProfile* shown; // the profile the editor shows with the problem
    };
    const QString description = first->Description(), extension = first->GetExtension();
    const int rate = first->SampleRate();
    const Case cases[] = {
        {[&] { first->SetDescription(""); }, [&] { first->SetDescription(description); },
         "The profile needs a description.", "Description", first},
        {[&] { first->SetDescription(audio[1]->Description()); }, [&] { first->SetDescription(description); },
         "Another profile is already called", "Description", audio[1]},
        {[&] { first->SetExtension(""); }, [&] { first->SetExtension(extension); },
         "The profile needs a file extension.", "FileExtension", first},
        {[&] { first->SetSampleRate(-1); }, [&] { first->SetSampleRate(rate); }, "Choose a sample rate.",
         "SampleRate", first},
    };
    for (const Case& c : cases) {
        c.spoil();
        editor.SaveAndExit();
        EXPECT_NE(editor.result(), QDialog::Accepted) << c.problem;
        EXPECT_TRUE(editor.Problem()->text().contains(c.problem)) << editor.Problem()->text().toStdString();
        QWidget* focus = editor.focusWidget();
        EXPECT_TRUE(focus && focus->objectName() == c.field) << c.field;
        EXPECT_EQ(editor.Frame()->Profile(), c.shown) << c.problem;
        EXPECT_FALSE(QFile::exists(world.storePath)) << "nothing may be written";
        c.mend();
    }
    editor.SaveAndExit();
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_TRUE(editor.Problem()->text().isEmpty()) << editor.Problem()->text().toStdString();
}

} // namespace

namespace {

TEST_F(NewConversionChoices, FilterEntriesDescribeTheirSettingsAndReorderWithTheKeys)
{
    TAVFilter::SetEditor([](TAVFilter& filter, bool) {
        if (auto* s = qobject_cast<TVideoStdFilter*>(&filter)) {
            s->SetRotate(true);
            s->SetDegree(90);
            s->SetDrawBox(true);
            s->SetBX(10);
            s->SetBY(10);
            s->SetBWidth(100);
            s->SetBHeight(50);
            s->SetBColor("Red");
        }
        if (auto* t = qobject_cast<TOverlayTextFilter*>(&filter)) {
            t->SetText("Hello\r\n");
            t->SetX(5);
            t->SetY(6);
            t->SetFontSize(16);
        }
        return true;
    });
    TFilterListPage* page = form->FilterPage();
    ASSERT_TRUE(page->NewFilter(TAVFilter::fkStandard));
    ASSERT_TRUE(page->NewFilter(TAVFilter::fkOverlayText));
    EXPECT_EQ(page->List()->item(0)->text(), "Rotate 90°, box 10,10 100×50 red");
    EXPECT_EQ(page->List()->item(1)->text(), "Text \"Hello\" at 5,6, 16 pt");
    const QString standard = page->Filter(0)->GetFilterText(), text = page->Filter(1)->GetFilterText();

    // Up moves the text first: the description and the preview follow the order.
    page->List()->setCurrentRow(1);
    EXPECT_FALSE(page->DownButton()->isEnabled());
    page->UpButton()->click();
    EXPECT_EQ(page->FilterDescription(), text + "," + standard);
    EXPECT_EQ(pane->filters.last(), text + "," + standard);
    EXPECT_EQ(page->List()->currentRow(), 0);
    EXPECT_TRUE(page->List()->item(0)->text().startsWith("Text"));

    // Enter edits the selected filter, Delete removes it.
    int edits = 0;
    TAVFilter::SetEditor([&](TAVFilter&, bool isNew) {
        EXPECT_FALSE(isNew);
        ++edits;
        return true;
    });
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(page->List(), &enter);
    EXPECT_EQ(edits, 1);
    EXPECT_NE(form->result(), QDialog::Accepted) << "Enter on the list must not start the conversion";
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(page->List(), &del);
    ASSERT_EQ(page->Count(), 1);
    EXPECT_EQ(page->FilterDescription(), standard);
}

} // namespace

namespace {

TEST(NewConversionMemory, TheLastCategoryProfileAndOutputFolderAreRememberedAcrossRuns)
{
    BoxRecorder messages;
    WizardWorld world;
    TWizardEnvironment environment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}};
    const QString choices = world.folder + "/choices.ini";
    const QString folder = world.folder + "/kept here";
    QDir().mkpath(folder);
    {
        TFormNewConversion form(environment, new FakePreviewPane);
        form.RememberChoicesIn(choices);
        ASSERT_TRUE(form.SelectProfileByDescription("MP3 Audio"));
        ASSERT_TRUE(form.ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
        form.SetOutputPath(folder + "/a.mp3");
        form.Finish();
        ASSERT_EQ(form.result(), QDialog::Accepted);
    }
    TFormNewConversion again(environment, new FakePreviewPane);
    again.RememberChoicesIn(choices);
    EXPECT_EQ(again.CategoryList()->currentText(), "Audio");
    EXPECT_EQ(again.CurrentProfile()->Description(), "MP3 Audio");
    ASSERT_TRUE(again.ChooseSourceFiles({ClipNamed(world.folder, "b.avi")}));
    EXPECT_EQ(again.OutputPath(), folder + "/b.mp3");

    // Without a file nothing is remembered: the first category, the configured folder.
    TFormNewConversion plain(TWizardEnvironment{&world.profiles, &world.configuration, world.storePath,
                                                DefaultCategories(), {}},
                             new FakePreviewPane);
    EXPECT_EQ(plain.CategoryList()->currentIndex(), 0);
    EXPECT_EQ(plain.TargetFolder(), world.outputFolder);
}

} // namespace

namespace {

TEST_F(NewConversionChoices, TheEstimatedSizeFollowsTheProfileRatesAndTheSourcesPlayingTime)
{
    ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
    const auto* video = qobject_cast<const TAVCustomVideoProfile*>(form->CurrentProfile());
    ASSERT_NE(video, nullptr);
    const double kbps = video->VideoBitrate() + video->AudioBitrate();
    ASSERT_GT(kbps, 0);
    EXPECT_EQ(form->EstimatedBytes(), -1); // no source yet
    const QString a = ClipNamed(world.folder, "a.avi");
    const ProbeResult probed = Probe(a);
    ASSERT_TRUE(probed.ok);
    ASSERT_TRUE(form->ChooseSourceFiles({a}));
    ASSERT_TRUE(WaitFor([&] { return form->EstimatedBytes() > 0; }));
    const double expected = kbps * 1000 / 8 * probed.duration;
    EXPECT_NEAR(double(form->EstimatedBytes()), expected, expected * 0.05);
    EXPECT_TRUE(form->EstimateLabel()->text().startsWith("Estimated size: about ")) << form->EstimateLabel()->text().toStdString();

    // two sources play twice as long
    ASSERT_TRUE(form->ChooseSourceFiles({a, ClipNamed(world.folder + "/b", "a.avi")}));
    ASSERT_TRUE(WaitFor([&] { return form->EstimatedBytes() > 0; }));
    EXPECT_NEAR(double(form->EstimatedBytes()), 2 * expected, expected * 0.1);
}

} // namespace

namespace {

TEST_F(NewConversionChoices, ABatchIsAListFilledByFilesAndFoldersReadOffTheGuiThread)
{
    ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
    const QString folder = world.folder + "/batch";
    const QString a = ClipNamed(folder, "a.avi");
    const QString deep = ClipNamed(folder + "/sub/deeper", "b.mkv");
    QFile notes(folder + "/sub/notes.txt");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not media");
    notes.close();

    form->AddSourceFolder(folder);
    EXPECT_TRUE(form->IsReadingFolders()); // read on a worker
    form->UpdateReadiness();
    EXPECT_FALSE(form->StartButton()->isEnabled());
    EXPECT_EQ(form->StartBlockedReason(), "Reading the folder...");
    ASSERT_TRUE(WaitFor([&] { return !form->IsReadingFolders(); }));
    EXPECT_EQ(form->Sources(), (QStringList{a, deep}));
    ASSERT_EQ(form->SourceList()->count(), 2);
    EXPECT_EQ(form->SourceList()->item(1)->text(), "b.mkv");
    EXPECT_TRUE(messages.errors.isEmpty());

    // Files are added once; a bad one is named and left out.
    const QString c = ClipNamed(world.folder, "c.mov");
    form->AddSourceFiles({a, c, notes.fileName()});
    EXPECT_EQ(form->Sources(), (QStringList{a, deep, c}));
    ASSERT_EQ(messages.errors.size(), 1);
    EXPECT_TRUE(messages.errors[0].contains("notes.txt")) << messages.errors[0].toStdString();

    // Remove takes the selected entries out.
    EXPECT_FALSE(form->RemoveSourcesButton()->isEnabled());
    form->SourceList()->item(0)->setSelected(true);
    form->SourceList()->item(2)->setSelected(true);
    EXPECT_TRUE(form->RemoveSourcesButton()->isEnabled());
    form->RemoveSourcesButton()->click();
    EXPECT_EQ(form->Sources(), QStringList{deep});

    // A folder without media says so.
    QDir().mkpath(world.folder + "/empty");
    form->AddSourceFolder(world.folder + "/empty");
    ASSERT_TRUE(WaitFor([&] { return !form->IsReadingFolders(); }));
    ASSERT_EQ(messages.errors.size(), 2);
    EXPECT_TRUE(messages.errors[1].startsWith("There are no video or audio files in")) << messages.errors[1].toStdString();
    EXPECT_EQ(form->Sources(), QStringList{deep});
}

} // namespace

namespace {

TEST_F(NewConversionChoices, DroppedFoldersAddTheirMediaFilesAndDroppedFilesReplaceTheSources)
{
    const QString first = ClipNamed(world.folder, "first.avi");
    const QString inFolder = ClipNamed(world.folder + "/dropped", "x.mp4");
    auto drop = [&](const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // straight to the dialog's handler, as a drop from a file manager arrives
        static_cast<QObject*>(form.get())->event(&event);
    };
    drop({first});
    EXPECT_EQ(form->Sources(), QStringList{first});
    drop({world.folder + "/dropped"});
    ASSERT_TRUE(WaitFor([&] { return !form->IsReadingFolders(); }));
    EXPECT_EQ(form->Sources(), (QStringList{first, inFolder}));
    drop({inFolder});
    EXPECT_EQ(form->Sources(), QStringList{inFolder});
}

} // namespace

namespace {

TEST(ProfileEditor, EscWithUnsavedChangesAsksAndKeepsEditingByDefault)
{
    BoxRecorder messages;
    WizardWorld world;
    TFormEditProfile editor(&world.profiles, world.storePath);
    editor.OpenProfile(world.profiles.ProfilesOfCategory("Audio").first());
    int rejected = 0;
    QObject::connect(&editor, &QDialog::rejected, [&] { ++rejected; });

    // Nothing changed: Esc closes at once.
    editor.reject();
    EXPECT_EQ(rejected, 1);

    auto* rate = editor.Frame()->findChild<QComboBox*>("SampleRate");
    rate->setCurrentIndex(rate->findText("22050"));
    EXPECT_TRUE(editor.HasUnsavedChanges());
    // The real question, answered with Enter: its default keeps editing.
    AnswerNextDialog([](QDialog* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text(), "Save the changes to the profiles?");
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &enter);
    });
    editor.reject();
    EXPECT_EQ(rejected, 1);
    EXPECT_FALSE(QFile::exists(world.storePath));

    // Save writes the store and closes.
    AnswerNextDialog([](QDialog* d) {
        for (QAbstractButton* b : qobject_cast<QMessageBox*>(d)->buttons())
            if (b->text() == "&Save") b->click();
    });
    editor.reject();
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_TRUE(QFile::exists(world.storePath));
    EXPECT_FALSE(editor.HasUnsavedChanges());
}

} // namespace
