// The rules of one probe batch (pure), and whole batches against loopback servers. The echo targets
// here are loopback addresses only; outside the lab the ICMP socket may well be refused, so these
// tests look at the batch's shape, the HTTP and DNS samples and the DNS rhythm, not at echo replies.

#include "core/probes/NativeProbeService.h"

#include "tests/probes/DnsHttpTestSupport.h"

#include <gtest/gtest.h>

#include <QMutex>

#include <cmath>

using namespace pv;
using namespace std::chrono_literals;

namespace {

const RouteSnapshot kRoute{1'700'000'000.0, QStringLiteral("lo"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("127.0.0.1")};

EchoSeries series(std::vector<EchoOutcome> outcomes) { return EchoSeries{QStringLiteral("192.0.2.1"), std::move(outcomes)}; }

NetworkSample echo(const EchoSeries& s, int echoes = 3)
{
    const ProbeTarget target(ProbeKind::gateway, QStringLiteral("Router"), s.host);
    return NativeProbeService::echoSample(s, echoes, target, kRoute, QUuid::createUuid(), 5.0);
}

MeasurementProfile loopbackProfile(int dnsEvery = 4)
{
    MeasurementProfile p = MeasurementProfile::defaultProfile();
    p.publicProbeHosts = {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")};
    p.echoTimeout = 200ms;
    p.echoSpacing = 10ms;
    p.dnsEveryNthBatch = dnsEvery;
    p.dnsProbeZone = QStringLiteral("nxdomain.loop.test");
    return p;
}

} // namespace

TEST(ProbeServiceRulesTest, DnsRunsOnBatchesWithRemainderOne)
{
    std::vector<int> withDNS;
    for (int batch = 1; batch <= 13; ++batch)
        if (NativeProbeService::isDNSBatch(batch, 4))
            withDNS.push_back(batch);
    EXPECT_EQ(withDNS, (std::vector<int>{1, 5, 9, 13}));
    for (int batch = 1; batch <= 20; ++batch) {
        EXPECT_FALSE(NativeProbeService::isDNSBatch(batch, 1)) << batch; // remainder always 0
        EXPECT_FALSE(NativeProbeService::isDNSBatch(batch, 0)) << batch; // no period: never, no division
        EXPECT_EQ(NativeProbeService::isDNSBatch(batch, 2), batch % 2 == 1);
    }
}

TEST(ProbeServiceRulesTest, EchoTargetsBelongToTheirSlots)
{
    MeasurementProfile p = MeasurementProfile::defaultProfile();
    RouteSnapshot route = kRoute;
    route.gatewayAddress = QStringLiteral("10.0.0.1");

    p.publicProbeHosts = {};
    auto t = NativeProbeService::echoTargets(p, route);
    EXPECT_EQ(t[0], ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), QStringLiteral("10.0.0.1")));
    EXPECT_EQ(t[0].id, QStringLiteral("gateway-10.0.0.1"));
    EXPECT_EQ(t[1], ProbeTarget(ProbeKind::publicIP, QStringLiteral("Cloudflare"), QStringLiteral("1.1.1.1")));
    EXPECT_EQ(t[2], ProbeTarget(ProbeKind::publicIP, QStringLiteral("Google DNS"), QStringLiteral("8.8.8.8")));
    EXPECT_EQ(t[2].id, QStringLiteral("publicIP-8.8.8.8"));

    p.publicProbeHosts = {QStringLiteral("9.9.9.9")};
    t = NativeProbeService::echoTargets(p, route);
    EXPECT_EQ(t[1].host, QStringLiteral("9.9.9.9"));
    EXPECT_EQ(t[1].label, QStringLiteral("Cloudflare"));
    EXPECT_EQ(t[2].host, QStringLiteral("8.8.8.8"));

    p.publicProbeHosts = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    t = NativeProbeService::echoTargets(p, route);
    EXPECT_EQ(t[1].host, QStringLiteral("a"));
    EXPECT_EQ(t[2].host, QStringLiteral("b"));
    EXPECT_EQ(t[2].label, QStringLiteral("Google DNS"));
}

// The families a batch measures follow the route (and the switch, where IPv4 is there to fall back
// on); the IPv6 router is zoned by the interface when it is link-local; a check page named by an
// address is fetched over that address's family only.
TEST(ProbeServiceRulesTest, FamiliesFollowTheRouteAndTheSwitch)
{
    using F = AddressFamily;
    RouteSnapshot dual = kRoute;
    dual.ipv6LocalAddress = QStringLiteral("fd77::2");
    dual.ipv6GatewayAddress = QStringLiteral("fe80::1");
    RouteSnapshot v6Only = dual;
    v6Only.hasIPv4 = false;
    RouteSnapshot routerOnly = kRoute; // an IPv6 router but no global address
    routerOnly.ipv6GatewayAddress = QStringLiteral("fe80::1");
    struct Case {
        RouteSnapshot route;
        bool switchedOn;
        std::vector<F> families;
    };
    for (const Case& c : {Case{kRoute, true, {F::ipv4}}, Case{routerOnly, true, {F::ipv4}}, Case{dual, true, {F::ipv4, F::ipv6}},
                          Case{dual, false, {F::ipv4}}, Case{v6Only, true, {F::ipv6}}, Case{v6Only, false, {F::ipv6}}})
        EXPECT_EQ(NativeProbeService::measuredFamilies(c.route, c.switchedOn), c.families);

    MeasurementProfile p = MeasurementProfile::defaultProfile();
    auto t = NativeProbeService::echoTargetsV6(p, dual);
    EXPECT_EQ(t[0], ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), QStringLiteral("fe80::1%lo")));
    EXPECT_EQ(t[1], ProbeTarget(ProbeKind::publicIP, QStringLiteral("Cloudflare"), QStringLiteral("2606:4700:4700::1111")));
    EXPECT_EQ(t[2], ProbeTarget(ProbeKind::publicIP, QStringLiteral("Google DNS"), QStringLiteral("2001:4860:4860::8888")));
    dual.ipv6GatewayAddress = QStringLiteral("2001:db8::1");
    EXPECT_EQ(NativeProbeService::echoTargetsV6(p, dual)[0].host, QStringLiteral("2001:db8::1"));

    EXPECT_EQ(HTTPProbe::literalFamily(QStringLiteral("http://10.79.0.1:8080/a")), F::ipv4);
    EXPECT_EQ(HTTPProbe::literalFamily(QStringLiteral("http://[fd79::1]:8080/a")), F::ipv6);
    EXPECT_EQ(HTTPProbe::literalFamily(QStringLiteral("http://check.lab.test/a")), std::nullopt);
}

// IPv6's grace beside IPv4: the short one without replies and for a quick path, half as long again
// as the highest recent round-trip time for a slow one, never beyond the echo time-out.
TEST(ProbeServiceRulesTest, IPv6GraceCoversTheRecentRoundTripTimes)
{
    using R = std::deque<double>;
    for (const auto& [rtts, timeout, grace] : {std::tuple{R{}, 1500ms, 200ms}, {R{3.0, 40.0}, 1500ms, 200ms},
                                              {R{2.0, 700.0, 300.0}, 1500ms, 1050ms}, {R{1200.0}, 1500ms, 1500ms},
                                              {R{600.0}, 100ms, 200ms}})
        EXPECT_EQ(NativeProbeService::besideGraceFor(rtts, timeout), grace) << rtts.size();
}

TEST(ProbeServiceRulesTest, EchoSeriesBecomesOneSample)
{
    const auto mixed = echo(series({EchoOutcome::reply(12, 60), EchoOutcome::reply(20, 60), EchoOutcome::timeout()}));
    EXPECT_EQ(mixed.latencyMilliseconds, 16.0);
    EXPECT_TRUE(mixed.success);
    EXPECT_EQ(mixed.timeoutCount, 1);
    ASSERT_TRUE(mixed.packetLoss);
    EXPECT_DOUBLE_EQ(*mixed.packetLoss, 1.0 / 3.0);
    EXPECT_FALSE(mixed.errorDescription);
    EXPECT_EQ(mixed.timestamp, 5.0);
    EXPECT_EQ(mixed.route, kRoute);

    const auto unreachable = echo(series({EchoOutcome::timeout(), EchoOutcome::unreachable(QStringLiteral("no way")),
                                          EchoOutcome::timeout()}));
    EXPECT_FALSE(unreachable.success);
    EXPECT_FALSE(unreachable.latencyMilliseconds);
    EXPECT_EQ(unreachable.timeoutCount, 3);
    EXPECT_EQ(unreachable.packetLoss, 1.0);
    EXPECT_EQ(unreachable.errorDescription, QStringLiteral("no way"));

    // Stopped while the first echo waited: abandoned, then two send failures.
    const auto stopped = echo(series({EchoOutcome::abandoned(), EchoOutcome::sendFailed(QStringLiteral("closed")),
                                      EchoOutcome::sendFailed(QStringLiteral("closed"))}));
    EXPECT_EQ(stopped.timeoutCount, 3);
    EXPECT_EQ(stopped.packetLoss, 1.0);
    EXPECT_EQ(stopped.errorDescription, QStringLiteral("A mérés leállt, mielőtt a válasz megérkezett volna."));

    const auto silent = echo(series({EchoOutcome::timeout(), EchoOutcome::timeout(), EchoOutcome::timeout()}));
    EXPECT_EQ(silent.errorDescription, QStringLiteral("A várakozási időn belül nem érkezett válasz."));
    EXPECT_EQ(silent.packetLoss, 1.0);

    const auto none = echo(series({}), 0);
    EXPECT_FALSE(none.success);
    EXPECT_FALSE(none.latencyMilliseconds);
    EXPECT_EQ(none.timeoutCount, 0);
    EXPECT_FALSE(none.packetLoss);
    EXPECT_EQ(none.errorDescription, QStringLiteral("A várakozási időn belül nem érkezett válasz."));

    const auto onlyAbandoned = echo(series({EchoOutcome::abandoned()}), 1);
    EXPECT_FALSE(onlyAbandoned.packetLoss);
    EXPECT_EQ(onlyAbandoned.timeoutCount, 1);
}

TEST(ProbeServiceRulesTest, HttpOutcomesBecomeSamples)
{
    const QString url = QStringLiteral("http://192.0.2.1/hotspot-detect.html");
    const QUuid batch = QUuid::createUuid();
    const auto make = [&](const HTTPProbeOutcome& o) { return NativeProbeService::httpSample(o, url, kRoute, batch, 7.0); };

    const auto ok = make(HTTPProbeOutcome::success(42.5, HTTPPhases{1.0, 2.0, std::nullopt, 3.0}));
    EXPECT_EQ(ok.target, ProbeTarget(ProbeKind::http, QStringLiteral("HTTP probe"), url));
    EXPECT_EQ(ok.target.id, QStringLiteral("http-") + url);
    EXPECT_EQ(ok.batchID, batch);
    EXPECT_EQ(ok.latencyMilliseconds, 42.5);
    EXPECT_TRUE(ok.success);
    EXPECT_EQ(ok.timeoutCount, 0);
    EXPECT_EQ(ok.packetLoss, 0.0);
    EXPECT_FALSE(ok.errorDescription);

    const struct {
        HTTPProbeOutcome outcome;
        const char* text;
    } failures[] = {
        {HTTPProbeOutcome::captivePortal(302), "A login page intercepted the request (status 302)."},
        {HTTPProbeOutcome::captivePortal(200), "A login page intercepted the request (status 200)."},
        {HTTPProbeOutcome::unexpectedStatus(500), "Unexpected status 500."},
        {HTTPProbeOutcome::failed(QStringLiteral("Couldn't connect to server")), "Couldn't connect to server"},
        {HTTPProbeOutcome::timedOut(), "The request timed out."},
    };
    for (const auto& f : failures) {
        const auto s = make(f.outcome);
        EXPECT_FALSE(s.success) << f.text;
        EXPECT_FALSE(s.latencyMilliseconds) << f.text;
        EXPECT_EQ(s.timeoutCount, 1) << f.text;
        EXPECT_EQ(s.packetLoss, 1.0) << f.text;
        EXPECT_EQ(s.errorDescription, QString::fromUtf8(f.text));
    }
}

TEST(ProbeServiceRulesTest, DnsResultsBecomeSamples)
{
    const QString name = QStringLiteral("pvabcdefghijkl.probe.z.test");
    const auto make = [&](const DNSProbeResult& r) {
        return NativeProbeService::dnsSample(r, kRoute, QUuid::createUuid(), 9.0);
    };
    const auto negative = make(DNSProbeResult::responded(name, 8.25, DNSResponseKind::noSuchName));
    EXPECT_EQ(negative.target, ProbeTarget(ProbeKind::dns, QStringLiteral("DNS resolve"), name));
    EXPECT_EQ(negative.target.id, QStringLiteral("dns-") + name);
    EXPECT_TRUE(negative.success);
    EXPECT_EQ(negative.latencyMilliseconds, 8.25);
    EXPECT_EQ(negative.timeoutCount, 0);
    EXPECT_EQ(negative.packetLoss, 0.0);
    EXPECT_FALSE(negative.errorDescription);

    const auto silent = make(DNSProbeResult::timedOut(name));
    EXPECT_FALSE(silent.success);
    EXPECT_FALSE(silent.latencyMilliseconds);
    EXPECT_EQ(silent.timeoutCount, 1);
    EXPECT_EQ(silent.packetLoss, 1.0);
    EXPECT_EQ(silent.errorDescription, QStringLiteral("The resolver did not answer."));

    const auto failed = make(DNSProbeResult::unavailable(name, QStringLiteral("dnssd error 3")));
    EXPECT_FALSE(failed.success);
    EXPECT_EQ(failed.errorDescription, QStringLiteral("dnssd error 3"));
    EXPECT_EQ(failed.packetLoss, 1.0);
}

// ---------------------------------------------------------------------------------------------
class ProbeServiceLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(dnsServer_.port(), 0);
        ASSERT_GT(httpServer_.port(), 0);
    }
    NativeProbeService::Options options(const QString& mode = QStringLiteral("success"))
    {
        NativeProbeService::Options o;
        o.captivePageURL =
            QStringLiteral("http://127.0.0.1:%1/hotspot-detect.html?mode=%2").arg(httpServer_.port()).arg(mode);
        o.dnsServers = {dnsServer_.address()};
        return o;
    }

    test::LoopbackServer dnsServer_{QStringLiteral("dns_server.py"), {}};
    test::LoopbackServer httpServer_{QStringLiteral("http_server.py"), {}};
    rt::NetworkRuntime net_;
};

TEST_F(ProbeServiceLoopbackTest, BatchesHaveTheirSamplesInOrderAndDnsEveryFourth)
{
    NativeProbeService service(net_.executor(), loopbackProfile(4), options());
    test::runOn(net_, service.start(std::nullopt));
    for (int number = 1; number <= 9; ++number) {
        const auto batch = test::runOn(net_, service.collectBatch(kRoute));
        ASSERT_TRUE(batch);
        const bool dns = number == 1 || number == 5 || number == 9;
        ASSERT_EQ(batch->samples.size(), dns ? 5u : 4u) << "batch " << number;
        const auto& s = batch->samples;
        EXPECT_EQ(s[0].target.id, QStringLiteral("gateway-127.0.0.1"));
        EXPECT_EQ(s[0].target.label, QStringLiteral("Router"));
        EXPECT_EQ(s[1].target.id, QStringLiteral("publicIP-127.0.0.2"));
        EXPECT_EQ(s[1].target.label, QStringLiteral("Cloudflare"));
        EXPECT_EQ(s[2].target.id, QStringLiteral("publicIP-127.0.0.3"));
        EXPECT_EQ(s[2].target.label, QStringLiteral("Google DNS"));
        EXPECT_EQ(s[3].target.kind, ProbeKind::http);
        EXPECT_EQ(s[3].target.host, service.captivePageURL());
        EXPECT_TRUE(s[3].success) << s[3].errorDescription.value_or(QString()).toStdString();
        if (dns) {
            EXPECT_EQ(s[4].target.kind, ProbeKind::dns);
            EXPECT_EQ(s[4].target.label, QStringLiteral("DNS resolve"));
            EXPECT_TRUE(s[4].target.host.endsWith(QStringLiteral(".probe.nxdomain.loop.test")));
            EXPECT_TRUE(s[4].success); // NXDOMAIN is an answer
            EXPECT_TRUE(s[4].latencyMilliseconds);
            EXPECT_GE(s[4].timestamp, s[3].timestamp); // after the others
        }
        double earliest = s[0].timestamp;
        for (const auto& sample : s) {
            EXPECT_EQ(sample.batchID, batch->id);
            EXPECT_EQ(sample.route, kRoute);
            earliest = std::min(earliest, sample.timestamp);
        }
        EXPECT_EQ(batch->timestamp, earliest);
        EXPECT_EQ(batch->route, kRoute);
        EXPECT_FALSE(batch->cutShort);
    }
    test::runOn(net_, service.stop());
}

TEST_F(ProbeServiceLoopbackTest, ZeroPeriodNeverQueriesDnsAndOutcomesReachTheSamples)
{
    NativeProbeService service(net_.executor(), loopbackProfile(0), options(QStringLiteral("302")));
    for (int number = 1; number <= 5; ++number) {
        const auto batch = test::runOn(net_, service.collectBatch(kRoute));
        ASSERT_TRUE(batch);
        ASSERT_EQ(batch->samples.size(), 4u);
        const auto& web = batch->samples[3];
        EXPECT_FALSE(web.success);
        EXPECT_EQ(web.errorDescription, QStringLiteral("A login page intercepted the request (status 302)."));
        EXPECT_EQ(web.packetLoss, 1.0);
    }
    EXPECT_FALSE(dnsServer_.log().contains(QStringLiteral("loop.test")));
}

TEST_F(ProbeServiceLoopbackTest, EchoesWithoutAnOpenSocketFailAsSamples)
{
    // Never started: every echo ends as a send failure, and the batch is whole all the same.
    NativeProbeService service(net_.executor(), loopbackProfile(4), options());
    const auto batch = test::runOn(net_, service.collectBatch(kRoute));
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->samples.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        const auto& s = batch->samples[i];
        EXPECT_FALSE(s.success);
        EXPECT_EQ(s.timeoutCount, 3);
        EXPECT_EQ(s.packetLoss, 1.0);
        EXPECT_EQ(s.errorDescription, QStringLiteral("The ICMP socket is not open."));
    }
    EXPECT_FALSE(test::runOn(net_, service.isStarted()).value_or(true));
}

namespace {
QMutex gLogMutex;
QStringList gCriticalProbeLogs;
void captureProbeLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtCriticalMsg && QLatin1String(context.category) == QLatin1String("com.tovarhelm.polvarine.probe")) {
        QMutexLocker lock(&gLogMutex);
        gCriticalProbeLogs << message;
    }
}
int probeLogCount()
{
    QMutexLocker lock(&gLogMutex);
    return static_cast<int>(gCriticalProbeLogs.size());
}
} // namespace

TEST_F(ProbeServiceLoopbackTest, FailedStartIsLoggedAndTriedAgain)
{
    NativeProbeService service(net_.executor(), loopbackProfile(4), options());
    const auto previous = qInstallMessageHandler(captureProbeLog);
    test::runOn(net_, service.start(std::nullopt));
    const bool started = test::runOn(net_, service.isStarted()).value_or(false);
    if (started) {
        qInstallMessageHandler(previous);
        test::runOn(net_, service.stop());
        GTEST_SKIP() << "this machine allows unprivileged ICMP sockets: the start cannot fail here";
    }
    EXPECT_EQ(probeLogCount(), 1);
    test::runOn(net_, service.start(std::nullopt)); // not started: tries again
    test::runOn(net_, service.rebind(QStringLiteral("lo")));
    qInstallMessageHandler(previous);
    EXPECT_EQ(probeLogCount(), 3);
    EXPECT_FALSE(test::runOn(net_, service.isStarted()).value_or(true));
    QMutexLocker lock(&gLogMutex);
    for (const QString& line : gCriticalProbeLogs)
        EXPECT_TRUE(line.startsWith(QStringLiteral("ICMP probe could not start: "))) << line.toStdString();
}
