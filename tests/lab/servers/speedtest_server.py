#!/usr/bin/env python3
"""A plain-HTTP speed-test endpoint for the load-test tests and benchmarks.

  GET  /__down?bytes=N   streams exactly N bytes (with a Content-Length) in 64 KiB chunks
  POST /__up             reads the body and discards it; answers 200 with an empty body

Anything else is a 404. Connections are kept alive (HTTP/1.1), one thread per connection.

Options: --bind ADDR (default 127.0.0.1), --port N (0: any free port), --port-file PATH (the bound port
is written there once it listens), --log PATH (the running totals, rewritten after every request:
"down <bytes sent> up <bytes read> requests <count>"), --lifetime S (the server exits after that many
seconds; default 300), --max-bytes N (largest download answered; default 1 GiB).
"""

import argparse
import os
import socketserver
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

CHUNK = 64 * 1024
ZEROS = bytes(CHUNK)

ARGS = None
TOTALS = {"down": 0, "up": 0, "requests": 0}
LOCK = threading.Lock()


def note(kind, count):
    with LOCK:
        TOTALS[kind] += count
        write_totals()


def write_totals():
    if ARGS.log:
        tmp = ARGS.log + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"down {TOTALS['down']} up {TOTALS['up']} requests {TOTALS['requests']}\n")
        os.replace(tmp, ARGS.log)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # keep the test output quiet
        pass

    def empty(self, status):
        self.send_response(status)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        url = urlsplit(self.path)
        if url.path != "/__down":
            self.empty(404)
            return
        try:
            wanted = int(parse_qs(url.query).get("bytes", ["0"])[0])
        except ValueError:
            wanted = 0
        wanted = max(0, min(wanted, ARGS.max_bytes))
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(wanted))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        sent = 0
        try:
            while sent < wanted:
                n = min(CHUNK, wanted - sent)
                self.wfile.write(ZEROS[:n])
                sent += n
        except OSError:
            self.close_connection = True  # the client cut the request
        note("down", sent)
        note("requests", 1)

    def do_POST(self):
        url = urlsplit(self.path)
        length = int(self.headers.get("Content-Length", "0") or 0)
        received = 0
        try:
            while received < length:
                block = self.rfile.read(min(CHUNK, length - received))
                if not block:
                    break
                received += len(block)
        except OSError:
            pass
        note("up", received)
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
    ARGS = parser.parse_args()

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
