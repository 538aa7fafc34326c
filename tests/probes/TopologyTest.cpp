#include "core/probes/NetworkTopology.h"

#include "tests/probes/TopologyTestSupport.h"

#include <netlink/addr.h>
#include <netlink/route/nexthop.h>
#include <netlink/route/route.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cmath>
#include <future>

using namespace pv;
using namespace pv::topology;
using pv::test::defaultRoute;

namespace {

// A libnl route built the way the kernel's dump fills it.
struct Route {
    rtnl_route* r = rtnl_route_alloc();
    ~Route() { rtnl_route_put(r); }

    Route(int family, const char* dst, std::uint32_t table = RT_TABLE_MAIN, std::uint32_t metric = 0)
    {
        nl_addr* d = nullptr;
        EXPECT_EQ(nl_addr_parse(dst, family, &d), 0);
        rtnl_route_set_family(r, static_cast<std::uint8_t>(family));
        rtnl_route_set_dst(r, d);
        nl_addr_put(d);
        rtnl_route_set_table(r, table);
        rtnl_route_set_type(r, RTN_UNICAST);
        rtnl_route_set_priority(r, metric);
    }
    Route& hop(int ifindex, const char* gateway = nullptr)
    {
        rtnl_nexthop* nh = rtnl_route_nh_alloc();
        rtnl_route_nh_set_ifindex(nh, ifindex);
        if (gateway != nullptr) {
            nl_addr* gw = nullptr;
            EXPECT_EQ(nl_addr_parse(gateway, rtnl_route_get_family(r), &gw), 0);
            rtnl_route_nh_set_gateway(nh, gw);
            nl_addr_put(gw);
        }
        rtnl_route_add_nexthop(r, nh);
        return *this;
    }
};

} // namespace

TEST(TopologyRoutes, GatewayTextHasNoPrefixSuffixAndComesFromTheFirstHopThatNamesOne)
{
    Route v4(AF_INET, "0.0.0.0/0", RT_TABLE_MAIN, 600);
    v4.hop(3, "192.168.1.1/24"); // a gateway object that carries a prefix length
    auto e = routeEntryFrom(v4.r);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->family, AF_INET);
    EXPECT_EQ(e->dstPrefixLength, 0);
    EXPECT_EQ(e->priority, 600u);
    EXPECT_EQ(e->table, static_cast<std::uint32_t>(RT_TABLE_MAIN));
    EXPECT_EQ(e->interfaceIndex, 3);
    EXPECT_EQ(e->gateway, QStringLiteral("192.168.1.1"));

    Route v6(AF_INET6, "::/0", RT_TABLE_MAIN, 1024);
    v6.hop(2).hop(5, "fe80::1");
    e = routeEntryFrom(v6.r);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->gateway, QStringLiteral("fe80::1"));
    EXPECT_EQ(e->interfaceIndex, 5) << "the interface belongs to the hop that gave the router";

    Route tunnel(AF_INET, "0.0.0.0/0");
    tunnel.hop(7);
    e = routeEntryFrom(tunnel.r);
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->gateway);
    EXPECT_EQ(e->interfaceIndex, 7);

    Route subnet(AF_INET, "10.0.0.0/8");
    subnet.hop(3);
    EXPECT_EQ(routeEntryFrom(subnet.r)->dstPrefixLength, 8);
    EXPECT_FALSE(routeEntryFrom(nullptr));
}

TEST(TopologyRoutes, BestDefaultRouteIsTheLowestMetricOfTheMainTable)
{
    std::vector<RouteEntry> routes{
        defaultRoute(AF_INET, "wlan0", "192.168.1.1", 600),
        defaultRoute(AF_INET, "wg0", std::nullopt, 0, 51820), // a policy table is not the main one
        defaultRoute(AF_INET, "lo", std::nullopt, 0, RT_TABLE_MAIN, RTN_UNREACHABLE),
        defaultRoute(AF_INET, "eth0", "10.0.0.1", 100),
        defaultRoute(AF_INET, "eth1", "10.0.1.1", 100), // equal metric: the first in the table wins
        defaultRoute(AF_INET6, "eth9", "fe80::9", 1),
    };
    RouteEntry subnet = defaultRoute(AF_INET, "eth2", std::nullopt, 0);
    subnet.dstPrefixLength = 24;
    routes.push_back(subnet);

    auto best = bestDefaultRoute(routes, AF_INET);
    ASSERT_TRUE(best);
    EXPECT_EQ(best->interfaceName, QStringLiteral("eth0"));
    EXPECT_EQ(bestDefaultRoute(routes, AF_INET6)->interfaceName, QStringLiteral("eth9"));
    EXPECT_FALSE(bestDefaultRoute({subnet}, AF_INET));
}

TEST(TopologyRoutes, DefaultRouteWithoutGatewayUsesThePointToPointPeerOrNamesNoRouter)
{
    const std::vector<RouteEntry> ppp{defaultRoute(AF_INET, "ppp0", std::nullopt)};
    std::vector<InterfaceAddress> addresses{
        InterfaceAddress{"ppp0", AF_INET, "100.64.3.7", "100.64.0.1", IFF_UP | IFF_RUNNING | IFF_POINTOPOINT}};
    auto state = familyState(ppp, AF_INET, addresses);
    EXPECT_EQ(state.primaryInterface, QStringLiteral("ppp0"));
    EXPECT_EQ(state.router, QStringLiteral("100.64.0.1"));
    EXPECT_FALSE(state.routeWithoutRouter);

    const std::vector<RouteEntry> wg{defaultRoute(AF_INET, "wg0", std::nullopt)};
    addresses = {InterfaceAddress{"wg0", AF_INET, "10.8.0.2", std::nullopt, IFF_UP | IFF_RUNNING | IFF_POINTOPOINT}};
    state = familyState(wg, AF_INET, addresses);
    EXPECT_EQ(state.primaryInterface, QStringLiteral("wg0"));
    EXPECT_FALSE(state.router);
    EXPECT_TRUE(state.routeWithoutRouter);

    EXPECT_EQ(familyState({}, AF_INET, addresses), FamilyState{});
}

TEST(TopologyAddresses, LocalAddressFollowsListOrderSkipsLinkLocalAndCutsTheZone)
{
    const std::vector<InterfaceAddress> list{
        test::address("en01", AF_INET, "10.9.9.9"),              // a different name that merely starts alike
        test::address("en0", AF_INET, std::nullopt),             // the name conversion failed: skipped
        test::address("en0", AF_INET, "192.168.1.20"),           // first IPv4 of en0
        test::address("en0", AF_INET, "192.168.1.21"),
        test::address("en0", AF_INET6, "fe80::1c2:3ff:fe04:506%en0"),
        test::address("en0", AF_INET6, "2001:db8::20%en0"),
        test::address("en0", AF_INET6, "2001:db8::21"),
        test::address("en1", AF_INET6, "fe80::2%en1"),
    };
    EXPECT_EQ(localAddress(list, "en0", AF_INET), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(localAddress(list, "en0", AF_INET6), QStringLiteral("2001:db8::20"));
    EXPECT_FALSE(localAddress(list, "en1", AF_INET6)) << "link-local only";
    EXPECT_FALSE(localAddress(list, "en1", AF_INET));
    EXPECT_FALSE(localAddress({}, "en0", AF_INET));
}

TEST(TopologyAssembly, FallbackOrderOfInterfaceAndIndependentGateways)
{
    const std::vector<InterfaceAddress> list{test::address("en0", AF_INET, "192.168.1.20"), test::address("en1", AF_INET6, "2001:db8::5"),
                                             test::address("en1", AF_INET, "10.1.1.1")};

    // The IPv4 state names en0, the IPv6 one en1: en0 wins and both routers are still read.
    auto s = assembleTopology(FamilyState{"en0", "192.168.1.1"}, FamilyState{"en1", "fe80::1"}, list, 42.0);
    EXPECT_EQ(s, TopologySnapshot(42.0, "en0", "192.168.1.1", "fe80::1", "192.168.1.20", std::nullopt));
    EXPECT_TRUE(s.hasDefaultRoute());

    // IPv6 only.
    s = assembleTopology(FamilyState{}, FamilyState{"en1", "fe80::1"}, list, 1.0);
    EXPECT_EQ(s.primaryInterface, QStringLiteral("en1"));
    EXPECT_FALSE(s.ipv4Gateway);
    EXPECT_EQ(s.localIPv4, QStringLiteral("10.1.1.1"));
    EXPECT_EQ(s.localIPv6, QStringLiteral("2001:db8::5"));
    EXPECT_TRUE(s.hasDefaultRoute());

    // An interface but no router in either family: no default route.
    s = assembleTopology(FamilyState{"wg0", std::nullopt, true}, FamilyState{}, list, 1.0);
    EXPECT_EQ(s.primaryInterface, QStringLiteral("wg0"));
    EXPECT_FALSE(s.hasDefaultRoute());

    // Nothing at all: no local addresses are looked up.
    s = assembleTopology(FamilyState{}, FamilyState{}, list, 1.0);
    EXPECT_EQ(s, TopologySnapshot(1.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt));
}

TEST(TopologyService, SnapshotIsReadOnTheActorThreadAndAwaitedByTheCaller)
{
    // Reads this machine's routing table (nothing is sent anywhere).
    NetworkTopologyService service;
    asio::io_context io;
    std::thread::id readOn;
    auto future = asio::co_spawn(
        io,
        [&]() -> rt::awaitable<TopologySnapshot> {
            auto s = co_await service.snapshot();
            readOn = std::this_thread::get_id();
            co_return s;
        },
        asio::use_future);
    io.run();
    const TopologySnapshot s = future.get();
    EXPECT_EQ(readOn, std::this_thread::get_id()) << "the caller resumes on its own executor";
    EXPECT_LT(std::fabs(s.timestamp - nowTimestamp()), 5.0);
    if (s.primaryInterface) {
        EXPECT_NE(if_nametoindex(qUtf8Printable(*s.primaryInterface)), 0u);
    }
    if (s.ipv4Gateway) {
        in_addr a{};
        EXPECT_EQ(inet_pton(AF_INET, qUtf8Printable(*s.ipv4Gateway), &a), 1) << qPrintable(*s.ipv4Gateway);
    }
}

// The route the probe cycle measures over: IPv4's router and address where there is IPv4, IPv6's
// where there is not; the IPv6 path beside them only with both an IPv6 router and a global address.
TEST(TopologyAssembly, TheMeasuredRouteCarriesTheIPv6PathBesideIPv4)
{
    using T = TopologySnapshot;
    const auto v6 = [](const char* local, const char* router) {
        RouteSnapshot r{1.0, "en0", "192.168.1.20", "192.168.1.1"};
        r.ipv6LocalAddress = QString::fromLatin1(local);
        r.ipv6GatewayAddress = QString::fromLatin1(router);
        return r;
    };
    RouteSnapshot v6Only = v6("2001:db8::5", "fe80::1");
    v6Only.localAddress = QStringLiteral("2001:db8::5");
    v6Only.gatewayAddress = QStringLiteral("fe80::1");
    v6Only.hasIPv4 = false;
    const std::pair<T, std::optional<RouteSnapshot>> cases[] = {
        {T(1.0, "en0", "192.168.1.1", std::nullopt, "192.168.1.20", std::nullopt), RouteSnapshot{1.0, "en0", "192.168.1.20", "192.168.1.1"}},
        {T(1.0, "en0", "192.168.1.1", "fe80::1", "192.168.1.20", std::nullopt), RouteSnapshot{1.0, "en0", "192.168.1.20", "192.168.1.1"}},
        {T(1.0, "en0", "192.168.1.1", "fe80::1", "192.168.1.20", "2001:db8::5"), v6("2001:db8::5", "fe80::1")},
        {T(1.0, "en0", std::nullopt, "fe80::1", std::nullopt, "2001:db8::5"), v6Only},
        {T(1.0, "en0", std::nullopt, std::nullopt, "192.168.1.20", "2001:db8::5"), std::nullopt},
    };
    for (const auto& [topology, route] : cases)
        EXPECT_EQ(routeSnapshotOf(topology), route) << topology.ipv4Gateway.value_or("-").toStdString() << " "
                                                    << topology.localIPv6.value_or("-").toStdString();
}
