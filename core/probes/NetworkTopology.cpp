#include "core/probes/NetworkTopology.h"

#include "core/records/Logging.h"

#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/nexthop.h>
#include <netlink/route/route.h>
#include <netlink/route/rtnl.h>
#include <netlink/socket.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <memory>

namespace pv {

TopologySnapshot::TopologySnapshot(Timestamp timestamp, std::optional<QString> primaryInterface,
                                   std::optional<QString> ipv4Gateway, std::optional<QString> ipv6Gateway,
                                   std::optional<QString> localIPv4, std::optional<QString> localIPv6)
    : timestamp(timestamp), primaryInterface(std::move(primaryInterface)), ipv4Gateway(std::move(ipv4Gateway)),
      ipv6Gateway(std::move(ipv6Gateway)), localIPv4(std::move(localIPv4)), localIPv6(std::move(localIPv6))
{
}

namespace topology {

namespace {

// inet_ntop rather than nl_addr2str: the latter appends "/len" to anything that is not a full host.
std::optional<QString> addressText(nl_addr* addr)
{
    if (addr == nullptr)
        return std::nullopt;
    const int family = nl_addr_get_family(addr);
    const unsigned len = nl_addr_get_len(addr);
    if ((family == AF_INET && len != 4) || (family == AF_INET6 && len != 16) || (family != AF_INET && family != AF_INET6))
        return std::nullopt;
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(family, nl_addr_get_binary_addr(addr), text, sizeof text) == nullptr)
        return std::nullopt;
    return QString::fromLatin1(text);
}

std::optional<QString> interfaceNameOf(int index)
{
    if (index <= 0)
        return std::nullopt;
    char name[IF_NAMESIZE] = {};
    if (if_indextoname(static_cast<unsigned>(index), name) == nullptr)
        return std::nullopt;
    return QString::fromUtf8(name);
}

std::optional<QString> numericHost(const sockaddr* sa)
{
    if (sa == nullptr)
        return std::nullopt;
    const socklen_t len = sa->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    char host[1025] = {};
    if (getnameinfo(sa, len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return std::nullopt;
    return QString::fromLatin1(host);
}

struct SocketDeleter {
    void operator()(nl_sock* s) const { nl_socket_free(s); }
};
struct CacheDeleter {
    void operator()(nl_cache* c) const { nl_cache_free(c); }
};

} // namespace

std::optional<RouteEntry> routeEntryFrom(rtnl_route* route)
{
    if (route == nullptr)
        return std::nullopt;
    RouteEntry e;
    e.family = rtnl_route_get_family(route);
    if (e.family != AF_INET && e.family != AF_INET6)
        return std::nullopt;
    nl_addr* dst = rtnl_route_get_dst(route);
    if (dst == nullptr)
        return std::nullopt;
    e.table = rtnl_route_get_table(route);
    e.type = rtnl_route_get_type(route);
    e.dstPrefixLength = static_cast<int>(nl_addr_get_prefixlen(dst));
    e.priority = rtnl_route_get_priority(route);
    // The first next hop that names a gateway gives it; the first one at all gives the interface.
    const int hops = rtnl_route_get_nnexthops(route);
    for (int i = 0; i < hops; ++i) {
        rtnl_nexthop* nh = rtnl_route_nexthop_n(route, i);
        if (nh == nullptr)
            continue;
        if (e.interfaceIndex == 0)
            e.interfaceIndex = rtnl_route_nh_get_ifindex(nh);
        if (!e.gateway) {
            if (auto gw = addressText(rtnl_route_nh_get_gateway(nh))) {
                e.gateway = gw;
                e.interfaceIndex = rtnl_route_nh_get_ifindex(nh);
            }
        }
    }
    return e;
}

std::optional<RouteEntry> bestDefaultRoute(const std::vector<RouteEntry>& routes, int family)
{
    const RouteEntry* best = nullptr;
    for (const auto& r : routes) {
        if (r.family != family || r.table != RT_TABLE_MAIN || r.type != RTN_UNICAST || r.dstPrefixLength != 0)
            continue;
        if (best == nullptr || r.priority < best->priority)
            best = &r;
    }
    if (best == nullptr)
        return std::nullopt;
    return *best;
}

FamilyState familyState(const std::vector<RouteEntry>& routes, int family, const std::vector<InterfaceAddress>& addresses)
{
    FamilyState state;
    const auto route = bestDefaultRoute(routes, family);
    if (!route)
        return state;
    state.primaryInterface = route->interfaceName;
    state.router = route->gateway;
    if (!state.router && route->interfaceName) {
        for (const auto& a : addresses) {
            if (a.interfaceName == *route->interfaceName && a.family == family && a.peer && (a.flags & IFF_POINTOPOINT)) {
                state.router = a.peer;
                break;
            }
        }
        state.routeWithoutRouter = !state.router.has_value();
    }
    return state;
}

std::optional<QString> localAddress(const std::vector<InterfaceAddress>& addresses, const QString& interfaceName,
                                    int family)
{
    for (const auto& a : addresses) {
        if (a.family != family || a.interfaceName != interfaceName || !a.numericHost)
            continue;
        const QString& text = *a.numericHost;
        if (family == AF_INET)
            return text;
        if (text.startsWith(QLatin1String("fe80")))
            continue;
        const auto zone = text.indexOf(QLatin1Char('%'));
        return zone < 0 ? text : text.left(zone);
    }
    return std::nullopt;
}

} // namespace topology

std::optional<RouteSnapshot> routeSnapshotOf(const TopologySnapshot& t)
{
    if (!t.primaryInterface || !t.hasDefaultRoute())
        return std::nullopt;
    RouteSnapshot route;
    route.timestamp = t.timestamp;
    route.interfaceName = *t.primaryInterface;
    route.gatewayAddress = t.ipv4Gateway ? *t.ipv4Gateway : *t.ipv6Gateway;
    route.localAddress = t.localIPv4 ? *t.localIPv4 : t.localIPv6.value_or(QStringLiteral("Unknown"));
    route.hasIPv4 = t.ipv4Gateway.has_value();
    if (t.ipv6Gateway && t.localIPv6) {
        route.ipv6GatewayAddress = t.ipv6Gateway;
        route.ipv6LocalAddress = t.localIPv6;
    }
    return route;
}

namespace topology {

TopologySnapshot assembleTopology(const FamilyState& ipv4, const FamilyState& ipv6,
                                  const std::vector<InterfaceAddress>& addresses, Timestamp timestamp)
{
    TopologySnapshot s;
    s.timestamp = timestamp;
    s.primaryInterface = ipv4.primaryInterface ? ipv4.primaryInterface : ipv6.primaryInterface;
    s.ipv4Gateway = ipv4.router;
    s.ipv6Gateway = ipv6.router;
    if (s.primaryInterface) {
        s.localIPv4 = localAddress(addresses, *s.primaryInterface, AF_INET);
        s.localIPv6 = localAddress(addresses, *s.primaryInterface, AF_INET6);
    }
    return s;
}

std::optional<std::vector<RouteEntry>> readRoutes()
{
    std::unique_ptr<nl_sock, SocketDeleter> sock(nl_socket_alloc());
    if (!sock)
        return std::nullopt;
    if (const int rc = nl_connect(sock.get(), NETLINK_ROUTE); rc < 0) {
        qCWarning(pv::log::topology(), "Opening the routing socket failed: %s", nl_geterror(rc));
        return std::nullopt;
    }
    std::vector<RouteEntry> routes;
    for (const int family : {AF_INET, AF_INET6}) {
        nl_cache* raw = nullptr;
        if (const int rc = rtnl_route_alloc_cache(sock.get(), family, 0, &raw); rc < 0) {
            // A kernel without IPv6 answers the IPv6 dump with an error: that family has no routes.
            qCDebug(pv::log::topology(), "Route dump for family %d failed: %s", family, nl_geterror(rc));
            continue;
        }
        std::unique_ptr<nl_cache, CacheDeleter> cache(raw);
        for (nl_object* o = nl_cache_get_first(cache.get()); o != nullptr; o = nl_cache_get_next(o)) {
            if (auto e = routeEntryFrom(reinterpret_cast<rtnl_route*>(o))) {
                e->interfaceName = interfaceNameOf(e->interfaceIndex);
                routes.push_back(std::move(*e));
            }
        }
    }
    return routes;
}

std::optional<std::vector<InterfaceAddress>> readInterfaceAddresses()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::vector<InterfaceAddress> out;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_name == nullptr)
            continue;
        const int family = it->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        InterfaceAddress a;
        a.interfaceName = QString::fromUtf8(it->ifa_name);
        a.family = family;
        a.flags = it->ifa_flags;
        a.numericHost = numericHost(it->ifa_addr);
        if ((it->ifa_flags & IFF_POINTOPOINT) && it->ifa_dstaddr != nullptr && it->ifa_dstaddr->sa_family == family)
            a.peer = numericHost(it->ifa_dstaddr);
        out.push_back(std::move(a));
    }
    freeifaddrs(list);
    return out;
}

} // namespace topology

// ---------------------------------------------------------------------------------------------
NetworkTopologyService::~NetworkTopologyService() { shutdownThread(); }

rt::awaitable<TopologySnapshot> NetworkTopologyService::snapshot()
{
    return call([this] { return readSnapshot(); });
}

TopologySnapshot NetworkTopologyService::readSnapshot()
{
    const auto routes = topology::readRoutes();
    if (!routes) {
        qCCritical(pv::log::topology(), "SCDynamicStore could not be created");
        TopologySnapshot empty;
        empty.timestamp = nowTimestamp();
        return empty;
    }
    const auto addresses = topology::readInterfaceAddresses().value_or(std::vector<topology::InterfaceAddress>{});
    const auto v4 = topology::familyState(*routes, AF_INET, addresses);
    const auto v6 = topology::familyState(*routes, AF_INET6, addresses);

    // A tunnel that carries the default route without a router address leaves the cycle without a
    // default route; say why once per interface instead of every cycle.
    QString tunnel;
    if (v4.routeWithoutRouter && !v6.router)
        tunnel = v4.primaryInterface.value_or(QString());
    else if (v6.routeWithoutRouter && !v4.router)
        tunnel = v6.primaryInterface.value_or(QString());
    std::lock_guard lock(logMutex_);
    if (tunnel != loggedTunnelInterface_) {
        if (!tunnel.isEmpty())
            qCInfo(pv::log::topology(), "Default route via %s has no router address; treated as no default route",
                   qUtf8Printable(tunnel));
        loggedTunnelInterface_ = tunnel;
    }
    return topology::assembleTopology(v4, v6, addresses, nowTimestamp());
}

} // namespace pv
