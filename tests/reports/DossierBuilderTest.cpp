// Assembling the dossier from a seeded evidence database (a temporary file), and its steps.
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"
#include "reports/DossierBuilder.h"
#include "reports/DossierModel.h"

#include "tests/store/StoreTestSupport.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

using namespace pv;
using namespace pv::test;

namespace {

constexpr double kT0 = 1767225600; // 2026-01-01 00:00 UTC, on an hour
constexpr double kDay = 86400;

NetworkSample sample(Timestamp t, ProbeKind kind, std::optional<double> latency, bool success = true,
                     const char* interfaceName = "wlan0", std::optional<double> loss = std::nullopt)
{
    NetworkSample s = makeSample(t, kind, latency, success);
    s.route.interfaceName = QString::fromLatin1(interfaceName);
    s.packetLoss = loss;
    return s;
}

std::vector<const NetworkSample*> pointers(const std::vector<NetworkSample>& samples)
{
    std::vector<const NetworkSample*> out;
    for (const NetworkSample& s : samples)
        out.push_back(&s);
    return out;
}

DossierRequest period(double start, double seconds, bool anonymise = false)
{
    return {start, start + seconds, anonymise, QStringLiteral("HU")};
}

class DossierBuilderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = freshDatabasePath();
        store = std::make_unique<SQLiteStore>(SQLiteStore::Location::file(path));
        raw = std::make_unique<RawDb>(path);
    }
    void addRollup(double bucketStart, int width, ProbeKind kind, int count, int successes, std::optional<double> p50,
                   const char* family = "ipv4")
    {
        raw->exec(QStringLiteral("INSERT INTO sample_rollups VALUES (%1, %2, '%3', %4, %5, %6, NULL, NULL, NULL, NULL, NULL, '%7');")
                      .arg(bucketStart, 0, 'f', 3)
                      .arg(width)
                      .arg(rawValue(kind))
                      .arg(count)
                      .arg(successes)
                      .arg(p50 ? QString::number(*p50) : QStringLiteral("NULL"))
                      .arg(QString::fromLatin1(family)));
    }
    DossierDocument build(const DossierRequest& request)
    {
        return await(DossierBuilder::makeDocument(request, request.end + 60, *store, QStringLiteral("1.0")));
    }

    QString path;
    std::unique_ptr<SQLiteStore> store;
    std::unique_ptr<RawDb> raw;
};

TEST_F(DossierBuilderTest, AnEmptyPeriodIsOneGapAndNoFigures)
{
    const DossierRequest request = period(kT0, kDay);
    const DossierDocument doc = build(request);
    ASSERT_EQ(doc.gaps.size(), 1u);
    EXPECT_EQ(doc.gaps[0].start, request.start);
    EXPECT_EQ(doc.gaps[0].end, request.end);
    EXPECT_EQ(doc.coverageRatio, 0);
    EXPECT_EQ(doc.sampleCount, 0);
    EXPECT_TRUE(doc.timeline.empty() && doc.hourlyProfile.empty() && doc.accessPoints.empty() && doc.outages.empty());
    EXPECT_EQ(doc.lossRatio, std::nullopt);
    EXPECT_EQ(doc.medianRouterMs, std::nullopt);
    EXPECT_EQ(doc.medianProviderMs, std::nullopt);
    EXPECT_EQ(doc.p95ProviderMs, std::nullopt);
    EXPECT_EQ(DossierPaginator::pages(doc).size(), 10u);

    // Measured on an IPv6-only network: the IPv6 samples make the figures, and no page compares.
    std::vector<NetworkSample> ipv6Only = {sample(kT0 + 11, ProbeKind::publicIP, 30.0),
                                           sample(kT0 + 12, ProbeKind::publicIP, std::nullopt, false)};
    for (NetworkSample& s : ipv6Only)
        s.family = AddressFamily::ipv6;
    raw->insertSamples(ipv6Only);
    const DossierDocument measured = build(request);
    EXPECT_EQ(measured.medianProviderMs, 30.0);
    EXPECT_EQ(measured.lossRatio, 0.5);
    EXPECT_TRUE(measured.familyLegs.empty());
    EXPECT_TRUE(measured.measuredFamilySentence()) << "the summary says the period was measured over IPv6";
    EXPECT_EQ(doc.measuredFamilySentence(), std::nullopt);
}

TEST_F(DossierBuilderTest, PeriodFiguresTakeTheLowerMiddleAndSlicesTheUpper)
{
    // Slices of 10 s; both pairs land in slice 1.
    raw->insertSamples({sample(kT0 + 11, ProbeKind::publicIP, 20.0), sample(kT0 + 12, ProbeKind::publicIP, 10.0),
                        sample(kT0 + 13, ProbeKind::gateway, 4.0), sample(kT0 + 14, ProbeKind::gateway, 2.0),
                        sample(kT0 + 15, ProbeKind::dns, 99.0)});
    // IPv6 samples and roll-ups of the same legs, slower and lossier: they move no IPv4 figure.
    const auto v6 = [](NetworkSample s) {
        s.family = AddressFamily::ipv6;
        return s;
    };
    raw->insertSamples({v6(sample(kT0 + 11, ProbeKind::publicIP, 300.0)), v6(sample(kT0 + 12, ProbeKind::publicIP, 0.4)),
                        v6(sample(kT0 + 13, ProbeKind::publicIP, std::nullopt, false)),
                        v6(sample(kT0 + 14, ProbeKind::gateway, std::nullopt, false))});
    addRollup(kT0 + 600, 60, ProbeKind::publicIP, 10, 0, std::nullopt, "ipv6");
    const DossierDocument doc = build(period(kT0, 1200));
    EXPECT_EQ(doc.medianProviderMs, 10.0);
    EXPECT_EQ(doc.p95ProviderMs, 10.0);
    EXPECT_EQ(doc.medianRouterMs, 2.0);
    EXPECT_EQ(doc.lossRatio, 0.0);
    EXPECT_FALSE(doc.onlyRollups || doc.containsAggregatedPeriods || doc.detailedFiguresFrom);
    ASSERT_EQ(doc.timeline.size(), 1u);
    EXPECT_EQ(doc.timeline[0].time, kT0 + 10);
    EXPECT_EQ(doc.timeline[0].providerMilliseconds, 20.0);
    EXPECT_EQ(doc.timeline[0].routerMilliseconds, 4.0);
    EXPECT_EQ(doc.timeline[0].lossRatio, 0.0);
    EXPECT_EQ(doc.sampleCount, 5 + 4 + 10);
    // Side by side on the IPv6 page: 13 provider samples, 11 of them failed.
    ASSERT_EQ(doc.familyLegs.size(), 2u);
    EXPECT_EQ(doc.familyLegs[0], (FamilyLegComparison{ProbeKind::gateway, 2.0, std::nullopt, 0.0, 1.0, 2, 1}));
    EXPECT_EQ(doc.familyLegs[1], (FamilyLegComparison{ProbeKind::publicIP, 10.0, 0.4, 0.0, 11.0 / 13, 2, 13}));
    const auto pages = DossierPaginator::pages(doc);
    EXPECT_NE(std::find(pages.begin(), pages.end(), DossierPage::ipv6), pages.end());

    // The lower-middle rule at its index: floor(0.95 × 19) = 18 of 1..20.
    std::vector<NetworkSample> many;
    for (int i = 20; i >= 1; --i)
        many.push_back(sample(kT0 + i, ProbeKind::publicIP, double(i)));
    many.push_back(sample(kT0, ProbeKind::publicIP, std::nullopt, true)); // no latency: not counted
    EXPECT_EQ(DossierBuilder::percentile(0.95, pointers(many)), 19.0);
    EXPECT_EQ(DossierBuilder::percentile(0.5, pointers(many)), 10.0);
    EXPECT_EQ(DossierBuilder::percentile(0.5, {}), std::nullopt);
}

TEST(DossierStepsTest, LossIsTheMeanLossOnlyWhenEverySampleCarriesOne)
{
    const struct {
        std::vector<NetworkSample> samples;
        double expected;
    } cases[] = {
        {{sample(kT0, ProbeKind::publicIP, 10.0, true, "wlan0", 0.1),
          sample(kT0, ProbeKind::publicIP, std::nullopt, false, "wlan0", 0.3)},
         0.2},
        {{sample(kT0, ProbeKind::publicIP, 10.0, true, "wlan0", 0.1),
          sample(kT0, ProbeKind::publicIP, std::nullopt, false, "wlan0"),
          sample(kT0, ProbeKind::publicIP, 12.0, true, "wlan0", 0.5), sample(kT0, ProbeKind::publicIP, 12.0)},
         0.25},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(DossierBuilder::lossRatio(pointers(c.samples)), c.expected);
}

TEST(DossierStepsTest, GapsAreStrictlyLongerThanFiveMinutes)
{
    const DossierRequest request = period(kT0, 600);
    const struct {
        std::vector<double> offsets;
        double periodSeconds;
        std::vector<std::pair<double, double>> gaps;
    } cases[] = {
        {{0, 300}, 600, {}},
        {{0, 301}, 600, {{0, 301}}},
        {{0, 300}, 601, {{300, 601}}},
        {{301}, 600, {{0, 301}}},
        {{100, 50, 420}, 700, {{100, 420}}}, // order of the rows does not matter
        {{}, 600, {{0, 600}}},
    };
    for (const auto& c : cases) {
        std::vector<NetworkSample> samples;
        for (double offset : c.offsets)
            samples.push_back(sample(kT0 + offset, ProbeKind::http, 1.0));
        const auto gaps = DossierBuilder::gaps(samples, {}, period(kT0, c.periodSeconds));
        std::vector<std::pair<double, double>> got;
        for (const MeasurementGap& gap : gaps)
            got.emplace_back(gap.start - kT0, gap.end - kT0);
        EXPECT_EQ(got, c.gaps) << c.offsets.size() << " samples, " << c.periodSeconds << " s";
    }
    const auto twice = DossierBuilder::gaps({}, {}, request);
    EXPECT_NE(twice[0].id, DossierBuilder::gaps({}, {}, request)[0].id) << "every gap gets a new id";
}

// A month whose older days exist only as hour roll-ups (as the standard retention leaves them) is
// covered where it was measured.
TEST_F(DossierBuilderTest, HourRollupsCoverTheirWholeHour)
{
    const double rawFrom = kT0 + 23 * kDay;
    raw->exec(QStringLiteral("BEGIN;"));
    for (double t = kT0; t < rawFrom; t += 3600) {
        addRollup(t, 3600, ProbeKind::publicIP, 720, 719, 21.0);
        addRollup(t, 3600, ProbeKind::gateway, 720, 720, 3.0);
    }
    raw->exec(QStringLiteral("COMMIT;"));
    std::vector<NetworkSample> week;
    for (double t = rawFrom; t <= kT0 + 30 * kDay; t += 5)
        week.push_back(sample(t, ProbeKind::publicIP, 20.0));
    raw->insertSamples(week);

    const DossierDocument doc = build(period(kT0, 30 * kDay));
    EXPECT_GT(doc.coverageRatio, 0.99);
    EXPECT_TRUE(doc.gaps.empty()) << doc.gaps.size() << " gaps, the first at " << doc.gaps.front().start - kT0;
    EXPECT_TRUE(doc.containsAggregatedPeriods);
    EXPECT_EQ(doc.sampleCount, static_cast<long long>(week.size()) + 23 * 24 * 1440);

    // A period that starts inside an hour: the hour's bucket began before the period and still
    // vouches for its first half hour.
    const DossierDocument midHour = build(period(kT0 + 1800, 30 * kDay - 1800));
    EXPECT_TRUE(midHour.gaps.empty()) << midHour.gaps.size() << " gaps, the first at " << midHour.gaps.front().start - kT0;
    EXPECT_EQ(midHour.sampleCount, static_cast<long long>(week.size()) + (23 * 24 - 1) * 1440);

    // A real pause inside the roll-up days is still a gap: from the end of the hour before it.
    raw->exec(QStringLiteral("DELETE FROM sample_rollups WHERE bucket_start >= %1 AND bucket_start < %2;")
                  .arg(kT0 + 2 * kDay, 0, 'f', 0)
                  .arg(kT0 + 2 * kDay + 3 * 3600, 0, 'f', 0));
    const DossierDocument paused = build(period(kT0, 30 * kDay));
    ASSERT_EQ(paused.gaps.size(), 1u);
    EXPECT_EQ(paused.gaps[0].start, kT0 + 2 * kDay);
    EXPECT_EQ(paused.gaps[0].duration(), 3 * 3600);
}

TEST_F(DossierBuilderTest, TimelineSlicesChooseRawBeforeRollups)
{
    // 7200 s: slices of 60 s, minute roll-ups.
    const DossierRequest request = period(kT0, 7200);
    raw->insertSamples({
        sample(kT0 + 5, ProbeKind::publicIP, 10.0), sample(kT0 + 6, ProbeKind::publicIP, 30.0),
        sample(kT0 + 7, ProbeKind::publicIP, std::nullopt, false),         // slice 0: raw provider
        sample(kT0 + 65, ProbeKind::gateway, 3.0),                         // slice 1: raw router only...
        sample(kT0 + 300, ProbeKind::dns, 8.0),                            // slice 5: nothing drawn
        sample(kT0 + 7200, ProbeKind::publicIP, 50.0),                     // the end: the last slice
    });
    addRollup(kT0 + 60, 60, ProbeKind::publicIP, 12, 6, 40.0); // ...which roll-ups do not override
    addRollup(kT0 + 120, 60, ProbeKind::publicIP, 10, 9, 5.0); // slice 2: roll-ups only
    addRollup(kT0 + 150, 60, ProbeKind::publicIP, 10, 10, 7.0);
    addRollup(kT0 + 180, 60, ProbeKind::gateway, 10, 10, 4.0); // slice 3: roll-up router only
    addRollup(kT0 + 240, 60, ProbeKind::dns, 10, 10, 4.0);     // slice 4: not drawn
    const DossierDocument doc = build(request);

    const std::vector<DossierTimelinePoint> expected{
        {kT0, std::nullopt, 30.0, 1.0 / 3.0, false},
        {kT0 + 60, 3.0, std::nullopt, std::nullopt, false},
        {kT0 + 120, std::nullopt, 7.0, 1.0 / 20.0, true},
        {kT0 + 180, 4.0, std::nullopt, std::nullopt, true},
        {kT0 + 119 * 60, std::nullopt, 50.0, 0.0, false},
    };
    EXPECT_EQ(doc.timeline, expected);
    EXPECT_TRUE(doc.containsAggregatedPeriods);

    // Every slice with data gives a point; instants outside the period give none.
    std::vector<NetworkSample> perMinute;
    for (int i = 0; i < 120; ++i)
        perMinute.push_back(sample(kT0 + 60 * i + 30, ProbeKind::gateway, 1.0));
    perMinute.push_back(sample(kT0 - 1, ProbeKind::gateway, 1.0));
    perMinute.push_back(sample(kT0 + 7201, ProbeKind::gateway, 1.0));
    const auto full = DossierBuilder::timeline(perMinute, {}, request);
    ASSERT_EQ(full.size(), 120u);
    EXPECT_EQ(full.back().time, kT0 + 119 * 60);
    EXPECT_TRUE(DossierBuilder::timeline(perMinute, {}, period(kT0, 0)).empty());
}

TEST_F(DossierBuilderTest, OneWeekReadsMinuteRollupsAndLongerHourRollups)
{
    addRollup(kT0 + 3600, 60, ProbeKind::gateway, 7, 7, 1.0);
    addRollup(kT0 + 3600, 3600, ProbeKind::gateway, 11, 11, 1.0);
    EXPECT_EQ(build(period(kT0, 604800)).sampleCount, 7);
    EXPECT_EQ(build(period(kT0, 604801)).sampleCount, 11);
}

// Hour buckets first (the roll-ups' p50 rule), then each clock hour's median over the buckets of
// every day: a busy day weighs no more than a quiet one, and an hour known raw ignores a roll-up of it.
TEST(DossierStepsTest, HourlyProfileWeighsEveryDayAlikeOnTheLocalClock)
{
    ASSERT_EQ(qEnvironmentVariable("TZ"), QStringLiteral("Europe/Budapest"));
    auto utc = [](int month, int day, int hour, int minute) {
        return static_cast<double>(QDateTime(QDate(2026, month, day), QTime(hour, minute), QTimeZone::utc()).toSecsSinceEpoch());
    };
    std::vector<NetworkSample> samples{
        sample(utc(3, 29, 0, 30), ProbeKind::publicIP, 10.0),        // 01:30 CET
        sample(utc(3, 29, 1, 30), ProbeKind::publicIP, 12.0),        // 03:30 CEST: the clock skipped 02
        sample(utc(10, 25, 0, 30), ProbeKind::publicIP, 20.0),       // 02:30 CEST
        sample(utc(10, 25, 1, 30), ProbeKind::publicIP, 30.0),       // 02:30 CET, the repeated hour
        sample(utc(10, 25, 10, 20), ProbeKind::publicIP, 50.0),      // 11:20 CET
        sample(utc(10, 25, 10, 40), ProbeKind::publicIP, std::nullopt, false),
        sample(utc(3, 31, 3, 10), ProbeKind::publicIP, 60.0),        // 05:10 CEST, one sample a day
        sample(utc(4, 1, 3, 10), ProbeKind::publicIP, 60.0),
    };
    for (int i = 0; i < 9; ++i) // a busy 05:00 on one day
        samples.push_back(sample(utc(3, 30, 3, 0) + 60 * i, ProbeKind::publicIP, 10.0 + i * 0.1));
    const std::vector<SampleRollup> rollups{
        {utc(10, 25, 10, 0), 3600, ProbeKind::publicIP, 10, 9, 99.0, {}, {}, {}, {}, {}}, // the raw hour's own
        {utc(10, 26, 10, 0), 3600, ProbeKind::publicIP, 10, 9, 40.0, {}, {}, {}, {}, {}},
        {utc(10, 26, 10, 0), 3600, ProbeKind::gateway, 10, 0, 1.0, {}, {}, {}, {}, {}},
    };
    const std::vector<HourlyProfileEntry> expected{
        {1, 10.0, 0.0, 1},
        {2, 30.0, 0.0, 2},
        {3, 12.0, 0.0, 1},
        {5, 60.0, 0.0, 11},           // buckets 10.4, 60, 60
        {11, 50.0, 2.0 / 12.0, 12},   // buckets 50 (raw, 1 of 2 failed) and 40 (9 of 10)
    };
    EXPECT_EQ(DossierBuilder::hourlyProfile(pointers(samples), rollups), expected);
}

TEST_F(DossierBuilderTest, AccessPointsByCountWithStableTiesAndNeutralLabels)
{
    auto wifi = [](double t, std::optional<QString> bssid, std::optional<QString> ssid, std::optional<int> rssi,
                   std::optional<QString> band) {
        WifiSnapshot w = makeWifi(t);
        w.bssid = std::move(bssid);
        w.ssid = std::move(ssid);
        w.rssi = rssi;
        w.band = std::move(band);
        return w;
    };
    const QString aa = QStringLiteral("aa:aa"), dd = QStringLiteral("dd:dd"), home = QStringLiteral("Otthon");
    const QString g24 = QStringLiteral("2.4 GHz"), g5 = QStringLiteral("5 GHz");
    for (const WifiSnapshot& w : {
             wifi(kT0 + 1, aa, home, -50, g24), wifi(kT0 + 2, std::nullopt, home, -70, std::nullopt),
             wifi(kT0 + 3, aa, std::nullopt, -80, std::nullopt), wifi(kT0 + 4, std::nullopt, std::nullopt, -60, g5),
             wifi(kT0 + 5, std::nullopt, home, std::nullopt, g5), wifi(kT0 + 6, dd, home, -67, g5),
             wifi(kT0 + 7, dd, home, std::nullopt, g24), wifi(kT0 + 8, dd, home, -60, std::nullopt)})
        await(store->insertWifiSnapshot(w));

    const std::vector<AccessPointBreakdown> named{
        {dd, g24, 3, -60, 0.5},                                   // -67 counts as weak
        {aa, g24, 2, -50, 0.5},                                   // tie with "Otthon": seen first
        {home, g5, 2, -70, 1.0},
        {QStringLiteral("ismeretlen"), g5, 1, -60, 0.0},
    };
    EXPECT_EQ(build(period(kT0, 3600)).accessPoints, named);

    const DossierDocument anonymous = build(period(kT0, 3600, true));
    ASSERT_EQ(anonymous.accessPoints.size(), named.size());
    for (std::size_t i = 0; i < named.size(); ++i) {
        AccessPointBreakdown expected = named[i];
        expected.label = QString::number(i + 1) + QStringLiteral(". hozzáférési pont");
        EXPECT_EQ(anonymous.accessPoints[i], expected);
    }
}

TEST_F(DossierBuilderTest, WiredAgainstWiFiByTheSnapshotsInterfaces)
{
    await(store->insertWifiSnapshot(makeWifi(kT0 + 1))); // wlan0
    std::vector<NetworkSample> samples;
    for (int i = 0; i < 30; ++i) {
        samples.push_back(sample(kT0 + 10 + i, ProbeKind::publicIP, 20.0 + i % 2, true, "wlan0"));
        samples.push_back(sample(kT0 + 10 + i, ProbeKind::publicIP, 12.0, true, "eth0"));
        samples.push_back(sample(kT0 + 10 + i, ProbeKind::gateway, 1.0, true, "eth0")); // not a provider sample
    }
    samples.push_back(sample(kT0 + 50, ProbeKind::publicIP, std::nullopt, false, "enp3s0"));
    raw->insertSamples(samples);
    const WiredWiFiComparison w = build(period(kT0, 3600)).wiredComparison;
    EXPECT_EQ(w, (WiredWiFiComparison{30, 20.0, 0.0, 31, 12.0, 1.0 / 31.0}));
    EXPECT_EQ(w.wifiContributionMs(), 8.0);

    std::vector<const NetworkSample*> provider;
    for (const NetworkSample& s : samples)
        if (s.target.kind == ProbeKind::publicIP)
            provider.push_back(&s);
    const WiredWiFiComparison noWifi = DossierBuilder::wiredComparison(provider, {});
    EXPECT_EQ(noWifi.wifiSampleCount, 0);
    EXPECT_EQ(noWifi.wifiLossRatio, std::nullopt);
    EXPECT_EQ(noWifi.wiredSampleCount, 61);
}

// Every incident of the period in start order: an outage when the journal says so (whatever samples of
// its time are kept), any other named for what the provider samples of its time show. Only an outage counts.
TEST_F(DossierBuilderTest, IncidentsAreNamedForWhatTheyWere)
{
    using C = IncidentClassification;
    using N = IncidentNature;
    const auto incident = [](double start, std::optional<double> end, C c, const char* summary, bool outage = false) {
        Incident i = makeIncident(kT0 + start, end ? std::optional<double>(kT0 + *end) : std::nullopt);
        i.classification = c;
        i.severity = IncidentSeverity::critical;
        i.evidenceSummary = QString::fromUtf8(summary);
        i.outage = outage;
        return i;
    };
    struct Case {
        Incident incident;
        std::optional<double> latency; // of the provider samples in it, every 10 s; none: no sample
        double loss;
        N nature;
        FaultLocation location;
    };
    const Case cases[] = {
        {incident(-100, 50, C::dnsOnlyIssue, "A névfeloldás (DNS) nem válaszol."), 20.0, 0, N::nameResolution, FaultLocation::dns},
        {incident(100, 160, C::offline, "x"), std::nullopt, 0, N::outage, FaultLocation::offline},
        {incident(200, 377, C::gatewayCongestion, "A routered vagy a helyi hálózatod a szűk keresztmetszet."), 180.0, 0,
         N::slowness, FaultLocation::router},
        {incident(400, 577, C::internetUpstreamIssue, "A hiba a routereden túl, a szolgáltatói szakaszon van.", true),
         std::nullopt, 1, N::outage, FaultLocation::provider},
        {incident(600, 900, C::internetUpstreamIssue, "A hiba a routereden túl, a szolgáltatói szakaszon van."), 25.0,
         0.2, N::loss, FaultLocation::provider},
        {incident(1000, 1010, C::unknown, "?"), std::nullopt, 0, N::disturbance, FaultLocation::localUnseparated},
        {incident(1020, 1030, C::wifiLinkDegraded, "?"), std::nullopt, 0, N::disturbance, FaultLocation::wifi},
        {incident(1100, 1110, C::internetUpstreamIssue, "A hiba a routereden túl, a szolgáltatói szakaszon van.", true),
         std::nullopt, 0, N::outage, FaultLocation::provider},
        {incident(2000, std::nullopt, C::reassociationOrRoam, "x"), 20.0, 0, N::accessPointChange, FaultLocation::wifi},
    };
    std::vector<NetworkSample> samples;
    for (const Case& c : cases) {
        await(store->upsertIncident(c.incident));
        if (!c.latency && c.loss == 0)
            continue;
        const double from = std::max(c.incident.startTimestamp, kT0);
        for (double t = from; t <= c.incident.endTimestamp.value_or(kT0 + 2100); t += 10)
            samples.push_back(sample(t, ProbeKind::publicIP, c.loss >= 1 ? std::nullopt : c.latency, c.loss < 1, "eth0",
                                     c.loss));
    }
    raw->insertSamples(samples);
    // An IPv6 incident is listed on the IPv6 page only.
    const Incident ipv6 = incident(300, 480, C::ipv6ProviderIssue, "x");
    await(store->upsertIncident(ipv6));
    const DossierDocument doc = build(period(kT0, 3600));
    EXPECT_EQ(doc.ipv6Incidents, (std::vector<Ipv6IncidentRecord>{{C::ipv6ProviderIssue, kT0 + 300, kT0 + 480}}));
    ASSERT_EQ(doc.outages.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(doc.outages[i].id, cases[i].incident.id) << i;
        EXPECT_EQ(doc.outages[i].nature, cases[i].nature) << i;
        EXPECT_EQ(doc.outages[i].location, cases[i].location) << i;
    }
    EXPECT_EQ(doc.trueOutages().size(), 3u);
    EXPECT_EQ(doc.outageSentence(), QStringLiteral("Az időszakban 3 kimaradás volt, összesen 4 perc 7 mp: ekkor a "
                                                   "kapcsolat nem működött. A válaszidőkről szóló megállapítások a "
                                                   "működő időre vonatkoznak."));
}

TEST_F(DossierBuilderTest, AResolverThatAnswersWithErrorsIsNotCalledSilent)
{
    // Every ping answered, every lookup failed: with a time (an error answer) in one period, without
    // one (silence) in the next.
    for (int i = 0; i < 40; ++i) {
        const Timestamp t = kT0 + 10 * i;
        const bool second = i >= 20;
        raw->insertSamples({sample(t + 1, ProbeKind::gateway, 2.0), sample(t + 2, ProbeKind::publicIP, 20.0),
                            sample(t + 3, ProbeKind::dns, second ? std::nullopt : std::optional<double>(4.0), false)});
    }
    const FaultAttribution errors = build(period(kT0, 200)).attribution;
    const FaultAttribution silence = build(period(kT0 + 200, 200)).attribution;
    EXPECT_EQ(errors.location, FaultLocation::dns);
    EXPECT_EQ(errors.headline, QStringLiteral("A névfeloldó hibával válaszol."));
    EXPECT_EQ(silence.location, FaultLocation::dns);
    EXPECT_EQ(silence.headline, QStringLiteral("A névfeloldás (DNS) nem válaszol."));
}

TEST_F(DossierBuilderTest, TheBuildRunsOnTheStoreThreadAndFailsWithTheStore)
{
    const auto testThread = std::this_thread::get_id();
    const auto jobThread =
        await(store->runWithConnection([](store::StoreDatabase&) { return std::this_thread::get_id(); }));
    EXPECT_NE(jobThread, testThread);

    auto unavailable = SQLiteStore::unavailable(QStringLiteral("no disk"));
    const StoreError error = awaitError(DossierBuilder::makeDocument(period(kT0, 60), kT0, *unavailable, QString()));
    EXPECT_EQ(error.code(), StoreError::unavailable);
    EXPECT_EQ(error.message(), QStringLiteral("no disk"));
}

} // namespace

// The stretch before the store's first measurement is named as such, and is neither a gap nor sleep;
// a pause after earlier measurements (raw rows or only their hour roll-ups) is a gap.
TEST_F(DossierBuilderTest, TimeBeforeTheFirstMeasurementIsNamed)
{
    const DossierRequest request = period(kT0, 30 * kDay);
    const Timestamp first = kT0 + 29 * kDay;
    struct Case {
        const char* name;
        std::function<void()> before; // what the store holds before the period
        bool named;
    };
    const Case cases[] = {
        {"fresh install", [] {}, true},
        {"an earlier raw sample", [&] { raw->insertSamples({sample(kT0 - kDay, ProbeKind::publicIP, 20.0)}); }, false},
        {"an earlier hour roll-up", [&] { addRollup(kT0 - 40 * kDay, 3600, ProbeKind::publicIP, 60, 60, 20.0); }, false},
    };
    for (const Case& c : cases) {
        SetUp();
        c.before();
        std::vector<NetworkSample> day;
        for (Timestamp t = first; t < first + 3600; t += 60)
            day.push_back(sample(t, ProbeKind::publicIP, 20.0));
        raw->insertSamples(day);
        for (const double days : {30.0, 7.0}) {
            const DossierDocument doc = build(period(request.end - days * kDay, days * kDay));
            EXPECT_EQ(doc.firstMeasurement, c.named ? std::optional<Timestamp>(first) : std::nullopt) << c.name;
            ASSERT_FALSE(doc.gaps.empty()) << c.name << ": the night after the hour measured";
            EXPECT_EQ(doc.gaps.front().start == doc.request.start, !c.named) << c.name << ", " << days << " days";
            EXPECT_EQ(doc.coverageExplanation().contains(QStringLiteral("a mérés kezdete előtti idő")), c.named) << c.name;
        }
    }
}
