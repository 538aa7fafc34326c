// Evidence store speed on a realistic database: 30 days of raw samples at the real cadence (one
// batch every ~4.5 s, 4 or 5 samples, about 2.5 million rows), Wi-Fi readings every 8 s, and the
// roll-ups of those days. The database is built once and kept in /tmp between runs.
//
//   pv_bench_store                       all figures
//   POLVARINE_BENCH_DB=<path>            where the 30-day database is kept
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

using namespace pv;

namespace {

constexpr double kDay = 86400;
constexpr double kDataEnd = 1767225600; // on an hour
constexpr double kDataStart = kDataEnd - 30 * kDay;

// Runs a store operation to its end on a private loop.
template <typename T> T run(rt::awaitable<T> op)
{
    asio::io_context io;
    std::exception_ptr error;
    std::optional<T> value;
    asio::co_spawn(io, std::move(op), [&](std::exception_ptr e, T v) {
        error = e;
        if (!e)
            value.emplace(std::move(v));
    });
    io.run();
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

void run(rt::awaitable<void> op)
{
    asio::io_context io;
    std::exception_ptr error;
    asio::co_spawn(io, std::move(op), [&](std::exception_ptr e) { error = e; });
    io.run();
    if (error)
        std::rethrow_exception(error);
}

void check(sqlite3* db, int rc, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::abort();
    }
}

void exec(sqlite3* db, const char* sql) { check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql); }

std::int64_t scalar(sqlite3* db, const char* sql)
{
    sqlite3_stmt* st = nullptr;
    check(db, sqlite3_prepare_v2(db, sql, -1, &st, nullptr), sql);
    std::int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return v;
}

QString benchDatabasePath()
{
    const QString configured = qEnvironmentVariable("POLVARINE_BENCH_DB");
    return configured.isEmpty() ? QStringLiteral("/tmp/polvarine-bench-30d.sqlite3") : configured;
}

void removeDatabase(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove((path + QLatin1String(suffix)).toStdString());
}

ProbeBatch makeBatch(std::mt19937& rng, std::int64_t n, double t)
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
    b.id = QUuid::createUuid();
    b.timestamp = t;
    b.route = {t, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"), QStringLiteral("192.168.1.1")};
    const int count = n % 4 == 1 ? 5 : 4; // DNS on every fourth batch
    for (int i = 0; i < count; ++i) {
        NetworkSample s;
        s.id = QUuid::createUuid();
        s.batchID = b.id;
        s.timestamp = t + 0.05 * i;
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

// Fills the raw tables in one transaction with the store's own row layout.
void generateRaw(const QString& path)
{
    sqlite3* db = nullptr;
    check(db, sqlite3_open(path.toUtf8().constData(), &db), "open");
    exec(db, "PRAGMA cache_size = -524288;");
    exec(db, "BEGIN;");
    store::Statement sample(db, store::kInsertSampleStatement);
    store::Statement wifi(db, "INSERT INTO wifi_snapshots VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);");
    auto id = [](const QUuid& u) { return u.toByteArray(QUuid::WithoutBraces).toUpper(); };

    std::mt19937 rng(42);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    double nextWifi = kDataStart;
    std::int64_t n = 0;
    for (double t = kDataStart; t < kDataEnd; t += 4.5 + jitter(rng), ++n) {
        const ProbeBatch b = makeBatch(rng, n, t);
        for (const NetworkSample& s : b.samples) {
            store::bindSample(sample, s);
            sample.run();
            sample.reset();
        }
        if (t >= nextWifi) {
            nextWifi += 8;
            wifi.bindAll(id(QUuid::createUuid()), t, QStringLiteral("wlan0"), QStringLiteral("192.168.1.23"),
                         QStringLiteral("192.168.1.1"), QStringLiteral("Otthoni hálózat"),
                         QStringLiteral("aa:bb:cc:dd:ee:ff"), 36, QStringLiteral("5 GHz"), -55 - static_cast<int>(n % 10),
                         -92, 433.3, QStringLiteral("802.11ac"), true);
            wifi.run();
            wifi.reset();
        }
    }
    sample.finalize();
    wifi.finalize();
    exec(db, "COMMIT;");
    exec(db, "PRAGMA wal_checkpoint(TRUNCATE);");
    sqlite3_close(db);
}

// The roll-ups of those 30 days, made by the store's own roll-up statement (the raw rows stay).
void addRollups(const QString& path)
{
    store::StoreDatabase db(StoreLocation::file(path));
    db.rollUp(RetentionPolicy::minuteBucket, kDataEnd);
    db.rollUp(RetentionPolicy::hourBucket, kDataEnd);
}

// The 30-day database, built on first use.
const QString& thirtyDayDatabase()
{
    static const QString path = [] {
        const QString path = benchDatabasePath();
        if (QFileInfo::exists(path))
            return path;
        const QString building = path + QStringLiteral(".building");
        removeDatabase(building);
        { SQLiteStore schema(SQLiteStore::Location::file(building)); }
        auto began = std::chrono::steady_clock::now();
        generateRaw(building);
        const double rawSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        began = std::chrono::steady_clock::now();
        addRollups(building);
        const double rollupSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        std::fprintf(stderr, "built %s: raw rows in %.1f s, their roll-ups in %.1f s\n", qPrintable(path),
                     rawSeconds, rollupSeconds);
        std::filesystem::rename(building.toStdString(), path.toStdString());
        return path;
    }();
    return path;
}

QString freshCopyOfThirtyDays()
{
    const QString copy = thirtyDayDatabase() + QStringLiteral(".work");
    for (const char* suffix : {"-wal", "-shm"})
        std::filesystem::remove((copy + QLatin1String(suffix)).toStdString());
    std::filesystem::copy_file(thirtyDayDatabase().toStdString(), copy.toStdString(),
                               std::filesystem::copy_options::overwrite_existing);
    return copy;
}

} // namespace

// Five-sample batches as the probe cycle writes them: one committed row per sample.
static void BM_InsertFiveSampleBatch(benchmark::State& state)
{
    const QString path = QStringLiteral("/tmp/polvarine-bench-insert.sqlite3");
    removeDatabase(path);
    SQLiteStore store(SQLiteStore::Location::file(path));
    std::mt19937 rng(1);
    std::int64_t n = 1;
    for (auto _ : state) {
        ProbeBatch batch = makeBatch(rng, n, kDataStart + 4.5 * static_cast<double>(n));
        ++n;
        run(store.insertSamples(std::move(batch)));
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["batches/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InsertFiveSampleBatch)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The quality refresh and the history screen read a day of raw samples.
static void BM_Read24HourWindow(benchmark::State& state)
{
    SQLiteStore store(SQLiteStore::Location::file(thirtyDayDatabase()));
    std::size_t rows = 0;
    for (auto _ : state)
        rows = run(store.samples(kDataEnd - kDay, kDataEnd)).size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_Read24HourWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

// Roll-up reads as the history screen and the dossier make them: hour buckets for a month, minute
// buckets for up to a week (the 30-day minute read is there for comparison).
static void BM_ReadRollups(benchmark::State& state)
{
    SQLiteStore store(SQLiteStore::Location::file(thirtyDayDatabase()));
    const double width = static_cast<double>(state.range(0));
    const double days = static_cast<double>(state.range(1));
    std::size_t rows = 0;
    for (auto _ : state)
        rows = run(store.rollups(width, kDataEnd - days * kDay, kDataEnd)).size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_ReadRollups)
    ->ArgNames({"width", "days"})
    ->Args({3600, 30})
    ->Args({60, 7})
    ->Args({60, 30})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A pass under the `long` policy whose cut-off moves by an hour: each one rolls up and deletes a
// whole hour of raw samples (the passes in between roll nothing up).
static void BM_RollUpAndPruneHourlyPass(benchmark::State& state)
{
    const QString copy = freshCopyOfThirtyDays();
    {
        SQLiteStore store(SQLiteStore::Location::file(copy));
        double now = kDataEnd + 3600;
        for (auto _ : state) {
            run(store.rollUpAndPrune(RetentionPolicy::longTerm(), now));
            now += 3600;
        }
    }
    removeDatabase(copy);
}
BENCHMARK(BM_RollUpAndPruneHourlyPass)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

// The first pass after the program was off for a day: a whole day of raw samples to roll up.
static void BM_RollUpAndPruneAfterADayOff(benchmark::State& state)
{
    const QString copy = freshCopyOfThirtyDays();
    {
        SQLiteStore store(SQLiteStore::Location::file(copy));
        for (auto _ : state)
            run(store.rollUpAndPrune(RetentionPolicy::longTerm(), kDataEnd + kDay));
    }
    removeDatabase(copy);
}
BENCHMARK(BM_RollUpAndPruneAfterADayOff)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Database size per day of monitoring, and where it goes.
static void BM_BytesPerDay(benchmark::State& state)
{
    const QString path = thirtyDayDatabase();
    for (auto _ : state)
        benchmark::DoNotOptimize(QFileInfo(path).size());
    state.counters["MB/day"] = static_cast<double>(QFileInfo(path).size()) / 30 / 1e6;
    sqlite3* db = nullptr;
    check(db, sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), "open");
    state.counters["raw rows"] = static_cast<double>(scalar(db, "SELECT COUNT(*) FROM network_samples;"));
    sqlite3_stmt* st = nullptr;
    check(db,
          sqlite3_prepare_v2(db, "SELECT name, SUM(pgsize) FROM dbstat GROUP BY name HAVING SUM(pgsize) > 300000 ORDER BY 2 DESC;", -1, &st,
                             nullptr),
          "dbstat");
    std::fprintf(stderr, "bytes per day by table and index:\n");
    while (sqlite3_step(st) == SQLITE_ROW)
        std::fprintf(stderr, "  %-32s %8.2f MB/day\n", reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                     static_cast<double>(sqlite3_column_int64(st, 1)) / 30 / 1e6);
    sqlite3_finalize(st);
    sqlite3_close(db);
}
BENCHMARK(BM_BytesPerDay)->Iterations(1);

BENCHMARK_MAIN();
