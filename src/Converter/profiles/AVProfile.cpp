// The profile list, the profile base class, registration by class name and
// the display tables. The Apply of each class lives in AVProfileTargets.cpp
// and AVProfileCustom.cpp.
#include "profiles/AVProfile.h"

#include "profiles/IniFile.h"

#include <QMutex>
#include <QMutexLocker>
#include <map>

namespace korvane {

void ProfileAssertionFailure(int line)
{
    throw EEngineError(QStringLiteral("Assertion failure (Converter/AVProfile, line %1)").arg(line).toStdString());
}

// ---- TAVProfileList

TAVProfileList::TAVProfileList(QObject* owner) : TPersistent(owner) {}

TAVProfileList::~TAVProfileList()
{
    // each profile unlists itself when destroyed, so the list shrinks
    while (!m_items.isEmpty())
        delete m_items.last();
}

int TAVProfileList::IndexOf(const TAVProfile* profile) const
{
    return static_cast<int>(m_items.indexOf(const_cast<TAVProfile*>(profile)));
}

QList<TAVProfile*> TAVProfileList::ProfilesOwnedBy(const QObject* root) const
{
    QList<TAVProfile*> result;
    for (TAVProfile* profile : m_items)
        if (profile->parent() == root)
            result.append(profile);
    return result;
}

void TAVProfileList::MoveProfile(TAVProfile* profile, int newIndex)
{
    const int current = IndexOf(profile);
    if (current < 0)
        return;
    const int target = std::clamp(newIndex, 0, Count() - 1);
    if (target != current)
        m_items.move(current, target);
}

void TAVProfileList::RemoveCustomProfiles()
{
    for (int i = Count() - 1; i >= 0; --i)
        if (qobject_cast<TAVCustomAudioProfile*>(m_items[i]))
            delete m_items[i];
}

int TAVProfileList::IndexOfCategory(const QString& name) const
{
    for (int i = 0; i < m_categories.size(); ++i)
        if (m_categories[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QList<TAVProfile*> TAVProfileList::ProfilesOfCategory(const QString& category) const
{
    QList<TAVProfile*> result;
    for (TAVProfile* profile : m_items)
        if (profile->Category().compare(category, Qt::CaseInsensitive) == 0)
            result.append(profile);
    return result;
}

// ---- TAVProfile

TAVProfile::~TAVProfile()
{
    SetProfileList(nullptr);
}

void TAVProfile::SetProfileList(TAVProfileList* list)
{
    if (m_profileList == list)
        return;
    if (m_profileList) {
        m_profileList->Detach(this);
        m_profileList = nullptr;
    }
    if (list) {
        list->Attach(this);
        m_profileList = list;
    }
}

void TAVProfile::Assign(const TPersistent* source)
{
    if (!SameClass(source))
        AssignError(source);
    CopyPublishedProperties(source, {"ProfileList", "FrameSize"});
}

void TAVProfile::SaveToIni(TIniFile& ini, int index) const
{
    const QString n = QString::number(index);
    ini.WriteString(kProfileSection, QStringLiteral("Description") + n, m_description);
    ini.WriteString(kProfileSection, QStringLiteral("Extension") + n, GetExtension());
    ini.WriteString(kProfileSection, QStringLiteral("Category") + n, m_category);
}

void TAVProfile::LoadFromIni(const TIniFile& ini, int index)
{
    const QString n = QString::number(index);
    m_description = ini.ReadString(kProfileSection, QStringLiteral("Description") + n, m_description);
    SetExtension(ini.ReadString(kProfileSection, QStringLiteral("Extension") + n, GetExtension()));
    m_category = ini.ReadString(kProfileSection, QStringLiteral("Category") + n, m_category);
}

// ---- Registration

namespace {

struct Registry
{
    QMutex lock;
    std::map<QString, TProfileCreator> creators;
};

template <class T>
TProfileCreator CreatorOf()
{
    return [](QObject* owner) -> TAVProfile* { return new T(owner); };
}

Registry& ProfileRegistry()
{
    static Registry* registry = [] {
        auto* r = new Registry;
        r->creators = {
            {QStringLiteral("TAVVcdProfile"), CreatorOf<TAVVcdProfile>()},
            {QStringLiteral("TAVSVcdProfile"), CreatorOf<TAVSVcdProfile>()},
            {QStringLiteral("TAVDvdProfile"), CreatorOf<TAVDvdProfile>()},
            {QStringLiteral("TAVDvProfile"), CreatorOf<TAVDvProfile>()},
            {QStringLiteral("TAVDv50Profile"), CreatorOf<TAVDv50Profile>()},
            {QStringLiteral("TAVImageProfile"), CreatorOf<TAVImageProfile>()},
            {QStringLiteral("TAVCustomAudioProfile"), CreatorOf<TAVCustomAudioProfile>()},
            {QStringLiteral("TAVCustomVideoProfile"), CreatorOf<TAVCustomVideoProfile>()},
        };
        return r;
    }();
    return *registry;
}

} // namespace

void RegisterProfileClass(const QString& className, TProfileCreator creator)
{
    Registry& registry = ProfileRegistry();
    QMutexLocker guard(&registry.lock);
    registry.creators[className] = std::move(creator);
}

bool IsProfileClassRegistered(const QString& className)
{
    Registry& registry = ProfileRegistry();
    QMutexLocker guard(&registry.lock);
    return registry.creators.count(className) != 0;
}

TAVProfile* CreateProfile(const QString& className, QObject* owner)
{
    TProfileCreator creator;
    {
        Registry& registry = ProfileRegistry();
        QMutexLocker guard(&registry.lock);
        const auto it = registry.creators.find(className);
        if (it == registry.creators.end())
            return nullptr;
        creator = it->second;
    }
    return creator(owner);
}

QString ProfileClassName(const TAVProfile* profile)
{
    if (!profile)
        return {};
    const QString name = QString::fromLatin1(profile->metaObject()->className());
    const int colon = static_cast<int>(name.lastIndexOf(QLatin1Char(':')));
    return colon < 0 ? name : name.mid(colon + 1);
}

// ---- Display names

const QStringList& VideoEncoderNames()
{
    static const QStringList names = {"H263",       "H264",     "MPEG4", "WMV2", "MPEG2VIDEO",
                                      "MSMPEGV3",   "RV20",     "XVID",  "FLV"};
    return names;
}

const QStringList& AudioEncoderNames()
{
    static const QStringList names = {"AAC", "WMAV2", "AC3", "MP2", "MP3", "PCM_S16LE", "RA1", "AMR_NB"};
    return names;
}

const QStringList& FormatNames()
{
    static const QStringList names = {"NONE", "RM",   "MP4",  "ASF", "AVI", "3GP", "3GP2", "FLV", "MOV",
                                      "PSP",  "IPOD", "SVCD", "VCD", "VOB", "DVD", "WEBM", "AC3"};
    return names;
}

const QStringList& FrameRateNames()
{
    static const QStringList names = {"Original", "14.99", "20", "23.97", "24", "25", "29.97", "30"};
    return names;
}

const QStringList& ChannelNames()
{
    static const QStringList names = {"mono", "stereo"};
    return names;
}

const std::array<TFrameSizeInfo, kFrameSizeCount>& FrameSizeTable()
{
    using V = TAVCustomVideoProfile;
    static const std::array<TFrameSizeInfo, kFrameSizeCount> table = {{
        {V::fsOriginal, "Original", 0, 0},
        {V::fsNtsc, "ntsc(720x480)", 720, 480},
        {V::fsPal, "pal(720x576)", 720, 576},
        {V::fsQntsc, "352x240", 352, 240},
        {V::fsIPaq, "240x240", 240, 240},
        {V::fsPsp, "368x208", 368, 208},
        {V::fsSpal, "spal(768x576)", 768, 576},
        {V::fsIPhoneWide, "720x406", 720, 406},
        {V::fsIPhone, "480x320", 480, 320},
        {V::fsSqcif, "sqcif(128x96)", 128, 96},
        {V::fsQcif, "qcif(176x144)", 176, 144},
        {V::fsCif, "cif(352x288)", 352, 288},
        {V::fs4cif, "4cif(704x576)", 704, 576},
        {V::fs16cif, "16cif(1408x1152)", 1408, 1152},
        {V::fsQqvga, "qqvga(160x120)", 160, 120},
        {V::fsQvga, "qvga(320x240)", 320, 240},
        {V::fsVga, "vga(640x480)", 640, 480},
        {V::fsSvga, "svga(800x600)", 800, 600},
        {V::fsXga, "xga(1024x768)", 1024, 768},
        {V::fsUxga, "uxga(1600x1200)", 1600, 1200},
        {V::fsQxga, "qxga(2048x1536)", 2048, 1536},
        {V::fsSxga, "sxga(1280x1024)", 1280, 1024},
        {V::fsQsxga, "qsxga(2560x2048)", 2560, 2048},
        {V::fsHsxga, "hsxga(5120x4096)", 5120, 4096},
        {V::fsWvga, "wvga(852x480)", 852, 480},
        {V::fsWxga, "wxga(1366x768)", 1366, 768},
        {V::fsWsxga, "wsxga(1600x1024)", 1600, 1024},
        {V::fsWuxga, "wuxga(1920x1200)", 1920, 1200},
        {V::fsWoxga, "woxga(2560x1600)", 2560, 1600},
        {V::fsWqsxga, "wqsxga(3200x2048)", 3200, 2048},
        {V::fsWquxga, "wquxga(3840x2400)", 3840, 2400},
        {V::fsWhsxga, "whsxga(6400x4096)", 6400, 4096},
        {V::fsWhuxga, "whuxga(7680x4800)", 7680, 4800},
        {V::fsCga, "cga(320x200)", 320, 200},
        {V::fsEga, "ega(640x350)", 640, 350},
        {V::fsHd480, "hd480(852x480)", 852, 480},
        {V::fsHd720, "hd720(1280x720)", 1280, 720},
        {V::fsHd1080, "hd1080(1920x1080)", 1920, 1080},
        {V::fsMceHd, "1440x1080", 1440, 1080},
    }};
    return table;
}

TAVCustomVideoProfile::TAVFrameSize FrameSizeOf(int width, int height)
{
    for (const TFrameSizeInfo& row : FrameSizeTable())
        if (row.width == width && row.height == height)
            return row.value;
    return TAVCustomVideoProfile::fsOriginal;
}

} // namespace korvane
