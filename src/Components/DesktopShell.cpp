#include "DesktopShell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace korvane {

namespace {

constexpr auto kPlayerProgram = "TrevinPlayer";

class TRealDesktopShell : public IDesktopShell
{
public:
    void OpenFile(const QString& path) override { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

    void ShowInFileBrowser(const QString& path) override
    {
        // The file manager interface selects the file; without a file manager
        // on the session bus the folder itself is opened.
        QDBusMessage call = QDBusMessage::createMethodCall(
            "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
            "ShowItems");
        call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        // the answer comes later: a slow or absent file manager never holds
        // the window
        const QString folder = QFileInfo(path).absolutePath();
        auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, folder] {
            watcher->deleteLater();
            if (watcher->isError())
                QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        });
    }

    void OpenUrl(const QUrl& url) override { QDesktopServices::openUrl(url); }

    void PlayFile(const QString& path) override
    {
        const QString player = QStandardPaths::findExecutable(kPlayerProgram);
        if (player.isEmpty()) {
            OpenFile(path);
            return;
        }
        // the path travels as one argument, so no character of it is ever
        // read by a shell
        QProcess::startDetached(player, {path});
    }
};

IDesktopShell* g_installed = nullptr;

} // namespace

IDesktopShell& DesktopShell()
{
    static TRealDesktopShell real;
    return g_installed ? *g_installed : real;
}

IDesktopShell* InstallDesktopShell(IDesktopShell* shell)
{
    IDesktopShell* old = g_installed;
    g_installed = shell;
    return old;
}

} // namespace korvane
