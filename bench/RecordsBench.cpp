// How long the baseline's JSON form takes to write and read: it is saved every ten minutes.
#include "core/records/Quality.h"

#include <benchmark/benchmark.h>

namespace {
pv::QualityBaseline sampleBaseline()
{
    pv::QualityBaseline b;
    b.savedAt = 1700000000.25;
    b.sourceStart = 1699999400;
    b.sourceEnd = 1700000000;
    b.nodeFingerprint = {QStringLiteral("Otthon"), QStringLiteral("aa:bb:cc:dd:ee:ff"), 36, QStringLiteral("5 GHz")};
    b.absoluteScore = 9.4;
    b.assessment.title = QStringLiteral("Kiváló");
    b.assessment.gateway = {QStringLiteral("gateway"), QStringLiteral("Gateway"), 1.0, 3.2, 9.1, 0, 450, 0, {}, {}, {}, 0};
    return b;
}
} // namespace

static void BM_BaselineEncode(benchmark::State& state)
{
    const auto b = sampleBaseline();
    for (auto _ : state)
        benchmark::DoNotOptimize(b.encode());
}
BENCHMARK(BM_BaselineEncode);

static void BM_BaselineDecode(benchmark::State& state)
{
    const auto text = sampleBaseline().encode();
    for (auto _ : state)
        benchmark::DoNotOptimize(pv::QualityBaseline::decode(text));
}
BENCHMARK(BM_BaselineDecode);

BENCHMARK_MAIN();
