// Measuring cut short: a batch in flight when monitoring stops (by hand, for the load test, at the
// program's end), when the computer sleeps or when the probe is re-pinned is no evidence and is
// neither stored nor analysed; and no incident of no length reaches the store, also not from an
// incident a previous run left open.

#include "core/app/AppViewModel.h"
#include "core/store/SQLiteStore.h"
#include "tests/app/AppFakes.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QSettings>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>

using namespace pv;
using namespace pv::test;

namespace {

constexpr Timestamp kStart = 1'700'000'000.0;

// Every sample answered, but for the kinds listed: those lost `lost` of their three echoes.
ProbeBatch batchLosing(std::initializer_list<ProbeKind> kinds, int lost, const RouteSnapshot& route, Timestamp at)
{
    ProbeBatch b = healthyBatch(route, at);
    for (NetworkSample& s : b.samples)
        if (std::find(kinds.begin(), kinds.end(), s.target.kind) != kinds.end()) {
            s.timeoutCount = lost;
            s.packetLoss = lost / 3.0;
            s.success = lost < 3;
            if (!s.success)
                s.latencyMilliseconds.reset();
        }
    return b;
}

class MeasurementCutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir();
        dbPath = dir + "/polvarine.sqlite3";
        store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(dbPath));
        runtime = std::make_shared<rt::NetworkRuntime>();
        topology = std::make_shared<ScriptedTopology>();
        probe = std::make_shared<ScriptedProbe>(runtime->executor());
        sleepWake = std::make_shared<ScriptedSleepWake>();
    }
    void TearDown() override { closeModel(); }

    AppViewModel& model()
    {
        AppViewModel::Services services;
        services.runtime = runtime;
        services.store = store;
        services.topology = topology;
        services.probeService = probe;
        services.wifiProvider = std::make_shared<ScriptedWifi>();
        services.exportService = std::make_shared<ScriptedExport>();
        services.pathMonitor = std::make_shared<ScriptedPath>();
        services.locationPermissionService =
            std::make_shared<LocationPermissionService>(std::make_unique<FixedLocationManager>());
        AppViewModel::Environment env;
        env.preferences = {std::make_shared<QSettings>(dir + "/settings.ini", QSettings::IniFormat),
                           std::make_shared<XdgAutostartLoginItem>(dir + "/autostart/polvarine.desktop"),
                           std::make_shared<CountingNotifier>()};
        env.updateFeed = QUrl("http://127.0.0.1:9/appcast.json");
        env.clock = [this] { return clockNow; };
        env.monotonicClock = [this] { return clockNow; };
        env.icmpRefused = [] { return false; };
        env.sleepWake = sleepWake;
        vm = std::make_unique<AppViewModel>(std::move(services), StorageHealth::healthy(), std::move(env));
        return *vm;
    }

    // As the program ends: monitoring stops, the loops drain, the model goes.
    void closeModel()
    {
        if (!vm)
            return;
        probe->hang = false;
        vm->stopMonitoring();
        pumpUntil([] { return false; }, std::chrono::milliseconds(30));
        vm.reset();
        pumpUntil([] { return false; }, std::chrono::milliseconds(10));
    }

    void settle()
    {
        ASSERT_TRUE(pumpUntil([&] { return !vm->isQualityRefreshRunning(); }));
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    void routeAt(Timestamp at)
    {
        clockNow = at;
        topology->route("en0", "10.0.0.2", "10.0.0.1", at);
    }

    // One cycle every 5 s over [from, to), each batch made by `make` at its time.
    void cycles(Timestamp from, Timestamp to, const std::function<ProbeBatch(const RouteSnapshot&)>& make)
    {
        for (Timestamp at = from; at < to; at += 5) {
            routeAt(at);
            probe->makeBatch = make;
            runToEnd(vm->runProbeCycle());
        }
    }

    int storedSamples()
    {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM network_samples", -1, &statement, nullptr), SQLITE_OK);
        int count = -1;
        if (sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return count;
    }

    std::vector<Incident> storedIncidents()
    {
        std::optional<std::vector<Incident>> rows;
        auto read = [this, &rows]() -> rt::awaitable<void> { rows = co_await store->recentIncidents(500); };
        asio::co_spawn(rt::QtExecutor(), std::move(read), asio::detached);
        EXPECT_TRUE(pumpUntil([&] { return rows.has_value(); }));
        return rows.value_or(std::vector<Incident>{});
    }

    template <typename T> void put(rt::awaitable<T> write) { runToEnd(std::move(write)); }

    QString dir;
    QString dbPath;
    Timestamp clockNow = kStart;
    std::shared_ptr<SQLiteStore> store;
    std::shared_ptr<rt::NetworkRuntime> runtime;
    std::shared_ptr<ScriptedTopology> topology;
    std::shared_ptr<ScriptedProbe> probe;
    std::shared_ptr<ScriptedSleepWake> sleepWake;
    std::unique_ptr<AppViewModel> vm;
};

void expectNoIncidentWithoutLength(const std::vector<Incident>& incidents)
{
    for (const Incident& i : incidents) {
        if (i.endTimestamp) {
            EXPECT_GT(*i.endTimestamp, i.startTimestamp) << "an incident of no length";
        }
    }
}

} // namespace

// A provider outage of two minutes has ended; 3 min 51 s after its start measuring is cut in the
// middle of a batch whose echoes the cut left unanswered.
TEST_F(MeasurementCutTest, ABatchCutShortIsNeitherStoredNorAnalysedWhateverCutIt)
{
    struct Path {
        const char* name;
        std::function<void()> cut;
        bool reportedByTheProbe = false; // the probe service itself says the batch was cut
    };
    const std::vector<Path> paths{
        {"stop", [this] { vm->stopMonitoring(); }},
        {"load test", [this] { vm->suspendForLoadTest(); }},
        {"sleep",
         [this] {
             sleepWake->sleep();
             ASSERT_TRUE(pumpUntil([&] { return sleepWake->recorded == 1; }));
         }},
        {"quit", [this] { vm->stopMonitoring(); }},
        {"probe re-pinned", [] {}, true},
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.name);
        SetUp();
        AppViewModel& m = model();
        const auto outage = [](const RouteSnapshot& r) {
            return batchLosing({ProbeKind::publicIP, ProbeKind::http}, 3, r, r.timestamp);
        };
        cycles(kStart, kStart + 120, outage);
        cycles(kStart + 120, kStart + 231, [](const RouteSnapshot& r) { return healthyBatch(r, r.timestamp); });
        settle();
        ASSERT_EQ(m.incidents().size(), 1u);
        ASSERT_FALSE(m.incidents()[0].isOpen()) << "the outage has ended";
        const std::vector<Incident> incidentsBefore = m.incidents();
        const std::size_t batchesBefore = m.recentBatches().size();
        const int samplesBefore = storedSamples();
        const FaultAttribution attributionBefore = m.attribution();
        const LiveStatus statusBefore = m.liveStatus();
        const std::optional<Timestamp> newestBefore = m.lastProbeBatchTimestamp();

        // The next batch waits for its echoes when the cut comes; a later one never returns.
        routeAt(kStart + 231);
        probe->hang = true;
        const bool reported = path.reportedByTheProbe;
        probe->makeBatch = [reported](const RouteSnapshot& r) {
            ProbeBatch b = batchLosing({ProbeKind::publicIP}, 1, r, r.timestamp);
            b.cutShort = reported;
            return b;
        };
        const auto asked = probe->calls.count("collect");
        const int collected = probe->collected;
        probe->releasedCalls = static_cast<int>(asked);
        m.startMonitoring();
        ASSERT_TRUE(pumpUntil([&] { return probe->calls.count("collect") == asked + 1; }));
        path.cut();
        probe->releasedCalls = static_cast<int>(asked + 1);
        ASSERT_TRUE(pumpUntil([&] { return probe->collected == collected + 1; }));
        settle();

        EXPECT_EQ(m.recentBatches().size(), batchesBefore);
        EXPECT_EQ(m.lastProbeBatchTimestamp(), newestBefore);
        EXPECT_EQ(storedSamples(), samplesBefore);
        EXPECT_EQ(m.incidents(), incidentsBefore);
        EXPECT_EQ(m.attribution(), attributionBefore);
        EXPECT_EQ(m.liveStatus(), statusBefore);
        if (std::string(path.name) == "quit") {
            // The next start finds the journal as the last whole batch left it.
            closeModel();
            routeAt(kStart + 900);
            runToEnd(model().bootstrap());
            settle();
            EXPECT_EQ(vm->incidents(), incidentsBefore);
        }
        const std::vector<Incident> stored = storedIncidents();
        EXPECT_EQ(stored.size(), 1u);
        expectNoIncidentWithoutLength(stored);
        closeModel();
    }
}

// A fault that one batch alone showed, while the window still holds an outage that has ended, is
// no incident of no length.
TEST_F(MeasurementCutTest, AFaultOfASingleBatchLeavesNoIncidentWithoutLength)
{
    for (double blip : {231.0, 300.0}) {
        SCOPED_TRACE(blip);
        SetUp();
        AppViewModel& m = model();
        const auto healthy = [](const RouteSnapshot& r) { return healthyBatch(r, r.timestamp); };
        cycles(kStart, kStart + 120, [](const RouteSnapshot& r) {
            return batchLosing({ProbeKind::publicIP, ProbeKind::http}, 3, r, r.timestamp);
        });
        cycles(kStart + 120, kStart + blip, healthy);
        cycles(kStart + blip, kStart + blip + 5,
               [](const RouteSnapshot& r) { return batchLosing({ProbeKind::publicIP}, 1, r, r.timestamp); });
        cycles(kStart + blip + 5, kStart + blip + 180, healthy);
        settle();
        expectNoIncidentWithoutLength(m.incidents());
        expectNoIncidentWithoutLength(storedIncidents());
        closeModel();
    }
}

// The previous run left an incident open; the next start, long after, ends it with that run's last
// evidence, and withdraws one that only a single instant showed.
TEST_F(MeasurementCutTest, AnIncidentLeftOpenEndsWithThePreviousRunsLastEvidence)
{
    struct Case {
        const char* name;
        IncidentClassification classification;
        double shownFor;      // seconds of failing batches from the incident's start (-1: none)
        double recordedUntil; // the previous run's last event, after the start
        double restartAfter;  // the next start, after the last record
        std::optional<double> end; // after the start; none: withdrawn
        bool stillOpen = false;
    };
    const Timestamp t = kStart + 600;
    const std::vector<Case> cases{
        {"opened by the last batch before a quit", IncidentClassification::unknown, 0, 1, 3600, std::nullopt},
        {"a crash while the provider failed", IncidentClassification::internetUpstreamIssue, 30, 30, 3600, 30.0},
        {"no route until the quit", IncidentClassification::offline, -1, 40, 3600, 40.0},
        {"back within a minute, the fault still there", IncidentClassification::internetUpstreamIssue, 300, 300, 20,
         std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const RouteSnapshot route{t, "en0", "10.0.0.2", "10.0.0.1"};
        for (Timestamp at = t - 300; at < t; at += 5)
            put(store->insertSamples(healthyBatch(route, at)));
        const bool local = c.classification == IncidentClassification::unknown;
        for (double s = 0; s <= c.shownFor; s += 5)
            put(store->insertSamples(local ? batchLosing({ProbeKind::gateway}, 3, route, t + s)
                                           : batchLosing({ProbeKind::publicIP, ProbeKind::http}, 3, route, t + s)));
        Incident open;
        open.id = QUuid::createUuid();
        open.startTimestamp = t;
        open.classification = c.classification;
        open.severity = IncidentSeverity::critical;
        open.confidence = 0.9;
        open.evidenceSummary = "Left open.";
        put(store->upsertIncident(open));
        put(store->insertEvent(DiagnosticEvent{QUuid::createUuid(), t + c.recordedUntil,
                                               DiagnosticEventKind::monitoringStopped,
                                               "Continuous monitoring stopped."}));

        routeAt(t + c.recordedUntil + c.restartAfter);
        probe->hang = true; // the new run's first batch is not needed here
        runToEnd(model().bootstrap());
        settle();
        const std::vector<Incident> stored = storedIncidents();
        expectNoIncidentWithoutLength(stored);
        const auto found = std::find_if(stored.begin(), stored.end(), [&](const Incident& i) { return i.id == open.id; });
        if (c.stillOpen) {
            ASSERT_NE(found, stored.end());
            EXPECT_TRUE(found->isOpen());
        } else if (!c.end) {
            EXPECT_EQ(found, stored.end());
            EXPECT_TRUE(vm->incidents().empty());
        } else {
            ASSERT_NE(found, stored.end());
            EXPECT_EQ(found->endTimestamp, std::optional<Timestamp>(t + *c.end));
        }
        closeModel();
    }
}
