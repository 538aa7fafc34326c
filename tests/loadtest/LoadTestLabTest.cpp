// The whole load test with the real ICMP probe and the real generator through the lab's router, shaped
// to 50 Mbit/s with a short and with a bloated queue. Runs only inside the network lab.

#include "core/app/AppViewModel.h"
#include "core/records/Localization.h"
#include "core/store/SQLiteStore.h"
#include "loadtest/LoadTestService.h"
#include "loadtest/LoadTestView.h"
#include "tests/loadtest/ShapedLab.h"
#include "tests/probes/DnsHttpTestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <cstdio>
#include <map>
#include <mutex>
#include <string_view>

namespace pv {
namespace {

using namespace std::chrono_literals;

class LoadTestLabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto env = lab::LabEnv::current();
        if (!env)
            GTEST_SKIP() << "not inside the network lab";
        lab.emplace(*env, test::sourceDir());
        baseURL = lab->startServer();
        ASSERT_FALSE(baseURL.isEmpty()) << "the speed-test server did not start";
    }

    struct Run {
        LoadTestResult result;
        std::map<LoadTestPhase, double> phaseStarted; // wall clock
        std::vector<test::PingReply> ping;
        QString failure; // the failed run's message
    };

    // A test with 3 s of baseline, 10 s per load phase (or as given) and 2 s of rest, ping running
    // alongside. A run that fails keeps its message.
    Run runTest(std::chrono::seconds loadSeconds = 10s)
    {
        LoadTestService::Timing timing;
        timing.baseline = 3s;
        timing.loadTrace = loadSeconds;
        timing.rest = 2s;
        timing.load = LoadSource::Configuration::forBaseURL(baseURL);
        timing.load.maxDuration = loadSeconds;
        MeasurementProfile profile = MeasurementProfile::defaultProfile();
        profile.publicProbeHosts = {QStringLiteral("1.1.1.1")};
        auto service = LoadTestService::create(net.executor(), profile, timing);

        Run run;
        std::mutex mutex;
        lab->startPing(QStringLiteral("1.1.1.1"), 60);
        try {
            const auto result = test::runOn(net, service->run(lab->env().clientIf, [&](LoadTestPhase phase) {
                std::lock_guard lock(mutex);
                run.phaseStarted[phase] = nowTimestamp();
            }), 90s);
            if (result && *result)
                run.result = **result;
        } catch (const LoadTestError& e) {
            run.failure = e.message();
        }
        lab->stopPing();
        run.ping = lab->pingReplies();
        return run;
    }

    // ping's p95 over the same loaded window as the service's.
    static std::optional<double> pingP95(const Run& run, LoadTestPhase phase, const LoadPhaseResult& load)
    {
        const double start = run.phaseStarted.at(phase);
        return test::p95Of(test::ShapedLab::between(run.ping, start + 4.0, start + load.loadEndedAtSeconds));
    }

    // Upload counts what reached the server: within 3 % of what the lab server read during the phase,
    // and never above the shaped rate. A second's sample is taken when the generator's loop wakes,
    // which on a busy machine can be a few hundred milliseconds late, so a single sample may hold
    // more than a second; bytes still queued in the socket (more than twice the rate in the first
    // second) stay far above that.
    void expectUploadAsTheServerRead(const Run& run) const
    {
        const LoadPhaseResult& up = run.result.upload;
        const double start = run.phaseStarted.at(LoadTestPhase::upload);
        const auto read = lab->serverReadBy(start + up.durationSeconds) - lab->serverReadBy(start);
        ASSERT_GT(read, 0);
        const double labHeld = lab->serverHeldBetween(start, start + up.durationSeconds);
        std::printf("upload: counted %lld bytes, the server read %lld (%+.2f %%), %.1f Mbit/s; held %.2f s, the lab "
                    "%.2f s\n", static_cast<long long>(up.bytesTransferred), static_cast<long long>(read),
                    100.0 * (static_cast<double>(up.bytesTransferred) / static_cast<double>(read) - 1.0),
                    run.result.uploadMbps(), up.heldSeconds, labHeld);
        // More by the share of the phase this computer held the test up, as the result says, and held
        // the lab's server or line up, as the server says.
        const double within = 0.03 + (up.heldSeconds + labHeld) / std::max(up.durationSeconds, 1.0);
        EXPECT_NEAR(static_cast<double>(up.bytesTransferred), static_cast<double>(read), within * static_cast<double>(read))
            << "counted " << up.bytesTransferred << ", the server read " << read << ", held " << up.heldSeconds
            << " s, the lab " << labHeld << " s";
        EXPECT_LE(run.result.uploadMbps(), test::ShapedLab::kRateMbit);
        for (double sample : up.perSecondMbps)
            EXPECT_LE(sample, 1.5 * test::ShapedLab::kRateMbit);
    }

    void runStopRows(const char* line);

    rt::NetworkRuntime net;
    std::optional<test::ShapedLab> lab;
    QString baseURL;
};

TEST_F(LoadTestLabTest, AShortQueueGradesExcellentOrGood)
{
    ASSERT_TRUE(lab->shape(QStringLiteral("5ms")));
    const Run run = runTest();
    const LoadTestResult& r = run.result;
    ASSERT_TRUE(r.idle.p50) << "the test measured";
    EXPECT_TRUE(r.grade() == BufferbloatGrade::excellent || r.grade() == BufferbloatGrade::good)
        << rawValue(r.grade()).toStdString() << ", increase " << r.latencyIncreaseMilliseconds().value_or(-1);
    EXPECT_GT(r.downloadMbps(), 0.5 * test::ShapedLab::kRateMbit);
    EXPECT_GT(r.uploadMbps(), 0.5 * test::ShapedLab::kRateMbit);
    expectUploadAsTheServerRead(run);
}

TEST_F(LoadTestLabTest, ABloatedQueueGradesPoorOrSevereAndAgreesWithPing)
{
    ASSERT_TRUE(lab->shape(QStringLiteral("500ms")));
    const Run run = runTest();
    const LoadTestResult& r = run.result;
    ASSERT_TRUE(r.idle.p50) << "the test measured";
    EXPECT_TRUE(r.grade() == BufferbloatGrade::poor || r.grade() == BufferbloatGrade::severe)
        << rawValue(r.grade()).toStdString() << ", increase " << r.latencyIncreaseMilliseconds().value_or(-1);
    const struct {
        const char* name;
        LoadTestPhase phase;
        const LatencySummary& summary;
        const LoadPhaseResult& load;
    } directions[] = {{"download", LoadTestPhase::download, r.underDownload, r.download},
                      {"upload", LoadTestPhase::upload, r.underUpload, r.upload}};
    for (const auto& d : directions) {
        const std::optional<double> ping = pingP95(run, d.phase, d.load);
        ASSERT_TRUE(ping && d.summary.p95) << d.name;
        EXPECT_NEAR(*d.summary.p95, *ping, 0.2 * *ping) << d.name;
    }
    expectUploadAsTheServerRead(run);
}

// Through the shaped router, an endpoint that sends 2 MiB of each download and reads 1 MiB of each
// upload before it hangs, and one that answers every request with a 1 KiB page without reading the
// body: the run fails with a Hungarian cause, so there is no result to store; the short-answer server
// gets a few requests a second at most (counted at the server); and an upload is never counted above
// what the server read.
TEST_F(LoadTestLabTest, AnEndpointThatStallsOrAnswersShortIsNotGraded)
{
    ASSERT_TRUE(lab->shape(QStringLiteral("5ms")));
    LoadTestService::Timing timing;
    timing.baseline = 3s;
    timing.loadTrace = 8s;
    timing.rest = 1s;
    MeasurementProfile profile = MeasurementProfile::defaultProfile();
    profile.publicProbeHosts = {QStringLiteral("1.1.1.1")};
    for (const char* mode : {"stall", "short"}) {
        SCOPED_TRACE(mode);
        const QString base = lab->startServer({QStringLiteral("--mode"), QLatin1String(mode)});
        ASSERT_FALSE(base.isEmpty());
        timing.load = LoadSource::Configuration::forBaseURL(base);
        timing.load.maxDuration = timing.loadTrace;
        auto service = LoadTestService::create(net.executor(), profile, timing);
        QString cause;
        try {
            const auto result = test::runOn(net, service->run(lab->env().clientIf, {}), 90s);
            ASSERT_TRUE(result);
            EXPECT_FALSE(*result) << "graded " << rawValue((*result)->grade()).toStdString();
        } catch (const LoadTestError& e) {
            cause = e.message();
        }
        std::printf("%s: %s; server: %s", mode, cause.toStdString().c_str(), lab->serverLog().toStdString().c_str());
        EXPECT_TRUE(cause.contains(QStringLiteral("nem ad értékelést"))) << cause.toStdString();
        const auto totals = QRegularExpression(QStringLiteral("up (\\d+) requests (\\d+) connections (\\d+)"))
                                .match(lab->serverLog());
        ASSERT_TRUE(totals.hasMatch());
        if (QLatin1String(mode) == QLatin1String("short")) {
            EXPECT_EQ(totals.captured(1).toLongLong(), 0) << "the short-answer server reads no body";
            // Only the download phase ran (it failed): at most one request per back-off step and stream.
            EXPECT_LE(totals.captured(2).toInt(), 4 * 10) << "a few requests a second at most";
            EXPECT_LE(totals.captured(3).toInt(), 4 * 10);
        }
    }
    // The upload alone against the stalling server: never counted above what it read.
    auto configuration = LoadSource::Configuration::forBaseURL(lab->startServer({QStringLiteral("--mode"),
                                                                                 QStringLiteral("stall")}));
    configuration.maxDuration = 5s;
    LoadGenerator generator;
    const LoadPhaseResult up = generator.runPhase(LoadDirection::upload, configuration);
    const auto read = lab->serverReadBy(nowTimestamp() + 1);
    std::printf("stalled upload: counted %lld bytes, the server read %lld\n", static_cast<long long>(up.bytesTransferred),
                static_cast<long long>(read));
    EXPECT_GE(read, 4 * (1 << 20)) << "bodies read whole, then 1 MiB of a larger one on each of the 4 streams";
    EXPECT_LE(up.bytesTransferred, read);
}

// No second is above the line's rate. A sample is taken when the generator's loop wakes, which on a
// busy machine can be late: a second that runs long is then made up by the one before it, and the two
// together stay within the line (a burst of bytes held back comes after a still second instead).
void expectNoSecondAboveTheLine(const std::vector<double>& samples, int rateMbit)
{
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] <= 1.05 * rateMbit)
            continue;
        EXPECT_TRUE(i > 0 && samples[i - 1] + samples[i] <= 2 * 1.05 * rateMbit)
            << "second " << i + 1 << ": " << samples[i] << " Mbit/s on a " << rateMbit << " Mbit/s line";
    }
}

// What a user is told of a phase, as the screen, the store and the marker say it.
struct Said {
    double storedMbps = 0;
    SpeedTileText tile;
    QString marker;
    QString notes;
};
Said whatIsSaid(rt::NetworkRuntime& net, const LoadTestResult& r, LoadDirection direction)
{
    Said said;
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    EXPECT_TRUE(test::runOn(net, store->insertLoadTest(r)));
    const auto stored = test::runOn(net, store->latestLoadTest());
    if (stored && *stored)
        said.storedMbps = direction == LoadDirection::download ? (*stored)->downloadMbps : (*stored)->uploadMbps;
    said.tile = speedTileText(direction == LoadDirection::download ? r.download : r.upload, direction);
    said.marker = loadTestMarkerText(r);
    said.notes = directionNotesText(r);
    return said;
}

// The server stops one direction once it has moved the row's bytes and holds its connections open:
// that direction is cut where its load stopped (within half a second of the server's own clock) and
// not graded, and the tile, the stored row and the marker give the rate while it flowed (near the
// server's own count), never its bytes over the whole phase. The other direction is graded. A short
// queue on a 50/50 line stops both directions at 6 s; behind a deep uplink queue (the server's kernel
// goes on accepting what the server no longer reads) an upload stops early, midway and in its last
// 2 s, on a 100/10 and on a 50/50 line. Each line has a test of its own (about two minutes each); the
// stops in the first 2 s have one that runs alone: a tenth of a second that this machine holds up the
// lab's line is 5 % of their rate.
struct StopRow {
    const char* line; // the test that runs the row
    const char* queue;
    int downMbit, upMbit;
    LoadDirection direction;
    double stopSeconds; // where the server stops, at the line's rate (about 95 % of it is read)
};
constexpr StopRow kStopRows[] = {
    {"short", "5ms", 50, 50, LoadDirection::upload, 6},
    {"short", "5ms", 50, 50, LoadDirection::download, 6},
    {"early", "500ms", 100, 10, LoadDirection::upload, 2},
    {"100/10", "500ms", 100, 10, LoadDirection::upload, 6},
    {"100/10", "500ms", 100, 10, LoadDirection::upload, 10.5},
    {"early", "300ms", 50, 50, LoadDirection::upload, 2},
    {"50/50", "500ms", 50, 50, LoadDirection::upload, 6},
    {"50/50", "500ms", 50, 50, LoadDirection::upload, 10.5},
    {"50/50", "1000ms", 50, 50, LoadDirection::upload, 3},
};

void LoadTestLabTest::runStopRows(const char* line)
{
    for (const StopRow& row : kStopRows) {
        if (std::string_view(row.line) != line)
            continue;
        const bool upload = row.direction == LoadDirection::upload;
        const int rateMbit = upload ? row.upMbit : row.downMbit;
        const auto after = static_cast<qint64>(row.stopSeconds * rateMbit * 0.95e6 / 8);
        SCOPED_TRACE(QStringLiteral("%1 %2/%3 %4 stopped at %5 s").arg(QLatin1String(upload ? "upload" : "download"))
                         .arg(row.downMbit).arg(row.upMbit).arg(QLatin1String(row.queue)).arg(row.stopSeconds).toStdString());
        ASSERT_TRUE(lab->shape(QLatin1String(row.queue), row.downMbit, row.upMbit));
        baseURL = lab->startServer({QStringLiteral("--mode"), QStringLiteral("stop"), QStringLiteral("--directions"),
                                    QLatin1String(upload ? "up" : "down"), QStringLiteral("--after"),
                                    QString::number(after)});
        ASSERT_FALSE(baseURL.isEmpty());
        const Run run = runTest(12s);
        ASSERT_TRUE(run.failure.isEmpty()) << run.failure.toStdString();
        const LoadTestResult& r = run.result;
        const LoadPhaseResult& cut = upload ? r.upload : r.download;
        EXPECT_TRUE(cut.stoppedFlowing());
        EXPECT_EQ(upload ? r.isUploadGraded() : r.isDownloadGraded(), false);
        EXPECT_EQ(upload ? r.isDownloadGraded() : r.isUploadGraded(), true);

        // When the server stopped, from its first bytes by its own clock, and the rate until then: an
        // upload's by what the server's kernel had taken by then (read, or waiting to be read: the
        // server's reads trail the line by a few chunks, more so in the first seconds), a download's
        // by what the server had sent.
        const auto events = lab->serverEvents();
        ASSERT_EQ(events.size(), 2u);
        ASSERT_EQ(events[0].event, QStringLiteral("start"));
        const double stoppedAfter = events[1].wallClock - events[0].wallClock;
        const std::int64_t moved = upload ? events[1].taken : after;
        ASSERT_GT(moved, 0);
        const double serverMbps = static_cast<double>(moved) * 8 / stoppedAfter / 1e6;
        const double wholePhaseMbps = static_cast<double>(cut.bytesTransferred) * 8 / cut.durationSeconds / 1e6;
        std::printf("%s %d/%d %s: stopped after %.2f s (server), %.2f s (test); %.2f Mbit/s by the server, %.2f while "
                    "it flowed, %.1f over the phase; per second:",
                    upload ? "upload" : "download", row.downMbit, row.upMbit, row.queue, stoppedAfter,
                    cut.loadEndedAtSeconds, serverMbps, cut.throughputMbps(), wholePhaseMbps);
        for (double sample : cut.perSecondMbps)
            std::printf(" %.1f", sample);
        std::printf("\n");
        // This computer holding the test up (which the result says), or the lab's server or line (which
        // the server says), moves the stop and bends the rate by as much: the margins grow by the held
        // time and its share of the flowing time.
        const double labHeld = lab->serverHeldBetween(events[0].wallClock, events[1].wallClock);
        const double held = cut.heldSeconds + labHeld;
        std::printf("held %.2f s, the lab %.2f s\n", cut.heldSeconds, labHeld);
        EXPECT_NEAR(cut.loadEndedAtSeconds, stoppedAfter, 0.5 + held);
        expectNoSecondAboveTheLine(cut.perSecondMbps, rateMbit);

        const Said said = whatIsSaid(net, r, row.direction);
        // The server counts a download as it writes it, ahead of what arrived: 10 % there.
        const double within = (upload ? 0.03 : 0.1) + held / std::max(cut.flowingSeconds(), 1.0);
        EXPECT_NEAR(said.storedMbps, serverMbps, within * serverMbps);
        EXPECT_GT(said.storedMbps, 1.1 * wholePhaseMbps) << "never the bytes over the whole phase";
        EXPECT_EQ(said.tile.value, formatFixed(said.storedMbps, 0));
        EXPECT_TRUE(said.tile.caption.contains(LF("az első %@ másodpercben", {loadSecondsText(cut.loadEndedAtSeconds)})))
            << said.tile.caption.toStdString();
        const QString figures = upload ? LF("le / %.0f Mbps fel", {said.storedMbps}) : LF(": %.0f Mbps le", {said.storedMbps});
        EXPECT_TRUE(said.marker.contains(figures)) << said.marker.toStdString();
        EXPECT_TRUE(said.marker.contains(LF("%.0f Mbps az addigi sebesség", {said.storedMbps}))) << said.marker.toStdString();
        EXPECT_TRUE(said.notes.contains(QStringLiteral("elakadt"))) << said.notes.toStdString();
    }
}

TEST_F(LoadTestLabTest, ADirectionThatStopsShowsTheRateWhileItFlowed)
{
    runStopRows("short");
}

TEST_F(LoadTestLabTest, AnUploadThatStopsBehindADeepQueueOn100To10ShowsTheRateWhileItFlowed)
{
    runStopRows("100/10");
}

TEST_F(LoadTestLabTest, AnUploadThatStopsBehindADeepQueueOn50To50ShowsTheRateWhileItFlowed)
{
    runStopRows("50/50");
}

TEST_F(LoadTestLabTest, AnUploadThatStopsInItsFirstSecondsBehindADeepQueueShowsTheRateWhileItFlowed)
{
    runStopRows("early");
}

// The server stands still for 2.5 s in each direction once that direction has moved 36 MB (on a
// 40/40 line with a short queue) or 9 MB (100/10 behind a deep queue), then goes on as before; and a
// line shaped to 40 Mbit/s falls to 3 Mbit/s once each direction has moved 7.5 MB (1.5 s in) and keeps
// flowing. No second is above the line's rate. The pause is said as a pause and both directions are graded from their
// loaded seconds; the slowdown is measured as it is, with no pause, stop or failure, and neither
// blames the server.
TEST_F(LoadTestLabTest, APauseIsSaidAsAPauseAndASlowdownIsMeasuredAsItIs)
{
    const struct {
        const char* name;
        const char* queue;
        int downMbit, upMbit;
        QStringList serverArgs;
        bool paused;
    } cases[] = {
        {"2.5-s pause", "5ms", 40, 40, {"--mode", "pause", "--after", "36000000", "--pause-seconds", "2.5"}, true},
        {"2.5-s pause, 100/10 behind a deep queue", "500ms", 100, 10,
         {"--mode", "pause", "--after", "9000000", "--pause-seconds", "2.5"}, true},
        {"40 to 3 Mbit/s", "5ms", 40, 40, {"--mode", "slowdown", "--after", "7500000", "--slow-command",
                            lab->shapingCommandFromAnywhere(QStringLiteral("5ms"), 3), "--fast-command",
                            lab->shapingCommandFromAnywhere(QStringLiteral("5ms"), 40)}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(lab->shape(QLatin1String(c.queue), c.downMbit, c.upMbit));
        baseURL = lab->startServer(c.serverArgs);
        ASSERT_FALSE(baseURL.isEmpty());
        const Run run = runTest(12s);
        ASSERT_TRUE(run.failure.isEmpty()) << run.failure.toStdString();
        const LoadTestResult& r = run.result;
        EXPECT_TRUE(r.isDownloadGraded());
        EXPECT_TRUE(r.isUploadGraded());
        const auto events = lab->serverEvents();
        EXPECT_EQ(events.size(), c.paused ? 6u : 4u) << "the server's mode took effect in both directions";
        for (LoadDirection direction : {LoadDirection::download, LoadDirection::upload}) {
            const bool upload = direction == LoadDirection::upload;
            SCOPED_TRACE(upload ? "upload" : "download");
            const LoadPhaseResult& phase = upload ? r.upload : r.download;
            std::printf("%s %s: %.1f Mbit/s while flowing, paused %.1f s in %zu pauses; per second:", c.name,
                        upload ? "upload" : "download", phase.throughputMbps(), phase.pausedSeconds(),
                        phase.pauses.size());
            for (double sample : phase.perSecondMbps)
                std::printf(" %.1f", sample);
            std::printf("\n");
            const int rateMbit = upload ? c.upMbit : c.downMbit;
            expectNoSecondAboveTheLine(phase.perSecondMbps, rateMbit);
            EXPECT_FALSE(phase.stoppedFlowing());
            const Said said = whatIsSaid(net, r, direction);
            EXPECT_FALSE(said.notes.contains(QStringLiteral("nem fogadott")) || said.notes.contains(QStringLiteral("nem küldött")))
                << said.notes.toStdString();
            EXPECT_FALSE(said.marker.contains(QStringLiteral("elakadt"))) << said.marker.toStdString();
            EXPECT_EQ(said.tile.value, formatFixed(said.storedMbps, 0));
            if (c.paused) {
                ASSERT_EQ(phase.pauses.size(), 1u);
                EXPECT_NEAR(phase.pausedSeconds(), 2.5, 1.0);
                EXPECT_GT(phase.throughputMbps(), 0.8 * rateMbit) << "the rate while it flowed";
                EXPECT_LE(phase.throughputMbps(), 1.05 * rateMbit);
                EXPECT_TRUE(said.notes.contains(QStringLiteral("megállt, majd folytatódott"))) << said.notes.toStdString();
                EXPECT_TRUE(said.tile.caption.contains(QStringLiteral("másodpercre megállt"))) << said.tile.caption.toStdString();
            } else {
                EXPECT_TRUE(phase.pauses.empty());
                // About 1.5 s at 40 and the rest at 3 Mbit/s: far below the start, far above nothing.
                EXPECT_LT(phase.throughputMbps(), 15.0);
                EXPECT_GT(phase.throughputMbps(), 3.0);
                // No stop, pause or unmeasured direction (a busy machine may add a note of its own hold-up).
                EXPECT_FALSE(said.notes.contains(QStringLiteral("terhelés"))) << said.notes.toStdString();
                EXPECT_FALSE(said.tile.caption.contains(QStringLiteral("megállt"))) << said.tile.caption.toStdString();
            }
        }
    }
}

// The server stands still for 1.2 s in the upload once it has read about 6 s of the line, behind a
// 500-ms uplink queue on a 100/10 and on a 50/50 line: its kernel takes what the queue brings for a
// part of it, and then the line stands still for half a second or so, inside a second that moves
// most of its bytes. The pause is said, and the rate leaves the still time out: within 3 % of the
// rate at which the server took the upload before its pause (more by the share of the phase this
// computer held the test up, as it says, or held the lab's server or line up, as the server says).
TEST_F(LoadTestLabTest, AShortUploadPauseBehindADeepQueueIsSaidAndLeftOutOfTheRate)
{
    for (const int upMbit : {10, 50}) {
        const int downMbit = upMbit == 10 ? 100 : 50;
        SCOPED_TRACE(QStringLiteral("%1/%2").arg(downMbit).arg(upMbit).toStdString());
        ASSERT_TRUE(lab->shape(QStringLiteral("500ms"), downMbit, upMbit));
        baseURL = lab->startServer({QStringLiteral("--mode"), QStringLiteral("pause"), QStringLiteral("--directions"),
                                    QStringLiteral("up"), QStringLiteral("--after"), QString::number(6 * upMbit * 118750),
                                    QStringLiteral("--pause-seconds"), QStringLiteral("1.2")});
        const Run run = runTest(12s);
        ASSERT_TRUE(run.failure.isEmpty()) << run.failure.toStdString();
        const LoadPhaseResult& up = run.result.upload;
        const auto events = lab->serverEvents();
        ASSERT_EQ(events.size(), 3u);
        const double flowingMbps = static_cast<double>(events[1].taken) * 8 / (events[1].wallClock - events[0].wallClock) / 1e6;
        const double labHeld = lab->serverHeldBetween(events[0].wallClock, events[1].wallClock);
        std::printf("upload %d/%d, 1.2-s pause: %.2f Mbit/s (server before its pause %.2f, %+.1f %%), paused %.2f s in "
                    "%zu pauses, held %.2f s, the lab %.2f s\n", downMbit, upMbit, up.throughputMbps(), flowingMbps,
                    100.0 * (up.throughputMbps() / flowingMbps - 1.0), up.pausedSeconds(), up.pauses.size(), up.heldSeconds,
                    labHeld);
        EXPECT_TRUE(run.result.isUploadGraded());
        EXPECT_EQ(up.pauses.size(), 1u);
        EXPECT_NEAR(up.pausedSeconds(), 1.0, 0.5);
        const double margin = 0.03 + (up.heldSeconds + labHeld) / std::max(up.flowingSeconds(), 1.0);
        EXPECT_NEAR(up.throughputMbps(), flowingMbps, margin * flowingMbps);
        expectNoSecondAboveTheLine(up.perSecondMbps, upMbit);
        const Said said = whatIsSaid(net, run.result, LoadDirection::upload);
        EXPECT_TRUE(said.notes.contains(QStringLiteral("megállt, majd folytatódott"))) << said.notes.toStdString();
        EXPECT_TRUE(said.tile.caption.contains(QStringLiteral("másodpercre megállt"))) << said.tile.caption.toStdString();
    }
}

// Everything towards the lab's services is dropped on the router: a name whose lookup never gets an
// answer, and an address whose connections are never answered. Each phase still ends at its limit
// and says why nothing moved.
TEST_F(LoadTestLabTest, AHangingLookupOrABlackHoleEndsThePhaseOnTimeAndNamesTheCause)
{
    ASSERT_TRUE(lab->env().dropAll(lab->env().routerNs, lab->env().servicesAddr));
    const QString port = baseURL.section(QLatin1Char(':'), -1);
    const struct {
        QString base;
        FailureCause cause;
    } cases[] = {
        {QStringLiteral("http://speed.lab.test:%1").arg(port), FailureCause::nameNotResolved},
        {baseURL, FailureCause::unreachable},
    };
    LoadGenerator generator;
    for (const auto& c : cases) {
        auto configuration = LoadSource::Configuration::forBaseURL(c.base);
        configuration.maxDuration = 3s;
        configuration.streams = 2;
        for (LoadDirection direction : {LoadDirection::download, LoadDirection::upload}) {
            SCOPED_TRACE(c.base.toStdString() + (direction == LoadDirection::download ? " down" : " up"));
            const auto started = std::chrono::steady_clock::now();
            const LoadPhaseResult r = generator.runPhase(direction, configuration);
            // Far below the 13-s connect limit a lookup or a connection left hanging would take.
            EXPECT_LT(test::secondsSince(started), 8.0) << "ends at the limit";
            EXPECT_EQ(r.bytesTransferred, 0);
            EXPECT_EQ(r.failure, c.cause);
            const std::optional<QString> message = unloadedPhaseMessage(r);
            ASSERT_TRUE(message);
            EXPECT_TRUE(message->contains(failureSentence(c.cause))) << message->toStdString();
        }
    }
}

} // namespace
} // namespace pv
