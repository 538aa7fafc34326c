// The load-test service with fake echo and load sources and short phases, and its pure helpers
// (summary, loaded window, grade).

#include "core/app/AppViewModel.h"
#include "core/records/Localization.h"
#include "core/store/SQLiteStore.h"
#include "loadtest/LoadTestService.h"
#include "loadtest/LoadTestView.h"
#include "loadtest/LoadTestViewModel.h"
#include "tests/loadtest/FailingEndpoint.h"
#include "tests/probes/DnsHttpTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

namespace pv {
namespace {

using namespace std::chrono_literals;

TimedEcho echo(double offset, std::optional<double> rtt) { return TimedEcho{offset, rtt}; }

// --- pure helpers ----------------------------------------------------------------------------------
TEST(LoadTestSummaryTest, PercentilesLossAndCountOfAWindow)
{
    // 10 answered of 12: p50 is the 6th smallest (index 5), p95 index min(9, floor(9.5)) = the largest.
    std::vector<TimedEcho> echoes;
    for (int i = 0; i < 10; ++i)
        echoes.push_back(echo(i * 0.1, 100.0 - i)); // 100, 99, ... 91 (unsorted on purpose)
    echoes.push_back(echo(1.0, std::nullopt));
    echoes.push_back(echo(1.1, std::nullopt));
    const LatencySummary s = summarise(echoes);
    EXPECT_EQ(s.p50, 96.0);
    EXPECT_EQ(s.p95, 100.0);
    EXPECT_EQ(s.sampleCount, 12);
    EXPECT_DOUBLE_EQ(s.lossRatio, 2.0 / 12.0);

    // Two answered: the upper middle value is the median.
    EXPECT_EQ(summarise({echo(0, 10.0), echo(0.1, 20.0)}).p50, 20.0);
    EXPECT_EQ(summarise({}), LatencySummary{});
    const LatencySummary lost = summarise({echo(0, std::nullopt), echo(0.1, std::nullopt)});
    EXPECT_FALSE(lost.p50);
    EXPECT_FALSE(lost.p95);
    EXPECT_EQ(lost.lossRatio, 1.0);
}

TEST(LoadTestSummaryTest, LoadedWindowKeepsBothBoundsAndNothingAfterAnEarlyEnd)
{
    const std::vector<TimedEcho> trace{echo(3.99, 1.0), echo(4.0, 2.0), echo(7.5, 3.0), echo(7.51, 4.0)};
    const struct {
        double loadEndedAt;
        std::vector<double> kept;
    } cases[] = {{12.0, {2.0, 3.0, 4.0}}, {7.5, {2.0, 3.0}}, {3.5, {}}, {4.0, {2.0}}};
    for (const auto& c : cases) {
        std::vector<double> kept;
        for (const TimedEcho& e : loadedWindow(trace, c.loadEndedAt))
            kept.push_back(*e.rttMilliseconds);
        EXPECT_EQ(kept, c.kept) << "load ended at " << c.loadEndedAt;
    }
    EXPECT_EQ(summarise(loadedWindow(trace, 3.5)).sampleCount, 0);
}

TEST(LoadTestGradeTest, ThresholdsAreStrictAndUnmeasurableIncreasesAreExcellent)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double loaded;
        BufferbloatGrade grade;
    } cases[] = {{49.9, BufferbloatGrade::excellent}, {50, BufferbloatGrade::good},    {119.9, BufferbloatGrade::good},
                 {120, BufferbloatGrade::fair},       {270, BufferbloatGrade::poor},    {619.9, BufferbloatGrade::poor},
                 {620, BufferbloatGrade::severe},     {nan, BufferbloatGrade::excellent}, {5, BufferbloatGrade::excellent}};
    for (const auto& c : cases)
        EXPECT_EQ(gradeFor(20, c.loaded), c.grade) << "loaded p95 " << c.loaded;
    EXPECT_EQ(gradeTitle(BufferbloatGrade::severe), QStringLiteral("Súlyos"));
}

TEST(LoadTestGradeTest, ALoadedWindowThatLostEveryEchoIsSevereWithoutAFigure)
{
    LoadTestResult r;
    r.idle = LatencySummary{20.0, 25.0, 50, 0};
    r.underDownload = LatencySummary{30.0, 35.0, 80, 0};
    r.underUpload = LatencySummary{std::nullopt, std::nullopt, 80, 1.0};
    EXPECT_EQ(r.grade(), BufferbloatGrade::severe);
    EXPECT_FALSE(r.latencyIncreaseMilliseconds());

    // An empty window (an early end before 4 s) sent nothing: it does not count against the line.
    r.underUpload = LatencySummary{};
    EXPECT_EQ(r.grade(), BufferbloatGrade::excellent);
    EXPECT_EQ(r.latencyIncreaseMilliseconds(), 15.0);
}

TEST(LoadTestMarkerTest, TheMarkerSaysWhatWasNotMeasuredAndNeverAnIncreaseOfNothing)
{
    const auto result = [](LatencySummary down, LatencySummary up) {
        LoadTestResult r;
        r.idle = LatencySummary{20.0, 22.0, 50, 0};
        r.underDownload = down;
        r.underUpload = up;
        r.download = LoadPhaseResult{15'000'000, 12.0, LoadStopReason::durationReached, {}, 12.0};
        r.upload = LoadPhaseResult{6'000'000, 12.0, LoadStopReason::durationReached, {}, 12.0};
        return r;
    };
    const LatencySummary measured{60.0, 80.0, 80, 0};
    const LatencySummary allLost{std::nullopt, std::nullopt, 80, 1.0};
    const LatencySummary notMeasured{}; // the byte cap ended the load before the window opened
    const auto withUpload = [](LoadTestResult r, LoadStopReason reason, double endedAt,
                               std::vector<LoadStandstill> pauses) {
        r.upload.stoppedReason = reason;
        r.upload.loadEndedAtSeconds = endedAt;
        r.upload.pauses = std::move(pauses);
        return r;
    };
    const struct {
        LoadTestResult result;
        QString marker;
    } cases[] = {
        {result(measured, measured), "Terhelési teszt: 10 Mbps le / 4 Mbps fel, a késleltetés 60 ms-mal nőtt (Jó)."},
        {result(measured, allLost), "Terhelési teszt: 10 Mbps le / 4 Mbps fel, terhelés alatt egyetlen "
                                    "késleltetésmérésre sem jött válasz (Súlyos)."},
        {result(measured, notMeasured), "Terhelési teszt: 10 Mbps le / 4 Mbps fel, a késleltetés 60 ms-mal nőtt (Jó). "
                                        "A feltöltés alatt a késleltetés nem volt mérhető."},
        {result(notMeasured, allLost), "Terhelési teszt: 10 Mbps le / 4 Mbps fel, terhelés alatt egyetlen "
                                       "késleltetésmérésre sem jött válasz (Súlyos). A letöltés alatt a késleltetés "
                                       "nem volt mérhető."},
        {withUpload(result(measured, notMeasured), LoadStopReason::failed, 1.0, {}),
         "Terhelési teszt: 10 Mbps le / 48 Mbps fel, a késleltetés 60 ms-mal nőtt (Jó). A feltöltés az első 1 "
         "másodperc után elakadt: a 48 Mbps az addigi sebesség, a késleltetés nem volt mérhető."},
        {withUpload(result(measured, measured), LoadStopReason::durationReached, 12.0, {{2.0, 4.5}, {6.0, 6.5}}),
         "Terhelési teszt: 10 Mbps le / 5 Mbps fel, a késleltetés 60 ms-mal nőtt (Jó). A feltöltés közben a terhelés 2 "
         "alkalommal, összesen 3.0 másodpercre megállt, majd folytatódott; a számai a terhelt másodpercekből valók."},
        {withUpload(result(measured, notMeasured), LoadStopReason::durationReached, 12.0, {{1.0, 11.5}}),
         "Terhelési teszt: 10 Mbps le / 32 Mbps fel, a késleltetés 60 ms-mal nőtt (Jó). A feltöltés közben a terhelés "
         "10.5 másodpercre megállt, a késleltetés nem volt mérhető."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(loadTestMarkerText(c.result), c.marker);
}

// An upload that flowed at 48 Mbit/s and then stopped, paused, or ran to its end: the tile, the stored
// row and the marker give the same figure, the rate while the load flowed, never bytes over the phase.
TEST(LoadTestFiguresTest, TheTileTheStoredRowAndTheMarkerShowTheRateWhileTheLoadFlowed)
{
    const auto upload = [](std::int64_t bytes, LoadStopReason reason, double endedAt, std::vector<LoadStandstill> pauses) {
        LoadPhaseResult p{bytes, 12.0, reason, {}, endedAt};
        p.pauses = std::move(pauses);
        return p;
    };
    const struct {
        const char* name;
        LoadPhaseResult upload;
        double mbps;
        QString caption;
    } cases[] = {
        {"flowed", upload(72'000'000, LoadStopReason::durationReached, 12.0, {}), 48.0,
         QStringLiteral("Amit felfelé bír — hívásnál ez a fontosabb")},
        {"stopped after 6 s", upload(36'000'000, LoadStopReason::failed, 6.0, {}), 48.0,
         QStringLiteral("Amíg folyt: az első 6 másodpercben, utána elakadt")},
        {"stopped after 1.5 s, said to a tenth", upload(9'000'000, LoadStopReason::failed, 1.5, {}), 48.0,
         QStringLiteral("Amíg folyt: az első 1.5 másodpercben, utána elakadt")},
        // The server stopped reading: its bodies in flight fell back to nothing, what flowed stays.
        {"stopped, nothing confirmed", [&] {
             LoadPhaseResult p = upload(0, LoadStopReason::failed, 6.0, {});
             p.peakBytes = 36'000'000;
             return p;
         }(), 48.0, QStringLiteral("Amíg folyt: az első 6 másodpercben, utána elakadt")},
        {"paused for 2.5 s", upload(57'000'000, LoadStopReason::durationReached, 12.0, {{5.5, 8.0}}), 48.0,
         QStringLiteral("A terhelés 2.5 másodpercre megállt, a szünet nélkül számolva")},
        // A byte cap ends the load, not the line: its bytes count over the whole phase.
        {"byte cap after 5 s", upload(30'000'000, LoadStopReason::byteCapReached, 5.0, {}), 20.0,
         QStringLiteral("Amit felfelé bír — hívásnál ez a fontosabb")},
    };
    rt::NetworkRuntime net;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoadTestResult r;
        r.startedAt = 1700000000;
        r.idle = LatencySummary{20.0, 22.0, 50, 0};
        r.underDownload = LatencySummary{60.0, 80.0, 80, 0};
        r.download = LoadPhaseResult{15'000'000, 12.0, LoadStopReason::durationReached, {}, 12.0};
        r.upload = c.upload;
        r.underUpload = LatencySummary{300.0, 322.0, 6, 0}; // too few echoes to grade
        const SpeedTileText tile = speedTileText(r.upload, LoadDirection::upload);
        EXPECT_EQ(tile, (SpeedTileText{formatFixed(c.mbps, 0), c.caption}));
        auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
        ASSERT_TRUE(test::runOn(net, store->insertLoadTest(r)));
        const auto stored = test::runOn(net, store->latestLoadTest());
        ASSERT_TRUE(stored && *stored);
        EXPECT_NEAR((*stored)->uploadMbps, c.mbps, 1e-9);
        EXPECT_FALSE((*stored)->loadedUpP95) << "no loaded figure for a direction the screen calls unmeasured";
        const QString marker = loadTestMarkerText(r);
        EXPECT_TRUE(marker.startsWith(LF("Terhelési teszt: 10 Mbps le / %.0f Mbps fel,", {c.mbps})))
            << marker.toStdString();
    }
}

TEST(LoadTestStoreTest, TheNewestStoredTestComesBackWithItsFigures)
{
    rt::NetworkRuntime net;
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    const auto none = test::runOn(net, store->latestLoadTest());
    ASSERT_TRUE(none);
    EXPECT_FALSE(*none) << "nothing stored yet";
    LoadTestResult newer;
    newer.startedAt = 1700000200;
    newer.idle = LatencySummary{20.0, 22.0, 50, 0};
    newer.underDownload = LatencySummary{200.0, 290.0, 80, 0};
    newer.underUpload = LatencySummary{std::nullopt, std::nullopt, 80, 1.0}; // lost everything: severe
    newer.download = LoadPhaseResult{60'000'000, 12.0, LoadStopReason::durationReached, {}, 12.0};
    LoadTestResult older;
    older.startedAt = 1700000100;
    ASSERT_TRUE(test::runOn(net, store->insertLoadTest(newer)));
    ASSERT_TRUE(test::runOn(net, store->insertLoadTest(older)));
    const auto latest = test::runOn(net, store->latestLoadTest());
    ASSERT_TRUE(latest && *latest);
    EXPECT_EQ(**latest, StoredLoadTest::of(newer));
    EXPECT_EQ((*latest)->grade, BufferbloatGrade::severe);
    EXPECT_FALSE((*latest)->loadedUpP95);
    EXPECT_FALSE((*latest)->latencyIncreaseMilliseconds);
}

// --- the service with fakes ------------------------------------------------------------------------
struct Journal {
    std::mutex mutex;
    std::vector<std::string> lines;
    void add(std::string line)
    {
        std::lock_guard lock(mutex);
        lines.push_back(std::move(line));
    }
    std::vector<std::string> all()
    {
        std::lock_guard lock(mutex);
        return lines;
    }
};

// Round trip of an echo: by trace (0 baseline, 1 download, 2 rest, 3 upload) and offset.
using RttScript = std::function<std::optional<double>(int trace, double offset)>;

class FakeEchoSource : public EchoSource {
public:
    FakeEchoSource(asio::any_io_executor io, int id, std::shared_ptr<Journal> journal, RttScript script, bool failStart)
        : io_(io), id_(id), journal_(std::move(journal)), script_(std::move(script)), failStart_(failStart)
    {
    }
    rt::awaitable<void> start(std::optional<QString> iface) override
    {
        journal_->add("start#" + std::to_string(id_) + " " + iface.value_or(QStringLiteral("-")).toStdString());
        if (failStart_)
            throw std::runtime_error("socket failed");
        open_ = true;
        co_return;
    }
    rt::awaitable<std::vector<TimedEcho>> measureContinuous(QString host, Nanoseconds duration, Nanoseconds interval,
                                                            Nanoseconds) override
    {
        const int trace = traces_++;
        journal_->add("trace#" + std::to_string(id_) + " " + host.toStdString());
        const auto start = std::chrono::steady_clock::now();
        std::vector<TimedEcho> echoes;
        while (open_ && std::chrono::steady_clock::now() - start < duration && !(co_await rt::isCancelled())) {
            const double offset = test::secondsSince(start);
            echoes.push_back(TimedEcho{offset, script_(trace, offset)});
            co_await rt::sleepFor(io_, interval);
        }
        co_return echoes;
    }
    rt::awaitable<void> stop() override
    {
        journal_->add("stop#" + std::to_string(id_));
        open_ = false;
        co_return;
    }

private:
    asio::any_io_executor io_;
    int id_;
    std::shared_ptr<Journal> journal_;
    RttScript script_;
    bool failStart_;
    bool open_ = false;
    int traces_ = 0;
};

// Lasts the configured duration (or until stopped), moves a steady megabyte a second and reports the
// scripted early end of each direction.
class FakeLoadSource : public LoadSource {
public:
    FakeLoadSource(asio::any_io_executor io, std::shared_ptr<Journal> journal) : io_(io), journal_(std::move(journal)) {}
    rt::awaitable<LoadPhaseResult> runDownload(Configuration c, LoadStopFlag stop) override
    {
        return phase("download", c, stop);
    }
    rt::awaitable<LoadPhaseResult> runUpload(Configuration c, LoadStopFlag stop) override
    {
        return phase("upload", c, stop);
    }
    void cancel() override { cancelled_ = true; }

    std::optional<double> earlyEnd;       // both directions
    std::optional<double> uploadEarlyEnd; // the upload only
    std::map<std::string, std::vector<double>> samples; // per direction; default one second of 8 Mbit/s

private:
    rt::awaitable<LoadPhaseResult> phase(std::string name, Configuration c, LoadStopFlag stop)
    {
        journal_->add(name);
        cancelled_ = false;
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < c.maxDuration && !cancelled_ && !(stop && *stop))
            co_await rt::sleepFor(io_, 2ms);
        LoadPhaseResult r;
        r.durationSeconds = test::secondsSince(start);
        r.bytesTransferred = 1'000'000;
        r.perSecondMbps = samples.count(name) ? samples.at(name) : std::vector<double>{8.0};
        if (samples.count(name)) // as long as the scripted samples say
            r.durationSeconds = static_cast<double>(r.perSecondMbps.size());
        r.requestsAnswered = 1;
        const std::optional<double> end = name == "upload" && uploadEarlyEnd ? uploadEarlyEnd : earlyEnd;
        r.stoppedReason = end ? LoadStopReason::byteCapReached : LoadStopReason::durationReached;
        r.loadEndedAtSeconds = end.value_or(r.durationSeconds);
        co_return r;
    }
    asio::any_io_executor io_;
    std::shared_ptr<Journal> journal_;
    std::atomic<bool> cancelled_{false};
};

class LoadTestServiceTest : public ::testing::Test {
protected:
    // Baseline 0.2 s, loaded traces 0.4 s (windows from 0.1 s), rest 0.1 s, an echo every 10 ms.
    LoadTestService::Timing timing()
    {
        LoadTestService::Timing t;
        t.baseline = 200ms;
        t.loadTrace = 400ms;
        t.rest = 100ms;
        t.interval = 10ms;
        t.replyGrace = 0ms;
        t.windowStart = 0.1;
        t.load.maxDuration = 400ms;
        return t;
    }

    std::shared_ptr<LoadTestService> makeService(QStringList hosts = {QStringLiteral("10.79.0.1")}, bool failStart = false)
    {
        MeasurementProfile profile = MeasurementProfile::defaultProfile();
        profile.publicProbeHosts = hosts;
        auto io = net.executor();
        auto journal = this->journal;
        auto factory = [io, journal, failStart, script = script, n = std::make_shared<int>(0)] {
            return std::make_shared<FakeEchoSource>(io, ++*n, journal, script, failStart);
        };
        load = std::make_shared<FakeLoadSource>(io, journal);
        return LoadTestService::create(io, profile, factory, load, timing());
    }

    std::vector<LoadTestPhase> phases()
    {
        std::lock_guard lock(phaseMutex);
        return reported;
    }
    std::function<void(LoadTestPhase)> recorder()
    {
        return [this](LoadTestPhase p) {
            std::lock_guard lock(phaseMutex);
            reported.push_back(p);
        };
    }

    rt::NetworkRuntime net;
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<FakeLoadSource> load;
    // Idle 20 ms; 200 ms under download; 60 ms under upload.
    RttScript script = [](int trace, double) -> std::optional<double> {
        return trace == 1 ? 200.0 : trace == 3 ? 60.0 : 20.0;
    };
    std::mutex phaseMutex;
    std::vector<LoadTestPhase> reported;
};

TEST_F(LoadTestServiceTest, AWholeRunReportsItsPhasesInOrderAndGradesTheWorseDirection)
{
    auto service = makeService();
    const auto result = test::runOn(net, service->run(QStringLiteral("lan0"), recorder()));
    ASSERT_TRUE(result && *result);
    const LoadTestResult& r = **result;
    EXPECT_EQ(phases(), (std::vector<LoadTestPhase>{LoadTestPhase::baseline, LoadTestPhase::download,
                                                    LoadTestPhase::restAfterDownload, LoadTestPhase::upload,
                                                    LoadTestPhase::finished}));
    EXPECT_EQ(r.idle.p50, 20.0);
    EXPECT_EQ(r.underDownload.p95, 200.0);
    EXPECT_EQ(r.underUpload.p95, 60.0);
    EXPECT_EQ(r.latencyIncreaseMilliseconds(), 180.0);
    EXPECT_EQ(r.grade(), BufferbloatGrade::fair);
    EXPECT_GT(r.startedAt, 1.7e9);
    // The windows drop the first 0.1 s of each trace; the traces themselves are kept whole.
    EXPECT_LT(r.underDownload.sampleCount, static_cast<int>(r.downloadTrace.size()));
    EXPECT_GT(r.underDownload.sampleCount, 0);
    EXPECT_EQ(journal->all(), (std::vector<std::string>{"start#1 lan0", "trace#1 10.79.0.1", "trace#1 10.79.0.1",
                                                        "download", "trace#1 10.79.0.1", "trace#1 10.79.0.1",
                                                        "upload", "stop#1"}));
}

TEST_F(LoadTestServiceTest, AnEmptyHostListFallsBackToTheDefaultHost)
{
    auto service = makeService({});
    EXPECT_EQ(service->host(), QStringLiteral("1.1.1.1"));
    ASSERT_TRUE(test::runOn(net, service->run(std::nullopt, {})));
    EXPECT_EQ(journal->all().at(1), "trace#1 1.1.1.1");
}

TEST_F(LoadTestServiceTest, AnEarlyEndOfOneDirectionLeavesItUngradedAndTheOtherGrades)
{
    auto service = makeService();
    load->uploadEarlyEnd = 0.05; // before the window opens at 0.1 s
    const auto result = test::runOn(net, service->run(std::nullopt, {}));
    ASSERT_TRUE(result && *result);
    const LoadTestResult& r = **result;
    EXPECT_EQ(r.underUpload, LatencySummary{});
    EXPECT_FALSE(r.isUploadGraded());
    ASSERT_TRUE(r.isDownloadGraded());
    EXPECT_EQ(r.latencyIncreaseMilliseconds(), 180.0) << "from the download alone";
    EXPECT_EQ(r.grade(), BufferbloatGrade::fair);

    // What is stored and marked carries the download's grade and says what was not measured.
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    ASSERT_TRUE(test::runOn(net, store->insertLoadTest(r)));
    const auto stored = test::runOn(net, store->latestLoadTest());
    ASSERT_TRUE(stored && *stored);
    EXPECT_EQ((*stored)->grade, BufferbloatGrade::fair);
    EXPECT_FALSE((*stored)->loadedUpP95);
    EXPECT_EQ((*stored)->latencyIncreaseMilliseconds, 180.0);
}

TEST_F(LoadTestServiceTest, AByteCapBeforeEitherWindowFailsTheRunInsteadOfGradingNoEchoes)
{
    auto service = makeService();
    load->earlyEnd = 0.05;
    try {
        test::runOn(net, service->run(std::nullopt, recorder()));
        ADD_FAILURE() << "a test without a loaded echo must not give a grade";
    } catch (const LoadTestError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("túl hamar véget ért"))) << e.message().toStdString();
    }
    EXPECT_EQ(phases().back(), LoadTestPhase::upload) << "never reported as finished";
    EXPECT_EQ(journal->all().back(), "stop#1");
}

// The fake phases last 0.4 s; their per-second samples are scripted as if they had lasted 5 s.
TEST_F(LoadTestServiceTest, AStoppedDirectionIsCutAndUngradedAPausedOrSlowedOneGradedAndBothStoppedFailTheRun)
{
    const std::vector<double> flowing{40, 40, 40, 40, 40};
    const std::vector<double> stopped{40, 10, 0, 0, 0};
    const std::vector<double> paused{40, 20, 0, 0, 40};
    const std::vector<double> slowed{40, 1.5, 1.1, 3, 3};
    const QString stoppedCause = QStringLiteral("A terhelés elakadt");
    const struct {
        const char* name;
        std::vector<double> download, upload;
        bool downloadGraded, uploadGraded;
        std::vector<LoadStandstill> uploadPauses;
        QString marker; // empty: the run fails with the stopped load as its cause
        double cutAt = 1.25;
    } cases[] = {
        {"download stopped", stopped, flowing, false, true, {},
         "Terhelési teszt: 96 Mbps le / 4 Mbps fel, a késleltetés 40 ms-mal nőtt (Jó). A letöltés az első 1.2 másodperc "
         "után elakadt: a 96 Mbps az addigi sebesség, a késleltetés nem volt mérhető."},
        {"upload stopped", flowing, stopped, true, false, {},
         "Terhelési teszt: 10 Mbps le / 38 Mbps fel, a késleltetés 180 ms-mal nőtt (Közepes). A feltöltés az első 1.2 "
         "másodperc után elakadt: a 38 Mbps az addigi sebesség, a késleltetés nem volt mérhető."},
        {"upload paused", flowing, paused, true, true, {{1.5, 4.0}},
         "Terhelési teszt: 10 Mbps le / 5 Mbps fel, a késleltetés 180 ms-mal nőtt (Közepes). A feltöltés közben a "
         "terhelés 2.5 másodpercre megállt, majd folytatódott; a számai a terhelt másodpercekből valók."},
        {"upload slowed down", flowing, slowed, true, true, {},
         "Terhelési teszt: 10 Mbps le / 4 Mbps fel, a késleltetés 180 ms-mal nőtt (Közepes)."},
        {"download stopped in its last second", {40, 40, 40, 20, 0}, flowing, false, true, {},
         "Terhelési teszt: 34 Mbps le / 4 Mbps fel, a késleltetés 40 ms-mal nőtt (Jó). A letöltés az első 3.5 másodperc "
         "után elakadt: a 34 Mbps az addigi sebesség, a késleltetés nem volt mérhető.", 3.5},
        {"both stopped", stopped, stopped, false, false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto service = makeService();
        load->samples = {{"download", c.download}, {"upload", c.upload}};
        if (c.marker.isEmpty()) {
            try {
                test::runOn(net, service->run(std::nullopt, {}));
                ADD_FAILURE() << "a run whose load stopped in both directions must not give a grade";
            } catch (const LoadTestError& e) {
                EXPECT_TRUE(e.message().startsWith(stoppedCause)) << e.message().toStdString();
            }
            continue;
        }
        const auto result = test::runOn(net, service->run(std::nullopt, {}));
        ASSERT_TRUE(result && *result);
        LoadTestResult r = **result;
        EXPECT_EQ(r.isDownloadGraded(), c.downloadGraded);
        EXPECT_EQ(r.isUploadGraded(), c.uploadGraded);
        EXPECT_EQ(r.upload.pauses, c.uploadPauses);
        if (!c.downloadGraded || !c.uploadGraded) {
            const LoadPhaseResult& stalled = c.downloadGraded ? r.upload : r.download;
            EXPECT_EQ(stalled.stoppedReason, LoadStopReason::failed);
            EXPECT_EQ(stalled.loadEndedAtSeconds, c.cutAt) << "cut where the load stopped";
        }
        // The marker's figures come from fixed phases: 15 MB and 6 MB in 12 s.
        r.download.bytesTransferred = 15'000'000;
        r.upload.bytesTransferred = 6'000'000;
        r.download.durationSeconds = r.upload.durationSeconds = 12.0;
        r.underUpload.p95 = r.isUploadGraded() ? std::optional<double>(60.0) : std::nullopt;
        EXPECT_EQ(loadTestMarkerText(r), c.marker);
    }
}

TEST_F(LoadTestServiceTest, AProbeStartFailureIsThrownBeforeAnyPhase)
{
    auto service = makeService({QStringLiteral("10.79.0.1")}, true);
    EXPECT_THROW(test::runOn(net, service->run(std::nullopt, recorder())), std::runtime_error);
    EXPECT_TRUE(phases().empty());
    EXPECT_EQ(journal->all(), (std::vector<std::string>{"start#1 -", "stop#1"}));
}

TEST_F(LoadTestServiceTest, ABaselineWithoutAnyAnswerFailsWithoutLoadingTheLine)
{
    script = [](int trace, double) -> std::optional<double> {
        if (trace == 0)
            return std::nullopt;
        return 20.0;
    };
    auto service = makeService();
    try {
        test::runOn(net, service->run(std::nullopt, recorder()));
        ADD_FAILURE() << "an unmeasurable baseline must not give a result";
    } catch (const LoadTestError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("nem mérhető")));
    }
    EXPECT_EQ(phases(), std::vector<LoadTestPhase>{LoadTestPhase::baseline});
    EXPECT_EQ(journal->all().back(), "stop#1");
    for (const auto& line : journal->all())
        EXPECT_NE(line, "download");
}

TEST_F(LoadTestServiceTest, ADirectionThatLostEveryEchoIsGradedSevere)
{
    script = [](int trace, double) -> std::optional<double> {
        if (trace == 3)
            return std::nullopt;
        return 20.0;
    };
    auto service = makeService();
    const auto result = test::runOn(net, service->run(std::nullopt, {}));
    ASSERT_TRUE(result && *result);
    EXPECT_GT((*result)->underUpload.sampleCount, 0);
    EXPECT_EQ((*result)->underUpload.lossRatio, 1.0);
    EXPECT_EQ((*result)->grade(), BufferbloatGrade::severe);
    EXPECT_FALSE((*result)->latencyIncreaseMilliseconds());
}

TEST_F(LoadTestServiceTest, CancelDuringTheDownloadEndsTheRunPromptlyWithNothingPublished)
{
    auto service = makeService();
    auto run = asio::co_spawn(net.executor(), service->run(std::nullopt, recorder()), asio::use_future);
    ASSERT_TRUE(test::pumpUntil([&] { return phases().size() >= 2; }, 5s)) << "the download began";
    ASSERT_TRUE(test::runOn(net, service->cancel()));
    ASSERT_EQ(run.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(run.get()) << "a cancelled run yields no result";
    EXPECT_EQ(phases(), (std::vector<LoadTestPhase>{LoadTestPhase::baseline, LoadTestPhase::download}));
    const auto lines = journal->all();
    EXPECT_EQ(lines.back(), "stop#1") << "the probe is stopped before the run returns";
    for (const auto& line : lines)
        EXPECT_NE(line, "upload");
    ASSERT_TRUE(test::runOn(net, service->cancel())) << "cancel with nothing running is harmless";
}

TEST_F(LoadTestServiceTest, BackToBackRunsNeverShareAProbe)
{
    auto service = makeService();
    auto first = asio::co_spawn(net.executor(), service->run(std::nullopt, {}), asio::use_future);
    ASSERT_TRUE(test::pumpUntil([&] { return journal->all().size() >= 2; }, 5s));
    ASSERT_TRUE(test::runOn(net, service->cancel()));
    // Started at once after the cancel: it waits until the first has stopped its own probe.
    auto second = asio::co_spawn(net.executor(), service->run(std::nullopt, {}), asio::use_future);
    ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(first.get());
    EXPECT_TRUE(second.get());
    const auto lines = journal->all();
    const auto at = [&](const std::string& s) { return std::find(lines.begin(), lines.end(), s) - lines.begin(); };
    ASSERT_LT(at("stop#1"), static_cast<long>(lines.size()));
    EXPECT_LT(at("stop#1"), at("start#2 -")) << "the second run's probe is a new one, opened after the first closed";
    EXPECT_EQ(lines.back(), "stop#2");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "stop#1"), 1);
}

// --- the whole run against failing loopback endpoints -------------------------------------------------
// The real generator against the loopback speed-test server (or a refusing port), echoes from the
// fake source, and the view model in front as the screen uses it: a result it publishes is stored.
class LoadTestFailingEndpointTest : public LoadTestServiceTest {
protected:
    struct Outcome {
        LoadTestState state;
        bool published = false;
        std::optional<StoredLoadTest> stored;
    };

    Outcome runThroughModel(const QString& baseURL, LoadTestService::Timing t)
    {
        MeasurementProfile profile = MeasurementProfile::defaultProfile();
        auto io = net.executor();
        auto journal = this->journal;
        auto factory = [io, journal, script = script] {
            return std::make_shared<FakeEchoSource>(io, 1, journal, script, false);
        };
        t.load = LoadSource::Configuration::forBaseURL(baseURL);
        t.load.downloadURL.replace(QStringLiteral("26214400"), QStringLiteral("4194304"));
        t.load.streams = 2;
        t.load.maxBytes = cap;
        t.load.maxDuration = t.loadTrace;
        auto service = LoadTestService::create(io, profile, factory, std::make_shared<LoadGenerator>(), t);
        auto model = std::make_shared<LoadTestViewModel>(service, nullptr, nullptr);
        auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
        Outcome outcome;
        // The screen's hand-over: each published result goes to the store.
        QObject::connect(model.get(), &LoadTestViewModel::resultChanged, [&] {
            if (model->result()) {
                outcome.published = true;
                test::runOn(net, store->insertLoadTest(*model->result()));
            }
        });
        model->start();
        EXPECT_TRUE(test::pumpUntil([&] { return !model->isRunning(); }, 60s));
        outcome.state = model->state();
        EXPECT_FALSE(model->result());
        const auto stored = test::runOn(net, store->latestLoadTest());
        if (stored)
            outcome.stored = *stored;
        return outcome;
    }

    std::int64_t cap = 1 << 30;
};

TEST_F(LoadTestFailingEndpointTest, AnEndpointThatMovesNothingFailsTheRunWithItsCauseAndStoresNothing)
{
    LoadTestService::Timing t = timing();
    t.loadTrace = 1500ms;
    const QString lead = QStringLiteral("A sebességmérő szerverrel nem sikerült megterhelni a vonalat");
    const struct {
        const char* name;
        QStringList serverArgs; // empty: a refusing port
        QString cause;
    } cases[] = {
        {"refused", {}, failureSentence(FailureCause::connectionRefused)},
        {"no answer", {"--mode", "silent"}, failureSentence(FailureCause::timedOut)},
        {"error status", {"--mode", "error"}, failureSentence(FailureCause::serverError)},
        {"byte by byte", {"--mode", "trickle"}, QStringLiteral("alig küldött vagy fogadott adatot")},
        // A 1 KiB page to every request, the body unread (a captive portal): failed requests, no load.
        {"short page", {"--mode", "short"}, QStringLiteral("A szerver válaszolt, de alig küldött vagy fogadott adatot")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::FailingEndpoint endpoint(c.serverArgs);
        const int port = endpoint.port();
        ASSERT_GT(port, 0);
        const std::size_t tracesBefore = journal->all().size();
        const Outcome o = runThroughModel(QStringLiteral("http://127.0.0.1:%1").arg(port), t);
        // Counted, not timed: the run ends after the download, so only the baseline and download traces ran.
        const auto lines = journal->all();
        EXPECT_EQ(std::count_if(lines.begin() + static_cast<long>(tracesBefore), lines.end(),
                                [](const std::string& l) { return l.rfind("trace#", 0) == 0; }),
                  2) << "the run ends after the download, without an upload";
        ASSERT_EQ(o.state.kind, LoadTestState::Kind::failed);
        EXPECT_TRUE(o.state.message.startsWith(lead)) << o.state.message.toStdString();
        EXPECT_TRUE(o.state.message.contains(c.cause)) << o.state.message.toStdString();
        EXPECT_FALSE(o.published);
        EXPECT_FALSE(o.stored) << "nothing stored where nothing was measured";
        // Counted at the server: at most one request per back-off step and stream (2 streams, 1.5 s).
        const auto requests = QRegularExpression(QStringLiteral("requests (\\d+) connections (\\d+)")).match(endpoint.log());
        if (requests.hasMatch()) {
            EXPECT_LE(requests.captured(1).toInt(), 8);
            EXPECT_LE(requests.captured(2).toInt(), 8);
        }
    }
}

// A server that sends 2 MiB of each download and then hangs, and reads 1 MiB of each upload and then
// stops reading: no direction is graded from a window without load, the run fails in Hungarian and
// nothing is stored.
TEST_F(LoadTestFailingEndpointTest, AnEndpointThatStallsIsNotGradedAndStoresNothing)
{
    test::LoopbackServer server(QStringLiteral("speedtest_server.py"), {"--mode", "stall"});
    ASSERT_GT(server.port(), 0);
    LoadTestService::Timing t = timing();
    t.loadTrace = 4s; // the burst's second or two and at least 2 whole seconds without load after it
    const Outcome o = runThroughModel(QStringLiteral("http://127.0.0.1:%1").arg(server.port()), t);
    ASSERT_EQ(o.state.kind, LoadTestState::Kind::failed);
    EXPECT_TRUE(o.state.message.contains(QStringLiteral("nem ad értékelést"))) << o.state.message.toStdString();
    EXPECT_FALSE(o.published);
    EXPECT_FALSE(o.stored);
}

TEST_F(LoadTestFailingEndpointTest, ALinkDroppedDuringTheLoadFailsTheRunInsteadOfGradingTheOutage)
{
    // The server stops moving data once it has sent 1 MiB of the download, as behind a dropped link,
    // and marks the moment with a file; the echoes go unanswered from then on. The drop is an event of
    // the transfer, not a moment of the clock, so the loopback's speed does not matter.
    QTemporaryDir dir;
    const QString dropped = dir.filePath(QStringLiteral("dropped"));
    test::LoopbackServer server(QStringLiteral("speedtest_server.py"),
                                {"--mode", "drop", "--drop-after", "1048576", "--dropped-file", dropped});
    ASSERT_GT(server.port(), 0);
    script = [dropped](int trace, double) -> std::optional<double> {
        if (trace == 1 && QFile::exists(dropped))
            return std::nullopt;
        return 20.0;
    };
    LoadTestService::Timing t = timing();
    t.loadTrace = 6s; // the drop's second and at least 3 whole seconds of outage after it
    const Outcome o = runThroughModel(QStringLiteral("http://127.0.0.1:%1").arg(server.port()), t);
    ASSERT_EQ(o.state.kind, LoadTestState::Kind::failed);
    EXPECT_TRUE(o.state.message.contains(QStringLiteral("A kapcsolat megszakadt a teszt közben")))
        << o.state.message.toStdString();
    EXPECT_FALSE(o.published);
    EXPECT_FALSE(o.stored);
}

TEST_F(LoadTestFailingEndpointTest, AByteCapReachedBeforeTheWindowsFailsAndStoresNothing)
{
    // A loopback line: 2 MiB are moved long before the loaded windows open at 1 s.
    test::LoopbackServer server(QStringLiteral("speedtest_server.py"), {});
    ASSERT_GT(server.port(), 0);
    cap = 2 << 20;
    LoadTestService::Timing t = timing();
    t.loadTrace = 2s;
    t.windowStart = 1.0;
    const Outcome o = runThroughModel(QStringLiteral("http://127.0.0.1:%1").arg(server.port()), t);
    ASSERT_EQ(o.state.kind, LoadTestState::Kind::failed);
    EXPECT_TRUE(o.state.message.contains(QStringLiteral("túl hamar véget ért"))) << o.state.message.toStdString();
    EXPECT_FALSE(o.published);
    EXPECT_FALSE(o.stored);
}

// A ten-second phase of 1 MB with these per-second samples (and the generator's finer edges).
LoadPhaseResult phaseOf(std::vector<double> samples, double endedAt = 10.0, std::vector<double> onsets = {},
                        std::vector<double> ends = {})
{
    LoadPhaseResult r{1'000'000, 10.0, LoadStopReason::durationReached, std::move(samples), endedAt};
    r.standstillOnsets = std::move(onsets);
    r.standstillEnds = std::move(ends);
    return r;
}

// --- pure checks of a phase --------------------------------------------------------------------------
TEST(LoadTestPhaseCheckTest, ALineDropIsAStalledLoadWhileNoEchoComesBack)
{
    // 10 s of load; echoes every 0.1 s, answered in 20 ms unless listed as lost.
    const auto trace = [](double lostFrom, double lostTo, double lateBy = 0) {
        std::vector<TimedEcho> echoes;
        for (int i = 0; i < 100; ++i) {
            const double t = i * 0.1;
            const bool lost = t >= lostFrom && t < lostTo;
            echoes.push_back({t, lost ? (lateBy > 0 ? std::optional<double>((lostTo - t) * 1000 + lateBy) : std::nullopt)
                                      : std::optional<double>(20.0)});
        }
        return echoes;
    };
    const std::vector<double> steady(10, 40.0);
    const std::vector<double> outage{40, 40, 40, 0, 0, 0, 0.1, 40, 40, 40};   // 3 s without load from 3 s
    const std::vector<double> shortOutage{40, 40, 40, 0, 0, 40, 40, 40, 40, 40}; // 2 s
    const struct {
        const char* name;
        LoadPhaseResult load;
        std::vector<TimedEcho> echoes;
        bool dropped;
    } cases[] = {
        {"outage with lost echoes", phaseOf(outage), trace(3.0, 6.5), true},
        {"outage with echoes held until it ended", phaseOf(outage), trace(3.0, 6.0, 300), true},
        {"stalled load but echoes answered", phaseOf(outage), trace(0, 0), false},
        {"echoes lost but the load moves", phaseOf(steady), trace(3.0, 7.0), false},
        {"too short a stall", phaseOf(shortOutage), trace(3.0, 5.0), false},
        {"no load after the byte cap", phaseOf({40, 40, 0, 0, 0, 0, 0, 0, 0, 0}, 2.0), trace(2.0, 10.0), false},
        {"nothing moved at all", phaseOf(std::vector<double>(10, 0.0)), trace(0, 10.0), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lineDroppedDuring(c.load, c.echoes), c.dropped) << c.name;
}

// A second stands still below 1 % of the best second before it; an edge lies inside the second that
// moved part of the best rate, in proportion (20 of 40 Mbit/s: halfway through it).
TEST(LoadTestPhaseCheckTest, AStandstillThatFlowsOnIsAPauseOneToTheEndAStopAndASlowLineNeither)
{
    using Pauses = std::vector<LoadStandstill>;
    const auto stretched = [](LoadPhaseResult r, Pauses stretches) {
        r.stillStretches = std::move(stretches);
        return r;
    };
    const struct {
        const char* name;
        LoadPhaseResult load;
        Pauses pauses;
        std::optional<double> stoppedAt;
    } cases[] = {
        {"steady", phaseOf(std::vector<double>(10, 40.0)), {}, std::nullopt},
        {"stopped early", phaseOf({40, 10, 0, 0, 0, 0, 0, 0, 0, 0}), {}, 1.25},
        {"stopped late", phaseOf({40, 40, 40, 40, 40, 40, 40, 20, 0, 0}), {}, 7.5},
        // The generator's own moment of a stop or a pause, when it lies at the standstill's edge.
        {"stopped at the generator's moment", phaseOf({40, 10, 0, 0, 0, 0, 0, 0, 0, 0}, 10.0, {1.4}), {}, 1.4},
        {"a pause from the generator's moment", phaseOf({40, 40, 40, 40, 40, 20, 0, 0, 40, 40}, 10.0, {5.3}),
         Pauses{{5.3, 8.0}}, std::nullopt},
        {"a pause between the generator's moments", phaseOf({30, 40, 40, 40, 40, 20, 0, 10, 40, 40}, 10.0, {5.3}, {7.4}),
         Pauses{{5.3, 7.4}}, std::nullopt},
        {"a moment away from the standstill", phaseOf({40, 10, 0, 0, 0, 0, 0, 0, 0, 0}, 10.0, {6.0}), {}, 1.25},
        {"stopped, then a dribble", phaseOf({40, 40, 40, 40, 40, 40, 0.02, 0.01, 0.03, 0.02}), {}, 6.0},
        {"a 2.5-s pause, then as fast as before", phaseOf({40, 40, 40, 40, 40, 20, 0, 0, 40, 40}), Pauses{{5.5, 8.0}},
         std::nullopt},
        {"one whole second without load", phaseOf({40, 40, 40, 10, 0, 30, 40, 40, 40, 40}), Pauses{{3.25, 5.25}},
         std::nullopt},
        {"a pause, later a stop", phaseOf({40, 40, 0, 0, 40, 40, 40, 0, 0, 0}), Pauses{{2.0, 4.0}}, 7.0},
        // The generator's own still stretches, found on its every turn: a pause however little of a
        // second it took, one over a pause from the seconds in its place, none after the byte cap.
        {"a 0.7-s pause the seconds hide", stretched(phaseOf({40, 40, 40, 40, 28, 33, 40, 40, 40, 40}), {{4.6, 5.3}}),
         Pauses{{4.6, 5.3}}, std::nullopt},
        {"a stretch over a pause from the seconds",
         stretched(phaseOf({40, 40, 40, 40, 40, 20, 0, 10, 40, 40}), {{5.2, 7.6}}), Pauses{{5.2, 7.6}}, std::nullopt},
        {"a stretch after the byte cap", stretched(phaseOf({40, 40, 0, 0, 0, 0, 0, 0, 0, 0}, 2.0), {{3.0, 4.0}}), {},
         std::nullopt},
        // 40 → 3 Mbit/s 1.5 s in, flowing on at a lower rate with the dips of its queue.
        {"slowed down", phaseOf({38.4, 1.5, 1.1, 4.0, 5.3, 3.1, 2.9, 3.0, 2.8, 3.2}), {}, std::nullopt},
        {"a dribble from the start", phaseOf({0.02, 0.01, 0.02, 0.01, 0.02, 0.01, 0.02, 0.01, 0.02, 0.01}), {},
         std::nullopt},
        {"a slow start", phaseOf({0, 0, 0, 30, 40, 40, 40, 40, 40, 40}), {}, std::nullopt},
        {"nothing after the byte cap", phaseOf({40, 40, 0, 0, 0, 0, 0, 0, 0, 0}, 2.0), {}, std::nullopt},
        {"stopped in the last second", phaseOf({40, 40, 40, 40, 40, 40, 40, 40, 20, 0}), {}, 8.5},
        {"nothing moved at all", phaseOf(std::vector<double>(10, 0.0)), {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LoadFlow flow = loadFlowOf(c.load);
        EXPECT_EQ(flow.pauses, c.pauses);
        EXPECT_EQ(flow.stoppedAtSeconds, c.stoppedAt);
    }
    // The loaded window leaves out the echoes sent while the load stood still.
    const std::vector<TimedEcho> echoes{echo(5.4, 1.0), echo(5.5, 2.0), echo(7.9, 3.0), echo(8.0, 4.0)};
    EXPECT_EQ(outsidePauses(echoes, {{5.5, 8.0}}), (std::vector<TimedEcho>{echo(5.4, 1.0), echo(8.0, 4.0)}));
}

TEST(LoadTestPhaseCheckTest, APhaseWithoutLoadNamesItsCause)
{
    const auto phase = [](std::int64_t bytes, int answered, int failed, std::optional<FailureCause> cause) {
        LoadPhaseResult r{bytes, 12.0, LoadStopReason::durationReached, {}, 12.0};
        r.requestsAnswered = answered;
        r.requestsFailed = failed;
        r.failure = cause;
        return r;
    };
    const struct {
        const char* name;
        LoadPhaseResult load;
        std::optional<QString> says; // none: the phase loaded the line
    } cases[] = {
        {"loaded", phase(50'000'000, 8, 0, std::nullopt), std::nullopt},
        {"slow but moving, nothing answered yet", phase(900'000, 0, 0, std::nullopt), std::nullopt},
        {"name", phase(0, 0, 0, FailureCause::nameNotResolved), failureSentence(FailureCause::nameNotResolved)},
        {"refused", phase(0, 0, 12, FailureCause::connectionRefused), failureSentence(FailureCause::connectionRefused)},
        {"error status with bytes in flight", phase(2'000'000, 0, 9, FailureCause::serverError),
         failureSentence(FailureCause::serverError)},
        {"answered, then a trickle", phase(300, 2, 0, FailureCause::timedOut), QStringLiteral("alig küldött")},
    };
    for (const auto& c : cases) {
        const std::optional<QString> message = unloadedPhaseMessage(c.load);
        ASSERT_EQ(message.has_value(), c.says.has_value()) << c.name;
        if (message) {
            EXPECT_TRUE(message->contains(*c.says)) << c.name << ": " << message->toStdString();
        }
    }
}

} // namespace
} // namespace pv
