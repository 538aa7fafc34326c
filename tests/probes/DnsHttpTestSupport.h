#pragma once
// Shared by the DNS, HTTP and probe-service tests: the python test servers of tests/lab/servers
// (on loopback here, or in the lab's internet namespace), and running a probe's coroutine to its end.

#include "core/records/Runtime.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>

namespace pv::test {

inline QString sourceDir()
{
    const QByteArray env = qgetenv("PV_SOURCE_DIR");
    return env.isEmpty() ? QStringLiteral(PV_TEST_SOURCE_DIR) : QString::fromLocal8Bit(env);
}

inline QString serverScript(const QString& name) { return sourceDir() + QStringLiteral("/tests/lab/servers/") + name; }

// Waits (bounded) until a server has written its port file; 0 when it did not in time.
inline int waitForPortFile(const QString& path, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
            const int port = f.readAll().trimmed().toInt();
            if (port > 0)
                return port;
        }
        QThread::msleep(20);
    }
    return 0;
}

inline QString readTextFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

// One test server on 127.0.0.1 with a port of its own choosing, stopped when this object goes.
class LoopbackServer {
public:
    // script: "dns_server.py" or "http_server.py"; args: extra options such as {"--mode", "refused"}.
    LoopbackServer(const QString& script, const QStringList& args)
    {
        const QString portFile = dir_.filePath(QStringLiteral("port"));
        logPath_ = dir_.filePath(QStringLiteral("log"));
        QStringList argv{serverScript(script), QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                         QStringLiteral("--port-file"), portFile, QStringLiteral("--log"), logPath_,
                         QStringLiteral("--lifetime"), QStringLiteral("120")};
        argv << args;
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(QStringLiteral("python3"), argv);
        if (process_.waitForStarted(5000))
            port_ = waitForPortFile(portFile);
    }
    ~LoopbackServer()
    {
        process_.kill();
        process_.waitForFinished(3000);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString log() const { return readTextFile(logPath_); }

private:
    QTemporaryDir dir_;
    QString logPath_;
    QProcess process_;
    int port_ = 0;
};

// A loopback TCP port that refuses connections: bound for as long as this object lives, so that no
// other program can take it meanwhile, but not listening.
class RefusingLoopbackPort {
public:
    RefusingLoopbackPort() : socket_(io_)
    {
        socket_.open(asio::ip::tcp::v4());
        socket_.bind(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    }
    int port() const { return socket_.local_endpoint().port(); }

private:
    asio::io_context io_;
    asio::ip::tcp::socket socket_;
};

// Runs an awaitable on the network runtime and waits (bounded) for its value.
template <typename T>
std::optional<T> runOn(rt::NetworkRuntime& net, rt::awaitable<T> op, std::chrono::seconds limit = std::chrono::seconds(30))
{
    auto promise = std::make_shared<std::promise<T>>();
    auto future = promise->get_future();
    asio::co_spawn(net.executor(), std::move(op), [promise](std::exception_ptr e, T value) {
        if (e)
            promise->set_exception(e);
        else
            promise->set_value(std::move(value));
    });
    if (future.wait_for(limit) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

// The same for an operation without a value; false when it did not finish in time.
inline bool runOn(rt::NetworkRuntime& net, rt::awaitable<void> op, std::chrono::seconds limit = std::chrono::seconds(30))
{
    auto promise = std::make_shared<std::promise<void>>();
    auto future = promise->get_future();
    asio::co_spawn(net.executor(), std::move(op), [promise](std::exception_ptr e) {
        if (e)
            promise->set_exception(e);
        else
            promise->set_value();
    });
    if (future.wait_for(limit) != std::future_status::ready)
        return false;
    future.get();
    return true;
}

inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace pv::test
