// The built-in catalog and the INI profile store.
#include "ProfileCatalog.h"

#include "profiles/IniFile.h"

#include <QFileInfo>
#include <QLocale>
#include <algorithm>

namespace korvane {

namespace {

using A = TAVCustomAudioProfile;
using V = TAVCustomVideoProfile;
using I = TAVImageProfile;

enum class Kind { Vcd, SVcd, Dvd, Dv, Dv50, Image, Audio, Video };

struct CatalogRow
{
    Kind kind;
    const char* description;
    const char* extension;
    const char* category;
    I::TAVImageType imageType;
    A::TCustomAudioEncoder audioEncoder;
    int sampleRate;
    A::TCustomAudioChannels channels;
    double audioBitrate; // kbit/s
    A::TCustomAVFormat format;
    V::TCustomVideoEncoder videoEncoder;
    int width;
    int height;
    V::TCustomFrameRate frameRate;
    int videoBitrate; // kbit/s
    bool aspect4x3;
    const char* options; // comma text, or nullptr
};

constexpr CatalogRow Disc(Kind kind, const char* description, const char* extension)
{
    return {kind, description, extension, "", I::bitmap, A::AAC, 0, A::mono1, 0, A::F_NONE,
            V::H263, 0, 0, V::rOriginal, 0, false, nullptr};
}

constexpr CatalogRow Image(const char* description, const char* extension, const char* category,
                           I::TAVImageType type)
{
    return {Kind::Image, description, extension, category, type, A::AAC, 0, A::mono1, 0, A::F_NONE,
            V::H263, 0, 0, V::rOriginal, 0, false, nullptr};
}

constexpr CatalogRow Audio(const char* description, const char* extension, const char* category,
                           A::TCustomAudioEncoder encoder, int sampleRate, A::TCustomAudioChannels channels,
                           double bitrate, A::TCustomAVFormat format)
{
    return {Kind::Audio, description, extension, category, I::bitmap, encoder, sampleRate, channels, bitrate,
            format, V::H263, 0, 0, V::rOriginal, 0, false, nullptr};
}

constexpr CatalogRow Video(const char* description, const char* extension, const char* category,
                           A::TCustomAudioEncoder audioEncoder, int sampleRate, A::TCustomAudioChannels channels,
                           double audioBitrate, A::TCustomAVFormat format, V::TCustomVideoEncoder videoEncoder,
                           int width, int height, V::TCustomFrameRate rate, int videoBitrate, bool aspect4x3,
                           const char* options = nullptr)
{
    return {Kind::Video, description, extension, category, I::bitmap, audioEncoder, sampleRate, channels,
            audioBitrate, format, videoEncoder, width, height, rate, videoBitrate, aspect4x3, options};
}

// clang-format off
const CatalogRow kCatalog[] = {
    Disc(Kind::Vcd, "VCD", ".mpg"),
    Disc(Kind::Dv, "DV", ".dv"),
    Disc(Kind::Dv50, "DV50", ".dv"),
    Disc(Kind::Dvd, "DVD", ".vob"),
    Disc(Kind::SVcd, "SVCD", ".mpg"),
    Image("Image Sequence Profile", ".bmp", "", I::bitmap),
    Audio("AAC Audio", ".mp4", "Audio", A::AAC, 48000, A::stereo2, 128, A::F_NONE),
    Audio("MP3 Audio", ".mp3", "Audio", A::MP3, 48000, A::stereo2, 192, A::F_NONE),
    Video("Apple TV H264 Video(320x240)", ".mp4", "Apple TV", A::AAC, 48000, A::stereo2, 64, A::F_NONE,
          V::H264, 320, 240, V::r2997, 1500, false),
    Video("Apple TV H264 video(640x480)", ".mp4", "Apple TV", A::AAC, 48000, A::stereo2, 64, A::F_NONE,
          V::H264, 640, 480, V::r2997, 2000, false),
    Video("Apple TV H264 video(1280x720)", ".mp4", "Apple TV", A::AAC, 48000, A::stereo2, 64, A::F_NONE,
          V::H264, 1280, 720, V::r2997, 2500, false),
    Video("Apple TV MPEG-4 high quality video(640x480)", ".mp4", "Apple TV", A::AAC, 44100, A::stereo2, 128, A::F_NONE,
          V::MPEG4, 640, 480, V::r2997, 1500, false),
    Video("Apple TV MPEG-4 video(640x480)", ".mp4", "Apple TV", A::AAC, 44100, A::stereo2, 96, A::F_NONE,
          V::MPEG4, 640, 480, V::r2997, 1200, false),
    Video("Apple TV MPEG-4 low quality video(640x480)", ".mp4", "Apple TV", A::AAC, 44100, A::stereo2, 64, A::F_NONE,
          V::MPEG4, 640, 480, V::r2997, 768, false),
    Video("Zune MPEG4 Video(320x240)", ".mp4", "Zune", A::AAC, 44100, A::stereo2, 64, A::F_NONE,
          V::MPEG4, 320, 240, V::r25, 768, false),
    Video("Zune H264 Video(320x240)", ".mp4", "Zune", A::AAC, 44100, A::stereo2, 64, A::F_NONE,
          V::H264, 320, 240, V::r25, 768, false),
    Video("Zune Windows Media WMV(320x240)", ".wmv", "Zune", A::WMAV2, 48000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 320, 240, V::r25, 1500, false),
    Video("Dell Axim X51 Video", ".wmv", "Windows Mobile", A::WMAV2, 32000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 320, 240, V::r25, 768, false),
    Video("Dell Axim X51v Video", ".wmv", "Windows Mobile", A::WMAV2, 48000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 320, 240, V::r25, 1000, false),
    Video("General Pocket PC Video", ".wmv", "Windows Mobile", A::WMAV2, 32000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 320, 240, V::r25, 768, false),
    Video("General Pocket PC Video(Low Quality)", ".wmv", "Windows Mobile", A::WMAV2, 32000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 176, 144, V::r25, 384, false),
    Video("HP iPAQ hw6500", ".wmv", "Windows Mobile", A::WMAV2, 32000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 240, 240, V::r25, 384, false),
    Video("HP iPAQ hx2000/rx3000/rx1900", ".wmv", "Windows Mobile", A::WMAV2, 32000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 320, 240, V::r25, 768, false),
    Video("HP iPAQ hx4700", ".wmv", "Windows Mobile", A::WMAV2, 48000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 640, 480, V::r25, 1200, false),
    Video("PS3 1080 HD Video", ".mp4", "PS3", A::AAC, 48000, A::stereo2, 128, A::F_NONE,
          V::H264, 1920, 1080, V::r2997, 35000, false),
    Video("PS3 720p Video", ".mp4", "PS3", A::AAC, 48000, A::stereo2, 128, A::F_NONE,
          V::H264, 1280, 720, V::r2997, 15000, false),
    Video("PS3 480p Video", ".mp4", "PS3", A::AAC, 48000, A::stereo2, 80, A::F_NONE,
          V::H264, 720, 480, V::r2997, 5000, false),
    Video("PSP MPEG4 Video", ".mp4", "PSP", A::AAC, 48000, A::stereo2, 64, A::F_PSP,
          V::XVID, 368, 208, V::r2997, 512, false),
    Video("PSP AVC Video", ".mp4", "PSP", A::AAC, 48000, A::stereo2, 64, A::F_PSP,
          V::H264, 368, 208, V::r2997, 512, false),
    Video("PSP 480p Video", ".mp4", "PSP", A::AAC, 48000, A::stereo2, 80, A::F_PSP,
          V::H264, 368, 208, V::r2997, 1200, false),
    Video("IPhone H264 Video", ".mp4", "IPhone", A::AAC, 48000, A::stereo2, 128, A::F_MP4,
          V::H264, 480, 320, V::r2997, 1000, true),
    Video("IPhone H264 Television Video", ".mp4", "IPhone", A::AAC, 48000, A::stereo2, 128, A::F_MP4,
          V::H264, 640, 480, V::r2997, 1800, false),
    Video("IPhone MPEG4 Video", ".mp4", "IPhone", A::AAC, 48000, A::stereo2, 128, A::F_MP4,
          V::MPEG4, 480, 320, V::r2997, 1000, true, "maxrate=1000000,qmin=3,qmax=5,bufsize=4096k,g=300"),
    Video("IPhone MPEG4 Television Video", ".mp4", "IPhone", A::AAC, 48000, A::stereo2, 128, A::F_MP4,
          V::MPEG4, 640, 480, V::r2997, 1800, false, "maxrate=1000000,qmin=3,qmax=5,bufsize=4096k,g=300"),
    Video("IPhone MPEG4 Wide Screen Video", ".mp4", "IPhone", A::AAC, 44100, A::stereo2, 128, A::F_MP4,
          V::XVID, 720, 406, V::r2997, 1500, false, "maxrate=1000000,qmin=3,qmax=5,bufsize=4096k,g=300"),
    Video("IPod 320x240 Video", ".mp4", "IPod", A::AAC, 48000, A::stereo2, 128, A::F_IPOD,
          V::XVID, 320, 240, V::r2997, 768, true),
    Video("IPod 320x240 High Quality Video", ".mp4", "IPod", A::AAC, 48000, A::stereo2, 192, A::F_IPOD,
          V::XVID, 320, 240, V::r2997, 1000, true),
    Video("IPod 320x240 Low Quality Video", ".mp4", "IPod", A::AAC, 48000, A::stereo2, 64, A::F_IPOD,
          V::XVID, 320, 240, V::r2997, 512, true),
    Video("3GPP", ".3gp", "Mobile", A::AMR_NB, 8000, A::mono1, 12.2, A::F_3GP,
          V::H263, 176, 144, V::rOriginal, 128, false),
    Audio("AC3 Dolby Audio", ".ac3", "Audio", A::AC3, 48000, A::stereo2, 192, A::F_AC3),
    Video("3GPP2", ".3g2", "Mobile", A::AAC, 16000, A::stereo2, 32, A::F_3GP2,
          V::MPEG4, 176, 144, V::r1499, 192, false, "flags=bitexact"),
    Video("3GPP2 High Quality", ".3g2", "Mobile", A::AAC, 16000, A::stereo2, 32, A::F_3GP2,
          V::MPEG4, 320, 240, V::r1499, 384, false, "flags=bitexact"),
    Video("IPad H264 Video", ".mp4", "IPad", A::AAC, 44100, A::stereo2, 128, A::F_NONE,
          V::H264, 720, 576, V::r25, 1800, false),
    Video("IPad H264 Hiqh Quality", ".mp4", "IPad", A::AAC, 48000, A::stereo2, 160, A::F_NONE,
          V::H264, 1280, 720, V::r25, 4000, false),
    Video("Xbox360 HD H264 Video", ".mp4", "XBox", A::AAC, 48000, A::stereo2, 128, A::F_NONE,
          V::H264, 640, 480, V::r2997, 1500, false),
    Video("Xbox360 MCE HD MPEG2 Video", ".mpg", "Xbox", A::AC3, 48000, A::stereo2, 224, A::F_NONE,
          V::MPEG2VIDEO, 1440, 1080, V::r30, 8000, false),
    Image("JPEG Sequence", "1.jpg", "Images", I::jpeg),
    Image("GIF Sequence", "1.gif", "Images", I::gif),
    Image("PNG Sequence", "1.png", "Images", I::png),
    Image("BMP Sequence", "1.bmp", "Images", I::bitmap),
    Image("TIFF Sequence", "1.tif", "Images", I::tiff),
    Video("MPEG-4(*.mp4)", ".mp4", "Video", A::AAC, 48000, A::stereo2, 128, A::F_MP4,
          V::XVID, 480, 320, V::r25, 1200, false),
    Video("MPEG4-AVC(*.mp4)", ".mp4", "Video", A::AAC, 44100, A::stereo2, 64, A::F_NONE,
          V::H264, 320, 240, V::r2997, 768, false),
    Video("M4V(*.m4v)", ".m4v", "Video", A::AAC, 44100, A::stereo2, 128, A::F_NONE,
          V::H264, 320, 240, V::r2997, 1600, false),
    Video("Matroska Video", ".mkv", "Video", A::MP3, 48000, A::stereo2, 128, A::F_NONE,
          V::H264, 0, 0, V::r25, 1200, false),
    Video("DVD MPEG TS(PAL)", ".vob", "Video", A::AC3, 48000, A::stereo2, 448, A::F_DVD,
          V::MPEG2VIDEO, 720, 576, V::r25, 6000, false),
    Video("DVD MPEG2 PS(NTSC)", ".vob", "Video", A::AC3, 48000, A::stereo2, 448, A::F_DVD,
          V::MPEG2VIDEO, 720, 480, V::r2997, 6000, false),
    Video("Flash Video", ".flv", "Video", A::MP3, 44100, A::stereo2, 64, A::F_FLV,
          V::FLV, 0, 0, V::r1499, 384, false),
    Video("Apple Quicktime Video", ".mov", "Video", A::AAC, 44100, A::stereo2, 192, A::F_MOV,
          V::MPEG4, 352, 288, V::r25, 2000, false),
    Video("Normal AVI (*.avi)", ".avi", "Video", A::PCM_S16LE, 0, A::stereo2, 128, A::F_AVI,
          V::MPEG4, 480, 320, V::r25, 1200, false),
    Video("XviD (*.avi)", ".avi", "Video", A::MP3, 48000, A::stereo2, 128, A::F_AVI,
          V::XVID, 0, 0, V::r25, 1200, false),
    Video("MPEG-2 (*.mpg)", ".mpg", "Video", A::MP2, 44100, A::stereo2, 192, A::F_NONE,
          V::MPEG2VIDEO, 320, 240, V::r25, 3000, false),
    Video("ASF (*.asf)", ".asf", "Video", A::WMAV2, 48000, A::stereo2, 128, A::F_ASF,
          V::MSMPEGV3, 320, 240, V::rOriginal, 1200, false),
    Video("MTS MPEG-2 Transport Stream (*.m2ts)", ".m2ts", "Video", A::AC3, 48000, A::stereo2, 256, A::F_NONE,
          V::H264, 1440, 1080, V::r25, 8000, false),
    Video("General MPEG-4 (*.mp4)", ".mp4", "Android", A::AAC, 44100, A::stereo2, 128, A::F_NONE,
          V::MPEG4, 480, 320, V::r1499, 1200, false),
    Video("Android Flash (*.flv)", ".flv", "Android", A::MP3, 44100, A::stereo2, 64, A::F_FLV,
          V::FLV, 480, 320, V::r1499, 900, false),
    Video("Android 3gp (*.3gp)", ".3gp", "Android", A::AMR_NB, 8000, A::mono1, 12.2, A::F_NONE,
          V::H263, 352, 288, V::r1499, 256, false),
    Video("General WMV (*.wmv)", ".wmv", "Video", A::WMAV2, 48000, A::stereo2, 128, A::F_NONE,
          V::WMV2, 480, 320, V::r1499, 1200, false),
};
// clang-format on
static_assert(sizeof(kCatalog) / sizeof(kCatalog[0]) == kCatalogProfileCount);

const char* ClassNameOf(Kind kind)
{
    switch (kind) {
    case Kind::Vcd: return "TAVVcdProfile";
    case Kind::SVcd: return "TAVSVcdProfile";
    case Kind::Dvd: return "TAVDvdProfile";
    case Kind::Dv: return "TAVDvProfile";
    case Kind::Dv50: return "TAVDv50Profile";
    case Kind::Image: return "TAVImageProfile";
    case Kind::Audio: return "TAVCustomAudioProfile";
    case Kind::Video: return "TAVCustomVideoProfile";
    }
    return "";
}

void FillCustom(TAVProfile* profile, const CatalogRow& row)
{
    auto* audio = qobject_cast<TAVCustomAudioProfile*>(profile);
    if (!audio)
        return;
    audio->SetAudioEncoder(row.audioEncoder);
    audio->SetSampleRate(row.sampleRate);
    audio->SetAudioChannels(row.channels);
    audio->SetAudioBitrate(row.audioBitrate);
    audio->SetFormat(row.format);
    if (row.options)
        audio->SetOptions(FromCommaText(QString::fromLatin1(row.options)));
    auto* video = qobject_cast<TAVCustomVideoProfile*>(profile);
    if (!video)
        return;
    video->SetVideoEncoder(row.videoEncoder);
    video->SetFrameWidth(row.width);
    video->SetFrameHeight(row.height);
    video->SetFrameRate(row.frameRate);
    video->SetVideoBitrate(row.videoBitrate);
    video->SetPass(0);
    video->SetFrameAspectRatio(row.aspect4x3 ? V::AR4_3 : V::AR_NONE);
}

TAVProfile* CreateCatalogProfile(const CatalogRow& row, QObject* owner)
{
    TAVProfile* profile = CreateProfile(QString::fromLatin1(ClassNameOf(row.kind)), owner);
    Q_ASSERT(profile); // the catalog's classes are always registered
    profile->SetDescription(QString::fromUtf8(row.description));
    profile->SetExtension(QString::fromUtf8(row.extension));
    profile->SetCategory(QString::fromUtf8(row.category));
    if (auto* image = qobject_cast<TAVImageProfile*>(profile))
        image->SetImageType(row.imageType);
    FillCustom(profile, row);
    return profile; // disc and DV targets keep their constructor's pal
}

// A hand-edited count must not make the program create millions of profiles.
constexpr int kMaxStoredProfiles = 10000;

} // namespace

const QStringList& CatalogCategories()
{
    static const QStringList categories = {"iPad", "iPhone", "Video",  "Audio",          "Images",
                                           "IPod", "Zune",   "PSP",    "Mobile",         "PS3",
                                           "Xbox", "Windows Mobile", "Android", "Apple TV"};
    return categories;
}

void BuildProfileCatalog(TAVProfileList* list, QObject* owner)
{
    list->SetCategories(CatalogCategories());
    for (const CatalogRow& row : kCatalog)
        CreateCatalogProfile(row, owner ? owner : list)->SetProfileList(list);
}

QString ProfileStorePath(const QString& settingsFolderText)
{
    return settingsFolderText + QStringLiteral("Profiles.ini");
}

int LoadProfiles(TAVProfileList* list, const QString& storePath)
{
    const TIniFile ini(storePath); // raises before the list is touched
    list->RemoveCustomProfiles();
    const int stored = ini.ReadInteger(kProfileSection, QStringLiteral("ProfileCount"), 0);
    const int count = std::clamp(stored, 0, kMaxStoredProfiles);
    for (int i = 0; i < count; ++i) {
        TAVCustomAudioProfile* profile = nullptr;
        if (ini.ReadBool(kProfileSection, QStringLiteral("IsVideo") + QString::number(i), false))
            profile = new TAVCustomVideoProfile(list);
        else
            profile = new TAVCustomAudioProfile(list);
        profile->LoadFromIni(ini, i);
        profile->SetProfileList(list);
    }
    return count;
}

int SaveProfiles(const TAVProfileList* list, const QString& storePath)
{
    TIniFile ini(storePath);
    int n = 0;
    for (int i = 0; i < list->Count(); ++i) {
        if (auto* profile = qobject_cast<TAVCustomAudioProfile*>(list->Items(i))) {
            profile->SaveToIni(ini, n);
            ++n;
        }
    }
    ini.WriteInteger(kProfileSection, QStringLiteral("ProfileCount"), n);
    ini.UpdateFile();
    return n;
}

void InitializeProfiles(TAVProfileList* list, QObject* owner, const QString& storePath)
{
    BuildProfileCatalog(list, owner);
    if (QFileInfo::exists(storePath))
        LoadProfiles(list, storePath);
}

const QStringList& SampleRateChoices()
{
    static const QStringList choices = {"8000", "16000", "22050", "32000", "41000", "44100", "48000"};
    return choices;
}

const QStringList& AudioBitrateChoices()
{
    static const QStringList choices = {"12.2", "32",  "64",  "80",  "96", "112",
                                        "128",  "160", "192", "224", "448"};
    return choices;
}

const QStringList& VideoBitrateChoices()
{
    static const QStringList choices = {"128",  "192",  "256",  "384",  "512",  "640",  "768",  "900",
                                        "1000", "1200", "1500", "1800", "2000", "2500", "3000", "4000",
                                        "5000", "6000", "8000", "12000", "15000", "35000"};
    return choices;
}

QString AudioBitrateText(double kbits)
{
    return QString::number(kbits, 'g', QLocale::FloatingPointShortest);
}

QStringList EditableCategories(const TAVProfileList* list)
{
    QStringList categories = list->Categories();
    categories.removeIf([](const QString& c) { return c.compare(QStringLiteral("Images"), Qt::CaseInsensitive) == 0; });
    return categories;
}

} // namespace korvane
