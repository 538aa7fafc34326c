#!/usr/bin/env python3
"""A plain-HTTP speed-test endpoint for the load-test tests and benchmarks.

  GET  /__down?bytes=N   streams exactly N bytes (with a Content-Length) in 64 KiB chunks
  POST /__up             reads the body and discards it; answers 200 with an empty body

Anything else is a 404. Connections are kept alive (HTTP/1.1), one thread per connection.

How it answers is its --mode:
  normal    as above
  error     every request gets a 500 with a 64 KiB error page; a POST body is not read
  silent    reads the request and never answers (the connection stays open)
  trickle   answers 200 with the asked-for length, then sends one byte every 0.2 s
  drop      as normal until the server has moved --drop-after bytes (sent and read, over all
            connections); from then on nothing more is sent or read and the connections stay open, as
            behind a dropped link. The moment is marked by creating --dropped-file.
  stall     every download sends --stall-down bytes (default 2 MiB) of its answer and then hangs;
            every upload reads --stall-up bytes (default 1 MiB) of its body and then stops reading
  short     every GET and POST gets 200 with a 1 KiB page at once, without the body being read, and
            the connection is closed (a captive portal or a catch-all site)
  stop      as normal until a direction has moved --after bytes (downloads sent, or uploads read,
            counted over all connections of that direction); from then on that direction sends or
            reads nothing more and its connections stay open
  pause     as stop, but the direction stands still for --pause-seconds (default 2.5) and then goes on
            as normal
  slowdown  as normal, but once a direction has moved --after bytes, --slow-command runs (a shell
            command that slows the line down); the first request of a direction runs --fast-command
            before it is answered (the line is fast again at the start of each phase)

--directions (down, up or both; default both) picks the directions that stop, pause or slow down.
With --events PATH each of these moments is noted as "<wall-clock seconds> <down|up> <start|stop|
pause|resume|slow>" (start: the direction's first bytes); an upload's stop, pause or slowdown adds
the body bytes this host's kernel had taken by then (read, or waiting to be read), by its own count.

Options: --bind ADDR (default 127.0.0.1), --port N (0: any free port), --port-file PATH (the bound port
is written there once it listens), --log PATH (the running totals, rewritten after every request:
"down <bytes sent> up <bytes read> requests <count> connections <count>"), --lifetime S (the server exits after that many
seconds; default 300), --max-bytes N (largest download answered; default 1 GiB), --reads PATH
(every read of an upload body as "<wall-clock seconds> <bytes read so far>", to tell how much had
arrived at a given moment), --held PATH (this host's own hold-ups while a transfer should flow, one a line
as "<wall-clock seconds at its end> <seconds>": a ticker wakes every 5 ms and, while a request's body is
moving and its direction is not stopped or paused by the mode, notes every stretch of 20 ms or more in
which this host's kernel neither took nor had acknowledged a byte, or in which the ticker itself was
kept from running. A busy machine holds up the server or the lab's line so; the line then brings what
it held back at once, so a count this server takes in the middle of a hold-up is short by as much).
"""

import argparse
import os
import socket
import struct
import socketserver
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

CHUNK = 64 * 1024
ZEROS = bytes(CHUNK)

ARGS = None
TOTALS = {"down": 0, "up": 0, "requests": 0, "connections": 0}
LOCK = threading.Lock()
MOVED = [0]  # drop mode: bytes sent and read so far
READS = None
HELD = None
ACTIVE = {"down": 0, "up": 0}  # the requests whose bodies are moving, by direction


def dropped(count):
    """Drop mode: true once the link has dropped; otherwise notes `count` more bytes about to move."""
    if ARGS.mode != "drop":
        return False
    with LOCK:
        if MOVED[0] >= ARGS.drop_after:
            if ARGS.dropped_file and not os.path.exists(ARGS.dropped_file):
                with open(ARGS.dropped_file, "w") as f:
                    f.write(f"{MOVED[0]}\n")
            return True
        MOVED[0] += count
        return False


FLOW = {"down": 0, "up": 0}  # stop, pause and slowdown modes: bytes each direction has moved
TRIGGERED = {}  # direction -> wall-clock time at which it reached --after
LAST_DIRECTION = [None]


CONNECTIONS = {}  # the socket of each open connection -> the bytes of its requests' lines and headers
CLOSED_TAKEN = [0]  # the body bytes the closed connections had taken


def body_bytes_taken(connection):
    """What this host's kernel has taken on a connection (read or not), by its own count
    (tcpi_bytes_received), less the requests' lines and headers. Counting the readers' progress
    instead would race them: a reader holds a chunk it has taken but not yet noted."""
    received = struct.unpack_from("<Q", connection.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 256), 128)[0]
    return max(0, received - CONNECTIONS.get(connection, 0))


def moved_by_the_kernel(connection):
    """What this host's kernel has taken and had acknowledged on a connection (tcpi_bytes_received and
    tcpi_bytes_acked)."""
    info = connection.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 256)
    return struct.unpack_from("<Q", info, 120)[0] + struct.unpack_from("<Q", info, 128)[0]


def taken_by_the_kernel():
    """The request bodies this host's kernel has taken on every connection so far (with LOCK held)."""
    taken = CLOSED_TAKEN[0]
    for connection in list(CONNECTIONS):
        try:
            taken += body_bytes_taken(connection)
        except OSError:
            pass
    return taken


def note_event(direction, event, extra=""):
    if ARGS.events:
        with open(ARGS.events, "a") as f:
            f.write(f"{time.time():.6f} {direction} {event}{extra}\n")


def starting(direction):
    """Slowdown mode: the first request of a direction makes the line fast again."""
    if ARGS.mode != "slowdown":
        return
    with LOCK:
        if LAST_DIRECTION[0] == direction:
            return
        LAST_DIRECTION[0] = direction
        if ARGS.fast_command:
            subprocess.run(ARGS.fast_command, shell=True, check=False)


def flow(direction, count):
    """Stop, pause and slowdown modes: `count` more bytes of `direction` are about to move; returns
    once they may (never, after a stop)."""
    if ARGS.mode not in ("stop", "pause", "slowdown") or ARGS.directions not in (direction, "both"):
        return
    with LOCK:
        reached = TRIGGERED.get(direction)
        if reached is None:
            if FLOW[direction] == 0:
                note_event(direction, "start")
            FLOW[direction] += count
            if FLOW[direction] < ARGS.after:
                return
            reached = TRIGGERED[direction] = time.time()
            event = {"stop": "stop", "pause": "pause", "slowdown": "slow"}[ARGS.mode]
            note_event(direction, event, f" {taken_by_the_kernel()}" if direction == "up" else "")
            if ARGS.mode == "slowdown" and ARGS.slow_command:
                subprocess.Popen(ARGS.slow_command, shell=True)
            if ARGS.mode == "pause":
                threading.Timer(ARGS.pause_seconds, note_event, (direction, "resume")).start()
    if ARGS.mode == "stop":
        hold()
    if ARGS.mode == "pause":
        wait = reached + ARGS.pause_seconds - time.time()
        if wait > 0:
            time.sleep(wait)


def stilled(direction, now):
    """True while the mode keeps `direction` still on purpose (with LOCK held)."""
    reached = TRIGGERED.get(direction)
    if reached is None or ARGS.directions not in (direction, "both"):
        return False
    return ARGS.mode == "stop" or (ARGS.mode == "pause" and now < reached + ARGS.pause_seconds)


def watch_hold_ups(period=0.005, longest_normal=0.02):
    """The ticker of --held: see the top of this file."""
    last_moved = -1
    last_progress = time.monotonic()
    while True:
        time.sleep(period)
        now = time.monotonic()
        with LOCK:
            flowing = any(ACTIVE[d] > 0 and not stilled(d, time.time()) for d in ACTIVE)
            moved = 0
            if flowing:
                for connection in list(CONNECTIONS):
                    try:
                        moved += moved_by_the_kernel(connection)
                    except OSError:
                        pass
        if not flowing:
            # A hold-up still going on when the transfer stopped (or the mode stilled it) counts too.
            if last_moved >= 0 and now - last_progress >= longest_normal:
                HELD.write(f"{time.time():.6f} {now - last_progress - period:.6f}\n")
            last_moved, last_progress = -1, now
            continue
        if moved == last_moved:
            continue
        gap = now - last_progress
        if last_moved >= 0 and gap >= longest_normal:
            HELD.write(f"{time.time():.6f} {gap - period:.6f}\n")
        last_moved, last_progress = moved, now


class Moving:
    """A request body of `direction` moving, for the ticker of --held."""

    def __init__(self, direction):
        self.direction = direction

    def __enter__(self):
        with LOCK:
            ACTIVE[self.direction] += 1

    def __exit__(self, *exc):
        with LOCK:
            ACTIVE[self.direction] -= 1
        return False


def hold():
    """Keeps a connection open without a word until the server's lifetime ends."""
    while True:
        time.sleep(1)


def note_read(count):
    with LOCK:
        TOTALS["up"] += count
        if READS:
            READS.write(f"{time.time():.6f} {TOTALS['up']}\n")


def note(kind, count):
    with LOCK:
        TOTALS[kind] += count
        write_totals()


def write_totals():
    if ARGS.log:
        tmp = ARGS.log + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"down {TOTALS['down']} up {TOTALS['up']} requests {TOTALS['requests']} "
                    f"connections {TOTALS['connections']}\n")
        os.replace(tmp, ARGS.log)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # keep the test output quiet
        pass

    def setup(self):
        super().setup()
        note("connections", 1)
        with LOCK:
            CONNECTIONS[self.connection] = 0

    def parse_request(self):
        parsed = super().parse_request()
        if parsed:
            lines = len(self.raw_requestline) + 2 + sum(len(k) + len(v) + 4 for k, v in self.headers.items())
            with LOCK:
                CONNECTIONS[self.connection] = CONNECTIONS.get(self.connection, 0) + lines
        return parsed

    def finish(self):
        with LOCK:
            try:
                CLOSED_TAKEN[0] += body_bytes_taken(self.connection)
            except OSError:
                pass
            CONNECTIONS.pop(self.connection, None)
        super().finish()

    def closing_page(self, status, page, content_type=None):
        """One whole answer, then the connection closes (the request's body is not read here)."""
        note("requests", 1)
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(page)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(page)
        self.wfile.flush()
        self.close_connection = True

    def error_page(self):
        self.closing_page(500, b"E" * CHUNK)
        # A lingering close: whatever body the client still sends is read and dropped (never counted),
        # so the client gets to read the answer instead of a reset.
        try:
            self.connection.shutdown(socket.SHUT_WR)
            self.connection.settimeout(5)
            while self.connection.recv(CHUNK):
                pass
        except OSError:
            pass

    def empty(self, status):
        self.send_response(status)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def short_page(self):
        self.closing_page(200, b"<html>" + b"x" * (1024 - 13) + b"</html>", "text/html")

    def failing(self):
        """Answers as the error, silent and short modes do; True when the request is dealt with."""
        if ARGS.mode == "short":
            self.short_page()
            return True
        if ARGS.mode == "error":
            self.error_page()
            return True
        if ARGS.mode == "silent":
            note("requests", 1)
            hold()
        return False

    def do_GET(self):
        if self.failing():
            return
        url = urlsplit(self.path)
        if url.path != "/__down":
            self.empty(404)
            return
        try:
            wanted = int(parse_qs(url.query).get("bytes", ["0"])[0])
        except ValueError:
            wanted = 0
        wanted = max(0, min(wanted, ARGS.max_bytes))
        starting("down")
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(wanted))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        sent = 0
        try:
            with Moving("down"):
                while sent < wanted:
                    if ARGS.mode == "trickle":
                        self.wfile.write(b"\0")
                        self.wfile.flush()
                        sent += 1
                        time.sleep(0.2)
                        continue
                    n = min(CHUNK, wanted - sent)
                    if ARGS.mode == "stall" and sent >= ARGS.stall_down:
                        note("down", sent)
                        hold()
                    if dropped(n):
                        note("down", sent)
                        hold()
                    flow("down", n)
                    self.wfile.write(ZEROS[:n])
                    sent += n
        except OSError:
            self.close_connection = True  # the client cut the request
        note("down", sent)
        note("requests", 1)

    def do_POST(self):
        if self.failing():
            return
        url = urlsplit(self.path)
        length = int(self.headers.get("Content-Length", "0") or 0)
        received = 0
        starting("up")
        try:
            with Moving("up"):
                while received < length:
                    n = min(CHUNK, length - received)
                    if (ARGS.mode == "stall" and received >= ARGS.stall_up) or dropped(n):
                        with LOCK:
                            write_totals()
                        hold()
                    flow("up", n)
                    block = self.rfile.read(n)
                    if not block:
                        break
                    received += len(block)
                    note_read(len(block))
        except OSError:
            pass
        with LOCK:
            write_totals()
        note("requests", 1)
        if received < length:
            self.close_connection = True
            return
        self.empty(200 if url.path == "/__up" else 404)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--log")
    parser.add_argument("--lifetime", type=float, default=300)
    parser.add_argument("--max-bytes", type=int, default=1 << 30)
    parser.add_argument("--mode", choices=("normal", "error", "silent", "trickle", "drop", "stall", "short", "stop",
                                           "pause", "slowdown"),
                        default="normal")
    parser.add_argument("--after", type=int, default=8 << 20)
    parser.add_argument("--directions", choices=("down", "up", "both"), default="both")
    parser.add_argument("--pause-seconds", type=float, default=2.5)
    parser.add_argument("--slow-command")
    parser.add_argument("--fast-command")
    parser.add_argument("--events")
    parser.add_argument("--drop-after", type=int, default=1 << 20)
    parser.add_argument("--dropped-file")
    parser.add_argument("--stall-down", type=int, default=2 << 20)
    parser.add_argument("--stall-up", type=int, default=1 << 20)
    parser.add_argument("--reads")
    parser.add_argument("--held")
    ARGS = parser.parse_args()
    global READS, HELD
    if ARGS.reads:
        READS = open(ARGS.reads, "w", buffering=1)
    if ARGS.held and ARGS.mode in ("normal", "stop", "pause", "slowdown"):
        HELD = open(ARGS.held, "w", buffering=1)
        threading.Thread(target=watch_hold_ups, daemon=True).start()

    server = Server((ARGS.bind, ARGS.port), Handler)
    write_totals()
    if ARGS.port_file:
        tmp = ARGS.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{server.server_address[1]}\n")
        os.replace(tmp, ARGS.port_file)
    # Bounded in time whatever the caller does.
    timer = threading.Timer(ARGS.lifetime, lambda: os._exit(0))
    timer.daemon = True
    timer.start()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
