#include "ui/main/MainLogic.h"

#include "tests/main/SnapshotBuilders.h"

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::test;

namespace {
constexpr Timestamp kNow = 1'700'000'000.0;

AdviceSet adviceWith(int steps, std::optional<QString> pointless = {})
{
    AdviceSet a;
    a.title = QStringLiteral("Mit tehetsz?");
    for (int i = 0; i < steps; ++i)
        a.steps.push_back({QStringLiteral("step.%1").arg(i), QStringLiteral("Lépés %1").arg(i)});
    a.pointless = std::move(pointless);
    return a;
}
} // namespace

TEST(WorkspaceSections, TableOrderTextsAndSymbols)
{
    const auto all = allWorkspaceSections();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(rawValue(all[2]), QStringLiteral("loadTest"));
    EXPECT_EQ(title(WorkspaceSection::dossier), QStringLiteral("Mérési dosszié"));
    EXPECT_EQ(subtitle(WorkspaceSection::settings), QStringLiteral("Futás, megőrzés, engedélyek"));
    EXPECT_EQ(symbolName(WorkspaceSection::overview), "gauge.with.dots.needle.50percent");
    EXPECT_EQ(symbolName(WorkspaceSection::history), "clock.arrow.circlepath");
}

TEST(WorkspaceSections, RestoreIsExactAndCaseSensitive)
{
    EXPECT_EQ(restoreSection(QStringLiteral("history")), WorkspaceSection::history);
    EXPECT_EQ(restoreSection(QStringLiteral("loadTest")), WorkspaceSection::loadTest);
    EXPECT_EQ(restoreSection(QStringLiteral("History")), WorkspaceSection::overview);
    EXPECT_EQ(restoreSection(QStringLiteral("loadtest")), WorkspaceSection::overview);
    EXPECT_EQ(restoreSection(QStringLiteral("foo")), WorkspaceSection::overview);
    EXPECT_EQ(restoreSection(QString()), WorkspaceSection::overview);
    EXPECT_EQ(restoreSection(QStringLiteral(" history")), WorkspaceSection::overview);
}

TEST(MonitoringTitles, FollowTheFlag)
{
    EXPECT_EQ(recordingButtonTitle(true), QStringLiteral("Szüneteltetés"));
    EXPECT_EQ(recordingButtonTitle(false), QStringLiteral("Folytatás"));
    EXPECT_EQ(monitoringActionTitle(true), QStringLiteral("Mérés szüneteltetése"));
    EXPECT_EQ(monitoringActionTitle(false), QStringLiteral("Mérés folytatása"));
}

TEST(VisibleSections, NineWithoutBannersAndAdvice)
{
    auto s = healthySnapshot();
    s.advice = adviceWith(3); // location none: no advice
    const auto sections = visibleSections(s);
    ASSERT_EQ(sections.size(), 9u);
    EXPECT_EQ(sections.front(), DashboardSection::hero);
    EXPECT_EQ(sections[1], DashboardSection::faultLocation);
    EXPECT_EQ(sections.back(), DashboardSection::rawData);
}

TEST(VisibleSections, BannersComeFirstStorageBeforeUpdateThenAdvice)
{
    auto s = healthySnapshot();
    s.storageBannerMessage = QStringLiteral("Sérült adatbázis.");
    s.availableUpdate = AvailableUpdate{QStringLiteral("2.1.0"), QString(), QUrl("https://example.invalid/x")};
    s.attribution.location = FaultLocation::router;
    s.advice = adviceWith(2);
    const auto sections = visibleSections(s);
    ASSERT_EQ(sections.size(), 12u);
    EXPECT_EQ(sections[0], DashboardSection::storageBanner);
    EXPECT_EQ(sections[1], DashboardSection::updateBanner);
    EXPECT_EQ(sections[2], DashboardSection::hero);
    EXPECT_EQ(sections[4], DashboardSection::advice);
    EXPECT_TRUE(showsStorageBanner(s));
    EXPECT_TRUE(showsUpdateBanner(s));
    s.storageBannerMessage.reset();
    s.availableUpdate.reset();
    EXPECT_FALSE(showsStorageBanner(s));
    EXPECT_FALSE(showsUpdateBanner(s));
}

TEST(UpdateTitle, InsertsTheVersionVerbatim)
{
    EXPECT_EQ(updateTitle(QStringLiteral("2.1.0")), QStringLiteral("Elérhető a 2.1.0 verzió"));
    EXPECT_EQ(updateTitle(QStringLiteral("v3.0-beta %@")), QStringLiteral("Elérhető a v3.0-beta %@ verzió"));
}

TEST(AdviceVisible, NeedsALocatedFaultAndSteps)
{
    EXPECT_FALSE(adviceVisible(FaultLocation::none, adviceWith(3)));
    EXPECT_FALSE(adviceVisible(FaultLocation::insufficientEvidence, adviceWith(3)));
    EXPECT_FALSE(adviceVisible(FaultLocation::router, adviceWith(0, QStringLiteral("Felesleges."))));
    EXPECT_TRUE(adviceVisible(FaultLocation::router, adviceWith(1)));
    EXPECT_TRUE(adviceVisible(FaultLocation::localUnseparated, adviceWith(2)));
    EXPECT_TRUE(adviceVisible(FaultLocation::offline, adviceWith(2)));
}

TEST(IsIncidentLive, AnyOpenIncident)
{
    EXPECT_FALSE(isIncidentLive({}));
    EXPECT_FALSE(isIncidentLive({incident(1, 2), incident(3, 4)}));
    EXPECT_TRUE(isIncidentLive({incident(1, 2), incident(3, std::nullopt), incident(5, 6)}));
}

TEST(PanelStatus, OwnLevelRuleNeverSerious)
{
    auto s = healthySnapshot();
    EXPECT_EQ(panelStatusLevel(s), PVStatus::good);
    s.ipv6Path.state = Ipv6PathState::providerDown; // the title says IPv6 is broken
    EXPECT_EQ(panelStatusLevel(s), PVStatus::watch);
    s.ipv6Path.state = Ipv6PathState::routerQuiet;
    EXPECT_EQ(panelStatusLevel(s), PVStatus::good);
    s.attribution.location = FaultLocation::router;
    s.attribution.severity = IncidentSeverity::critical;
    EXPECT_EQ(panelStatusLevel(s), PVStatus::critical);
    s.attribution.severity = IncidentSeverity::warning;
    EXPECT_EQ(panelStatusLevel(s), PVStatus::watch);
    s.attribution.severity = IncidentSeverity::info;
    EXPECT_EQ(panelStatusLevel(s), PVStatus::watch);
    s.attribution.location = FaultLocation::offline;
    EXPECT_EQ(panelStatusLevel(s), PVStatus::critical);
    s.attribution.location = FaultLocation::insufficientEvidence;
    EXPECT_EQ(panelStatusLevel(s), PVStatus::neutral);
    s.liveStatus = LiveStatus::degraded;
    for (FaultLocation l : allFaultLocations()) {
        s.attribution.location = l;
        EXPECT_NE(panelStatusLevel(s), PVStatus::serious);
    }
    s.isMonitoring = false;
    s.attribution.location = FaultLocation::offline;
    EXPECT_EQ(panelStatusLevel(s), PVStatus::neutral);
}

TEST(PanelStatus, TitleFreshnessAndSpokenHeader)
{
    auto s = healthySnapshot();
    s.attribution.headline = QStringLiteral("Minden rendben.");
    s.lastProbeBatchTimestamp = kNow - 3;
    EXPECT_EQ(panelStatusTitle(s), QStringLiteral("Minden rendben."));
    EXPECT_EQ(panelFreshnessLine(s, kNow), QStringLiteral("Friss (3 mp)"));
    EXPECT_EQ(panelHeaderAccessibleLabel(s, kNow), QStringLiteral("Minden rendben.. Friss (3 mp)"));
    // With no route the cycles find nothing to measure: the verdict is current, not "Elavult".
    s.attribution.location = FaultLocation::offline;
    s.attributionWindowSeconds = 0;
    s.lastProbeBatchTimestamp = kNow - 60;
    EXPECT_EQ(panelFreshnessLine(s, kNow), QStringLiteral("Nincs útvonal — minden mérési kör újra ellenőrzi"));
    s.isMonitoring = false;
    EXPECT_EQ(panelStatusTitle(s), QStringLiteral("A mérés áll"));
    EXPECT_EQ(panelFreshnessLine(s, kNow), QStringLiteral("A rögzítés szünetel"));
    EXPECT_EQ(panelHeaderAccessibleLabel(s, kNow), QStringLiteral("A mérés áll. A rögzítés szünetel"));
}

TEST(PanelAdviceGroup, EvidenceAndFirstStepRules)
{
    auto s = healthySnapshot();
    s.attribution.evidence = {QStringLiteral("Első."), QStringLiteral("Második.")};
    s.advice = adviceWith(2);
    EXPECT_TRUE(panelShowsAdviceGroup(s));
    EXPECT_EQ(panelEvidenceLine(s), QStringLiteral("Első."));
    EXPECT_FALSE(panelAdviceStep(s)); // location none: no lightbulb line
    s.attribution.location = FaultLocation::wifi;
    EXPECT_EQ(panelAdviceStep(s), QStringLiteral("Lépés 0"));
    s.attribution.location = FaultLocation::insufficientEvidence;
    EXPECT_FALSE(panelShowsAdviceGroup(s));
    s.attribution.location = FaultLocation::router;
    s.attribution.evidence.clear();
    s.advice = adviceWith(0);
    EXPECT_TRUE(panelShowsAdviceGroup(s)); // an empty group still shows its divider
    EXPECT_FALSE(panelEvidenceLine(s));
    EXPECT_FALSE(panelAdviceStep(s));
}

// The three figures are of the stretch the provider's figures cover (here its newest minute).
TEST(PanelMetrics, RouterMedianIsTheUpperMiddleOfTheProvidersStretch)
{
    auto s = healthySnapshot();
    s.recentBatches = {batch({sample(ProbeKind::gateway, kNow - 10, true, 40), sample(ProbeKind::gateway, kNow - 9, true, 10),
                              sample(ProbeKind::gateway, kNow - 8, true, 30), sample(ProbeKind::gateway, kNow - 7, true, 20),
                              sample(ProbeKind::gateway, kNow - 6, false),
                              sample(ProbeKind::gateway, kNow - 61, true, 1), // before the provider's stretch
                              sample(ProbeKind::publicIP, kNow - 6, true, 18.4)})};
    EXPECT_EQ(routerMedianLatency(s, kNow), 30.0);
    const auto m = panelMetrics(s, kNow);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(metricValueText(m[0]), QStringLiteral("30"));
    EXPECT_EQ(metricValueText(m[1]), QStringLiteral("18"));
    EXPECT_EQ(metricAccessibleLabel(m[1]), QStringLiteral("Szolgáltató: 18 ms"));
    EXPECT_EQ(panelMetricsCaption(s, kNow), QStringLiteral("Medián és veszteség az elmúlt percben"));
}

TEST(PanelMetrics, AbsentValuesShowADashWithoutUnit)
{
    auto s = healthySnapshot();
    s.recentBatches = {batch({sample(ProbeKind::gateway, kNow - 10, true, 40)})};
    auto m = panelMetrics(s, kNow);
    EXPECT_EQ(metricValueText(m[0]), QStringLiteral("40")); // nothing beyond it measured: the router's own figure
    EXPECT_EQ(metricValueText(m[1]), QStringLiteral("—"));
    EXPECT_EQ(metricAccessibleLabel(m[1]), QStringLiteral("Szolgáltató: nincs mérés"));
    s.recentBatches = {batch({sample(ProbeKind::gateway, kNow - 10, true, 40), sample(ProbeKind::publicIP, kNow - 10, false)})};
    EXPECT_EQ(metricValueText(panelMetrics(s, kNow)[0]), QStringLiteral("40")) << "nothing beyond it answers";
    s.recentBatches = {};
    EXPECT_EQ(metricAccessibleLabel(panelMetrics(s, kNow)[0]), QStringLiteral("Router: nincs mérés"));
    EXPECT_EQ(panelMetricsCaption(s, kNow), QStringLiteral("Medián és veszteség: még nincs mérés"));
    s.recentBatches = {batch({sample(ProbeKind::gateway, kNow - 10, false), sample(ProbeKind::publicIP, kNow - 10, true, 25)})};
    m = panelMetrics(s, kNow);
    EXPECT_EQ(metricValueText(m[0]), QStringLiteral("—"));
    EXPECT_EQ(metricValueText(m[1]), QStringLiteral("25"));
}

// A whole-millisecond figure under 1 ms must not read 0: "<1" beside its unit, spoken in words.
// The loss keeps its decimal: 0 % is a real figure.
TEST(PanelMetrics, SubMillisecondLatenciesDoNotReadZero)
{
    const struct {
        double router, provider, loss;
        const char *routerText, *providerText, *routerSpoken, *providerSpoken, *lossText;
    } cases[] = {
        {0.3, 0.49, 0, "<1", "<1", "Router: kevesebb mint 1 ms", "Szolgáltató: kevesebb mint 1 ms", "0.0"},
        {0.0, 0.51, 0, "<1", "1", "Router: kevesebb mint 1 ms", "Szolgáltató: 1 ms", "0.0"},
        {1.4, 12.5, 0.034, "1", "12", "Router: 1 ms", "Szolgáltató: 12 ms", "3.4"},
    };
    for (const auto& c : cases) {
        auto s = healthySnapshot();
        NetworkSample provider = sample(ProbeKind::publicIP, kNow - 10, true, c.provider);
        provider.packetLoss = c.loss;
        s.recentBatches = {batch({sample(ProbeKind::gateway, kNow - 10, true, c.router), provider})};
        const auto m = panelMetrics(s, kNow);
        EXPECT_EQ(metricValueText(m[0]), QString::fromUtf8(c.routerText)) << c.router;
        EXPECT_EQ(metricValueText(m[1]), QString::fromUtf8(c.providerText)) << c.provider;
        EXPECT_EQ(metricAccessibleLabel(m[0]), QString::fromUtf8(c.routerSpoken)) << c.router;
        EXPECT_EQ(metricAccessibleLabel(m[1]), QString::fromUtf8(c.providerSpoken)) << c.provider;
        EXPECT_EQ(metricValueText(m[2]), QString::fromUtf8(c.lossText)) << c.loss;
    }
    EXPECT_EQ(metricAccessibleLabel({QStringLiteral("Veszteség"), 3.4, 1, QStringLiteral("%")}),
              QStringLiteral("Veszteség: 3.4 %"));
}

// The tray icon says what the window says: never the all-clear while a banner warns that
// measurements cannot be made or saved, and no Wi-Fi symbol for a machine on a cable.
TEST(TrayLook, FollowsTheHeadlineTheBannersAndTheLinkInUse)
{
    const auto outage = [](OverviewSnapshot s) {
        s.liveStatus = LiveStatus::offline;
        s.attribution.location = FaultLocation::provider;
        s.attribution.severity = IncidentSeverity::critical;
        s.attribution.headline = QStringLiteral("Nincs internet, de a routered válaszol.");
        return s;
    };
    const auto onWifi = [](OverviewSnapshot s) {
        s.takenAt = kNow;
        s.wifiSnapshots = {wifi(kNow - 5, -55)};
        return s;
    };
    const auto icmpRefused = [](OverviewSnapshot s) {
        s.statusMessage = QStringLiteral("A rendszer nem engedi a ping küldését.");
        return s;
    };
    const auto unsaved = [](OverviewSnapshot s) {
        s.isRecordingFailing = true;
        return s;
    };
    const auto storeBanner = [](OverviewSnapshot s) {
        s.storageBannerMessage = QStringLiteral("Az adatbázis nem írható.");
        return s;
    };
    const auto confirmation = [](OverviewSnapshot s) {
        s.statusMessage = QStringLiteral("Az exportálás elkészült.");
        s.statusIsConfirmation = true;
        return s;
    };
    const auto collecting = [](OverviewSnapshot s) {
        s.attribution.location = FaultLocation::insufficientEvidence;
        return s;
    };
    const auto degraded = [](OverviewSnapshot s) {
        s.liveStatus = LiveStatus::degraded;
        return s;
    };
    const auto roaming = [](OverviewSnapshot s) {
        s.liveStatus = LiveStatus::reassociating;
        return s;
    };
    const auto paused = [](OverviewSnapshot s) {
        s.isMonitoring = false;
        return s;
    };
    const OverviewSnapshot ok = healthySnapshot();
    const struct {
        const char* name;
        OverviewSnapshot state;
        PVStatus level;
        std::string_view symbol;
    } cases[] = {
        {"healthy", ok, PVStatus::good, "checkmark.circle.fill"},
        {"healthy, an export confirmed", confirmation(ok), PVStatus::good, "checkmark.circle.fill"},
        {"healthy, ICMP refused", icmpRefused(ok), PVStatus::watch, "exclamationmark.triangle.fill"},
        {"healthy, nothing saved", unsaved(ok), PVStatus::watch, "exclamationmark.triangle.fill"},
        {"healthy, the store unusable", storeBanner(ok), PVStatus::watch, "exclamationmark.triangle.fill"},
        {"collecting evidence", collecting(ok), PVStatus::neutral, "info.circle"},
        {"collecting evidence, ICMP refused", icmpRefused(collecting(ok)), PVStatus::watch,
         "exclamationmark.triangle.fill"},
        {"degraded", degraded(ok), PVStatus::serious, "exclamationmark.octagon.fill"},
        {"switching access points", roaming(onWifi(ok)), PVStatus::watch, "arrow.triangle.2.circlepath.circle.fill"},
        {"outage on a cable", outage(ok), PVStatus::critical, "xmark.octagon.fill"},
        {"outage on a cable, nothing saved", unsaved(outage(ok)), PVStatus::critical, "xmark.octagon.fill"},
        {"outage on Wi-Fi", outage(onWifi(ok)), PVStatus::critical, "wifi.slash"},
        {"paused", paused(outage(ok)), PVStatus::neutral, "pause.circle.fill"},
    };
    for (const auto& c : cases) {
        const TrayLook look = trayLook(c.state);
        EXPECT_EQ(look.level, c.level) << c.name;
        EXPECT_EQ(look.symbolName, c.symbol) << c.name;
    }
    // The tooltip carries the warning that holds the all-clear back.
    EXPECT_EQ(trayStatusText(icmpRefused(ok)), QStringLiteral("Nincs hiba.\nA rendszer nem engedi a ping küldését."));
    EXPECT_EQ(trayStatusText(outage(ok)), QStringLiteral("Nincs internet, de a routered válaszol."));
    EXPECT_EQ(trayStatusText(paused(ok)), QStringLiteral("A mérés áll"));
}
