// Evidence store speed on a realistic month of data (see bench/support/BenchDatabase.h).
#include "bench/support/BenchDatabase.h"
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

using namespace pv;
using namespace pv::bench;

namespace {

// Runs a store operation to its end on a private loop.
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

// Writes a database file (and its WAL) out to disk, and with `drop` also drops it from the page
// cache, so that the next read comes from disk. A fresh copy is always written out first: its
// dirty pages would otherwise be flushed by the first checkpoint's sync, inside the measurement.
void settleOnDisk(const QString& path, bool drop)
{
    for (const char* suffix : {"", "-wal"}) {
        const int fd = ::open((path + QLatin1String(suffix)).toUtf8().constData(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        if (drop)
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

void dropFromPageCache(const QString& path) { settleOnDisk(path, true); }

// Five-sample batches as the probe cycle writes them, one committed row per sample, into the
// 30-day database, right after its last batch.
static void BM_InsertFiveSampleBatch(benchmark::State& state)
{
    const QString copy = freshCopyOf(thirtyDayDatabase());
    settleOnDisk(copy, false);
    {
        SQLiteStore store(SQLiteStore::Location::file(copy));
        std::mt19937 rng(1);
        std::int64_t n = 1;
        for (auto _ : state) {
            ProbeBatch batch = benchBatch(rng, n, kDataEnd + 4.5 * static_cast<double>(n));
            ++n;
            run(store.insertSamples(std::move(batch)));
        }
    }
    removeDatabase(copy);
    state.SetItemsProcessed(state.iterations());
    state.counters["batches/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InsertFiveSampleBatch)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The quality refresh and the history screen read a day of raw samples: warm (the store open, the
// file in the page cache), repeated for at least two seconds.
static void BM_Read24HourWindow(benchmark::State& state)
{
    SQLiteStore store(SQLiteStore::Location::file(thirtyDayDatabase()));
    std::size_t rows = run(store.samples(kDataEnd - kDay, kDataEnd)).size();
    for (auto _ : state)
        rows = run(store.samples(kDataEnd - kDay, kDataEnd)).size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_Read24HourWindow)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The history's month: the router and provider points of 30 days (all raw samples kept), the parts
// at once, and the count of every sample.
static void BM_VisitMonthOfSamplePoints(benchmark::State& state)
{
    SQLiteStore store(SQLiteStore::Location::file(thirtyDayDatabase()));
    struct alignas(64) Count { // a cache line each: the parts count at once
        std::size_t n = 0;
    };
    std::vector<Count> counts(SQLiteStore::periodReadParts());
    std::int64_t total = 0;
    auto visitAll = [&] {
        std::vector<std::function<void(const SamplePoint&)>> visitors;
        for (Count& count : counts) {
            count.n = 0;
            visitors.push_back([&count](const SamplePoint&) { ++count.n; });
        }
        total = run(store.visitSamples(kDataEnd - 30 * kDay, kDataEnd, {ProbeKind::gateway, ProbeKind::publicIP},
                                       std::move(visitors)))
                    .total;
    };
    visitAll();
    for (auto _ : state)
        visitAll();
    std::size_t rows = 0;
    for (const Count& count : counts)
        rows += count.n;
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["samples"] = static_cast<double>(total);
}
BENCHMARK(BM_VisitMonthOfSamplePoints)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The first read after start-up: a store just opened, its file out of the page cache.
static void BM_Read24HourWindowCold(benchmark::State& state)
{
    std::size_t rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<SQLiteStore>(SQLiteStore::Location::file(thirtyDayDatabase()));
        dropFromPageCache(thirtyDayDatabase());
        state.ResumeTiming();
        rows = run(store->samples(kDataEnd - kDay, kDataEnd)).size();
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_Read24HourWindowCold)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Roll-up reads as the history screen and the dossier make them: hour buckets for a month, minute
// buckets for up to a week (the 30-day minute read is there for comparison), from the month the
// standard policy leaves: roll-ups of the older weeks, written between the minute buckets.
static void BM_ReadRollups(benchmark::State& state)
{
    SQLiteStore store(SQLiteStore::Location::file(standardRetentionDatabase()));
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
    settleOnDisk(copy, false);
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

enum PolicyArg { standardPolicy, longTermPolicy };
enum IdsArg { randomIds, timeOrderedIds };

// What the first pass after a day off finds: under the standard policy a database already pruned to
// a week of raw samples, under the long-term one the whole month; both have a day to roll up.
const QString& dayOffDatabase(int policy, int ids)
{
    if (ids == randomIds)
        return thirtyDayDatabaseWithRandomIds();
    return policy == standardPolicy ? standardRetentionDatabase() : thirtyDayDatabase();
}

// Bytes the pass writes into the write-ahead log: a reader holding its snapshot open keeps every
// checkpoint from resetting the log, so its final size is all that was written to it.
double walBytesOfPass(const QString& source, const RetentionPolicy& policy)
{
    const QString copy = freshCopyOf(source);
    settleOnDisk(copy, false);
    double bytes = 0;
    {
        SQLiteStore store(SQLiteStore::Location::file(copy));
        sqlite3* reader = nullptr;
        check(reader, sqlite3_open(copy.toUtf8().constData(), &reader), "open");
        check(reader, sqlite3_exec(reader, "BEGIN; SELECT COUNT(*) FROM events;", nullptr, nullptr, nullptr), "pin");
        const auto before = static_cast<double>(QFileInfo(copy + QStringLiteral("-wal")).size());
        run(store.rollUpAndPrune(policy, kDataEnd + kDay));
        bytes = static_cast<double>(QFileInfo(copy + QStringLiteral("-wal")).size()) - before;
        sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(reader);
    }
    removeDatabase(copy);
    return bytes;
}

// The first pass after the program was off for a day: a day of raw samples to roll up and delete,
// with the file cold (out of the page cache) or warm. Meanwhile a batch is written every 50 ms the
// way the probe cycle writes them; the longest of those waits is reported.
static void BM_FirstPruneAfterADayOff(benchmark::State& state)
{
    const int policyArg = static_cast<int>(state.range(0));
    const bool cold = state.range(1) != 0;
    const int ids = static_cast<int>(state.range(2));
    const RetentionPolicy policy = policyArg == standardPolicy ? RetentionPolicy::standard() : RetentionPolicy::longTerm();
    const QString& source = dayOffDatabase(policyArg, ids);
    double longestInsert = 0;
    int inserts = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString copy = freshCopyOf(source);
        settleOnDisk(copy, cold);
        auto store = std::make_unique<SQLiteStore>(SQLiteStore::Location::file(copy));
        if (!cold)
            run(store->samples(kDataEnd - kDay, kDataEnd)); // a read that warms the store's own cache
        state.ResumeTiming();

        asio::io_context io;
        bool pruned = false;
        std::exception_ptr error;
        const auto passBegan = std::chrono::steady_clock::now();
        double passSeconds = 0;
        asio::co_spawn(io, store->rollUpAndPrune(policy, kDataEnd + kDay), [&](std::exception_ptr e) {
            passSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - passBegan).count();
            error = e;
            pruned = true;
        });
        asio::co_spawn(
            io,
            [&]() -> rt::awaitable<void> {
                std::mt19937 rng(7);
                asio::steady_timer timer(io);
                // Bounded: at most 2000 batches (100 s of passing).
                for (std::int64_t n = 0; !pruned && n < 2000; ++n) {
                    const auto began = std::chrono::steady_clock::now();
                    co_await store->insertSamples(benchBatch(rng, n, kDataEnd + kDay + 4.5 * static_cast<double>(n)));
                    longestInsert = std::max(
                        longestInsert, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count());
                    ++inserts;
                    timer.expires_after(std::chrono::milliseconds(50));
                    co_await timer.async_wait(asio::use_awaitable);
                }
            },
            asio::detached);
        io.run();
        if (error)
            std::rethrow_exception(error);
        state.SetIterationTime(passSeconds);

        state.PauseTiming();
        store.reset();
        removeDatabase(copy);
        state.ResumeTiming();
    }
    state.counters["longest insert ms"] = longestInsert;
    state.counters["inserts"] = inserts;
    state.counters["WAL MB"] = walBytesOfPass(source, policy) / 1e6;
}
BENCHMARK(BM_FirstPruneAfterADayOff)
    ->ArgNames({"long", "cold", "v7"})
    ->Args({standardPolicy, 0, timeOrderedIds})
    ->Args({standardPolicy, 1, timeOrderedIds})
    ->Args({longTermPolicy, 0, timeOrderedIds})
    ->Args({longTermPolicy, 1, timeOrderedIds})
    ->Args({longTermPolicy, 0, randomIds})
    ->Args({longTermPolicy, 1, randomIds})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();

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
