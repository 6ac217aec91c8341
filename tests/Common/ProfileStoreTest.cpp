// The built-in catalog and the user's profile store (Profiles.ini).
#include "profiles/IniFile.h"
#include "transcode/Engine.h"
#include "MediaFixtures.h"
#include "ProfileCatalog.h"

#include <QDir>
#include <QFile>
#include <QMetaProperty>
#include <QPointer>
#include <gtest/gtest.h>
#include <csignal>
#include <sys/resource.h>

using namespace korvane;
using A = TAVCustomAudioProfile;
using V = TAVCustomVideoProfile;

namespace {

QString StorePath()
{
    return ProfileStorePath(QDir(test::TempDir()).filePath("Velquist"));
}

QString ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void WriteAll(const QString& path, const QString& text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
}

QList<A*> CustomProfiles(const TAVProfileList& list)
{
    QList<A*> result;
    for (int i = 0; i < list.Count(); ++i)
        if (auto* p = qobject_cast<A*>(list.Items(i)))
            result.append(p);
    return result;
}

// Published properties by name, without the list reference.
QVariantMap PropertiesOf(const TAVProfile* profile)
{
    QVariantMap map;
    const QMetaObject* meta = profile->metaObject();
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
        const QMetaProperty prop = meta->property(i);
        if (qstrcmp(prop.name(), "ProfileList") != 0)
            map.insert(QString::fromLatin1(prop.name()), prop.read(profile));
    }
    return map;
}

TAVProfile* Find(const TAVProfileList& list, const QString& description)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Items(i)->Description() == description)
            return list.Items(i);
    return nullptr;
}

} // namespace

// ---- catalog

TEST(ProfileCatalog, CategoriesAndCountsPerCategory)
{
    TAVProfileList list;
    BuildProfileCatalog(&list);
    EXPECT_EQ(list.Categories(),
              (QStringList{"iPad", "iPhone", "Video", "Audio", "Images", "IPod", "Zune", "PSP", "Mobile",
                           "PS3", "Xbox", "Windows Mobile", "Android", "Apple TV"}));
    ASSERT_EQ(list.Count(), 68);
    const std::map<QString, int> expected = {
        {"iPad", 2}, {"iPhone", 5}, {"Video", 14}, {"Audio", 3}, {"Images", 5},
        {"IPod", 3}, {"Zune", 3},   {"PSP", 3},    {"Mobile", 3}, {"PS3", 3},
        {"Xbox", 2}, {"Windows Mobile", 7}, {"Android", 3}, {"Apple TV", 6}};
    int listed = 0;
    for (const QString& category : list.Categories()) {
        const int count = static_cast<int>(list.ProfilesOfCategory(category).size());
        EXPECT_EQ(count, expected.at(category)) << category.toStdString();
        listed += count;
    }
    EXPECT_EQ(listed, 62); // the first six rows have no category
    for (TAVProfile* p : list.ProfilesOfCategory("iPhone"))
        EXPECT_EQ(p->Category(), "IPhone");
}

TEST(ProfileCatalog, RowsInCatalogOrder)
{
    TAVProfileList list;
    BuildProfileCatalog(&list);
    const QStringList firstSix = {"TAVVcdProfile", "TAVDvProfile",   "TAVDv50Profile",
                                  "TAVDvdProfile", "TAVSVcdProfile", "TAVImageProfile"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ProfileClassName(list.Items(i)), firstSix[i]);
        EXPECT_TRUE(list.Items(i)->Category().isEmpty());
    }
    EXPECT_EQ(list.Items(5)->GetExtension(), ".bmp");
    EXPECT_EQ(list.Items(6)->Description(), "AAC Audio");
    EXPECT_EQ(list.Items(39)->Description(), "AC3 Dolby Audio");
    EXPECT_EQ(list.Items(46)->GetExtension(), "1.jpg");
    EXPECT_EQ(qobject_cast<TAVImageProfile*>(list.Items(50))->ImageType(), TAVImageProfile::tiff);
    EXPECT_EQ(list.Items(67)->Description(), "General WMV (*.wmv)");
    const QList<A*> custom = CustomProfiles(list);
    EXPECT_EQ(custom.size(), 57);
    int video = 0;
    for (A* p : custom)
        video += qobject_cast<V*>(p) ? 1 : 0;
    EXPECT_EQ(video, 54);
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.Items(i)->parent(), &list); // no owner given: the list owns them
}

TEST(ProfileCatalog, RowValues)
{
    TAVProfileList list;
    BuildProfileCatalog(&list);
    auto* gpp = qobject_cast<V*>(list.Items(38));
    ASSERT_TRUE(gpp);
    EXPECT_EQ(gpp->Description(), "3GPP");
    EXPECT_EQ(gpp->AudioEncoder(), A::AMR_NB);
    EXPECT_EQ(gpp->SampleRate(), 8000);
    EXPECT_EQ(gpp->AudioChannels(), A::mono1);
    EXPECT_DOUBLE_EQ(gpp->AudioBitrate(), 12.2);
    EXPECT_EQ(gpp->Format(), A::F_3GP);
    EXPECT_EQ(gpp->FrameSize(), V::fsQcif);
    EXPECT_EQ(gpp->FrameRate(), V::rOriginal);
    auto* phone = qobject_cast<V*>(list.Items(32));
    ASSERT_TRUE(phone);
    EXPECT_EQ(phone->Options(), (QStringList{"maxrate=1000000", "qmin=3", "qmax=5", "bufsize=4096k", "g=300"}));
    EXPECT_EQ(phone->FrameAspectRatio(), V::AR4_3);
    auto* mkv = qobject_cast<V*>(Find(list, "Matroska Video"));
    ASSERT_TRUE(mkv);
    EXPECT_EQ(mkv->FrameSize(), V::fsOriginal);
    EXPECT_EQ(qobject_cast<V*>(list.Items(40))->Options(), QStringList{"flags=bitexact"});
    EXPECT_EQ(qobject_cast<TAVTargetProfile*>(list.Items(3))->Target(), TAVTargetProfile::pal);
}

TEST(ProfileCatalog, EveryCatalogProfileApplies)
{
    TAVProfileList list;
    BuildProfileCatalog(&list);
    for (int i = 0; i < list.Count(); ++i) {
        TAVProfile* profile = list.Items(i);
        SCOPED_TRACE(profile->Description().toStdString());
        TAVConvertOptions options;
        options.m_threadCount = 0;
        ASSERT_TRUE(profile->Apply(&options));
        const TVideoOptions* v = options.VideoOptions();
        const TAudioOptions* a = options.AudioOptions();
        // every encoder a profile names exists in this build (or has a stand-in)
        for (const QString& name : {v->m_encoderVideoCodecName, a->m_encoderAudioCodecName})
            if (!name.isEmpty()) {
                EXPECT_NE(avcodec_find_encoder_by_name(EncoderAlias(name, nullptr).toUtf8().constData()), nullptr)
                    << name.toStdString();
            }
        if (!options.m_outputFormat.isEmpty()) {
            EXPECT_NE(av_guess_format(options.m_outputFormat.toUtf8().constData(), nullptr, nullptr), nullptr);
        }
        // what the profile is for ends up in the options
        if (qobject_cast<TAVCustomVideoProfile*>(profile)) {
            EXPECT_FALSE(v->m_videoDisable);
            EXPECT_FALSE(v->m_encoderVideoCodecName.isEmpty());
            EXPECT_FALSE(a->m_encoderAudioCodecName.isEmpty());
        } else if (qobject_cast<TAVCustomAudioProfile*>(profile)) {
            EXPECT_TRUE(v->m_videoDisable);
            EXPECT_FALSE(a->m_encoderAudioCodecName.isEmpty());
            EXPECT_GT(a->m_bitrate, 0);
        } else if (qobject_cast<TAVImageProfile*>(profile)) {
            EXPECT_EQ(options.m_threadCount, 1);
        } else if (qobject_cast<TAVDv50Profile*>(profile)) {
            EXPECT_EQ(v->PixelFormat, 4); // 4:2:2
        } else {
            // VCD, SVCD, DVD and DV: a container and a TV frame rate
            EXPECT_FALSE(options.m_outputFormat.isEmpty());
            EXPECT_EQ(v->FrameRate()->num(), 25);
        }
    }
}

TEST(ProfileCatalog, OwnerKeepsTheCatalogProfiles)
{
    QObject owner;
    TAVProfileList list;
    BuildProfileCatalog(&list, &owner);
    EXPECT_EQ(list.ProfilesOwnedBy(&owner).size(), 68);
}

// ---- store

TEST(ProfileStore, RoundTripOfAllCustomProfiles)
{
    const QString path = StorePath();
    TAVProfileList saved;
    BuildProfileCatalog(&saved);
    EXPECT_EQ(SaveProfiles(&saved, path), 57);

    TAVProfileList loaded;
    BuildProfileCatalog(&loaded);
    EXPECT_EQ(LoadProfiles(&loaded, path), 57);
    ASSERT_EQ(loaded.Count(), 68);
    // disc, DV and image profiles keep their places ahead of the stored ones
    for (int i = 0; i < 11; ++i)
        EXPECT_FALSE(qobject_cast<A*>(loaded.Items(i))) << i;
    const QList<A*> before = CustomProfiles(saved);
    const QList<A*> after = CustomProfiles(loaded);
    ASSERT_EQ(after.size(), 57);
    for (int i = 0; i < 57; ++i) {
        EXPECT_EQ(ProfileClassName(after[i]), ProfileClassName(before[i]));
        EXPECT_EQ(PropertiesOf(after[i]), PropertiesOf(before[i])) << before[i]->Description().toStdString();
        EXPECT_EQ(after[i]->parent(), &loaded);
    }
    // the forced 4:3 aspect is stored too
    EXPECT_EQ(qobject_cast<V*>(Find(loaded, "IPhone H264 Video"))->FrameAspectRatio(), V::AR4_3);
}

TEST(ProfileStore, KeyFormat)
{
    const QString path = StorePath();
    TAVProfileList list;
    BuildProfileCatalog(&list);
    SaveProfiles(&list, path);
    const QStringList lines = ReadAll(path).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "[Profile]");
    EXPECT_EQ(lines.last(), "ProfileCount=57");
    const QStringList first = lines.mid(1, 10);
    EXPECT_EQ(first, (QStringList{"Description0=AAC Audio", "Extension0=.mp4", "Category0=Audio", "IsVideo0=0",
                                  "SampleRate0=48000", "AudioEncoder0=0", "AudioChannels0=1", "AudioBitrate0=128",
                                  "Format0=0", "Options0="}));
    const int video = static_cast<int>(lines.indexOf("Description2=Apple TV H264 Video(320x240)"));
    ASSERT_GT(video, 0);
    EXPECT_EQ(lines.mid(video + 3, 13),
              (QStringList{"IsVideo2=1", "SampleRate2=48000", "AudioEncoder2=0", "AudioChannels2=1",
                           "AudioBitrate2=64", "Format2=0", "Options2=", "FrameWidth2=320", "FrameHeight2=240",
                           "VideoEncoder2=1", "FrameRate2=6", "VideoBitrate2=1500", "FrameAspectRatio2=0"}));
    EXPECT_TRUE(lines.contains("Description26=IPhone MPEG4 Video"));
    EXPECT_TRUE(lines.contains("Options26=maxrate=1000000,qmin=3,qmax=5,bufsize=4096k,g=300"));
    EXPECT_TRUE(lines.contains("Description32=3GPP"));
    EXPECT_TRUE(lines.contains("AudioBitrate32=12.2"));
    EXPECT_FALSE(ReadAll(path).contains("Pass"));
}

TEST(ProfileStore, OptionsWithCommasAndQuotesSurvive)
{
    const QString path = StorePath();
    TAVProfileList list;
    auto* p = new V(&list);
    p->SetProfileList(&list);
    p->SetDescription("Quoted");
    p->SetOptions({"vf=scale=1,2", "title=\"a b\"", "x=1"});
    SaveProfiles(&list, path);
    EXPECT_TRUE(ReadAll(path).contains("Options0=\"vf=scale=1,2\",\"title=\"\"a b\"\"\",x=1\n"));
    TAVProfileList back;
    LoadProfiles(&back, path);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(qobject_cast<V*>(back.Items(0))->Options(), p->Options());
}

TEST(ProfileStore, HandEditedOutOfRangeValues)
{
    const QString path = StorePath();
    WriteAll(path, "[Profile]\nProfileCount=2\n"
                   "IsVideo0=1\nDescription0=Edited\nAudioEncoder0=300\nFrameRate0=-1\nVideoBitrate0=abc\n"
                   "IsVideo1=7\nDescription1=Other\nVideoEncoder1=9\nAudioBitrate1=fast\n");
    TAVProfileList list;
    ASSERT_EQ(LoadProfiles(&list, path), 2);
    auto* edited = qobject_cast<V*>(list.Items(0));
    auto* other = qobject_cast<V*>(list.Items(1)); // any non-zero IsVideo is a video profile
    ASSERT_TRUE(edited && other);
    EXPECT_EQ(static_cast<int>(edited->AudioEncoder()), 44); // only the low byte is kept
    EXPECT_EQ(static_cast<int>(edited->FrameRate()), 255);
    EXPECT_EQ(edited->VideoBitrate(), 0);
    EXPECT_EQ(edited->FrameRateValue(), 0.0);
    EXPECT_EQ(other->AudioBitrate(), 0.0);
    for (V* profile : {edited, other}) {
        TAVConvertOptions options;
        try {
            profile->Apply(&options);
            ADD_FAILURE() << "no error for " << profile->Description().toStdString();
        } catch (const EEngineError& e) {
            EXPECT_TRUE(QString::fromStdString(e.what()).startsWith("Assertion failure (Converter/AVProfile"));
        }
        EXPECT_FALSE(options.VideoOptions()->m_videoDisable); // nothing was written
    }
}

TEST(ProfileStore, CountBoundsTheReadAndMissingKeysKeepDefaults)
{
    const QString path = StorePath();
    WriteAll(path, "[Profile]\nProfileCount=1\nDescription0=Only\nDescription1=Stale\nIsVideo1=1\n");
    TAVProfileList list;
    EXPECT_EQ(LoadProfiles(&list, path), 1);
    ASSERT_EQ(list.Count(), 1);
    auto* only = qobject_cast<A*>(list.Items(0));
    ASSERT_TRUE(only);
    EXPECT_FALSE(qobject_cast<V*>(only));
    EXPECT_EQ(only->Description(), "Only");
    EXPECT_TRUE(only->GetExtension().isEmpty());
    EXPECT_EQ(only->AudioEncoder(), A::AAC);

    WriteAll(path, "[Profile]\nProfileCount=-3\n");
    EXPECT_EQ(LoadProfiles(&list, path), 0);
    EXPECT_EQ(list.Count(), 0);
}

TEST(ProfileStore, SavingFewerLeavesHigherKeysAndForeignKeys)
{
    const QString path = StorePath();
    WriteAll(path, "[Profile]\nForeign=kept\n\n[Other]\nX=1\n");
    TAVProfileList list;
    BuildProfileCatalog(&list);
    SaveProfiles(&list, path);
    const QList<A*> custom = CustomProfiles(list);
    for (int i = 2; i < custom.size(); ++i)
        delete custom[i];
    EXPECT_EQ(SaveProfiles(&list, path), 2);
    const QString text = ReadAll(path);
    EXPECT_TRUE(text.contains("Description56="));
    EXPECT_TRUE(text.contains("Foreign=kept"));
    EXPECT_TRUE(text.contains("[Other]\nX=1"));
    EXPECT_TRUE(text.contains("ProfileCount=2"));
    TAVProfileList back;
    BuildProfileCatalog(&back);
    EXPECT_EQ(LoadProfiles(&back, path), 2);
    EXPECT_EQ(back.Count(), 13);
}

TEST(ProfileStore, MissingStoreAtStartUpKeepsTheCatalog)
{
    const QString path = StorePath();
    TAVProfileList list;
    InitializeProfiles(&list, nullptr, path);
    EXPECT_EQ(list.Count(), 68);
    EXPECT_FALSE(QFile::exists(path));
    // LoadProfiles itself reads a missing store as empty
    EXPECT_EQ(LoadProfiles(&list, path), 0);
    EXPECT_EQ(list.Count(), 11);
}

TEST(ProfileStore, StoreReplacesBuiltInCustomProfilesAtStartUp)
{
    const QString path = StorePath();
    {
        TAVProfileList list;
        BuildProfileCatalog(&list);
        delete Find(list, "Flash Video");
        auto* mine = new A(&list);
        mine->SetDescription("Mine");
        mine->SetCategory("Audio");
        mine->SetProfileList(&list);
        SaveProfiles(&list, path);
    }
    QObject owner;
    TAVProfileList list;
    InitializeProfiles(&list, &owner, path);
    EXPECT_EQ(list.Count(), 68);
    EXPECT_EQ(Find(list, "Flash Video"), nullptr);
    ASSERT_TRUE(Find(list, "Mine"));
    EXPECT_EQ(Find(list, "Mine")->parent(), &list);
    EXPECT_EQ(list.Items(67)->Description(), "Mine");
    EXPECT_EQ(list.ProfilesOwnedBy(&owner).size(), 11);
}

TEST(ProfileStore, UnreadableStoreLeavesTheListAlone)
{
    const QString path = StorePath();
    ASSERT_TRUE(QDir().mkpath(path)); // a folder where the file should be
    TAVProfileList list;
    BuildProfileCatalog(&list);
    EXPECT_THROW(LoadProfiles(&list, path), EEngineError);
    EXPECT_EQ(list.Count(), 68);
    EXPECT_THROW(SaveProfiles(&list, path), EEngineError);
}

TEST(ProfileStore, FailedWriteKeepsThePreviousStore)
{
    const QString dir = test::TempDir();
    const QString path = QDir(dir).filePath("VelquistProfiles.ini");
    TAVProfileList list;
    BuildProfileCatalog(&list);
    SaveProfiles(&list, path);
    const QString before = ReadAll(path);
    ASSERT_LT(before.size(), 60000);
    list.Items(6)->SetDescription(QString(200000, QLatin1Char('x')));
    // a file-size limit makes the write fail part way, whoever runs the test
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    bool threw = false;
    try {
        SaveProfiles(&list, path);
    } catch (const EEngineError& e) {
        threw = QString::fromStdString(e.what()).contains(path);
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"VelquistProfiles.ini"});
}

TEST(ProfileStore, StorePathIsTheFolderTextFollowedByTheFileName)
{
    EXPECT_EQ(ProfileStorePath("/home/u/.config/KorvaneSoft/Velquist"),
              "/home/u/.config/KorvaneSoft/VelquistProfiles.ini");
}

TEST(ProfileEditorData, ChoicesMatchWhatTheStoreWrites)
{
    TAVProfileList list;
    BuildProfileCatalog(&list);
    // the editor finds a catalog bitrate among its choices by text; only the
    // 256 of the transport-stream profile has no entry (shown unselected)
    QStringList unmatched;
    for (A* p : CustomProfiles(list))
        if (!AudioBitrateChoices().contains(AudioBitrateText(p->AudioBitrate())))
            unmatched.append(AudioBitrateText(p->AudioBitrate()));
    EXPECT_EQ(unmatched, QStringList{"256"});
    EXPECT_EQ(AudioBitrateText(12.2), "12.2");
    EXPECT_EQ(AudioBitrateText(128.0), "128");
    EXPECT_TRUE(SampleRateChoices().contains("41000"));
    EXPECT_FALSE(SampleRateChoices().contains("44000"));
    EXPECT_FALSE(VideoBitrateChoices().contains("1600")); // "M4V(*.m4v)" shows no selection
    EXPECT_EQ(VideoBitrateChoices().size(), 22);
    const QStringList editable = EditableCategories(&list);
    EXPECT_EQ(editable.size(), 13);
    EXPECT_FALSE(editable.contains("Images"));
    EXPECT_EQ(editable.first(), "iPad");
}
