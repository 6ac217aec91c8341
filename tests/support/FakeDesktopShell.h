// A desktop shell that records what the program asked for, so tests never
// reach a real file browser, player or web browser. Installed for the
// lifetime of the object.
#pragma once

#include "DesktopShell.h"

#include <QStringList>

namespace korvane::test {

class FakeDesktopShell : public IDesktopShell
{
public:
    FakeDesktopShell() : m_previous(InstallDesktopShell(this)) {}
    ~FakeDesktopShell() override { InstallDesktopShell(m_previous); }

    void OpenFile(const QString& path) override { opened << path; }
    void ShowInFileBrowser(const QString& path) override { shown << path; }
    void OpenUrl(const QUrl& url) override { urls << url.toString(); }
    void PlayFile(const QString& path) override { played << path; }

    QStringList opened, shown, urls, played;

private:
    IDesktopShell* m_previous;
};

} // namespace korvane::test
