// The built-in profile catalog (14 categories, 68 profiles) and the user's
// profile store, an INI file with one section "Profile" holding the custom
// audio and video profiles under indexed keys ("Description0", "FrameWidth12").
#pragma once

#include "profiles/AVProfile.h"

#include <QString>
#include <QStringList>

namespace korvane {

// "iPad", "iPhone", "Video", ... in the order the pickers list them.
const QStringList& CatalogCategories();
constexpr int kCatalogProfileCount = 68;

// Sets the list's categories and appends the 68 catalog profiles in catalog
// order. The profiles are owned by owner (the list itself when nullptr).
void BuildProfileCatalog(TAVProfileList* list, QObject* owner = nullptr);

// The store's path: the settings folder text (no trailing separator)
// immediately followed by "Profiles.ini".
QString ProfileStorePath(const QString& settingsFolderText);

// Replaces every custom audio and video profile of the list by the store's
// profiles, appended in stored order and owned by the list; disc, DV and
// image profiles stay. A missing store reads as empty. A store that exists
// but cannot be read raises EEngineError naming it, and the list is left as
// it was. Returns the number of profiles read.
int LoadProfiles(TAVProfileList* list, const QString& storePath);

// Writes every custom audio and video profile of the list, in list order,
// then "ProfileCount". Keys of the section that are not rewritten stay. The
// file is replaced atomically; a failure raises EEngineError naming it and
// leaves the previous store intact. Returns the number of profiles written.
int SaveProfiles(const TAVProfileList* list, const QString& storePath);

// Start-up: the catalog, then the store over it when the store exists.
void InitializeProfiles(TAVProfileList* list, QObject* owner, const QString& storePath);

// ---- Data of the profile editor

// "8000", "16000", "22050", "32000", "41000", "44100", "48000".
const QStringList& SampleRateChoices();
// "12.2", "32", ... "448" (kbit/s).
const QStringList& AudioBitrateChoices();
// "128", "192", ... "35000" (kbit/s).
const QStringList& VideoBitrateChoices();
// The shortest text of an audio bitrate, as stored and as the choices spell
// it ("128", "12.2").
QString AudioBitrateText(double kbits);
// The list's categories without "Images": image profiles are not editable.
QStringList EditableCategories(const TAVProfileList* list);

} // namespace korvane
