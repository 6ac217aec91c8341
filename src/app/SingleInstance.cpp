#include "SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <memory>

namespace korvane {

namespace {

// A request is the file names, UTF-8, one per line, ended by an empty line.
// Paths with a line break cannot be passed on (such names are refused).
constexpr int kMaxRequestBytes = 1 << 20;

} // namespace

TSingleInstance::TSingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), m_path(socketPath.isEmpty() ? DefaultSocketPath() : std::move(socketPath))
{
}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::DefaultSocketPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("korvane-instance"));
}

bool TSingleInstance::SendToRunning(const QStringList& files, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray request;
    for (const QString& file : files) {
        if (file.contains('\n'))
            continue;
        request += QFileInfo(file).absoluteFilePath().toUtf8() + '\n';
    }
    request += '\n';
    socket.write(request);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // the instance answers once it has the whole request
    return socket.waitForReadyRead(timeoutMs) && socket.readAll().startsWith("ok");
}

bool TSingleInstance::Listen()
{
    // a socket that accepts belongs to a live instance, even a busy one; a
    // socket file nobody accepts on was left behind by a crashed instance.
    // (listen itself would not tell: with access options it replaces the
    // file silently)
    QLocalSocket probe;
    probe.connectToServer(m_path);
    if (probe.waitForConnected(500))
        return false;
    QLocalServer::removeServer(m_path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, &TSingleInstance::ReadConnection);
    return true;
}

void TSingleInstance::ReadConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            if (buffer->size() > kMaxRequestBytes) {
                socket->abort();
                return;
            }
            if (!buffer->endsWith("\n\n") && *buffer != "\n")
                return;
            QStringList files;
            for (const QByteArray& line : buffer->split('\n'))
                if (!line.isEmpty())
                    files << QString::fromUtf8(line);
            buffer->clear();
            socket->write("ok\n");
            socket->flush();
            // handed on once this read has returned: a receiver may run a
            // modal dialog, whose nested loop would free the socket (its
            // client hangs up) while Qt is still inside its readyRead
            QMetaObject::invokeMethod(
                this, [this, files] { emit FilesReceived(files); }, Qt::QueuedConnection);
        });
    }
}

} // namespace korvane
