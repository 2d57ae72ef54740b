#!/usr/bin/python3
"""Local HTTP/1.1 server for Korvi's download tests and benchmarks.

Serves one folder on 127.0.0.1 and can misbehave on demand (latency, failures,
drops, stalls, redirects, required headers) so the download engine can be tested
against real aria2c and ffmpeg without leaving the machine.

Standard library only; run it with /usr/bin/python3.
"""

import argparse
import email.utils
import os
import random
import re
import signal
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONTENT_TYPES = {
    ".m3u8": "application/vnd.apple.mpegurl",
    ".ts": "video/mp2t",
    ".mp4": "video/mp4",
    ".key": "application/octet-stream",
    ".png": "image/png",
    ".jpg": "image/jpeg",
}


def parse_args(argv):
    p = argparse.ArgumentParser(description="Local HLS test server (127.0.0.1 only)")
    p.add_argument("--root", required=True, help="folder to serve")
    p.add_argument("--port", type=int, default=0, help="port to bind, 0 = any free port")
    p.add_argument("--port-file", help="write the bound port here (atomically) once listening")
    p.add_argument("--log", help="append one line per request: METHOD PATH STATUS")
    p.add_argument("--latency-ms", type=int, default=0, help="delay before every answer")
    p.add_argument("--fail-rate", type=float, default=0.0,
                   help="0..1: share of matching requests that fail (repeatable by --seed)")
    p.add_argument("--fail-mode", choices=["500", "drop"], default="500",
                   help="how a failing request fails: HTTP 500 or a closed connection")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--fail-pattern", default=r"\.ts$",
                   help="regex on the path without query; selects requests for "
                        "--fail-rate and --fail-first")
    p.add_argument("--fail-first", type=int, default=0,
                   help="the first N requests of each matching path fail")
    p.add_argument("--fail-always", help="regex: matching paths always get 500")
    p.add_argument("--require-header", help='"Name: Value": requests without it get 403')
    p.add_argument("--also-require-header", action="append", default=[], metavar="NAME: VALUE",
                   help="a further header every request must carry, repeatable; 403 without")
    p.add_argument("--redirect", action="append", default=[], metavar="FROM=TO",
                   help="302 from path FROM to TO (a path on this server or a full URL)")
    p.add_argument("--stall", help="regex: matching requests are read but never answered")
    p.add_argument("--stall-first", type=int, default=0,
                   help="stall only the first N matching requests of each path, 0 = always")
    p.add_argument("--no-content-length", choices=["chunked", "close"],
                   help="answer files without Content-Length: chunked HTTP/1.1, or an "
                        "HTTP/1.0 body ended by closing the connection")
    p.add_argument("--pause-mid-body-ms", type=int, default=0,
                   help="send half of every body, wait this long, then the rest")
    p.add_argument("--cut-rate", type=float, default=0.0,
                   help="0..1: share of requests matching --fail-pattern whose body is cut "
                        "off after --cut-after bytes and the connection closed (by --seed)")
    p.add_argument("--cut-after", type=int, default=1000)
    p.add_argument("--slow-body", metavar="REGEX",
                   help="matching paths send their body at --slow-rate bytes a second")
    p.add_argument("--slow-rate", type=int, default=65536)
    p.add_argument("--base-token", nargs="?", const="@BASE@", default="@BASE@",
                   help="text replaced by http://127.0.0.1:PORT in served .m3u8 files")
    p.add_argument("--no-base-token", action="store_true",
                   help="serve .m3u8 files unchanged")
    p.add_argument("--endless", help="regex: matching requests get 200 and a body that never "
                                      "ends: the file (if any), then filler, --endless-chunk "
                                      "bytes every --endless-interval-ms, until the server stops")
    p.add_argument("--endless-chunk", type=int, default=1)
    p.add_argument("--endless-interval-ms", type=int, default=1000)
    p.add_argument("--live", action="append", default=[], metavar="REGEX=SOURCE",
                   help="requests whose path matches REGEX get a live playlist made from the "
                        "media playlist SOURCE (a path under --root): --live-start segments at "
                        "the first request, one more every --live-interval-s")
    p.add_argument("--live-start", type=int, default=3)
    p.add_argument("--live-interval-s", type=float, default=1.0)
    p.add_argument("--live-end-s", type=float, default=0,
                   help="seconds after the first request when the playlist stops growing and "
                        "gains #EXT-X-ENDLIST; 0 = never")
    p.add_argument("--live-window", type=int, default=0,
                   help="list only the last K segments; older ones then answer 404; 0 = all")
    p.add_argument("--max-seconds", type=float, default=600,
                   help="exit by itself after this many seconds")
    args = p.parse_args(argv)
    if not 0.0 <= args.fail_rate <= 1.0:
        p.error("--fail-rate must be between 0 and 1")
    if not 0.0 <= args.cut_rate <= 1.0:
        p.error("--cut-rate must be between 0 and 1")
    if args.slow_rate < 1:
        p.error("--slow-rate must be at least 1")
    args.redirect_map = {}
    for item in args.redirect:
        src, sep, dst = item.partition("=")
        if not sep or not src.startswith("/") or not dst:
            p.error("--redirect wants FROM=TO with FROM a path beginning with /")
        args.redirect_map[src] = dst
    args.live_sources = []
    for item in args.live:
        pattern, sep, source = item.partition("=")
        if not sep or not pattern or not source:
            p.error("--live wants REGEX=SOURCE")
        args.live_sources.append((re.compile(pattern), source))
    if args.live_interval_s <= 0:
        p.error("--live-interval-s must be above 0")
    args.required = None
    if args.require_header:
        name, sep, value = args.require_header.partition(":")
        if not sep or not name.strip():
            p.error('--require-header wants "Name: Value"')
        args.required = (name.strip(), value.strip())
    args.also_required = []
    for item in args.also_require_header:
        name, sep, value = item.partition(":")
        if not sep or not name.strip():
            p.error('--also-require-header wants "Name: Value"')
        args.also_required.append((name.strip(), value.strip()))
    return args


class Behaviour:
    """Shared state of all request threads: per-path counters and the log."""

    def __init__(self, args):
        self.args = args
        self.root = os.path.realpath(args.root)
        self.fail_pattern = re.compile(args.fail_pattern) if args.fail_pattern else None
        self.fail_always = re.compile(args.fail_always) if args.fail_always else None
        self.stall = re.compile(args.stall) if args.stall else None
        self.endless = re.compile(args.endless) if args.endless else None
        self.slow = re.compile(args.slow_body) if args.slow_body else None
        self.lock = threading.Lock()
        self.fail_counts = {}
        self.stall_counts = {}
        self.cut_counts = {}
        self.stopping = threading.Event()
        self.log_file = open(args.log, "a", encoding="utf-8") if args.log else None
        self.port = 0
        self.live_patterns = [(pattern, LivePlaylist(self.root, source, args))
                              for pattern, source in args.live_sources]
        self.lives = [live for _, live in self.live_patterns]

    def live_for(self, path):
        for pattern, live in self.live_patterns:
            if pattern.search(path):
                return live
        return None

    def log(self, method, target, status):
        if self.log_file is None:
            return
        with self.lock:
            if self.log_file.closed:
                return
            self.log_file.write("%s %s %s\n" % (method, target, status))
            self.log_file.flush()

    def _next(self, counts, path):
        with self.lock:
            n = counts.get(path, 0)
            counts[path] = n + 1
            return n

    def should_stall(self, path):
        if self.stall is None or not self.stall.search(path):
            return False
        n = self._next(self.stall_counts, path)
        return self.args.stall_first == 0 or n < self.args.stall_first

    def should_fail(self, path):
        if self.fail_pattern is None or not self.fail_pattern.search(path):
            return False
        if self.args.fail_first <= 0 and self.args.fail_rate <= 0:
            return False
        n = self._next(self.fail_counts, path)
        if n < self.args.fail_first:
            return True
        if self.args.fail_rate > 0:
            # Seeded by path and attempt, so the outcome does not depend on how
            # concurrent requests interleave.
            rng = random.Random("%d:%s:%d" % (self.args.seed, path, n))
            return rng.random() < self.args.fail_rate
        return False

    def should_cut(self, path):
        if self.args.cut_rate <= 0 or self.fail_pattern is None \
                or not self.fail_pattern.search(path):
            return False
        n = self._next(self.cut_counts, path)
        rng = random.Random("cut:%d:%s:%d" % (self.args.seed, path, n))
        return rng.random() < self.args.cut_rate

    def base(self):
        return "http://127.0.0.1:%d" % self.port


class LivePlaylist:
    """A VOD media playlist served as a live one that grows with time."""

    def __init__(self, root, source, args):
        self.args = args
        self.header = []
        self.segments = []  # (tag lines, absolute path)
        self.started = None
        folder = "/" + os.path.dirname(source.strip("/"))
        pending = []
        with open(os.path.join(root, source.lstrip("/")), encoding="utf-8") as f:
            for line in (l.strip() for l in f):
                if not line or line.startswith(("#EXT-X-ENDLIST", "#EXT-X-PLAYLIST-TYPE",
                                                "#EXT-X-MEDIA-SEQUENCE")):
                    continue
                # Keys and maps keep pointing into SOURCE's folder.
                line = re.sub(r'URI="([^"]*)"', lambda m: 'URI="%s"' % urllib.parse.urljoin(
                    folder.rstrip("/") + "/", m.group(1)), line)
                if line.startswith("#EXTINF") or (pending and line.startswith("#")):
                    pending.append(line)
                elif line.startswith("#"):
                    self.header.append(line)
                else:
                    path = urllib.parse.urljoin(folder.rstrip("/") + "/", line)
                    self.segments.append((pending, path))
                    pending = []
        self.paths = {path: i for i, (_, path) in enumerate(self.segments)}

    def window(self, now):
        """(first, count, ended): the segments listed now."""
        if self.started is None:
            self.started = now
        a = self.args
        elapsed = now - self.started
        ended = a.live_end_s > 0 and elapsed >= a.live_end_s
        if ended:
            elapsed = a.live_end_s
        count = min(len(self.segments), a.live_start + int(elapsed / a.live_interval_s))
        first = max(0, count - a.live_window) if a.live_window > 0 else 0
        return first, count, ended

    def text(self, now):
        first, count, ended = self.window(now)
        lines = list(self.header) + ["#EXT-X-MEDIA-SEQUENCE:%d" % first]
        for tags, path in self.segments[first:count]:
            lines += tags + [path]
        if ended:
            lines.append("#EXT-X-ENDLIST")
        return ("\n".join(lines) + "\n").encode(), count

    def expired(self, path, now):
        i = self.paths.get(path)
        return i is not None and self.started is not None and i < self.window(now)[0]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "KorviTestServer/1"

    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_GET(self):
        self.handle_request(send_body=True)

    def do_HEAD(self):
        self.handle_request(send_body=False)

    @property
    def behaviour(self):
        return self.server.behaviour

    def handle_request(self, send_body):
        b = self.behaviour
        path = request_path(self.path)
        target = self.path

        if b.args.latency_ms > 0:
            time.sleep(b.args.latency_ms / 1000.0)

        # Many servers answer a path with "." or ".." segments with an error; so does this one.
        raw_segments = target.split("?", 1)[0].split("#", 1)[0].split("/")
        if "." in raw_segments or ".." in raw_segments:
            self.send_simple(404, target, send_body)
            return

        if b.should_stall(path):
            b.log(self.command, target, "stall")
            self.hold()
            return

        if b.args.required is not None:
            name, value = b.args.required
            if self.headers.get(name) is None or self.headers.get(name).strip() != value:
                self.send_simple(403, target, send_body)
                return
        for name, value in b.args.also_required:
            if self.headers.get(name) is None or self.headers.get(name).strip() != value:
                self.send_simple(403, target, send_body)
                return

        if path in b.args.redirect_map:
            dst = b.args.redirect_map[path]
            if dst.startswith("/"):
                dst = b.base() + dst
            b.log(self.command, target, 302)
            self.send_response(302)
            self.send_header("Location", dst)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return

        if b.fail_always is not None and b.fail_always.search(path):
            self.send_simple(500, target, send_body)
            return

        if b.should_fail(path):
            if b.args.fail_mode == "drop":
                b.log(self.command, target, "drop")
                self.drop()
            else:
                self.send_simple(500, target, send_body)
            return

        if b.endless is not None and b.endless.search(path):
            self.serve_endless(path, target, send_body)
            return

        live = b.live_for(path)
        if live is not None:
            self.serve_live(live, target, send_body)
            return
        if any(l.expired(path, time.monotonic()) for l in b.lives):
            self.send_simple(404, target, send_body)
            return

        self.serve_file(path, target, send_body)

    def serve_live(self, live, target, send_body):
        with self.behaviour.lock:
            body, count = live.text(time.monotonic())
        # The status field tells the tests how many segments this answer listed.
        self.behaviour.log(self.command, target, "200 live=%d" % count)
        self.send_response(200)
        self.send_header("Content-Type", CONTENT_TYPES[".m3u8"])
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def send_simple(self, status, target, send_body):
        body = ("%d\n" % status).encode()
        self.behaviour.log(self.command, target, status)
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def drop(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def hold(self):
        # Keep the socket open and unanswered until the server stops.
        self.close_connection = True
        self.behaviour.stopping.wait()
        self.drop()

    def serve_endless(self, path, target, send_body):
        b = self.behaviour
        full = self.resolve(path)
        head = b""
        if full is not None:
            with open(full, "rb") as f:
                head = f.read()
        b.log(self.command, target, "endless")
        # HTTP/1.0 without Content-Length: the body would end where the connection does.
        self.protocol_version = "HTTP/1.0"
        self.close_connection = True
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        if not send_body:
            return
        chunk = max(1, b.args.endless_chunk)
        filler = (b"#KORVI\n" * (chunk // 7 + 1))[:chunk]
        try:
            self.wfile.write(head)
            while not b.stopping.is_set():
                self.wfile.write(filler)
                self.wfile.flush()
                if b.args.endless_interval_ms > 0:
                    b.stopping.wait(b.args.endless_interval_ms / 1000.0)
        except OSError:
            pass  # the client gave up, as it should

    def resolve(self, path):
        root = self.behaviour.root
        full = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if full != root and not full.startswith(root + os.sep):
            return None
        return full if os.path.isfile(full) else None

    def serve_file(self, path, target, send_body):
        b = self.behaviour
        full = self.resolve(path)
        if full is None:
            self.send_simple(404, target, send_body)
            return
        try:
            with open(full, "rb") as f:
                data = f.read()
        except OSError:
            self.send_simple(404, target, send_body)
            return
        ext = os.path.splitext(full)[1].lower()
        if ext == ".m3u8" and not b.args.no_base_token and b.args.base_token:
            data = data.replace(b.args.base_token.encode(), b.base().encode())

        size = len(data)
        start, end = 0, size - 1
        status = 200
        rng = self.headers.get("Range")
        if rng:
            parsed = parse_range(rng, size)
            if parsed == "unsatisfiable":
                b.log(self.command, target, 416)
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if parsed is not None:
                start, end = parsed
                status = 206

        body = data[start:end + 1]
        mode = b.args.no_content_length
        cut = send_body and b.should_cut(path)
        b.log(self.command, target, "cut" if cut else status)
        if mode == "close":
            # An HTTP/1.0 answer: the body ends where the connection does.
            self.protocol_version = "HTTP/1.0"
            self.close_connection = True
        self.send_response(status)
        self.send_header("Content-Type", CONTENT_TYPES.get(ext, "application/octet-stream"))
        if mode == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif mode is None:
            self.send_header("Content-Length", str(len(body)))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Last-Modified",
                         email.utils.formatdate(os.path.getmtime(full), usegmt=True))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        self.end_headers()
        if not send_body:
            if mode == "chunked":
                self.wfile.write(b"0\r\n\r\n")
            return
        if cut:
            body = body[:b.args.cut_after]
        if b.slow is not None and b.slow.search(path):
            self.send_slowly(body, mode == "chunked")
            return
        half = len(body) // 2 if b.args.pause_mid_body_ms > 0 else len(body)
        for i, part in enumerate((body[:half], body[half:])):
            if i == 1 and b.args.pause_mid_body_ms > 0:
                self.wfile.flush()
                time.sleep(b.args.pause_mid_body_ms / 1000.0)
            if not part:
                continue
            if mode == "chunked":
                self.wfile.write(b"%x\r\n" % len(part) + part + b"\r\n")
            else:
                self.wfile.write(part)
        if cut:
            self.wfile.flush()
            self.drop()
            return
        if mode == "chunked":
            self.wfile.write(b"0\r\n\r\n")


    def send_slowly(self, body, chunked):
        # A tenth of the rate every tenth of a second; the server's end ends it too.
        step = max(1, self.behaviour.args.slow_rate // 10)
        for i in range(0, len(body), step):
            if i > 0 and self.behaviour.stopping.wait(0.1):
                self.drop()
                return
            part = body[i:i + step]
            self.wfile.write(b"%x\r\n" % len(part) + part + b"\r\n" if chunked else part)
            self.wfile.flush()
        if chunked:
            self.wfile.write(b"0\r\n\r\n")


def request_path(target):
    """The path of a request target, decoded, without query or fragment."""
    if target.startswith("/"):
        # Not urlsplit: it would read "//a/b" as host "a" and path "/b".
        raw = target.split("?", 1)[0].split("#", 1)[0]
    else:
        raw = urllib.parse.urlsplit(target).path
    return urllib.parse.unquote(raw) or "/"


def parse_range(header, size):
    """One byte range: (start, end) inclusive, "unsatisfiable", or None to ignore it."""
    m = re.fullmatch(r"\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*", header)
    if not m or (m.group(1) == "" and m.group(2) == ""):
        return None  # malformed or several ranges: serve the whole file
    if m.group(1) == "":
        length = int(m.group(2))
        if length == 0 or size == 0:
            return "unsatisfiable"
        return max(0, size - length), size - 1
    start = int(m.group(1))
    end = int(m.group(2)) if m.group(2) else size - 1
    if start >= size or end < start:
        return "unsatisfiable"
    return start, min(end, size - 1)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True
    # socketserver's default backlog of 5 drops the SYNs of a client that opens 16
    # connections at once, and each dropped SYN costs a one-second retransmit: a server
    # artefact no real one has (nginx listens with 511).
    request_queue_size = 128

    def handle_error(self, request, client_address):
        # Clients hang up mid-answer all the time (aria2c, timeouts in tests): not worth a trace.
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)


def write_port_file(path, port):
    tmp = "%s.tmp.%d" % (path, os.getpid())
    with open(tmp, "w", encoding="ascii") as f:
        f.write("%d\n" % port)
        f.flush()
        os.fsync(f.fileno())
    os.replace(tmp, path)


def main(argv):
    args = parse_args(argv)
    if not os.path.isdir(args.root):
        print("hls_server: no such folder: %s" % args.root, file=sys.stderr)
        return 2
    behaviour = Behaviour(args)
    server = Server(("127.0.0.1", args.port), Handler)
    server.behaviour = behaviour
    behaviour.port = server.server_address[1]

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())

    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                              daemon=True)
    thread.start()
    if args.port_file:
        write_port_file(args.port_file, behaviour.port)

    deadline = time.monotonic() + args.max_seconds
    while not done.is_set():
        left = deadline - time.monotonic()
        if left <= 0:
            break
        done.wait(min(left, 0.5))

    behaviour.stopping.set()
    server.shutdown()
    server.server_close()
    if behaviour.log_file is not None:
        behaviour.log_file.close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
