#include "app/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace pv {

namespace {
const QByteArray kActivate = QByteArrayLiteral("activate\n");
}

SingleInstance::SingleInstance(QString folder, QObject* parent) : QObject(parent), folder_(std::move(folder)) {}

SingleInstance::~SingleInstance()
{
    if (server_ != nullptr)
        server_->close();
}

QString SingleInstance::defaultFolder()
{
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath() + QStringLiteral("/runtime-") + QString::number(::getuid());
    return runtime + QStringLiteral("/polvarine");
}

QString SingleInstance::lockPath() const { return folder_ + QStringLiteral("/polvarine.lock"); }
QString SingleInstance::socketPath() const { return folder_ + QStringLiteral("/polvarine.socket"); }

SingleInstance::Outcome SingleInstance::claim(std::chrono::milliseconds patience)
{
    if (!QDir().mkpath(folder_)) {
        error_ = QStringLiteral("could not create %1").arg(folder_);
        return Outcome::failed;
    }
    lock_ = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: a long-running copy keeps its claim. A lock whose process is gone is
    // still taken over, since QLockFile checks whether its holder lives.
    lock_->setStaleLockTime(0);

    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (lock_->tryLock(0)) {
            if (!listen())
                return Outcome::failed;
            return Outcome::primary;
        }
        if (lock_->error() != QLockFile::LockFailedError) {
            error_ = QStringLiteral("could not create the lock file %1").arg(lockPath());
            return Outcome::failed;
        }
        if (askHolderToActivate(std::chrono::milliseconds(250)))
            return Outcome::handedOver;
        if (clock.elapsed() >= patience.count()) {
            error_ = QStringLiteral("another copy holds %1 but does not answer on %2").arg(lockPath(), socketPath());
            return Outcome::failed;
        }
        QThread::msleep(100);
    }
}

bool SingleInstance::listen()
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left here belongs to a copy that is gone.
    QLocalServer::removeServer(socketPath());
    if (!server_->listen(socketPath())) {
        error_ = QStringLiteral("could not listen on %1: %2").arg(socketPath(), server_->errorString());
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            auto handle = [this, peer] {
                if (!peer->canReadLine())
                    return;
                if (peer->readLine() == kActivate)
                    Q_EMIT activationRequested();
                peer->disconnectFromServer();
            };
            connect(peer, &QLocalSocket::readyRead, this, handle);
            handle(); // the line may have arrived with the connection
        }
    });
    return true;
}

bool SingleInstance::askHolderToActivate(std::chrono::milliseconds timeout) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(static_cast<int>(timeout.count())))
        return false;
    socket.write(kActivate);
    const bool sent = socket.waitForBytesWritten(static_cast<int>(timeout.count()));
    socket.disconnectFromServer();
    return sent;
}

} // namespace pv
