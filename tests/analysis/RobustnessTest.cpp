// Thousands of random observation sets, with missing fields, timestamps out of order and extreme
// (finite) values: no engine may crash, and every score, percentage and confidence stays in range.
#include "AnalysisFixtures.h"

#include "core/analysis/Advice.h"
#include "core/analysis/Attribution.h"
#include "core/analysis/IncidentClassifier.h"
#include "core/analysis/QualityEvaluator.h"
#include "core/analysis/Verdict.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <random>

using namespace pv;
using namespace pv::test;

namespace {

constexpr double kMax = std::numeric_limits<double>::max();

class Generator {
public:
    Generator(std::uint64_t seed, bool physical) : rng_(seed), physical_(physical)
    {
        for (int i = 0; i < 6; ++i)
            batches_.push_back(QUuid::createUuid());
    }

    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    int upTo(int n) { return static_cast<int>(rng_() % static_cast<std::uint64_t>(n + 1)); }
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }

    template <typename T>
    T pick(std::initializer_list<T> values)
    {
        return *(values.begin() + upTo(static_cast<int>(values.size()) - 1));
    }

    // physical: values a real probe could report (non-negative latencies, ratios 0-1, sane clocks).
    double latency()
    {
        if (chance(0.1))
            return physical_ ? pick({0.0, 1e-300, 1e6, 1e12, 1e300}) : pick({-1.0, -1e300, -kMax, kMax, 1e300, 0.0});
        return uniform(0, 2000);
    }
    double loss()
    {
        if (!physical_ && chance(0.1))
            return pick({-5.0, 1e300, -1e300, kMax});
        return chance(0.5) ? 0.0 : pick({uniform(0, 1), 1.0, 1.0 / 3, 2.0 / 3});
    }
    Timestamp timestamp(Timestamp base)
    {
        if (chance(0.03))
            return physical_ ? pick({0.0, 1e15, -1e15}) : pick({-kMax, kMax, 1e300, -1e300});
        return base + uniform(-900, 900);
    }
    std::optional<int> signal()
    {
        if (chance(0.15))
            return std::nullopt;
        if (chance(0.1))
            return pick({std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 0});
        return upTo(90) - 100;
    }

    std::vector<NetworkSample> samples(Timestamp base)
    {
        std::vector<NetworkSample> out;
        const int n = upTo(chance(0.2) ? 12 : 220);
        for (int i = 0; i < n; ++i) {
            NetworkSample s;
            s.batchID = batches_[static_cast<std::size_t>(upTo(5))];
            s.timestamp = chance(0.7) ? base - 600 + i * 4.5 : timestamp(base);
            s.target.kind = pick({ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::publicIP, ProbeKind::dns, ProbeKind::http});
            if (chance(0.8))
                s.latencyMilliseconds = latency();
            s.success = chance(0.8) ? s.latencyMilliseconds.has_value() : chance(0.5);
            if (chance(0.85))
                s.packetLoss = loss();
            out.push_back(s);
        }
        return out;
    }

    std::vector<WifiSnapshot> wifi(Timestamp base)
    {
        std::vector<WifiSnapshot> out;
        const int n = upTo(25);
        for (int i = 0; i < n; ++i) {
            WifiSnapshot w = wifiReading(chance(0.8) ? base - 600 + i * 8 : timestamp(base), signal(), signal(),
                                         pick({QStringLiteral("a"), QStringLiteral("b")}), chance(0.9),
                                         chance(0.8) ? std::optional<double>(physical_ ? uniform(0, 2400) : pick({-kMax, kMax, 0.0}))
                                                     : std::nullopt);
            if (chance(0.1))
                w.bssid.reset();
            out.push_back(w);
        }
        return out;
    }

    std::vector<Incident> incidents(Timestamp base)
    {
        std::vector<Incident> out;
        const int n = upTo(6);
        for (int i = 0; i < n; ++i) {
            const Timestamp start = timestamp(base);
            std::optional<Timestamp> end;
            if (chance(0.7))
                end = chance(0.8) ? start + uniform(0, 3600) : timestamp(base);
            out.push_back(incident(static_cast<IncidentClassification>(upTo(6)), start, end));
        }
        return out;
    }

    std::vector<DiagnosticEvent> events(Timestamp base)
    {
        std::vector<DiagnosticEvent> out;
        const int n = upTo(4);
        for (int i = 0; i < n; ++i) {
            DiagnosticEvent e;
            e.timestamp = timestamp(base);
            e.kind = chance(0.7) ? DiagnosticEventKind::pathChanged : DiagnosticEventKind::wake;
            e.details = chance(0.5) ? QStringLiteral("No default route was available during the probe cycle.")
                                    : QStringLiteral("Path satisfied.");
            out.push_back(e);
        }
        return out;
    }

    std::optional<QualityBaseline> baseline()
    {
        if (chance(0.5))
            return std::nullopt;
        QualityBaseline b;
        b.absoluteScore = physical_ ? uniform(0, 10) : pick({0.0, -3.0, 1e-300, 1e300, uniform(0, 10)});
        if (chance(0.7))
            b.assessment.gateway.averageLatency = latency();
        if (chance(0.7))
            b.assessment.publicIP.averageLatency = latency();
        if (chance(0.5))
            b.assessment.dns.averageLatency = latency();
        if (chance(0.5))
            b.assessment.http.averageLatency = latency();
        return b;
    }

    AttributionThresholds thresholds()
    {
        if (chance(0.7))
            return AttributionThresholds::standard();
        AttributionThresholds t;
        t.weakSignalDbm = upTo(100) - 100;
        t.unusableSignalDbm = pick({std::numeric_limits<std::int64_t>::min(), std::int64_t{-80}, std::numeric_limits<std::int64_t>::max()});
        t.criticalSnrDb = upTo(40) - 5;
        t.localLinkLossRatio = uniform(-1, 2);
        t.upstreamComfortableMs = uniform(-100, 1000);
        t.minimumSamplesPerLeg = pick({std::numeric_limits<std::int64_t>::min(), std::int64_t{0}, std::int64_t{3},
                                       std::numeric_limits<std::int64_t>::max()});
        t.minimumWindowSeconds = uniform(-10, 100);
        return t;
    }

private:
    std::mt19937_64 rng_;
    bool physical_;
    std::vector<QUuid> batches_;
};

bool hasUndefinedNumber(const QString& text)
{
    return text.contains(QLatin1String("nan")) || text.contains(QLatin1String("inf"));
}

void checkAttribution(const FaultAttribution& a, bool physical)
{
    const int confidence = rawValue(a.confidence);
    ASSERT_GE(confidence, 0);
    ASSERT_LE(confidence, 2);
    const double stored = storedValue(a.confidence);
    ASSERT_TRUE(stored == 0.4 || stored == 0.7 || stored == 0.9);
    ASSERT_FALSE(a.headline.isEmpty());
    if (a.isOutage) {
        ASSERT_EQ(a.severity, IncidentSeverity::critical);
    }
    if (a.isMeasurementArtefact) {
        ASSERT_EQ(a.location, FaultLocation::none);
    }
    if (physical) {
        for (const QString& s : a.evidence + a.caveats)
            ASSERT_FALSE(hasUndefinedNumber(s)) << s.toStdString();
    }
}

void checkVerdict(const ConnectionVerdict& v, bool physical)
{
    ASSERT_NE(v.overallStatus(), PVStatus::critical);
    ASSERT_GE(v.confidence.sampleCount, 0);
    ASSERT_GE(v.confidence.spanSeconds, 0);
    for (UsageCapability u : allUsageCapabilities())
        ASSERT_TRUE(v.ratings[static_cast<std::size_t>(u)].has_value());
    ASSERT_FALSE(v.evidence.isEmpty());
    ASSERT_FALSE(v.confidence.description().isEmpty());
    if (physical) {
        if (v.lossRatio) {
            ASSERT_GE(*v.lossRatio, 0);
            ASSERT_LE(*v.lossRatio, 1);
        }
        for (const QString& s : v.evidence)
            ASSERT_FALSE(hasUndefinedNumber(s)) << s.toStdString();
    }
}

void checkMetric(const QualityMetricSummary& m)
{
    ASSERT_GE(m.totalCount, 0);
    ASSERT_GE(m.failureCount, 0);
    ASSERT_LE(m.failureCount, m.totalCount);
    ASSERT_LE(m.spikeCount, m.totalCount);
    if (m.successRatio) {
        ASSERT_GE(*m.successRatio, 0);
        ASSERT_LE(*m.successRatio, 1);
    }
}

void checkQuality(const QualityAssessment& a, bool physical)
{
    ASSERT_GE(a.score, 0);
    ASSERT_LE(a.score, 10);
    ASSERT_GE(a.absoluteScore, 0);
    ASSERT_LE(a.absoluteScore, 10);
    ASSERT_GE(a.percentage, 0);
    ASSERT_LE(a.percentage, 100);
    ASSERT_GE(a.elapsedSeconds, 0);
    ASSERT_GE(a.dropoutCount, 0);
    ASSERT_FALSE(a.weaknessSummary.isEmpty());
    ASSERT_FALSE(a.summary.isEmpty());
    for (const QualityMetricSummary* m : {&a.gateway, &a.publicIP, &a.dns, &a.http, &a.wifi})
        checkMetric(*m);
    if (physical) {
        // A ready ten-minute assessment may become the saved reference: it must encode.
        QualityBaseline b;
        b.absoluteScore = a.absoluteScore;
        b.assessment = a;
        ASSERT_NO_THROW(b.encode());
    }
}

void runRandomSets(std::uint64_t seed, bool physical, int iterations)
{
    Generator g(seed, physical);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    int ready = 0;
    for (int i = 0; i < iterations && std::chrono::steady_clock::now() < deadline; ++i) {
        SCOPED_TRACE(i);
        const Timestamp base = 1'700'000'000 + g.uniform(0, 1e6);
        std::vector<NetworkSample> samples = g.samples(base);
        if (g.chance(0.3))
            std::shuffle(samples.begin(), samples.end(), std::mt19937(static_cast<unsigned>(i)));
        const std::vector<WifiSnapshot> wifi = g.wifi(base);
        const std::vector<Incident> incidents = g.incidents(base);
        const std::vector<DiagnosticEvent> events = g.events(base);
        const std::optional<QualityBaseline> baseline = g.baseline();
        const AttributionEngine engine(g.thresholds());

        const FaultAttribution a = engine.attribute(samples, wifi, base);
        ASSERT_NO_FATAL_FAILURE(checkAttribution(a, physical));
        ASSERT_EQ(a, engine.attribute(samples, wifi, base + 60));

        const ConnectionVerdict v = VerdictEngine::assess(samples, base);
        ASSERT_NO_FATAL_FAILURE(checkVerdict(v, physical));

        const auto windows = allQualityWindows();
        const QualityWindow window = windows[static_cast<std::size_t>(g.upTo(static_cast<int>(windows.size()) - 1))];
        MeasurementSession session;
        session.startedAt = g.chance(0.8) ? base - g.uniform(0, 90000) : g.timestamp(base);
        const QualityAssessment q =
            QualityEvaluator::evaluate(window, session, base, samples, wifi, incidents, events, baseline, base + g.uniform(0, 100));
        ASSERT_NO_FATAL_FAILURE(checkQuality(q, physical));
        if (q.availability == QualityAvailability::ready)
            ++ready;

        const auto causes = IncidentClassifier::likelyCauses(incidents, base);
        ASSERT_LE(causes.size(), 3u);
        ASSERT_FALSE(IncidentClassifier::recommendation(incidents).isEmpty());
        ASSERT_FALSE(AdviceEngine::advise(a, attribution::assessRadio(engine.thresholds(), wifi)).isEmpty());
    }
    // The generator must reach the scoring path, not only the collecting one.
    EXPECT_GT(ready, iterations / 10);
}

} // namespace

TEST(Robustness, PhysicallyPossibleButExtremeObservations)
{
    runRandomSets(0x5eed0001, true, 2500);
}

TEST(Robustness, HostileValues)
{
    runRandomSets(0x5eed0002, false, 2500);
}
