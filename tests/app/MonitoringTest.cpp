// The view model's monitoring: probe cycles and Wi-Fi readings, the incident journal, the loops and
// their watchdog, sleep, wake and path events, the load-test hand-offs, the history load, markers,
// exports and the dossier. Fakes stand in for the probe side; the store is real, on a temp file.

#include "core/app/AppViewModel.h"
#include "core/records/FailureText.h"
#include "core/app/HistoryViewModel.h"
#include "core/app/LivePicture.h"
#include "core/app/PresentStretch.h"
#include "core/app/Presentation.h"

#include "core/probes/ICMPProbe.h"
#include "core/probes/NativeProbeService.h"
#include "core/store/SQLiteStore.h"
#include "tests/app/AppFakes.h"
#include "tests/support/TestSupport.h"
#include "ui/main/DashboardLogic.h"
#include "ui/main/MainLogic.h"
#include "ui/main/OverviewSnapshot.h"
#include "ui/main/OverviewStatus.h"

#include <set>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QSettings>

#include <gtest/gtest.h>

#include <set>
#include <sqlite3.h>

#include <map>
#include <thread>

using namespace pv;
using namespace pv::test;

namespace {

constexpr Timestamp kStart = 1'700'000'000.0;

// A healthy batch whose samples of the given kinds got no answer.
ProbeBatch batchFailing(std::initializer_list<ProbeKind> kinds, const RouteSnapshot& route, Timestamp at)
{
    ProbeBatch b = healthyBatch(route, at);
    const auto failing = [&](ProbeKind k) { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); };
    if (failing(ProbeKind::dns)) {
        NetworkSample dns = b.samples.front();
        dns.id = QUuid::createUuid();
        dns.target = ProbeTarget(ProbeKind::dns, QStringLiteral("DNS"), QStringLiteral("resolver"));
        b.samples.push_back(dns);
    }
    for (NetworkSample& s : b.samples)
        if (failing(s.target.kind)) {
            s.success = false;
            s.latencyMilliseconds.reset();
            s.packetLoss = 1.0;
            s.timeoutCount = 3;
        }
    return b;
}

// Batch shapers: the samples of the given kinds get no answer, lose a share of their echoes, or
// answer that much later.
using Shape = std::function<ProbeBatch(ProbeBatch)>;
bool among(const std::vector<ProbeKind>& kinds, ProbeKind kind)
{
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}
Shape unanswered(std::vector<ProbeKind> kinds)
{
    return [kinds](ProbeBatch b) {
        for (NetworkSample& s : b.samples)
            if (among(kinds, s.target.kind)) {
                s.success = false;
                s.latencyMilliseconds.reset();
                s.packetLoss = 1.0;
                s.timeoutCount = 3;
            }
        return b;
    };
}
// Answered at once with an error (a resolver's SERVFAIL): failed, with the time the answer took.
Shape erring(std::vector<ProbeKind> kinds)
{
    return [kinds](ProbeBatch b) {
        for (NetworkSample& s : b.samples)
            if (among(kinds, s.target.kind)) {
                s.success = false;
                s.latencyMilliseconds = 3;
                s.packetLoss = 1.0;
                s.timeoutCount = 1;
            }
        return b;
    };
}
Shape losing(std::vector<ProbeKind> kinds, double loss = 1.0 / 3)
{
    return [kinds, loss](ProbeBatch b) {
        for (NetworkSample& s : b.samples)
            if (among(kinds, s.target.kind)) {
                s.packetLoss = loss;
                s.timeoutCount = 1;
            }
        return b;
    };
}
// Each of a sample's three echoes lost with the given chance, the same draw in every run.
Shape droppingEchoes(std::vector<ProbeKind> kinds, double chance, std::uint64_t seed = 0)
{
    return [kinds, chance, seed](ProbeBatch b) {
        std::uint64_t x = static_cast<std::uint64_t>(b.timestamp * 10) + seed * 0x9E3779B97F4A7C15ULL;
        const auto lost = [&] {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<double>(x >> 11) * 0x1p-53 < chance ? 1 : 0;
        };
        for (NetworkSample& s : b.samples)
            if (among(kinds, s.target.kind) && (s.timeoutCount = lost() + lost() + lost()) > 0) {
                s.packetLoss = s.timeoutCount / 3.0;
                s.success = s.timeoutCount < 3;
                s.latencyMilliseconds = s.success ? s.latencyMilliseconds : std::nullopt;
            }
        return b;
    };
}
Shape delaying(std::vector<ProbeKind> kinds, double ms)
{
    return [kinds, ms](ProbeBatch b) {
        for (NetworkSample& s : b.samples)
            if (among(kinds, s.target.kind))
                s.latencyMilliseconds = *s.latencyMilliseconds + ms;
        return b;
    };
}

class MonitoringTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir();
        dbPath = dir + "/polvarine.sqlite3";
        store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(dbPath));
        runtime = std::make_shared<rt::NetworkRuntime>();
        topology = std::make_shared<ScriptedTopology>();
        probe = std::make_shared<ScriptedProbe>(runtime->executor());
        wifi = std::make_shared<ScriptedWifi>();
        path = std::make_shared<ScriptedPath>();
        sleepWake = std::make_shared<ScriptedSleepWake>();
        notifier = std::make_shared<CountingNotifier>();
        exporter = std::make_shared<ScriptedExport>();
        dossier = std::make_shared<ScriptedDossier>(runtime->executor());
    }

    void TearDown() override
    {
        if (vm) {
            // Let every loop and fake call end while their timers' loop still runs.
            probe->hang = false;
            vm->stopMonitoring();
            pumpUntil([] { return false; }, std::chrono::milliseconds(30));
            vm.reset();
            pumpUntil([] { return false; }, std::chrono::milliseconds(10));
        }
    }

    AppViewModel& model()
    {
        auto manager = std::make_unique<FixedLocationManager>();
        AppViewModel::Services services;
        services.runtime = runtime;
        services.store = store;
        services.topology = topology;
        services.probeService = probe;
        services.wifiProvider = wifi;
        services.exportService = exporter;
        services.pathMonitor = path;
        services.locationPermissionService = std::make_shared<LocationPermissionService>(std::move(manager));
        AppViewModel::Environment env;
        env.preferences = {std::make_shared<QSettings>(dir + "/settings.ini", QSettings::IniFormat),
                           std::make_shared<XdgAutostartLoginItem>(dir + "/autostart/polvarine.desktop"), notifier};
        env.updateFeed = updateFeed;
        env.confirmationDuration = confirmationDuration;
        env.folderOpener = folderOpener;
        env.clock = [this] { return clockNow; };
        env.monotonicClock = [this] { return clockNow + monotonicShift; };
        env.icmpRefused = [this] { return icmpRefused; };
        env.sleepWake = sleepWake;
        env.dossierService = dossier;
        env.desktopFolder = dir + "/Desktop";
        vm = std::make_unique<AppViewModel>(std::move(services), StorageHealth::healthy(), std::move(env));
        return *vm;
    }

    void routeVia(const QString& interfaceName, const QString& local = "10.0.0.2", const QString& gateway = "10.0.0.1")
    {
        topology->route(interfaceName, local, gateway, clockNow);
    }

    // Monitoring whose first batch never comes back.
    void startStalled()
    {
        routeVia("en0");
        probe->hang = true;
        vm->startMonitoring();
        ASSERT_TRUE(pumpUntil([&] { return probe->calls.contains("collect"); }));
    }

    // Lets queued posts, event saves and quality refreshes finish.
    void settle()
    {
        ASSERT_TRUE(pumpUntil([&] { return !vm->isQualityRefreshRunning(); }));
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    std::vector<QString> eventTexts(DiagnosticEventKind kind) const
    {
        std::vector<QString> out;
        for (const DiagnosticEvent& e : vm->events())
            if (e.kind == kind)
                out.push_back(e.details);
        return out;
    }

    // One probe cycle every 5 s over [from, to), each batch made by `make` at its time.
    void cycles(Timestamp from, Timestamp to, std::function<ProbeBatch(const RouteSnapshot&, Timestamp)> make)
    {
        for (Timestamp at = from; at < to; at += 5) {
            clockNow = at;
            routeVia("en0");
            probe->makeBatch = [&make](const RouteSnapshot& r) { return make(r, r.timestamp); };
            runToEnd(vm->runProbeCycle());
        }
        probe->makeBatch = nullptr;
    }

    int storedSampleRows(const char* where = "1")
    {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        const QByteArray sql = QByteArray("SELECT COUNT(*) FROM network_samples WHERE ") + where;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr), SQLITE_OK);
        int count = -1;
        if (sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return count;
    }

    void dropTrigger(const char* name)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 5000);
        EXPECT_EQ(sqlite3_exec(db, (QByteArray("DROP TRIGGER ") + name).constData(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }

    std::vector<Incident> storedIncidents()
    {
        std::optional<std::vector<Incident>> rows;
        auto read = [this, &rows]() -> rt::awaitable<void> { rows = co_await store->recentIncidents(500); };
        asio::co_spawn(rt::QtExecutor(), std::move(read), asio::detached);
        EXPECT_TRUE(pumpUntil([&] { return rows.has_value(); }));
        return rows.value_or(std::vector<Incident>{});
    }

    // A trigger added behind the store's back makes one kind of write fail with this message.
    void failWrites(const char* table, const char* operation = "INSERT")
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 5000);
        const QString sql = QStringLiteral("CREATE TRIGGER fail_%1_%2 BEFORE %2 ON %1 BEGIN SELECT RAISE(ABORT, "
                                           "'disk is on fire'); END;")
                                .arg(QString::fromLatin1(table), QString::fromLatin1(operation));
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error), SQLITE_OK) << error;
        sqlite3_free(error);
        sqlite3_close(db);
    }

    static FaultAttribution fault(FaultLocation where, bool outage = false,
                                  AttributionConfidence confidence = AttributionConfidence::moderate)
    {
        return FaultAttribution(where, outage ? IncidentSeverity::critical : IncidentSeverity::warning, confidence,
                                QStringLiteral("Headline."), QStringList{"One.", "Two."}, {}, outage, false);
    }
    static FaultAttribution healthy()
    {
        return FaultAttribution(FaultLocation::none, IncidentSeverity::info, AttributionConfidence::high,
                                QStringLiteral("Fine."), {}, {}, false, false);
    }

    QString dir;
    QString dbPath;
    Timestamp clockNow = kStart;
    QUrl updateFeed = QUrl("http://127.0.0.1:9/appcast.json"); // refused at once
    double monotonicShift = 0; // how far the wall clock was stepped away from the monotonic one
    bool icmpRefused = false;
    std::shared_ptr<SQLiteStore> store;
    std::shared_ptr<rt::NetworkRuntime> runtime;
    std::shared_ptr<ScriptedTopology> topology;
    std::shared_ptr<ScriptedProbe> probe;
    std::shared_ptr<ScriptedWifi> wifi;
    std::shared_ptr<ScriptedPath> path;
    std::shared_ptr<ScriptedSleepWake> sleepWake;
    std::shared_ptr<CountingNotifier> notifier;
    std::shared_ptr<ScriptedExport> exporter;
    std::chrono::milliseconds confirmationDuration{12'000};
    QStringList folderOpener;
    std::shared_ptr<ScriptedDossier> dossier;
    std::unique_ptr<AppViewModel> vm;
};

} // namespace

// --- the probe cycle ---------------------------------------------------------------------------
TEST_F(MonitoringTest, RouteChangesAreRecordedBeforeTheBatchAndAnInterfaceChangeRebinds)
{
    AppViewModel& m = model();
    routeVia("en0", "10.0.0.2", "10.0.0.1");
    runToEnd(m.runProbeCycle());
    EXPECT_TRUE(eventTexts(DiagnosticEventKind::interfaceChanged).empty()) << "no previous route: nothing to compare";

    clockNow += 5;
    routeVia("en1", "10.0.1.2", "10.0.1.1");
    std::size_t eventsAtCollect = 0;
    probe->onCollect = [&] { eventsAtCollect = m.events().size(); };
    runToEnd(m.runProbeCycle());
    settle();

    ASSERT_EQ(eventsAtCollect, 3u) << "the three route events come before the batch is asked for";
    EXPECT_EQ(m.events()[0].kind, DiagnosticEventKind::interfaceChanged);
    EXPECT_EQ(m.events()[0].details, "Interface changed from en0 to en1.");
    EXPECT_EQ(m.events()[1].details, "Local IP changed from 10.0.0.2 to 10.0.1.2.");
    EXPECT_EQ(m.events()[2].details, "Gateway changed from 10.0.0.1 to 10.0.1.1.");
    EXPECT_EQ(probe->calls.count("rebind:en1"), 1);
    EXPECT_EQ(m.recentBatches().size(), 2u);
    EXPECT_EQ(m.lastProbeBatchTimestamp(), std::optional<Timestamp>(clockNow));

    // Same interface, new gateway only: no rebind.
    clockNow += 5;
    routeVia("en1", "10.0.1.2", "10.0.1.254");
    runToEnd(m.runProbeCycle());
    settle();
    EXPECT_EQ(probe->calls.count("rebind:en1"), 1);
    EXPECT_EQ(eventTexts(DiagnosticEventKind::gatewayChanged).size(), 2u);
}

TEST_F(MonitoringTest, RouteWithoutLocalAddressReadsUnknownAndIPv6RouterIsUsed)
{
    AppViewModel& m = model();
    topology->next = TopologySnapshot(clockNow, QStringLiteral("wlan0"), std::nullopt, QStringLiteral("fe80::1"),
                                      std::nullopt, std::nullopt);
    std::optional<std::optional<RouteSnapshot>> route;
    auto read = [&]() -> rt::awaitable<void> { route = co_await m.readRoute(); };
    asio::co_spawn(rt::QtExecutor(), std::move(read), asio::detached);
    ASSERT_TRUE(pumpUntil([&] { return route.has_value(); }));
    ASSERT_TRUE(route->has_value());
    EXPECT_EQ((*route)->gatewayAddress, "fe80::1");
    EXPECT_EQ((*route)->localAddress, "Unknown");
}

TEST_F(MonitoringTest, NoDefaultRouteGivesOneEventPerCycleAndTheOfflineAttribution)
{
    AppViewModel& m = model();
    m.preferences().setNotifyOnOutage(true);
    const FaultAttribution before = m.attribution();
    topology->next = TopologySnapshot(clockNow, QStringLiteral("en0"), std::nullopt, std::nullopt,
                                      QStringLiteral("10.0.0.2"), std::nullopt); // interface, no router
    runToEnd(m.runProbeCycle());
    clockNow += 5;
    topology->next = TopologySnapshot{}; // no interface at all
    runToEnd(m.runProbeCycle());
    settle();

    EXPECT_EQ(eventTexts(DiagnosticEventKind::pathChanged),
              (std::vector<QString>{"No default route was available during the probe cycle.",
                                    "No default route was available during the probe cycle."}));
    EXPECT_EQ(probe->collected, 0);
    EXPECT_TRUE(m.recentBatches().empty());
    EXPECT_EQ(m.liveStatus(), LiveStatus::offline);
    // While there is no route, nothing published reads as fine.
    EXPECT_NE(m.attribution(), before);
    // Measured over a cable (no Wi-Fi reading): said as the cable's or the router's.
    EXPECT_EQ(m.attribution().location, FaultLocation::offline);
    EXPECT_TRUE(m.attribution().isOutage);
    EXPECT_FALSE(m.attribution().storedEvidenceSummary().contains(QStringLiteral("Wi-Fi")));
    for (UsageCapability u : allUsageCapabilities())
        EXPECT_EQ(m.verdict().rating(u), CapabilityRating::poor) << rawValue(u).toStdString();
    EXPECT_EQ(m.likelyCause().title, title(FaultLocation::offline));
    ASSERT_EQ(m.incidents().size(), 1u);
    EXPECT_EQ(m.incidents()[0].classification, IncidentClassification::offline);
    EXPECT_EQ(m.incidents()[0].severity, IncidentSeverity::critical);
    EXPECT_DOUBLE_EQ(m.incidents()[0].confidence, 0.9);
    EXPECT_TRUE(m.incidents()[0].evidenceSummary.startsWith("A Mac nem talál útvonalat a hálózat felé. A rendszer"));
    ASSERT_EQ(notifier->posts.size(), 1u);
    EXPECT_EQ(notifier->posts[0].body, "A Polvarine rögzíti, mikor kezdődött és meddig tart.");
}

TEST_F(MonitoringTest, StoreFailureShowsItsMessageSkipsCleanupAndStillAnalysesTheBatch)
{
    AppViewModel& m = model();
    failWrites("network_samples");
    routeVia("en0");
    runToEnd(m.runProbeCycle());
    settle();

    ASSERT_TRUE(m.exportStatusMessage());
    EXPECT_EQ(m.exportStatusMessage(),
              std::optional<QString>("A mérést nem sikerült elmenteni: " + failureSentence(FailureCause::unknown) + " " +
                                     pathNote(dbPath)))
        << "the trigger's own text goes to the log only";
    EXPECT_EQ(m.recentBatches().size(), 1u);
    EXPECT_EQ(m.verdict().confidence.sampleCount, 2) << "the two public samples were analysed";
    EXPECT_EQ(m.attribution().location, FaultLocation::insufficientEvidence);
    EXPECT_EQ(m.attribution().evidence, QStringList{"2 mérés eddig. Ennyiből még nem mondunk ki semmit."});

    // The cleanup did not run: an old event in memory survives the next (failing) cycle as well.
    clockNow = kStart - 3 * 86'400;
    m.recordEvent(DiagnosticEventKind::pathChanged, "old");
    clockNow = kStart + 10;
    routeVia("en0");
    runToEnd(m.runProbeCycle());
    settle();
    EXPECT_EQ(eventTexts(DiagnosticEventKind::pathChanged).size(), 1u);
}

TEST_F(MonitoringTest, CleanupRunsOnlyOnce900SecondsOfBatchTimeHavePassed)
{
    AppViewModel& m = model();
    runToEnd(m.performCleanupIfDue(kStart)); // the first one always runs
    clockNow = kStart - 2 * 86'400;
    m.recordEvent(DiagnosticEventKind::pathChanged, "two days old");
    clockNow = kStart;

    runToEnd(m.performCleanupIfDue(kStart + 899));
    EXPECT_EQ(eventTexts(DiagnosticEventKind::pathChanged).size(), 1u) << "899 s: not yet";
    runToEnd(m.performCleanupIfDue(kStart + 900));
    EXPECT_TRUE(eventTexts(DiagnosticEventKind::pathChanged).empty()) << "900 s: pruned";
}

TEST_F(MonitoringTest, CleanupFailureShowsItsMessageAndIsRetriedByTheNextBatch)
{
    AppViewModel& m = model();
    clockNow = kStart - 4000 * 86'400.0; // an event older than any retention, so the prune must delete it
    m.recordEvent(DiagnosticEventKind::pathChanged, "ancient");
    settle();
    failWrites("events", "DELETE");
    clockNow = kStart;
    runToEnd(m.performCleanupIfDue(kStart));
    ASSERT_TRUE(m.exportStatusMessage());
    EXPECT_TRUE(m.exportStatusMessage()->startsWith("A régi mérések karbantartása nem sikerült: "))
        << m.exportStatusMessage()->toStdString();
    EXPECT_EQ(eventTexts(DiagnosticEventKind::pathChanged).size(), 1u) << "no in-memory prune after a failure";
}

TEST_F(MonitoringTest, BatchesAndWifiSnapshotsAreCappedToTheNewest)
{
    AppViewModel& m = model();
    routeVia("en0");
    probe->makeBatch = [](const RouteSnapshot& r) { return ProbeBatch{QUuid::createUuid(), r.timestamp, r, {}}; };
    for (int i = 0; i < 301; ++i) {
        clockNow = kStart + i;
        routeVia("en0");
        runToEnd(m.runProbeCycle());
    }
    ASSERT_EQ(m.recentBatches().size(), 300u);
    EXPECT_EQ(m.recentBatches().front().timestamp, kStart + 1);
}

// --- Wi-Fi readings ----------------------------------------------------------------------------
TEST_F(MonitoringTest, WifiNodeChangeStartsASessionAndTheNameHintFollowsTheReading)
{
    AppViewModel& m = model();
    WifiSnapshot a;
    a.id = QUuid::createUuid();
    a.timestamp = kStart;
    a.interfaceName = "wlan0";
    a.ssid = "Home";
    a.bssid = "aa:aa:aa:aa:aa:01";
    a.rssi = -50;
    wifi->next = a;
    runToEnd(m.captureWifiSnapshot(AppViewModel::periodicWifiReason));
    ASSERT_TRUE(m.activeMeasurementSession());
    const QUuid first = m.activeMeasurementSession()->id;
    EXPECT_FALSE(m.exportStatusMessage());

    WifiSnapshot b = a; // another access point, its name unreadable
    b.id = QUuid::createUuid();
    b.timestamp = kStart + 8;
    b.ssid.reset();
    b.bssid = "aa:aa:aa:aa:aa:02";
    wifi->next = b;
    runToEnd(m.captureWifiSnapshot("Path changed by the test"));
    settle();
    ASSERT_EQ(eventTexts(DiagnosticEventKind::wifiNodeChanged).size(), 1u);
    EXPECT_TRUE(eventTexts(DiagnosticEventKind::wifiNodeChanged)[0].startsWith("Wi-Fi node changed from "));
    EXPECT_NE(m.activeMeasurementSession()->id, first);
    EXPECT_EQ(m.activeMeasurementSession()->startedAt, kStart + 8);
    EXPECT_EQ(m.exportStatusMessage(), std::optional<QString>(AppViewModel::wifiNameHint()));
    EXPECT_EQ(eventTexts(DiagnosticEventKind::pathChanged), std::vector<QString>{"Path changed by the test"});

    WifiSnapshot c = b; // name readable again: the hint goes
    c.id = QUuid::createUuid();
    c.timestamp = kStart + 16;
    c.ssid = "Home";
    wifi->next = c;
    runToEnd(m.captureWifiSnapshot(AppViewModel::periodicWifiReason));
    EXPECT_FALSE(m.exportStatusMessage());

    WifiSnapshot off; // a disconnected radio is no permission matter
    off.id = QUuid::createUuid();
    off.timestamp = kStart + 24;
    off.interfaceName = "wlan0";
    wifi->next = off;
    runToEnd(m.captureWifiSnapshot(AppViewModel::periodicWifiReason));
    EXPECT_FALSE(m.exportStatusMessage());
    EXPECT_EQ(m.wifiSnapshots().size(), 4u);
}

// --- the incident journal ----------------------------------------------------------------------
TEST_F(MonitoringTest, IncidentsOpenRefreshInPlaceCloseAndChangeClassAtOneInstant)
{
    AppViewModel& m = model();
    m.applyAttribution(fault(FaultLocation::router), kStart);
    ASSERT_EQ(m.incidents().size(), 1u);
    const Incident opened = m.incidents()[0];
    EXPECT_EQ(opened.classification, IncidentClassification::gatewayCongestion);
    EXPECT_DOUBLE_EQ(opened.confidence, 0.7);
    EXPECT_EQ(opened.evidenceSummary, "Headline. One. Two.");
    EXPECT_EQ(m.liveStatus(), LiveStatus::degraded);

    m.applyAttribution(fault(FaultLocation::router, false, AttributionConfidence::high), kStart + 5);
    ASSERT_EQ(m.incidents().size(), 1u);
    EXPECT_EQ(m.incidents()[0].id, opened.id);
    EXPECT_EQ(m.incidents()[0].startTimestamp, kStart);
    EXPECT_DOUBLE_EQ(m.incidents()[0].confidence, 0.9);
    EXPECT_TRUE(m.incidents()[0].isOpen());

    m.applyAttribution(fault(FaultLocation::provider), kStart + 10);
    ASSERT_EQ(m.incidents().size(), 2u);
    EXPECT_EQ(m.incidents()[0].endTimestamp, std::optional<Timestamp>(kStart + 10));
    EXPECT_EQ(m.incidents()[1].classification, IncidentClassification::internetUpstreamIssue);
    EXPECT_EQ(m.incidents()[1].startTimestamp, kStart + 10);

    m.applyAttribution(healthy(), kStart + 20);
    EXPECT_EQ(m.liveStatus(), LiveStatus::healthy);
    EXPECT_EQ(m.incidents()[1].endTimestamp, std::optional<Timestamp>(kStart + 20));
    m.applyAttribution(FaultAttribution{}, kStart + 25); // insufficient evidence: nothing open to close
    EXPECT_EQ(m.incidents().size(), 2u);
    settle();

    const std::vector<Incident> stored = storedIncidents(); // newest first
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].endTimestamp, std::optional<Timestamp>(kStart + 20));
    EXPECT_EQ(stored[1].id, opened.id);
    EXPECT_EQ(stored[1].endTimestamp, std::optional<Timestamp>(kStart + 10));
    EXPECT_DOUBLE_EQ(stored[1].confidence, 0.9);
}

TEST_F(MonitoringTest, AnOutageOpensOneIncidentAndPostsOneNotificationOnlyWhenAllowed)
{
    AppViewModel& m = model();
    m.preferences().setNotifyOnOutage(true);
    m.applyAttribution(fault(FaultLocation::provider), kStart); // degradation: no notification
    EXPECT_TRUE(notifier->posts.empty());
    // The same incident turns into an outage (and stays one as it eases): one notification, only the first time.
    m.applyAttribution(fault(FaultLocation::provider, true), kStart + 5);
    m.applyAttribution(fault(FaultLocation::provider, true), kStart + 7);
    m.applyAttribution(fault(FaultLocation::provider), kStart + 8);
    EXPECT_TRUE(m.incidents().back().outage);
    m.applyAttribution(fault(FaultLocation::provider, true), kStart + 9);
    EXPECT_EQ(m.liveStatus(), LiveStatus::offline);
    EXPECT_EQ(m.incidents().size(), 1u);
    ASSERT_EQ(notifier->posts.size(), 1u);
    EXPECT_EQ(notifier->posts[0].identifier, PreferencesStore::outageIdentifier(kStart + 5));

    m.applyAttribution(fault(FaultLocation::offline, true), kStart + 10);
    ASSERT_EQ(notifier->posts.size(), 2u);
    EXPECT_EQ(notifier->posts[1].identifier, PreferencesStore::outageIdentifier(kStart + 10));
    m.applyAttribution(fault(FaultLocation::offline, true), kStart + 15);
    EXPECT_EQ(notifier->posts.size(), 2u);
    m.applyAttribution(healthy(), kStart + 20);

    m.preferences().setNotifyOnOutage(false);
    m.applyAttribution(fault(FaultLocation::provider, true), kStart + 30);
    EXPECT_EQ(notifier->posts.size(), 2u) << "switched off: no post";
    EXPECT_EQ(m.incidents().size(), 3u) << "the incident opens all the same";
}

TEST_F(MonitoringTest, ThirtyHourOutageStaysOneIncidentThroughCleanupsAndIsClosedInTheStore)
{
    AppViewModel& m = model();
    m.preferences().setNotifyOnOutage(true);
    m.applyAttribution(fault(FaultLocation::router), kStart - 3600); // an older, closed one
    m.applyAttribution(healthy(), kStart - 3000);
    m.applyAttribution(fault(FaultLocation::provider, true), kStart);
    runToEnd(m.performCleanupIfDue(kStart));
    for (int hour = 1; hour <= 30; ++hour) {
        const Timestamp at = kStart + hour * 3600.0;
        clockNow = at;
        runToEnd(m.performCleanupIfDue(at));
        m.applyAttribution(fault(FaultLocation::provider, true), at);
    }
    ASSERT_EQ(m.incidents().size(), 1u) << "the closed one went, the open one stayed";
    EXPECT_EQ(m.incidents()[0].startTimestamp, kStart);
    EXPECT_EQ(notifier->posts.size(), 1u);

    m.applyAttribution(healthy(), kStart + 30 * 3600.0 + 5);
    settle();
    const std::vector<Incident> stored = storedIncidents();
    const auto open = std::count_if(stored.begin(), stored.end(), [](const Incident& i) { return i.isOpen(); });
    EXPECT_EQ(open, 0);
    const auto outage = std::find_if(stored.begin(), stored.end(),
                                     [&](const Incident& i) { return i.startTimestamp == kStart; });
    ASSERT_NE(outage, stored.end());
    EXPECT_EQ(outage->endTimestamp, std::optional<Timestamp>(kStart + 30 * 3600.0 + 5));
}

// A fault of three minutes after three clean ones, then eleven clean minutes, through the real
// engine and the default window: the incident spans the failing batches, nothing opens afterwards.
TEST_F(MonitoringTest, AThreeMinuteFaultGivesAnIncidentOnItsFailingBatchesAndTheDrainingWindowOpensNothing)
{
    const auto lossy = [](double loss) {
        return [loss](const RouteSnapshot& r, Timestamp at) {
            ProbeBatch b = healthyBatch(r, at);
            for (NetworkSample& s : b.samples)
                if (s.target.kind == ProbeKind::publicIP)
                    s.packetLoss = loss;
            return b;
        };
    };
    // The batch with an IPv6 copy of each sample beside it, those of the kinds in ipv6Failing failed.
    const auto dualStack = [](ProbeBatch b, std::set<ProbeKind> ipv6Failing) {
        const std::vector<NetworkSample> v4 = b.samples;
        for (NetworkSample s : v4) {
            s.id = QUuid::createUuid();
            s.family = AddressFamily::ipv6;
            if (ipv6Failing.count(s.target.kind)) {
                s.success = false;
                s.latencyMilliseconds.reset();
                s.packetLoss = 1.0;
            }
            b.samples.push_back(s);
        }
        return b;
    };
    const struct {
        const char* name;
        std::function<ProbeBatch(const RouteSnapshot&, Timestamp)> faulty;
        IncidentClassification expected;
        bool dual = false;
        IncidentSeverity severity = IncidentSeverity::critical;
    } cases[] = {
        {"40 % loss beyond the router", lossy(0.4), IncidentClassification::internetUpstreamIssue},
        {"nothing beyond the router",
         [](const RouteSnapshot& r, Timestamp at) { return batchFailing({ProbeKind::publicIP}, r, at); },
         IncidentClassification::internetUpstreamIssue},
        {"cut off with the link up",
         [](const RouteSnapshot& r, Timestamp at) {
             return batchFailing({ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::http}, r, at);
         },
         IncidentClassification::offline},
        {"dual stack: IPv4 gone beyond the router, IPv6 working (no outage)",
         [&](const RouteSnapshot& r, Timestamp at) {
             ProbeBatch b = batchFailing({ProbeKind::publicIP, ProbeKind::http}, r, at); // IPv4's outage alone
             for (NetworkSample s : dualStack(healthyBatch(r, at), {}).samples)
                 if (s.family == AddressFamily::ipv6) {
                     s.batchID = b.samples.front().batchID;
                     b.samples.push_back(s);
                 }
             return b;
         },
         IncidentClassification::ipv4ProviderIssue, true, IncidentSeverity::warning},
        {"dual stack: both families gone beyond the router: the IPv4 journal's",
         [&](const RouteSnapshot& r, Timestamp at) { return dualStack(batchFailing({ProbeKind::publicIP}, r, at), {}); },
         IncidentClassification::internetUpstreamIssue, true},
        {"dual stack: IPv6 gone beyond the router, IPv4 working",
         [&](const RouteSnapshot& r, Timestamp at) {
             return dualStack(healthyBatch(r, at), {ProbeKind::publicIP, ProbeKind::http});
         },
         IncidentClassification::ipv6ProviderIssue, true, IncidentSeverity::warning},
        // The lookups and pages fail over both families while IPv4 itself is lossy: no IPv6 fault.
        {"dual stack: 40 % loss beyond the router, IPv6 lookups and pages failing with it",
         [&](const RouteSnapshot& r, Timestamp at) {
             return dualStack(lossy(0.4)(r, at), {ProbeKind::dns, ProbeKind::http});
         },
         IncidentClassification::internetUpstreamIssue, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& m = model();
        const bool dual = c.dual;
        const auto clean = [&, dual](const RouteSnapshot& r, Timestamp at) {
            return dual ? dualStack(healthyBatch(r, at), {}) : healthyBatch(r, at);
        };
        m.preferences().setNotifyOnOutage(true);
        m.preferences().setNotifyOnIPv6(true);
        const std::size_t postsBefore = notifier->posts.size();
        cycles(kStart, kStart + 180, clean);
        ASSERT_TRUE(m.incidents().empty());
        cycles(kStart + 180, kStart + 360, c.faulty);
        const bool outagePosted =
            std::any_of(notifier->posts.begin() + static_cast<std::ptrdiff_t>(postsBefore), notifier->posts.end(),
                        [](const auto& p) { return p.title == QStringLiteral("Megszakadt az internetkapcsolat"); });
        if (c.expected == IncidentClassification::ipv4ProviderIssue) { // told that IPv4 alone is down
            EXPECT_FALSE(outagePosted);
            ASSERT_EQ(notifier->posts.size(), postsBefore + 1);
            EXPECT_EQ(notifier->posts.back().title, QStringLiteral("Az IPv4 nem működik, az IPv6 igen"));
            EXPECT_NE(m.liveStatus(), LiveStatus::offline);
        }
        cycles(kStart + 360, kStart + 1020, clean);
        settle();
        ASSERT_EQ(m.incidents().size(), 1u);
        const Incident& i = m.incidents()[0];
        EXPECT_EQ(i.classification, c.expected);
        EXPECT_EQ(i.startTimestamp, kStart + 180) << "the first failing batch";
        EXPECT_EQ(i.endTimestamp, std::optional<Timestamp>(kStart + 355)) << "the last failing batch";
        EXPECT_EQ(i.severity, c.severity) << "the worst refresh, not the drained window's";
        EXPECT_EQ(m.attribution().location, FaultLocation::none);
        EXPECT_EQ(m.ipv6Path().state, dual ? Ipv6PathState::healthy : Ipv6PathState::absent);
        vm.reset();
    }
}

// Switched off, the IPv6 line says so at once and judges no IPv6 sample, not even the window's
// fresh ones; switched on again, those of before are not judged either.
TEST_F(MonitoringTest, TheIPv6SwitchOffJudgesNoSampleOldOrNew)
{
    AppViewModel& m = model();
    // The IPv4 probes end after the first IPv6 one, which stamps the batch.
    const auto dual = [](const RouteSnapshot& r, Timestamp at) {
        ProbeBatch b = healthyBatch(r, at);
        for (NetworkSample s : std::vector<NetworkSample>(b.samples)) {
            s.id = QUuid::createUuid();
            s.family = AddressFamily::ipv6;
            b.samples.push_back(s);
        }
        for (NetworkSample& s : b.samples)
            if (s.family == AddressFamily::ipv4)
                s.timestamp += 0.3;
        return b;
    };
    cycles(kStart, kStart + 5, dual);
    EXPECT_NE(m.ipv6Path().state, Ipv6PathState::onlyPath) << "the first batch holds IPv4 too";
    cycles(kStart + 5, kStart + 120, dual);
    ASSERT_EQ(m.ipv6Path().state, Ipv6PathState::healthy);
    m.preferences().setMeasuresIPv6(false);
    EXPECT_EQ(m.ipv6Path().state, Ipv6PathState::notMeasured) << "from the switch on, not the next batch";
    cycles(kStart + 120, kStart + 180, dual);
    EXPECT_EQ(m.ipv6Path().state, Ipv6PathState::notMeasured);
    EXPECT_FALSE(m.ipv6Path().medianRtt);
    m.preferences().setMeasuresIPv6(true);
    EXPECT_EQ(m.ipv6Path().state, Ipv6PathState::absent) << "nothing measured since the switch";
    cycles(kStart + 180, kStart + 250, dual);
    EXPECT_EQ(m.ipv6Path().state, Ipv6PathState::healthy);
    // A cut of both families: from its first batch the line no longer says IPv6 works, although the
    // newest minute still holds more answers than not.
    cycles(kStart + 250, kStart + 255, [&](const RouteSnapshot& r, Timestamp at) {
        ProbeBatch b = dual(r, at);
        for (NetworkSample& s : b.samples)
            if (s.target.kind != ProbeKind::dns) {
                s.success = false;
                s.latencyMilliseconds.reset();
            }
        return b;
    });
    EXPECT_EQ(m.ipv6Path().state, Ipv6PathState::sharedFault);
}

TEST_F(MonitoringTest, ATwelveMinuteCutIsOneOutageIncidentWithOneNotificationAndNothingOpensAfterIt)
{
    AppViewModel& m = model();
    m.preferences().setNotifyOnOutage(true);
    const auto clean = [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); };
    const auto cut = [](const RouteSnapshot& r, Timestamp at) {
        return batchFailing({ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::http}, r, at);
    };
    // As the link comes back the router answers some seconds before anything beyond it does.
    const auto routerBackFirst = [](const RouteSnapshot& r, Timestamp at) {
        return batchFailing({ProbeKind::publicIP, ProbeKind::http}, r, at);
    };
    cycles(kStart, kStart + 180, clean);
    cycles(kStart + 180, kStart + 900, cut);
    cycles(kStart + 900, kStart + 915, routerBackFirst);
    cycles(kStart + 915, kStart + 1560, clean);
    settle();
    ASSERT_EQ(m.incidents().size(), 1u);
    const Incident& i = m.incidents().front();
    EXPECT_EQ(i.startTimestamp, kStart + 180);
    EXPECT_EQ(i.endTimestamp, std::optional<Timestamp>(kStart + 910)) << "the whole cut, not its last minutes";
    EXPECT_EQ(i.classification, IncidentClassification::offline);
    EXPECT_EQ(i.severity, IncidentSeverity::critical);
    ASSERT_EQ(notifier->posts.size(), 1u);
    EXPECT_LE(notifier->posts[0].identifier, PreferencesStore::outageIdentifier(kStart + 240));
    const std::vector<Incident> stored = storedIncidents();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].classification, IncidentClassification::offline);
    EXPECT_EQ(stored[0].endTimestamp, i.endTimestamp);
    EXPECT_TRUE(stored[0].outage);
}

// A total outage is named, and notified once, within a minute of its first failing batch, long
// before the ten-minute window has failed as a whole.
TEST_F(MonitoringTest, AnOutageIsNamedAndNotifiedWithinAMinuteOfItsFirstFailingBatch)
{
    const struct {
        const char* name;
        std::initializer_list<ProbeKind> failing;
        bool resolverRefuses; // every fourth batch asks the router's forwarder, which refuses at once
        FaultLocation named;
        IncidentClassification journalled;
    } cases[] = {
        {"the whole link cut", {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::http}, false,
         FaultLocation::offline, IncidentClassification::offline},
        {"the provider gone, the router answering", {ProbeKind::publicIP, ProbeKind::http, ProbeKind::dns}, false,
         FaultLocation::provider, IncidentClassification::internetUpstreamIssue},
        {"the provider gone, the router answering, its resolver refusing", {ProbeKind::publicIP, ProbeKind::http},
         true, FaultLocation::provider, IncidentClassification::internetUpstreamIssue},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        notifier->posts.clear();
        AppViewModel& m = model();
        m.preferences().setNotifyOnOutage(true);
        cycles(kStart, kStart + 300, [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); });
        const Timestamp firstFailing = kStart + 300;
        int batchNumber = 0;
        const auto failingBatch = [&c, &batchNumber](const RouteSnapshot& r, Timestamp t) {
            ProbeBatch b = batchFailing(c.failing, r, t);
            if (c.resolverRefuses && batchNumber++ % 4 == 0) {
                const auto refusal = DNSProbeResult::responded(QStringLiteral("pvrefused.probe.example"), 0.2,
                                                               DNSResponseKind::refused);
                b.samples.push_back(NativeProbeService::dnsSample(refusal, r, b.id, t));
            }
            return b;
        };
        std::optional<Timestamp> namedAt;
        for (Timestamp at = firstFailing; at < firstFailing + 180; at += 5) {
            cycles(at, at + 5, failingBatch);
            if (!namedAt && m.attribution().isOutage) {
                namedAt = at;
                EXPECT_EQ(m.attribution().location, c.named);
                EXPECT_EQ(m.liveStatus(), LiveStatus::offline);
                // Measured over a cable (no Wi-Fi reading): nothing about the Wi-Fi radio.
                for (const AdviceStep& step : m.advice().steps)
                    EXPECT_FALSE(step.id == "offline.wifi" || step.id.startsWith("local.")) << step.id.toStdString();
            }
        }
        ASSERT_TRUE(namedAt);
        EXPECT_LE(*namedAt - firstFailing, 60.0);
        ASSERT_EQ(notifier->posts.size(), 1u);
        // Said from its first batch; notified once the journal has it as an outage, within the minute.
        EXPECT_EQ(*namedAt, firstFailing);
        bool notifiedInTheMinute = false;
        for (Timestamp t = firstFailing; t <= firstFailing + 60; t += 5)
            notifiedInTheMinute = notifiedInTheMinute || notifier->posts[0].identifier == PreferencesStore::outageIdentifier(t);
        EXPECT_TRUE(notifiedInTheMinute) << notifier->posts[0].identifier.toStdString();
        ASSERT_EQ(m.incidents().size(), 1u);
        EXPECT_EQ(m.incidents()[0].startTimestamp, firstFailing);
        EXPECT_EQ(m.incidents()[0].classification, c.journalled);
        // The stored figures are the incident's own: every echo beyond the router since it began, none answered.
        if (c.named == FaultLocation::provider) {
            long long sent = 0;
            for (const ProbeBatch& b : m.analysedBatches())
                for (const NetworkSample& s : b.samples)
                    sent += s.target.kind == ProbeKind::publicIP && s.timestamp >= firstFailing ? 1 : 0;
            EXPECT_TRUE(m.incidents()[0].evidenceSummary.contains(
                QStringLiteral("A routeren túl egyetlen mérés sem jutott célba %1 próbálkozásból.").arg(sent)))
                << m.incidents()[0].evidenceSummary.toStdString() << " / " << sent;
        }
        vm.reset();
    }
}

// While the link is down each batch waits for its time-outs: batches come every 10 to 14 s, so every
// other minute falls short of the samples the engine needs. The outage stays named, and the
// incident stays an outage, until something answers.
TEST_F(MonitoringTest, AnOutageStaysNamedWhileSlowBatchesLeaveAMinuteShortOfSamples)
{
    AppViewModel& m = model();
    m.preferences().setNotifyOnOutage(true);
    cycles(kStart, kStart + 300, [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); });
    const auto slowCut = [](const RouteSnapshot& r, Timestamp at) {
        return batchFailing({ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::http}, r, at);
    };
    std::optional<Timestamp> namedAt;
    bool journalled = false; // the journal holds it as an outage
    int n = 0;
    Timestamp at = kStart + 300;
    for (; at < kStart + 300 + 600; at += (n++ % 2 == 1 ? 14 : 10)) {
        clockNow = at;
        routeVia("en0");
        probe->makeBatch = [&](const RouteSnapshot& r) { return slowCut(r, r.timestamp); };
        runToEnd(vm->runProbeCycle());
        if (!namedAt && m.attribution().isOutage)
            namedAt = at;
        if (!journalled && !m.incidents().empty() &&
            m.incidents().back().classification == IncidentClassification::offline)
            journalled = true;
        if (namedAt) {
            ASSERT_TRUE(m.attribution().isOutage) << "at +" << at - kStart - 300 << " s";
            ASSERT_EQ(m.liveStatus(), LiveStatus::offline);
        }
        if (journalled) {
            ASSERT_EQ(m.incidents().back().classification, IncidentClassification::offline)
                << "at +" << at - kStart - 300 << " s";
        }
    }
    ASSERT_TRUE(namedAt);
    EXPECT_EQ(*namedAt, kStart + 300) << "a total cut is said from its first batch";
    EXPECT_TRUE(journalled);
    EXPECT_EQ(m.incidents().size(), 1u);
    EXPECT_EQ(notifier->posts.size(), 1u);
    // The first answer ends it: the newest minute no longer names an outage.
    cycles(at, at + 120, [](const RouteSnapshot& r, Timestamp t) { return healthyBatch(r, t); });
    EXPECT_NE(m.liveStatus(), LiveStatus::offline);
    EXPECT_EQ(m.incidents().size(), 1u);
    EXPECT_FALSE(m.incidents()[0].isOpen());
}

// 30 % loss on the machine's own link for three minutes: as the window fills, the engine reads it
// first as a resolver fault, then as the provider's, then as the local network's. One incident.
TEST_F(MonitoringTest, ALocalLossTheWindowFirstReadsElsewhereIsOneIncident)
{
    AppViewModel& m = model();
    m.preferences().setNotifyOnOutage(true);
    const auto clean = [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); };
    int n = 0;
    const auto lossy = [&n](const RouteSnapshot& r, Timestamp at) {
        ProbeBatch b = n % 4 == 0 ? batchFailing({ProbeKind::dns}, r, at) : healthyBatch(r, at);
        for (NetworkSample& s : b.samples)
            if (s.target.kind == ProbeKind::gateway || s.target.kind == ProbeKind::publicIP) {
                const int lost = (n + static_cast<int>(s.target.label.size())) % 3; // 0, 1 or 2 of three echoes
                s.packetLoss = lost / 3.0;
                s.timeoutCount = lost;
            }
        ++n;
        return b;
    };
    cycles(kStart, kStart + 600, clean);
    std::vector<FaultLocation> named;
    for (Timestamp at = kStart + 600; at < kStart + 780; at += 5) {
        cycles(at, at + 5, lossy);
        if (m.attribution().isFault() && (named.empty() || named.back() != m.attribution().location))
            named.push_back(m.attribution().location);
        ASSERT_LE(m.incidents().size(), 1u) << "at +" << at - kStart - 600 << " s";
    }
    cycles(kStart + 780, kStart + 1500, clean);
    settle();
    EXPECT_GE(named.size(), 2u) << "the window read the fault in more than one place";
    EXPECT_EQ(named.back(), FaultLocation::localUnseparated);
    ASSERT_EQ(m.incidents().size(), 1u);
    const Incident& i = m.incidents()[0];
    // Opened once it had lasted a minute, from the first batch that showed the local fault (the one
    // before it lost only a lookup).
    EXPECT_NEAR(i.startTimestamp, kStart + 600, 5.0);
    EXPECT_EQ(i.endTimestamp, std::optional<Timestamp>(kStart + 775)) << "the last failing batch";
    EXPECT_EQ(i.classification, IncidentClassification::unknown);
    EXPECT_TRUE(notifier->posts.empty()) << "no outage";
    EXPECT_EQ(storedIncidents().size(), 1u);
}

// After a fault the live window keeps its figures for ten minutes. Once no batch of the newest
// minute shows the fault, nothing says it is present: no place is blamed, the advice has nothing
// to do, the tray is healthy, and the finding says when the fault ended. A fault that goes on
// (a provider flapping every 20 s) stays named. An outage stays journalled as the outage it was.
TEST_F(MonitoringTest, AnEndedFaultIsNoLongerPresentedAsPresentAndOneThatGoesOnStaysNamed)
{
    const auto clean = [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); };
    const auto providerGone = [](const RouteSnapshot& r, Timestamp at) {
        return batchFailing({ProbeKind::publicIP, ProbeKind::http, ProbeKind::dns}, r, at);
    };
    const auto flapping = [](const RouteSnapshot& r, Timestamp at) {
        const bool down = static_cast<long long>(at - kStart) / 20 % 2 == 1;
        return down ? batchFailing({ProbeKind::publicIP}, r, at) : healthyBatch(r, at);
    };
    const struct {
        const char* name;
        std::function<ProbeBatch(const RouteSnapshot&, Timestamp)> faulty;
        double seconds;  // how long the fault lasts; 0: it goes on
        bool outage;     // the journal keeps the outage's sentence
    } cases[] = {
        {"the provider gone 3 minutes, the router answering", providerGone, 180, true},
        {"the provider gone 2.5 minutes, the router answering", providerGone, 150, true},
        {"a flapping provider", flapping, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& m = model();
        cycles(kStart, kStart + 300, clean);
        const Timestamp set = kStart + 300;
        const Timestamp cleared = set + (c.seconds > 0 ? c.seconds : 360);
        for (Timestamp at = set; at < cleared; at += 5) {
            cycles(at, at + 5, c.faulty);
            if (at - set < 90)
                continue;
            ASSERT_EQ(m.attribution().location, FaultLocation::provider) << "+" << at - set << " s";
            ASSERT_FALSE(m.endedFault());
            ASSERT_EQ(m.incidents().size(), 1u);
            ASSERT_EQ(m.incidents()[0].classification, IncidentClassification::internetUpstreamIssue);
        }
        if (c.seconds == 0)
            continue;
        const Timestamp lastFailing = cleared - 5;
        for (Timestamp at = cleared; at < cleared + 400; at += 5) {
            cycles(at, at + 5, clean);
            if (at - cleared < 90)
                continue;
            const std::string when = "+" + std::to_string(static_cast<int>(at - cleared)) + " s after clearing";
            ASSERT_EQ(m.endedFault(), (live_picture::EndedFault{FaultLocation::provider, lastFailing})) << when;
            ASSERT_EQ(m.attribution().location, FaultLocation::none) << when;
            ASSERT_EQ(m.attribution().headline, "A szolgáltatói hiba " + presentation::localTimeShort(lastFailing) +
                                                    "-kor véget ért, a kapcsolat azóta működik.")
                << when;
            ASSERT_EQ(m.liveStatus(), LiveStatus::healthy) << when;
            ASSERT_EQ(m.menuBarSymbolName(), symbolName(LiveStatus::healthy)) << when;
            ASSERT_FALSE(m.advice().steps.empty());
            ASSERT_EQ(m.advice().steps.front().id, "healthy.none") << when;
        }
        settle();
        ASSERT_EQ(m.incidents().size(), 1u);
        for (const Incident& i : {m.incidents()[0], storedIncidents().at(0)}) {
            EXPECT_EQ(i.startTimestamp, set);
            EXPECT_EQ(i.endTimestamp, std::optional<Timestamp>(lastFailing));
            EXPECT_EQ(i.severity, IncidentSeverity::critical);
            if (c.outage) {
                EXPECT_TRUE(i.evidenceSummary.startsWith("Nincs internet, de a routered válaszol"))
                    << i.evidenceSummary.toStdString();
            }
        }
        vm.reset();
    }
}

// A fault that every batch of a whole minute shows is named, and journalled, within 90 s of its
// start, long before the ten-minute median could cross; a shorter spike opens nothing. Once it
// (or an outage) ends, nothing reads as poor or faulty within 90 s: not the place, not the usage headline.
TEST_F(MonitoringTest, AFaultOfAWholeMinuteIsNamedWithinNinetySecondsAndASpikeOpensNothing)
{
    const auto delayed = [](double ms) { return delaying({ProbeKind::publicIP}, ms); };
    const auto lossy = [](std::vector<ProbeKind> kinds) { return losing(std::move(kinds)); };
    const Shape lost = unanswered({ProbeKind::publicIP, ProbeKind::http});
    const struct {
        const char* name;
        std::function<ProbeBatch(ProbeBatch)> fault;
        double offset;  // where the fault starts after the clean five minutes (batches every 5 s)
        double seconds; // how long it lasts
        std::optional<FaultLocation> named; // none: a spike that opens nothing
        bool pingShyRouter = false;         // the router never answers its own pings
        bool afterOutage = false;           // the provider was gone for two minutes, ending 80 s before
    } cases[] = {
        {"provider +290 ms, starting with a batch", delayed(290), 0, 180, FaultLocation::provider},
        {"provider +290 ms, starting mid-batch", delayed(290), 2.5, 180, FaultLocation::provider},
        {"provider +290 ms, starting mid-minute", delayed(290), 37, 180, FaultLocation::provider},
        {"provider +150 ms for eight minutes", delayed(150), 11, 480, FaultLocation::provider},
        {"a third of the provider's echoes lost", lossy({ProbeKind::publicIP}), 21, 180, FaultLocation::provider},
        {"a third of the echoes lost on the own link", lossy({ProbeKind::gateway, ProbeKind::publicIP}), 2.5, 180,
         FaultLocation::localUnseparated},
        {"the provider gone, the router answering", lost, 7, 180, FaultLocation::provider},
        {"provider +290 ms, 80 s after the provider was gone", delayed(290), 0, 180, FaultLocation::provider, false,
         true},
        {"a 40 s spike of +290 ms", delayed(290), 0, 40, std::nullopt},
        {"a 40 s spike of +290 ms, mid-minute", delayed(290), 33, 40, std::nullopt},
        {"a 40 s spike of +290 ms behind a router that never answers pings", delayed(290), 12, 40, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& m = model();
        const Timestamp set = kStart + 300 + c.offset;
        const Timestamp cleared = set + c.seconds;
        const auto batch = [&](const RouteSnapshot& r, Timestamp at) {
            const ProbeBatch b = c.pingShyRouter ? batchFailing({ProbeKind::gateway}, r, at) : healthyBatch(r, at);
            if (c.afterOutage && at >= kStart + 100 && at < kStart + 220)
                return lost(b);
            return at >= set && at < cleared ? c.fault(b) : b;
        };
        std::optional<Timestamp> namedAt, journalledAt;
        for (Timestamp at = kStart; at < cleared + 150; at += 5) {
            cycles(at, at + 5, batch);
            const std::string when = "+" + std::to_string(static_cast<int>(at - set)) + " s";
            if (!c.named) {
                ASSERT_FALSE(m.attribution().isFault()) << when << ": " << m.attribution().headline.toStdString();
                ASSERT_TRUE(m.incidents().empty()) << when;
                continue;
            }
            if (at < set)
                continue;
            if (!namedAt && m.attribution().location == *c.named)
                namedAt = at;
            if (!journalledAt && !m.incidents().empty() && m.incidents().back().startTimestamp >= set - 5)
                journalledAt = at;
            if (at < cleared && namedAt) {
                ASSERT_EQ(m.attribution().location, *c.named) << when << ": named, then dropped while it lasts";
            }
            // The sentences quote the fault's own minute, not the ten-minute figures of an earlier one.
            if (at >= set + 90 && at < cleared) {
                ASSERT_LT(m.attributionWindowSeconds(), 120) << when << ": " << m.attribution().storedEvidenceSummary().toStdString();
            }
            if (at >= cleared + 90) {
                ASSERT_FALSE(m.attribution().isFault()) << when;
                ASSERT_EQ(m.liveStatus(), LiveStatus::healthy) << when;
                const std::optional<UsageCapability> weakest = m.verdict().weakestCapability();
                ASSERT_TRUE(!weakest || m.verdict().rating(*weakest) != CapabilityRating::poor)
                    << when << ": the headline would say " << title(*weakest).toStdString() << " will not work";
                ASSERT_TRUE(m.incidents().empty() || !m.incidents().back().isOpen()) << when;
            }
        }
        if (c.named) {
            ASSERT_TRUE(namedAt);
            ASSERT_TRUE(journalledAt);
            EXPECT_LE(*namedAt - set, 90.0);
            EXPECT_LE(*journalledAt - set, 90.0);
            ASSERT_EQ(m.incidents().size(), c.afterOutage ? 2u : 1u);
            const Incident& i = m.incidents().back();
            EXPECT_EQ(i.classification, incidentClassification(*c.named));
            EXPECT_NEAR(i.startTimestamp, set, 5.0) << "its first showing batch";
            ASSERT_TRUE(i.endTimestamp);
            EXPECT_NEAR(*i.endTimestamp, cleared, 5.0) << "its last showing batch";
        }
        vm.reset();
    }
}

// In the first minutes of an outage, with batches waiting for their time-outs, no sentence says that
// a leg answers which has not answered once in the newest minute.
TEST_F(MonitoringTest, NoSentenceSaysALegAnswersThatWasSilentAllTheNewestMinute)
{
    // The sentences that quote a leg's answers.
    const std::vector<std::pair<ProbeKind, QRegularExpression>> claims{
        {ProbeKind::publicIP, QRegularExpression("célpontok .* alatt válaszolnak|onnan tovább|^A válaszidő |"
                                                 "átmenő forgalom")},
        {ProbeKind::gateway, QRegularExpression("^A routered \\d+ (ms alatt|mérésből) válaszol|^Az első ugrás|"
                                                "^A router \\d+ ms alatt|^A routeredig")},
    };
    const struct {
        const char* name;
        std::initializer_list<ProbeKind> failing;
        double firstGap; // seconds from the last clean batch to the first failing one
        std::vector<double> cadence;
    } cases[] = {
        {"the provider gone, batches every 13 s", {ProbeKind::publicIP, ProbeKind::http, ProbeKind::dns}, 5, {13}},
        {"the provider gone, batches every 12 and 15 s", {ProbeKind::publicIP, ProbeKind::http}, 3, {12, 15}},
        {"the provider gone, batches every 5 s", {ProbeKind::publicIP, ProbeKind::http}, 5, {5}},
        {"the link cut, batches every 14 s", {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::http}, 2, {14}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& m = model();
        cycles(kStart, kStart + 300, [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); });
        Timestamp at = kStart + 295 + c.firstGap;
        const Timestamp set = at;
        for (std::size_t n = 0; at < set + 240; at += c.cadence[n++ % c.cadence.size()]) {
            clockNow = at;
            routeVia("en0");
            probe->makeBatch = [&](const RouteSnapshot& r) { return batchFailing(c.failing, r, r.timestamp); };
            runToEnd(vm->runProbeCycle());
            for (const auto& [kind, claim] : claims) {
                bool measured = false, answered = false;
                for (const ProbeBatch& b : m.recentBatches())
                    for (const NetworkSample& x : b.samples)
                        if (x.target.kind == kind && x.timestamp >= at - 60 && x.timestamp <= at) {
                            measured = true;
                            answered = answered || x.success;
                        }
                if (!measured || answered)
                    continue;
                QStringList sentences = m.attribution().evidence;
                sentences << m.attribution().headline << m.attribution().caveats;
                for (const QString& sentence : sentences)
                    ASSERT_FALSE(claim.match(sentence).hasMatch())
                        << "+" << at - set << " s: " << sentence.toStdString();
            }
        }
        probe->makeBatch = nullptr;
        EXPECT_TRUE(m.attribution().isOutage);
        vm.reset();
    }
}

namespace {

// The figures every surface of the live picture shows, parsed out of the texts it shows, agree
// wherever two of them state one quantity (a leg's lost packets, the provider's delay) over one
// stretch, and while a fault bounds the present every card counts the stretch the bullets name.
// Returns the first disagreement, empty when they all agree.
std::string surfacesDisagree(const AppViewModel& m, Timestamp now)
{
    const OverviewSnapshot s = snapshotOf(m);
    const QString lead = s.evidenceLead; // none: the live answer's own stretch
    const QString bullets = lead.startsWith("A hiba kezdete") ? QStringLiteral("a hiba kezdete óta")
                            : lead.startsWith("A hiba vége")  ? QStringLiteral("a hiba vége óta")
                            : lead.startsWith("A legutóbbi")  ? QStringLiteral("a legutóbbi mérési körökben")
                            : lead.isEmpty()                  ? stretchText(s.attributionWindowSeconds)
                                                              : lead;
    const auto card = [&](ProbeKind k) {
        const std::optional<LegStretch> st = legStretch(k, s, now);
        return st ? st->label : QString();
    };
    // quantity -> (surface, figure, decimals, stretch)
    std::map<std::string, std::vector<std::tuple<std::string, double, int, QString>>> said;
    const auto parse = [&](const char* quantity, const char* surface, const char* re, const QString& text,
                           const QString& stretch) {
        QRegularExpressionMatchIterator it = QRegularExpression(QString::fromUtf8(re)).globalMatch(text);
        while (it.hasNext()) {
            const QString n = it.next().captured(1);
            const qsizetype dot = n.indexOf(QLatin1Char('.'));
            said[quantity].emplace_back(surface, n.toDouble(), dot < 0 ? 0 : int(n.size() - dot - 1), stretch);
        }
    };
    const char* providerLoss = "(?<!routerig )[Aa] csomagok (\\d+(?:\\.\\d+)?)%-a (?:elveszett a routeren túl|veszett el)";
    const char* routerLoss =
        "(?:A routerhez küldött csomagok|A routerig a csomagok|A routernek címzett pingek) (\\d+(?:\\.\\d+)?)%";
    const QString text = (QStringList{s.attribution.headline, trayStatusText(s)} + s.attribution.evidence).join(' ');
    parse("provider loss", "bullet", providerLoss, text, bullets);
    parse("router loss", "bullet", routerLoss, text, bullets);
    const std::array<PVSegment, 3> cards = culpritChainSegments(s, now);
    parse("router loss", "router card", "(\\d+)% csomagvesztés", cards[1].caption.value_or(""), card(ProbeKind::gateway));
    parse("provider loss", "provider card", "(\\d+)% csomagvesztés", cards[2].caption.value_or(""), card(ProbeKind::publicIP));
    parse("provider delay", "provider card", "^(\\d+) ms", cards[2].caption.value_or(""), card(ProbeKind::publicIP));
    for (const PanelMetric& p : panelMetrics(s, now))
        parse(p.label == "Veszteség" ? "provider loss" : p.label == "Szolgáltató" ? "provider delay" : "-", "panel",
              "^(\\d+(?:\\.\\d+)?)$", metricValueText(p), card(ProbeKind::publicIP));
    for (const PVStatTileData& t : nowTiles(s, now))
        if (t.label == "Szolgáltató")
            parse("provider delay", "Most tile", "^(\\d+(?:\\.\\d+)?)$", t.value, card(ProbeKind::publicIP));
    // The uses' sentences count the present's stretch once a fault bounds it; before, their own newest one.
    parse("provider loss", "usage", "A csomagok (\\d+(?:\\.\\d+)?)%-a nem ért célba", s.verdict.evidence.join(' '),
          card(ProbeKind::publicIP).startsWith("a hiba") ? card(ProbeKind::publicIP) : QStringLiteral("usage"));
    // The open incident stores its own stretch's figures at each refresh as severe as its worst.
    for (const Incident& i : s.incidents)
        if (!i.endTimestamp && lead.startsWith("A hiba kezdete") && i.severity == s.attribution.severity) {
            parse("provider loss", "incident", providerLoss, i.evidenceSummary, bullets);
            parse("router loss", "incident", routerLoss, i.evidenceSummary, bullets);
        }
    if (!panelMetricsCaption(s, now).contains(card(ProbeKind::publicIP)))
        return "the panel's stretch is not the provider card's";
    for (ProbeKind k : {ProbeKind::gateway, ProbeKind::publicIP})
        // (Under an open incident the cards count since it began, the bullets of a total failure its newest batches.)
        if ((bullets.startsWith("a hiba") || (bullets.startsWith("a legutóbbi") && !card(k).startsWith("a hiba kezdete"))) &&
            !card(k).isEmpty() && card(k) != bullets)
            return "the bullets count " + bullets.toStdString() + ", a card " + card(k).toStdString();
    for (const auto& [quantity, figures] : said)
        for (const auto& [surfaceA, a, decimalsA, stretchA] : figures)
            for (const auto& [surfaceB, b, decimalsB, stretchB] : figures)
                // Each as finely as it is written: 26.7 and 27 are one figure, 2.4 and 10 are not.
                if (stretchA == stretchB && std::abs(a - b) > 0.5 * std::pow(10.0, -std::min(decimalsA, decimalsB)) + 1e-9)
                    return quantity + ": " + surfaceA + " " + std::to_string(a) + " vs " + surfaceB + " " +
                           std::to_string(b) + " (" + stretchA.toStdString() + ")";
    return {};
}

} // namespace

// Every fault class the attribution knows, alone and followed by one of another class, judged after
// every batch: while it lasts the status line never calls the connection sound, and within 90 s it
// names the present fault, never the step that merely failed first nor one that ended before; no
// sentence quotes a delay that did not make the verdict, nor a figure that reads 0 ms; from 60 s
// after a fault ended nothing names it again, and nothing says a use will not work. From the fault's
// first batch on, every surface's figures agree.
TEST_F(MonitoringTest, EveryFaultClassIsNamedOnlyWhileItLastsAndNeverCalledSound)
{
    using K = ProbeKind;
    struct Fault {
        FaultLocation named;
        Shape make;
        double seconds;
        bool delay = false;     // a delay makes its verdict: its sentences may quote one
        int rssi = -50;         // the radio while it lasts (read only where the row has a radio)
        std::vector<FaultLocation> onset{}; // what its first 90 s may name besides it
        bool total = false;     // every probe of a leg fails: named from its first batch, quoted as 100 %
        bool lossless = false;  // loses nothing: no loss figure may be quoted while it lasts
        bool opensIncident = true;
        bool straddles = false; // the batch that takes in its end still shows it (echoes sent before it)
    };
    const Fault weakRadio{FaultLocation::wifi, losing({K::gateway}, 0.1), 150, false, -72};
    const Shape slowAndLossy = [&](ProbeBatch b) {
        return losing({K::publicIP}, 0.05)(delaying({K::gateway, K::publicIP}, 150)(b));
    };
    const Fault slowRouter{FaultLocation::router, slowAndLossy, 150, true, -50, {FaultLocation::provider}};
    const Fault ownLoss{FaultLocation::localUnseparated, losing({K::gateway, K::publicIP}, 1.0 / 3), 150, false, -50,
                        {FaultLocation::provider}};
    // An intermittent loss: two batches of four lose a third of their echoes, the other two are clean.
    const Shape intermittent = [&](ProbeBatch b) {
        return static_cast<long long>(b.timestamp / 5) % 4 < 2 ? losing({K::gateway, K::publicIP}, 1.0 / 3)(b) : b;
    };
    const Fault ownLossOnAndOff{FaultLocation::localUnseparated, intermittent, 150, false, -50,
                                {FaultLocation::provider, FaultLocation::none}};
    // With a readable radio that is fine, the same loss lies with the router.
    Fault ownLossOnWifi = ownLoss;
    ownLossOnWifi.named = FaultLocation::router;
    const Fault congestion{FaultLocation::provider, delaying({K::publicIP}, 290), 180, true, -50, {}, false, true};
    const Fault providerLoss{FaultLocation::provider, losing({K::publicIP}, 1.0 / 3), 150};
    const Fault deadResolver{FaultLocation::dns, unanswered({K::dns, K::http}), 180, false, -50, {}, true};
    const Fault servfail{FaultLocation::dns, erring({K::dns, K::http}), 180, false, -50, {}, true};
    const Fault providerGone{FaultLocation::provider, unanswered({K::publicIP, K::http, K::dns}), 150, false, -50, {},
                             true};
    const Fault cut{FaultLocation::offline, unanswered({K::gateway, K::publicIP, K::http, K::dns}), 120, false, -50,
                    {FaultLocation::localUnseparated}, true};
    // A filled queue for 40 s: +250 ms and the queue's own drops.
    const Shape queued = [&](ProbeBatch b) { return losing({K::publicIP}, 1.0 / 3)(delaying({K::publicIP}, 250)(b)); };
    const Fault spike{FaultLocation::provider, queued, 40, true, -50, {}, false, false, false};
    Fault longCut = cut;
    longCut.seconds = 720;
    // +290 ms for 40 s without a drop, which no minute names: only the usage verdict sees it.
    const Fault spikeStraddled{FaultLocation::provider, delaying({K::publicIP}, 290), 40, true, -50, {}, false, true,
                               false, true};
    Fault deadResolverStraddled = deadResolver;
    deadResolverStraddled.straddles = true;
    Fault servfailStraddled = servfail;
    servfailStraddled.straddles = true;
    const auto ownEchoesLost = [&](double chance, std::uint64_t seed = 0) {
        return Fault{FaultLocation::localUnseparated, droppingEchoes({K::gateway, K::publicIP}, chance, seed), 180,
                     false, -50, {FaultLocation::provider, FaultLocation::none}};
    };
    const struct {
        const char* name;
        Fault first;
        std::optional<Fault> second = std::nullopt;
        bool radio = false; // a readable radio: the router and the Wi-Fi can be told apart
        int lookupEvery = 3; // batches
        double soundWithin = 60; // seconds after the fault's end
    } cases[] = {
        {"a weak radio", weakRadio, std::nullopt, true},
        {"a router answering in 150 ms", slowRouter, std::nullopt, true},
        {"a third of the own link's echoes lost", ownLoss},
        {"provider +290 ms", congestion},
        {"a third of the provider's echoes lost", providerLoss},
        {"a dead resolver", deadResolver},
        {"the provider gone", providerGone},
        {"a 12-minute cut", longCut},
        {"the router down on a cable", cut},
        {"a resolver answering SERVFAIL", servfail},
        {"a third of the own link's echoes lost on Wi-Fi", ownLossOnWifi, std::nullopt, true},
        {"a 40 s spike with queue drops", spike},
        {"the own link losing in every other pair of batches", ownLossOnAndOff},
        {"a third of the provider's echoes lost, then provider +290 ms", providerLoss, congestion},
        {"a cut, then a dead resolver", cut, deadResolver},
        {"a cut, then provider +290 ms", cut, congestion},
        {"a dead resolver, then own-link loss", deadResolver, ownLoss},
        {"provider +290 ms, then a weak radio", congestion, weakRadio, true},
        {"own-link loss, then the provider gone", ownLoss, providerGone},
        {"a 40 s spike without drops whose last queued echoes are answered after it", spikeStraddled},
        {"a dead resolver asked every eighth batch, its last request timing out after it", deadResolverStraddled,
         std::nullopt, false, 8, 30},
        {"SERVFAIL asked every eighth batch, its last request failing after it", servfailStraddled, std::nullopt, false,
         8, 30},
        {"a tenth of the own link's echoes lost at random, with a clean minute by chance", ownEchoesLost(0.1, 12)},
        {"30 % of the own link's echoes lost at random", ownEchoesLost(0.3)},
        {"half of the own link's echoes lost at random", ownEchoesLost(0.5)},
    };
    const QRegularExpression delaySaid("\\d ms|kevesebb mint 1 ms");
    const QRegularExpression lossSaid("(\\d+(?:\\.\\d)?)%-a (?:elveszett|nem ért célba)");
    const QRegularExpression zeroSaid("(^|[^\\d.])0 ms");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppViewModel& m = model();
        const Timestamp firstAt = kStart + 120, firstEnd = firstAt + c.first.seconds;
        const Timestamp secondAt = firstEnd + 75;
        const Timestamp secondEnd = c.second ? secondAt + c.second->seconds : secondAt;
        // The newest fault begun by a time, ended or not.
        const auto latest = [&](Timestamp at) { return c.second && at >= secondAt ? &*c.second : &c.first; };
        // The fault present at a time, if any, and its start.
        const auto present = [&](Timestamp at) -> std::pair<const Fault*, Timestamp> {
            if (at >= firstAt && at < firstEnd)
                return {&c.first, firstAt};
            if (c.second && at >= secondAt && at < secondEnd)
                return {&*c.second, secondAt};
            return {nullptr, 0};
        };
        const auto batch = [&](const RouteSnapshot& r, Timestamp at) {
            ProbeBatch b = healthyBatch(r, at);
            if (static_cast<long long>(at - kStart) % (5 * c.lookupEvery) == 0) { // a lookup every few batches
                NetworkSample dns = b.samples.front();
                dns.id = QUuid::createUuid();
                dns.target = ProbeTarget(K::dns, QStringLiteral("DNS"), QStringLiteral("resolver"));
                dns.latencyMilliseconds = 20;
                b.samples.push_back(dns);
            }
            if (const Fault* f = present(at).first)
                return f->make(b);
            for (const auto& [f, end] :
                 {std::pair{&c.first, firstEnd}, std::pair{c.second ? &*c.second : nullptr, secondEnd}})
                if (f && f->straddles && at >= end && at < end + 5)
                    return f->make(b);
            const bool cutTail = (at >= firstEnd && at < firstEnd + 10 && c.first.named == FaultLocation::offline) ||
                                 (c.second && at >= secondEnd && at < secondEnd + 10 &&
                                  c.second->named == FaultLocation::offline);
            return cutTail ? losing({K::gateway, K::publicIP}, 1.0 / 3)(b) : b;
        };
        for (Timestamp at = kStart; at < secondEnd + 150; at += 5) {
            if (c.radio) {
                WifiSnapshot w;
                w.id = QUuid::createUuid();
                w.timestamp = at;
                w.interfaceName = "wlan0";
                w.interfaceUp = true;
                w.ssid = "Home";
                w.bssid = "aa:aa:aa:aa:aa:01";
                const Fault* f = present(at).first;
                w.rssi = f ? f->rssi : -50;
                wifi->next = w;
                clockNow = at;
                runToEnd(m.captureWifiSnapshot(AppViewModel::periodicWifiReason));
            }
            cycles(at, at + 5, batch);
            const auto [fault, since] = present(at);
            const FaultAttribution& a = m.attribution();
            const live_picture::Status status{true, m.liveStatus(), a, m.verdict(), m.endedFault().has_value()};
            const QString line = live_picture::statusLine(status);
            const std::string when = std::to_string(static_cast<int>(at - kStart)) + " s: " + line.toStdString() +
                                     " / " + a.storedEvidenceSummary().toStdString();
            if (a.isFault()) {
                ASSERT_FALSE(line.contains("rendben van") || line.contains("használható")) << when;
            }
            if (live_picture::statusLevel(status) == PVStatus::good) {
                ASSERT_FALSE(line.contains("nem fog jól menni")) << when;
            }
            QStringList sentences = a.evidence;
            sentences << a.headline << a.caveats;
            for (const QString& sentence : sentences) {
                ASSERT_FALSE(zeroSaid.match(sentence).hasMatch()) << when;
                if (a.isFault() && !(latest(at)->delay && a.location == latest(at)->named)) {
                    ASSERT_FALSE(delaySaid.match(sentence).hasMatch()) << when << " | " << sentence.toStdString();
                }
            }
            if (at >= firstAt) {
                ASSERT_NE(line, "Még gyűjtjük az első adatokat") << when; // two minutes were measured before
                const std::string disagreement = surfacesDisagree(m, at);
                ASSERT_TRUE(disagreement.empty()) << when << " | " << disagreement;
            }
            // A leg the newest batch heard nothing from is never called sound, the tray included.
            if (present::newestBatch(m.analysedBatches()).totalFailure()) {
                ASSERT_NE(live_picture::statusLevel(status), PVStatus::good) << when;
                ASSERT_NE(m.liveStatus(), LiveStatus::healthy) << when;
            }
            if (!c.radio) {
                QStringList said = sentences;
                said << line << live_picture::statusExplanation(status);
                for (const AdviceStep& step : m.advice().steps)
                    said << step.text;
                for (const Incident& i : m.incidents())
                    said << i.evidenceSummary;
                for (const QString& sentence : said)
                    ASSERT_FALSE(sentence.contains("Wi-Fi")) << when << " | on a cable: " << sentence.toStdString();
            }
            for (const QString& sentence : sentences) {
                const QRegularExpressionMatch lossFigure = lossSaid.match(sentence);
                if (!lossFigure.hasMatch() || !fault)
                    continue;
                // The present's own figures: not an ended fault's loss, and all of a total failure.
                ASSERT_FALSE(fault->lossless) << when << " | " << sentence.toStdString();
                if (fault->total && a.location == fault->named) {
                    ASSERT_EQ(lossFigure.captured(1).toDouble(), 100.0) << when << " | " << sentence.toStdString();
                }
            }
            if (fault) {
                // A fault on the line is never said to have ended.
                const std::optional<live_picture::EndedFault>& ended = m.endedFault();
                ASSERT_FALSE(ended && ended->location == fault->named && ended->endedAt && *ended->endedAt >= since)
                    << when;
                const bool onset = at - since < 90;
                const bool expected = a.location == fault->named ||
                                      (onset && (!a.isFault() || std::count(fault->onset.begin(), fault->onset.end(),
                                                                            a.location)));
                ASSERT_TRUE(expected) << when;
                continue;
            }
            // After a fault: the newest one that ended, and how long ago.
            const Timestamp ended = c.second && at >= secondEnd ? secondEnd : firstEnd;
            if (at < firstAt || at - ended < c.soundWithin)
                continue;
            ASSERT_FALSE(a.isFault()) << when;
            ASSERT_EQ(m.liveStatus(), LiveStatus::healthy) << when;
            ASSERT_FALSE(line.contains("nem fog jól menni")) << when;
            if (at - ended < 400) {
                // A spike no minute named is simply sound again.
                const bool unnamed = !latest(at)->opensIncident && latest(at)->lossless;
                ASSERT_EQ(line, unnamed ? "Az internetkapcsolatod rendben van" : "Az internetkapcsolatod újra működik")
                    << when;
            }
        }
        // One incident per fault, none for a spike, each holding its own figures.
        const int faults = (c.first.opensIncident ? 1 : 0) + (c.second && c.second->opensIncident ? 1 : 0);
        EXPECT_EQ(static_cast<int>(m.incidents().size()), faults);
        vm.reset();
    }
}

TEST_F(MonitoringTest, AFaultAfterAMinuteWithoutEvidenceIsANewIncident)
{
    AppViewModel& m = model();
    const auto clean = [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); };
    const auto providerDown = [](const RouteSnapshot& r, Timestamp at) {
        return batchFailing({ProbeKind::publicIP}, r, at);
    };
    int n = 0;
    const auto resolverSilent = [&n](const RouteSnapshot& r, Timestamp at) {
        return n++ % 4 == 0 ? batchFailing({ProbeKind::dns}, r, at) : healthyBatch(r, at);
    };
    cycles(kStart, kStart + 300, clean);
    cycles(kStart + 300, kStart + 420, providerDown);
    cycles(kStart + 420, kStart + 500, clean); // more than a clean minute
    ASSERT_EQ(m.incidents().size(), 1u);
    EXPECT_EQ(m.incidents()[0].endTimestamp, std::optional<Timestamp>(kStart + 415));
    cycles(kStart + 500, kStart + 680, resolverSilent);
    ASSERT_EQ(m.incidents().size(), 2u);
    EXPECT_EQ(m.incidents()[0].classification, IncidentClassification::internetUpstreamIssue);
    EXPECT_EQ(m.incidents()[1].classification, IncidentClassification::dnsOnlyIssue);
    EXPECT_EQ(m.incidents()[1].startTimestamp, kStart + 500);
    EXPECT_TRUE(m.incidents()[1].isOpen());
}

TEST_F(MonitoringTest, AnEpisodeReachesBackOnlyToTheLastMinuteWithoutAFailingBatch)
{
    AppViewModel& m = model();
    const auto clean = [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); };
    const auto down = [](const RouteSnapshot& r, Timestamp at) { return batchFailing({ProbeKind::publicIP}, r, at); };
    const auto slightLoss = [](const RouteSnapshot& r, Timestamp at) {
        ProbeBatch b = healthyBatch(r, at);
        for (NetworkSample& s : b.samples)
            if (s.target.kind == ProbeKind::publicIP)
                s.packetLoss = 0.1;
        return b;
    };
    cycles(kStart, kStart + 60, clean);
    cycles(kStart + 60, kStart + 65, slightLoss); // an isolated loss, minutes before the fault
    cycles(kStart + 65, kStart + 300, clean);
    EXPECT_TRUE(m.incidents().empty()) << m.attribution().headline.toStdString();
    cycles(kStart + 300, kStart + 400, down);
    ASSERT_FALSE(m.incidents().empty());
    EXPECT_EQ(m.incidents().back().startTimestamp, kStart + 300);
}

TEST_F(MonitoringTest, AWifiFaultWithARoamGetsTheRoamAdvice)
{
    AppViewModel& m = model();
    // Two access points, both weak; the router loses a tenth of the echoes.
    for (int i = 0; i < 4; ++i) {
        WifiSnapshot w;
        w.id = QUuid::createUuid();
        w.timestamp = kStart + 8 * i;
        w.interfaceName = "wlan0";
        w.interfaceUp = true;
        w.ssid = "Home";
        w.bssid = i < 2 ? "aa:aa:aa:aa:aa:01" : "aa:aa:aa:aa:aa:02";
        w.rssi = -72;
        wifi->next = w;
        clockNow = w.timestamp;
        runToEnd(m.captureWifiSnapshot(AppViewModel::periodicWifiReason));
    }
    cycles(kStart + 30, kStart + 120, [](const RouteSnapshot& r, Timestamp at) {
        ProbeBatch b = healthyBatch(r, at);
        b.samples[0].packetLoss = 0.1; // the router leg
        return b;
    });
    ASSERT_EQ(m.attribution().location, FaultLocation::wifi) << m.attribution().headline.toStdString();
    QStringList ids;
    for (const AdviceStep& step : m.advice().steps)
        ids << step.id;
    EXPECT_TRUE(ids.contains("wifi.roam")) << ids.join(',').toStdString();
}

TEST_F(MonitoringTest, WhileOpenSeverityNeverDropsAndTheEvidenceIsThatOfTheWorstRefresh)
{
    AppViewModel& m = model();
    const auto with = [](IncidentSeverity severity, const char* headline) {
        return FaultAttribution(FaultLocation::provider, severity, AttributionConfidence::high, headline, {}, {},
                                false, false);
    };
    m.applyAttribution(with(IncidentSeverity::warning, "Mild."), kStart);
    m.applyAttribution(with(IncidentSeverity::critical, "Worst."), kStart + 5);
    m.applyAttribution(with(IncidentSeverity::warning, "Draining."), kStart + 10);
    ASSERT_EQ(m.incidents().size(), 1u);
    EXPECT_EQ(m.incidents()[0].severity, IncidentSeverity::critical);
    EXPECT_EQ(m.incidents()[0].evidenceSummary, "Worst.");
    m.applyAttribution(with(IncidentSeverity::critical, "As bad, later."), kStart + 15);
    EXPECT_EQ(m.incidents()[0].evidenceSummary, "As bad, later.");
    settle();
    EXPECT_EQ(storedIncidents().at(0).evidenceSummary, "As bad, later.");
}

TEST_F(MonitoringTest, NoIncidentEndsBeforeItStartsWhenTheClockStepsBack)
{
    AppViewModel& m = model();
    m.applyAttribution(fault(FaultLocation::router), kStart);
    clockNow = kStart - 3600;
    m.applyAttribution(healthy(), kStart - 3600);
    // It would end at its start at the latest: an incident of no length is none at all.
    EXPECT_TRUE(m.incidents().empty());
    settle();
    EXPECT_TRUE(storedIncidents().empty());
}

TEST_F(MonitoringTest, SamplesNewerThanTheAnalysisTimeAndUnsentEchoesAreNotAnalysed)
{
    AppViewModel& m = model();
    cycles(kStart + 3 * 86'400, kStart + 3 * 86'400 + 100, [](const RouteSnapshot& r, Timestamp at) {
        return batchFailing({ProbeKind::publicIP}, r, at); // a run with the clock three days ahead
    });
    clockNow = kStart;
    m.refreshAnalysis(kStart);
    EXPECT_TRUE(m.liveSamples(kStart).empty());
    EXPECT_EQ(m.attribution().location, FaultLocation::insufficientEvidence);
    EXPECT_EQ(m.verdict().confidence.sampleCount, 0);
}

TEST_F(MonitoringTest, RefusedIcmpIsNoEvidenceAndTheStatusLineGoesWithTheFirstAnsweredEcho)
{
    AppViewModel& m = model();
    icmpRefused = true;
    // Echoes of the given kinds never left the machine.
    const auto refused = [](std::vector<ProbeKind> kinds) {
        return [kinds](const RouteSnapshot& r, Timestamp at) {
            ProbeBatch b = healthyBatch(r, at);
            for (NetworkSample& s : b.samples)
                if (std::find(kinds.begin(), kinds.end(), s.target.kind) != kinds.end()) {
                    s.success = false;
                    s.latencyMilliseconds.reset();
                    s.packetLoss = 1.0;
                    s.errorDescription = ICMPProbe::socketNotOpenText();
                }
            return b;
        };
    };
    const auto noEcho = refused({ProbeKind::gateway, ProbeKind::publicIP});
    cycles(kStart, kStart + 300, noEcho);
    settle();
    EXPECT_TRUE(m.incidents().empty());
    EXPECT_EQ(m.attribution().location, FaultLocation::insufficientEvidence);
    ASSERT_TRUE(m.exportStatusMessage());
    EXPECT_TRUE(m.exportStatusMessage()->contains("net.ipv4.ping_group_range")) << m.exportStatusMessage()->toStdString();
    EXPECT_FALSE(probe->calls.contains("rebind:en0"));
    // The quality panel scores only echoes that went out.
    EXPECT_EQ(m.qualityAssessment().gateway.failureCount, 0);
    EXPECT_EQ(m.qualityAssessment().publicIP.failureCount, 0);
    EXPECT_GT(m.qualityAssessment().http.totalCount, 0);

    // The range was widened: the service's socket, refused at its start, is opened anew (once),
    // and the line goes with the first echo that is answered, even among refused ones.
    icmpRefused = false;
    cycles(kStart + 300, kStart + 315, noEcho);
    EXPECT_EQ(probe->calls.count("rebind:en0"), 1);
    EXPECT_TRUE(m.exportStatusMessage());
    cycles(kStart + 315, kStart + 320, refused({ProbeKind::publicIP}));
    EXPECT_FALSE(m.exportStatusMessage());
    cycles(kStart + 320, kStart + 600, [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); });
    settle();
    EXPECT_TRUE(m.incidents().empty());
    EXPECT_EQ(m.attribution().location, FaultLocation::none) << m.attribution().headline.toStdString();
}

TEST_F(MonitoringTest, BatchesThatCouldNotBeStoredAreStoredOnceTheStoreWorksAgainEachSampleOnce)
{
    AppViewModel& m = model();
    const auto clean = [](const RouteSnapshot& r, Timestamp at) { return healthyBatch(r, at); };
    cycles(kStart, kStart + 10, clean);
    // The last sample of each batch fails: a batch is stored in part before its failure.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER partly BEFORE INSERT ON network_samples WHEN NEW.target_kind = "
                               "'http' BEGIN SELECT RAISE(ABORT, 'disk is full'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    cycles(kStart + 10, kStart + 130, clean);
    settle();
    EXPECT_TRUE(m.isRecordingFailing());
    ASSERT_TRUE(m.exportStatusMessage());
    EXPECT_EQ(m.exportStatusMessage(),
              std::optional<QString>("A mérést nem sikerült elmenteni: " + failureSentence(FailureCause::diskFull) + " " +
                                     pathNote(dbPath)));

    dropTrigger("partly");
    cycles(kStart + 130, kStart + 135, clean);
    settle();
    EXPECT_FALSE(m.isRecordingFailing());
    EXPECT_FALSE(m.exportStatusMessage());
    EXPECT_EQ(storedSampleRows(), 27 * 4) << "every batch, each sample once";
    EXPECT_EQ(storedSampleRows("target_kind = 'http'"), 27);
}

TEST_F(MonitoringTest, AWallClockStepIsNoStallTheMonotonicClockDecides)
{
    AppViewModel& m = model();
    startStalled();
    clockNow = kStart + 7200; // stepped forward two hours, five seconds passed
    monotonicShift = -7195;
    m.checkProbeWatchdog();
    EXPECT_TRUE(eventTexts(DiagnosticEventKind::probeStalled).empty());
    clockNow += 13; // eighteen seconds of real stall
    m.checkProbeWatchdog();
    EXPECT_EQ(eventTexts(DiagnosticEventKind::probeStalled),
              std::vector<QString>{"The network probe loop made no progress for 18 seconds. Restarting the sampler."});
}

TEST(IncidentEvidenceTest, FailedRequestsCarryOnTheEvidenceOfASilentResolverUntilOneIsAnswered)
{
    // A batch every 5 s from 0 to 200 s, a lookup in every fourth; the resolver is silent over
    // [60, 150): the lookups fail, and so do the requests that need them.
    std::vector<ProbeBatch> batches;
    const RouteSnapshot route{};
    for (int i = 0; i <= 40; ++i) {
        const Timestamp at = kStart + 5 * i;
        const bool silent = at >= kStart + 60 && at < kStart + 150;
        ProbeBatch b = silent ? batchFailing({ProbeKind::http}, route, at) : healthyBatch(route, at);
        if (i % 4 == 1) {
            ProbeBatch withLookup = batchFailing({ProbeKind::dns}, route, at);
            NetworkSample lookup = withLookup.samples.back();
            if (!silent) {
                lookup.success = true;
                lookup.latencyMilliseconds = 3;
                lookup.packetLoss = 0.0;
                lookup.timeoutCount = 0;
            }
            b.samples.push_back(lookup);
        }
        batches.push_back(b);
    }
    const AttributionThresholds t = AttributionThresholds::standard();
    const struct {
        Timestamp at;
        std::optional<FaultEpisode> expected;
        bool fresh;
    } cases[] = {
        {kStart + 59, std::nullopt, false},                                   // before the silence
        {kStart + 64, std::nullopt, false},                                   // a failed request alone is no proof
        {kStart + 70, FaultEpisode{kStart + 65, kStart + 70, true}, true},    // the first unanswered lookup
        {kStart + 145, FaultEpisode{kStart + 65, kStart + 145, true}, true},  // requests carry it on
        {kStart + 150, FaultEpisode{kStart + 65, kStart + 145, false}, false}, // an answered request ends it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at - kStart);
        const auto episode = incident_evidence::currentEpisode(batches, {}, FaultLocation::dns, t, c.at, std::nullopt);
        EXPECT_EQ(episode, c.expected);
        EXPECT_EQ(incident_evidence::isFresh(episode, c.at), c.fresh);
    }
}

// --- lifecycle, loops and the watchdog ---------------------------------------------------------
TEST_F(MonitoringTest, WatchdogRestartsAStalledSamplerAt18SecondsNotBefore)
{
    AppViewModel& m = model();
    startStalled();
    EXPECT_EQ(probe->calls.first(), "start:en0");

    clockNow = kStart + 17.9;
    m.checkProbeWatchdog();
    EXPECT_TRUE(eventTexts(DiagnosticEventKind::probeStalled).empty());

    clockNow = kStart + 18.0;
    m.checkProbeWatchdog();
    ASSERT_EQ(eventTexts(DiagnosticEventKind::probeStalled),
              std::vector<QString>{"The network probe loop made no progress for 18 seconds. Restarting the sampler."});
    EXPECT_EQ(eventTexts(DiagnosticEventKind::probeRestarted),
              std::vector<QString>{"Polvarine restarted the network probe loop after it stalled."});
    EXPECT_EQ(m.exportStatusMessage(),
              std::optional<QString>("The network probe loop stalled and was restarted automatically."));
    ASSERT_TRUE(pumpUntil([&] { return probe->calls.count("collect") == 2; })) << "a new sampler runs";

    clockNow = kStart + 30; // within 15 s of the restart and only 12 s of new stall
    m.checkProbeWatchdog();
    EXPECT_EQ(eventTexts(DiagnosticEventKind::probeStalled).size(), 1u);
    clockNow = kStart + 36.5; // 18.5 s since the restart marked progress
    m.checkProbeWatchdog();
    ASSERT_EQ(eventTexts(DiagnosticEventKind::probeStalled).size(), 2u);
    EXPECT_TRUE(eventTexts(DiagnosticEventKind::probeStalled)[1].contains("for 19 seconds"));

    // Cancellation is cooperative: released, the old samplers still finish the batch they awaited.
    probe->hang = false;
    ASSERT_TRUE(pumpUntil([&] { return m.recentBatches().size() >= 3; }));
}

TEST_F(MonitoringTest, TheRestartNoticeClearsWithTheRestartedSamplersFirstBatchOnly)
{
    AppViewModel& m = model();
    startStalled();
    clockNow = kStart + 18.0;
    m.checkProbeWatchdog();
    ASSERT_TRUE(pumpUntil([&] { return probe->calls.count("collect") == 2; }));
    const std::optional<QString> notice("The network probe loop stalled and was restarted automatically.");
    ASSERT_EQ(m.exportStatusMessage(), notice);

    probe->releasedCalls = 1; // the stalled cycle's batch comes in late: the notice stays
    ASSERT_TRUE(pumpUntil([&] { return m.recentBatches().size() == 1; }));
    settle();
    EXPECT_EQ(m.exportStatusMessage(), notice);

    probe->hang = false; // the restarted sampler's first batch
    ASSERT_TRUE(pumpUntil([&] { return m.recentBatches().size() == 2; }));
    settle();
    EXPECT_EQ(m.exportStatusMessage(), std::nullopt);

    // Any other message outlives a normal batch.
    exporter->failure = "no space left";
    m.exportLast24Hours();
    ASSERT_TRUE(pumpUntil([&] { return m.exportStatusMessage().has_value(); }));
    routeVia("en0");
    runToEnd(m.runProbeCycle());
    settle();
    EXPECT_EQ(m.exportStatusMessage(),
              std::optional<QString>("Az exportálás nem sikerült: " + failureSentence(FailureCause::diskFull)));
}

TEST_F(MonitoringTest, WakeResetsTheProgressTheWatchdogMeasuresFrom)
{
    AppViewModel& m = model();
    startStalled();
    clockNow = kStart + 60;
    sleepWake->wake();
    ASSERT_TRUE(pumpUntil([&] { return !eventTexts(DiagnosticEventKind::wake).empty(); }));
    m.checkProbeWatchdog();
    EXPECT_TRUE(eventTexts(DiagnosticEventKind::probeStalled).empty());
    EXPECT_EQ(eventTexts(DiagnosticEventKind::wake), std::vector<QString>{"The computer woke up."});
}

TEST_F(MonitoringTest, StartAndStopAreIdempotentAndStopThenStartReRegistersObserversAndPathUpdates)
{
    AppViewModel& m = model();
    routeVia("en0");
    m.startMonitoring();
    m.startMonitoring();
    EXPECT_EQ(eventTexts(DiagnosticEventKind::monitoringStarted), std::vector<QString>{"Continuous monitoring started."});
    EXPECT_EQ(path->starts, 1);
    EXPECT_EQ(sleepWake->activations, 1);

    sleepWake->sleep();
    std::thread([&] { path->deliver(PathSnapshot{"satisfied", true, false, {"wlan0", "lan0"}}); }).join();
    ASSERT_TRUE(pumpUntil([&] { return eventTexts(DiagnosticEventKind::sleep).size() == 1; }));
    ASSERT_TRUE(pumpUntil([&] { return eventTexts(DiagnosticEventKind::pathChanged).size() == 1; }));
    EXPECT_EQ(eventTexts(DiagnosticEventKind::sleep)[0], "The computer went to sleep.");
    EXPECT_EQ(sleepWake->recorded, 1);
    EXPECT_EQ(eventTexts(DiagnosticEventKind::pathChanged)[0], "Path status: satisfied, Wi-Fi: yes, interfaces: wlan0, lan0");

    m.stopMonitoring();
    m.stopMonitoring();
    EXPECT_EQ(eventTexts(DiagnosticEventKind::monitoringStopped), std::vector<QString>{"Continuous monitoring stopped."});
    EXPECT_EQ(path->cancels, 1);
    EXPECT_EQ(sleepWake->deactivations, 1);
    ASSERT_TRUE(pumpUntil([&] { return probe->calls.contains("stop"); }));
    sleepWake->sleep();
    EXPECT_FALSE(path->deliver(PathSnapshot{"unsatisfied", false, false, {}}));
    settle();
    EXPECT_EQ(eventTexts(DiagnosticEventKind::sleep).size(), 1u) << "no observer while stopped";

    m.startMonitoring();
    EXPECT_EQ(path->starts, 2);
    EXPECT_EQ(sleepWake->activations, 2);
    sleepWake->sleep();
    std::thread([&] { path->deliver(PathSnapshot{"unsatisfied", false, false, {}}); }).join();
    ASSERT_TRUE(pumpUntil([&] { return eventTexts(DiagnosticEventKind::sleep).size() == 2; }));
    ASSERT_TRUE(pumpUntil([&] { return eventTexts(DiagnosticEventKind::pathChanged).size() == 2; }));
    EXPECT_EQ(eventTexts(DiagnosticEventKind::pathChanged)[1], "Path status: unsatisfied, Wi-Fi: no, interfaces: ");
}

TEST_F(MonitoringTest, LoadTestSuspendAndResumeRecordTheirFourEventsInOrder)
{
    AppViewModel& m = model();
    m.suspendForLoadTest(); // off: nothing, and resume leaves it off
    EXPECT_TRUE(m.isLoadTestRunning()) << "monitoring cannot be resumed by hand during the test";
    m.resumeAfterLoadTest();
    EXPECT_FALSE(m.isLoadTestRunning());
    EXPECT_FALSE(m.isMonitoring());
    EXPECT_TRUE(m.events().empty());

    routeVia("en0");
    m.startMonitoring();
    const std::size_t before = m.events().size();
    m.suspendForLoadTest();
    EXPECT_FALSE(m.isMonitoring());
    m.resumeAfterLoadTest();
    EXPECT_TRUE(m.isMonitoring());
    std::vector<std::pair<DiagnosticEventKind, QString>> got;
    for (std::size_t i = before; i < m.events().size(); ++i)
        got.emplace_back(m.events()[i].kind, m.events()[i].details);
    const std::vector<std::pair<DiagnosticEventKind, QString>> want{
        {DiagnosticEventKind::monitoringStopped, "Continuous monitoring stopped."},
        {DiagnosticEventKind::monitoringStopped,
         "A folyamatos mérés szünetel a sebességteszt idejére, hogy a teszt saját terhelése ne kerüljön be hálózati "
         "hibaként."},
        {DiagnosticEventKind::monitoringStarted, "Continuous monitoring started."},
        {DiagnosticEventKind::monitoringStarted, "A sebességteszt véget ért, a folyamatos mérés folytatódik."}};
    EXPECT_EQ(got, want);
}

TEST_F(MonitoringTest, LoadTestResultIsStoredAndSummarised)
{
    AppViewModel& m = model();
    LoadTestResult r;
    r.startedAt = kStart;
    r.idle.p50 = 20;
    r.underDownload.p95 = 80;
    r.underDownload.sampleCount = 80; // a loaded window of 8 s
    r.download.bytesTransferred = 12'500'000;
    r.download.durationSeconds = 10; // 10 Mbps; the upload phase has no length: 0 Mbps
    runToEnd(m.recordLoadTest(r));
    EXPECT_EQ(eventTexts(DiagnosticEventKind::markerAdded),
              std::vector<QString>{"Terhelési teszt: 10 Mbps le / 0 Mbps fel, a késleltetés 60 ms-mal nőtt (Jó). "
                                   "A feltöltés alatt a késleltetés nem volt mérhető."});

    failWrites("load_tests");
    runToEnd(m.recordLoadTest(r));
    ASSERT_TRUE(m.exportStatusMessage());
    EXPECT_TRUE(m.exportStatusMessage()->startsWith("A terhelési teszt eredményét nem sikerült elmenteni: "));
    EXPECT_EQ(eventTexts(DiagnosticEventKind::markerAdded).size(), 1u);
}

TEST_F(MonitoringTest, FreshnessTextsFollowTheTruncatedAgeAndStaleIsTheRealNumber)
{
    AppViewModel& m = model();
    EXPECT_EQ(m.probeFreshnessSummary(), "A rögzítés szünetel");
    routeVia("en0");
    m.startMonitoring();
    ASSERT_TRUE(pumpUntil([&] { return m.lastProbeBatchTimestamp().has_value(); }));
    const Timestamp batch = *m.lastProbeBatchTimestamp();

    clockNow = batch + 9.9;
    EXPECT_EQ(m.probeFreshnessSummary(), "Friss (9 mp)");
    clockNow = batch + 19.99;
    EXPECT_EQ(m.probeFreshnessSummary(), "Késik (19 mp)");
    EXPECT_FALSE(m.isProbeStale());
    clockNow = batch + 20;
    EXPECT_EQ(m.probeFreshnessSummary(), "Elavult (20 mp)");
    EXPECT_TRUE(m.isProbeStale());
    clockNow = batch - 5;
    EXPECT_EQ(m.probeFreshnessSummary(), "Friss (0 mp)");

    EXPECT_EQ(m.menuBarSymbolName(), "checkmark.circle.fill");
    EXPECT_EQ(m.databaseURL(), std::optional<QUrl>(QUrl::fromLocalFile(dbPath)));
    EXPECT_EQ(m.databaseLocationDescription(), dbPath);
    m.stopMonitoring();
    EXPECT_EQ(m.probeFreshnessSummary(), "A rögzítés szünetel");
    EXPECT_FALSE(m.isProbeStale());
}

// --- the history load --------------------------------------------------------------------------
TEST_F(MonitoringTest, BootstrapRestoresHistoryOnceAndStartsMonitoring)
{
    {
        AppViewModel& first = model();
        probe->makeBatch = [](const RouteSnapshot& r) { return batchFailing({ProbeKind::gateway}, r, r.timestamp); };
        for (int i = 0; i < 13; ++i) { // a minute of them: a shorter fault opens no incident
            clockNow = kStart - 100 + 5 * i;
            routeVia("en0");
            runToEnd(first.runProbeCycle());
        }
        probe->makeBatch = nullptr;
        first.applyAttribution(fault(FaultLocation::router), kStart - 40);
        settle();
        vm.reset();
    }
    clockNow = kStart;
    routeVia("en0");
    AppViewModel& m = model();
    runToEnd(m.bootstrap());
    EXPECT_TRUE(m.didBootstrap());
    EXPECT_TRUE(m.isMonitoring());
    // The sampler may already have added the first new batch (at kStart) behind the restored ones.
    ASSERT_GE(m.recentBatches().size(), 13u);
    EXPECT_EQ(m.recentBatches()[0].timestamp, kStart - 100);
    EXPECT_EQ(m.recentBatches()[2].timestamp, kStart - 90);
    EXPECT_EQ(m.recentBatches()[2].samples.size(), 4u);
    ASSERT_EQ(m.incidents().size(), 1u);
    ASSERT_TRUE(m.activeMeasurementSession());
    EXPECT_EQ(m.activeMeasurementSession()->startedAt, kStart - 100) << "earliest stored time";
    EXPECT_FALSE(m.exportStatusMessage());

    // The first cycle compares with the newest restored batch's route.
    ASSERT_TRUE(pumpUntil([&] { return m.recentBatches().size() == 14; }));
    EXPECT_TRUE(eventTexts(DiagnosticEventKind::interfaceChanged).empty());

    const std::size_t batches = m.recentBatches().size();
    runToEnd(m.bootstrap()); // a second call loads nothing
    EXPECT_EQ(m.recentBatches().size(), batches);
    EXPECT_EQ(eventTexts(DiagnosticEventKind::monitoringStarted).size(), 1u) << "started once";
}

TEST_F(MonitoringTest, BootstrapChecksForUpdatesOnlyWhenAFeedIsConfigured)
{
    for (const bool configured : {true, false}) {
        updateFeed = configured ? QUrl("http://127.0.0.1:9/appcast.json") : QUrl();
        AppViewModel& m = model();
        int published = 0;
        QObject::connect(&m, &AppViewModel::availableUpdateChanged, [&] { ++published; });
        runToEnd(m.bootstrap());
        pumpUntil([&] { return published > 0; }, std::chrono::seconds(configured ? 15 : 1));
        EXPECT_EQ(published, configured ? 1 : 0) << "configured: " << configured;
        m.stopMonitoring();
    }
}

TEST_F(MonitoringTest, BootstrapOnAnEmptyStoreStartsTheSessionNowAndAnUnavailableStoreSaysWhy)
{
    AppViewModel& m = model();
    runToEnd(m.bootstrap());
    ASSERT_TRUE(m.activeMeasurementSession());
    EXPECT_EQ(m.activeMeasurementSession()->startedAt, kStart);
    EXPECT_FALSE(m.activeMeasurementSession()->nodeFingerprint);
    EXPECT_TRUE(m.isMonitoring());
    m.stopMonitoring();

    store = std::shared_ptr<SQLiteStore>(SQLiteStore::unavailable("no disk"));
    AppViewModel& broken = model();
    runToEnd(broken.bootstrap());
    ASSERT_TRUE(broken.exportStatusMessage());
    EXPECT_TRUE(broken.exportStatusMessage()->startsWith("A korábbi adatok betöltése nem sikerült: "));
    EXPECT_TRUE(broken.isMonitoring());
    EXPECT_FALSE(broken.activeMeasurementSession());
    EXPECT_FALSE(broken.databaseURL());
}

// --- markers, exports, the dossier -------------------------------------------------------------
TEST_F(MonitoringTest, MarkersUseTheNoteOrTheTemplateAndKeepTheNewest80InMemory)
{
    AppViewModel& m = model();
    m.setMarkerNote(" \n\t ");
    m.addMarker(WorkflowPreset::eveningPeak);
    EXPECT_EQ(m.markers().back().note, noteTemplate(WorkflowPreset::eveningPeak));
    EXPECT_EQ(m.markers().back().action, "eveningPeak");
    EXPECT_TRUE(m.markerNote().isEmpty());
    m.setMarkerNote("  by the fridge ");
    m.addMarker(WorkflowPreset::currentRoom24h);
    EXPECT_EQ(m.markers().back().note, "  by the fridge ");
    EXPECT_EQ(eventTexts(DiagnosticEventKind::markerAdded).back(),
              "Added marker: " + title(WorkflowPreset::currentRoom24h));
    for (int i = 0; i < 79; ++i)
        m.addMarker(WorkflowPreset::routerBaseline10m);
    EXPECT_EQ(m.markers().size(), 80u);
    EXPECT_EQ(m.markers().front().note, "  by the fridge ");

    std::optional<std::vector<ManualMarker>> stored;
    auto read = [&]() -> rt::awaitable<void> { stored = co_await store->recentMarkers(500); };
    asio::co_spawn(rt::QtExecutor(), std::move(read), asio::detached);
    ASSERT_TRUE(pumpUntil([&] { return stored.has_value(); }));
    EXPECT_EQ(stored->size(), 81u);
}

TEST_F(MonitoringTest, ExportReportsItsOutcomeAndTheDossierBuildsOneAtATime)
{
    confirmationDuration = std::chrono::milliseconds(150);
    AppViewModel& m = model();
    EXPECT_FALSE(m.revealLatestExportInFinder());
    exporter->result.startDate = kStart - 3600;
    exporter->result.endDate = kStart;
    exporter->result.directoryURL = QUrl::fromLocalFile(dir + "/export-1");
    m.exportCurrentDay();
    ASSERT_TRUE(pumpUntil([&] { return m.lastExportResult().has_value(); }));
    // A confirmation, not a warning: in Hungarian, naming the folder, and gone by itself.
    ASSERT_TRUE(m.exportStatusMessage());
    EXPECT_TRUE(m.isStatusConfirmation());
    EXPECT_TRUE(m.exportStatusMessage()->startsWith("Elkészült a mai nap exportja (")) << m.exportStatusMessage()->toStdString();
    EXPECT_TRUE(m.exportStatusMessage()->endsWith("A fájlok mappája: " + dir + "/export-1"));
    EXPECT_EQ(eventTexts(DiagnosticEventKind::exportCompleted).back(),
              title(ExportScope::currentDay) + " export created at " + dir + "/export-1");
    EXPECT_TRUE(pumpUntil([&] { return !m.exportStatusMessage(); }));
    EXPECT_FALSE(m.isStatusConfirmation());

    // A warning that follows a confirmation is not cleared by the confirmation's timer.
    m.exportPreviousDay();
    ASSERT_TRUE(pumpUntil([&] { return exporter->runs == 2 && m.isStatusConfirmation(); }));
    EXPECT_TRUE(m.exportStatusMessage()->startsWith("Elkészült az előző nap exportja ("));
    m.setStatusMessage(QStringLiteral("later warning"));
    QTest::qWait(300);
    EXPECT_EQ(m.exportStatusMessage(), std::optional<QString>("later warning"));
    EXPECT_FALSE(m.isStatusConfirmation());

    // A real failure: the export folder would lie under a file. The user reads the cause, not the system text.
    QFile blocker(dir + "/not-a-folder");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    exporter->result.directoryURL = QUrl::fromLocalFile(dir + "/not-a-folder/export-2");
    m.exportLast24Hours();
    ASSERT_TRUE(pumpUntil([&] { return exporter->runs == 3 && m.exportStatusMessage() != QString("later warning"); }));
    EXPECT_EQ(m.exportStatusMessage(),
              std::optional<QString>("Az exportálás nem sikerült: " + failureSentence(FailureCause::notAFolder) + " " +
                                     pathNote(dir + "/not-a-folder/export-2")));
    EXPECT_FALSE(m.isStatusConfirmation());
    EXPECT_EQ(m.lastExportResult()->scope, ExportScope::previousDay) << "the earlier result stays";

    dossier->delay = std::chrono::milliseconds(100);
    bool firstDone = false;
    asio::co_spawn(rt::QtExecutor(), m.createDossier(3600, true), [&](std::exception_ptr) { firstDone = true; });
    QCoreApplication::processEvents();
    runToEnd(m.createDossier(600, false)); // ignored while the first one builds
    ASSERT_TRUE(pumpUntil([&] { return firstDone; }));
    ASSERT_EQ(dossier->requests.size(), 1u);
    EXPECT_DOUBLE_EQ(dossier->requests[0].duration(), 3600);
    EXPECT_TRUE(dossier->requests[0].anonymiseNetworkNames);
    EXPECT_EQ(dossier->folders[0], QUrl::fromLocalFile(dir + "/Desktop"));
    ASSERT_TRUE(m.lastDossierURL());
    EXPECT_EQ(m.dossierStatusMessage(), std::optional<QString>("Elkészült: Polvarine-dossier-1.pdf — az asztalodon van."));
    EXPECT_EQ(eventTexts(DiagnosticEventKind::exportCompleted).back(), "Dossier written to Polvarine-dossier-1.pdf.");
    EXPECT_FALSE(m.isBuildingDossier());

    // A desktop folder that is a file: the message names that cause in Hungarian.
    dossier->delay = std::chrono::milliseconds(0);
    QDir(dir + "/Desktop").removeRecursively();
    QFile desktop(dir + "/Desktop");
    ASSERT_TRUE(desktop.open(QIODevice::WriteOnly));
    desktop.close();
    runToEnd(m.createDossier(600, false));
    EXPECT_FALSE(m.lastDossierURL()) << "a failure clears the earlier dossier";
    EXPECT_EQ(m.dossierStatusMessage(),
              std::optional<QString>("Nem sikerült elkészíteni: " + failureSentence(FailureCause::notAFolder) + " " +
                                     pathNote(dir + "/Desktop")));
}

// No file manager: neither one on the session bus nor an opener that can show the folder. The status
// line says so and names the folder: "none installed" for an opener that is missing or finds no
// program (xdg-open's 3, or none on PATH), "it failed" for a file manager that fails (xdg-open's 4).
TEST_F(MonitoringTest, AFolderNoFileManagerCanOpenIsSaidWithItsPath)
{
    const QString bin = dir + "/bin";
    QDir().mkpath(bin);
    QFile fake(bin + "/xdg-open");
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\nexit 4\n");
    fake.close();
    fake.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    const struct {
        QStringList opener;
        QString path; // PATH while the default opener, xdg-open, is looked for
        bool noneInstalled;
    } cases[] = {
        {{dir + "/no-such-opener"}, QString(), true},
        {{"sh", "-c", "exit 3", "opener"}, QString(), true},
        {{}, bin, false},
        {{}, dir + "/nothing-here", true},
    };
    for (const auto& c : cases) {
        vm.reset();
        folderOpener = c.opener;
        if (!c.path.isEmpty())
            qputenv("PATH", c.path.toLocal8Bit());
        AppViewModel& m = model();
        exporter->result.directoryURL = QUrl::fromLocalFile(dir + "/export-1");
        m.exportCurrentDay();
        ASSERT_TRUE(pumpUntil([&] { return m.lastExportResult().has_value(); }));
        ASSERT_TRUE(m.revealLatestExportInFinder());
        const QString expected = AppViewModel::folderOpenFailureText(dir + "/export-1", c.noneInstalled);
        EXPECT_TRUE(pumpUntil([&] { return m.exportStatusMessage() == expected; }))
            << c.opener.join(' ').toStdString() << " PATH=" << c.path.toStdString() << ": "
            << m.exportStatusMessage().value_or(QString()).toStdString();
        qputenv("PATH", path);
        EXPECT_FALSE(m.isStatusConfirmation());
    }
    EXPECT_EQ(AppViewModel::folderOpenFailureText(QDir::homePath() + "/x", false),
              "A mappát nem sikerült megnyitni: a fájlkezelő hibával leállt. Nyisd meg kézzel: ~/x");
    // The sentence names the folder the way the user reads it.
    EXPECT_EQ(AppViewModel::folderOpenFailureText(QDir::homePath() + "/Dokumentumok/x"),
              "A mappát nem sikerült megnyitni: nincs telepítve fájlkezelő, amely megjelenítené. Nyisd meg kézzel: "
              "~/Dokumentumok/x");
}

// The history's points rest on echoes that went out: a refused one is neither loss nor a gap filler.
TEST(HistoryBucketsTest, RefusedEchoesAreNoPointOfTheHistory)
{
    const RouteSnapshot route{kStart, QStringLiteral("en0"), QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1")};
    std::vector<NetworkSample> samples = healthyBatch(route, kStart + 10, 12).samples;
    ProbeBatch refused = batchFailing({ProbeKind::gateway, ProbeKind::publicIP}, route, kStart + 20);
    for (NetworkSample& s : refused.samples)
        if (!s.success)
            s.errorDescription = ICMPProbe::socketNotOpenText();
    const std::vector<HistoryBucket> withRefused = [&] {
        std::vector<NetworkSample> all = samples;
        all.insert(all.end(), refused.samples.begin(), refused.samples.end());
        return buildBuckets(all, {}, kStart, kStart + 3600);
    }();
    const std::vector<HistoryBucket> measuredOnly = buildBuckets(samples, {}, kStart, kStart + 3600);
    ASSERT_EQ(withRefused.size(), measuredOnly.size());
    for (std::size_t i = 0; i < withRefused.size(); ++i) {
        EXPECT_EQ(withRefused[i].lossRatio, measuredOnly[i].lossRatio) << i;
        EXPECT_EQ(withRefused[i].medianProviderMs, measuredOnly[i].medianProviderMs) << i;
    }
    const auto lossy = std::count_if(withRefused.begin(), withRefused.end(),
                                     [](const HistoryBucket& b) { return b.lossRatio.value_or(0) > 0; });
    EXPECT_EQ(lossy, 0);
}
