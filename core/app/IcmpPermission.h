#pragma once
// Linux lets a user open the unprivileged ICMP sockets of the probes only when one of the user's
// groups lies inside the sysctl net.ipv4.ping_group_range. Where it does not, every echo fails and
// the dashboard would read as an outage of the router and the internet; the shell checks once at
// start and tells the user what to change instead.

#include <QString>

#include <optional>

namespace pv {

enum class IcmpPermission { permitted, refused, unknown };

// Opens and closes one datagram ICMP socket; nothing is sent.
IcmpPermission checkIcmpPermission();

// The status message for a refused permission (with the sysctl to change), none otherwise.
std::optional<QString> icmpPermissionMessage(IcmpPermission permission);

// The one sentence that says how to permit the echoes: the sysctl, and where to make it last.
QString icmpPermissionRemedy();

// What the settings say about the permission: permitted, refused (with the remedy) or not known.
QString icmpPermissionStatusText(IcmpPermission permission);

} // namespace pv
