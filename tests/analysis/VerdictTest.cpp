// The per-usage verdict: limits per usage, the collecting and all-failed verdicts, jitter in time
// order, the evidence sentences and the confidence description.
#include "AnalysisFixtures.h"

#include "core/analysis/Verdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace pv;
using namespace pv::test;

namespace {
using R = CapabilityRating;
using U = UsageCapability;

// n public samples spread evenly over span seconds (first at 0, last at span), all at latency.
std::vector<NetworkSample> evenly(int n, double span, std::optional<double> latency, double loss = 0)
{
    std::vector<NetworkSample> s;
    for (int i = 0; i < n; ++i) {
        const double t = i == n - 1 ? span : span * i / (n - 1);
        s.push_back(sample(ProbeKind::publicIP, t, latency, latency ? std::optional<double>(loss) : 1.0));
    }
    return s;
}

// Public samples with these latencies, in time order, 5 s apart.
std::vector<NetworkSample> inTimeOrder(const std::vector<double>& latencies, double loss = 0)
{
    std::vector<NetworkSample> s;
    addLatencies(s, ProbeKind::publicIP, latencies, loss, 0, 5);
    return s;
}

std::vector<double> repeated(double value, int n, std::vector<double> tail = {})
{
    std::vector<double> v(static_cast<std::size_t>(n), value);
    v.insert(v.end(), tail.begin(), tail.end());
    return v;
}

ConnectionVerdict assess(const std::vector<NetworkSample>& s) { return VerdictEngine::assess(s, 0); }
} // namespace

TEST(VerdictCollecting, TooFewSamplesOrTooShortASpan)
{
    for (const auto& s : {evenly(19, 600, 20), evenly(40, 59, 20), evenly(25, 59.9, 20)}) {
        const ConnectionVerdict v = assess(s);
        EXPECT_EQ(ratingsOf(v), (std::array<R, 4>{R::unknown, R::unknown, R::unknown, R::unknown}));
        EXPECT_EQ(v.evidence, QStringList{QStringLiteral("Még gyűjtjük az adatot. Amíg nincs elég mérés, nem mondunk ítéletet.")});
        EXPECT_EQ(v.overallStatus(), PVStatus::neutral);
        EXPECT_FALSE(v.weakestCapability());
        EXPECT_EQ(v.medianRtt, 20.0); // reported even while collecting
        EXPECT_FALSE(v.jitter);
        EXPECT_FALSE(v.lossRatio);
    }
    const ConnectionVerdict none = assess({sample(ProbeKind::gateway, 0, 3)});
    EXPECT_EQ(none.confidence, (VerdictConfidence{0, 0}));
    EXPECT_FALSE(none.medianRtt);
}

TEST(VerdictOutage, TwentyFailedSamplesOverExactlySixtySeconds)
{
    auto s = evenly(20, 60, std::nullopt);
    for (auto& x : s)
        x.packetLoss = 0.5; // ignored: nothing answered, so the loss is 1
    const ConnectionVerdict v = assess(s);
    EXPECT_EQ(ratingsOf(v), (std::array<R, 4>{R::poor, R::poor, R::poor, R::poor}));
    EXPECT_EQ(v.lossRatio, 1.0);
    EXPECT_FALSE(v.medianRtt);
    EXPECT_FALSE(v.jitter);
    EXPECT_EQ(v.evidence, (QStringList{QStringLiteral("Egyetlen mérés sem jutott célba 20 próbálkozásból."),
                                       QStringLiteral("Ez teljes kiesés — nem lassulás, hanem a kapcsolat hiánya.")}));
    EXPECT_EQ(v.weakestCapability(), U::videoCall);
    EXPECT_EQ(v.overallStatus(), PVStatus::serious);
}

TEST(VerdictLimits, PerUsageRatings)
{
    struct Case {
        const char* name;
        std::vector<NetworkSample> samples;
        std::array<R, 4> ratings;
        std::optional<U> weakest;
        PVStatus status;
    };
    const Case cases[] = {
        {"median 130, p95 200", inTimeOrder(repeated(130, 19, {200})), {R::usable, R::poor, R::comfortable, R::comfortable},
         U::gaming, PVStatus::serious},
        {"median 110, p95 200", inTimeOrder(repeated(110, 19, {200})), {R::usable, R::usable, R::comfortable, R::comfortable},
         U::videoCall, PVStatus::watch},
        {"median exactly 100", inTimeOrder(repeated(100, 20)), {R::comfortable, R::usable, R::comfortable, R::comfortable},
         U::gaming, PVStatus::watch},
        {"median 50, p95 250", inTimeOrder(repeated(50, 19, {250})), {R::comfortable, R::poor, R::comfortable, R::comfortable},
         U::gaming, PVStatus::serious},
        {"loss 0.02", inTimeOrder(repeated(20, 20), 0.02), {R::usable, R::poor, R::comfortable, R::comfortable}, U::gaming,
         PVStatus::serious},
        {"all fine", inTimeOrder(repeated(20, 20)), {R::comfortable, R::comfortable, R::comfortable, R::comfortable},
         std::nullopt, PVStatus::good},
        {"median 1200", inTimeOrder(repeated(1200, 20)), {R::poor, R::poor, R::poor, R::poor}, U::videoCall, PVStatus::serious},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ConnectionVerdict v = assess(c.samples);
        EXPECT_EQ(ratingsOf(v), c.ratings);
        EXPECT_EQ(v.weakestCapability(), c.weakest);
        EXPECT_EQ(v.overallStatus(), c.status);
    }
    const ConnectionVerdict steady = assess(inTimeOrder(repeated(130, 19, {200})));
    EXPECT_EQ(steady.medianRtt, 130.0);
    EXPECT_EQ(steady.evidence.first(), QStringLiteral("A válaszidő általában 130 ms, a lassabb tizede 200 ms."));
    EXPECT_EQ(assess(inTimeOrder(repeated(20, 20), 0.02)).evidence.last(), QStringLiteral("A csomagok 2.0%-a nem ért célba."));
}

TEST(VerdictEvidence, LossAndJitterSentences)
{
    EXPECT_EQ(assess(inTimeOrder(repeated(20, 20), 0.001)).evidence.last(), QStringLiteral("Minden csomag célba ért."));
    EXPECT_EQ(assess(inTimeOrder(repeated(20, 20), 0.0011)).evidence.last(), QStringLiteral("A csomagok 0.1%-a nem ért célba."));

    std::vector<double> thirty, thirtyHalf;
    for (int i = 0; i < 20; ++i) {
        thirty.push_back(i % 2 ? 50 : 20);
        thirtyHalf.push_back(i % 2 ? 50.5 : 20);
    }
    const ConnectionVerdict a = assess(inTimeOrder(thirty));
    EXPECT_EQ(a.jitter, 30.0);
    EXPECT_EQ(a.evidence[1], QStringLiteral("A válaszidő ingadozása 30 ms — ez hívásnál nem érzékelhető."));
    EXPECT_EQ(a.rating(U::videoCall), R::comfortable); // equal to the jitter limit does not cross it
    const ConnectionVerdict b = assess(inTimeOrder(thirtyHalf));
    EXPECT_EQ(b.evidence[1], QStringLiteral("A válaszidő ingadozása 30 ms — ez hívásnál már hallható akadozást okozhat."));
    EXPECT_EQ(b.rating(U::videoCall), R::usable);
}

TEST(VerdictJitter, FollowsTimeOrderNotValueOrder)
{
    std::vector<double> alternating;
    for (int i = 0; i < 24; ++i)
        alternating.push_back(i % 2 ? 40 : 20);
    auto s = inTimeOrder(alternating);
    std::mt19937 rng(7);
    std::shuffle(s.begin(), s.end(), rng);
    EXPECT_EQ(assess(s).jitter, 20.0);

    // Equal timestamps keep their given order.
    auto tied = inTimeOrder({10, 30, 10, 30, 10});
    for (auto& x : tied)
        x.timestamp = 0;
    tied.push_back(sample(ProbeKind::publicIP, 100, 10));
    for (int i = 0; i < 20; ++i)
        tied.push_back(sample(ProbeKind::publicIP, 100, std::nullopt, 1.0));
    EXPECT_DOUBLE_EQ(*assess(tied).jitter, 80.0 / 5);

    // A single answer: median and p95 are that answer, and there is no jitter.
    auto single = evenly(20, 60, std::nullopt);
    single[3] = sample(ProbeKind::publicIP, 9, 42, 0.0);
    const ConnectionVerdict v = assess(single);
    EXPECT_EQ(v.medianRtt, 42.0);
    EXPECT_FALSE(v.jitter);
    // Nineteen of twenty lost: a verdict for loss, which quotes no delay.
    EXPECT_EQ(v.evidence, QStringList{QStringLiteral("A csomagok 95.0%-a nem ért célba.")});
}

TEST(VerdictConfidenceText, SecondsAndMinutes)
{
    struct Case {
        long long count;
        double span;
        const char* text;
    };
    const Case cases[] = {
        {25, 89.6, "25 mérés 90 másodperc alatt."},
        {25, 150, "25 mérés 2 perc alatt."},
        {25, 90, "25 mérés 1 perc alatt."},
        {25, 179, "25 mérés 2 perc alatt."},
        {25, 60.5, "25 mérés 61 másodperc alatt."},
        {25, 59.9, "Kevés mérés — 25 minta 60 másodperc alatt. Az ítélet még pontosodni fog."},
        {19, 600, "Kevés mérés — 19 minta 10 perc alatt. Az ítélet még pontosodni fog."},
    };
    for (const Case& c : cases) {
        const VerdictConfidence conf{c.count, c.span};
        EXPECT_EQ(conf.description(), QString::fromUtf8(c.text)) << c.span;
    }
    EXPECT_EQ(assess(evenly(25, 89.6, 20)).confidence.description(), QStringLiteral("25 mérés 90 másodperc alatt."));
}

TEST(VerdictRecords, TitlesStatusesAndMissingRatings)
{
    EXPECT_EQ(title(U::videoCall), QStringLiteral("Videohívás"));
    EXPECT_EQ(title(U::gaming), QStringLiteral("Online játék"));
    EXPECT_EQ(title(U::streaming), QStringLiteral("Streaming"));
    EXPECT_EQ(title(U::browsing), QStringLiteral("Böngészés, e-mail"));
    EXPECT_EQ(symbolName(U::videoCall), QStringLiteral("video.fill"));
    EXPECT_EQ(symbolName(U::gaming), QStringLiteral("gamecontroller.fill"));
    EXPECT_EQ(symbolName(U::streaming), QStringLiteral("play.rectangle.fill"));
    EXPECT_EQ(symbolName(U::browsing), QStringLiteral("safari.fill"));
    EXPECT_EQ(id(U::browsing), QStringLiteral("browsing"));

    const std::pair<R, PVStatus> statuses[] = {
        {R::comfortable, PVStatus::good}, {R::usable, PVStatus::watch}, {R::poor, PVStatus::serious}, {R::unknown, PVStatus::neutral}};
    for (const auto& [r, s] : statuses)
        EXPECT_EQ(status(r), s);
    EXPECT_EQ(title(R::comfortable), QStringLiteral("Jó"));
    EXPECT_EQ(title(R::usable), QStringLiteral("Elmegy"));
    EXPECT_EQ(title(R::poor), QStringLiteral("Gyenge"));
    EXPECT_EQ(title(R::unknown), QStringLiteral("Még nem tudjuk"));

    ConnectionVerdict partial;
    partial.confidence = {30, 120};
    partial.setRating(U::videoCall, R::comfortable);
    EXPECT_EQ(partial.rating(U::gaming), R::unknown);
    EXPECT_EQ(partial.overallStatus(), PVStatus::good);
    EXPECT_FALSE(ConnectionVerdict{}.weakestCapability());
}
