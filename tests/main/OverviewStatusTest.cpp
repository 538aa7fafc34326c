#include "ui/main/OverviewStatus.h"

#include "tests/main/SnapshotBuilders.h"

#include "core/probes/ICMPProbe.h"
#include "ui/main/DashboardLogic.h"
#include "ui/main/MainLogic.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

using namespace pv;
using namespace pv::test;

namespace {

constexpr Timestamp kNow = 1'700'000'000.0;

bool isSuspect(const PVSegmentState& s, double confidence)
{
    return s.kind == PVSegmentState::Kind::suspect && std::abs(s.confidence - confidence) < 1e-9;
}

} // namespace

TEST(OverviewStatusLevel, PausedAndThinEvidenceAreNeutralWhateverTheConnection)
{
    auto s = healthySnapshot();
    s.liveStatus = LiveStatus::offline;
    s.isMonitoring = false;
    EXPECT_EQ(overviewStatusLevel(s), PVStatus::neutral);
    s.isMonitoring = true;
    s.attribution.location = FaultLocation::insufficientEvidence;
    EXPECT_EQ(overviewStatusLevel(s), PVStatus::neutral);
}

TEST(OverviewStatusLevel, FollowsTheLiveStatusAndDegradedIsSerious)
{
    auto s = healthySnapshot();
    const std::pair<LiveStatus, PVStatus> table[] = {{LiveStatus::healthy, PVStatus::good},
                                                     {LiveStatus::degraded, PVStatus::serious},
                                                     {LiveStatus::offline, PVStatus::critical},
                                                     {LiveStatus::reassociating, PVStatus::watch}};
    for (const auto& [live, level] : table) {
        s.liveStatus = live;
        EXPECT_EQ(overviewStatusLevel(s), level) << rawValue(live).toStdString();
    }
}

TEST(LiveStatusLine, PausedWinsThenTheEvidenceGate)
{
    auto s = healthySnapshot();
    s.isMonitoring = false;
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("A mérés szünetel"));
    EXPECT_EQ(statusExplanation(s),
              QStringLiteral("A rögzítés áll. Amíg szünetel, nem gyűlik bizonyíték a kapcsolatod állapotáról."));

    s.isMonitoring = true;
    s.liveStatus = LiveStatus::offline; // the gate stands before the connection tests
    s.verdict.confidence = {19, 300};
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Még gyűjtjük az első adatokat"));
    s.verdict.confidence = {50, 59.5};
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Még gyűjtjük az első adatokat"));
    s.verdict.confidence = {50, std::nan("")};
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Még gyűjtjük az első adatokat"));
    s.verdict.confidence = {20, 60};
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Nincs internetkapcsolat"));
    EXPECT_EQ(overviewStatusLevel(s), PVStatus::critical);
    s.liveStatus = LiveStatus::reassociating;
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Épp másik hozzáférési pontra vált"));
    EXPECT_EQ(overviewStatusLevel(s), PVStatus::watch);
}

TEST(LiveStatusLine, NamesThePoorCapabilityBeforeAUsableOne)
{
    auto s = healthySnapshot();
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Az internetkapcsolatod rendben van"));
    s.verdict.setRating(UsageCapability::videoCall, CapabilityRating::usable);
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Az internetkapcsolatod használható"));
    s.verdict.setRating(UsageCapability::gaming, CapabilityRating::poor);
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Online játék most nem fog jól menni"));
}

TEST(LiveStatusLine, AFaultThatEndedSaysTheConnectionWorksAgainWhateverTheWindowRated)
{
    auto s = healthySnapshot();
    s.verdict.setRating(UsageCapability::videoCall, CapabilityRating::poor); // the window still holds the fault
    s.endedFault = live_picture::EndedFault{FaultLocation::provider, kNow - 120};
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Az internetkapcsolatod újra működik"));
    s.liveStatus = LiveStatus::offline; // a new outage is named as such
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Nincs internetkapcsolat"));
    s.ipv6Path.state = Ipv6PathState::ipv4Down; // … unless IPv6 still gets through
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Az IPv4-kapcsolatod hibás, az IPv6 működik"));
    EXPECT_EQ(overviewStatusLevel(s), PVStatus::serious);
}

TEST(StatusExplanation, IsTheAttributionHeadlineWhileMonitoringAndNeverRepeatsTheLineAbove)
{
    auto s = healthySnapshot();
    s.attribution.location = FaultLocation::router;
    s.attribution.headline = QStringLiteral("A router felé 40%-os a kiesés.");
    EXPECT_EQ(statusExplanation(s), s.attribution.headline);

    // A sound connection: the headline says so, the line below it does not say it again.
    s.attribution.location = FaultLocation::none;
    s.attribution.headline = QStringLiteral("A kapcsolat rendben van.");
    EXPECT_EQ(liveStatusLine(s), QStringLiteral("Az internetkapcsolatod rendben van"));
    EXPECT_EQ(statusExplanation(s), QStringLiteral("A mért szakaszok egyikén sem látunk hibát."));

    // A fault-free headline with news of its own (a fault that ended, a ping-shy router) stays.
    for (const QString& headline : {QStringLiteral("A szolgáltatói hiba 10:01-kor véget ért, a kapcsolat azóta működik."),
                                   QStringLiteral("Nincs hiba — a routered nem válaszol a pingre, de a forgalmat továbbítja.")}) {
        s.attribution.headline = headline;
        EXPECT_EQ(statusExplanation(s), headline);
    }
}

TEST(MeasurementFreshnessLabel, TruncatesTheAgeAndIgnoresMonitoring)
{
    OverviewSnapshot s;
    EXPECT_EQ(measurementFreshnessLabel(s, kNow), QStringLiteral("Mérés indul"));
    s.lastProbeBatchTimestamp = kNow - 9.9;
    EXPECT_EQ(measurementFreshnessLabel(s, kNow), QStringLiteral("Mérés folyamatban"));
    s.lastProbeBatchTimestamp = kNow - 10.0;
    EXPECT_EQ(measurementFreshnessLabel(s, kNow), QStringLiteral("Utolsó mérés 10 másodperce"));
    s.lastProbeBatchTimestamp = kNow + 30; // a clock step backwards
    EXPECT_EQ(measurementFreshnessLabel(s, kNow), QStringLiteral("Mérés folyamatban"));
    s.isMonitoring = false;
    s.lastProbeBatchTimestamp = kNow - 125.7;
    EXPECT_EQ(measurementFreshnessLabel(s, kNow), QStringLiteral("Utolsó mérés 125 másodperce"));
}

TEST(AccusedCulprit, DnsFaultsAccuseTheProvider)
{
    OverviewSnapshot s;
    const std::pair<FaultLocation, std::optional<PVCulprit>> table[] = {
        {FaultLocation::none, std::nullopt},         {FaultLocation::wifi, PVCulprit::wifi},
        {FaultLocation::router, PVCulprit::router},  {FaultLocation::provider, PVCulprit::provider},
        {FaultLocation::dns, PVCulprit::provider},   {FaultLocation::localUnseparated, std::nullopt},
        {FaultLocation::offline, std::nullopt},      {FaultLocation::insufficientEvidence, std::nullopt}};
    for (const auto& [location, culprit] : table) {
        s.attribution.location = location;
        EXPECT_EQ(accusedCulprit(s), culprit) << rawValue(location).toStdString();
    }
}

TEST(WifiSegment, ThresholdsAndUnreadableSignal)
{
    auto s = healthySnapshot();
    auto stateAt = [&](std::optional<int> rssi) {
        s.wifiSnapshots = {wifi(kNow, rssi)};
        return wifiSegmentState(s);
    };
    EXPECT_TRUE(isSuspect(stateAt(-74), 0.45));
    EXPECT_TRUE(isSuspect(stateAt(-68), 0.45));
    EXPECT_TRUE(isSuspect(stateAt(-75), 0.8));
    EXPECT_EQ(stateAt(-67).kind, PVSegmentState::Kind::clear);
    const auto zero = stateAt(0);
    EXPECT_EQ(zero.kind, PVSegmentState::Kind::unknown);
    EXPECT_EQ(zero.reason, QStringLiteral("a jelerősség nem olvasható"));
    EXPECT_EQ(wifiSignalSummary(s), QStringLiteral("A jelerősség nem olvasható"));
    EXPECT_EQ(stateAt(std::nullopt).kind, PVSegmentState::Kind::unknown);

    // The unreadable test comes before the accusation.
    s.attribution.location = FaultLocation::wifi;
    EXPECT_EQ(stateAt(0).kind, PVSegmentState::Kind::unknown);
}

TEST(WifiSegment, AccusedSeverityFollowsTheOverviewLevel)
{
    auto s = healthySnapshot();
    s.wifiSnapshots = {wifi(kNow, -50)};
    s.attribution.location = FaultLocation::wifi;
    s.liveStatus = LiveStatus::healthy; // level good
    EXPECT_EQ(wifiSegmentState(s), PVSegmentState::faulty(PVStatus::watch));
    s.liveStatus = LiveStatus::reassociating; // level watch
    EXPECT_EQ(wifiSegmentState(s), PVSegmentState::faulty(PVStatus::watch));
    s.liveStatus = LiveStatus::offline; // level critical
    EXPECT_EQ(wifiSegmentState(s), PVSegmentState::faulty(PVStatus::critical));
    s.liveStatus = LiveStatus::degraded;
    EXPECT_EQ(wifiSegmentState(s), PVSegmentState::faulty(PVStatus::serious));
}

TEST(WifiSignalSummary, WordsAtTheirBoundaries)
{
    auto s = healthySnapshot();
    EXPECT_EQ(wifiSignalSummary(s), QStringLiteral("Nincs adat"));
    s.wifiSnapshots = {wifi(kNow, -60)};
    EXPECT_EQ(wifiSignalSummary(s), QStringLiteral("-60 dBm, erős"));
    s.wifiSnapshots = {wifi(kNow, -61)};
    EXPECT_EQ(wifiSignalSummary(s), QStringLiteral("-61 dBm, közepes"));
    s.wifiSnapshots = {wifi(kNow, -70)};
    EXPECT_EQ(wifiSignalSummary(s), QStringLiteral("-70 dBm, közepes"));
    s.wifiSnapshots = {wifi(kNow, -71)};
    EXPECT_EQ(wifiSignalSummary(s), QStringLiteral("-71 dBm, gyenge"));
}

TEST(CulpritChainSegments, WiredRouterUnmeasuredEvenWhenAccused)
{
    auto s = healthySnapshot();
    s.attribution.location = FaultLocation::router;
    const auto segments = culpritChainSegments(s, kNow);
    EXPECT_EQ(segments[0].culprit, PVCulprit::wifi);
    EXPECT_EQ(segments[0].title, QStringLiteral("A te Wi-Fid"));
    EXPECT_EQ(segments[0].state.kind, PVSegmentState::Kind::notApplicable);
    EXPECT_EQ(segments[0].caption, QStringLiteral("Kábelen mérünk"));
    EXPECT_EQ(segments[1].title, QStringLiteral("A te routered"));
    EXPECT_EQ(segments[1].state, PVSegmentState::unknown(QStringLiteral("még nincs mérés")));
    EXPECT_EQ(segments[1].caption, QStringLiteral("Még nincs mérés"));
    EXPECT_EQ(segments[2].culprit, PVCulprit::provider);
    EXPECT_EQ(segments[2].title, QStringLiteral("A szolgáltatód"));
}

TEST(LegSegment, FiftySevenOfSixtyIsSuspectWithItsLossShare)
{
    auto s = healthySnapshot();
    std::vector<NetworkSample> samples;
    for (int i = 0; i < 60; ++i)
        samples.push_back(sample(ProbeKind::gateway, kNow - 300 + i, i >= 3, 23.4));
    s.recentBatches = {batch(samples)};
    const auto state = legSegmentState(PVCulprit::router, ProbeKind::gateway, s, kNow);
    EXPECT_EQ(state.kind, PVSegmentState::Kind::suspect);
    EXPECT_NEAR(state.confidence, 0.2, 1e-9);
    EXPECT_EQ(legLatencySummary(ProbeKind::gateway, s, kNow), QStringLiteral("23 ms · 5% csomagvesztés, az elmúlt 5 percben"));
    s.attribution.location = FaultLocation::router;
    EXPECT_EQ(legSegmentState(PVCulprit::router, ProbeKind::gateway, s, kNow).kind, PVSegmentState::Kind::faulty);
}

// A leg that answered earlier and went silent in the newest minute shows no older latency.
TEST(LegSegment, ALegSilentInTheNewestMinuteSaysSoInsteadOfAnOlderLatency)
{
    auto s = healthySnapshot();
    std::vector<NetworkSample> samples;
    for (int i = 0; i < 10; ++i)
        samples.push_back(sample(ProbeKind::publicIP, kNow - 110 + 4 * i, true, 0.2));
    for (int i = 0; i < 10; ++i)
        samples.push_back(sample(ProbeKind::publicIP, kNow - 50 + 4 * i, false));
    s.recentBatches = {batch(samples)};
    EXPECT_EQ(legLatencySummary(ProbeKind::publicIP, s, kNow),
              QStringLiteral("Az elmúlt percben nem válaszol · 50% csomagvesztés, az elmúlt 2 percben"));
}

TEST(LegSegment, LostEchoesCountEvenWhenEverySampleGotAnAnswer)
{
    auto s = healthySnapshot();
    std::vector<NetworkSample> samples;
    for (int i = 0; i < 20; ++i) {
        samples.push_back(sample(ProbeKind::publicIP, kNow - 100 + i, true, 12));
        samples.back().packetLoss = 0.4; // two of three echoes answered
    }
    s.recentBatches = {batch(samples)};
    EXPECT_EQ(legLatencySummary(ProbeKind::publicIP, s, kNow), QStringLiteral("12 ms · 40% csomagvesztés, az elmúlt 2 percben"));
    EXPECT_EQ(legSegmentState(PVCulprit::provider, ProbeKind::publicIP, s, kNow).kind, PVSegmentState::Kind::suspect);
}

// Echoes the system refused to send are no samples: the captions read only what went out.
TEST(LegSegment, RefusedEchoesMoveNoCaption)
{
    auto s = healthySnapshot();
    std::vector<NetworkSample> samples;
    for (int i = 0; i < 60; ++i) {
        NetworkSample x = sample(ProbeKind::gateway, kNow - 600 + i * 5, i >= 48, 4);
        if (i < 48)
            x.errorDescription = ICMPProbe::socketNotOpenText();
        samples.push_back(x);
    }
    s.recentBatches = {batch(samples)};
    EXPECT_EQ(legLatencySummary(ProbeKind::gateway, s, kNow), QStringLiteral("4 ms, egyenletes, az elmúlt 6 percben"));
    EXPECT_EQ(legSegmentState(PVCulprit::router, ProbeKind::gateway, s, kNow).kind, PVSegmentState::Kind::clear);
    EXPECT_EQ(successRatio(ProbeKind::gateway, s, kNow), std::optional<double>(1.0));
    for (NetworkSample& x : samples) {
        x.errorDescription = ICMPProbe::socketNotOpenText();
        x.success = false;
    }
    s.recentBatches = {batch(samples)};
    EXPECT_EQ(legLatencySummary(ProbeKind::gateway, s, kNow), QStringLiteral("Még nincs mérés"));
}

// Over a recorded run of batches (a router echo lost now and then, one provider host losing two of
// three echoes every fifth batch, the other failing every eleventh, and both silent for 50 s near
// the end), each leg caption's loss figure is the share of that leg's echoes lost within exactly the
// stretch its label names, counted here from the batches themselves.
TEST(LegSegment, EachLossFigureCountsTheLegsEchoesOfTheStretchItsLabelNames)
{
    constexpr int kBatches = 200;
    const Timestamp first = kNow - 5.0 * (kBatches - 1);
    auto s = healthySnapshot();
    for (int i = 0; i < kBatches; ++i) {
        const Timestamp at = first + 5.0 * i;
        const bool silent = i >= 180 && i < 190;
        NetworkSample router = sample(ProbeKind::gateway, at, true, 3);
        router.packetLoss = i % 7 == 0 ? 1.0 / 3 : 0.0;
        NetworkSample one = sample(ProbeKind::publicIP, at, !silent, 20);
        one.packetLoss = silent ? 1.0 : i % 5 == 0 ? 2.0 / 3 : 0.0;
        NetworkSample two = sample(ProbeKind::publicIP, at, !silent && i % 11 != 0, 22);
        two.packetLoss = two.success ? 0.0 : 1.0;
        s.recentBatches.push_back(batch({router, one, two}));
    }
    const QRegularExpression caption(QStringLiteral("^\\d+ ms · (\\d+)% csomagvesztés, az elmúlt (?:(\\d+) )?percben$"));
    const struct {
        ProbeKind kind;
        int newestBatch; // the caption is read just after this batch
    } cases[] = {
        {ProbeKind::gateway, 199}, {ProbeKind::gateway, 120}, {ProbeKind::gateway, 10},
        {ProbeKind::publicIP, 199}, {ProbeKind::publicIP, 185}, {ProbeKind::publicIP, 150},
        {ProbeKind::publicIP, 40}, {ProbeKind::publicIP, 8},
    };
    for (const auto& c : cases) {
        const Timestamp now = first + 5.0 * c.newestBatch + 1;
        const QString text = legLatencySummary(c.kind, s, now);
        const auto m = caption.match(text);
        ASSERT_TRUE(m.hasMatch()) << text.toStdString();
        const double minutes = m.captured(2).isEmpty() ? 1 : m.captured(2).toDouble();
        double lost = 0, sent = 0;
        for (const ProbeBatch& b : s.recentBatches)
            for (const NetworkSample& x : b.samples)
                if (x.target.kind == c.kind && x.timestamp >= now - minutes * 60 && x.timestamp <= now) {
                    lost += 3 * *x.packetLoss;
                    sent += 3;
                }
        EXPECT_NEAR(m.captured(1).toDouble(), 100 * lost / sent, 0.5) << text.toStdString();
    }
}

// The cards, the tiles and the panel judge the present: ten minutes of batches (router, two public
// hosts every 5 s) with a fault that the journal has closed or still holds open, read at a moment
// after it. Nothing of an ended fault is shown again, every figure names its stretch, and a stretch
// that held two levels is never called steady.
TEST(LegSegment, TheCardsJudgeThePresentAndNameTheirStretch)
{
    using K = PVSegmentState::Kind;
    struct Fault {
        Timestamp from, to; // as seconds before now
        bool cut;           // both legs silent, else the public hosts +290 ms
    };
    const struct {
        const char* name;
        Fault fault;
        std::vector<Incident> incidents;
        Timestamp lastBatch;              // seconds before now (no batches since: no route)
        FaultLocation accused;
        K router, provider;
        const char *routerCaption, *providerCaption, *panelCaption, *loss;
    } cases[] = {
        {"100 s after a cut", {300, 100, true}, {incident(kNow - 300, kNow - 100)}, 5, FaultLocation::none, K::clear,
         K::clear, "kevesebb mint 1 ms, egyenletes, a hiba vége óta", "14 ms, egyenletes, a hiba vége óta",
         "Medián és veszteség a hiba vége óta", "0.0"},
        {"a DNS fault after a cut", {480, 300, true}, {incident(kNow - 480, kNow - 300), incident(kNow - 60, std::nullopt)}, 5, FaultLocation::dns,
         K::clear, K::faulty, "kevesebb mint 1 ms, egyenletes, a hiba kezdete óta",
         "14 ms, egyenletes, a hiba kezdete óta", "Medián és veszteség a hiba kezdete óta", "0.0"},
        {"95 s after a congestion", {270, 95, false}, {incident(kNow - 270, kNow - 95)}, 5, FaultLocation::none,
         K::clear, K::clear, "kevesebb mint 1 ms, egyenletes, a hiba vége óta",
         "14 ms, egyenletes, a hiba vége óta", "Medián és veszteség a hiba vége óta", "0.0"},
        {"a congestion no incident holds", {100, 40, false}, {}, 5, FaultLocation::none, K::clear,
         K::clear, "kevesebb mint 1 ms, egyenletes, az elmúlt 5 percben",
         "14 ms és 304 ms között ingadozik, az elmúlt 3 percben", "Medián és veszteség az elmúlt 3 percben", "0.0"},
        {"no default route", {0, 0, true}, {incident(kNow - 30, std::nullopt)}, 35, FaultLocation::offline,
         K::unknown, K::unknown, "Nincs mérés a hiba kezdete óta", "Nincs mérés a hiba kezdete óta",
         "Nincs mérés a hiba kezdete óta", "—"},
        // Nothing answered: at fault, not merely suspect, whoever the headline accuses.
        {"into a cut", {60, 0, true}, {incident(kNow - 55, std::nullopt)}, 5, FaultLocation::offline, K::faulty,
         K::faulty, "Nem válaszol (11 mérésből egy sem, a hiba kezdete óta)",
         "Nem válaszol (22 mérésből egy sem, a hiba kezdete óta)",
         "Medián és veszteség a hiba kezdete óta", "100.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = healthySnapshot();
        s.attribution.location = c.accused;
        s.incidents = c.incidents;
        for (Timestamp at = kNow - 600; at <= kNow - c.lastBatch; at += 5) {
            const bool faulty = at >= kNow - c.fault.from && at <= kNow - c.fault.to;
            const bool answered = !(faulty && c.fault.cut);
            const double extra = faulty && !c.fault.cut ? 290 : 0;
            // The batch just after a cut sent some echoes while it lasted: the cut's own loss.
            const bool straddling = c.fault.cut && at > kNow - c.fault.to && at <= kNow - c.fault.to + 5;
            s.recentBatches.push_back(batch({sample(ProbeKind::gateway, at, answered, 0.05),
                                             sample(ProbeKind::publicIP, at, answered, 14 + extra),
                                             sample(ProbeKind::publicIP, at, answered, 14.4 + extra)}));
            for (NetworkSample& x : s.recentBatches.back().samples)
                x.packetLoss = answered ? (straddling ? 1.0 / 3 : 0.0) : 1.0;
        }
        const auto chain = culpritChainSegments(s, kNow);
        EXPECT_EQ(chain[1].state.kind, c.router);
        EXPECT_EQ(chain[2].state.kind, c.provider);
        EXPECT_EQ(chain[1].caption.value_or(QString()).toStdString(), c.routerCaption);
        EXPECT_EQ(chain[2].caption.value_or(QString()).toStdString(), c.providerCaption);
        EXPECT_EQ(panelMetricsCaption(s, kNow).toStdString(), c.panelCaption);
        EXPECT_EQ(metricValueText(panelMetrics(s, kNow)[2]).toStdString(), c.loss);
    }
}

TEST(StretchText, WholeMinutesRoundedUp)
{
    const struct {
        double seconds;
        const char* figure;
        const char* lead;
    } cases[] = {
        {0, "az elmúlt percben", "Az elmúlt perc méréseiből:"},
        {60, "az elmúlt percben", "Az elmúlt perc méréseiből:"},
        {61, "az elmúlt 2 percben", "Az elmúlt 2 perc méréseiből:"},
        {295, "az elmúlt 5 percben", "Az elmúlt 5 perc méréseiből:"},
        {600, "az elmúlt 10 percben", "Az elmúlt 10 perc méréseiből:"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(stretchText(c.seconds), QString::fromUtf8(c.figure)) << c.seconds;
        EXPECT_EQ(evidenceStretchCaption(c.seconds), QString::fromUtf8(c.lead)) << c.seconds;
    }
}

// A reading older than the live window is not the present: the machine may be on a cable by now.
TEST(CulpritChainSegments, AWifiReadingOlderThanTheWindowIsNotShownAsCurrent)
{
    auto s = healthySnapshot();
    s.wifiSnapshots = {wifi(kNow - 3600, -60)};
    const struct {
        const char* name;
        std::optional<Timestamp> takenAt;
        const char* caption;
    } cases[] = {
        {"an hour later", kNow, "Kábelen mérünk"},
        {"within the window", kNow - 3600 + 599, "-60 dBm, erős"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        s.takenAt = c.takenAt;
        EXPECT_EQ(culpritChainSegments(s, kNow)[0].caption, QString::fromUtf8(c.caption));
        const bool current = std::string_view(c.caption) != "Kábelen mérünk";
        EXPECT_EQ(s.currentWifiSnapshot() != nullptr, current);
        EXPECT_EQ(recentRSSIValues(s).size(), current ? 1u : 0u);
        EXPECT_EQ(nowTiles(s, kNow)[2].value, current ? QStringLiteral("-60") : QStringLiteral("—"));
    }
}

TEST(LegSegment, RatioBoundaryAndCap)
{
    auto s = healthySnapshot();
    auto withRatio = [&](int ok, int total) {
        std::vector<NetworkSample> v;
        for (int i = 0; i < total; ++i)
            v.push_back(sample(ProbeKind::gateway, kNow - 100 + i * 0.5, i < ok, 5));
        s.recentBatches = {batch(v)};
        return legSegmentState(PVCulprit::router, ProbeKind::gateway, s, kNow);
    };
    EXPECT_EQ(withRatio(49, 50).kind, PVSegmentState::Kind::clear); // 0.98 is not below 0.98
    EXPECT_TRUE(isSuspect(withRatio(9, 10), (1 - 0.9) * 4));
    EXPECT_TRUE(isSuspect(withRatio(3, 4), 1.0));
    EXPECT_TRUE(isSuspect(withRatio(1, 4), 1.0));
}

TEST(RecentSamples, WindowOfTenMinutesNewestSixtyInBatchOrder)
{
    auto s = healthySnapshot();
    std::vector<ProbeBatch> batches;
    batches.push_back(batch({sample(ProbeKind::gateway, kNow - 600.5, false)})); // just outside
    batches.push_back(batch({sample(ProbeKind::gateway, kNow - 600, true, 1)}));  // at the cut-off
    for (int i = 0; i < 70; ++i)
        batches.push_back(batch({sample(ProbeKind::gateway, kNow - 500 + i, true, 100 + i),
                                 sample(ProbeKind::dns, kNow - 500 + i, true, 9)}));
    // Out of time order: still counted in batch order.
    batches.push_back(batch({sample(ProbeKind::gateway, kNow - 550, true, 999)}));
    s.recentBatches = batches;
    const auto recent = recentSamples(ProbeKind::gateway, s, kNow);
    ASSERT_EQ(recent.size(), 60u);
    EXPECT_EQ(recent.back().latencyMilliseconds, 999.0);
    EXPECT_EQ(recent.front().latencyMilliseconds, 100.0 + 11);
    EXPECT_EQ(recentSamples(ProbeKind::http, s, kNow).size(), 0u);
    EXPECT_FALSE(successRatio(ProbeKind::http, s, kNow));
    EXPECT_FALSE(medianLatency(ProbeKind::http, s, kNow));
}

TEST(RecentRSSIValues, NewestFortySkippingUnreadable)
{
    OverviewSnapshot s;
    for (int i = 0; i < 45; ++i)
        s.wifiSnapshots.push_back(wifi(kNow - 100 + i, i % 10 == 9 ? std::optional<int>(0) : std::optional<int>(-40 - i)));
    s.wifiSnapshots.push_back(wifi(kNow, std::nullopt));
    const auto values = recentRSSIValues(s);
    // 46 readings; the newest 40 are i = 6..44 and the absent one; 0 at i = 9, 19, 29, 39 are skipped.
    EXPECT_EQ(values.size(), 35u);
    EXPECT_EQ(values.front(), -46.0);
    EXPECT_EQ(values.back(), -84.0);
}
