// What the dialog tests share: a recorder of message boxes, a fake preview
// pane with settable marks, a profile list and configuration over a temporary
// folder, a wait that keeps the event loop running, and the DVD disc folder.
#pragma once

#include "Configuration.h"
#include "PreviewPane.h"
#include "options/Messages.h"
#include "profiles/AVProfile.h"

#include <QLabel>
#include <QStringList>
#include <functional>
#include <memory>

namespace korvane::test {

// Records every message box; confirmations answer `confirmAnswer`.
class BoxRecorder
{
public:
    BoxRecorder();
    ~BoxRecorder();
    QStringList errors;
    QStringList confirms;
    bool confirmAnswer = true;

private:
    MessageService::Handler m_previous;
};

class FakePreviewPane : public QLabel, public IPreviewPane
{
public:
    QWidget* Widget() override { return this; }
    void OpenSource(const QString& inputName) override { opened << inputName; current = inputName; }
    void StopPreview() override { ++stops; current.clear(); }
    void SetVideoFilters(const QString& description) override { filters << description; }
    int64_t StartPosition() const override { return start; }
    int64_t EndPosition() const override { return end; }

    QStringList opened;
    QString current;
    int stops = 0;
    QStringList filters;
    int64_t start = 0;
    int64_t end = 0;
};

// The catalog, a configuration whose output folder is a fresh temporary
// folder, and a profile store path beside it.
struct WizardWorld
{
    WizardWorld();
    TAVProfileList profiles;
    TAVConfiguration configuration;
    QString folder;      // temporary root
    QString outputFolder;
    QString storePath;
};

// Runs the event loop until done() or timeoutMs; returns done().
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000);

// A copy of a small clip with sound, named name, in folder.
QString ClipNamed(const QString& folder, const QString& name);

// A dvdauthor disc folder: title 1 of 4 s in 4 chapters, title 2 of 3 s in 2.
QString DvdDiscFolder();

} // namespace korvane::test
