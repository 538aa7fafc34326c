// The HTTP probe in the lab, against the check-page server on 10.79.0.1 behind the lab router, and
// the samples the probe service makes of each outcome.

#include "core/probes/NativeProbeService.h"

#include "tests/probes/DnsHttpLabSupport.h"

#include <gtest/gtest.h>

using namespace pv;
using namespace std::chrono_literals;

namespace {

class HttpLabTest : public test::LabServersTest {
protected:
    // The HTTP sample (the fourth) of one batch of a service checking `url`; no DNS step.
    NetworkSample httpSampleOfBatch(const QString& url)
    {
        MeasurementProfile profile = MeasurementProfile::defaultProfile();
        profile.dnsEveryNthBatch = 0;
        NativeProbeService service(net_.executor(), profile, {url, {}});
        const auto batch = test::runOn(net_, service.collectBatch(route()));
        EXPECT_TRUE(batch && batch->samples.size() == 4u);
        if (!batch || batch->samples.size() != 4u)
            return {};
        EXPECT_EQ(batch->samples[3].target, ProbeTarget(ProbeKind::http, QStringLiteral("HTTP probe"), url));
        return batch->samples[3];
    }

    static void expectFailedSample(const NetworkSample& s, const QString& text)
    {
        EXPECT_FALSE(s.success);
        EXPECT_FALSE(s.latencyMilliseconds);
        EXPECT_EQ(s.timeoutCount, 1);
        EXPECT_EQ(s.packetLoss, 1.0);
        EXPECT_EQ(s.errorDescription, text);
    }
};

} // namespace

TEST_F(HttpLabTest, CheckPageSucceedsWithItsPhases)
{
    HTTPProbe probe(5s);
    const auto outcome = test::runOn(net_, probe.measure(servers_->pageURL()));
    ASSERT_TRUE(outcome);
    ASSERT_TRUE(outcome->isSuccess()) << outcome->message.toStdString();
    ASSERT_TRUE(outcome->phases);
    EXPECT_TRUE(outcome->phases->connectMilliseconds);
    EXPECT_TRUE(outcome->phases->requestToResponseMilliseconds);
    EXPECT_FALSE(outcome->phases->tlsMilliseconds);

    const auto s = httpSampleOfBatch(servers_->pageURL());
    EXPECT_TRUE(s.success);
    ASSERT_TRUE(s.latencyMilliseconds);
    EXPECT_GT(*s.latencyMilliseconds, 0.0);
    EXPECT_EQ(s.timeoutCount, 0);
    EXPECT_EQ(s.packetLoss, 0.0);
    EXPECT_FALSE(s.errorDescription);
    EXPECT_TRUE(servers_->httpLog().contains(QStringLiteral(" /hotspot-detect.html Polvarine\n")));
}

TEST_F(HttpLabTest, LoginPagesAndRedirectsAreCaptivePortals)
{
    expectFailedSample(httpSampleOfBatch(servers_->pageURL(QStringLiteral("other"))),
                       QStringLiteral("A login page intercepted the request (status 200)."));
    expectFailedSample(httpSampleOfBatch(servers_->pageURL(QStringLiteral("302"))),
                       QStringLiteral("A login page intercepted the request (status 302)."));
    expectFailedSample(httpSampleOfBatch(servers_->pageURL(QStringLiteral("399"))),
                       QStringLiteral("A login page intercepted the request (status 399)."));
}

TEST_F(HttpLabTest, ServerErrorIsAnUnexpectedStatus)
{
    expectFailedSample(httpSampleOfBatch(servers_->pageURL(QStringLiteral("500"))), QStringLiteral("Unexpected status 500."));
}

TEST_F(HttpLabTest, RefusedConnectionFailsWithCurlsText)
{
    const QString url = QStringLiteral("http://%1:%2/hotspot-detect.html").arg(lab_->servicesAddr).arg(test::kLabHTTPPort + 1);
    expectFailedSample(httpSampleOfBatch(url), QStringLiteral("Couldn't connect to server"));
}

TEST_F(HttpLabTest, StalledServerTimesOutAfterFiveSeconds)
{
    const auto start = std::chrono::steady_clock::now();
    expectFailedSample(httpSampleOfBatch(servers_->pageURL(QStringLiteral("stall"))),
                       QStringLiteral("The request timed out."));
    const double took = test::secondsSince(start);
    EXPECT_GE(took, 5.0);
    EXPECT_LT(took, 6.5);
}

// The lab resolver never answers a name with the "silent" label: the system resolver would retry
// for far longer than the probe's limit, and the request must still end at that limit.
TEST_F(HttpLabTest, SilentNameLookupTimesOutAtTheLimit)
{
    const QString url = QStringLiteral("http://check.silent.lab.test:%1/hotspot-detect.html").arg(test::kLabHTTPPort);
    {
        HTTPProbe probe(2s);
        const auto start = std::chrono::steady_clock::now();
        const auto outcome = test::runOn(net_, probe.measure(url));
        const double took = test::secondsSince(start);
        ASSERT_TRUE(outcome);
        EXPECT_EQ(*outcome, HTTPProbeOutcome::timedOut()) << outcome->message.toStdString();
        EXPECT_LT(took, 4.0);
    }
    const auto start = std::chrono::steady_clock::now();
    expectFailedSample(httpSampleOfBatch(url), QStringLiteral("The request timed out."));
    EXPECT_LT(test::secondsSince(start), 7.0);
    EXPECT_TRUE(servers_->dnsLog().contains(QStringLiteral("check.silent.lab.test")));
}
