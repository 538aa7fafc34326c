#include "bench/support/BenchDatabase.h"

#include "core/records/RecordId.h"
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

namespace pv::bench {

namespace {

// Raised whenever the generated content changes, so that stale caches are rebuilt.
constexpr int kGeneratorVersion = 7;
// Seconds of batch time between two retention passes of the program.
constexpr double kCleanupInterval = 900;

enum class IdStyle { timeOrdered, random };

QUuid idFor(IdStyle style, double t)
{
    return style == IdStyle::timeOrdered ? recordIdAt(static_cast<std::int64_t>(std::llround(t * 1000)))
                                         : QUuid::createUuid();
}

void check(sqlite3* db, int rc, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::abort();
    }
}

void exec(sqlite3* db, const char* sql) { check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql); }

QByteArray idText(const QUuid& u) { return u.toByteArray(QUuid::WithoutBraces).toUpper(); }

QString cacheFolder()
{
    const QString configured = qEnvironmentVariable("POLVARINE_BENCH_CACHE");
    const QString folder = configured.isEmpty() ? QStringLiteral("/tmp/polvarine-bench") : configured;
    QDir().mkpath(folder);
    return folder;
}

ProbeBatch makeBatch(std::mt19937& rng, std::int64_t n, double t, IdStyle style)
{
    static const ProbeTarget targets[] = {
        ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), QStringLiteral("192.168.1.1")),
        ProbeTarget(ProbeKind::publicIP, QStringLiteral("Cloudflare"), QStringLiteral("1.1.1.1")),
        ProbeTarget(ProbeKind::publicIP, QStringLiteral("Google"), QStringLiteral("8.8.8.8")),
        ProbeTarget(ProbeKind::http, QStringLiteral("Captive portal"), QStringLiteral("captive.example")),
        ProbeTarget(ProbeKind::dns, QStringLiteral("DNS"), QStringLiteral("polvarine.invalid")),
    };
    std::lognormal_distribution<double> latency(3.0, 0.5);
    std::uniform_real_distribution<double> unit(0, 1);
    ProbeBatch b;
    b.id = idFor(style, t);
    b.timestamp = t;
    b.route = {t, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"), QStringLiteral("192.168.1.1")};
    const int count = n % 4 == 1 ? 5 : 4; // DNS on every fourth batch
    for (int i = 0; i < count; ++i) {
        NetworkSample s;
        s.timestamp = t + 0.05 * i;
        s.id = idFor(style, s.timestamp);
        s.batchID = b.id;
        s.target = targets[i];
        s.route = b.route;
        s.success = unit(rng) > 0.01;
        s.latencyMilliseconds = s.success ? std::optional<double>(latency(rng) * (i == 0 ? 0.2 : 1)) : std::nullopt;
        s.timeoutCount = s.success ? 0 : 3;
        if (i < 3)
            s.packetLoss = s.success ? 0.0 : 1.0;
        if (!s.success)
            s.errorDescription = QStringLiteral("Request timed out.");
        b.samples.push_back(std::move(s));
    }
    return b;
}

// Writes the month the way the program does, in time order with the store's own row layout: samples
// and Wi-Fi readings, an incident every few hours and the events of a month (daily starts and stops,
// sleeps and wakes, path changes), and the store's own retention pass under the policy every 900 s of
// batch time (the cleanup interval) and once more at the month's end. Nothing is VACUUMed: the roll-ups
// lie interleaved between the minute buckets and the freed pages as the program leaves them.
void generateMonth(const QString& path, IdStyle style, const RetentionPolicy& policy)
{
    { SQLiteStore schema(SQLiteStore::Location::file(path)); }
    store::StoreDatabase retention(StoreLocation::file(path));
    sqlite3* db = nullptr;
    check(db, sqlite3_open(path.toUtf8().constData(), &db), "open");
    exec(db, "PRAGMA cache_size = -524288;");
    exec(db, "BEGIN;");
    store::Statement sample(db, store::kInsertSampleStatement);
    store::Statement wifi(db, "INSERT INTO wifi_snapshots (id, timestamp, interface_name, local_address, "
                              "gateway_address, ssid, bssid, channel, band, rssi, noise, tx_rate_mbps, phy_mode, "
                              "interface_up) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);");
    store::Statement event(db, "INSERT INTO events (id, timestamp, kind, details) VALUES (?, ?, ?, ?);");
    store::Statement incident(db, "INSERT INTO incidents (id, start_timestamp, end_timestamp, classification, "
                                  "severity, confidence, evidence_summary) VALUES (?, ?, ?, ?, ?, ?, ?);");

    std::mt19937 rng(42);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    std::exponential_distribution<double> incidentGap(1.0 / (6 * 3600));
    std::uniform_real_distribution<double> incidentLength(120, 1800);
    std::uniform_int_distribution<int> pick(0, 5);
    double nextWifi = kDataStart;
    double nextIncident = kDataStart + incidentGap(rng);
    double nextPathChange = kDataStart + 3 * 3600;
    double nextDay = kDataStart;
    double nextCleanup = kDataStart + kCleanupInterval;
    std::int64_t n = 0;
    auto addEvent = [&](double t, DiagnosticEventKind kind, const char* details) {
        event.bindAll(idText(idFor(style, t)), t, rawValue(kind), QString::fromUtf8(details));
        event.run();
        event.reset();
    };
    // A batch every 4.25 s on average (a 4 s pause after a cycle of about a quarter second): with 4.25
    // samples a batch, 60 samples a minute.
    for (double t = kDataStart; t < kDataEnd; t += 4.25 + jitter(rng), ++n) {
        if (t >= nextCleanup) {
            exec(db, "COMMIT;");
            retention.rollUpAndPrune(policy, t);
            exec(db, "BEGIN;");
            nextCleanup += kCleanupInterval;
        }
        const ProbeBatch b = makeBatch(rng, n, t, style);
        for (const NetworkSample& s : b.samples) {
            store::bindSample(sample, s);
            sample.run();
            sample.reset();
        }
        if (t >= nextWifi) {
            nextWifi += 8;
            wifi.bindAll(idText(idFor(style, t)), t, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"),
                         QStringLiteral("192.168.1.1"), QStringLiteral("Otthoni hálózat"),
                         QStringLiteral("aa:bb:cc:dd:ee:ff"), 36, QStringLiteral("5 GHz"),
                         -55 - static_cast<int>(n % 10), -92, 433.3, QStringLiteral("802.11ac"), true);
            wifi.run();
            wifi.reset();
        }
        if (t >= nextIncident) {
            const double end = t + incidentLength(rng);
            const auto classification = static_cast<IncidentClassification>(pick(rng));
            incident.bindAll(idText(idFor(style, t)), t, end, rawValue(classification),
                             rawValue(pick(rng) < 2 ? IncidentSeverity::critical : IncidentSeverity::warning),
                             0.55 + 0.07 * pick(rng),
                             QStringLiteral("Router p95 182 ms, public p95 240 ms, loss 4%"));
            incident.run();
            incident.reset();
            addEvent(t, DiagnosticEventKind::probeStalled, "Probe cycle overran its interval.");
            nextIncident = end + incidentGap(rng);
        }
        if (t >= nextPathChange) {
            addEvent(t, DiagnosticEventKind::pathChanged, "Path changed: satisfied, interfaces wlan0.");
            nextPathChange += 5 * 3600 + 1000 * pick(rng);
        }
        if (t >= nextDay) {
            addEvent(t, DiagnosticEventKind::monitoringStarted, "Continuous monitoring started.");
            addEvent(t + 60, DiagnosticEventKind::sleep, "The computer is going to sleep.");
            addEvent(t + 90, DiagnosticEventKind::wake, "The computer woke up.");
            nextDay += kDay;
        }
    }
    sample.finalize();
    wifi.finalize();
    event.finalize();
    incident.finalize();
    exec(db, "COMMIT;");
    retention.rollUpAndPrune(policy, kDataEnd);
    exec(db, "PRAGMA wal_checkpoint(TRUNCATE);");
    sqlite3_close(db);
}

// Builds a database into <path>.building-<pid> and renames it into place, so that a concurrent or
// interrupted build never leaves a half-made file under the final name.
template <typename Build> QString buildOnce(const QString& fileName, Build build)
{
    const QString path = cacheFolder() + QLatin1Char('/') + fileName;
    if (QFileInfo::exists(path))
        return path;
    const QString building = path + QStringLiteral(".building-%1").arg(::getpid());
    removeDatabase(building);
    const auto began = std::chrono::steady_clock::now();
    build(building);
    std::fprintf(stderr, "built %s in %.1f s\n", qPrintable(path),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    for (const char* suffix : {"-wal", "-shm"})
        std::filesystem::remove((building + QLatin1String(suffix)).toStdString());
    std::filesystem::rename(building.toStdString(), path.toStdString());
    return path;
}

QString buildMonth(const QString& name, IdStyle style, const RetentionPolicy& policy)
{
    return buildOnce(QStringLiteral("%1-v%2.sqlite3").arg(name).arg(kGeneratorVersion),
                     [style, policy](const QString& building) { generateMonth(building, style, policy); });
}

std::mutex copiesMutex;
std::vector<QString> copies;

void removeCopies()
{
    const std::lock_guard lock(copiesMutex);
    for (const QString& copy : copies)
        removeDatabase(copy);
    copies.clear();
}

} // namespace

ProbeBatch benchBatch(std::mt19937& rng, std::int64_t n, double t)
{
    return makeBatch(rng, n, t, IdStyle::timeOrdered);
}

const QString& thirtyDayDatabase()
{
    static const QString path = buildMonth(QStringLiteral("long-term-retention"), IdStyle::timeOrdered,
                                           RetentionPolicy::longTerm());
    return path;
}

const QString& thirtyDayDatabaseWithRandomIds()
{
    static const QString path = buildMonth(QStringLiteral("long-term-retention-random-ids"), IdStyle::random,
                                           RetentionPolicy::longTerm());
    return path;
}

const QString& standardRetentionDatabase()
{
    static const QString path =
        buildMonth(QStringLiteral("standard-retention"), IdStyle::timeOrdered, RetentionPolicy::standard());
    return path;
}

QString freshCopyOf(const QString& path)
{
    static std::atomic<int> counter{0};
    static const bool registered = [] { return std::atexit(removeCopies) == 0; }();
    (void)registered;
    const QString copy = path + QStringLiteral(".copy-%1-%2").arg(::getpid()).arg(counter++);
    removeDatabase(copy);
    std::filesystem::copy_file(path.toStdString(), copy.toStdString(), std::filesystem::copy_options::overwrite_existing);
    const std::lock_guard lock(copiesMutex);
    copies.push_back(copy);
    return copy;
}

void removeDatabase(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove((path + QLatin1String(suffix)).toStdString());
}

} // namespace pv::bench
