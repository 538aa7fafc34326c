// How long the analysis takes on the window sizes the application feeds it: the live 600 s window
// after every batch, and quality windows up to 24 hours.
#include "core/analysis/Advice.h"
#include "core/analysis/Attribution.h"
#include "core/analysis/IncidentClassifier.h"
#include "core/analysis/QualityEvaluator.h"
#include "core/analysis/Verdict.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace pv;

namespace {

constexpr Timestamp kStart = 1'700'000'000;

NetworkSample makeSample(ProbeKind kind, Timestamp t, const QUuid& batch, double latency, bool ok)
{
    NetworkSample s;
    s.id = QUuid::createUuid();
    s.batchID = batch;
    s.timestamp = t;
    s.target = ProbeTarget(kind, QStringLiteral("target"), QStringLiteral("192.0.2.1"));
    if (ok)
        s.latencyMilliseconds = latency;
    s.success = ok;
    s.packetLoss = ok ? 0.0 : 1.0;
    return s;
}

// A batch every 4.5 s with a DNS query on every fourth; about 1 % of the probes fail.
struct Data {
    std::vector<NetworkSample> samples;
    std::vector<WifiSnapshot> wifi;
};

Data observe(double seconds)
{
    Data d;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> jitter(0.8, 1.2);
    std::uniform_int_distribution<int> fail(0, 99);
    int batch = 0;
    for (Timestamp t = kStart; t < kStart + seconds; t += 4.5) {
        const QUuid id = QUuid::createUuid();
        d.samples.push_back(makeSample(ProbeKind::gateway, t, id, 4 * jitter(rng), fail(rng) != 0));
        d.samples.push_back(makeSample(ProbeKind::publicIP, t, id, 20 * jitter(rng), fail(rng) != 0));
        d.samples.push_back(makeSample(ProbeKind::publicIP, t, id, 22 * jitter(rng), fail(rng) != 0));
        d.samples.push_back(makeSample(ProbeKind::http, t, id, 90 * jitter(rng), fail(rng) != 0));
        if (++batch % 4 == 1)
            d.samples.push_back(makeSample(ProbeKind::dns, t, id, 30 * jitter(rng), fail(rng) != 0));
    }
    for (Timestamp t = kStart; t < kStart + seconds; t += 8) {
        WifiSnapshot w;
        w.timestamp = t;
        w.bssid = QStringLiteral("aa:aa:aa:aa:aa:01");
        w.rssi = -55;
        w.noise = -92;
        w.txRateMbps = 780;
        w.interfaceUp = true;
        d.wifi.push_back(w);
    }
    return d;
}

void BM_LiveWindowAnalysis(benchmark::State& state)
{
    // What the view model runs after each batch over the last 600 s.
    const Data d = observe(600);
    const AttributionEngine engine;
    for (auto _ : state) {
        const FaultAttribution a = engine.attribute(d.samples, d.wifi, kStart + 600);
        benchmark::DoNotOptimize(AdviceEngine::advise(a, std::nullopt));
        benchmark::DoNotOptimize(VerdictEngine::assess(d.samples, kStart + 600));
    }
    state.counters["samples"] = static_cast<double>(d.samples.size());
}
BENCHMARK(BM_LiveWindowAnalysis)->Unit(benchmark::kMicrosecond);

void BM_NewestMinuteAttribution(benchmark::State& state)
{
    // The second question the view model asks after each batch: is the newest minute an outage?
    const Data d = observe(600);
    std::vector<NetworkSample> minute;
    for (const NetworkSample& s : d.samples)
        if (s.timestamp >= kStart + 540)
            minute.push_back(s);
    const AttributionEngine engine;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.attribute(minute, {}, kStart + 600));
    state.counters["samples"] = static_cast<double>(minute.size());
}
BENCHMARK(BM_NewestMinuteAttribution)->Unit(benchmark::kMicrosecond);

void BM_QualityWindow(benchmark::State& state)
{
    const double seconds = static_cast<double>(state.range(0));
    const Data d = observe(seconds);
    MeasurementSession session;
    session.startedAt = kStart;
    const QualityWindow window = seconds <= 600 ? QualityWindow::tenMinutes
                               : seconds <= 3600 ? QualityWindow::oneHour
                                                 : QualityWindow::twentyFourHours;
    for (auto _ : state)
        benchmark::DoNotOptimize(QualityEvaluator::evaluate(window, session, kStart + seconds, d.samples, d.wifi, {}, {},
                                                            std::nullopt));
    state.counters["samples"] = static_cast<double>(d.samples.size());
}
BENCHMARK(BM_QualityWindow)->Arg(600)->Arg(3600)->Arg(86400)->Unit(benchmark::kMillisecond);

void BM_AttributionOverADay(benchmark::State& state)
{
    // The dossier attributes a whole report period at once.
    const Data d = observe(86400);
    const AttributionEngine engine;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.attribute(d.samples, d.wifi, kStart + 86400));
}
BENCHMARK(BM_AttributionOverADay)->Unit(benchmark::kMillisecond);

void BM_LikelyCauses(benchmark::State& state)
{
    std::vector<Incident> incidents;
    for (int i = 0; i < 120; ++i) {
        Incident inc;
        inc.startTimestamp = kStart + i * 600;
        inc.endTimestamp = inc.startTimestamp + 30 + i;
        inc.classification = static_cast<IncidentClassification>(i % 7);
        incidents.push_back(inc);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(IncidentClassifier::likelyCauses(incidents, kStart + 86400));
        benchmark::DoNotOptimize(IncidentClassifier::recommendation(incidents));
    }
}
BENCHMARK(BM_LikelyCauses)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
