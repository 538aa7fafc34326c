#include "core/app/IcmpPermission.h"

#include "core/records/Localization.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pv {

IcmpPermission checkIcmpPermission()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        ::close(fd);
        return IcmpPermission::permitted;
    }
    // EACCES is the kernel's answer for a group outside the range; anything else (no IPv4, no
    // descriptors left) says nothing about the permission.
    return errno == EACCES || errno == EPERM ? IcmpPermission::refused : IcmpPermission::unknown;
}

QString icmpPermissionRemedy()
{
    return L("Engedélyezd így: sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\" (tartósan: egy "
             "/etc/sysctl.d/ alatti fájlban).");
}

std::optional<QString> icmpPermissionMessage(IcmpPermission permission)
{
    if (permission != IcmpPermission::refused)
        return std::nullopt;
    return L("A rendszer nem engedi a ping (ICMP) mérést ennek a felhasználónak, ezért a router és az internet "
             "elérhetetlennek látszhat, pedig a hálózat működhet.")
           + QLatin1Char(' ') + icmpPermissionRemedy();
}

QString icmpPermissionStatusText(IcmpPermission permission)
{
    switch (permission) {
    case IcmpPermission::permitted:
        return L("Engedélyezve: ez a felhasználó küldhet ping (ICMP) visszhangkérést, a router és a szolgáltató "
                 "szakasza mérhető.");
    case IcmpPermission::refused:
        return L("Nincs engedélyezve: a rendszer nem enged ping (ICMP) visszhangkérést ennek a felhasználónak, ezért "
                 "a router és a szolgáltató szakasza nem mérhető.")
               + QLatin1Char(' ') + icmpPermissionRemedy();
    case IcmpPermission::unknown: break;
    }
    return L("Nem sikerült megállapítani, hogy a rendszer engedi-e a ping (ICMP) visszhangkérést ennek a "
             "felhasználónak.");
}

} // namespace pv
