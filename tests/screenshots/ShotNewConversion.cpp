#include "AVFilter.h"
#include "Configuration.h"
#include "DvdSourceTab.h"
#include "FilterDialogs.h"
#include "FilterListPage.h"
#include "FormNewConversion.h"
#include "ProfileCatalog.h"
#include "ShotRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace korvane;

namespace {

TWizardEnvironment ShotEnvironment()
{
    static TAVProfileList profiles;
    static TAVConfiguration configuration;
    if (profiles.Count() == 0) {
        BuildProfileCatalog(&profiles);
        configuration.SetOutputFolder(QDir::homePath() + "/Videos/Conversion");
    }
    return {&profiles,
            &configuration,
            QDir::tempPath() + "/VelquistProfiles.ini",
            {{1, -1, "Converted"}, {2, 1, "Holidays"}, {3, 1, "Lectures"}}};
}

TFormNewConversion* SourcePage()
{
    auto* form = new TFormNewConversion(ShotEnvironment());
    form->SelectProfileByDescription("MPEG4-AVC(*.mp4)");
    form->SetSources({shots::SampleClip()});
    form->UpdateReadiness();
    return form;
}

TFormNewConversion* FilterPage()
{
    TFormNewConversion* form = SourcePage();
    form->GoToFilters();
    // The list as a user leaves it after two dialogs: a flipped, boxed
    // picture and a text overlay.
    TAVFilter::SetEditor([](TAVFilter& f, bool) {
        if (auto* s = qobject_cast<TVideoStdFilter*>(&f)) {
            s->SetHorizontalFilip(true);
            s->SetDrawBox(true);
            s->SetBX(16);
            s->SetBY(16);
            s->SetBWidth(120);
            s->SetBHeight(60);
            s->SetBColor("red");
        }
        if (auto* t = qobject_cast<TOverlayTextFilter*>(&f)) {
            t->SetText("Summer 2026");
            t->SetFontSize(24);
            t->SetX(20);
            t->SetY(200);
        }
        return true;
    });
    form->FilterPage()->NewFilter(TAVFilter::fkStandard);
    form->FilterPage()->NewFilter(TAVFilter::fkOverlayText);
    InstallFilterDialogs();
    return form;
}

// The DVD tab on the disc folder the tests author, when it was made.
TFormNewConversion* DvdPage()
{
    auto* form = new TFormNewConversion(ShotEnvironment());
    form->SelectProfileByDescription("MPEG4-AVC(*.mp4)");
    form->SelectSourceTab(TFormNewConversion::tabDvd);
    for (const QString& disc : {QStringLiteral(KORVANE_FIXTURE_DIR "/dvd-wizard/KORVANE_DISC"),
                                QStringLiteral(KORVANE_FIXTURE_DIR "/dvd/KORVANE_DISC")})
        if (QFileInfo::exists(disc + "/VIDEO_TS/VIDEO_TS.IFO")) {
            form->DvdTab()->OpenDiscPath(disc);
            break;
        }
    return form;
}

// Nothing chosen yet: Start is disabled and the line beside it says why.
TFormNewConversion* EmptyPage()
{
    auto* form = new TFormNewConversion(ShotEnvironment());
    form->SelectProfileByDescription("MPEG4-AVC(*.mp4)");
    form->UpdateReadiness();
    return form;
}

// A batch of three: the list, and the names the other files get.
TFormNewConversion* BatchPage()
{
    auto* form = new TFormNewConversion(ShotEnvironment());
    form->SelectProfileByDescription("MPEG4-AVC(*.mp4)");
    const QString clip = shots::SampleClip();
    const QString folder = QFileInfo(clip).path();
    QStringList sources{clip};
    for (const char* name : {"/holiday 1.mp4", "/holiday 2.mp4"}) {
        QFile::remove(folder + name);
        QFile::copy(clip, folder + name);
        sources << folder + name;
    }
    form->SetSources(sources);
    form->UpdateReadiness();
    return form;
}

shots::Register batch(
    "new-conversion-batch", [] { return BatchPage(); }, 600);
shots::Register empty(
    "new-conversion-empty", [] { return EmptyPage(); }, 300);
shots::Register source(
    "new-conversion", [] { return SourcePage(); }, 600);
shots::Register dvd(
    "new-conversion-dvd", [] { return DvdPage(); }, 1200);
shots::Register filters(
    "new-conversion-filters", [] { return FilterPage(); }, 600);

} // namespace
