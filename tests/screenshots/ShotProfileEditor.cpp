#include "FormEditProfile.h"
#include "ProfileCatalog.h"
#include "ShotRegistry.h"

#include <QDir>

using namespace korvane;

namespace {

QWidget* Editor()
{
    static TAVProfileList profiles;
    if (profiles.Count() == 0)
        BuildProfileCatalog(&profiles);
    auto* editor = new TFormEditProfile(&profiles, QDir::tempPath() + "/VelquistProfiles.ini");
    for (TAVProfile* p : profiles.ProfilesOfCategory("Video"))
        if (p->Description() == "MPEG-4(*.mp4)")
            editor->OpenProfile(p);
    return editor;
}

shots::Register editor("profile-editor", [] { return Editor(); }, 400);

} // namespace
