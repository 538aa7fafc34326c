#pragma once
// The load test's network lab: the speed-test server in the lab's internet namespace, a tbf queue of
// a given rate and latency limit on both router interfaces, reno congestion control in the sending
// namespaces (the default cubic leaves its slow start long before a deep queue fills), and iputils
// ping run alongside in the client namespace for comparison. Used by the lab tests and the benchmark,
// which tests/lab/run-in-lab.sh starts inside the client namespace.

#include "tests/lab/LabEnv.h"

#include "core/records/LoadTestResult.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <vector>

namespace pv::test {

struct PingReply {
    double wallClock = 0; // seconds since 1970
    double rtt = 0;       // milliseconds
};

class ShapedLab {
public:
    static constexpr int kRateMbit = 50;

    // sourceDir: the project's source folder (for the server script).
    ShapedLab(lab::LabEnv lab, QString sourceDir) : lab_(std::move(lab)), sourceDir_(std::move(sourceDir)) {}
    ~ShapedLab()
    {
        stopPing();
        lab_.stopProcess(server_);
    }

    const lab::LabEnv& env() const { return lab_; }

    // The speed-test server on the lab's services address; the base URL, or empty when it did not come up.
    // It notes every read of an upload body (see serverReadBy) and its running totals (serverLog).
    // `extraArgs` choose its mode; a server started before is stopped first.
    QString startServer(const QStringList& extraArgs = {})
    {
        lab_.stopProcess(server_);
        const QString portFile = dir_.filePath(QStringLiteral("port"));
        QFile::remove(portFile);
        readsFile_ = dir_.filePath(QStringLiteral("reads.txt"));
        logFile_ = dir_.filePath(QStringLiteral("totals.txt"));
        eventsFile_ = dir_.filePath(QStringLiteral("events.txt"));
        heldFile_ = dir_.filePath(QStringLiteral("held.txt"));
        QFile::remove(eventsFile_);
        QFile::remove(heldFile_);
        server_ = lab_.startInNamespace(
            lab_.inetNs, QStringList{QStringLiteral("python3"),
                                     sourceDir_ + QStringLiteral("/tests/lab/servers/speedtest_server.py"),
                                     QStringLiteral("--bind"), lab_.servicesAddr, QStringLiteral("--port-file"), portFile,
                                     QStringLiteral("--lifetime"), QStringLiteral("600"), QStringLiteral("--reads"),
                                     readsFile_, QStringLiteral("--log"), logFile_, QStringLiteral("--events"),
                                     eventsFile_, QStringLiteral("--held"), heldFile_} +
                             extraArgs);
        // A busy machine can take many seconds to start python.
        for (int i = 0; i < 600; ++i) {
            QFile f(portFile);
            if (f.open(QIODevice::ReadOnly)) {
                const int port = f.readAll().trimmed().toInt();
                if (port > 0)
                    return QStringLiteral("http://%1:%2").arg(lab_.servicesAddr).arg(port);
            }
            QThread::msleep(100);
        }
        return {};
    }

    // tbf at the rate on both router interfaces with the given latency limit ("5ms", "500ms"); the
    // upload (towards the services) at its own rate when one is given.
    bool shape(const QString& latency, int rateMbit = kRateMbit, int uploadRateMbit = 0)
    {
        bool ok = lab_.run(lab_.routerNs, shapingCommands(latency, rateMbit, uploadRateMbit)) == 0;
        for (const QString& ns : {lab_.inetNs, lab_.clientNs})
            ok = ok && lab_.run(ns, QStringLiteral("sysctl -qw net.ipv4.tcp_congestion_control=reno")) == 0;
        return ok;
    }

    // The tc commands of shape(), to run inside the router's namespace.
    static QString shapingCommands(const QString& latency, int rateMbit, int uploadRateMbit = 0)
    {
        QStringList commands;
        for (const char* dev : {"lan0", "wan0"})
            commands << QStringLiteral("tc qdisc replace dev %1 root tbf rate %2mbit burst 64kb latency %3")
                            .arg(QLatin1String(dev))
                            .arg(uploadRateMbit > 0 && QLatin1String(dev) == QLatin1String("wan0") ? uploadRateMbit : rateMbit)
                            .arg(latency);
        return commands.join(QStringLiteral(" && "));
    }
    // The same, as a shell command from any namespace (the speed-test server's slowdown mode).
    QString shapingCommandFromAnywhere(const QString& latency, int rateMbit) const
    {
        QStringList commands;
        for (const QString& c : shapingCommands(latency, rateMbit).split(QStringLiteral(" && ")))
            commands << QStringLiteral("ip netns exec %1 %2").arg(lab_.routerNs, c);
        return commands.join(QStringLiteral(" && "));
    }

    // The server's moments of its stop, pause and slowdown modes: (wall clock, "down"/"up", event).
    struct ServerEvent {
        double wallClock = 0;
        QString direction;
        QString event;
        std::int64_t taken = -1; // an upload's stop: the bytes the server's kernel had taken by then
    };
    std::vector<ServerEvent> serverEvents() const
    {
        std::vector<ServerEvent> events;
        QFile f(eventsFile_);
        if (!f.open(QIODevice::ReadOnly))
            return events;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() == 3 || fields.size() == 4)
                events.push_back({fields[0].toDouble(), QString::fromUtf8(fields[1]), QString::fromUtf8(fields[2]),
                                  fields.size() == 4 ? fields[3].toLongLong() : -1});
        }
        return events;
    }

    // iputils ping every 0.1 s to host, for at most `seconds`, its lines kept with their wall-clock stamps.
    void startPing(const QString& host, int seconds)
    {
        pingFile_ = dir_.filePath(QStringLiteral("ping.txt"));
        ping_ = lab_.startInNamespace(lab_.clientNs, {QStringLiteral("sh"), QStringLiteral("-c"),
                                                      QStringLiteral("exec ping -n -D -i 0.1 -w %1 %2 > %3")
                                                          .arg(seconds)
                                                          .arg(host, pingFile_)});
    }
    void stopPing()
    {
        lab_.stopProcess(ping_);
        ping_ = -1;
    }
    std::vector<PingReply> pingReplies() const
    {
        std::vector<PingReply> replies;
        QFile f(pingFile_);
        if (!f.open(QIODevice::ReadOnly))
            return replies;
        static const QRegularExpression line(QStringLiteral(R"(^\[(\d+\.\d+)\].*time=([0-9.]+) ms)"));
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const auto m = line.match(QString::fromUtf8(raw));
            if (m.hasMatch())
                replies.push_back({m.captured(1).toDouble(), m.captured(2).toDouble()});
        }
        return replies;
    }

    // The server's running totals: "down <bytes> up <bytes> requests <count> connections <count>".
    QString serverLog() const
    {
        QFile f(logFile_);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // The upload bytes the server had read by a wall-clock time (seconds since 1970).
    std::int64_t serverReadBy(double wallClock) const
    {
        std::int64_t read = 0;
        QFile f(readsFile_);
        if (!f.open(QIODevice::ReadOnly))
            return read;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 2 || fields[0].toDouble() > wallClock)
                continue;
            read = std::max<std::int64_t>(read, fields[1].toLongLong());
        }
        return read;
    }

    // The longest hold-up of the server or the lab's line (as the server saw it: its kernel took
    // nothing, or the server was kept from running, for 20 ms or more while a transfer should flow)
    // that ended between two wall-clock times, in seconds (one still going on at `to` is noted on the
    // server's next turn, a little later). The line brings what it held back at once, so a hold-up in
    // the middle bends nothing, but a count the server takes during one is short by as much.
    double serverHeldBetween(double from, double to) const
    {
        double longest = 0;
        QFile f(heldFile_);
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() == 2 && fields[0].toDouble() > from && fields[0].toDouble() <= to + 0.1)
                longest = std::max(longest, fields[1].toDouble());
        }
        return longest;
    }

    // ping's round trips of echoes sent between two wall-clock times (a reply's stamp is its arrival).
    static std::vector<double> between(const std::vector<PingReply>& replies, double from, double to)
    {
        std::vector<double> rtts;
        for (const PingReply& r : replies) {
            const double sent = r.wallClock - r.rtt / 1000.0;
            if (sent >= from && sent <= to)
                rtts.push_back(r.rtt);
        }
        std::sort(rtts.begin(), rtts.end());
        return rtts;
    }

private:
    lab::LabEnv lab_;
    QString sourceDir_;
    QTemporaryDir dir_;
    qint64 server_ = -1;
    qint64 ping_ = -1;
    QString pingFile_;
    QString readsFile_;
    QString logFile_;
    QString eventsFile_;
    QString heldFile_;
};

// The same percentile rules as the load test's summary, on an ascending list.
inline std::optional<double> p95Of(const std::vector<double>& sorted)
{
    if (sorted.empty())
        return std::nullopt;
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(std::floor(sorted.size() * 0.95)))];
}
inline std::optional<double> p50Of(const std::vector<double>& sorted)
{
    if (sorted.empty())
        return std::nullopt;
    return sorted[sorted.size() / 2];
}

} // namespace pv::test
