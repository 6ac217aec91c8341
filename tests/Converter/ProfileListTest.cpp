// Profile list membership, ordering, removal and ownership, registration by
// class name, constructor values and Assign.
#include "profiles/AVProfile.h"

#include <QPointer>
#include <gtest/gtest.h>
#include <memory>

using namespace korvane;

namespace {

QStringList Descriptions(const TAVProfileList& list)
{
    QStringList names;
    for (int i = 0; i < list.Count(); ++i)
        names.append(list.Items(i)->Description());
    return names;
}

template <class T>
T* Add(TAVProfileList& list, const QString& description, QObject* owner = nullptr)
{
    T* profile = new T(owner ? owner : &list);
    profile->SetDescription(description);
    profile->SetProfileList(&list);
    return profile;
}

} // namespace

TEST(ProfileList, MembershipFollowsTheProfileListProperty)
{
    TAVProfileList first, second;
    auto* a = Add<TAVVcdProfile>(first, "a");
    auto* b = Add<TAVCustomAudioProfile>(first, "b");
    EXPECT_EQ(a->Index(), 0);
    EXPECT_EQ(b->Index(), 1);
    a->SetProfileList(&first); // already there: no change
    EXPECT_EQ(Descriptions(first), (QStringList{"a", "b"}));
    a->SetProfileList(&second);
    EXPECT_EQ(Descriptions(first), QStringList{"b"});
    EXPECT_EQ(Descriptions(second), QStringList{"a"});
    EXPECT_EQ(a->ProfileList(), &second);
    a->SetProfileList(nullptr);
    EXPECT_EQ(second.Count(), 0);
    EXPECT_EQ(a->Index(), -1);
    EXPECT_EQ(first.Items(5), nullptr);
}

TEST(ProfileList, DestroyedProfileIsUnlisted)
{
    TAVProfileList list;
    Add<TAVDvProfile>(list, "a");
    auto* b = Add<TAVCustomVideoProfile>(list, "b");
    Add<TAVImageProfile>(list, "c");
    delete b;
    EXPECT_EQ(Descriptions(list), (QStringList{"a", "c"}));
}

TEST(ProfileList, DestroyedListFreesListedProfilesOfAnyOwner)
{
    QObject owner;
    auto list = std::make_unique<TAVProfileList>();
    QPointer<TAVProfile> listed = Add<TAVCustomAudioProfile>(*list, "listed", &owner);
    QPointer<TAVProfile> unlisted = new TAVCustomAudioProfile(&owner);
    list.reset();
    EXPECT_TRUE(listed.isNull());
    EXPECT_FALSE(unlisted.isNull());
    EXPECT_EQ(owner.children().size(), 1);
}

TEST(ProfileList, OwnerDestroyingListAndProfilesTogether)
{
    // list created before and after its profiles, both owned by one object
    for (bool listFirst : {true, false}) {
        auto owner = std::make_unique<QObject>();
        TAVProfileList* list = listFirst ? new TAVProfileList(owner.get()) : nullptr;
        auto* p1 = new TAVCustomVideoProfile(owner.get());
        auto* p2 = new TAVDvdProfile(owner.get());
        if (!list)
            list = new TAVProfileList(owner.get());
        p1->SetProfileList(list);
        p2->SetProfileList(list);
        QPointer<TAVProfileList> watch = list;
        owner.reset(); // must not touch freed profiles
        EXPECT_TRUE(watch.isNull());
    }
}

TEST(ProfileList, MoveProfileClampsTheIndex)
{
    TAVProfileList list;
    auto* a = Add<TAVVcdProfile>(list, "a");
    Add<TAVVcdProfile>(list, "b");
    auto* c = Add<TAVVcdProfile>(list, "c");
    list.MoveProfile(a, 100);
    EXPECT_EQ(Descriptions(list), (QStringList{"b", "c", "a"}));
    list.MoveProfile(c, -5);
    EXPECT_EQ(Descriptions(list), (QStringList{"c", "b", "a"}));
    list.MoveProfile(a, 1);
    EXPECT_EQ(Descriptions(list), (QStringList{"c", "a", "b"}));
    TAVVcdProfile stranger;
    list.MoveProfile(&stranger, 0);
    EXPECT_EQ(Descriptions(list), (QStringList{"c", "a", "b"}));
    EXPECT_EQ(stranger.ProfileList(), nullptr);
}

TEST(ProfileList, RemoveCustomProfilesKeepsDiscAndImageProfiles)
{
    TAVProfileList list;
    Add<TAVVcdProfile>(list, "vcd");
    QPointer<TAVProfile> audio = Add<TAVCustomAudioProfile>(list, "audio");
    Add<TAVImageProfile>(list, "image");
    QPointer<TAVProfile> video = Add<TAVCustomVideoProfile>(list, "video");
    Add<TAVDv50Profile>(list, "dv50");
    list.RemoveCustomProfiles();
    EXPECT_EQ(Descriptions(list), (QStringList{"vcd", "image", "dv50"}));
    EXPECT_TRUE(audio.isNull());
    EXPECT_TRUE(video.isNull());
}

TEST(ProfileList, CategoriesMatchWithoutRegardToCase)
{
    TAVProfileList list;
    list.SetCategories({"iPhone", "Xbox"});
    Add<TAVCustomVideoProfile>(list, "a")->SetCategory("IPhone");
    Add<TAVCustomVideoProfile>(list, "b")->SetCategory("XBox");
    Add<TAVCustomVideoProfile>(list, "c")->SetCategory("iphone");
    Add<TAVVcdProfile>(list, "d");
    EXPECT_EQ(list.IndexOfCategory("XBOX"), 1);
    EXPECT_EQ(list.IndexOfCategory("Zune"), -1);
    const QList<TAVProfile*> phones = list.ProfilesOfCategory("iPhone");
    ASSERT_EQ(phones.size(), 2);
    EXPECT_EQ(phones[0]->Description(), "a");
    EXPECT_EQ(phones[1]->Description(), "c");
    EXPECT_EQ(list.property("Categories").toStringList(), (QStringList{"iPhone", "Xbox"}));
}

TEST(ProfileList, ProfilesOwnedByFiltersByOwnerInListOrder)
{
    QObject other;
    TAVProfileList list;
    Add<TAVVcdProfile>(list, "a", &other);
    Add<TAVVcdProfile>(list, "b");
    Add<TAVVcdProfile>(list, "c", &other);
    QStringList names;
    for (TAVProfile* p : list.ProfilesOwnedBy(&other))
        names.append(p->Description());
    EXPECT_EQ(names, (QStringList{"a", "c"}));
    EXPECT_EQ(list.ProfilesOwnedBy(&list).size(), 1);
}

TEST(ProfileRegistry, CreatesTheListedClassesByName)
{
    const QStringList names = {"TAVVcdProfile",   "TAVSVcdProfile",  "TAVDvdProfile",
                               "TAVDvProfile",    "TAVDv50Profile",  "TAVImageProfile",
                               "TAVCustomAudioProfile", "TAVCustomVideoProfile"};
    for (const QString& name : names) {
        std::unique_ptr<TAVProfile> profile(CreateProfile(name));
        ASSERT_TRUE(profile) << name.toStdString();
        EXPECT_EQ(ProfileClassName(profile.get()), name);
    }
    EXPECT_EQ(CreateProfile("TAVX264Profile"), nullptr); // transient only
    EXPECT_EQ(CreateProfile("TAVProfile"), nullptr);
    EXPECT_FALSE(IsProfileClassRegistered("TAVTargetProfile"));
}

TEST(ProfileRegistry, RegisterAddsAClass)
{
    RegisterProfileClass("TestOnlyProfile", [](QObject* owner) {
        auto* p = new TAVCustomAudioProfile(owner);
        p->SetDescription("made by test");
        return p;
    });
    QObject owner;
    TAVProfile* made = CreateProfile("TestOnlyProfile", &owner);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->parent(), &owner);
    EXPECT_EQ(made->Description(), "made by test");
}

TEST(ProfileConstruction, ConstructorValues)
{
    EXPECT_EQ(TAVVcdProfile().Description(), "VCD");
    EXPECT_EQ(TAVSVcdProfile().GetExtension(), ".mpg");
    EXPECT_EQ(TAVDvdProfile().GetExtension(), ".vob");
    EXPECT_EQ(TAVDv50Profile().Description(), "DV50");
    EXPECT_EQ(TAVDvProfile().Target(), TAVTargetProfile::pal);
    TAVImageProfile image;
    EXPECT_EQ(image.Description(), "Image Sequence Profile");
    EXPECT_TRUE(image.GetExtension().isEmpty());
    EXPECT_EQ(image.ImageType(), TAVImageProfile::bitmap);
    TAVX264Profile x264;
    EXPECT_EQ(x264.Description(), "H264 Profile");
    EXPECT_EQ(x264.GetExtension(), ".mp4");
    EXPECT_EQ(x264.preset(), TAVX264Profile::basic);
    TAVCustomVideoProfile video;
    EXPECT_TRUE(video.Description().isEmpty());
    EXPECT_TRUE(video.Options().isEmpty());
    EXPECT_EQ(video.VideoEncoder(), TAVCustomVideoProfile::H263);
    EXPECT_EQ(video.AudioEncoder(), TAVCustomAudioProfile::AAC);
    EXPECT_EQ(video.AudioChannels(), TAVCustomAudioProfile::mono1);
    EXPECT_EQ(video.Pass(), 0);
    EXPECT_EQ(video.AudioBitrate(), 0.0);
}

TEST(ProfileConstruction, AssignCopiesPropertiesButNotMembership)
{
    TAVProfileList list;
    auto* source = Add<TAVCustomVideoProfile>(list, "source");
    source->SetCategory("Video");
    source->SetExtension(".mkv");
    source->SetOptions({"g=300", "qmin=3"});
    source->SetFrameWidth(852);
    source->SetFrameHeight(480);
    source->SetFrameRate(TAVCustomVideoProfile::r24);
    source->SetAudioBitrate(12.2);
    source->SetFrameAspectRatio(TAVCustomVideoProfile::AR4_3);
    TAVCustomVideoProfile copy;
    copy.Assign(source);
    EXPECT_EQ(copy.Description(), "source");
    EXPECT_EQ(copy.GetExtension(), ".mkv");
    EXPECT_EQ(copy.Options(), (QStringList{"g=300", "qmin=3"}));
    EXPECT_EQ(copy.FrameSize(), TAVCustomVideoProfile::fsWvga);
    EXPECT_EQ(copy.FrameRate(), TAVCustomVideoProfile::r24);
    EXPECT_EQ(copy.AudioBitrate(), 12.2);
    EXPECT_EQ(copy.FrameAspectRatio(), TAVCustomVideoProfile::AR4_3);
    EXPECT_EQ(copy.ProfileList(), nullptr);
    EXPECT_EQ(list.Count(), 1);
    TAVCustomAudioProfile audio;
    EXPECT_THROW(audio.Assign(source), EEngineError);
}
