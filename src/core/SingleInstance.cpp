#include "core/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>

#include <unistd.h>

namespace kallomir {

SingleInstance::SingleInstance(QString runtimeDir, QObject* parent)
    : QObject(parent), runtimeDir_(std::move(runtimeDir)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultRuntimeDir() {
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty())
        return xdg;
    return QDir::tempPath() + QStringLiteral("/kallomir-") + QString::number(getuid());
}

QString SingleInstance::lockPath() const {
    return runtimeDir_ + QStringLiteral("/kallomir.lock");
}
QString SingleInstance::socketPath() const {
    return runtimeDir_ + QStringLiteral("/kallomir.sock");
}

bool SingleInstance::claim() {
    QDir().mkpath(runtimeDir_);
    lock_ = std::make_unique<QLockFile>(lockPath());
    lock_->setStaleLockTime(0);  // a crashed holder is detected by its process id
    if (!lock_->tryLock(0)) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(500)) {
            socket.write("activate\n");
            socket.waitForBytesWritten(500);
            socket.disconnectFromServer();
        }
        return false;
    }
    QLocalServer::removeServer(socketPath());
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (server_->listen(socketPath())) {
        connect(server_.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = server_->nextPendingConnection()) {
                connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                    if (peer->readAll().contains("activate"))
                        Q_EMIT activationRequested();
                });
            }
        });
    }
    return true;
}

}  // namespace kallomir
