// One program per user: the first start listens on a local socket in the
// runtime folder; a later start hands its files to it and exits. The files
// arrive as if they had been dropped on the task list.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace korvane {

class TSingleInstance : public QObject
{
    Q_OBJECT
public:
    // `socketPath` empty: "korvane-instance" in the user's runtime folder.
    explicit TSingleInstance(QString socketPath = {}, QObject* parent = nullptr);
    ~TSingleInstance() override;

    static QString DefaultSocketPath();

    // Hands the files (made absolute) to a running instance. False when none
    // answers; then this process should become the instance with Listen.
    bool SendToRunning(const QStringList& files, int timeoutMs = 2000) const;

    // Starts listening; a socket left behind by a crashed instance is
    // replaced. False when another instance took the name meanwhile.
    bool Listen();

    QString SocketPath() const { return m_path; }

signals:
    // The files a later start passed on its command line (possibly none: the
    // window is then only raised). Emitted from the event loop, never from
    // inside the socket's own signal, so a receiver may open dialogs.
    void FilesReceived(const QStringList& files);

private:
    void ReadConnection();

    QString m_path;
    QLocalServer* m_server = nullptr;
};

} // namespace korvane
