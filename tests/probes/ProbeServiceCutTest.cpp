// A probe batch that measuring stops in the middle of, against loopback servers: the stop (or a
// re-pin of the echo socket) ends the waits between its echoes, skips its DNS step, and the batch
// says it was cut short instead of passing the echoes it could not finish off as lost.

#include "core/probes/NativeProbeService.h"

#include "tests/probes/DnsHttpTestSupport.h"

#include <gtest/gtest.h>

#include <QThread>

#include <functional>
#include <future>

using namespace pv;
using namespace std::chrono_literals;

namespace {

const RouteSnapshot kRoute{1'700'000'000.0, QStringLiteral("lo"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("127.0.0.1")};

} // namespace

TEST(ProbeServiceCutTest, ABatchStoppedOrRepinnedInFlightComesBackCutShortWithoutItsDnsStep)
{
    struct Case {
        const char* name;
        std::function<rt::awaitable<void>(NativeProbeService&)> cut;
    };
    const std::vector<Case> cases{
        {"stop", [](NativeProbeService& s) { return s.stop(); }},
        {"rebind", [](NativeProbeService& s) { return s.rebind(QStringLiteral("lo")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::LoopbackServer dns(QStringLiteral("dns_server.py"), {});
        test::LoopbackServer http(QStringLiteral("http_server.py"), {});
        ASSERT_GT(dns.port(), 0);
        ASSERT_GT(http.port(), 0);
        rt::NetworkRuntime net;
        MeasurementProfile profile = MeasurementProfile::defaultProfile();
        profile.publicProbeHosts = {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")};
        profile.echoTimeout = 200ms;
        profile.echoSpacing = 60s; // whole, a series would take two minutes
        profile.dnsEveryNthBatch = 4; // the first batch is a DNS batch
        profile.dnsProbeZone = QStringLiteral("nxdomain.loop.test");
        NativeProbeService::Options options;
        options.captivePageURL = QStringLiteral("http://127.0.0.1:%1/hotspot-detect.html").arg(http.port());
        options.dnsServers = {dns.address()};
        NativeProbeService service(net.executor(), profile, options);
        test::runOn(net, service.start(std::nullopt));

        auto result = std::make_shared<std::promise<ProbeBatch>>();
        std::future<ProbeBatch> batch = result->get_future();
        asio::co_spawn(net.executor(), service.collectBatch(kRoute),
                       [result](std::exception_ptr, ProbeBatch b) { result->set_value(std::move(b)); });
        // The page's request is in: all four children run, the echo series wait between echoes.
        for (int i = 0; i < 500 && http.log().isEmpty(); ++i)
            QThread::msleep(20);
        ASSERT_FALSE(http.log().isEmpty());
        ASSERT_TRUE(test::runOn(net, c.cut(service)));

        ASSERT_EQ(batch.wait_for(30s), std::future_status::ready) << "the stop ends the waits between echoes";
        const ProbeBatch b = batch.get();
        EXPECT_TRUE(b.cutShort);
        EXPECT_EQ(b.samples.size(), 4u) << "no DNS query once measuring was stopped";
        EXPECT_FALSE(dns.log().contains(QStringLiteral("loop.test")));
        test::runOn(net, service.stop());
    }
}
