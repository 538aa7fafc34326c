// The overview's figure and chart rules without a display: point series, tile texts, usage tiles,
// the latency and Wi-Fi chart descriptions, incident rows and raw figures lines.

#include "ui/main/DashboardLogic.h"

#include "core/app/AppViewModel.h"
#include "core/records/LocaleDates.h"

#include "tests/main/SnapshotBuilders.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace pv;
using namespace pv::test;

namespace {

constexpr Timestamp kT0 = 1'765'270'000.0;

std::vector<ProbeBatch> gatewayBatches(int count, Timestamp start, double step = 4)
{
    std::vector<ProbeBatch> batches;
    for (int i = 0; i < count; ++i)
        batches.push_back(batch({sample(ProbeKind::gateway, start + i * step, true, 1.0 + i)}));
    return batches;
}

std::vector<LatencyPoint> pts(std::initializer_list<std::pair<double, double>> list)
{
    std::vector<LatencyPoint> v;
    for (auto [t, value] : list)
        v.push_back({t, value});
    return v;
}

} // namespace

// ---- Chart point series -------------------------------------------------------------------------

// The route chart draws both legs over the span its axis shows, however many samples a batch holds
// of each (one router echo, two public hosts): 25 minutes of batches, the newest 20 drawn.
TEST(LatencySeries, BothLegsSpanTheNewestTwentyMinutesInAscendingTime)
{
    std::vector<ProbeBatch> batches;
    for (int i = 0; i < 300; ++i)
        batches.push_back(batch({sample(ProbeKind::gateway, kT0 + 5 * i, true, 1.0 + i),
                                 sample(ProbeKind::publicIP, kT0 + 5 * i, true, 10), sample(ProbeKind::publicIP, kT0 + 5 * i, i % 2 == 0, 11)}));
    const Timestamp newest = kT0 + 5 * 299;
    const auto router = latencyPoints(ProbeKind::gateway, batches);
    const auto provider = latencyPoints(ProbeKind::publicIP, batches);
    ASSERT_EQ(router.size(), 241u);
    EXPECT_EQ(router.front().timestamp, newest - kRouteChartSeconds);
    EXPECT_EQ(provider.front().timestamp, router.front().timestamp);
    EXPECT_EQ(failureTimes(ProbeKind::publicIP, batches).front(), newest - kRouteChartSeconds);
    EXPECT_EQ(router.back().value, 300.0);
    EXPECT_TRUE(std::is_sorted(router.begin(), router.end(),
                               [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; }));
    EXPECT_EQ(latencySummaryLabel(router, provider), QStringLiteral("Válaszidő az elmúlt 20 percben"));
}

TEST(LatencySeries, SortsOutOfOrderBatchesAndKeepsArrivalOrderOnTies)
{
    std::vector<ProbeBatch> batches{
        batch({sample(ProbeKind::gateway, kT0 + 20, true, 3)}),
        batch({sample(ProbeKind::gateway, kT0 + 10, true, 1), sample(ProbeKind::gateway, kT0 + 20, true, 4)}),
        batch({sample(ProbeKind::gateway, kT0 + 20, true, 5), sample(ProbeKind::publicIP, kT0, true, 99)})};
    const auto points = latencyPoints(ProbeKind::gateway, batches);
    EXPECT_EQ(points, pts({{kT0 + 10, 1}, {kT0 + 20, 3}, {kT0 + 20, 4}, {kT0 + 20, 5}}));
}

TEST(LatencySeries, DropsFailuresAndSamplesWithoutLatency)
{
    NetworkSample failedWithLatency = sample(ProbeKind::gateway, kT0, true, 7);
    failedWithLatency.success = false;
    NetworkSample okWithout = sample(ProbeKind::gateway, kT0 + 1, true);
    const std::vector<ProbeBatch> batches{batch({failedWithLatency, okWithout, sample(ProbeKind::gateway, kT0 + 2, false),
                                                 sample(ProbeKind::gateway, kT0 + 3, true, 8)})};
    EXPECT_EQ(latencyPoints(ProbeKind::gateway, batches), pts({{kT0 + 3, 8}}));
    EXPECT_TRUE(latencyPoints(ProbeKind::dns, batches).empty());
    EXPECT_TRUE(recentLatencyValues(ProbeKind::gateway, {}).empty());
}

TEST(LatencySeries, TheChartLineBreaksAtEachFailedMeasurementInsideItsSpan)
{
    const std::vector<ProbeBatch> batches{batch({sample(ProbeKind::gateway, kT0 - 5, false),
                                                 sample(ProbeKind::gateway, kT0, true, 5),
                                                 sample(ProbeKind::gateway, kT0 + 5, false),
                                                 sample(ProbeKind::gateway, kT0 + 10, false),
                                                 sample(ProbeKind::gateway, kT0 + 15, true, 6)})};
    const auto line = lineWithBreaks(latencyPoints(ProbeKind::gateway, batches), failureTimes(ProbeKind::gateway, batches));
    ASSERT_EQ(line.size(), 3u) << "one break for the two failures between, none before the first point";
    EXPECT_EQ(line[0], QPointF(kT0, 5));
    EXPECT_TRUE(std::isnan(line[1].y()));
    EXPECT_EQ(line[2], QPointF(kT0 + 15, 6));
    const auto spec = latencyChartSpec(latencyPoints(ProbeKind::gateway, batches), {},
                                       failureTimes(ProbeKind::gateway, batches), {});
    EXPECT_EQ(spec.lines.front().points.size(), 3u);
}

// Each gap is said for what it was: what the events within it recorded, or the provider's silence.
TEST(LatencySeries, EachGapIsExplainedByItsOwnCause)
{
    using E = DiagnosticEventKind;
    const QString stopped = "Continuous monitoring stopped.";
    const struct {
        std::vector<DiagnosticEvent> events; // in the three minutes without a batch (or before them)
        bool silent;                         // batches came, the provider answered none
        RouteGapCause cause;
        const char* said;
    } cases[] = {
        {{{{}, kT0 + 11, E::monitoringStopped, stopped}, {{}, kT0 + 11, E::monitoringStopped, loadTestPauseDetails()}},
         false, RouteGapCause::loadTest, "terheléses mérés futott"},
        {{{{}, kT0 + 11, E::monitoringStopped, stopped}}, false, RouteGapCause::paused, "a mérés szünetelt"},
        {{{{}, kT0 + 12, E::sleep, "The computer went to sleep."}}, false, RouteGapCause::asleep, "alvó állapotban"},
        {{{{}, kT0 - 100, E::sleep, "The computer went to sleep."}}, false, RouteGapCause::notRunning, "nem futott"},
        {{}, true, RouteGapCause::failed, "a mérés nem sikerült"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        std::vector<ProbeBatch> batches;
        for (Timestamp at = kT0; at <= kT0 + 190; at += 5)
            if (at <= kT0 + 10 || at == kT0 + 190 || c.silent)
                batches.push_back(batch({sample(ProbeKind::publicIP, at, at <= kT0 + 10 || at == kT0 + 190, 20)}));
        const std::vector<RouteGap> gaps = routeChartGaps(batches, c.events);
        ASSERT_EQ(gaps, (std::vector<RouteGap>{{kT0 + 10, kT0 + 190, c.cause}}));
        EXPECT_TRUE(routeGapsCaption(gaps, kT0 + 200).contains(QString::fromUtf8(c.said)));
    }
    EXPECT_TRUE(routeGapsCaption({}, kT0).isEmpty());
}

TEST(LatencySeries, TheChartLineBreaksWhereNothingWasMeasuredForThreeBatchIntervals)
{
    const struct {
        const char* name;
        std::vector<double> offsets; // seconds after kT0 of successful measurements
        std::vector<std::size_t> breaksAfter; // indices of the points a break follows
    } cases[] = {
        {"a steady five seconds", {0, 5, 10, 15, 20}, {}},
        {"one slow batch", {0, 5, 15, 20}, {}},
        {"a quarter hour without measurement", {0, 5, 905, 910}, {1}},
        {"two pauses", {0, 20, 25, 60}, {0, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<NetworkSample> samples;
        for (double o : c.offsets)
            samples.push_back(sample(ProbeKind::publicIP, kT0 + o, true, 20));
        const auto line = lineWithBreaks(latencyPoints(ProbeKind::publicIP, {batch(samples)}), {});
        ASSERT_EQ(line.size(), c.offsets.size() + c.breaksAfter.size());
        std::vector<std::size_t> breaks;
        std::size_t point = 0;
        for (const QPointF& p : line) {
            if (std::isnan(p.y()))
                breaks.push_back(point - 1);
            else
                EXPECT_EQ(p.x(), kT0 + c.offsets[point++]);
        }
        EXPECT_EQ(breaks, c.breaksAfter);
    }
}

TEST(LatencySeries, SparklineValuesAreTheNewest40)
{
    EXPECT_EQ(recentLatencyValues(ProbeKind::gateway, gatewayBatches(12, kT0)).size(), 12u);
    const auto values = recentLatencyValues(ProbeKind::gateway, gatewayBatches(240, kT0));
    ASSERT_EQ(values.size(), 40u);
    EXPECT_EQ(values.front(), 201.0);
    EXPECT_EQ(values.back(), 240.0);
}

// ---- "Most" -------------------------------------------------------------------------------------

TEST(NowTiles, LatencyAndSignalTexts)
{
    EXPECT_EQ(latencyValueText(10.0), QStringLiteral("10"));
    EXPECT_EQ(latencyValueText(0.05), QStringLiteral("<1")); // a leg faster than a millisecond never reads 0.0
    EXPECT_EQ(latencyValueText(0.99), QStringLiteral("<1"));
    EXPECT_EQ(latencyValueText(1.0), QStringLiteral("1.0"));
    EXPECT_EQ(latencyValueText(9.94), QStringLiteral("9.9"));
    EXPECT_EQ(latencyValueText(9.96), QStringLiteral("10.0")); // decided before rounding
    EXPECT_EQ(latencyValueText(123.5), QStringLiteral("124"));
    EXPECT_EQ(latencyValueText(std::nullopt), QStringLiteral("—"));

    EXPECT_EQ(signalValueText(nullptr), QStringLiteral("—"));
    WifiSnapshot w = wifi(kT0, 0);
    EXPECT_EQ(signalValueText(&w), QStringLiteral("—"));
    w.rssi = std::nullopt;
    EXPECT_EQ(signalValueText(&w), QStringLiteral("—"));
    w.rssi = -54;
    EXPECT_EQ(signalValueText(&w), QStringLiteral("-54"));
}

TEST(NowTiles, AdaptiveColumnsByMinimumWidth)
{
    EXPECT_EQ(adaptiveColumns(650, 208, 12), 3);
    EXPECT_EQ(adaptiveColumns(427, 208, 12), 1);
    EXPECT_EQ(adaptiveColumns(428, 208, 12), 2);
    EXPECT_EQ(adaptiveColumns(100, 208, 12), 1); // narrower than one column: still one
    EXPECT_EQ(adaptiveColumns(1072, 208, 12), 4);
    EXPECT_EQ(adaptiveColumns(1088, 208, 12), 5);
}

TEST(NowTiles, BeforeTheFirstMeasurementEveryValueIsADash)
{
    OverviewSnapshot s;
    const auto tiles = nowTiles(s, kT0);
    ASSERT_EQ(tiles.size(), 5u);
    const QStringList labels{"Routered", "Szolgáltatód", "Wi-Fi jel", "Névfeloldás", "Oldalbetöltés"};
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        EXPECT_EQ(tiles[i].label, labels[static_cast<qsizetype>(i)]);
        EXPECT_EQ(tiles[i].value, QStringLiteral("—"));
        EXPECT_FALSE(tiles[i].status.has_value());
        EXPECT_FALSE(tiles[i].sparklineAnchoredToZero);
        EXPECT_TRUE(tiles[i].samples.empty());
    }
    EXPECT_EQ(tiles[0].unit, QStringLiteral("ms"));
    EXPECT_EQ(tiles[2].unit, QStringLiteral("dBm"));
    EXPECT_EQ(tiles[3].caption, QStringLiteral("DNS — a webcímek feloldása"));
    EXPECT_EQ(tiles[4].tint, PVColor(PV::color::series::http));
}

TEST(NowTiles, FiguresAndSparklinesFromTheBatches)
{
    OverviewSnapshot s;
    for (int i = 0; i < 50; ++i)
        s.recentBatches.push_back(batch({sample(ProbeKind::gateway, kT0 - 200 + i * 4, true, 4.0),
                                         sample(ProbeKind::http, kT0 - 200 + i * 4, true, 150.0)}));
    s.wifiSnapshots = {wifi(kT0 - 8, -60), wifi(kT0, -58)};
    const auto tiles = nowTiles(s, kT0);
    EXPECT_EQ(tiles[0].value, QStringLiteral("4.0"));
    EXPECT_EQ(tiles[0].samples.size(), 40u);
    EXPECT_EQ(tiles[1].value, QStringLiteral("—"));
    EXPECT_EQ(tiles[2].value, QStringLiteral("-58"));
    EXPECT_EQ(tiles[2].samples, (std::vector<double>{-60, -58}));
    EXPECT_EQ(tiles[4].value, QStringLiteral("150"));
}

// A total outage in the middle of a healthy run: each leg's sparkline breaks at the batches that got
// no answer for it (a provider batch with one host answering is no break), and a leg without an
// answer in the newest minute says so instead of showing an older latency.
TEST(NowTiles, SparklinesBreakAtUnansweredBatchesAndASilentLegSaysSo)
{
    // Per batch, 5 s apart: router, provider (two hosts) and page load; DNS on every fourth batch.
    // Batches 10 to 13 lose everything beyond the router; batch 8 loses one provider host only.
    const auto runWith = [](int batches, int outageFrom, int outageTo) {
        std::vector<ProbeBatch> out;
        for (int i = 0; i < batches; ++i) {
            const Timestamp at = kT0 - 5.0 * (batches - 1 - i);
            const bool down = i >= outageFrom && i < outageTo;
            std::vector<NetworkSample> samples{sample(ProbeKind::gateway, at, true, 2.0 + i),
                                               sample(ProbeKind::publicIP, at, !down, 20.0 + i),
                                               sample(ProbeKind::publicIP, at, !down && i != 8, 30.0 + i),
                                               sample(ProbeKind::http, at, !down, 100.0 + i)};
            if (i % 4 == 0)
                samples.push_back(sample(ProbeKind::dns, at, !down, 1.0 + i));
            out.push_back(batch(samples));
        }
        return out;
    };
    const auto isBreak = [](const std::vector<double>& v) {
        std::vector<bool> out;
        for (double x : v)
            out.push_back(std::isnan(x));
        return out;
    };
    OverviewSnapshot s;
    s.recentBatches = runWith(16, 10, 14);
    const auto tiles = nowTiles(s, kT0);
    // Router: 16 values, no break.
    EXPECT_EQ(tiles[0].samples.size(), 16u);
    EXPECT_EQ(std::count_if(tiles[0].samples.begin(), tiles[0].samples.end(), [](double x) { return std::isnan(x); }), 0);
    // Provider: two values per answered batch (one for batch 8), one break per silent batch.
    std::vector<bool> provider(10 * 2 - 1, false);
    provider.insert(provider.end(), 4, true);
    provider.insert(provider.end(), 2 * 2, false);
    EXPECT_EQ(isBreak(tiles[1].samples), provider);
    std::vector<bool> http(10, false);
    http.insert(http.end(), 4, true);
    http.insert(http.end(), 2, false);
    EXPECT_EQ(isBreak(tiles[4].samples), http);
    EXPECT_EQ(isBreak(tiles[3].samples), (std::vector<bool>{false, false, false, true}));
    // The batches after the outage answer again: the tiles show latencies.
    EXPECT_EQ(tiles[1].unit, QStringLiteral("ms"));
    EXPECT_NE(tiles[1].value, QStringLiteral("—"));

    // Still inside the outage, the newest minute unanswered beyond the router.
    s.recentBatches = runWith(30, 16, 30);
    const auto during = nowTiles(s, kT0);
    EXPECT_EQ(during[0].unit, QStringLiteral("ms")); // the router answers
    EXPECT_NE(during[0].value, QStringLiteral("—"));
    const struct {
        std::size_t tile;
        const char* caption;
    } silent[] = {
        {1, "Nem válaszol (26 mérésből egy sem, az elmúlt percben)"},
        {3, "Nem válaszol (3 mérésből egy sem, az elmúlt percben)"},
        {4, "Nem válaszol (13 mérésből egy sem, az elmúlt percben)"},
    };
    for (const auto& c : silent) {
        EXPECT_EQ(during[c.tile].value, QStringLiteral("—")) << c.caption;
        EXPECT_FALSE(during[c.tile].unit.has_value()) << c.caption;
        EXPECT_EQ(during[c.tile].caption, QString::fromUtf8(c.caption));
    }
}

// ---- Usage capability ---------------------------------------------------------------------------

TEST(UsageTiles, MissingRatingsAreUnknownAndTheOrderIsFixed)
{
    const auto empty = usageTiles(ConnectionVerdict{});
    ASSERT_EQ(empty.size(), 4u);
    for (const UsageTile& t : empty) {
        EXPECT_EQ(t.rating, CapabilityRating::unknown);
        EXPECT_EQ(t.level, PVStatus::neutral);
        EXPECT_EQ(t.word, QStringLiteral("Még nem tudjuk"));
    }

    ConnectionVerdict v;
    v.setRating(UsageCapability::gaming, CapabilityRating::usable);
    v.setRating(UsageCapability::streaming, CapabilityRating::poor);
    const auto tiles = usageTiles(v);
    EXPECT_EQ(tiles[0].usage, UsageCapability::videoCall);
    EXPECT_EQ(tiles[0].rating, CapabilityRating::unknown);
    EXPECT_EQ(tiles[1].usage, UsageCapability::gaming);
    EXPECT_EQ(tiles[1].level, PVStatus::watch);
    EXPECT_EQ(tiles[1].word, QStringLiteral("Elmegy"));
    EXPECT_EQ(tiles[2].accessibleLabel, QStringLiteral("Streaming: Gyenge"));
    EXPECT_EQ(tiles[2].level, PVStatus::serious);
    EXPECT_EQ(tiles[3].title, QStringLiteral("Böngészés, e-mail"));
    EXPECT_EQ(tiles[3].symbol, "safari.fill");
}

// ---- Latency along the route --------------------------------------------------------------------

TEST(LatencyChart, UpperBound)
{
    EXPECT_DOUBLE_EQ(latencyUpperBound(pts({{kT0, 10}}), {}), 20.0);
    EXPECT_DOUBLE_EQ(latencyUpperBound({}, pts({{kT0, 100}})), 115.0);
    EXPECT_DOUBLE_EQ(latencyUpperBound({}, {}), 57.5);
    EXPECT_DOUBLE_EQ(latencyUpperBound(pts({{kT0, 40}}), pts({{kT0, 30}})), 46.0);
}

TEST(LatencyChart, HoverDatesAndReadings)
{
    const auto router = pts({{kT0, 3}, {kT0 + 10, 5}, {kT0 + 20, 7}});
    const auto provider = pts({{kT0 + 5, 14}, {kT0 + 20, 16}});
    EXPECT_TRUE(latencyHoverDates({}).empty()); // router points alone give no crosshair
    EXPECT_EQ(latencyHoverDates(provider), (std::vector<double>{kT0 + 5, kT0 + 20}));

    EXPECT_EQ(routerReading(router, kT0 + 5), 3.0); // tie between +0 and +10: the first
    EXPECT_EQ(routerReading(router, kT0 + 19), 7.0);
    EXPECT_FALSE(routerReading({}, kT0).has_value());
    EXPECT_EQ(providerReading(provider, kT0 + 20), 16.0);
    EXPECT_FALSE(providerReading(provider, kT0 + 19.5).has_value()); // exact match only

    const auto readings = latencyReadings({}, provider, kT0 + 5);
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].id, QStringLiteral("router"));
    EXPECT_EQ(readings[0].label, QStringLiteral("router"));
    EXPECT_FALSE(readings[0].value.has_value());
    EXPECT_EQ(readings[1].id, QStringLiteral("provider"));
    EXPECT_EQ(readings[1].label, QStringLiteral("szolgáltató"));
    EXPECT_EQ(readings[1].value, 14.0);
    EXPECT_EQ(readings[1].unit, QStringLiteral("ms"));
}

TEST(LatencyChart, TheCrosshairSnapsToTheNearestProviderTime)
{
    const auto dates = latencyHoverDates(pts({{kT0, 14}, {kT0 + 10, 15}, {kT0 + 20, 16}}));
    EXPECT_EQ(nearestDateIndex(dates, kT0 + 6), 1u);
    EXPECT_EQ(nearestDateIndex(dates, kT0 + 15), 1u); // equally near: the earlier in the series
    EXPECT_EQ(nearestDateIndex(dates, kT0 + 99), 2u);
    EXPECT_FALSE(nearestDateIndex(latencyHoverDates({}), kT0).has_value());
}

TEST(LatencyChart, SpecJoinsNeighboursAndLabelsTheNewestPoints)
{
    const auto router = pts({{kT0, 3}, {kT0 + 8, 5}});
    const auto spec = latencyChartSpec(router, pts({{kT0 + 4, 90}}));
    ASSERT_TRUE(spec.y.domain.has_value());
    EXPECT_EQ(spec.y.domain->first, 0.0);
    EXPECT_DOUBLE_EQ(spec.y.domain->second, 103.5);
    EXPECT_EQ(spec.y.title, QStringLiteral("ms"));
    ASSERT_EQ(spec.lines.size(), 2u);
    EXPECT_EQ(spec.lines[0].points.size(), 2u);
    for (const auto& line : spec.lines) {
        EXPECT_EQ(line.width, 2);
        EXPECT_EQ(line.join, Qt::RoundJoin);
        for (const QPointF& p : line.points)
            EXPECT_TRUE(std::isfinite(p.y())); // no break in the line
    }
    ASSERT_EQ(spec.points.size(), 2u);
    EXPECT_EQ(spec.points[0].directLabel, QStringLiteral("router"));
    EXPECT_EQ(spec.points[0].point, QPointF(kT0 + 8, 5));
    EXPECT_EQ(spec.points[1].directLabel, QStringLiteral("szolgáltató"));
    EXPECT_EQ(spec.x.desiredTicks, 6);

    // One series alone: one newest-point mark; the scale follows it.
    const auto routerOnly = latencyChartSpec(pts({{kT0, 10}}), {});
    EXPECT_EQ(routerOnly.points.size(), 1u);
    EXPECT_DOUBLE_EQ(routerOnly.y.domain->second, 20.0);
}

TEST(LatencyChart, SpokenSummaryNamesBothLegs)
{
    const auto series = latencySummarySeries(pts({{kT0, 10}, {kT0 + 4, 20}}), {});
    ASSERT_EQ(series.size(), 2u);
    EXPECT_EQ(series[0].name, QStringLiteral("A te routered"));
    EXPECT_EQ(series[1].name, QStringLiteral("A szolgáltatód"));
    EXPECT_EQ(series[0].unit, QStringLiteral("ezredmásodperc"));
    // Only the router speaks when the provider has no value.
    EXPECT_EQ(pvChartSummaryValue(series, std::nullopt),
              QStringLiteral("A te routered: jellemzően 20 ezredmásodperc, a legkisebb 10, a legnagyobb 20."));
}

// ---- Wi-Fi signal -------------------------------------------------------------------------------

TEST(WifiSignal, ScaleIsPaddedByAQuarterOrAtLeastTwo)
{
    const auto flat = signalScale(pts({{kT0, -60}, {kT0 + 8, -60}}));
    ASSERT_TRUE(flat.has_value());
    EXPECT_EQ(*flat, std::make_pair(-62.0, -58.0));
    EXPECT_EQ(*signalScale(pts({{kT0, -80}, {kT0 + 8, -40}})), std::make_pair(-90.0, -30.0));
    EXPECT_FALSE(signalScale({}).has_value());
}

TEST(WifiSignal, StrengthAndSignalToNoiseSeries)
{
    WifiSnapshot a = wifi(kT0, -65);
    a.noise = -90;
    WifiSnapshot zeroRssi = wifi(kT0 + 8, 0);
    zeroRssi.noise = -90; // no strength point, but a signal-to-noise point of 90
    WifiSnapshot noNoise = wifi(kT0 + 16, -70);
    noNoise.noise = std::nullopt;
    WifiSnapshot equal = wifi(kT0 + 24, -80);
    equal.noise = -80; // a difference of 0 is no reading
    const std::vector<WifiSnapshot> used{a, zeroRssi, noNoise, equal};
    EXPECT_EQ(signalStrengthSeries(used), pts({{kT0, -65}, {kT0 + 16, -70}, {kT0 + 24, -80}}));
    EXPECT_EQ(signalToNoiseSeries(used), pts({{kT0, 25}, {kT0 + 8, 90}}));
}

TEST(WifiSignal, OnlyTheNewest90ReadingsAreDrawn)
{
    std::vector<WifiSnapshot> all;
    for (int i = 0; i < 120; ++i)
        all.push_back(wifi(kT0 + i * 8, -50 - i % 10));
    const auto used = usedWifiSnapshots(all);
    ASSERT_EQ(used.size(), 90u);
    EXPECT_EQ(used.front().timestamp, kT0 + 30 * 8);
    EXPECT_EQ(used.back().timestamp, all.back().timestamp);
    EXPECT_EQ(usedWifiSnapshots({all.begin(), all.begin() + 5}).size(), 5u);
}

TEST(WifiSignal, ChartSpecFillsDownToTheBottomOfTheScale)
{
    const auto spec = signalChartSpec(pts({{kT0, -80}, {kT0 + 8, -40}}), PV::color::culprit::wifi);
    ASSERT_EQ(spec.areas.size(), 1u);
    EXPECT_EQ(spec.areas[0].baseline, -90.0);
    EXPECT_EQ(spec.y.domain, std::make_pair(-90.0, -30.0));
    ASSERT_EQ(spec.lines.size(), 1u);
    EXPECT_EQ(spec.lines[0].join, Qt::MiterJoin);
    EXPECT_TRUE(spec.y.title.isEmpty());
    EXPECT_FALSE(signalChartSpec({}, PV::color::culprit::wifi).hasData());
}

TEST(WifiSignal, NodeRowsAreTheFirstFive)
{
    std::vector<NodeFingerprint> history;
    for (int i = 1; i <= 7; ++i)
        history.push_back(NodeFingerprint{QStringLiteral("Otthon"), QStringLiteral("aa:bb:cc:00:00:0%1").arg(i), 36, {}});
    const QStringList rows = nodeRows(history);
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows.front(), history.front().summary());
    EXPECT_EQ(rows.back(), history[4].summary());
    EXPECT_FALSE(rows.contains(history.back().summary())); // the current one is not listed
    EXPECT_TRUE(nodeRows({}).isEmpty());
}

// ---- Incidents ----------------------------------------------------------------------------------

TEST(IncidentRows, TwelveShowTheNewestEightWithSevenDividers)
{
    std::vector<Incident> all;
    for (int i = 0; i < 12; ++i)
        all.push_back(incident(kT0 + i * 60, i == 11 ? std::nullopt : std::optional<Timestamp>(kT0 + i * 60 + 30)));
    const auto rows = incidentRowsToShow(all, kT0 + 720);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows.front().incident.id, all.back().id);
    EXPECT_EQ(rows.back().incident.id, all[4].id);
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const IncidentRow& r) { return r.dividerAfter; }), 7);
    EXPECT_FALSE(rows.back().dividerAfter);
    EXPECT_TRUE(rows.front().highlight.isOpen);
    EXPECT_FALSE(rows[1].highlight.isOpen);
    EXPECT_EQ(incidentSubtitle(all), QStringLiteral("12 rögzített esemény"));

    const auto one = incidentRowsToShow({all.front()}, kT0 + 720);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_FALSE(one.front().dividerAfter);
    EXPECT_EQ(incidentSubtitle({all.front()}), QStringLiteral("1 rögzített esemény"));
    EXPECT_TRUE(incidentRowsToShow({}, kT0).empty());
    EXPECT_FALSE(incidentSubtitle({}).has_value());
}

// An open incident shows its evidence as found; an ended one says in the past what was found and
// how long it lasted, as the history does.
TEST(IncidentRows, EndedIncidentsSpeakInThePastAndSayHowLongTheyLasted)
{
    const char* outage = "Nincs internet, de a routered válaszol — a hiba a routeren túl van. A routered 12 mérésből "
                         "válaszol, jellemzően 1 ms alatt.";
    const struct {
        const char* name;
        const char* stored;
        IncidentClassification classification;
        std::optional<double> lasted;
        const char* summary;
        const char* duration;
    } cases[] = {
        {"open", outage, IncidentClassification::internetUpstreamIssue, std::nullopt, outage, nullptr},
        {"ended outage", outage, IncidentClassification::internetUpstreamIssue, 117,
         "Nem volt internet, de a routered válaszolt — a hiba a routeren túl volt.", "1 perc 57 mp"},
        {"ended total outage", "Teljes kiesés — még a routered sem válaszol. Sem a router, sem…",
         IncidentClassification::offline, 45, "Teljes kiesés volt — még a routered sem válaszolt.", "45 mp"},
        {"ended, a sentence of its own", "Valami egészen más.", IncidentClassification::dnsOnlyIssue, 1830,
         "A névfeloldás (DNS) akadozott.", "31 perc"},
    };
    for (const auto& c : cases) {
        Incident x = incident(kT0, c.lasted ? std::optional<Timestamp>(kT0 + *c.lasted) : std::nullopt);
        x.evidenceSummary = QString::fromUtf8(c.stored);
        x.classification = c.classification;
        const IncidentRow row = incidentRowsToShow({x}, kT0 + 4000).front();
        EXPECT_EQ(row.summary, QString::fromUtf8(c.summary)) << c.name;
        EXPECT_EQ(row.duration, c.duration ? std::optional(QString::fromUtf8(c.duration)) : std::nullopt) << c.name;
    }
}

TEST(IncidentRows, SeverityTable)
{
    EXPECT_EQ(incidentLevel(IncidentSeverity::info), PVStatus::neutral);
    EXPECT_EQ(incidentLevel(IncidentSeverity::warning), PVStatus::watch);
    EXPECT_EQ(incidentLevel(IncidentSeverity::critical), PVStatus::critical);
    EXPECT_EQ(incidentSymbol(IncidentSeverity::info), "pause.circle.fill");
    EXPECT_EQ(incidentSymbol(IncidentSeverity::warning), "exclamationmark.triangle.fill");
    EXPECT_EQ(incidentSymbol(IncidentSeverity::critical), "xmark.octagon.fill");

    Incident open = incident(kT0, std::nullopt);
    open.severity = IncidentSeverity::warning;
    const auto rows = incidentRowsToShow({open}, kT0);
    EXPECT_EQ(rows.front().highlight.level, PVStatus::watch);
}

TEST(IncidentRows, ARowOfAnEarlierDayCarriesItsDate)
{
    setDateTextLocale(QStringLiteral("hu_HU"));
    const QDateTime noon(QDate(2026, 12, 9), QTime(12, 0));
    const Timestamp now = static_cast<double>(noon.toSecsSinceEpoch());
    const QDateTime startOfToday(QDate(2026, 12, 9), QTime(0, 0));
    const Timestamp midnight = static_cast<double>(startOfToday.toSecsSinceEpoch());
    const struct {
        const char* name;
        Timestamp start;
        bool dated;
        const char* year;
    } cases[] = {
        {"this morning", midnight + 7 * 3600 + 27 * 60, false, nullptr},
        {"just after midnight", midnight + 60, false, nullptr},
        {"last night", midnight - 60, true, nullptr},
        {"three days ago", now - 3 * 86400, true, nullptr},
        {"last year", now - 400 * 86400, true, "2025"},
    };
    for (const auto& c : cases) {
        const QString text = incidentTimeText(c.start, now);
        SCOPED_TRACE(std::string(c.name) + ": " + text.toStdString());
        EXPECT_EQ(text.count(QLatin1Char(':')), 1) << "hour and minute, no seconds";
        EXPECT_EQ(text != timeOfDayLabel(c.start, dateLocale()), c.dated);
        if (c.dated) {
            EXPECT_TRUE(text.contains(QString::number(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(c.start))
                                                          .date()
                                                          .day())));
        }
        EXPECT_EQ(text.contains(QStringLiteral("2025")), c.year != nullptr);
    }
    Incident old = incident(now - 3 * 86400, now - 3 * 86400 + 60);
    EXPECT_EQ(incidentRowsToShow({old}, now).front().timeText, incidentTimeText(old.startTimestamp, now));
    setDateTextLocale(QString());
}

// ---- Raw measurement data -----------------------------------------------------------------------

TEST(RawData, FiguresLine)
{
    QualityMetricSummary m;
    m.averageLatency = 12.34;
    m.maximumLatency = 40;
    m.successRatio = 1.0;
    m.totalCount = 120;
    m.failureCount = 1;
    m.spikeCount = 2;
    EXPECT_EQ(figuresLine(m).replace(QChar(0x00A0), QLatin1Char(' ')),
              QStringLiteral("átlag 12.3 ms · max. 40.0 ms · sikeres 100.00% · 120 mérés · 1 sikertelen · 2 kiugrás"));

    QualityMetricSummary none; // a target that never answered, no ratio, zero counts
    EXPECT_EQ(figuresLine(none).replace(QChar(0x00A0), QLatin1Char(' ')),
              QStringLiteral("átlag — · max. — · sikeres — · 0 mérés · 0 sikertelen · 0 kiugrás"));
    none.successRatio = 0.995;
    EXPECT_TRUE(figuresLine(none).replace(QChar(0x00A0), QLatin1Char(' ')).contains(QStringLiteral("sikeres 99.50%")));
    // A loopback-fast leg: no "0.0 ms".
    m.averageLatency = 0.04;
    m.maximumLatency = 0.2;
    EXPECT_TRUE(figuresLine(m).replace(QChar(0x00A0), QLatin1Char(' ')).startsWith(QStringLiteral("átlag kevesebb mint 1 ms · max. kevesebb mint 1 ms")));
}

TEST(RawData, RowsInTheFixedOrder)
{
    QualityAssessment a;
    a.gateway.title = QStringLiteral("Z");
    a.publicIP.title = QStringLiteral("A");
    a.dns.title = QStringLiteral("M");
    a.http.title = QStringLiteral("B");
    a.wifi.title = QStringLiteral("C");
    const auto rows = rawDataRows(a);
    ASSERT_EQ(rows.size(), 5u);
    QStringList titles;
    for (const auto& r : rows)
        titles << r.title;
    EXPECT_EQ(titles, (QStringList{"Z", "A", "M", "B", "C"}));
}
