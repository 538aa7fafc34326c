#pragma once
// Which interface carries the default route, which routers the system uses for IPv4 and IPv6, and
// which local addresses the primary interface has. Read on demand from the kernel's routing table
// (rtnetlink) and the interface address list (getifaddrs); nothing is kept between reads.

#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QString>

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

struct rtnl_route;

namespace pv {

struct TopologySnapshot {
    Timestamp timestamp = 0;
    std::optional<QString> primaryInterface;
    std::optional<QString> ipv4Gateway;
    std::optional<QString> ipv6Gateway;
    std::optional<QString> localIPv4;
    std::optional<QString> localIPv6;

    TopologySnapshot() = default;
    TopologySnapshot(Timestamp timestamp, std::optional<QString> primaryInterface, std::optional<QString> ipv4Gateway,
                     std::optional<QString> ipv6Gateway, std::optional<QString> localIPv4,
                     std::optional<QString> localIPv6);
    bool operator==(const TopologySnapshot&) const = default;

    bool hasDefaultRoute() const { return ipv4Gateway.has_value() || ipv6Gateway.has_value(); }
};

// The route the probe cycle measures over (see RouteSnapshot); none without a primary interface or
// a default route. The IPv6 path is there when the snapshot has both an IPv6 router and a global
// IPv6 address.
std::optional<RouteSnapshot> routeSnapshotOf(const TopologySnapshot& t);

namespace topology {

// One route of the kernel's table, reduced to what the readers look at.
struct RouteEntry {
    int family = 0;          // AF_INET or AF_INET6
    std::uint32_t table = 0; // RT_TABLE_MAIN for the main table
    std::uint8_t type = 0;   // RTN_UNICAST for an ordinary route
    int dstPrefixLength = -1;
    std::uint32_t priority = 0; // the metric; lower wins
    int interfaceIndex = 0;
    std::optional<QString> interfaceName;
    std::optional<QString> gateway; // numeric text, never with a "/len" suffix
    bool operator==(const RouteEntry&) const = default;
};

// One entry of the interface address list (IPv4 and IPv6 entries only).
struct InterfaceAddress {
    QString interfaceName;
    int family = 0;
    std::optional<QString> numericHost; // absent when the name conversion failed
    std::optional<QString> peer;        // the far end of a point-to-point link, numeric text
    unsigned flags = 0;                 // IFF_* of the interface
    bool operator==(const InterfaceAddress&) const = default;
};

// What the system says about one address family: the interface of its default route and its router.
struct FamilyState {
    std::optional<QString> primaryInterface;
    std::optional<QString> router;
    // The chosen default route has no gateway and its link no peer address (a tunnel such as
    // "default dev wg0"): the interface is named, the router stays absent.
    bool routeWithoutRouter = false;
    bool operator==(const FamilyState&) const = default;
};

// Reduces a libnl route object; nothing when it has no usable destination or family.
std::optional<RouteEntry> routeEntryFrom(rtnl_route* route);

// The default route of a family: main table, unicast, prefix length 0, lowest metric (the first of
// equal metrics in the kernel's order).
std::optional<RouteEntry> bestDefaultRoute(const std::vector<RouteEntry>& routes, int family);

// The family's state from its best default route. A default route without a gateway takes the peer
// address of a point-to-point link as its router (PPP), as the system's own network state does.
FamilyState familyState(const std::vector<RouteEntry>& routes, int family, const std::vector<InterfaceAddress>& addresses);

// The local address of an interface for a family: the first in list order; for IPv6 link-local
// ("fe80...") texts are passed over and the zone suffix after "%" is cut.
std::optional<QString> localAddress(const std::vector<InterfaceAddress>& addresses, const QString& interfaceName,
                                    int family);

TopologySnapshot assembleTopology(const FamilyState& ipv4, const FamilyState& ipv6,
                                  const std::vector<InterfaceAddress>& addresses, Timestamp timestamp);

// --- live reads (blocking, short) ---
// The IPv4 and IPv6 routes; nothing when the routing socket cannot be opened.
std::optional<std::vector<RouteEntry>> readRoutes();
// The IPv4/IPv6 entries of getifaddrs in the system's order; nothing when the list cannot be read.
std::optional<std::vector<InterfaceAddress>> readInterfaceAddresses();

} // namespace topology

// An actor without state: every snapshot is read afresh, one at a time, on the actor's own thread,
// so a caller on the GUI thread only awaits it.
class NetworkTopologyService : public rt::BlockingActor {
public:
    NetworkTopologyService() : BlockingActor("pv-topology") {}
    ~NetworkTopologyService() override;

    // Never fails: what cannot be read is absent.
    rt::awaitable<TopologySnapshot> snapshot();

    // The same read on the calling thread.
    TopologySnapshot readSnapshot();

private:
    std::mutex logMutex_;
    QString loggedTunnelInterface_; // the interface last named in the log as routing without a router
};

} // namespace pv
