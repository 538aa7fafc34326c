#!/usr/bin/env bash
# run-in-lab.sh <program> [args...]
#
# Builds a private three-namespace network lab, runs <program> inside its client namespace and tears
# everything down again, whatever way the program ends. The lab:
#
#   client (lan0 10.77.0.2/24) ── router (lan0 10.77.0.1/24, wan0 10.78.0.1/30) ── inet (wan0 10.78.0.2/30)
#                                                                                   lo: 1.1.1.1, 8.8.8.8, 10.79.0.1
#
# and IPv6 beside it, on unique-local prefixes with static routes (no router advertisements; with
# PV_LAB_IPV6_RA=1 the client takes its address and its default router, the router's own kernel-made
# link-local address, from the router's advertisements instead):
#
#   client (lan0 fd77::2/64) ── router (lan0 fe80::1, fd77::1/64; wan0 fd78::1/64) ── inet (wan0 fd78::2/64)
#   default via fe80::1                                  lo: 2606:4700:4700::1111, 2001:4860:4860::8888, fd79::1
#
# The client's /etc/hosts names the lab's check host, check.lab.test, with 10.79.0.1 and fd79::1.
#
# The veth pairs are created inside the namespaces themselves and no namespace has a route towards the
# machine's own interfaces, so nothing the program sends can leave the lab.
# Exit code: the program's; 77 (skipped) when the lab cannot be built here (not root, no ip/nft,
# no namespaces); 1 when building the lab failed for another reason.
set -uo pipefail

SKIP=77
say() { echo "run-in-lab: $*" >&2; }

if [[ $# -lt 1 ]]; then
    say "usage: run-in-lab.sh <program> [args...]"
    exit 2
fi
if [[ $(id -u) -ne 0 ]]; then
    say "skipped: the network lab needs root"
    exit $SKIP
fi
for tool in ip nft sysctl; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        say "skipped: '$tool' is not installed (packages iproute2, nftables, procps)"
        exit $SKIP
    fi
done

# Unique per run: the pid keeps parallel runs apart, the random part guards against a reused pid whose
# leftovers could not be swept.
P="pvl$$r$((RANDOM % 1000))"
CLIENT="$P-client"
ROUTER="$P-router"
INET="$P-inet"
NAMESPACES=("$CLIENT" "$ROUTER" "$INET")
ETC_DIR="/etc/netns/$CLIENT"
child=""
cleaned=""

# Leftovers of runs that were killed without a chance to clean up (SIGKILL, e.g. a CTest time-out):
# namespaces named pvl<pid>r<n>-* whose script is no longer alive.
sweep_stale() {
    local ns pid
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        [[ $ns =~ ^pvl([0-9]+)r[0-9]+-(client|router|inet)$ ]] || continue
        pid=${BASH_REMATCH[1]}
        if ! kill -0 "$pid" 2>/dev/null; then
            kill_namespace_processes "$ns"
            ip netns delete "$ns" 2>/dev/null
            [[ ${BASH_REMATCH[2]} == client ]] && rm -rf "/etc/netns/$ns"
        fi
    done
}

# Processes still running in a namespace would keep it alive after `ip netns delete`.
kill_namespace_processes() {
    local ns=$1 pids attempt
    for attempt in 1 2 3 4 5 6 7 8 9 10; do
        pids=$(ip netns pids "$ns" 2>/dev/null | grep -vx "$$" || true)
        [[ -z $pids ]] && return 0
        if [[ $attempt -le 5 ]]; then kill -TERM $pids 2>/dev/null; else kill -KILL $pids 2>/dev/null; fi
        sleep 0.1
    done
}

cleanup() {
    [[ -n $cleaned ]] && return
    cleaned=1
    if [[ -n $child ]] && kill -0 "$child" 2>/dev/null; then
        kill -TERM "$child" 2>/dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$child" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$child" 2>/dev/null
    fi
    local ns
    for ns in "${NAMESPACES[@]}"; do
        kill_namespace_processes "$ns"
        # Deleting the namespace also removes its interfaces, routes and nft tables.
        ip netns delete "$ns" 2>/dev/null
    done
    rm -rf "$ETC_DIR"
}

on_signal() {
    local sig=$1 code=$2
    say "caught SIG$sig, tearing the lab down"
    cleanup
    trap - "$sig"
    exit "$code"
}

trap cleanup EXIT
trap 'on_signal INT 130' INT
trap 'on_signal TERM 143' TERM
trap 'on_signal HUP 129' HUP

sweep_stale

# --- namespaces -----------------------------------------------------------------------------------
if ! ip netns add "$CLIENT" 2>/dev/null; then
    say "skipped: cannot create network namespaces here"
    NAMESPACES=()
    exit $SKIP
fi
ip netns add "$ROUTER" && ip netns add "$INET" || { say "could not create the lab namespaces"; exit 1; }
# Addresses are usable at once: no duplicate detection on links the lab alone owns.
for ns in "${NAMESPACES[@]}"; do
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.default.accept_dad=0 net.ipv6.conf.all.accept_dad=0 2>/dev/null
done

fail() { say "building the lab failed at: $*"; exit 1; }
in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@" >/dev/null || fail "[$ns] $*"; }
nsip() { local ns=$1; shift; ip -n "$ns" "$@" || fail "[$ns] ip $*"; }

# The veth pairs are born inside the namespaces, never in the machine's own.
if ! ip -n "$CLIENT" link add lan0 type veth peer name lan0 netns "$ROUTER" 2>/dev/null; then
    say "skipped: cannot create veth pairs here"
    exit $SKIP
fi
nsip "$ROUTER" link add wan0 type veth peer name wan0 netns "$INET"

for ns in "${NAMESPACES[@]}"; do
    nsip "$ns" link set lo up
done

# client
nsip "$CLIENT" addr add 10.77.0.2/24 dev lan0
nsip "$CLIENT" link set lan0 up
nsip "$CLIENT" route add default via 10.77.0.1 dev lan0
in_ns "$CLIENT" sysctl -qw net.ipv4.ping_group_range="0 2147483647"

# router
nsip "$ROUTER" addr add 10.77.0.1/24 dev lan0
nsip "$ROUTER" addr add 10.78.0.1/30 dev wan0
nsip "$ROUTER" link set lan0 up
nsip "$ROUTER" link set wan0 up
in_ns "$ROUTER" sysctl -qw net.ipv4.ip_forward=1
for dst in 1.1.1.1/32 8.8.8.8/32 10.79.0.0/24; do
    nsip "$ROUTER" route add "$dst" via 10.78.0.2 dev wan0
done
# The router forwards DNS to the lab's resolver, as a home router does.
ip netns exec "$ROUTER" nft -f - <<'EOF' || fail "[$ROUTER] nft dns forwarding"
table ip pvlabnat {
    chain prerouting {
        type nat hook prerouting priority dstnat; policy accept;
        ip daddr 10.77.0.1 udp dport 53 dnat to 10.79.0.1:53
        ip daddr 10.77.0.1 tcp dport 53 dnat to 10.79.0.1:53
    }
}
EOF

# inet
nsip "$INET" addr add 10.78.0.2/30 dev wan0
nsip "$INET" link set wan0 up
for addr in 1.1.1.1/32 8.8.8.8/32 10.79.0.1/32; do
    nsip "$INET" addr add "$addr" dev lo
done
nsip "$INET" route add 10.77.0.0/24 via 10.78.0.1 dev wan0

# IPv6. With PV_LAB_IPV6_RA=1 the client learns its address and its router from router
# advertisements, and the router's link-local address is the one the kernel made for it.
GATEWAY6=fe80::1
CLIENT_ADDR6=fd77::2
if [[ ${PV_LAB_IPV6_RA:-} == 1 ]]; then
    in_ns "$CLIENT" sysctl -qw net.ipv6.conf.lan0.accept_ra=1 net.ipv6.conf.lan0.autoconf=1
    ip netns exec "$ROUTER" python3 "$(dirname "${BASH_SOURCE[0]}")/servers/ra_sender.py" --dev lan0 \
        --prefix fd77:: --seconds 3600 >/dev/null 2>&1 &
else
    nsip "$CLIENT" -6 addr add fd77::2/64 dev lan0 nodad
    nsip "$ROUTER" -6 addr add fe80::1/64 dev lan0 nodad
    nsip "$CLIENT" -6 route add default via fe80::1 dev lan0
fi
nsip "$ROUTER" -6 addr add fd77::1/64 dev lan0 nodad
nsip "$ROUTER" -6 addr add fd78::1/64 dev wan0 nodad
in_ns "$ROUTER" sysctl -qw net.ipv6.conf.all.forwarding=1
for dst in 2606:4700:4700::1111/128 2001:4860:4860::8888/128 fd79::/64; do
    nsip "$ROUTER" -6 route add "$dst" via fd78::2 dev wan0
done
ip netns exec "$ROUTER" nft -f - <<'EOF' || fail "[$ROUTER] nft dns forwarding over IPv6"
table ip6 pvlabnat6 {
    chain prerouting {
        type nat hook prerouting priority dstnat; policy accept;
        ip6 daddr fd77::1 udp dport 53 dnat to [fd79::1]:53
        ip6 daddr fd77::1 tcp dport 53 dnat to [fd79::1]:53
    }
}
EOF
nsip "$INET" -6 addr add fd78::2/64 dev wan0 nodad
for addr in 2606:4700:4700::1111/128 2001:4860:4860::8888/128 fd79::1/128; do
    nsip "$INET" -6 addr add "$addr" dev lo
done
nsip "$INET" -6 route add fd77::/64 via fd78::1 dev wan0

if [[ ${PV_LAB_IPV6_RA:-} == 1 ]]; then
    # Bounded: the advertisements come every 2 s.
    for _ in $(seq 50); do
        GATEWAY6=$(ip -n "$CLIENT" -6 route show default dev lan0 2>/dev/null | awk '{print $3; exit}')
        CLIENT_ADDR6=$(ip -n "$CLIENT" -6 addr show dev lan0 scope global 2>/dev/null | awk '/inet6 fd77:/ {sub("/.*", "", $2); print $2; exit}')
        [[ -n $GATEWAY6 && -n $CLIENT_ADDR6 ]] && break
        sleep 0.2
    done
    [[ -n $GATEWAY6 && -n $CLIENT_ADDR6 ]] || fail "no address or router from the router advertisements"
    [[ $GATEWAY6 != fe80::1 ]] || fail "the router's link-local address is fe80::1"
fi

# The client's resolver (bound over /etc/resolv.conf by `ip netns exec`).
mkdir -p "$ETC_DIR" || fail "mkdir $ETC_DIR"
echo "nameserver 10.77.0.1" >"$ETC_DIR/resolv.conf" || fail "write $ETC_DIR/resolv.conf"
printf '127.0.0.1 localhost\n::1 localhost\n10.79.0.1 check.lab.test\nfd79::1 check.lab.test\n' >"$ETC_DIR/hosts" ||
    fail "write $ETC_DIR/hosts"

# --- the program ------------------------------------------------------------------------------------
export PV_LAB=1
export PV_LAB_CLIENT_NS="$CLIENT"
export PV_LAB_ROUTER_NS="$ROUTER"
export PV_LAB_INET_NS="$INET"
export PV_LAB_CLIENT_IF=lan0
export PV_LAB_CLIENT_ADDR=10.77.0.2
export PV_LAB_GATEWAY=10.77.0.1
export PV_LAB_SERVICES_ADDR=10.79.0.1
export PV_LAB_CLIENT_ADDR6="$CLIENT_ADDR6"
export PV_LAB_GATEWAY6="$GATEWAY6"
export PV_LAB_ROUTER_ADDR6=fd77::1
export PV_LAB_SERVICES_ADDR6=fd79::1
export PV_LAB_CHECK_HOST=check.lab.test

# In the background so that the traps run at once when a signal arrives.
ip netns exec "$CLIENT" "$@" &
child=$!
wait "$child"
status=$?
# wait returns early (>128) when a trapped signal interrupts it; the trap has exited by then.
child=""
exit "$status"
