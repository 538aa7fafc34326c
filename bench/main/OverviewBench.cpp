// What one repaint of the overview costs in its model work: copying the snapshot out of the model's
// values and deriving the hero texts, the culprit chain and the panel figures from a full history
// (500 batches of four samples, 240 Wi-Fi readings).

#include "ui/main/MainLogic.h"
#include "ui/main/OverviewStatus.h"

#include <benchmark/benchmark.h>

#include <QUuid>

using namespace pv;

namespace {

constexpr Timestamp kNow = 1'765'270'800.0;

OverviewSnapshot fullHistory()
{
    OverviewSnapshot s;
    s.isMonitoring = true;
    s.attribution.location = FaultLocation::router;
    s.verdict.confidence = {240, 600};
    s.verdict.medianRtt = 14;
    s.verdict.lossRatio = 0.01;
    for (int i = 0; i < 500; ++i) {
        ProbeBatch b;
        b.id = QUuid::createUuid();
        b.timestamp = kNow - 2500 + i * 5;
        for (ProbeKind kind : allProbeKinds()) {
            NetworkSample x;
            x.id = QUuid::createUuid();
            x.timestamp = b.timestamp;
            x.target = ProbeTarget(kind, rawValue(kind), QStringLiteral("192.0.2.1"));
            x.success = i % 17 != 0;
            if (x.success)
                x.latencyMilliseconds = 3.0 + i % 9;
            b.samples.push_back(x);
        }
        s.recentBatches.push_back(b);
    }
    for (int i = 0; i < 240; ++i) {
        WifiSnapshot w;
        w.timestamp = kNow - 2400 + i * 10;
        w.rssi = -55 - i % 10;
        s.wifiSnapshots.push_back(w);
    }
    return s;
}

void BM_SnapshotCopy(benchmark::State& state)
{
    const OverviewSnapshot model = fullHistory();
    for (auto _ : state) {
        OverviewSnapshot copy = model;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_SnapshotCopy);

void BM_OverviewTexts(benchmark::State& state)
{
    const OverviewSnapshot s = fullHistory();
    for (auto _ : state) {
        benchmark::DoNotOptimize(overviewStatusLevel(s));
        benchmark::DoNotOptimize(liveStatusLine(s));
        benchmark::DoNotOptimize(measurementFreshnessLabel(s, kNow));
        benchmark::DoNotOptimize(culpritChainSegments(s, kNow));
        benchmark::DoNotOptimize(recentRSSIValues(s));
    }
}
BENCHMARK(BM_OverviewTexts);

void BM_PanelMetrics(benchmark::State& state)
{
    const OverviewSnapshot s = fullHistory();
    for (auto _ : state)
        benchmark::DoNotOptimize(panelMetrics(s, kNow));
}
BENCHMARK(BM_PanelMetrics);

} // namespace

BENCHMARK_MAIN();
