#include "tests/app/LocalHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace pv::test {

LocalHttpServer::LocalHttpServer()
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, &LocalHttpServer::serve);
}

QString LocalHttpServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void LocalHttpServer::respond(int status, QByteArray body, QByteArray contentType)
{
    status_ = status;
    body_ = std::move(body);
    contentType_ = std::move(contentType);
}

void LocalHttpServer::serve()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            requests_.append(buffer->left(end));
            QByteArray reply = "HTTP/1.1 " + QByteArray::number(status_) + " Status\r\n";
            if (status_ != 304)
                reply += "Content-Type: " + contentType_ + "\r\nContent-Length: " + QByteArray::number(body_.size()) +
                         "\r\n";
            reply += "Connection: close\r\n\r\n";
            if (status_ != 304)
                reply += body_;
            socket->write(reply);
            socket->disconnectFromHost();
        });
    }
}

} // namespace pv::test
