#!/usr/bin/env python3
"""Announces the router on a lab link as a home router does: an ICMPv6 router advertisement to all
nodes (ff02::1) every --interval seconds, from the link's own link-local address, with a default
router lifetime and one prefix for address autoconfiguration.

Options: --dev lan0, --prefix fd77::, --interval 2, --seconds N (how long; bounded).
"""
import argparse
import socket
import struct
import time


def advertisement(prefix):
    # Type 134, code 0, checksum (the kernel fills it in), hop limit 64, no flags, router lifetime
    # 1800 s, reachable time and retransmit timer unspecified.
    header = struct.pack("!BBHBBHII", 134, 0, 0, 64, 0, 1800, 0, 0)
    # Prefix information: on-link and autonomous, valid 86400 s, preferred 14400 s.
    option = struct.pack("!BBBBIII", 3, 4, 64, 0xC0, 86400, 14400, 0) + socket.inet_pton(socket.AF_INET6, prefix)
    return header + option


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dev", default="lan0")
    parser.add_argument("--prefix", default="fd77::")
    parser.add_argument("--interval", type=float, default=2.0)
    parser.add_argument("--seconds", type=float, default=1800)
    args = parser.parse_args()
    index = socket.if_nametoindex(args.dev)
    sock = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
    sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_HOPS, 255)
    sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_IF, index)
    packet = advertisement(args.prefix)
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        try:
            sock.sendto(packet, ("ff02::1", 0, 0, index))
        except OSError:
            pass  # the link is not up yet
        time.sleep(args.interval)


if __name__ == "__main__":
    main()
