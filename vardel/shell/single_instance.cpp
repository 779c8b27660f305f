#include "vardel/shell/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <utility>

namespace {

constexpr int kLocalWaitMs = 2000;
constexpr qint64 kMaxRequest = 4096;

} // namespace

SingleInstance::SingleInstance(const std::string& title, const std::string& lockDirectory) {
    QString dir = QString::fromStdString(lockDirectory);
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    m_lock = std::make_unique<QLockFile>(QDir(dir).filePath(QString::fromStdString(title) + ".lock"));
    m_lock->setStaleLockTime(0);
    m_socketPath = QDir(dir).filePath(QString::fromStdString(title) + ".socket");
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire() {
    return m_lock->tryLock(0);
}

bool SingleInstance::listenForRaise(std::function<void(const std::string&)> raise) {
    // Held by this process's lock: a socket left there is a dead console's.
    QLocalServer::removeServer(m_socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        m_server.reset();
        return false;
    }
    QObject::connect(
        m_server.get(), &QLocalServer::newConnection, m_server.get(), [this, raise = std::move(raise)] {
            while (QLocalSocket* socket = m_server->nextPendingConnection()) {
                QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, raise] {
                    if (!socket->canReadLine()) {
                        if (socket->bytesAvailable() > kMaxRequest)
                            socket->abort();
                        return;
                    }
                    const QByteArray line = socket->readLine(kMaxRequest).trimmed();
                    socket->disconnectFromServer();
                    if (line == "raise" || line.startsWith("raise "))
                        raise(line.mid(6).toStdString());
                });
            }
        });
    return true;
}

bool SingleInstance::askToRaise(const std::string& activationToken) {
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(kLocalWaitMs))
        return false;
    QByteArray request = "raise";
    if (!activationToken.empty())
        request += " " + QByteArray::fromStdString(activationToken).replace('\n', ' ');
    socket.write(request + "\n");
    const bool sent = socket.waitForBytesWritten(kLocalWaitMs);
    socket.disconnectFromServer();
    return sent;
}
