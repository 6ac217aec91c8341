// The DVD side of the new conversion dialog: the streams it opens on the
// chosen title for the preview (on a worker) and for the task, the default
// output name of a title and the DVD fields of the task's settings.
#include "FormNewConversion.h"

#include "ConversionSettings.h"
#include "DvdSourceTab.h"
#include "OutputNaming.h"
#include "PreviewPane.h"
#include "sources/StreamProtocol.h"

namespace korvane {

void TFormNewConversion::OpenPreviewStream()
{
    // A stream opened for an earlier choice that the pane never took holds
    // the disc open: it goes now, not when the dialog closes.
    for (int handle : m_previewStreams)
        ReleaseStream(handle);
    m_previewStreams.clear();
    // Opening a title may spin a drive up: it runs on a worker and the pane
    // gets the stream when it comes. A newer choice drops an open still
    // running, and the tab goes before this dialog's members, so the call
    // never outlives them.
    m_dvd->OpenPreviewSource([this](std::optional<dvd::TDvdSource> source, const QString&) {
        if (!source) return; // the pane stays stopped
        m_previewStreams << source->Handle;
        m_preview->OpenSource(source->Name);
    });
}

QString TFormNewConversion::DvdOutputPath(const QString& extension) const
{
    if (!m_dvd->HasTitle()) return {};
    return JoinFolder(m_targetFolder,
                      dvd::DvdDefaultOutputName(m_dvd->Disc().VolumeLabel, m_dvd->TitleNumber()) + extension);
}

void TFormNewConversion::FillDvdSettings(TConversionSettings* settings)
{
    settings->SetSourceFile(m_taskSource);
    settings->SetSourceType(TConversionSettings::stDvd);
    settings->SetDvdDriver(m_dvd->Disc().Path);
    settings->SetDvdTitle(m_dvd->TitleNumber());
    settings->SetDvdChapter(m_dvd->FirstChapter());
    settings->SetDvdThrough(m_dvd->LastChapter());
    settings->SetDvdAngle(m_dvd->Angle());
    settings->SetDvdVolume(m_dvd->Disc().VolumeLabel);
    m_taskStreamHandle = 0; // the task owns it now
}

} // namespace korvane
