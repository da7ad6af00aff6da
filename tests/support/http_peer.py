#!/usr/bin/env python3
"""HTTP test peer on 127.0.0.1.

Serves the files of --root like `python3 -m http.server`, plus scripted
paths that misbehave on purpose. Binds a free port and prints "PORT <n>" on
stdout once it accepts connections. Stops on SIGTERM.

Scripted paths (query arguments in brackets):
  /_lie[announce, send]       Content-Length: announce, sends `send` bytes, closes
  /_stall[announce, send, hold]  sends `send` bytes of `announce`, then holds
                              the connection open for `hold` seconds
  /_status[code, size]        answers `code` with a body of `size` bytes
  /_redirect[to, code]        answers `code` (302) with Location: to
  /_trickle[chunks, size, delay]  chunks of `size` bytes, `delay` ms apart
  /_nolength[size]            a body without Content-Length, ended by close
  /_big[size]                 `size` bytes of the pattern byte(i) = i % 251
  /_echo                      the request (method, target, headers, body) as text
  /_auth[user, pass]          requires HTTP basic authentication
  /_silent[hold]              accepts the request, never answers
Bodies of scripted paths use the pattern byte(i) = i % 251 unless stated.
"""

import argparse
import base64
import os
import signal
import ssl
import sys
import threading
import time
from functools import partial
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

BLOCK = bytes(i % 251 for i in range(251 * 4096))  # pattern-continuous block
WINDOW = memoryview(BLOCK + BLOCK[:251])  # any offset, one block long, no copy


class Handler(SimpleHTTPRequestHandler):
    server_version = "TestPeer/1.0"

    def log_message(self, fmt, *args):
        pass

    def _args(self):
        q = parse_qs(urlsplit(self.path).query)
        return {k: v[0] for k, v in q.items()}

    def _int(self, args, name, default):
        try:
            return int(args.get(name, default))
        except ValueError:
            return default

    def _send_pattern(self, count, offset=0):
        sent = 0
        while sent < count:
            n = min(len(BLOCK), count - sent)
            start = (offset + sent) % 251
            self.wfile.write(WINDOW[start:start + n])
            sent += n

    def _head(self, code, length=None, extra=()):
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Connection", "close")
        self.end_headers()

    def do_POST(self):
        self.do_GET()

    def do_GET(self):
        route = urlsplit(self.path).path
        handler = getattr(self, "route" + route.replace("/", "_"), None) \
            if route.startswith("/_") else None
        if handler is None:
            if self.command == "POST":
                self.send_error(405)
                return
            return super().do_GET()
        self.close_connection = True
        try:
            handler(self._args())
        except (BrokenPipeError, ConnectionResetError):
            pass

    def route__lie(self, a):
        self._head(200, self._int(a, "announce", 2000))
        self._send_pattern(self._int(a, "send", 1000))
        self.wfile.flush()

    def route__stall(self, a):
        self._head(200, self._int(a, "announce", 100000))
        self._send_pattern(self._int(a, "send", 1000))
        self.wfile.flush()
        time.sleep(self._int(a, "hold", 30))

    def route__status(self, a):
        size = self._int(a, "size", 1000)
        self._head(self._int(a, "code", 404), size)
        self._send_pattern(size)

    def route__redirect(self, a):
        self._head(self._int(a, "code", 302), 0, [("Location", a.get("to", "/"))])

    def route__trickle(self, a):
        chunks = self._int(a, "chunks", 10)
        size = self._int(a, "size", 100)
        delay = self._int(a, "delay", 50) / 1000.0
        self._head(200, chunks * size)
        for i in range(chunks):
            self._send_pattern(size, i * size)
            self.wfile.flush()
            time.sleep(delay)

    def route__nolength(self, a):
        self._head(200, None)
        self._send_pattern(self._int(a, "size", 1000))

    def route__big(self, a):
        size = self._int(a, "size", 1 << 20)
        self._head(200, size)
        self._send_pattern(size)

    def route__echo(self, a):
        length = int(self.headers.get("Content-Length", "0") or "0")
        body = self.rfile.read(length) if length > 0 else b""
        text = "%s %s %s\n" % (self.command, self.path, self.request_version)
        for k, v in self.headers.items():
            text += "%s: %s\n" % (k, v)
        data = text.encode("utf-8") + b"\n" + body
        self._head(200, len(data))
        self.wfile.write(data)

    def route__auth(self, a):
        want = "Basic " + base64.b64encode(
            ("%s:%s" % (a.get("user", "u"), a.get("pass", "p"))).encode()).decode()
        if self.headers.get("Authorization") != want:
            body = b"who are you"
            self._head(401, len(body), [("WWW-Authenticate", 'Basic realm="test"')])
            self.wfile.write(body)
            return
        body = b"secret"
        self._head(200, len(body))
        self.wfile.write(body)

    def route__silent(self, a):
        time.sleep(self._int(a, "hold", 30))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", default=".")
    ap.add_argument("--cert", help="serve TLS with this PEM certificate")
    ap.add_argument("--key", help="the certificate's PEM key")
    opts = ap.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    # A test program that crashes cannot stop its peer: go with the parent.
    parent = os.getppid()

    def watch_parent():
        while os.getppid() == parent:
            time.sleep(0.5)
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    server = ThreadingHTTPServer(("127.0.0.1", 0),
                                 partial(Handler, directory=opts.root))
    server.daemon_threads = True
    if opts.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(opts.cert, opts.key)
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
