#!/usr/bin/env python3
"""Keeps a queue of the router's line filled to a number of milliseconds of its rate, so that every
other packet in that queue waits about as long, and none is dropped (the lab's kernel has no netem).

Sends UDP datagrams of 1400 bytes to --destination port 9, topping the queue's backlog up to
--milliseconds of --rate-bits every 20 ms, read from `tc -s class show dev DEV` for --class.

Options: --dev wan0, --class 1:20, --rate-bits 4000000, --milliseconds 300, --destination ADDR,
--seconds N (how long; bounded).
"""
import argparse
import re
import socket
import subprocess
import time


def backlog(dev, klass):
    shown = subprocess.run(["tc", "-s", "class", "show", "dev", dev], capture_output=True, text=True).stdout
    block = re.search(r"class \S+ " + re.escape(klass) + r" .*?(?=\nclass |\Z)", shown, re.S)
    # tc shows larger backlogs as, say, "293Kb".
    found = re.search(r"backlog (\d+)([KM]?)b", block.group(0)) if block else None
    return int(found.group(1)) * {"": 1, "K": 1000, "M": 1000000}[found.group(2)] if found else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dev", default="wan0")
    parser.add_argument("--class", dest="klass", default="1:20")
    parser.add_argument("--rate-bits", type=float, default=4e6)
    parser.add_argument("--milliseconds", type=float, default=300)
    parser.add_argument("--destination", required=True)
    parser.add_argument("--seconds", type=float, default=600)
    args = parser.parse_args()

    family = socket.AF_INET6 if ":" in args.destination else socket.AF_INET
    target = args.rate_bits / 8 * args.milliseconds / 1000
    sender = socket.socket(family, socket.SOCK_DGRAM)
    sender.setsockopt(socket.SOL_SOCKET, 32, 8 << 20)  # SO_SNDBUFFORCE: the queued bytes count against it
    payload, end = bytes(1400), time.monotonic() + min(args.seconds, 3600)
    # What was sent less what the line has drained since: datagrams not yet in the queue (held while
    # the neighbour is resolved) do not show in its backlog, and topping up by the backlog alone
    # would overfill it.
    sent, last = 0.0, time.monotonic()
    while time.monotonic() < end:
        now = time.monotonic()
        sent, last = max(0.0, sent - args.rate_bits / 8 * (now - last)), now
        for _ in range(max(0, int((target - max(backlog(args.dev, args.klass), sent)) // 1448))):
            sender.sendto(payload, (args.destination, 9))
            sent += 1448
        time.sleep(0.02)


if __name__ == "__main__":
    main()
