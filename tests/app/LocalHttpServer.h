#pragma once
// A one-response-per-connection HTTP/1.1 server on 127.0.0.1 for the update check tests. It runs on
// the test thread's event loop, so the client must run elsewhere (the checker has its own thread).

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

namespace pv::test {

class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    LocalHttpServer();

    quint16 port() const { return server_.serverPort(); }
    QString url(const QString& path) const;

    // The next responses, for every request until changed.
    void respond(int status, QByteArray body, QByteArray contentType = "application/json");

    int requestCount() const { return static_cast<int>(requests_.size()); }
    const QList<QByteArray>& requests() const { return requests_; } // request heads as received

private:
    void serve();

    QTcpServer server_;
    int status_ = 200;
    QByteArray body_;
    QByteArray contentType_;
    QList<QByteArray> requests_;
};

} // namespace pv::test
