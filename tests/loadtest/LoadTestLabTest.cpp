// The whole load test with the real ICMP probe and the real generator through the lab's router, shaped
// to 50 Mbit/s with a short and with a bloated queue. Runs only inside the network lab.

#include "loadtest/LoadTestService.h"
#include "tests/loadtest/ShapedLab.h"
#include "tests/probes/DnsHttpTestSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <cstdio>
#include <map>
#include <mutex>

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
    };

    // A test with 3 s of baseline, 10 s per load phase and 2 s of rest, ping running alongside.
    Run runTest()
    {
        LoadTestService::Timing timing;
        timing.baseline = 3s;
        timing.loadTrace = 10s;
        timing.rest = 2s;
        timing.load = LoadSource::Configuration::forBaseURL(baseURL);
        timing.load.maxDuration = 10s;
        MeasurementProfile profile = MeasurementProfile::defaultProfile();
        profile.publicProbeHosts = {QStringLiteral("1.1.1.1")};
        auto service = LoadTestService::create(net.executor(), profile, timing);

        Run run;
        std::mutex mutex;
        lab->startPing(QStringLiteral("1.1.1.1"), 60);
        const auto result = test::runOn(net, service->run(lab->env().clientIf, [&](LoadTestPhase phase) {
            std::lock_guard lock(mutex);
            run.phaseStarted[phase] = nowTimestamp();
        }), 90s);
        lab->stopPing();
        run.ping = lab->pingReplies();
        if (result && *result)
            run.result = **result;
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
        std::printf("upload: counted %lld bytes, the server read %lld (%+.2f %%), %.1f Mbit/s\n",
                    static_cast<long long>(up.bytesTransferred), static_cast<long long>(read),
                    100.0 * (static_cast<double>(up.bytesTransferred) / static_cast<double>(read) - 1.0),
                    run.result.uploadMbps());
        EXPECT_NEAR(static_cast<double>(up.bytesTransferred), static_cast<double>(read), 0.03 * static_cast<double>(read))
            << "counted " << up.bytesTransferred << ", the server read " << read;
        EXPECT_LE(run.result.uploadMbps(), test::ShapedLab::kRateMbit);
        for (double sample : up.perSecondMbps)
            EXPECT_LE(sample, 1.5 * test::ShapedLab::kRateMbit);
    }

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
    EXPECT_EQ(read, 4 * (1 << 20)) << "1 MiB of each of the 4 streams";
    EXPECT_LE(up.bytesTransferred, read);
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
            EXPECT_LT(test::secondsSince(started), 3.5) << "within 0.5 s of the limit";
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
