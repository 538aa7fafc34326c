// The composed live model, headless in the lab's client namespace: real store on a temp file, real
// topology, probes and path monitor, the lab's DNS and captive page. The test walks the network
// through no fault, 40 % loss beyond the router and no answers beyond the router, then restarts
// the model on the same database; and a client that may not open ICMP sockets at all.

#include "core/app/AppBootstrap.h"
#include "core/app/AppViewModel.h"
#include "core/store/SQLiteStore.h"
#include "tests/app/AppFakes.h"
#include "tests/lab/LabEnv.h"
#include "tests/support/TestSupport.h"
#include "ui/main/MainLogic.h"
#include "ui/main/OverviewSnapshot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QThread>

#include <gtest/gtest.h>

using namespace pv;
using namespace std::chrono_literals;

namespace {

constexpr int kHTTPPort = 8080;

int waitForPortFile(const QString& path)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10'000) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const int port = QString::fromUtf8(f.readAll()).trimmed().toInt(&ok);
            if (ok && port > 0)
                return port;
        }
        QThread::msleep(50);
    }
    return -1;
}

// Pumps the GUI loop for a while (the model's work runs there).
void runFor(std::chrono::milliseconds span) { test::pumpUntil([] { return false; }, span); }

struct Phase {
    QString name;
    std::vector<std::pair<FaultLocation, bool>> attributions; // location, isOutage, as published
    std::vector<LiveStatus> statuses;
    bool saw(FaultLocation where, std::optional<bool> outage = std::nullopt) const
    {
        return std::any_of(attributions.begin(), attributions.end(), [&](const auto& a) {
            return a.first == where && (!outage || a.second == *outage);
        });
    }
};

class MonitoringLab : public ::testing::Test {
protected:
    AppViewModel::Environment environment()
    {
        AppViewModel::Environment env;
        env.preferences = {std::make_shared<QSettings>(dir + "/settings.ini", QSettings::IniFormat),
                           std::make_shared<XdgAutostartLoginItem>(dir + "/autostart/polvarine.desktop"), notifier};
        env.updateFeed = QUrl(QStringLiteral("http://%1:%2/appcast.json").arg(lab->servicesAddr).arg(kHTTPPort));
        env.desktopFolder = dir + "/Desktop";
        // A 20 s window with minimums to match, so that each phase owns the window within a minute.
        env.liveWindowSeconds = 20;
        AttributionThresholds t = AttributionThresholds::standard();
        t.minimumSamplesPerLeg = 4;
        t.minimumWindowSeconds = 8;
        env.thresholds = t;
        return env;
    }

    std::optional<lab::LabEnv> lab;
    QString dir;
    std::shared_ptr<test::CountingNotifier> notifier = std::make_shared<test::CountingNotifier>();
};

} // namespace

TEST_F(MonitoringLab, MonitorsThroughLossAndOutageAndBootstrapRestoresTheHistory)
{
    lab = lab::LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    // An IPv4-only network: the faults below are IPv4's.
    ASSERT_TRUE(lab->removeClientIPv6());
    dir = test::makeTempDir();
    const QString servers = qEnvironmentVariable("PV_SOURCE_DIR") + "/tests/lab/servers/";
    const qint64 dns = lab->startInNamespace(
        lab->inetNs, {"python3", servers + "dns_server.py", "--bind", lab->servicesAddr, "--port", "53", "--port-file",
                      dir + "/dns.port", "--address", "192.0.2.10", "--lifetime", "400"});
    const qint64 http = lab->startInNamespace(
        lab->inetNs, {"python3", servers + "http_server.py", "--bind", lab->servicesAddr, "--port",
                      QString::number(kHTTPPort), "--port-file", dir + "/http.port", "--lifetime", "400"});
    ASSERT_GT(dns, 0);
    ASSERT_GT(http, 0);
    ASSERT_EQ(waitForPortFile(dir + "/dns.port"), 53);
    ASSERT_EQ(waitForPortFile(dir + "/http.port"), kHTTPPort);

    const QString dbPath = dir + "/polvarine.sqlite3";
    qputenv("POLVARINE_DB", dbPath.toUtf8());
    qputenv("POLVARINE_CAPTIVE_URL",
             QStringLiteral("http://%1:%2/hotspot-detect.html").arg(lab->servicesAddr).arg(kHTTPPort).toUtf8());

    auto vm = AppBootstrap::makeLiveViewModel(environment());
    ASSERT_EQ(vm->storageHealth(), StorageHealth::healthy());
    vm->preferences().setNotifyOnOutage(true);

    std::vector<Phase> phases{{"none", {}, {}}};
    QObject::connect(vm.get(), &AppViewModel::attributionChanged, [&] {
        phases.back().attributions.emplace_back(vm->attribution().location, vm->attribution().isOutage);
    });
    QObject::connect(vm.get(), &AppViewModel::liveStatusChanged,
                     [&] { phases.back().statuses.push_back(vm->liveStatus()); });

    const Timestamp runStart = nowTimestamp();
    test::runToEnd(vm->bootstrap(), 10s);
    ASSERT_TRUE(vm->isMonitoring());
    EXPECT_FALSE(vm->exportStatusMessage()) << vm->exportStatusMessage().value_or("").toStdString();

    // 1. No fault.
    runFor(25s);
    EXPECT_EQ(vm->attribution().location, FaultLocation::none) << vm->attribution().headline.toStdString();
    EXPECT_EQ(vm->liveStatus(), LiveStatus::healthy);
    EXPECT_FALSE(vm->isProbeStale());

    // 2. 40 % of what reaches the internet side is lost.
    phases.push_back({"loss", {}, {}});
    ASSERT_TRUE(lab->addRandomLoss(lab->inetNs, 0.4));
    test::pumpUntil([&] { return vm->attribution().location == FaultLocation::provider; }, 30s);
    runFor(5s);
    EXPECT_TRUE(phases.back().saw(FaultLocation::provider, false)) << "provider trouble, not an outage";
    EXPECT_EQ(vm->liveStatus(), LiveStatus::degraded);

    // 3. Nothing beyond the router answers; the router itself still does.
    phases.push_back({"outage", {}, {}});
    const Timestamp outageStart = nowTimestamp();
    ASSERT_TRUE(lab->clearFaults(lab->inetNs));
    for (const QString& dst : {QStringLiteral("1.1.1.1"), QStringLiteral("8.8.8.8"), lab->servicesAddr})
        ASSERT_TRUE(lab->dropAll(lab->routerNs, dst));
    // Said from its first batch; journalled once the newest minute holds it (a shorter one opens nothing).
    test::pumpUntil(
        [&] {
            return vm->attribution().isOutage &&
                   std::any_of(vm->incidents().begin(), vm->incidents().end(), [](const Incident& i) { return i.isOpen(); });
        },
        90s);
    EXPECT_TRUE(phases.back().saw(FaultLocation::provider, true)) << "the router answers: the provider's outage";
    EXPECT_EQ(vm->liveStatus(), LiveStatus::offline);

    // 4. Recovery: the incident closes.
    phases.push_back({"recovery", {}, {}});
    ASSERT_TRUE(lab->clearFaults(lab->routerNs));
    test::pumpUntil(
        [&] {
            return vm->attribution().location == FaultLocation::none &&
                   std::none_of(vm->incidents().begin(), vm->incidents().end(), [](const Incident& i) { return i.isOpen(); });
        },
        60s);
    EXPECT_EQ(vm->liveStatus(), LiveStatus::healthy);
    const std::size_t batchesSeen = vm->recentBatches().size();
    vm->stopMonitoring();
    runFor(2s); // the last saves
    vm.reset();

    // The database holds the whole run.
    SQLiteStore store(SQLiteStore::Location::file(dbPath));
    std::vector<NetworkSample> samples;
    std::vector<DiagnosticEvent> events;
    std::vector<Incident> incidents;
    auto read = [&]() -> rt::awaitable<void> {
        samples = co_await store.recentSamples(10'000);
        events = co_await store.recentEvents(1'000);
        incidents = co_await store.recentIncidents(100);
    };
    bool done = false;
    asio::co_spawn(rt::QtExecutor(), std::move(read), [&](std::exception_ptr) { done = true; });
    ASSERT_TRUE(test::pumpUntil([&] { return done; }));
    std::set<QUuid> batchIds;
    for (const NetworkSample& s : samples)
        batchIds.insert(s.batchID);
    EXPECT_EQ(batchIds.size(), batchesSeen) << "every published batch was stored";
    EXPECT_GE(batchIds.size(), 12u);
    ASSERT_FALSE(samples.empty());
    EXPECT_LT(samples.back().timestamp - runStart, 15) << "from the start of the run";
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const DiagnosticEvent& e) {
        return e.kind == DiagnosticEventKind::monitoringStarted && e.details == "Continuous monitoring started.";
    }));
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const DiagnosticEvent& e) {
        return e.kind == DiagnosticEventKind::pathChanged && e.details.startsWith("Path status: satisfied") &&
               e.details.contains(lab->clientIf);
    })) << "the route's path event";
    // Random loss can look clean for a moment, so the provider trouble may come as more than one
    // incident: the first began with the loss, the last lasted through the outage.
    std::vector<Incident> provider;
    std::copy_if(incidents.begin(), incidents.end(), std::back_inserter(provider),
                 [](const Incident& i) { return i.classification == IncidentClassification::internetUpstreamIssue; });
    ASSERT_FALSE(provider.empty()) << "an incident classified as provider trouble";
    std::sort(provider.begin(), provider.end(),
              [](const Incident& a, const Incident& b) { return a.startTimestamp < b.startTimestamp; });
    ASSERT_TRUE(provider.back().endTimestamp) << "the outage ended";
    EXPECT_LT(provider.front().startTimestamp, outageStart) << "it began with the loss";
    EXPECT_GT(*provider.back().endTimestamp, outageStart + 10) << "and lasted through the outage";
    EXPECT_TRUE(std::none_of(incidents.begin(), incidents.end(), [](const Incident& i) { return i.isOpen(); }));

    // Every phase published its own attribution.
    EXPECT_TRUE(phases[0].saw(FaultLocation::none));
    EXPECT_FALSE(phases[0].saw(FaultLocation::provider));
    EXPECT_TRUE(phases[3].saw(FaultLocation::none));

    // A restart on the same database restores the history.
    auto again = AppBootstrap::makeLiveViewModel(environment());
    test::runToEnd(again->bootstrap(), 10s);
    EXPECT_FALSE(again->exportStatusMessage()) << again->exportStatusMessage().value_or("").toStdString();
    EXPECT_GE(again->recentBatches().size(), std::min<std::size_t>(batchesSeen, 500 / 5));
    EXPECT_TRUE(std::any_of(again->incidents().begin(), again->incidents().end(), [](const Incident& i) {
        return i.classification == IncidentClassification::internetUpstreamIssue && i.endTimestamp;
    }));
    EXPECT_GE(again->events().size(), 3u);
    ASSERT_TRUE(again->activeMeasurementSession());
    EXPECT_LT(again->activeMeasurementSession()->startedAt, runStart + 15) << "the session reaches back to the run";
    EXPECT_TRUE(again->lastProbeBatchTimestamp());
    again->stopMonitoring();
    runFor(1s);
}

TEST_F(MonitoringLab, RefusedIcmpOpensNoIncidentAndTheOverviewNamesTheSysctl)
{
    lab = lab::LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    // An IPv4-only network: the faults below are IPv4's.
    ASSERT_TRUE(lab->removeClientIPv6());
    dir = test::makeTempDir();
    const QString servers = qEnvironmentVariable("PV_SOURCE_DIR") + "/tests/lab/servers/";
    ASSERT_GT(lab->startInNamespace(lab->inetNs, {"python3", servers + "dns_server.py", "--bind", lab->servicesAddr,
                                                  "--port", "53", "--port-file", dir + "/dns.port", "--address",
                                                  "192.0.2.10", "--lifetime", "200"}),
              0);
    ASSERT_GT(lab->startInNamespace(lab->inetNs, {"python3", servers + "http_server.py", "--bind", lab->servicesAddr,
                                                  "--port", QString::number(kHTTPPort), "--port-file",
                                                  dir + "/http.port", "--lifetime", "200"}),
              0);
    ASSERT_EQ(waitForPortFile(dir + "/dns.port"), 53);
    ASSERT_EQ(waitForPortFile(dir + "/http.port"), kHTTPPort);
    qputenv("POLVARINE_DB", (dir + "/polvarine.sqlite3").toUtf8());
    qputenv("POLVARINE_CAPTIVE_URL",
             QStringLiteral("http://%1:%2/hotspot-detect.html").arg(lab->servicesAddr).arg(kHTTPPort).toUtf8());

    // Nobody in this namespace may open an ICMP socket any more.
    ASSERT_EQ(lab->run(lab->clientNs, "sysctl -qw net.ipv4.ping_group_range='1 0'"), 0);
    auto vm = AppBootstrap::makeLiveViewModel(environment());
    test::runToEnd(vm->bootstrap(), 10s);
    runFor(30s); // more than the lab's window, so the analysis has had its full say
    const std::vector<Incident> incidents = vm->incidents();
    const std::optional<QString> status = vm->exportStatusMessage();
    const OverviewSnapshot overview = snapshotOf(*vm);
    const FaultLocation location = vm->attribution().location;
    vm->stopMonitoring();
    runFor(1s);
    vm.reset();
    EXPECT_EQ(lab->run(lab->clientNs, "sysctl -qw net.ipv4.ping_group_range='0 2147483647'"), 0);

    EXPECT_TRUE(incidents.empty()) << incidents.front().evidenceSummary.toStdString();
    EXPECT_EQ(location, FaultLocation::insufficientEvidence) << "still collecting evidence, not a fault";
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->contains("net.ipv4.ping_group_range")) << status->toStdString();
    const auto sections = visibleSections(overview);
    EXPECT_NE(std::find(sections.begin(), sections.end(), DashboardSection::statusBanner), sections.end())
        << "the overview shows it as a banner";
}
