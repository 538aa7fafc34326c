#include "core/app/AppViewModel.h"
#include "core/records/FailureText.h"

#include "core/store/SQLiteStore.h"
#include "tests/support/QuietServices.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace pv;

namespace {

// The probe side answers without measuring: this part of the model never calls it.
using test::FakeNotifier;
using test::FakePath;
using test::FakeProbe;
using test::FakeTopology;
using test::FakeWifi;

class FakeLocationManager : public LocationManager {
public:
    int status = LocationPermissionService::notDetermined;
    int authorizationStatus() const override { return status; }
    void requestWhenInUseAuthorization() override {}
    void change(int s)
    {
        status = s;
        notifyAuthorizationChanged();
    }
};

template <typename T> T awaitOnTestThread(rt::awaitable<T> op)
{
    std::optional<T> result;
    asio::co_spawn(
        rt::QtExecutor(), [&, op = std::move(op)]() mutable -> rt::awaitable<void> { result = co_await std::move(op); },
        asio::detached);
    EXPECT_TRUE(test::pumpUntil([&] { return result.has_value(); }));
    return std::move(*result);
}

void awaitOnTestThread(rt::awaitable<void> op)
{
    bool done = false;
    asio::co_spawn(
        rt::QtExecutor(), [&, op = std::move(op)]() mutable -> rt::awaitable<void> {
            co_await std::move(op);
            done = true;
        },
        asio::detached);
    EXPECT_TRUE(test::pumpUntil([&] { return done; }));
}

// Batches every 5 s over [from, to]: the stretch a baseline candidate may come from was measured.
void storeMeasuredStretch(SQLiteStore& store, Timestamp from, Timestamp to)
{
    for (Timestamp at = from; at <= to; at += 5) {
        NetworkSample s;
        s.id = QUuid::createUuid();
        s.batchID = QUuid::createUuid();
        s.timestamp = at;
        s.target = ProbeTarget(ProbeKind::http, QStringLiteral("HTTP"), QStringLiteral("captive.example"));
        s.success = true;
        s.latencyMilliseconds = 20;
        awaitOnTestThread(store.insertSamples(ProbeBatch{s.batchID, at, {}, {s}}));
    }
}

// A rating whose numbers the test chooses: the ten-minute stretch scores `tenScore(reference)`.
QualityAssessment scripted(QualityWindow window, Timestamp reference, double score)
{
    QualityAssessment a;
    a.availability = QualityAvailability::ready;
    a.window = window;
    a.absoluteScore = score;
    a.score = score;
    a.windowStartedAt = reference - duration(window);
    a.windowEndedAt = reference;
    a.title = QStringLiteral("rated");
    return a;
}

class AppViewModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = test::makeTempDir();
        store = std::make_shared<SQLiteStore>(SQLiteStore::Location::file(dir + "/polvarine.sqlite3"));
    }

    std::unique_ptr<AppViewModel> makeModel(std::shared_ptr<SQLiteStore> withStore = {})
    {
        auto manager = std::make_unique<FakeLocationManager>();
        location = manager.get();
        AppViewModel::Services services;
        services.store = withStore ? withStore : store;
        services.topology = std::make_shared<FakeTopology>();
        services.probeService = std::make_shared<FakeProbe>();
        services.wifiProvider = std::make_shared<FakeWifi>();
        services.exportService = makeExportService(services.store);
        services.pathMonitor = std::make_shared<FakePath>();
        services.locationPermissionService = std::make_shared<LocationPermissionService>(std::move(manager));
        AppViewModel::Environment env;
        env.preferences = {std::make_shared<QSettings>(dir + "/settings.ini", QSettings::IniFormat),
                           std::make_shared<XdgAutostartLoginItem>(dir + "/autostart/polvarine.desktop"),
                           std::make_shared<FakeNotifier>()};
        env.updateFeed = QUrl("http://127.0.0.1:9/appcast.json"); // never fetched here
        env.clock = [this] { return clockNow; };
        if (scriptedScores)
            env.evaluate = [this](QualityWindow w, const MeasurementSession&, Timestamp reference,
                                  const std::vector<NetworkSample>&, const std::vector<WifiSnapshot>&,
                                  const std::vector<Incident>&, const std::vector<DiagnosticEvent>&,
                                  const std::optional<QualityBaseline>& baseline) {
                evaluations.push_back({w, reference, baseline});
                return scripted(w, reference, w == QualityWindow::tenMinutes ? tenScore(reference) : 5.0);
            };
        return std::make_unique<AppViewModel>(std::move(services), StorageHealth::healthy(), std::move(env));
    }

    void settle(AppViewModel& vm)
    {
        ASSERT_TRUE(test::pumpUntil([&] { return !vm.isQualityRefreshRunning(); }));
        QCoreApplication::processEvents(); // the event saves that the publish started
    }

    int eventCount(const AppViewModel& vm, DiagnosticEventKind kind) const
    {
        return static_cast<int>(std::count_if(vm.events().begin(), vm.events().end(),
                                              [&](const DiagnosticEvent& e) { return e.kind == kind; }));
    }

    struct Evaluation {
        QualityWindow window;
        Timestamp reference;
        std::optional<QualityBaseline> baseline;
    };

    QString dir;
    std::shared_ptr<SQLiteStore> store;
    FakeLocationManager* location = nullptr;
    Timestamp clockNow = 1'700'000'000.0;
    bool scriptedScores = false;
    std::function<double(Timestamp)> tenScore = [](Timestamp) { return 8.0; };
    std::vector<Evaluation> evaluations;
};

} // namespace

TEST_F(AppViewModelTest, FreshModelPublishesThePlaceholdersAndHealthy)
{
    auto vm = makeModel();
    EXPECT_EQ(vm->liveStatus(), LiveStatus::healthy);
    EXPECT_EQ(vm->storageHealth(), StorageHealth::healthy());

    EXPECT_FALSE(vm->likelyCause().classification);
    EXPECT_EQ(vm->likelyCause().title, "Még gyűjtjük az adatot");
    EXPECT_EQ(vm->likelyCause().explanation, "A Polvarine most készíti az első méréseket.");
    EXPECT_EQ(vm->likelyCause().recommendation, "Hagyd futni az appot néhány percig.");

    EXPECT_EQ(vm->attribution().location, FaultLocation::insufficientEvidence);
    EXPECT_EQ(vm->attribution().severity, IncidentSeverity::info);
    EXPECT_EQ(vm->attribution().confidence, AttributionConfidence::low);
    EXPECT_EQ(vm->attribution().headline, "Még gyűjtjük a bizonyítékot.");
    EXPECT_EQ(vm->attribution().evidence, QStringList{"Az első mérések most indulnak."});
    EXPECT_TRUE(vm->attribution().caveats.isEmpty());
    EXPECT_FALSE(vm->attribution().isOutage || vm->attribution().isMeasurementArtefact);

    EXPECT_EQ(vm->advice().title, "Hagyd futni");
    ASSERT_EQ(vm->advice().steps.size(), 1u);
    EXPECT_EQ(vm->advice().steps[0].id, "collect.wait");
    EXPECT_EQ(vm->advice().steps[0].text, "Hagyd az appot futni néhány percig.");
    EXPECT_FALSE(vm->advice().pointless);

    EXPECT_EQ(vm->verdict(), ConnectionVerdict{});
    EXPECT_EQ(vm->verdict().confidence.sampleCount, 0);

    const QualityAssessment& q = vm->qualityAssessment();
    EXPECT_EQ(q.availability, QualityAvailability::collecting);
    EXPECT_EQ(q.window, QualityWindow::oneMinute);
    EXPECT_EQ(q.verdict, QualityVerdict::usableWithCallRisk);
    EXPECT_EQ(q.title, "Az első perc gyűjtése");
    EXPECT_EQ(q.summary, "Hagyd futni a mérést, amíg össze nem gyűlik az első egyperces ablak.");
    EXPECT_EQ(q.useCaseHint, "Amint elég adat van, a Polvarine értékeli a jelenlegi hálózatot.");
    EXPECT_EQ(q.comparisonSummary, "A referenciaablak még nincs meg.");
    EXPECT_EQ(q.weaknessSummary, "Még nincs elég adat.");
    EXPECT_EQ(q.sessionStartedAt, clockNow);
    EXPECT_EQ(q.windowStartedAt, clockNow);
    EXPECT_EQ(q.windowEndedAt, clockNow);
    EXPECT_EQ(q.score + q.absoluteScore + q.percentage + q.elapsedSeconds + q.incidentCount + q.dropoutCount, 0);
    EXPECT_EQ(q.gateway.id, "gateway");
    EXPECT_EQ(q.gateway.title, "Router");
    EXPECT_EQ(q.publicIP.id, "public");
    EXPECT_EQ(q.publicIP.title, "Szolgáltató");
    EXPECT_EQ(q.dns.title, "DNS");
    EXPECT_EQ(q.http.title, "HTTP");
    EXPECT_EQ(q.wifi.id, "wifi");
    EXPECT_EQ(q.wifi.title, "Wi-Fi");
    EXPECT_FALSE(q.gateway.successRatio || q.wifi.averageRSSI);

    EXPECT_EQ(vm->qualityWindowReadiness().size(), 9u);
    for (const auto& [window, ready] : vm->qualityWindowReadiness())
        EXPECT_FALSE(ready) << rawValue(window).toStdString();
    EXPECT_EQ(vm->selectedQualityWindow(), QualityWindow::oneMinute);
    EXPECT_FALSE(vm->qualityBaseline() || vm->activeMeasurementSession() || vm->lastProbeBatchTimestamp());
    EXPECT_TRUE(vm->recentBatches().empty() && vm->events().empty() && vm->incidents().empty());
    EXPECT_FALSE(vm->isMonitoring() || vm->isBuildingDossier());
    EXPECT_FALSE(vm->exportStatusMessage() || vm->availableUpdate() || vm->lastExportResult());
    EXPECT_TRUE(vm->markerNote().isEmpty());
    EXPECT_FALSE(vm->isQualityRefreshRunning());
}

TEST_F(AppViewModelTest, VersionAndLocationStatus)
{
    QCoreApplication::setApplicationVersion(QString());
    EXPECT_EQ(AppViewModel::appVersion(), "0");
    auto vm = makeModel();
    EXPECT_EQ(vm->updateChecker().currentVersion(), "0");
    EXPECT_EQ(vm->updateChecker().feed(), QUrl("http://127.0.0.1:9/appcast.json"));
    QCoreApplication::setApplicationVersion("2.4.1");
    EXPECT_EQ(AppViewModel::appVersion(), "2.4.1");
    QCoreApplication::setApplicationVersion(QString());

    // The status at construction, then every change, delivered through the event loop.
    EXPECT_EQ(vm->locationAuthorizationStatus(), LocationPermissionService::notDetermined);
    QSignalSpy spy(vm.get(), &AppViewModel::locationAuthorizationStatusChanged);
    ASSERT_TRUE(test::pumpUntil([&] { return spy.count() >= 1; })); // the replay of the current value
    location->change(LocationPermissionService::denied);
    ASSERT_TRUE(test::pumpUntil([&] { return vm->locationAuthorizationStatus() == LocationPermissionService::denied; }));
}

TEST_F(AppViewModelTest, EventsAreKeptInMemoryUpTo180AndAllSaved)
{
    auto vm = makeModel();
    QSignalSpy spy(vm.get(), &AppViewModel::eventsChanged);
    for (int i = 0; i < 181; ++i) {
        clockNow += 1;
        vm->recordEvent(DiagnosticEventKind::pathChanged, QStringLiteral("event %1").arg(i));
    }
    EXPECT_EQ(spy.count(), 181);
    ASSERT_EQ(vm->events().size(), 180u);
    EXPECT_EQ(vm->events().front().details, "event 1");
    EXPECT_EQ(vm->events().back().details, "event 180");
    EXPECT_EQ(vm->events().back().timestamp, clockNow);
    ASSERT_TRUE(test::pumpUntil([&] { return awaitOnTestThread(store->recentEvents(500)).size() == 181u; }));
    const auto stored = awaitOnTestThread(store->recentEvents(1));
    EXPECT_EQ(stored.front(), vm->events().back());
}

TEST_F(AppViewModelTest, EventSaveFailureIsDropped)
{
    auto vm = makeModel(std::shared_ptr<SQLiteStore>(SQLiteStore::unavailable("disk gone")));
    vm->recordEvent(DiagnosticEventKind::sleep, "The Mac entered sleep.");
    test::pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(vm->events().size(), 1u);
    EXPECT_FALSE(vm->exportStatusMessage());
}

TEST_F(AppViewModelTest, SessionBeginsAndResets)
{
    auto vm = makeModel();
    const NodeFingerprint node{QString("Otthon"), QString("aa:bb:cc:dd:ee:ff"), 36, QString("5 GHz")};
    vm->beginMeasurementSession(clockNow - 5000, node);
    ASSERT_TRUE(vm->activeMeasurementSession());
    EXPECT_EQ(vm->activeMeasurementSession()->startedAt, clockNow - 5000);
    EXPECT_EQ(vm->activeMeasurementSession()->nodeFingerprint, node);
    EXPECT_EQ(vm->activeMeasurementSession()->resetGeneration, 0);
    EXPECT_EQ(vm->qualityAssessment().availability, QualityAvailability::collecting);
    EXPECT_TRUE(vm->events().empty()); // a begin records nothing by itself

    vm->selectQualityWindow(QualityWindow::oneMinute); // not ready at the moment of the begin
    EXPECT_FALSE(vm->isQualityRefreshRunning());

    const QUuid first = vm->activeMeasurementSession()->id;
    vm->resetQualitySession();
    ASSERT_TRUE(vm->activeMeasurementSession());
    EXPECT_NE(vm->activeMeasurementSession()->id, first);
    EXPECT_EQ(vm->activeMeasurementSession()->startedAt, clockNow);
    EXPECT_EQ(vm->activeMeasurementSession()->resetGeneration, 1);
    EXPECT_FALSE(vm->activeMeasurementSession()->nodeFingerprint);
    EXPECT_EQ(vm->selectedQualityWindow(), QualityWindow::oneMinute);
    ASSERT_EQ(vm->events().size(), 1u);
    EXPECT_EQ(vm->events()[0].kind, DiagnosticEventKind::qualitySessionReset);
    EXPECT_EQ(vm->events()[0].details, "Quality session reset manually on the current network.");
    EXPECT_TRUE(vm->isQualityRefreshRunning());
    settle(*vm);
    vm->resetQualitySession();
    EXPECT_EQ(vm->activeMeasurementSession()->resetGeneration, 2);
    settle(*vm);
}

TEST_F(AppViewModelTest, WindowReadinessFollowsTheSessionAge)
{
    auto vm = makeModel();
    vm->updateQualityWindowReadiness(clockNow);
    EXPECT_FALSE(vm->isWindowReady(QualityWindow::oneMinute)); // no session: nothing is ready

    const Timestamp start = 1000;
    vm->beginMeasurementSession(start, std::nullopt);
    vm->updateQualityWindowReadiness(start + 59);
    for (QualityWindow w : allQualityWindows())
        EXPECT_FALSE(vm->isWindowReady(w));
    vm->updateQualityWindowReadiness(start + 60);
    EXPECT_TRUE(vm->isWindowReady(QualityWindow::oneMinute));
    EXPECT_FALSE(vm->isWindowReady(QualityWindow::tenMinutes));
    vm->updateQualityWindowReadiness(start + 600);
    EXPECT_TRUE(vm->isWindowReady(QualityWindow::tenMinutes));
    EXPECT_FALSE(vm->isWindowReady(QualityWindow::twentyMinutes));
    vm->updateQualityWindowReadiness(start + 86400);
    for (QualityWindow w : allQualityWindows())
        EXPECT_TRUE(vm->isWindowReady(w));
    vm->updateQualityWindowReadiness(start - 10); // a clock moved back counts as 0 s
    EXPECT_FALSE(vm->isWindowReady(QualityWindow::oneMinute));

    // Selecting a window that is not ready changes nothing.
    vm->updateQualityWindowReadiness(start + 60);
    QSignalSpy selected(vm.get(), &AppViewModel::selectedQualityWindowChanged);
    vm->selectQualityWindow(QualityWindow::tenMinutes);
    EXPECT_EQ(vm->selectedQualityWindow(), QualityWindow::oneMinute);
    EXPECT_EQ(selected.count(), 0);
    EXPECT_FALSE(vm->isQualityRefreshRunning());
}

TEST_F(AppViewModelTest, RefreshWithoutSessionBeginsOneAndShowsCollecting)
{
    auto vm = makeModel();
    vm->refreshQualityAssessment(clockNow);
    ASSERT_TRUE(vm->activeMeasurementSession());
    EXPECT_EQ(vm->activeMeasurementSession()->startedAt, clockNow);
    EXPECT_EQ(vm->qualityAssessment().availability, QualityAvailability::collecting);
    settle(*vm);
    // The real evaluator over an empty window: published, nothing failed.
    EXPECT_EQ(vm->qualityAssessment().window, QualityWindow::oneMinute);
    EXPECT_FALSE(vm->exportStatusMessage());
    EXPECT_FALSE(vm->qualityBaseline());
}

TEST_F(AppViewModelTest, TwoQuickRefreshesPublishOnlyTheSecond)
{
    scriptedScores = true;
    auto vm = makeModel();
    vm->beginMeasurementSession(clockNow - 120, std::nullopt);
    QSignalSpy published(vm.get(), &AppViewModel::qualityAssessmentChanged);
    vm->refreshQualityAssessment(clockNow + 1);
    vm->refreshQualityAssessment(clockNow + 2);
    settle(*vm);
    // The selected window was ready, so only the tasks publish: one of them.
    EXPECT_EQ(published.count(), 1);
    EXPECT_EQ(vm->qualityAssessment().windowEndedAt, clockNow + 2);
    EXPECT_EQ(vm->qualityAssessment().title, "rated");
}

TEST_F(AppViewModelTest, BaselineIsLearnedOnceAndReplacedOnlyByAClearlyBetterStretch)
{
    storeMeasuredStretch(*store, clockNow - 700, clockNow + 30);
    scriptedScores = true;
    double score = 8.0;
    tenScore = [&](Timestamp) { return score; };
    auto vm = makeModel();
    vm->beginMeasurementSession(clockNow - 599, std::nullopt);
    vm->refreshQualityAssessment(clockNow); // 599 s: too young for a candidate
    settle(*vm);
    EXPECT_FALSE(vm->qualityBaseline());
    EXPECT_FALSE(awaitOnTestThread(store->loadBaseline()));

    clockNow += 1; // 600 s
    vm->refreshQualityAssessment(clockNow);
    settle(*vm);
    ASSERT_TRUE(vm->qualityBaseline());
    EXPECT_EQ(vm->qualityBaseline()->absoluteScore, 8.0);
    EXPECT_EQ(vm->qualityBaseline()->savedAt, clockNow);
    EXPECT_EQ(vm->qualityBaseline()->sourceEnd, clockNow);
    EXPECT_EQ(vm->qualityBaseline()->sourceStart, clockNow - 600);
    EXPECT_EQ(awaitOnTestThread(store->loadBaseline()), vm->qualityBaseline());
    EXPECT_EQ(eventCount(*vm, DiagnosticEventKind::qualityBaselineUpdated), 1);
    EXPECT_EQ(vm->events().back().details,
              "Saved a new 10/10 reference baseline on the current network.")
        << "a session without a Wi-Fi reading";
    // The selected window was rated against the new baseline.
    ASSERT_TRUE(evaluations.back().baseline);
    EXPECT_EQ(evaluations.back().baseline->absoluteScore, 8.0);

    const Timestamp firstSave = clockNow;
    score = 8.05;
    clockNow += 10;
    vm->refreshQualityAssessment(clockNow);
    settle(*vm);
    EXPECT_EQ(vm->qualityBaseline()->savedAt, firstSave);
    EXPECT_EQ(awaitOnTestThread(store->loadBaseline())->absoluteScore, 8.0);
    EXPECT_EQ(eventCount(*vm, DiagnosticEventKind::qualityBaselineUpdated), 1);

    score = 8.06;
    clockNow += 10;
    vm->refreshQualityAssessment(clockNow);
    settle(*vm);
    EXPECT_EQ(vm->qualityBaseline()->absoluteScore, 8.06);
    EXPECT_EQ(vm->qualityBaseline()->savedAt, clockNow);
    EXPECT_EQ(awaitOnTestThread(store->loadBaseline())->absoluteScore, 8.06);
    EXPECT_EQ(eventCount(*vm, DiagnosticEventKind::qualityBaselineUpdated), 2);
}

TEST_F(AppViewModelTest, AWindowThatWasNotMeasuredGivesNoBaselineCandidate)
{
    storeMeasuredStretch(*store, clockNow - 200, clockNow); // a third of the ten minutes
    scriptedScores = true;
    tenScore = [](Timestamp) { return 10.0; };
    auto vm = makeModel();
    vm->beginMeasurementSession(clockNow - 3600, std::nullopt);
    vm->refreshQualityAssessment(clockNow);
    settle(*vm);
    EXPECT_FALSE(vm->qualityBaseline());
    EXPECT_FALSE(awaitOnTestThread(store->loadBaseline()));
}

TEST(BaselineWindowTest, OnlyBatchesThatCoverHalfTheWindowMakeItMeasured)
{
    const auto at = [](std::initializer_list<Timestamp> times) {
        std::vector<NetworkSample> out;
        for (Timestamp t : times) {
            NetworkSample s;
            s.timestamp = t;
            out.push_back(s);
        }
        return out;
    };
    std::vector<Timestamp> every5;
    for (Timestamp t = 0; t <= 300; t += 5)
        every5.push_back(t);
    std::vector<NetworkSample> half;
    for (Timestamp t : every5)
        half.push_back(at({t})[0]);
    std::vector<NetworkSample> sparse; // one batch a minute: gaps too long to count
    for (Timestamp t = 0; t <= 600; t += 60)
        sparse.push_back(at({t})[0]);
    EXPECT_TRUE(BaselineKeeper::isMeasuredWindow(half, 0, 600));
    EXPECT_FALSE(BaselineKeeper::isMeasuredWindow(half, 0, 601));
    EXPECT_FALSE(BaselineKeeper::isMeasuredWindow(sparse, 0, 600));
    EXPECT_FALSE(BaselineKeeper::isMeasuredWindow(at({599}), 0, 600)) << "one sample";
    EXPECT_FALSE(BaselineKeeper::isMeasuredWindow(half, 600, 600)) << "an empty window";
}

TEST_F(AppViewModelTest, ABetterStoredBaselineIsNeverOverwritten)
{
    storeMeasuredStretch(*store, clockNow - 700, clockNow + 30);
    // Saved by an earlier run (or a refresh that was cancelled), not yet published here.
    QualityBaseline better;
    better.savedAt = 1'600'000'000;
    better.absoluteScore = 9.0;
    better.assessment = scripted(QualityWindow::tenMinutes, better.savedAt, 9.0);
    awaitOnTestThread(store->saveBaseline(better));

    scriptedScores = true;
    tenScore = [](Timestamp) { return 8.5; };
    auto vm = makeModel();
    vm->beginMeasurementSession(clockNow - 3600, std::nullopt);
    vm->refreshQualityAssessment(clockNow);
    settle(*vm);
    EXPECT_EQ(awaitOnTestThread(store->loadBaseline()), better);
    ASSERT_TRUE(vm->qualityBaseline());
    EXPECT_EQ(*vm->qualityBaseline(), better); // the stored one is the reference from now on
    ASSERT_TRUE(evaluations.back().baseline);
    EXPECT_EQ(evaluations.back().baseline->absoluteScore, 9.0);
}

TEST_F(AppViewModelTest, ACancelledRefreshSavesNoBaseline)
{
    storeMeasuredStretch(*store, clockNow - 700, clockNow + 30);
    scriptedScores = true;
    // The first request would learn a 9.5, the second only a 7.0.
    tenScore = [&](Timestamp reference) { return reference == clockNow + 1 ? 9.5 : 7.0; };
    auto vm = makeModel();
    vm->beginMeasurementSession(clockNow - 3600, std::nullopt);
    vm->refreshQualityAssessment(clockNow + 1);
    vm->refreshQualityAssessment(clockNow + 2);
    settle(*vm);
    const auto stored = awaitOnTestThread(store->loadBaseline());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->absoluteScore, 7.0);
    EXPECT_EQ(vm->qualityBaseline(), stored);
    EXPECT_EQ(eventCount(*vm, DiagnosticEventKind::qualityBaselineUpdated), 1);
}

TEST_F(AppViewModelTest, ClearingTheBaselineDeletesItAndRefreshes)
{
    storeMeasuredStretch(*store, clockNow - 700, clockNow + 30);
    scriptedScores = true;
    auto vm = makeModel();
    vm->beginMeasurementSession(clockNow - 3600, std::nullopt);
    vm->refreshQualityAssessment(clockNow);
    settle(*vm);
    ASSERT_TRUE(vm->qualityBaseline());

    tenScore = [](Timestamp) { return 1.0; };
    vm->clearQualityBaseline();
    ASSERT_TRUE(test::pumpUntil([&] { return eventCount(*vm, DiagnosticEventKind::qualityBaselineCleared) == 1; }));
    EXPECT_EQ(vm->events().back().details, "Cleared the saved 10/10 reference baseline.");
    EXPECT_FALSE(vm->qualityBaseline());
    EXPECT_TRUE(vm->isQualityRefreshRunning());
    settle(*vm);
    // The refresh after the clear learns the current stretch afresh, however modest.
    ASSERT_TRUE(vm->qualityBaseline());
    EXPECT_EQ(vm->qualityBaseline()->absoluteScore, 1.0);
}

TEST_F(AppViewModelTest, StoreFailuresBecomeStatusMessages)
{
    // The user reads the cause in Hungarian; the store's own text goes to the log.
    auto vm = makeModel(std::shared_ptr<SQLiteStore>(SQLiteStore::unavailable("attempt to write a readonly database")));
    const QString cause = failureSentence(FailureCause::readOnly);
    vm->refreshQualityAssessment(clockNow);
    settle(*vm);
    ASSERT_TRUE(vm->exportStatusMessage());
    EXPECT_EQ(vm->exportStatusMessage(), "A minőségi panel frissítése nem sikerült: " + cause);
    EXPECT_EQ(vm->qualityAssessment().availability, QualityAvailability::collecting); // the collecting one stays

    vm->clearQualityBaseline();
    ASSERT_TRUE(test::pumpUntil([&] {
        return vm->exportStatusMessage() == "A referenciaablak törlése nem sikerült: " + cause;
    }));
    EXPECT_EQ(eventCount(*vm, DiagnosticEventKind::qualityBaselineCleared), 0);
}

TEST_F(AppViewModelTest, DestroyingTheModelWithARefreshInFlightIsSafe)
{
    scriptedScores = true;
    auto vm = makeModel();
    vm->beginMeasurementSession(clockNow - 3600, std::nullopt);
    vm->refreshQualityAssessment(clockNow);
    vm->clearQualityBaseline();
    vm.reset();
    test::pumpUntil([] { return false; }, std::chrono::milliseconds(100));
    SUCCEED();
}

TEST_F(AppViewModelTest, BaselineWritesNeverInterleave)
{
    BaselineKeeper keeper(store);
    QualityBaseline candidate;
    candidate.savedAt = 5;
    candidate.absoluteScore = 6.0;
    int finished = 0;
    // A save (read, compare, write) and a delete requested at once: the delete must not slip in
    // between the save's read and its write, so the user's clear wins.
    asio::co_spawn(
        rt::QtExecutor(),
        [&]() -> rt::awaitable<void> {
            const auto outcome = co_await keeper.saveIfBetter(candidate);
            EXPECT_TRUE(outcome.saved);
            ++finished;
        },
        asio::detached);
    asio::co_spawn(
        rt::QtExecutor(),
        [&]() -> rt::awaitable<void> {
            co_await keeper.remove();
            ++finished;
        },
        asio::detached);
    ASSERT_TRUE(test::pumpUntil([&] { return finished == 2; }));
    EXPECT_FALSE(awaitOnTestThread(store->loadBaseline()));

    EXPECT_TRUE(BaselineKeeper::beats(0.1, std::nullopt));
    QualityBaseline stored;
    stored.absoluteScore = 0.7;
    EXPECT_FALSE(BaselineKeeper::beats(0.75, stored));
    EXPECT_TRUE(BaselineKeeper::beats(0.76, stored));
}
