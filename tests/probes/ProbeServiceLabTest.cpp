// Whole probe batches in the lab: real echoes to the lab router and the lab's 1.1.1.1 and 8.8.8.8,
// the check page and the DNS zone on 10.79.0.1, all through the lab router.

#include "core/probes/NativeProbeService.h"
#include "core/probes/NetworkTopology.h"

#include "tests/probes/DnsHttpLabSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace pv;
using namespace std::chrono_literals;

namespace {

const QString kSilentText = QStringLiteral("A várakozási időn belül nem érkezett válasz.");

class ProbeServiceLabTest : public test::LabServersTest {
protected:
    static MeasurementProfile labProfile(const QString& zone)
    {
        MeasurementProfile p = MeasurementProfile::defaultProfile(); // 1.1.1.1 and 8.8.8.8, 3 echoes
        p.dnsProbeZone = zone;
        return p;
    }

    static void expectEchoSuccess(const NetworkSample& s)
    {
        EXPECT_TRUE(s.success) << s.target.id.toStdString() << ": " << s.errorDescription.value_or(QString()).toStdString();
        EXPECT_TRUE(s.latencyMilliseconds);
        EXPECT_EQ(s.timeoutCount, 0);
        EXPECT_EQ(s.packetLoss, 0.0);
        EXPECT_FALSE(s.errorDescription);
    }
};

// Runs on scope exit; the lab is shared by the tests of this program.
template <typename F> struct Restore {
    F f;
    ~Restore() { f(); }
};
template <typename F> Restore(F) -> Restore<F>;

} // namespace

TEST_F(ProbeServiceLabTest, BatchesKeepTheirOrderAndQueryDnsInBatchesOneFiveAndNine)
{
    NativeProbeService service(net_.executor(), labProfile(QStringLiteral("rhythm.answer.lab.test")),
                               {servers_->pageURL(), {}});
    test::runOn(net_, service.start(lab_->clientIf));
    ASSERT_TRUE(test::runOn(net_, service.isStarted()).value_or(false));
    std::vector<int> dnsBatches;
    for (int number = 1; number <= 10; ++number) {
        const auto batch = test::runOn(net_, service.collectBatch(route()));
        ASSERT_TRUE(batch);
        const auto& s = batch->samples;
        ASSERT_GE(s.size(), 4u);
        EXPECT_EQ(s[0].target, ProbeTarget(ProbeKind::gateway, QStringLiteral("Router"), lab_->gateway));
        EXPECT_EQ(s[1].target, ProbeTarget(ProbeKind::publicIP, QStringLiteral("Cloudflare"), QStringLiteral("1.1.1.1")));
        EXPECT_EQ(s[2].target, ProbeTarget(ProbeKind::publicIP, QStringLiteral("Google DNS"), QStringLiteral("8.8.8.8")));
        EXPECT_EQ(s[3].target, ProbeTarget(ProbeKind::http, QStringLiteral("HTTP probe"), servers_->pageURL()));
        for (int i = 0; i < 3; ++i)
            expectEchoSuccess(s[i]);
        EXPECT_TRUE(s[3].success) << s[3].errorDescription.value_or(QString()).toStdString();
        if (s.size() == 5u) {
            dnsBatches.push_back(number);
            EXPECT_EQ(s[4].target.kind, ProbeKind::dns);
            EXPECT_TRUE(s[4].success);
            EXPECT_TRUE(s[4].target.host.endsWith(QStringLiteral(".probe.rhythm.answer.lab.test")));
        }
        for (const auto& sample : s)
            EXPECT_EQ(sample.batchID, batch->id);
        const auto earliest = std::min_element(s.begin(), s.end(), [](const auto& a, const auto& b) {
            return a.timestamp < b.timestamp;
        });
        EXPECT_EQ(batch->timestamp, earliest->timestamp);
    }
    EXPECT_EQ(dnsBatches, (std::vector<int>{1, 5, 9}));
    EXPECT_EQ(servers_->dnsLog().count(QStringLiteral(".probe.rhythm.answer.lab.test")), 3);

    // Re-pinned to the interface, the service measures on; the counter runs on (batch 11: no DNS).
    test::runOn(net_, service.rebind(lab_->clientIf));
    EXPECT_TRUE(test::runOn(net_, service.isStarted()).value_or(false));
    const auto after = test::runOn(net_, service.collectBatch(route()));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->samples.size(), 4u);
    expectEchoSuccess(after->samples[0]);
    test::runOn(net_, service.stop());
    EXPECT_FALSE(test::runOn(net_, service.isStarted()).value_or(true));
}

TEST_F(ProbeServiceLabTest, TheFourProbesRunAtOnce)
{
    // Each echo series lasts about 0.6 s (two spacings of 0.3 s), the page answers after 0.6 s:
    // one after the other they would take about 2.4 s, at once about 0.6 s.
    MeasurementProfile profile = labProfile(QStringLiteral("answer.lab.test"));
    profile.echoSpacing = 300ms;
    profile.dnsEveryNthBatch = 0;
    NativeProbeService service(net_.executor(), profile, {servers_->pageURL(QStringLiteral("slow:600")), {}});
    test::runOn(net_, service.start(std::nullopt));
    const auto start = std::chrono::steady_clock::now();
    const auto batch = test::runOn(net_, service.collectBatch(route()));
    const double took = test::secondsSince(start);
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->samples.size(), 4u);
    for (const auto& s : batch->samples)
        EXPECT_TRUE(s.success) << s.target.id.toStdString();
    EXPECT_GE(took, 0.6);
    EXPECT_LT(took, 1.5) << "the probes ran one after the other";
    // Every sample is stamped when its probe ends: all four end together.
    const auto [first, last] = std::minmax_element(batch->samples.begin(), batch->samples.end(),
                                                   [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
    EXPECT_LT(last->timestamp - first->timestamp, 0.35);
    test::runOn(net_, service.stop());
}

TEST_F(ProbeServiceLabTest, WithoutRoutesFromTheInternetOnlyTheGatewayAnswers)
{
    ASSERT_EQ(lab_->run(lab_->inetNs, QStringLiteral("ip route del 10.77.0.0/24")), 0);
    Restore restore{[this] { lab_->run(lab_->inetNs, QStringLiteral("ip route replace 10.77.0.0/24 via 10.78.0.1")); }};

    NativeProbeService service(net_.executor(), labProfile(QStringLiteral("cut.answer.lab.test")),
                               {servers_->pageURL(), {}});
    test::runOn(net_, service.start(std::nullopt));
    const auto batch = test::runOn(net_, service.collectBatch(route()));
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->samples.size(), 5u); // the first batch queries DNS
    const auto& s = batch->samples;
    expectEchoSuccess(s[0]);
    for (int i = 1; i <= 2; ++i) {
        EXPECT_FALSE(s[i].success) << s[i].target.id.toStdString();
        EXPECT_FALSE(s[i].latencyMilliseconds);
        EXPECT_EQ(s[i].timeoutCount, 3);
        EXPECT_EQ(s[i].packetLoss, 1.0);
        EXPECT_EQ(s[i].errorDescription, kSilentText);
    }
    EXPECT_FALSE(s[3].success);
    EXPECT_EQ(s[3].errorDescription, QStringLiteral("The request timed out."));
    EXPECT_FALSE(s[4].success);
    EXPECT_EQ(s[4].errorDescription, QStringLiteral("The resolver did not answer."));
    test::runOn(net_, service.stop());
}

// Each family is measured where the client's network has it, and only over that family: the route
// is the one the sampler reads from the client's own topology. A dual-stack batch holds both
// families (ICMPv6 to the link-local router and the public IPv6 hosts, the check page over IPv6, an
// AAAA query); an IPv6-only client has no IPv4 target at all; without IPv6 nothing goes over it.
TEST_F(ProbeServiceLabTest, EachFamilyIsMeasuredWhereTheNetworkHasIt)
{
    const QString page = QStringLiteral("http://%1:%2/hotspot-detect.html").arg(lab_->checkHost).arg(test::kLabHTTPPort);
    const std::pair<ProbeKind, QString> v4[] = {{ProbeKind::gateway, lab_->gateway}, {ProbeKind::publicIP, "1.1.1.1"},
                                                {ProbeKind::publicIP, "8.8.8.8"}, {ProbeKind::http, page}};
    const std::pair<ProbeKind, QString> v6[] = {{ProbeKind::gateway, lab_->gateway6 + "%" + lab_->clientIf},
                                                {ProbeKind::publicIP, "2606:4700:4700::1111"},
                                                {ProbeKind::publicIP, "2001:4860:4860::8888"}, {ProbeKind::http, page}};
    struct Case {
        const char* network;
        bool ipv4, ipv6;
    };
    for (const Case& c : {Case{"dual-stack", true, true}, Case{"IPv6 only", false, true}, Case{"IPv4 only", true, false}}) {
        SCOPED_TRACE(c.network);
        Restore restore{[this] { lab_->clearFaults(lab_->clientNs); }};
        ASSERT_TRUE(c.ipv4 || lab_->makeClientIPv6Only());
        ASSERT_TRUE(c.ipv6 || lab_->removeClientIPv6());
        const std::optional<RouteSnapshot> r = routeSnapshotOf(NetworkTopologyService().readSnapshot());
        ASSERT_TRUE(r);
        EXPECT_EQ(r->hasIPv4, c.ipv4);
        EXPECT_EQ(r->hasIPv6(), c.ipv6);

        NativeProbeService service(net_.executor(), labProfile(QStringLiteral("family.answer.lab.test")), {page, {}});
        test::runOn(net_, service.start(lab_->clientIf));
        const auto batch = test::runOn(net_, service.collectBatch(*r)); // the first batch queries DNS
        ASSERT_TRUE(batch);
        std::vector<std::tuple<AddressFamily, ProbeKind, QString>> expected, seen;
        for (const auto& [family, targets, wanted] : {std::tuple{AddressFamily::ipv4, &v4, c.ipv4},
                                                      std::tuple{AddressFamily::ipv6, &v6, c.ipv6}})
            for (const auto& [kind, host] : *targets)
                if (wanted)
                    expected.emplace_back(family, kind, host);
        for (AddressFamily family : {AddressFamily::ipv4, AddressFamily::ipv6})
            if (family == AddressFamily::ipv4 ? c.ipv4 : c.ipv6)
                expected.emplace_back(family, ProbeKind::dns, QString());
        for (const NetworkSample& s : batch->samples) {
            seen.emplace_back(s.family, s.target.kind, s.target.kind == ProbeKind::dns ? QString() : s.target.host);
            EXPECT_TRUE(s.success) << s.target.id.toStdString() << ": " << s.errorDescription.value_or("").toStdString();
            if (s.family == AddressFamily::ipv6) {
                EXPECT_EQ(s.route, (RouteSnapshot{r->timestamp, lab_->clientIf, lab_->clientAddr6, lab_->gateway6}));
            }
        }
        EXPECT_EQ(seen, expected);
        test::runOn(net_, service.stop());
    }
}

// With IPv6 dropped beyond the router, the batch ends the grace after IPv4's probes: long before
// the IPv6 echoes' own (here ten-second) waits, which one after the other would take half a minute.
// A slow IPv6 path (a queue of 600 ms beyond the router) is lost to that deadline in the first batch
// at most; its late replies widen the grace, and from the next batch on it is measured.
TEST_F(ProbeServiceLabTest, ASilentIPv6PathDoesNotStretchTheBatchASlowOneIsMeasured)
{
    struct Case {
        const char* name;
        bool slow;
        std::chrono::nanoseconds echoTimeout;
    };
    for (const Case& c : {Case{"silent", false, 10s}, Case{"600 ms", true, 1500ms}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.slow ? lab_->delayIPv6BeyondRouter(600) : lab_->addIPv6LossBeyondRouter(1.0));
        Restore restore{[this] { lab_->clearFaults(lab_->routerNs); }};
        const QString page = QStringLiteral("http://%1:%2/hotspot-detect.html").arg(lab_->checkHost).arg(test::kLabHTTPPort);
        MeasurementProfile profile = labProfile(QStringLiteral("answer.lab.test"));
        profile.echoTimeout = c.echoTimeout;
        profile.dnsEveryNthBatch = 0;
        const std::optional<RouteSnapshot> r = routeSnapshotOf(NetworkTopologyService().readSnapshot());
        ASSERT_TRUE(r && r->hasIPv4 && r->hasIPv6());
        NativeProbeService service(net_.executor(), profile, {page, {}});
        test::runOn(net_, service.start(lab_->clientIf));
        const auto start = std::chrono::steady_clock::now();
        const auto batch = test::runOn(net_, service.collectBatch(*r));
        const double took = test::secondsSince(start);
        ASSERT_TRUE(batch);
        ASSERT_EQ(batch->samples.size(), 8u);
        EXPECT_LT(took, 5.0);
        for (const NetworkSample& s : batch->samples) {
            SCOPED_TRACE(s.target.id.toStdString() + " " + rawValue(s.family).toStdString());
            const bool answers = s.family == AddressFamily::ipv4 || s.target.kind == ProbeKind::gateway;
            if (answers || !c.slow) {
                EXPECT_EQ(s.success, answers) << s.errorDescription.value_or(QString()).toStdString();
            }
            if (!answers && s.target.kind == ProbeKind::publicIP && !c.slow) {
                EXPECT_EQ(s.timeoutCount, 3); // every echo went out and counts as lost
                EXPECT_EQ(s.packetLoss, 1.0);
            }
            if (!answers && s.target.kind == ProbeKind::publicIP && c.slow && s.latencyMilliseconds) {
                EXPECT_GT(*s.latencyMilliseconds, 400.0); // never a figure the path did not show
            }
        }
        // The pause between batches outlasts the echo time-out: the late replies are in.
        std::this_thread::sleep_for(c.echoTimeout < 2s ? c.echoTimeout : 0ns);
        // The next batch is no slower, and checks the page over IPv4 only (over IPv6 every 4th batch).
        const auto second = std::chrono::steady_clock::now();
        const auto next = test::runOn(net_, service.collectBatch(*r));
        EXPECT_LT(test::secondsSince(second), 5.0);
        ASSERT_TRUE(next);
        EXPECT_EQ(next->samples.size(), 7u);
        for (const NetworkSample& s : next->samples) {
            if (s.family != AddressFamily::ipv6 || s.target.kind != ProbeKind::publicIP)
                continue;
            SCOPED_TRACE(s.target.id.toStdString());
            EXPECT_EQ(s.success, c.slow);
            EXPECT_EQ(s.timeoutCount, c.slow ? 0 : 3);
            if (c.slow) {
                ASSERT_TRUE(s.latencyMilliseconds);
                EXPECT_GT(*s.latencyMilliseconds, 400.0);
                EXPECT_LT(*s.latencyMilliseconds, 1500.0);
            }
        }
        test::runOn(net_, service.stop());
    }
}

// The mirror: IPv4 dropped beyond the router while IPv6 works. The first batch waits IPv4 out; from
// the second on the quiet IPv4 is held to IPv6's deadline (the batch ends before one IPv4 echo's own
// time-out; a dropped page request is not queued twice), and once it answers again its page is
// waited for in full.
TEST_F(ProbeServiceLabTest, AQuietIPv4BesideAWorkingIPv6IsHeldToTheDeadlineUntilItAnswers)
{
    const QString page = QStringLiteral("http://%1:%2/hotspot-detect.html").arg(lab_->checkHost).arg(test::kLabHTTPPort);
    MeasurementProfile profile = labProfile(QStringLiteral("answer.lab.test"));
    profile.echoTimeout = 3s;
    profile.dnsEveryNthBatch = 0;
    const std::optional<RouteSnapshot> r = routeSnapshotOf(NetworkTopologyService().readSnapshot());
    ASSERT_TRUE(r && r->hasIPv4 && r->hasIPv6());
    ASSERT_TRUE(lab_->dropIPv4BeyondRouter());
    Restore restore{[this] { lab_->clearFaults(lab_->routerNs); }};
    NativeProbeService service(net_.executor(), profile, {page, {}});
    test::runOn(net_, service.start(lab_->clientIf));
    ASSERT_TRUE(test::runOn(net_, service.collectBatch(*r)));
    const auto start = std::chrono::steady_clock::now();
    const auto quiet = test::runOn(net_, service.collectBatch(*r));
    EXPECT_LT(test::secondsSince(start), 3.0);
    ASSERT_TRUE(quiet);
    for (const NetworkSample& s : quiet->samples) {
        SCOPED_TRACE(s.target.id.toStdString() + " " + rawValue(s.family).toStdString());
        const bool answers = s.family == AddressFamily::ipv6 || s.target.kind == ProbeKind::gateway;
        EXPECT_EQ(s.success, answers) << s.errorDescription.value_or(QString()).toStdString();
        if (s.family == AddressFamily::ipv4 && s.target.kind == ProbeKind::publicIP) {
            EXPECT_EQ(s.timeoutCount, 3);
        }
    }
    ASSERT_TRUE(lab_->clearFaults(lab_->routerNs));
    // No page is sent while the dropped one runs out its own time-out: the first batch that has one.
    bool paged = false;
    for (int i = 0; i < 20 && !paged; ++i) {
        std::this_thread::sleep_for(500ms);
        const auto back = test::runOn(net_, service.collectBatch(*r));
        ASSERT_TRUE(back);
        for (const NetworkSample& s : back->samples)
            if (s.family == AddressFamily::ipv4) {
                paged = paged || s.target.kind == ProbeKind::http;
                EXPECT_TRUE(s.success) << s.target.id.toStdString() << ": " << s.errorDescription.value_or("").toStdString();
            }
    }
    EXPECT_TRUE(paged);
    test::runOn(net_, service.stop());
}

rt::awaitable<void> stopAfter(rt::NetworkRuntime& net, NativeProbeService& service, std::chrono::milliseconds delay)
{
    co_await rt::sleepFor(net.executor(), delay);
    co_await service.stop();
}

TEST_F(ProbeServiceLabTest, StopDuringABatchAbandonsTheWaitingEchoes)
{
    ASSERT_TRUE(lab_->dropAll(lab_->routerNs, QStringLiteral("1.1.1.1")));
    ASSERT_TRUE(lab_->dropAll(lab_->routerNs, QStringLiteral("8.8.8.8")));
    Restore restore{[this] { lab_->clearFaults(lab_->routerNs); }};

    MeasurementProfile profile = labProfile(QStringLiteral("answer.lab.test"));
    profile.dnsEveryNthBatch = 0;
    NativeProbeService service(net_.executor(), profile, {servers_->pageURL(), {}});
    test::runOn(net_, service.start(std::nullopt));
    // The stop runs on the service while the batch waits for the public hosts' first echoes.
    asio::co_spawn(net_.executor(), stopAfter(net_, service, 400ms), asio::detached);
    const auto batch = test::runOn(net_, service.collectBatch(route()));
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->samples.size(), 4u);
    for (int i = 1; i <= 2; ++i) {
        const auto& s = batch->samples[i];
        EXPECT_FALSE(s.success);
        EXPECT_EQ(s.timeoutCount, 3);
        EXPECT_EQ(s.packetLoss, 1.0); // the two send failures; the abandoned echo does not count
        EXPECT_EQ(s.errorDescription, QStringLiteral("A mérés leállt, mielőtt a válasz megérkezett volna."));
    }
    EXPECT_TRUE(batch->samples[3].success);
    EXPECT_FALSE(test::runOn(net_, service.isStarted()).value_or(true));
}
