#!/usr/bin/env python3
"""A small HTTP server standing in for the captive-portal check page in the probe tests.

How it answers is its mode: the default comes from --mode; a request may pick another one with the
query string "?mode=<mode>" (so one server serves every outcome).

Modes:
  success     200 with the check page whose body contains "Success"
  other       200 with a login page (no "Success")
  binary      200 with bytes that are not valid UTF-8 around "Success"
  <number>    that status code (a 3xx redirects to this server's success page)
  slow:<ms>   the check page after a delay of that many milliseconds
  stall       reads the request and never answers (the connection is held for --stall seconds)
  close       closes the connection without any answer
  garbage     answers with bytes that are not HTTP

Options: --bind ADDR (default 127.0.0.1), --port N (0: any free port), --port-file PATH (the bound
port is written there once it listens), --log PATH (one line per request: mode, client port, path, User-Agent),
--stall S (default 30), --lifetime S (the server exits after that many seconds; default 600).
"""

import argparse
import os
import sys
import threading
import time
import socket
import socketserver
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

SUCCESS_PAGE = b"<HTML><HEAD><TITLE>Success</TITLE></HEAD><BODY>Success</BODY></HTML>"
LOGIN_PAGE = b"<html><head><title>Hotel Wi-Fi</title></head><body>Please log in to continue.</body></html>"
BINARY_PAGE = b"\xff\xfe\xc3(<b>Success</b>\x80\x81"

ARGS = None
LOG_LOCK = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # keep the test output quiet
        pass

    def note(self, mode):
        if ARGS.log:
            with LOG_LOCK, open(ARGS.log, "a") as f:
                f.write(f"{mode} {self.client_address[1]} {self.path} {self.headers.get('User-Agent', '-')}\n")

    def send_body(self, status, body, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def do_GET(self):
        query = parse_qs(urlsplit(self.path).query)
        mode = query.get("mode", [ARGS.mode])[0]
        self.note(mode)
        if mode == "success":
            self.send_body(200, SUCCESS_PAGE)
        elif mode == "other":
            self.send_body(200, LOGIN_PAGE)
        elif mode == "binary":
            self.send_body(200, BINARY_PAGE)
        elif mode.startswith("slow:"):
            time.sleep(min(int(mode[5:]), 60000) / 1000.0)
            self.send_body(200, SUCCESS_PAGE)
        elif mode == "stall":
            time.sleep(ARGS.stall)
            self.close_connection = True
        elif mode == "close":
            self.close_connection = True
        elif mode == "garbage":
            self.wfile.write(b"HELLO THERE\r\nthis is not http\r\n")
            self.close_connection = True
        elif mode.isdigit():
            status = int(mode)
            # The redirect leads back here, to the real page: a client that followed it would succeed.
            here = self.headers.get("Host", f"{ARGS.bind}:{self.server.server_address[1]}")
            location = f"http://{here}/hotspot-detect.html?mode=success"
            extra = [("Location", location)] if 300 <= status <= 399 else []
            self.send_body(status, b"status " + mode.encode("ascii"), extra)
        else:
            self.send_body(404, b"unknown mode")


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def server_bind(self):
        # HTTPServer.server_bind looks the bound address up in DNS (getfqdn): in a lab namespace that
        # lookup goes nowhere and stalls the start, and a test server has no business asking anyway.
        socketserver.TCPServer.server_bind(self)
        host, port = self.server_address[:2]
        self.server_name = host
        self.server_port = port


class Server6(Server):
    address_family = socket.AF_INET6


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--mode", default="success")
    parser.add_argument("--log")
    parser.add_argument("--stall", type=float, default=30.0)
    parser.add_argument("--lifetime", type=float, default=600.0)
    parser.add_argument("--bind6", help="also serve on this IPv6 address, on the same port")
    ARGS = parser.parse_args()

    server = Server((ARGS.bind, ARGS.port), Handler)
    port = server.server_address[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()
    if ARGS.bind6:
        threading.Thread(target=Server6((ARGS.bind6, port), Handler).serve_forever, daemon=True).start()
    if ARGS.port_file:
        tmp = ARGS.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{port}\n")
        os.replace(tmp, ARGS.port_file)
    print(f"http server on {ARGS.bind}:{port} mode {ARGS.mode}", flush=True)
    time.sleep(ARGS.lifetime)
    sys.exit(0)


if __name__ == "__main__":
    main()
