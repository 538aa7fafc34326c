#include "core/probes/PathMonitor.h"

#include "tests/probes/TopologyTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <mutex>
#include <thread>

using namespace pv;
using namespace pv::topology;
using namespace std::chrono_literals;

namespace {

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

bool wirelessWlan(const QString& name) { return name.startsWith(QLatin1String("wl")); }

} // namespace

TEST(PathSnapshotTest, StatusTextsIncludeUnknownForAStatusAddedLater)
{
    EXPECT_EQ(path::statusDescription(path::PathStatus::satisfied), QStringLiteral("satisfied"));
    EXPECT_EQ(path::statusDescription(path::PathStatus::unsatisfied), QStringLiteral("unsatisfied"));
    EXPECT_EQ(path::statusDescription(path::PathStatus::requiresConnection), QStringLiteral("requiresConnection"));
    EXPECT_EQ(path::statusDescription(static_cast<path::PathStatus>(7)), QStringLiteral("unknown"));
}

TEST(PathSnapshotTest, SatisfiedPathListsUsableInterfacesPrimaryFirst)
{
    const std::vector<InterfaceAddress> addresses{
        test::address("lo", AF_INET, "127.0.0.1", kUp | IFF_LOOPBACK),
        test::address("eth0", AF_INET, "192.168.1.20"),
        test::address("wlan0", AF_INET, "192.168.1.30"),
        test::address("wlan0", AF_INET6, "fe80::1%wlan0"),
        test::address("eth1", AF_INET, "10.0.0.2", IFF_UP), // no carrier
        test::address("docker0", AF_INET6, "fe80::42%docker0"), // link-local only
    };
    const std::vector<RouteEntry> routes{test::defaultRoute(AF_INET, "eth0", "192.168.1.1", 600),
                                         test::defaultRoute(AF_INET, "wlan0", "192.168.1.1", 100)};

    auto s = path::computePathSnapshot(routes, addresses, wirelessWlan);
    EXPECT_EQ(s, (PathSnapshot{"satisfied", true, false, {"wlan0", "eth0"}}));

    // The same with the wired route preferred: Wi-Fi is up but does not carry the path.
    const std::vector<RouteEntry> wired{test::defaultRoute(AF_INET, "eth0", "192.168.1.1", 100),
                                        test::defaultRoute(AF_INET, "wlan0", "192.168.1.1", 600)};
    s = path::computePathSnapshot(wired, addresses, wirelessWlan);
    EXPECT_EQ(s, (PathSnapshot{"satisfied", false, false, {"eth0", "wlan0"}}));
}

TEST(PathSnapshotTest, UnsatisfiedWithoutAUsableDefaultRoute)
{
    // Default route through an interface without carrier.
    auto s = path::computePathSnapshot({test::defaultRoute(AF_INET, "eth0", "10.0.0.1")}, {test::address("eth0", AF_INET, "10.0.0.2", IFF_UP)},
                                       wirelessWlan);
    EXPECT_EQ(s, (PathSnapshot{"unsatisfied", false, false, {}}));

    // An IPv6 default route on an interface with only a link-local address leads nowhere.
    s = path::computePathSnapshot({test::defaultRoute(AF_INET6, "eth0", "fe80::1")}, {test::address("eth0", AF_INET6, "fe80::5%eth0")},
                                  wirelessWlan);
    EXPECT_EQ(s.statusDescription, QStringLiteral("unsatisfied"));

    // An address but no default route: the interface is usable, the path is not.
    s = path::computePathSnapshot({}, {test::address("wlan0", AF_INET, "192.168.1.30")}, wirelessWlan);
    EXPECT_EQ(s, (PathSnapshot{"unsatisfied", false, false, {"wlan0"}}));

    // An IPv4 default route on an interface that only has IPv6.
    s = path::computePathSnapshot({test::defaultRoute(AF_INET, "eth0", "10.0.0.1")}, {test::address("eth0", AF_INET6, "2001:db8::2")},
                                  wirelessWlan);
    EXPECT_EQ(s.statusDescription, QStringLiteral("unsatisfied"));
}

TEST(PathSnapshotTest, TunnelAndIPv6OnlyPathsAreSatisfied)
{
    // "default dev wg0": no router, but traffic flows.
    auto s = path::computePathSnapshot({test::defaultRoute(AF_INET, "wg0", std::nullopt)},
                                       {test::address("wg0", AF_INET, "10.8.0.2", kUp | IFF_POINTOPOINT)}, wirelessWlan);
    EXPECT_EQ(s, (PathSnapshot{"satisfied", false, false, {"wg0"}}));

    s = path::computePathSnapshot({test::defaultRoute(AF_INET6, "wlp2s0", "fe80::1")},
                                  {test::address("wlp2s0", AF_INET6, "fe80::7%wlp2s0"), test::address("wlp2s0", AF_INET6, "2001:db8::7")},
                                  wirelessWlan);
    EXPECT_EQ(s, (PathSnapshot{"satisfied", true, false, {"wlp2s0"}}));
}

TEST(PathSnapshotTest, WirelessInterfacesAreRecognisedFromSysfs)
{
    const QString root = test::makeTempDir();
    QDir dir(root);
    ASSERT_TRUE(dir.mkpath("wlan0/wireless"));
    ASSERT_TRUE(dir.mkpath("wlp3s0/phy80211"));
    ASSERT_TRUE(dir.mkpath("eth0/statistics"));
    EXPECT_TRUE(path::isWirelessInterface("wlan0", root));
    EXPECT_TRUE(path::isWirelessInterface("wlp3s0", root));
    EXPECT_FALSE(path::isWirelessInterface("eth0", root));
    EXPECT_FALSE(path::isWirelessInterface("missing0", root));
    EXPECT_FALSE(path::isWirelessInterface("../wlan0", root + "/eth0"));
    EXPECT_FALSE(path::isWirelessInterface("", root));
}

// The live monitor on this machine's own namespace: reading the routing state sends nothing.
TEST(PathMonitorServiceTest, EveryStartDeliversAnInitialSnapshotOnTheMonitorThread)
{
    PathMonitorService monitor;
    EXPECT_FALSE(monitor.isRunning());
    std::mutex m;
    std::vector<PathSnapshot> first, second;
    std::thread::id deliveredOn;

    monitor.start([&](const PathSnapshot& s) {
        std::lock_guard lock(m);
        first.push_back(s);
        deliveredOn = std::this_thread::get_id();
    });
    EXPECT_TRUE(monitor.isRunning());
    ASSERT_TRUE(test::pumpUntil([&] { std::lock_guard lock(m); return !first.empty(); }, 5s));
    {
        std::lock_guard lock(m);
        EXPECT_NE(deliveredOn, std::this_thread::get_id());
        const auto& s = first.front();
        EXPECT_TRUE(s.statusDescription == "satisfied" || s.statusDescription == "unsatisfied");
        EXPECT_FALSE(s.isExpensive);
        EXPECT_FALSE(s.interfaceNames.contains("lo"));
    }

    monitor.cancel();
    EXPECT_FALSE(monitor.isRunning());
    monitor.start([&](const PathSnapshot& s) {
        std::lock_guard lock(m);
        second.push_back(s);
    });
    ASSERT_TRUE(test::pumpUntil([&] { std::lock_guard lock(m); return !second.empty(); }, 5s))
        << "a start after a cancel must deliver again";
    std::lock_guard lock(m);
    EXPECT_EQ(second.front(), first.front());
    EXPECT_EQ(first.size(), 1u) << "the cancelled subscription delivered again";
}

TEST(PathMonitorServiceTest, NoHandlerCallStartsAfterCancelReturns)
{
    constexpr int kRounds = 20;
    std::array<std::atomic<bool>, kRounds> cancelled{};
    std::atomic<int> calls{0}, late{0};
    {
        PathMonitorService monitor;
        for (int i = 0; i < kRounds; ++i) {
            monitor.start([&, i](const PathSnapshot&) {
                ++calls;
                if (cancelled[i])
                    ++late;
            });
            // Some rounds cancel at once, others after the first delivery has had time to start.
            if (i % 2 == 1)
                std::this_thread::sleep_for(3ms);
            monitor.cancel();
            cancelled[i] = true;
        }
    } // the destructor waits for the monitor's thread
    EXPECT_EQ(late.load(), 0);
    EXPECT_LE(calls.load(), kRounds);
}
