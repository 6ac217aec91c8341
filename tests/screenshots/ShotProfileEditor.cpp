#include "FormEditProfile.h"
#include "ProfileCatalog.h"
#include "ShotRegistry.h"

#include <QDir>

using namespace korvane;

namespace {

QWidget* Editor()
{
    static TAVProfileList profiles;
    if (profiles.Count() == 0) BuildProfileCatalog(&profiles);
    auto* editor = new TFormEditProfile(&profiles, QDir::tempPath() + "/VelquistProfiles.ini");
    for (TAVProfile* p : profiles.ProfilesOfCategory("Video"))
        if (p->Description() == "MPEG-4(*.mp4)") editor->OpenProfile(p);
    return editor;
}

// A profile that could not convert: Save and Exit shows why at its field.
QWidget* EditorWithAProblem()
{
    static TAVProfileList profiles;
    if (profiles.Count() == 0) BuildProfileCatalog(&profiles);
    auto* editor = new TFormEditProfile(&profiles, QDir::tempPath() + "/VelquistProfilesProblem.ini");
    for (TAVProfile* p : profiles.ProfilesOfCategory("Video"))
        if (p->Description() == "MPEG-4(*.mp4)") {
            p->SetExtension(QString());
            editor->OpenProfile(p);
        }
    editor->SaveAndExit();
    return editor;
}

shots::Register problem(
    "profile-editor-problem", [] { return EditorWithAProblem(); }, 400);
shots::Register editor(
    "profile-editor", [] { return Editor(); }, 400);

} // namespace
