// A dossier end to end from the month-long benchmark database as each retention policy leaves it
// (standard: raw week, roll-ups beyond; long-term: the raw month): assembly on the store's thread,
// every page painted, the document information filled in and the file renamed into place. Peak memory
// is reported as counters; one policy per process gives each its own peak. Goal for 30 days: under
// 3 s and 300 MB on both.
//
//   POLVARINE_DOSSIER_KEEP=<folder>   keep the PDFs there (to look at them)
#include "bench/support/BenchDatabase.h"
#include "core/store/SQLiteStore.h"
#include "reports/DossierBuilder.h"
#include "reports/DossierService.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <fstream>
#include <string>

using namespace pv;
using namespace pv::bench;

namespace {

double peakRssMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// VmHWM or VmRSS of /proc/self/status in megabytes.
double statusMegabytes(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::stod(line.substr(key.size() + 1)) / 1024.0;
    return 0;
}

QUrl createOnGui(PdfDossierService& service, DossierRequest request, const QString& folder)
{
    bool done = false;
    std::exception_ptr error;
    QUrl url;
    asio::co_spawn(rt::QtExecutor(), service.create(request, QUrl::fromLocalFile(folder)),
                   [&](std::exception_ptr e, QUrl u) {
                       error = e;
                       url = u;
                       done = true;
                   });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (error)
        std::rethrow_exception(error);
    return url;
}

void BM_DossierEndToEnd(benchmark::State& state)
{
    const double days = static_cast<double>(state.range(0));
    const QString database = freshCopyOf(state.range(1) == 0 ? standardRetentionDatabase() : thirtyDayDatabase());
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(database));
    PdfDossierService service(store, QStringLiteral("1.0"), [] { return kDataEnd; });
    QTemporaryDir scratch;
    const QString keep = qEnvironmentVariable("POLVARINE_DOSSIER_KEEP");
    const QString folder = keep.isEmpty() ? scratch.path() : keep;
    const DossierRequest request{kDataEnd - days * kDay, kDataEnd, false, QStringLiteral("HU")};
    const double before = peakRssMegabytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(createOnGui(service, request, folder));
    state.counters["peakRssMB"] = peakRssMegabytes();
    state.counters["rssBeforeMB"] = before;
}
// policy 0: standard, 1: long-term.
BENCHMARK(BM_DossierEndToEnd)
    ->ArgNames({"days", "policy"})
    ->Args({7, 0})
    ->Args({30, 0})
    ->Args({30, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime();

// The render alone (13 pages, document information, rename) of the 30-day document; its peak memory
// is measured from a reset high-water mark, so the assembly's reads do not hide it.
void BM_RenderThirtyDays(benchmark::State& state)
{
    static const QString database = freshCopyOf(standardRetentionDatabase());
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(database));
    bool done = false;
    DossierDocument document;
    const DossierRequest request{kDataEnd - 30 * kDay, kDataEnd, false, QStringLiteral("HU")};
    asio::co_spawn(rt::QtExecutor(), DossierBuilder::makeDocument(request, kDataEnd, *store, QStringLiteral("1.0")),
                   [&](std::exception_ptr, DossierDocument d) {
                       document = std::move(d);
                       done = true;
                   });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const auto pages = DossierPaginator::pages(document);
    QTemporaryDir scratch;
    const QUrl url = QUrl::fromLocalFile(scratch.filePath("dossier.pdf"));
    malloc_trim(0);
    const double before = statusMegabytes("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5"; // resets the peak resident size
    for (auto _ : state)
        DossierPDFRenderer().render(document, pages, url);
    state.counters["renderPeakRssMB"] = statusMegabytes("VmHWM");
    state.counters["rssBeforeMB"] = before;
    state.counters["pages"] = static_cast<double>(pages.size());
}
BENCHMARK(BM_RenderThirtyDays)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
