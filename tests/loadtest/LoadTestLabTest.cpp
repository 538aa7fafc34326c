// The whole load test with the real ICMP probe and the real generator through the lab's router, shaped
// to 50 Mbit/s with a short and with a bloated queue. Runs only inside the network lab.

#include "loadtest/LoadTestService.h"
#include "tests/loadtest/ShapedLab.h"
#include "tests/probes/DnsHttpTestSupport.h"

#include <gtest/gtest.h>

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
}

} // namespace
} // namespace pv
