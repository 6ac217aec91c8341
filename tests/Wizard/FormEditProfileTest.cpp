#include "FormEditProfile.h"
#include "FrameProfile.h"
#include "ProfileCatalog.h"
#include "WizardTestSupport.h"

#include <QAction>
#include <QFile>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

TAVProfile* Find(const TAVProfileList& list, const QString& description)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Items(i)->Description() == description)
            return list.Items(i);
    return nullptr;
}

QComboBox* Field(TFormEditProfile& editor, const char* name)
{
    return editor.Frame()->findChild<QComboBox*>(name);
}

void Choose(QComboBox* list, const QString& text)
{
    const int i = list->findText(text);
    ASSERT_GE(i, 0) << text.toStdString();
    list->setCurrentIndex(i);
}

TEST(ProfileEditor, OpensOnTheProfileAndSavesWhatWasEditedForTheNextStart)
{
    BoxRecorder messages;
    WizardWorld world;
    TAVProfile* m4v = Find(world.profiles, "M4V(*.m4v)");
    ASSERT_NE(m4v, nullptr);
    TFormEditProfile editor(&world.profiles, world.storePath);
    editor.OpenProfile(m4v);
    EXPECT_EQ(editor.windowTitle(), "Edit Profile");
    EXPECT_EQ(editor.Categories()->currentItem()->text(), "Video");
    EXPECT_EQ(editor.Categories()->findItems("Images", Qt::MatchExactly).size(), 0);
    EXPECT_EQ(editor.Profiles()->currentItem()->text(), "M4V(*.m4v)");
    EXPECT_EQ(editor.Profiles()->count(), 14);

    // 1600 kbit/s is not a choice: nothing is selected and the value stays
    // when another field changes.
    EXPECT_EQ(Field(editor, "VideoBitrate")->currentIndex(), -1);
    Choose(Field(editor, "AudioBitrate"), "12.2");
    auto* video = qobject_cast<TAVCustomVideoProfile*>(m4v);
    EXPECT_EQ(video->VideoBitrate(), 1600);
    EXPECT_DOUBLE_EQ(video->AudioBitrate(), 12.2);
    Choose(Field(editor, "FrameSize"), "wvga(852x480)");
    EXPECT_EQ(video->FrameWidth(), 852);
    EXPECT_EQ(video->FrameHeight(), 480);
    editor.Frame()->DescriptionEdit()->setText("  My M4V ");
    emit editor.Frame()->DescriptionEdit()->textEdited("  My M4V ");
    EXPECT_EQ(m4v->Description(), "My M4V");
    EXPECT_EQ(editor.Profiles()->currentItem()->text(), "  My M4V ");

    // A new audio profile joins the selected category; all its fields are
    // editable except the video ones.
    editor.NewAudioProfile();
    TAVProfile* fresh = editor.CurrentProfile();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Description(), "New Audio Profile");
    EXPECT_EQ(fresh->Category(), "Video");
    EXPECT_FALSE(Field(editor, "FrameSize")->isEnabled());
    EXPECT_TRUE(Field(editor, "SampleRate")->isEnabled());
    Choose(Field(editor, "SampleRate"), "22050");
    Choose(Field(editor, "AudioEncoder"), "MP3");

    editor.SaveAndExit();
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_TRUE(messages.errors.isEmpty());

    TAVProfileList reloaded;
    InitializeProfiles(&reloaded, &reloaded, world.storePath);
    auto* back = qobject_cast<TAVCustomVideoProfile*>(Find(reloaded, "My M4V"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->FrameSize(), TAVCustomVideoProfile::fsWvga);
    EXPECT_DOUBLE_EQ(back->AudioBitrate(), 12.2);
    EXPECT_EQ(back->VideoBitrate(), 1600);
    auto* audio = qobject_cast<TAVCustomAudioProfile*>(Find(reloaded, "New Audio Profile"));
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(qobject_cast<TAVCustomVideoProfile*>(audio), nullptr);
    EXPECT_EQ(audio->SampleRate(), 22050);
    EXPECT_EQ(audio->AudioEncoder(), TAVCustomAudioProfile::MP3);
}

TEST(ProfileEditor, DeletingTheCurrentProfileNeverHandsItBack)
{
    BoxRecorder messages;
    WizardWorld world;
    TFormEditProfile editor(&world.profiles, world.storePath);
    const QList<TAVProfile*> zune = world.profiles.ProfilesOfCategory("Zune");
    ASSERT_GE(zune.size(), 2);
    editor.OpenProfile(zune[1]);
    ASSERT_EQ(editor.CurrentProfile(), zune[1]);

    messages.confirmAnswer = false;
    editor.DeleteProfile();
    EXPECT_EQ(messages.confirms, QStringList{"Are you sure to delete the profile?"});
    EXPECT_EQ(editor.CurrentProfile(), zune[1]); // No keeps it

    messages.confirmAnswer = true;
    editor.DeleteProfile();
    EXPECT_EQ(editor.CurrentProfile(), zune[0]); // the entry before it
    EXPECT_EQ(world.profiles.ProfilesOfCategory("Zune").size(), zune.size() - 1);
    EXPECT_EQ(editor.Profiles()->currentRow(), 0);

    // Deleting the rest leaves no profile: none is handed back.
    while (editor.Profiles()->count() > 0)
        editor.DeleteProfile();
    EXPECT_EQ(editor.CurrentProfile(), nullptr);
    EXPECT_FALSE(editor.DeleteAction()->isEnabled());
    EXPECT_TRUE(world.profiles.ProfilesOfCategory("Zune").isEmpty());
}

TEST(ProfileEditor, OpeningWithAnImageProfileShowsNothingAndHandsItBack)
{
    WizardWorld world;
    TAVProfile* jpeg = Find(world.profiles, "JPEG Sequence");
    TFormEditProfile editor(&world.profiles, world.storePath);
    editor.OpenProfile(jpeg);
    EXPECT_EQ(editor.Categories()->currentRow(), 0);
    EXPECT_FALSE(editor.Frame()->isEnabled());
    EXPECT_EQ(editor.Frame()->Profile(), nullptr);
    EXPECT_EQ(editor.CurrentProfile(), jpeg);
    // choosing a profile makes it the current one
    editor.Profiles()->setCurrentRow(0);
    EXPECT_NE(editor.CurrentProfile(), jpeg);
    EXPECT_TRUE(editor.Frame()->isEnabled());
}

TEST(ProfileEditor, SaveFailureIsShownAndTheEditorStaysOpen)
{
    BoxRecorder messages;
    WizardWorld world;
    TFormEditProfile editor(&world.profiles, world.folder + "/no/such/folder/x/Profiles.ini");
    QFile blocker(world.folder + "/no");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where a folder is needed
    blocker.close();
    editor.OpenProfile(world.profiles.ProfilesOfCategory("Audio").first());
    editor.SaveAndExit();
    EXPECT_NE(editor.result(), QDialog::Accepted);
    EXPECT_EQ(messages.errors.size(), 1);
}

} // namespace
