#include "tests/store/StoreTestSupport.h"

#include "core/store/StoreDatabase.h"
#include "tests/support/TestSupport.h"

#include <QDir>

#include <cstdlib>

namespace pv::test {

void pumpAwait(const bool& done, std::chrono::milliseconds timeout)
{
    if (!pumpUntil([&] { return done; }, timeout)) {
        // The operation still refers to the caller's frame: going on would touch freed memory.
        ADD_FAILURE() << "store operation did not finish in time";
        std::abort();
    }
}

RawDb::RawDb(const QString& path)
{
    if (sqlite3_open(path.toUtf8().constData(), &db_) != SQLITE_OK)
        ADD_FAILURE() << "cannot open " << path.toStdString();
    sqlite3_busy_timeout(db_, 5000);
}

RawDb::~RawDb() { sqlite3_close_v2(db_); }

void RawDb::exec(const QString& sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        ADD_FAILURE() << sql.toStdString() << ": " << (message ? message : "?");
        sqlite3_free(message);
    }
}

namespace {
template <typename Fn> void forRows(sqlite3* db, const QString& sql, Fn fn)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql.toStdString() << ": " << sqlite3_errmsg(db);
        return;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        if (!fn(st))
            break;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        ADD_FAILURE() << sql.toStdString() << ": " << sqlite3_errmsg(db);
    sqlite3_finalize(st);
}
} // namespace

std::optional<double> RawDb::real(const QString& sql)
{
    std::optional<double> out;
    forRows(db_, sql, [&](sqlite3_stmt* st) {
        if (sqlite3_column_type(st, 0) != SQLITE_NULL)
            out = sqlite3_column_double(st, 0);
        return false;
    });
    return out;
}

std::int64_t RawDb::integer(const QString& sql)
{
    std::int64_t out = 0;
    forRows(db_, sql, [&](sqlite3_stmt* st) {
        out = sqlite3_column_int64(st, 0);
        return false;
    });
    return out;
}

QString RawDb::text(const QString& sql)
{
    QString out;
    forRows(db_, sql, [&](sqlite3_stmt* st) {
        out = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        return false;
    });
    return out;
}

QStringList RawDb::column(const QString& sql)
{
    QStringList out;
    forRows(db_, sql, [&](sqlite3_stmt* st) {
        out << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        return true;
    });
    return out;
}

void RawDb::insertSamples(const std::vector<NetworkSample>& samples)
{
    exec(QStringLiteral("BEGIN;"));
    store::Statement statement(db_, store::kInsertSampleStatement);
    for (const NetworkSample& s : samples) {
        store::bindSample(statement, s);
        statement.run();
        statement.reset();
    }
    exec(QStringLiteral("COMMIT;"));
}

NetworkSample makeSample(Timestamp t, ProbeKind kind, std::optional<double> latency, bool success)
{
    NetworkSample s;
    s.id = QUuid::createUuid();
    s.batchID = QUuid::createUuid();
    s.timestamp = t;
    s.target = ProbeTarget(kind, QStringLiteral("Router"), QStringLiteral("192.168.1.1"));
    s.route = {t, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"), QStringLiteral("192.168.1.1")};
    s.latencyMilliseconds = latency;
    s.success = success;
    s.timeoutCount = success ? 0 : 3;
    return s;
}

ProbeBatch makeBatch(Timestamp t, int sampleCount)
{
    ProbeBatch b;
    b.id = QUuid::createUuid();
    b.timestamp = t;
    b.route = {t, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"), QStringLiteral("192.168.1.1")};
    const ProbeKind kinds[] = {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::publicIP, ProbeKind::http,
                               ProbeKind::dns};
    for (int i = 0; i < sampleCount; ++i) {
        NetworkSample s = makeSample(t + i * 0.01, kinds[i % 5], 10.0 + i);
        s.batchID = b.id;
        b.samples.push_back(s);
    }
    return b;
}

WifiSnapshot makeWifi(Timestamp t)
{
    WifiSnapshot w;
    w.id = QUuid::createUuid();
    w.timestamp = t;
    w.interfaceName = QStringLiteral("wlan0");
    w.localAddress = QStringLiteral("192.168.1.23");
    w.gatewayAddress = QStringLiteral("192.168.1.1");
    w.ssid = QStringLiteral("Otthoni hálózat");
    w.bssid = QStringLiteral("aa:bb:cc:dd:ee:ff");
    w.channel = 36;
    w.band = QStringLiteral("5 GHz");
    w.rssi = -58;
    w.noise = -92;
    w.txRateMbps = 433.3;
    w.phyMode = QStringLiteral("802.11ac");
    w.interfaceUp = true;
    return w;
}

Incident makeIncident(Timestamp start, std::optional<Timestamp> end)
{
    Incident i;
    i.id = QUuid::createUuid();
    i.startTimestamp = start;
    i.endTimestamp = end;
    i.classification = IncidentClassification::gatewayCongestion;
    i.severity = IncidentSeverity::critical;
    i.confidence = 0.7;
    i.evidenceSummary = QStringLiteral("Gateway latency p95 above 80 ms.");
    return i;
}

DiagnosticEvent makeEvent(Timestamp t, DiagnosticEventKind kind)
{
    return {QUuid::createUuid(), t, kind, QStringLiteral("Continuous monitoring started.")};
}

ManualMarker makeMarker(Timestamp t)
{
    return {QUuid::createUuid(), t, QStringLiteral("routerBaseline10m"), QStringLiteral("Nappali, „router mellett”")};
}

QString freshDatabasePath(const QString& folderName)
{
    const QString folder = makeTempDir() + QLatin1Char('/') + folderName;
    QDir().mkpath(folder);
    return folder + QStringLiteral("/polvarine.sqlite3");
}

} // namespace pv::test
