#!/usr/bin/env python3
"""A stand-in for the maker's web server, on loopback.

Serves the configuration text at /notarget/varcgi/dncgi.txt, the .torrent
file at /<its file name>, the payload's files under /seed/ for the web seed
(with single byte ranges, as web-seed clients ask for them), and a small
home page at /.

    server.py --port 8047 --config-file dncgi.txt --torrent demo.torrent \
              --seed-dir DATA [--rate BYTES_PER_SECOND] [--log FILE]

--rate paces the web seed's bytes (all connections together), so that a
download stays on screen long enough to watch.

With --scripted (for tests) it serves what it is told on stdin instead, one
JSON object a line, each answered with one line on stdout:
    {"path": P, "kind": K, "body": BASE64, ...}   reply to P (see Handler.scripted)
    {"files": PREFIX, "dir": DIR}                 files under DIR at PREFIX, ranges too
    {"log": true}                                 the requests so far, as JSON
--port 0 picks a free port and prints it first. It ends when stdin closes.
"""
import argparse
import base64
import html
import json
import os
import re
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONFIG_PATH = "/notarget/varcgi/dncgi.txt"
RANGE_RE = re.compile(r"^bytes=(\d*)-(\d*)$")
CHUNK = 64 * 1024


class Pacer:
    """Spaces out chunks so that all connections together send at most
    `rate` bytes per second (0: no limit)."""

    def __init__(self, rate):
        self.rate = rate
        self.lock = threading.Lock()
        self.next_slot = time.monotonic()

    def wait(self, nbytes):
        if not self.rate:
            return
        with self.lock:
            now = time.monotonic()
            start = max(now, self.next_slot)
            self.next_slot = start + nbytes / self.rate
        if start > now:
            time.sleep(start - now)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A web-seed client drops its connection whenever it has what it
        # wants: not worth a traceback.
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive: a web seed asks many ranges
    server_version = "CorvaneDemo/1"

    def log_message(self, fmt, *args):
        log = self.server.log
        if log:
            log.write("%s %s\n" % (self.log_date_time_string(), fmt % args))
            log.flush()

    def do_HEAD(self):
        self.handle_request(head=True)

    def do_GET(self):
        self.handle_request(head=False)

    def handle_request(self, head):
        path = urllib.parse.urlsplit(self.path).path
        srv = self.server
        with srv.lock:
            if srv.scripted:
                srv.requests.append({"method": self.command, "target": self.path,
                                     "headers": {k.lower(): v for k, v in self.headers.items()}})
            route = srv.routes.get(path)
            files = [(p, d) for p, d in srv.files if path.startswith(p)]
        if route:
            return self.scripted(route)
        if files:
            return self.send_seed_file(urllib.parse.unquote(path[len(files[0][0]):]), head, files[0][1])
        if srv.scripted:
            return self.send_bytes(b"<!doctype html><title>404</title><h1>Not Found</h1>",
                                   "text/html", head, status=404)
        if path == CONFIG_PATH:
            return self.send_bytes(self.server.config, "text/plain", head)
        if path == "/" + os.path.basename(self.server.torrent):
            with open(self.server.torrent, "rb") as f:
                return self.send_bytes(f.read(), "application/x-bittorrent", head)
        if path in ("/", "/index.html"):
            page = ("<!doctype html><title>Corvane demo</title>"
                    "<h1>Corvane demo server</h1><p>Serving %s on loopback.</p>"
                    % html.escape(os.path.basename(self.server.torrent)))
            return self.send_bytes(page.encode(), "text/html; charset=utf-8", head)
        self.send_bytes(b"<!doctype html><title>404</title><h1>Not Found</h1>",
                        "text/html", head, status=404)

    def send_bytes(self, body, ctype, head, status=200):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        if not head:
            self.wfile.write(body)

    def scripted(self, r):
        """kind: whole (status, type), chunked, pieces (piece bytes,
        gap_us apart), cut (announce all, send `sent` bytes, close; chunked too),
        stall (nothing, or headers and `sent` bytes, then nothing), redirect
        (status, location)."""
        body, kind, sent = base64.b64decode(r.get("body", "")), r["kind"], r.get("sent", 0)
        self.close_connection = True
        if kind == "stall" and not sent:
            return threading.Event().wait()
        self.send_response(r.get("status", 302 if kind == "redirect" else 200))
        self.send_header("Connection", "close")
        if kind == "redirect":
            body = b"<html>moved</html>"
            self.send_header("Location", r["location"])
        self.send_header("Content-Type", r.get("type", "application/octet-stream"))
        chunked = kind == "chunked" or r.get("chunked")
        self.send_header(*(("Transfer-Encoding", "chunked") if chunked else ("Content-Length", str(len(body)))))
        self.end_headers()
        if kind in ("cut", "stall"):
            body = body[:sent]
        piece = r.get("piece") or 4096 if chunked or kind == "pieces" else max(len(body), 1)
        for i in range(0, len(body), piece):
            part = body[i:i + piece]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part) if chunked else part)
            if kind == "pieces":
                time.sleep(r.get("gap_us", 0) / 1e6)
        if kind == "stall":
            return threading.Event().wait()
        if chunked and kind != "cut":
            self.wfile.write(b"0\r\n\r\n")

    def send_seed_file(self, relative, head, root):
        full = os.path.realpath(os.path.join(root, relative))
        if not full.startswith(root + os.sep) or not os.path.isfile(full):
            return self.send_bytes(b"Not Found", "text/plain", head, status=404)
        size = os.path.getsize(full)
        start, end, status = 0, size - 1, 200
        spec = self.headers.get("Range")
        if spec:
            m = RANGE_RE.match(spec.strip())
            if m and (m.group(1) or m.group(2)):
                if m.group(1):
                    start = int(m.group(1))
                    end = min(int(m.group(2)), size - 1) if m.group(2) else size - 1
                else:  # the last N bytes
                    start, end = max(0, size - int(m.group(2))), size - 1
                if start >= size or start > end:
                    self.send_response(416)
                    self.send_header("Content-Range", "bytes */%d" % size)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                status = 206
            # Anything else (several ranges, bad syntax): the whole file.
        length = end - start + 1 if size else 0
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Accept-Ranges", "bytes")
        if self.server.scripted:  # one request a connection, so each is a client's first
            self.close_connection = True
            self.send_header("Connection", "close")
        self.send_header("Content-Length", str(length))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.end_headers()
        if head or length == 0:
            return
        with open(full, "rb") as f:
            f.seek(start)
            left = length
            while left > 0:
                chunk = f.read(min(left, CHUNK))
                if not chunk:
                    break
                self.server.pacer.wait(len(chunk))
                self.wfile.write(chunk)
                left -= len(chunk)


def obey(server):
    """Reads the test's script from stdin; exits when stdin closes."""
    for line in sys.stdin:
        cmd = json.loads(line)
        with server.lock:
            if "files" in cmd:
                server.files.append((cmd["files"], os.path.realpath(cmd["dir"])))
            elif "path" in cmd:
                server.routes[cmd["path"]] = cmd
        print(json.dumps(server.requests) if "log" in cmd else "ok", flush=True)
    os._exit(0)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bind", default="127.0.0.1")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--config-file", help="the configuration text, served as is")
    ap.add_argument("--torrent", default="")
    ap.add_argument("--seed-dir", help="folder holding the torrent's top folder")
    ap.add_argument("--scripted", action="store_true", help="serve what stdin says (tests)")
    ap.add_argument("--rate", type=int, default=0, help="web-seed bytes per second (0: no limit)")
    ap.add_argument("--log", help="request log (default: none)")
    args = ap.parse_args()

    server = Server((args.bind, args.port), Handler)
    server.pacer = Pacer(args.rate)
    server.lock, server.requests, server.routes = threading.Lock(), [], {}
    server.scripted, server.files = args.scripted, []
    if not args.scripted:
        with open(args.config_file, "rb") as f:
            server.config = f.read()
        server.torrent = os.path.abspath(args.torrent)
        server.files.append(("/seed/", os.path.realpath(args.seed_dir)))
    server.log = open(args.log, "a") if args.log else None
    port = server.server_address[1]
    try:
        if args.port == 0:
            print(port, flush=True)
    except BrokenPipeError:  # nobody waits for this server any more
        os._exit(0)
    if args.scripted:
        threading.Thread(target=obey, args=(server,), daemon=True).start()
    else:
        print("serving on http://%s:%d/" % (args.bind, port), file=sys.stderr, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
