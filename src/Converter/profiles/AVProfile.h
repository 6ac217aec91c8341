// Output profiles: named recipes that fill a conversion's options tree
// (encoders, container, frame size and rate, bitrates, sample rate, channels,
// extra encoder options) for one target, and the list that holds them with
// the ordered category names.
//
//   TAVProfile (abstract)
//     TAVTargetProfile (TV standard)  -> TAVVcdProfile, TAVSVcdProfile,
//                                        TAVDvdProfile, TAVDvProfile, TAVDv50Profile
//     TAVImageProfile
//     TAVX264Profile                  (transient only, never listed)
//     TAVCustomAudioProfile -> TAVCustomVideoProfile
//   TAVProfileList
//
// Apply only adds to what the caller prepared in the options; it never reads
// the source media. Enumerations have a one-byte underlying type because the
// profile store keeps only the low byte of each; a value outside its
// enumeration (a hand-edited store) is refused by Apply with
// "Assertion failure" before anything is written.
#pragma once

#include "options/ConvertOptions.h"

#include <QList>
#include <QStringList>
#include <array>
#include <functional>

namespace korvane {

class TAVProfile;
class TIniFile;

// The profiles in their order, and the ordered category names. A profile's
// category matches a category name without regard to case.
class TAVProfileList : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(QStringList Categories READ Categories WRITE SetCategories)
public:
    explicit TAVProfileList(QObject* owner = nullptr);
    // Frees every profile still listed, last first, whoever owns it.
    ~TAVProfileList() override;

    QStringList Categories() const { return m_categories; }
    void SetCategories(const QStringList& value) { m_categories = value; }

    int Count() const { return static_cast<int>(m_items.size()); }
    // nullptr outside 0..Count-1.
    TAVProfile* Items(int index) const { return m_items.value(index); }
    int IndexOf(const TAVProfile* profile) const;
    // The listed profiles whose QObject owner is root, in list order.
    QList<TAVProfile*> ProfilesOwnedBy(const QObject* root) const;

    // Moves a listed profile to newIndex clamped to 0..Count-1.
    void MoveProfile(TAVProfile* profile, int newIndex);
    // Frees every custom audio and video profile, from the last to the first;
    // disc, DV and image profiles stay in their places.
    void RemoveCustomProfiles();

    // Index in Categories of name, without regard to case; -1 when absent.
    int IndexOfCategory(const QString& name) const;
    // Listed profiles whose Category equals category without regard to case.
    QList<TAVProfile*> ProfilesOfCategory(const QString& category) const;

private:
    friend class TAVProfile;
    void Attach(TAVProfile* profile) { m_items.append(profile); }
    void Detach(TAVProfile* profile) { m_items.removeOne(profile); }

    QStringList m_categories;
    QList<TAVProfile*> m_items; // not owned: the QObject owner frees them
};

class TAVProfile : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(QString Description READ Description WRITE SetDescription)
    Q_PROPERTY(QString Extension READ GetExtension WRITE SetExtension)
    Q_PROPERTY(QString Category READ Category WRITE SetCategory)
    Q_PROPERTY(korvane::TAVProfileList* ProfileList READ ProfileList WRITE SetProfileList STORED false)
public:
    explicit TAVProfile(QObject* owner = nullptr) : TPersistent(owner) {}
    // Unlists the profile.
    ~TAVProfile() override;

    QString Description() const { return m_description; }
    void SetDescription(const QString& value) { m_description = value; }
    // Text that replaces the output file's extension, dot included (".mp4";
    // image sequences "1.jpg").
    virtual QString GetExtension() const { return m_extension; }
    virtual void SetExtension(const QString& value) { m_extension = value; }
    QString Category() const { return m_category; }
    void SetCategory(const QString& value) { m_category = value; }

    TAVProfileList* ProfileList() const { return m_profileList; }
    // Leaves the old list and is appended to the new one; nullptr only leaves.
    void SetProfileList(TAVProfileList* list);
    // Position in its list; -1 when not listed.
    int Index() const { return m_profileList ? m_profileList->IndexOf(this) : -1; }

    // Profile store keys of this profile: the key name followed by index.
    virtual void SaveToIni(TIniFile& ini, int index) const;
    // Missing keys and values that are not numbers keep the current values.
    virtual void LoadFromIni(const TIniFile& ini, int index);
    // Fills options for this profile's target; true when applied.
    virtual bool Apply(TAVConvertOptions* options) = 0;

    // Copies the published properties of a profile of the same class; the
    // copy keeps its own list membership.
    void Assign(const TPersistent* source) override;

private:
    QString m_description;
    QString m_extension;
    QString m_category;
    TAVProfileList* m_profileList = nullptr;
};

// The profile store's single section.
inline const QString kProfileSection = QStringLiteral("Profile");

// Raises EEngineError "Assertion failure (Converter/AVProfile, line N)".
[[noreturn]] void ProfileAssertionFailure(int line);

// ---- Registration by class name ("TAVVcdProfile", ...)

using TProfileCreator = std::function<TAVProfile*(QObject* owner)>;
// The eight listed classes are registered on first use; this adds or replaces one.
void RegisterProfileClass(const QString& className, TProfileCreator creator);
bool IsProfileClassRegistered(const QString& className);
// nullptr when the name is not registered.
TAVProfile* CreateProfile(const QString& className, QObject* owner = nullptr);
// The class name without namespace, as registered ("TAVDvdProfile").
QString ProfileClassName(const TAVProfile* profile);

// ---- Disc and DV targets

class TAVTargetProfile : public TAVProfile
{
    Q_OBJECT
public:
    enum TAVTarget : quint8 { pal, ntsc, film };
    Q_ENUM(TAVTarget)
private:
    Q_PROPERTY(TAVTarget Target READ Target WRITE SetTarget)
public:
    explicit TAVTargetProfile(QObject* owner = nullptr) : TAVProfile(owner) {}
    TAVTarget Target() const { return m_target; }
    void SetTarget(TAVTarget value) { m_target = value; }

protected:
    // Raises "Assertion failure" for a Target outside the enumeration.
    void CheckTarget() const;
    // pal: frame size palWidth x palHeight and "g=15" appended; ntsc and film:
    // the NTSC size and "g=18" appended (appended even when a "g" line exists).
    void ApplyFrameSizeAndGop(TAVConvertOptions* options, int width, int palHeight, int ntscHeight) const;
    // pal 25/1, ntsc 30000/1001, film 24000/1001.
    void ApplyStandardFrameRate(TAVConvertOptions* options) const;

private:
    TAVTarget m_target = pal;
};

class TAVVcdProfile : public TAVTargetProfile
{
    Q_OBJECT
public:
    explicit TAVVcdProfile(QObject* owner = nullptr);
    bool Apply(TAVConvertOptions* options) override;
};

class TAVSVcdProfile : public TAVTargetProfile
{
    Q_OBJECT
public:
    explicit TAVSVcdProfile(QObject* owner = nullptr);
    bool Apply(TAVConvertOptions* options) override;
};

class TAVDvdProfile : public TAVTargetProfile
{
    Q_OBJECT
public:
    explicit TAVDvdProfile(QObject* owner = nullptr);
    bool Apply(TAVConvertOptions* options) override;
};

class TAVDvProfile : public TAVTargetProfile
{
    Q_OBJECT
public:
    explicit TAVDvProfile(QObject* owner = nullptr);
    bool Apply(TAVConvertOptions* options) override;
};

// Sets only the pixel format and the frame rate.
class TAVDv50Profile : public TAVTargetProfile
{
    Q_OBJECT
public:
    explicit TAVDv50Profile(QObject* owner = nullptr);
    bool Apply(TAVConvertOptions* options) override;
};

// ---- Image sequences

class TAVImageProfile : public TAVProfile
{
    Q_OBJECT
public:
    enum TAVImageType : quint8 { bitmap, jpeg, png, gif, tiff };
    Q_ENUM(TAVImageType)
private:
    // Informational: the extension ("1.jpg") carries the image kind.
    Q_PROPERTY(TAVImageType ImageType READ ImageType WRITE SetImageType)
public:
    explicit TAVImageProfile(QObject* owner = nullptr);
    TAVImageType ImageType() const { return m_imageType; }
    void SetImageType(TAVImageType value) { m_imageType = value; }
    // ThreadCount = 1, nothing else.
    bool Apply(TAVConvertOptions* options) override;

private:
    TAVImageType m_imageType = bitmap;
};

// ---- H.264 encoder presets (used by custom video profiles, never listed)

class TAVX264Profile : public TAVProfile
{
    Q_OBJECT
public:
    enum TPreset : quint8 {
        basic, FastFirstPass, SlowFirstPass, Common, HighQuality, Best,
        LosslessFast, LosslessMedium, LosslessSlow, LosslessSlower, LosslessMax
    };
    Q_ENUM(TPreset)
private:
    Q_PROPERTY(TPreset preset READ preset WRITE setPreset)
public:
    explicit TAVX264Profile(QObject* owner = nullptr);
    TPreset preset() const { return m_preset; }
    void setPreset(TPreset value) { m_preset = value; }
    // Sets the preset's codec options through SetCodecOption, replacing lines
    // of the same name; a preset beyond LosslessMax sets nothing.
    bool Apply(TAVConvertOptions* options) override;

private:
    TPreset m_preset = basic;
};

// ---- User-editable profiles

class TAVCustomAudioProfile : public TAVProfile
{
    Q_OBJECT
public:
    enum TCustomAudioEncoder : quint8 { AAC, WMAV2, AC3, MP2, MP3, PCM_S16LE, RA1, AMR_NB };
    Q_ENUM(TCustomAudioEncoder)
    enum TCustomAVFormat : quint8 {
        F_NONE, F_RM, F_MP4, F_ASF, F_AVI, F_3GP, F_3GP2, F_FLV, F_MOV,
        F_PSP, F_IPOD, F_SVCD, F_VCD, F_VOB, F_DVD, F_WEBM, F_AC3
    };
    Q_ENUM(TCustomAVFormat)
    enum TCustomAudioChannels : quint8 { mono1, stereo2 };
    Q_ENUM(TCustomAudioChannels)
private:
    Q_PROPERTY(int SampleRate READ SampleRate WRITE SetSampleRate)
    Q_PROPERTY(TCustomAudioEncoder AudioEncoder READ AudioEncoder WRITE SetAudioEncoder)
    Q_PROPERTY(TCustomAudioChannels AudioChannels READ AudioChannels WRITE SetAudioChannels)
    Q_PROPERTY(double AudioBitrate READ AudioBitrate WRITE SetAudioBitrate)
    Q_PROPERTY(TCustomAVFormat Format READ Format WRITE SetFormat)
    Q_PROPERTY(QStringList Options READ Options WRITE SetOptions)
public:
    explicit TAVCustomAudioProfile(QObject* owner = nullptr) : TAVProfile(owner) {}

    int SampleRate() const { return m_sampleRate; }
    void SetSampleRate(int value) { m_sampleRate = value; }
    TCustomAudioEncoder AudioEncoder() const { return m_audioEncoder; }
    void SetAudioEncoder(TCustomAudioEncoder value) { m_audioEncoder = value; }
    TCustomAudioChannels AudioChannels() const { return m_audioChannels; }
    void SetAudioChannels(TCustomAudioChannels value) { m_audioChannels = value; }
    // kbit/s, fractions allowed (12.2).
    double AudioBitrate() const { return m_audioBitrate; }
    void SetAudioBitrate(double value) { m_audioBitrate = value; }
    TCustomAVFormat Format() const { return m_format; }
    void SetFormat(TCustomAVFormat value) { m_format = value; }
    // Extra encoder options, one "name=value" per line.
    QStringList Options() const { return m_options; }
    void SetOptions(const QStringList& value) { m_options = value; }

    void SaveToIni(TIniFile& ini, int index) const override;
    void LoadFromIni(const TIniFile& ini, int index) override;
    // Disables video and subtitles; with audio stream copy already set it
    // stops there. Otherwise sets encoder, container, bitrate, sample rate,
    // channels, then each Options line through SetCodecOption.
    bool Apply(TAVConvertOptions* options) override;

protected:
    // Refuses, before anything is written, every enumeration value outside
    // its type that Apply would use on these options.
    virtual void CheckEnumerations(const TAVConvertOptions* options) const;

private:
    int m_sampleRate = 0;
    TCustomAudioEncoder m_audioEncoder = AAC;
    TCustomAudioChannels m_audioChannels = mono1;
    double m_audioBitrate = 0.0;
    TCustomAVFormat m_format = F_NONE;
    QStringList m_options;
};

class TAVCustomVideoProfile : public TAVCustomAudioProfile
{
    Q_OBJECT
public:
    enum TCustomVideoEncoder : quint8 { H263, H264, MPEG4, WMV2, MPEG2VIDEO, MSMPEGV3, RV20, XVID, FLV };
    Q_ENUM(TCustomVideoEncoder)
    enum TCustomFrameRate : quint8 { rOriginal, r1499, r20, r2397, r24, r25, r2997, r30 };
    Q_ENUM(TCustomFrameRate)
    enum TAVAspectRatio : quint8 { AR_NONE, AR4_3 };
    Q_ENUM(TAVAspectRatio)
    enum TAVFrameSize : quint8 {
        fsOriginal, fsNtsc, fsPal, fsQntsc, fsIPaq, fsPsp, fsSpal, fsIPhoneWide, fsIPhone,
        fsSqcif, fsQcif, fsCif, fs4cif, fs16cif, fsQqvga, fsQvga, fsVga, fsSvga, fsXga,
        fsUxga, fsQxga, fsSxga, fsQsxga, fsHsxga, fsWvga, fsWxga, fsWsxga, fsWuxga, fsWoxga,
        fsWqsxga, fsWquxga, fsWhsxga, fsWhuxga, fsCga, fsEga, fsHd480, fsHd720, fsHd1080, fsMceHd
    };
    Q_ENUM(TAVFrameSize)
private:
    Q_PROPERTY(int FrameWidth READ FrameWidth WRITE SetFrameWidth)
    Q_PROPERTY(int FrameHeight READ FrameHeight WRITE SetFrameHeight)
    Q_PROPERTY(TCustomVideoEncoder VideoEncoder READ VideoEncoder WRITE SetVideoEncoder)
    Q_PROPERTY(TCustomFrameRate FrameRate READ FrameRate WRITE SetFrameRate)
    Q_PROPERTY(int VideoBitrate READ VideoBitrate WRITE SetVideoBitrate)
    Q_PROPERTY(int Pass READ Pass WRITE SetPass)
    Q_PROPERTY(TAVAspectRatio FrameAspectRatio READ FrameAspectRatio WRITE SetFrameAspectRatio)
    Q_PROPERTY(TAVFrameSize FrameSize READ FrameSize)
public:
    explicit TAVCustomVideoProfile(QObject* owner = nullptr) : TAVCustomAudioProfile(owner) {}

    // 0 or less keeps the converter's width / height.
    int FrameWidth() const { return m_frameWidth; }
    void SetFrameWidth(int value) { m_frameWidth = value; }
    int FrameHeight() const { return m_frameHeight; }
    void SetFrameHeight(int value) { m_frameHeight = value; }
    TCustomVideoEncoder VideoEncoder() const { return m_videoEncoder; }
    void SetVideoEncoder(TCustomVideoEncoder value) { m_videoEncoder = value; }
    TCustomFrameRate FrameRate() const { return m_frameRate; }
    void SetFrameRate(TCustomFrameRate value) { m_frameRate = value; }
    // kbit/s.
    int VideoBitrate() const { return m_videoBitrate; }
    void SetVideoBitrate(int value) { m_videoBitrate = value; }
    int Pass() const { return m_pass; }
    void SetPass(int value) { m_pass = value; }
    TAVAspectRatio FrameAspectRatio() const { return m_frameAspectRatio; }
    void SetFrameAspectRatio(TAVAspectRatio value) { m_frameAspectRatio = value; }
    // First row of the frame-size table with this width and height;
    // fsOriginal when none matches. No setter: set width and height.
    TAVFrameSize FrameSize() const;
    // The number the frame rate's display name spells (29.97 for r2997);
    // 0 for rOriginal and for a value outside the enumeration.
    double FrameRateValue() const;

    void SaveToIni(TIniFile& ini, int index) const override;
    void LoadFromIni(const TIniFile& ini, int index) override;
    // The audio part first (with its early stop on audio stream copy), then
    // video enabled, encoder, size, bitrate, aspect, pass and rate.
    bool Apply(TAVConvertOptions* options) override;

protected:
    void CheckEnumerations(const TAVConvertOptions* options) const override;

private:
    void ApplyVideoEncoder(TAVConvertOptions* options) const;

    int m_frameWidth = 0;
    int m_frameHeight = 0;
    TCustomVideoEncoder m_videoEncoder = H263;
    TCustomFrameRate m_frameRate = rOriginal;
    int m_videoBitrate = 0;
    int m_pass = 0;
    TAVAspectRatio m_frameAspectRatio = AR_NONE;
};

// ---- Display names (profile editor, destination information). Each list
// is indexed by the enumeration's value; use value() to get an empty text
// for a value outside it.

const QStringList& VideoEncoderNames(); // "H263", "H264", ...
const QStringList& AudioEncoderNames(); // "AAC", "WMAV2", ...
const QStringList& FormatNames();       // "NONE", "RM", ...
const QStringList& FrameRateNames();    // "Original", "14.99", ...
const QStringList& ChannelNames();      // "mono", "stereo"

struct TFrameSizeInfo
{
    TAVCustomVideoProfile::TAVFrameSize value;
    const char* label; // "wvga(852x480)"
    int width;
    int height;
};
constexpr int kFrameSizeCount = 39;
// Indexed by TAVFrameSize.
const std::array<TFrameSizeInfo, kFrameSizeCount>& FrameSizeTable();
// fsOriginal when no row has this size; the first row wins (852x480 is fsWvga).
TAVCustomVideoProfile::TAVFrameSize FrameSizeOf(int width, int height);

} // namespace korvane
