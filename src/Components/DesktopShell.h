// What the program asks of the desktop: open a file with its default
// application, show a file selected in the file browser, open an address,
// play a converted file. One process-wide shell; tests install a recorder so
// nothing they do reaches a real file browser or player.
#pragma once

#include <QString>
#include <QUrl>

namespace korvane {

class IDesktopShell
{
public:
    virtual ~IDesktopShell() = default;
    // The default application for the file (the shell's "open").
    virtual void OpenFile(const QString& path) = 0;
    // The file browser on the file's folder with the file selected.
    virtual void ShowInFileBrowser(const QString& path) = 0;
    // A web page or a mailto: address with the default handler.
    virtual void OpenUrl(const QUrl& url) = 0;
    // The companion player "TrevinPlayer" when it is on the PATH, otherwise
    // the default application. Whether the launch worked is not reported.
    virtual void PlayFile(const QString& path) = 0;
};

// The installed shell (the real desktop unless replaced).
IDesktopShell& DesktopShell();
// Replaces the shell; null puts the real desktop back. Returns the previous
// one installed (null for the real desktop). Not owned.
IDesktopShell* InstallDesktopShell(IDesktopShell* shell);

} // namespace korvane
