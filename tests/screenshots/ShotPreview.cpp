#include "FramePreview.h"
#include "MediaFixtures.h"
#include "PreviewPane.h"
#include "ShotRegistry.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QVBoxLayout>

namespace {

void WaitForPicture(korvane::TFramePreview* pane)
{
    QElapsedTimer t;
    t.start();
    while (pane->WaitingForPicture() && t.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The preview pane in a small dialog: a picture through a drawn box and a
// mirror, a range marked from 0.5 s to 1.5 s with its handles, the position
// at 1 s, and the sound controls of a source with two sound tracks.
QWidget* PreviewShot()
{
    auto* dialog = new QDialog;
    dialog->setWindowTitle(QStringLiteral("Preview"));
    auto* layout = new QVBoxLayout(dialog);
    korvane::IPreviewPane* created = korvane::CreatePreviewPane(dialog);
    auto* pane = dynamic_cast<korvane::TFramePreview*>(created);
    pane->SetAudioDeviceAllowed(false);
    layout->addWidget(pane);
    dialog->resize(560, 470);
    pane->SetVolume(70);
    pane->OpenSource(korvane::test::SampleTwoAudio());
    pane->SetVideoFilters(QStringLiteral("drawbox=40:30:120:90:red,hflip"));
    for (const int64_t at : {500000, 1500000, 1000000}) {
        pane->SeekTo(at);
        WaitForPicture(pane);
        if (at == 500000)
            pane->SetStart();
        else if (at == 1500000)
            pane->SetEnd();
    }
    return dialog;
}

korvane::shots::Register shot("preview", PreviewShot, 500);

} // namespace
