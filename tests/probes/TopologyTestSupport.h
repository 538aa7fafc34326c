#pragma once
// Route and address entries as the readers get them from the kernel, for the topology and path tests.

#include "core/probes/NetworkTopology.h"

#include <linux/rtnetlink.h>
#include <net/if.h>

namespace pv::test {

inline topology::RouteEntry defaultRoute(int family, const QString& ifname, std::optional<QString> gateway,
                                         std::uint32_t metric = 0, std::uint32_t table = RT_TABLE_MAIN,
                                         std::uint8_t type = RTN_UNICAST)
{
    topology::RouteEntry e;
    e.family = family;
    e.table = table;
    e.type = type;
    e.dstPrefixLength = 0;
    e.priority = metric;
    e.interfaceName = ifname;
    e.gateway = std::move(gateway);
    return e;
}

inline topology::InterfaceAddress address(const QString& ifname, int family, std::optional<QString> host,
                                          unsigned flags = IFF_UP | IFF_RUNNING)
{
    return topology::InterfaceAddress{ifname, family, std::move(host), std::nullopt, flags};
}

} // namespace pv::test
