// The topology reader inside the lab's client namespace.

#include "core/probes/NetworkTopology.h"

#include "tests/lab/LabEnv.h"

#include <gtest/gtest.h>

using pv::lab::LabEnv;
using namespace pv;

namespace {

TopologySnapshot awaitSnapshot(NetworkTopologyService& service)
{
    asio::io_context io;
    auto future = asio::co_spawn(io, service.snapshot(), asio::use_future);
    io.run();
    return future.get();
}

// Puts the lab's default route back, whatever the test did to it.
struct RestoreDefaultRoute {
    const LabEnv& lab;
    ~RestoreDefaultRoute()
    {
        lab.run(lab.clientNs, QStringLiteral("ip route del default 2>/dev/null; ip route replace default via %1").arg(lab.gateway));
    }
};

} // namespace

TEST(TopologyLab, NamesTheLabInterfaceRouterAndLocalAddress)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    NetworkTopologyService service;
    const TopologySnapshot s = awaitSnapshot(service);
    EXPECT_EQ(s.primaryInterface, lab->clientIf);
    EXPECT_EQ(s.ipv4Gateway, lab->gateway);
    EXPECT_EQ(s.localIPv4, lab->clientAddr);
    EXPECT_EQ(s.ipv6Gateway, lab->gateway6);
    EXPECT_EQ(s.localIPv6, lab->clientAddr6);
    EXPECT_TRUE(s.hasDefaultRoute());
    // Without IPv6 on the link only IPv4 is there.
    ASSERT_TRUE(lab->removeClientIPv6());
    TopologySnapshot without = awaitSnapshot(service);
    without.timestamp = s.timestamp;
    EXPECT_EQ(without, TopologySnapshot(s.timestamp, lab->clientIf, lab->gateway, std::nullopt, lab->clientAddr, std::nullopt));
}

TEST(TopologyLab, WithoutDefaultRouteReportsNone)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    RestoreDefaultRoute restore{*lab};
    NetworkTopologyService service;

    ASSERT_TRUE(lab->removeClientIPv6()); // IPv4's routes alone
    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip route del default")), 0);
    TopologySnapshot s = awaitSnapshot(service);
    EXPECT_FALSE(s.hasDefaultRoute());
    EXPECT_FALSE(s.primaryInterface);
    EXPECT_FALSE(s.localIPv4);

    // A default route straight onto the link, as a tunnel has it: the interface, but no router.
    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip route add default dev %1").arg(lab->clientIf)), 0);
    s = awaitSnapshot(service);
    EXPECT_EQ(s.primaryInterface, lab->clientIf);
    EXPECT_EQ(s.localIPv4, lab->clientAddr);
    EXPECT_FALSE(s.hasDefaultRoute());

    // A second default route with a router but a worse metric: the lower metric still decides.
    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip route del default && ip route add default dev %1 metric 10 && "
                                                     "ip route add default via %2 metric 20")
                                          .arg(lab->clientIf, lab->gateway)),
              0);
    s = awaitSnapshot(service);
    EXPECT_FALSE(s.ipv4Gateway);
    ASSERT_EQ(lab->run(lab->clientNs, QStringLiteral("ip route del default dev %1 metric 10").arg(lab->clientIf)), 0);
    s = awaitSnapshot(service);
    EXPECT_EQ(s.ipv4Gateway, lab->gateway);
}
