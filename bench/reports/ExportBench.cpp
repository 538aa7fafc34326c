// The export of the last 24 hours of the month-long benchmark database (about 86,000 samples) as each
// retention policy leaves it: the whole export as the view model runs it, and its two halves (the
// five reads; the report, texts and files). Goal: the whole export under a second, the first one of
// a process included (the first repetition).
#include "bench/support/BenchDatabase.h"
#include "core/store/SQLiteStore.h"
#include "reports/ExportService.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace pv;
using namespace pv::bench;

namespace {


rt::awaitable<reports::ExportRecords> readWindow(SQLiteStore& store, Timestamp from, Timestamp to)
{
    reports::ExportRecords records;
    records.samples = co_await store.samples(from, to);
    records.wifiSnapshots = co_await store.wifiSnapshots(from, to);
    records.incidents = co_await store.incidents(from, to);
    records.events = co_await store.events(from, to);
    records.markers = co_await store.markers(from, to);
    co_return records;
}

} // namespace

// policy 0: standard, 1: long-term.
static const QString& monthOf(std::int64_t policy)
{
    return policy == 0 ? standardRetentionDatabase() : thirtyDayDatabase();
}

static void BM_ExportLast24Hours(benchmark::State& state)
{
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(monthOf(state.range(0))));
    QTemporaryDir documents;
    reports::ExportService service(store, {documents.path()});
    int samples = 0;
    for (auto _ : state)
        samples = run(service.runExport(ExportScope::last24Hours, kDataEnd)).report.stats.probeCount;
    state.counters["samples"] = samples;
}
BENCHMARK(BM_ExportLast24Hours)
    ->ArgName("policy")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3);

static void BM_ExportReadsOnly(benchmark::State& state)
{
    SQLiteStore store(SQLiteStore::Location::file(thirtyDayDatabase()));
    size_t rows = 0;
    for (auto _ : state)
        rows = run(readWindow(store, kDataEnd - kDay, kDataEnd)).samples.size();
    state.counters["samples"] = static_cast<double>(rows);
}
BENCHMARK(BM_ExportReadsOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

static void BM_ExportReportAndFilesOnly(benchmark::State& state)
{
    SQLiteStore store(SQLiteStore::Location::file(thirtyDayDatabase()));
    const reports::ExportRecords records = run(readWindow(store, kDataEnd - kDay, kDataEnd));
    const reports::ExportWindow window = reports::ExportService::makeWindow(ExportScope::last24Hours, kDataEnd);
    QTemporaryDir documents;
    for (auto _ : state) {
        state.PauseTiming();
        reports::ExportRecords copy = records;
        state.ResumeTiming();
        benchmark::DoNotOptimize(reports::ExportService::writeExport(documents.path(), window, kDataEnd, std::move(copy)));
    }
}
BENCHMARK(BM_ExportReportAndFilesOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

BENCHMARK_MAIN();
