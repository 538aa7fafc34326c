// Evidence store speed on a realistic month of data (see bench/support/BenchDatabase.h).
#include "bench/support/BenchDatabase.h"
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
using namespace pv::bench;

namespace {

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

std::int64_t scalar(sqlite3* db, const char* sql)
{
    sqlite3_stmt* st = nullptr;
    check(db, sqlite3_prepare_v2(db, sql, -1, &st, nullptr), sql);
    std::int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return v;
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
        ProbeBatch batch = benchBatch(rng, n, kDataStart + 4.5 * static_cast<double>(n));
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
    const QString copy = freshCopyOf(thirtyDayDatabase());
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
    const QString copy = freshCopyOf(thirtyDayDatabase());
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
