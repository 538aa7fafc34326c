// The DNS probe in the lab, through the client namespace's own resolver configuration
// (nameserver 10.77.0.1, forwarded by the lab router to the DNS server on 10.79.0.1:53), and the
// samples the probe service makes of each kind of answer.

#include "core/probes/NativeProbeService.h"

#include "tests/probes/DnsHttpLabSupport.h"

#include <gtest/gtest.h>

using namespace pv;
using namespace std::chrono_literals;
using Outcome = DNSProbeResult::Outcome;

namespace {

class DnsLabTest : public test::LabServersTest {
protected:
    // The probe as the service makes it: the system's resolver configuration, no servers of our own.
    DNSProbeResult resolveIn(const QString& zone)
    {
        DNSProbe probe(net_.executor(), zone);
        return test::runOn(net_, probe.resolve(std::nullopt, 3s)).value_or(DNSProbeResult{});
    }

    // The first batch of a new service always queries DNS: its fifth sample.
    NetworkSample dnsSampleOfFirstBatch(const QString& zone)
    {
        MeasurementProfile profile = MeasurementProfile::defaultProfile();
        profile.dnsProbeZone = zone;
        NativeProbeService service(net_.executor(), profile, {servers_->pageURL(), {}});
        test::runOn(net_, service.start(std::nullopt));
        const auto batch = test::runOn(net_, service.collectBatch(route()));
        test::runOn(net_, service.stop());
        EXPECT_TRUE(batch && batch->samples.size() == 5u);
        if (!batch || batch->samples.size() != 5u)
            return {};
        return batch->samples[4];
    }
};

} // namespace

TEST_F(DnsLabTest, AnsweredThroughTheSystemResolver)
{
    const auto r = resolveIn(QStringLiteral("answer.lab.test"));
    EXPECT_EQ(r.outcome, Outcome::responded);
    EXPECT_EQ(r.kind, DNSResponseKind::answered);
    EXPECT_EQ(r.answerCount, 1);
    EXPECT_EQ(r.firstAnswerAddress, QStringLiteral("192.0.2.10"));
    ASSERT_TRUE(r.latencyMilliseconds);
    // The query reached the lab server by way of the router's forwarding, exactly once.
    EXPECT_EQ(servers_->dnsLog().count(QStringLiteral("udp answer ") + r.queriedName + QLatin1Char('\n')), 1)
        << servers_->dnsLog().toStdString();

    const auto s = dnsSampleOfFirstBatch(QStringLiteral("answer.lab.test"));
    EXPECT_EQ(s.target.kind, ProbeKind::dns);
    EXPECT_EQ(s.target.label, QStringLiteral("DNS resolve"));
    EXPECT_TRUE(s.target.host.startsWith(QStringLiteral("pv")));
    EXPECT_TRUE(s.target.host.endsWith(QStringLiteral(".probe.answer.lab.test")));
    EXPECT_TRUE(s.success);
    ASSERT_TRUE(s.latencyMilliseconds);
    EXPECT_GT(*s.latencyMilliseconds, 0.0);
    EXPECT_EQ(s.timeoutCount, 0);
    EXPECT_EQ(s.packetLoss, 0.0);
    EXPECT_FALSE(s.errorDescription);
    EXPECT_TRUE(servers_->dnsLog().contains(s.target.host));
}

TEST_F(DnsLabTest, NoSuchNameIsAnAnswer)
{
    const auto r = resolveIn(QStringLiteral("nxdomain.lab.test"));
    EXPECT_EQ(r.outcome, Outcome::responded);
    EXPECT_EQ(r.kind, DNSResponseKind::noSuchName);
    EXPECT_EQ(r.answerCount, 0);

    const auto s = dnsSampleOfFirstBatch(QStringLiteral("nxdomain.lab.test"));
    EXPECT_TRUE(s.success);
    EXPECT_TRUE(s.latencyMilliseconds);
    EXPECT_EQ(s.timeoutCount, 0);
    EXPECT_EQ(s.packetLoss, 0.0);
    EXPECT_FALSE(s.errorDescription);
}

TEST_F(DnsLabTest, ARefusalIsAnAnswerThatFailsTheSample)
{
    const auto r = resolveIn(QStringLiteral("refused.lab.test"));
    EXPECT_EQ(r.outcome, Outcome::responded);
    EXPECT_EQ(r.kind, DNSResponseKind::refused);

    const auto s = dnsSampleOfFirstBatch(QStringLiteral("refused.lab.test"));
    EXPECT_FALSE(s.success);
    EXPECT_TRUE(s.latencyMilliseconds);
    EXPECT_EQ(s.timeoutCount, 1);
    EXPECT_EQ(s.packetLoss, 1.0);
    EXPECT_EQ(s.errorDescription, QStringLiteral("The resolver refused the query."));
}

TEST_F(DnsLabTest, ServerFailureFailsTheSample)
{
    const auto r = resolveIn(QStringLiteral("servfail.lab.test"));
    EXPECT_EQ(r.kind, DNSResponseKind::serverFailure);

    // Failed, with the time the error answer took: an answer, not silence.
    const auto s = dnsSampleOfFirstBatch(QStringLiteral("servfail.lab.test"));
    EXPECT_FALSE(s.success);
    EXPECT_TRUE(s.latencyMilliseconds);
    EXPECT_EQ(s.timeoutCount, 1);
    EXPECT_EQ(s.packetLoss, 1.0);
    EXPECT_EQ(s.errorDescription, QStringLiteral("The resolver answered with a server failure (SERVFAIL)."));
}

TEST_F(DnsLabTest, SilentResolverTimesOutAfterThreeSeconds)
{
    const auto start = std::chrono::steady_clock::now();
    const auto s = dnsSampleOfFirstBatch(QStringLiteral("silent.lab.test"));
    const double took = test::secondsSince(start);
    EXPECT_FALSE(s.success);
    EXPECT_FALSE(s.latencyMilliseconds);
    EXPECT_EQ(s.timeoutCount, 1);
    EXPECT_EQ(s.packetLoss, 1.0);
    EXPECT_EQ(s.errorDescription, QStringLiteral("The resolver did not answer."));
    // The echo series run first (well under a second here), then the 3 s DNS time-out.
    EXPECT_GE(took, 3.0);
    EXPECT_LT(took, 5.0);
    // c-ares retried within the window (its first try times out after 1 s): more than one query.
    EXPECT_GE(servers_->dnsLog().count(s.target.host), 2);
}
