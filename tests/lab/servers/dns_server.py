#!/usr/bin/env python3
"""A tiny authoritative DNS server for the probe tests (UDP and TCP on one port).

How it answers is its mode. The default mode comes from --mode; a query name may pick another one
by carrying the mode's name as one of its labels (for example "pvabc.probe.refused.lab.test"), so one
server serves every outcome and a test chooses it through the probe zone.

Modes:
  answer    NOERROR with --answers A records (first --address, then the next addresses)
  nodata    NOERROR without answers
  nxdomain  NXDOMAIN
  servfail  SERVFAIL
  refused   REFUSED
  silent    no reply at all
  late      an answer after --delay seconds
  cname     a CNAME record, then an A record
  odd       an A record whose data is 6 bytes long (malformed on purpose)
  truncate  over UDP an empty reply with the TC bit; over TCP a normal answer

Forwarding (a home router's or desktop's stub resolver): with --forward HOST:PORT every query is
relayed over UDP to that resolver and its reply, if any comes within 3 s, is passed back; names under
a --local-zone ZONE (repeatable) get NXDOMAIN at once without being relayed, as a stub resolver does
for the special-use names it keeps to itself. The log then reads "local" or "forward" as the mode.
With --refuse-unreachable a query that cannot even be sent upstream (no route, or the router's own
firewall drops it) is answered REFUSED at once, as dnsmasq does when it can reach no upstream server.

Options: --bind ADDR (default 127.0.0.1), --port N (0: any free port), --port-file PATH (the bound
port is written there once both sockets listen), --log PATH (one line per query: proto, mode, name),
--lifetime S (the server exits after that many seconds; default 600).
"""

import argparse
import os
import socket
import struct
import sys
import threading
import time

MODES = ("answer", "nodata", "nxdomain", "servfail", "refused", "silent", "late", "cname", "odd", "truncate")
RCODE = {"nxdomain": 3, "servfail": 2, "refused": 5}


def parse_question(data):
    """Returns (id, flags, qname, qtype, qclass, end offset of the question) or None."""
    if len(data) < 12:
        return None
    qid, flags, qdcount = struct.unpack("!HHH", data[:6])
    if qdcount < 1:
        return None
    labels = []
    pos = 12
    while True:
        if pos >= len(data):
            return None
        length = data[pos]
        pos += 1
        if length == 0:
            break
        if length & 0xC0 or pos + length > len(data):
            return None
        labels.append(data[pos:pos + length].decode("ascii", "replace"))
        pos += length
    if pos + 4 > len(data):
        return None
    qtype, qclass = struct.unpack("!HH", data[pos:pos + 4])
    return qid, flags, ".".join(labels), qtype, qclass, pos + 4


def encode_name(name):
    out = b""
    for label in name.split("."):
        if label:
            out += bytes([len(label)]) + label.encode("ascii")
    return out + b"\0"


def next_address(address, step):
    value = struct.unpack("!I", socket.inet_aton(address))[0] + step
    return socket.inet_ntoa(struct.pack("!I", value & 0xFFFFFFFF))


def choose_mode(qname, default):
    for label in qname.lower().split("."):
        if label in MODES:
            return label
    return default


def build_reply(query, mode, args, over_tcp):
    """The reply bytes, or None for no reply."""
    parsed = parse_question(query)
    if parsed is None:
        return None
    qid, qflags, qname, qtype, _qclass, qend = parsed
    question = query[12:qend]
    rd = qflags & 0x0100
    flags = 0x8000 | 0x0400 | rd  # response, authoritative, recursion desired copied
    records = []
    name_ptr = b"\xc0\x0c"  # the question's name
    if mode in ("answer", "late") and qtype == 28 and args.address6:
        records.append(name_ptr + struct.pack("!HHIH", 28, 1, 60, 16) + socket.inet_pton(socket.AF_INET6, args.address6))
    elif mode in ("answer", "late"):
        for i in range(args.answers):
            addr = socket.inet_aton(next_address(args.address, i))
            records.append(name_ptr + struct.pack("!HHIH", 1, 1, 60, 4) + addr)
    elif mode == "cname":
        target = encode_name("target." + qname)
        records.append(name_ptr + struct.pack("!HHIH", 5, 1, 60, len(target)) + target)
        records.append(encode_name("target." + qname) + struct.pack("!HHIH", 1, 1, 60, 4) +
                       socket.inet_aton(args.address))
    elif mode == "odd":
        records.append(name_ptr + struct.pack("!HHIH", 1, 1, 60, 6) + b"\x01\x02\x03\x04\x05\x06")
    elif mode == "truncate":
        if over_tcp:
            records.append(name_ptr + struct.pack("!HHIH", 1, 1, 60, 4) + socket.inet_aton(args.address))
        else:
            flags |= 0x0200  # TC: the client must ask again over TCP
    elif mode in RCODE:
        flags |= RCODE[mode]
    header = struct.pack("!HHHHHH", qid, flags, 1, len(records), 0, 0)
    return header + question + b"".join(records)


class Server:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.log = open(args.log, "a", buffering=1) if args.log else None

    def note(self, proto, mode, qname):
        if self.log:
            with self.lock:
                self.log.write(f"{proto} {mode} {qname}\n")

    def is_local(self, qname):
        name = qname.lower().rstrip(".")
        return any(name == z or name.endswith("." + z) for z in self.args.local_zone)

    def relay(self, data):
        host, port = self.args.forward.rsplit(":", 1)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as up:
            up.settimeout(3.0)
            try:
                up.sendto(data, (host, int(port)))
            except OSError:
                return build_reply(data, "refused", self.args, False) if self.args.refuse_unreachable else None
            try:
                return up.recvfrom(4096)[0]
            except OSError:
                return None

    def forward_udp(self, sock, data, peer):
        reply = self.relay(data)
        if reply is not None:
            self.send_udp(sock, reply, peer)

    def handle(self, data, over_tcp):
        parsed = parse_question(data)
        qname = parsed[2] if parsed else "?"
        if self.args.forward:
            if self.is_local(qname):
                self.note("tcp" if over_tcp else "udp", "local", qname)
                return build_reply(data, "nxdomain", self.args, over_tcp), 0.0
            self.note("tcp" if over_tcp else "udp", "forward", qname)
            return ("forward", data), 0.0
        mode = choose_mode(qname, self.args.mode)
        self.note("tcp" if over_tcp else "udp", mode, qname)
        if mode == "silent":
            return None, 0.0
        return build_reply(data, mode, self.args, over_tcp), (self.args.delay if mode == "late" else 0.0)

    @staticmethod
    def send_udp(sock, reply, peer):
        try:
            sock.sendto(reply, peer)
        except OSError:
            pass  # no route back (a test cut it): the client hears nothing, the server goes on

    def serve_udp(self, sock):
        while True:
            try:
                data, peer = sock.recvfrom(4096)
            except OSError:
                continue  # an ICMP error for an earlier reply
            reply, delay = self.handle(data, False)
            if reply is None:
                continue
            if isinstance(reply, tuple):
                threading.Thread(target=self.forward_udp, args=(sock, data, peer), daemon=True).start()
                continue
            if delay > 0:
                threading.Timer(delay, self.send_udp, args=(sock, reply, peer)).start()
            else:
                self.send_udp(sock, reply, peer)

    def serve_tcp_client(self, conn):
        with conn:
            conn.settimeout(10)
            try:
                while True:
                    head = conn.recv(2)
                    if len(head) < 2:
                        return
                    (length,) = struct.unpack("!H", head)
                    data = b""
                    while len(data) < length:
                        chunk = conn.recv(length - len(data))
                        if not chunk:
                            return
                        data += chunk
                    reply, delay = self.handle(data, True)
                    if isinstance(reply, tuple):
                        reply = self.relay(data)
                    if reply is None:
                        continue
                    if delay > 0:
                        time.sleep(delay)
                    conn.sendall(struct.pack("!H", len(reply)) + reply)
            except OSError:
                return

    def serve_tcp(self, sock):
        while True:
            conn, _ = sock.accept()
            threading.Thread(target=self.serve_tcp_client, args=(conn,), daemon=True).start()


def bind_pair(address, port, family=socket.AF_INET):
    """UDP and TCP sockets on the same port; with port 0 a free port for both (bounded retries)."""
    for _ in range(50):
        udp = socket.socket(family, socket.SOCK_DGRAM)
        udp.bind((address, port))
        chosen = udp.getsockname()[1]
        tcp = socket.socket(family, socket.SOCK_STREAM)
        tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            tcp.bind((address, chosen))
        except OSError:
            udp.close()
            tcp.close()
            if port != 0:
                raise
            continue
        tcp.listen(16)
        return udp, tcp, chosen
    raise OSError("no free port for both UDP and TCP")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--mode", default="answer", choices=MODES)
    parser.add_argument("--address", default="192.0.2.10")
    parser.add_argument("--answers", type=int, default=1)
    parser.add_argument("--delay", type=float, default=4.0)
    parser.add_argument("--log")
    parser.add_argument("--forward")
    parser.add_argument("--local-zone", action="append", default=[])
    parser.add_argument("--refuse-unreachable", action="store_true")
    parser.add_argument("--lifetime", type=float, default=600.0)
    parser.add_argument("--bind6", help="also serve on this IPv6 address, on the same port")
    parser.add_argument("--address6", help="answer AAAA queries with this address (A records otherwise)")
    args = parser.parse_args()

    udp, tcp, port = bind_pair(args.bind, args.port)
    server = Server(args)
    sockets = [(udp, tcp)]
    if args.bind6:
        udp6, tcp6, _ = bind_pair(args.bind6, port, socket.AF_INET6)
        sockets.append((udp6, tcp6))
    for u, t in sockets:
        threading.Thread(target=server.serve_udp, args=(u,), daemon=True).start()
        threading.Thread(target=server.serve_tcp, args=(t,), daemon=True).start()
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{port}\n")
        os.replace(tmp, args.port_file)
    print(f"dns server on {args.bind}:{port} mode {args.mode}", flush=True)
    time.sleep(args.lifetime)
    sys.exit(0)


if __name__ == "__main__":
    main()
