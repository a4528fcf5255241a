#!/usr/bin/env python3
"""An HTTP server that misbehaves on purpose, for the engine's transfers and the launcher's POSTs.

GET and HEAD serve files below --root like a plain static server (paced to --rate bytes per second
when given), except for these path prefixes:
  /status/<code>/...  answers <code> (with a Location header for 3xx) and a short body
  /nolength/...       the file without Content-Length (the connection closes after the body)
  /nodate/...         the file without Last-Modified
  /drop/...           promises the whole file, sends half of it and closes the connection
  /slow/...           sends the file in small pieces with pauses
  /headonly/...       answers HEAD as usual and every GET with 500

Plain file answers honour "Range: bytes=N-" and "bytes=N-M" (206 with Content-Range, 416 past the
end) and "If-Range" with the file's Last-Modified date (a different date gets the whole file, as
nginx does). File faults, set by /_admin/files, strike the next requests for one path (the path
below the root, without the mode prefix); each request takes the next fault of its path's list:
  cut:F          the header promises the whole answer, F (0..1) of the file's bytes arrive, then the
                 connection closes (of the range asked for, for a ranged request)
  status:N       answers N
  ignore_range   answers 200 with the whole file even to a range request
  stall          sends the header, then nothing for 30 s
  close          closes without a word
  swap:P         the bytes of the file P (below the root) in place of the path's own, under its date
A fault applies to GET only unless written "ANY:<fault>" (GET and HEAD) or "HEAD:<fault>".
--cut-fresh F (or /_admin/mode {"cut_fresh": F}) cuts every GET that starts at the first byte of a
file after F of its bytes: only a client that resumes with Range ever gets a whole file.

POST (any path but /_admin/) answers by a fault script: each request takes the next fault of the
list, and once the list is used up every request is answered properly. Faults:
  close_before_headers  reads the request and closes without a word
  drop_mid_body         promises the whole answer, sends half of it and closes
  length_too_long       Content-Length larger than the answer, then closes
  length_too_short      Content-Length half of the answer, then the whole answer
  no_length             no Content-Length; the answer ends when the connection closes
  trickle               the answer a few bytes at a time with pauses
  status_500, status_404  that status with the answer as body
  redirect_http, redirect_https  302 to the same host and port under that scheme, answer as body
Requests answered properly or by a fault that still delivers the whole answer (no_length,
length_too_short, trickle) count as accepted; the others as not.

Admin API (POST, JSON):
  /_admin/script  {"faults": [...], "answer": "<text>"} replaces the script and forgets the log
  /_admin/log     {"posts": <POST requests so far>, "accepted": [<bodies>], "faults_left": <n>,
                   "bytes_sent": <body bytes of file answers>, "requests": [[method, path, status,
                   range start or -1, body bytes], ...]}
  /_admin/files   {"faults": {"<path>": ["cut:0.5", ...]}} replaces the file faults
  /_admin/mode    {"cut_fresh": F} (0 switches it off)
  /_admin/reset_log  forgets the file request log and byte count

Writes its port to --port-file once it listens (--port picks the port, for a restart on the same
one); ends with its parent process.
"""
import argparse
import email.utils
import http.server
import json
import os
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

DELIVERING_FAULTS = ("no_length", "length_too_short", "trickle")


class Script:
    def __init__(self):
        self.lock = threading.Lock()
        self.faults = []
        self.answer = b'{"status": 0}'
        self.posts = 0
        self.accepted = []

    def take(self, body):
        with self.lock:
            self.posts += 1
            fault = self.faults.pop(0) if self.faults else "ok"
            if fault == "ok" or fault in DELIVERING_FAULTS:
                self.accepted.append(body.decode("latin-1"))
            return fault, self.answer


class Files:
    """File faults per path, the cut-fresh mode and the log of file answers."""

    def __init__(self):
        self.lock = threading.Lock()
        self.faults = {}
        self.cut_fresh = 0.0
        self.bytes_sent = 0
        self.requests = []

    def take(self, method, path):
        with self.lock:
            queue = self.faults.get(path, [])
            for i, fault in enumerate(queue):
                scope, _, name = fault.partition(":") if fault.split(":", 1)[0] in ("ANY", "GET", "HEAD") \
                    else ("GET", "", fault)
                if scope == "ANY" or scope == method:
                    del queue[i]
                    return name
            return ""

    def log(self, method, path, status, start):
        with self.lock:
            self.requests.append([method, path, status, start, 0])
            return len(self.requests) - 1

    def sent(self, index, count):
        with self.lock:
            self.bytes_sent += count
            self.requests[index][4] += count


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    rate = 0
    script = Script()
    files = Files()

    def log_message(self, *args):
        pass

    def _file(self, path):
        rel = urllib.parse.unquote(path.split("?", 1)[0]).lstrip("/")
        full = os.path.realpath(os.path.join(self.root, rel))
        if not full.startswith(os.path.realpath(self.root) + os.sep) or not os.path.isfile(full):
            return None
        return full

    def _write_counted(self, piece, index):
        # Counted before the write returns: a client that has every byte may read the log at once.
        if index is not None:
            Handler.files.sent(index, len(piece))
        try:
            self.wfile.write(piece)
        except OSError:
            if index is not None:
                Handler.files.sent(index, -len(piece))
            raise

    def _send_paced(self, data, index=None):
        step = max(1024, self.rate // 50) if self.rate else 256 * 1024
        for i in range(0, len(data), step):
            self._write_counted(data[i:i + step], index)
            if self.rate:
                self.wfile.flush()
                time.sleep(step / self.rate)

    def _range(self, size):
        """(start, end) of a satisfiable "bytes=N-[M]" header, "unsatisfiable", or None."""
        header = self.headers.get("Range")
        if not header or not header.startswith("bytes="):
            return None
        first, _, last = header[6:].partition("-")
        if not first.isdigit() or (last and not last.isdigit()):
            return None
        start = int(first)
        end = min(int(last), size - 1) if last else size - 1
        if start >= size or end < start:
            return "unsatisfiable"
        return (start, end)

    def _answer(self, send_body):
        path = self.path
        mode = ""
        for prefix in ("/status/", "/nolength/", "/nodate/", "/drop/", "/slow/", "/headonly/"):
            if path.startswith(prefix):
                mode = prefix.strip("/")
                path = path[len(prefix) - 1:]
                break
        if mode == "headonly" and send_body:
            path = "/500" + path
            mode = "status"
        if mode == "status":
            code_text, _, rest = path.lstrip("/").partition("/")
            code = int(code_text)
            body = b"not the file\n"
            self.send_response(code)
            if 300 <= code < 400:
                self.send_header("Location", "/" + rest)
            if code != 304:
                self.send_header("Content-Length", str(len(body)))
            self.send_header("Last-Modified", email.utils.formatdate(0, usegmt=True))
            self.end_headers()
            if send_body and code != 304:
                self.wfile.write(body)
            return
        method = "GET" if send_body else "HEAD"
        rel = urllib.parse.unquote(path.split("?", 1)[0]).lstrip("/")
        fault = Handler.files.take(method, rel) if mode == "" else ""
        if fault == "close":
            Handler.files.log(method, rel, 0, -1)
            self._close_now()
            return
        if fault.startswith("status:"):
            code = int(fault[7:])
            Handler.files.log(method, rel, code, -1)
            body = b"fault\n"
            self.send_response(code)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if send_body:
                self.wfile.write(body)
            return
        full = self._file(path)
        if full is None:
            Handler.files.log(method, rel, 404, -1)
            body = b"missing\n"
            self.send_response(404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if send_body:
                self.wfile.write(body)
            return
        modified = email.utils.formatdate(os.stat(full).st_mtime, usegmt=True)
        if fault.startswith("swap:"):
            full = self._file(fault[5:]) or full
        size = os.stat(full).st_size
        wanted = self._range(size) if mode == "" and fault != "ignore_range" else None
        if_range = self.headers.get("If-Range")
        if wanted is not None and if_range is not None and if_range.strip() != modified:
            wanted = None  # the file changed: the whole file, as nginx does
        if wanted == "unsatisfiable":
            Handler.files.log(method, rel, 416, -1)
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        start, end = wanted if wanted else (0, size - 1)
        length = end - start + 1 if size else 0
        status = 206 if wanted else 200
        index = Handler.files.log(method, rel, status, start if wanted else -1)
        self.send_response(status)
        if mode != "nodate":
            self.send_header("Last-Modified", modified)
        if wanted:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        if mode == "nolength":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        if not send_body:
            return
        with open(full, "rb") as f:
            f.seek(start)
            data = f.read(length)
        if fault == "stall":
            self.wfile.flush()
            time.sleep(30)
            self.close_connection = True
            return
        cut = None
        if fault.startswith("cut:"):
            cut = float(fault[4:])
        elif Handler.files.cut_fresh and start == 0 and size > 0:
            cut = Handler.files.cut_fresh
        if mode == "drop":
            cut = 0.5
        if cut is not None:
            self._send_paced(data[: int(len(data) * cut)], index)
            self.wfile.flush()
            self._close_now()
            return
        if mode == "slow":
            for i in range(0, len(data), 1024):
                self._write_counted(data[i:i + 1024], index)
                self.wfile.flush()
                time.sleep(0.05)
            return
        self._send_paced(data, index)

    def _admin(self, name, payload):
        script = Handler.script
        if name == "script":
            with script.lock:
                script.faults = list(payload.get("faults", []))
                script.answer = str(payload.get("answer", '{"status": 0}')).encode("utf-8")
                script.posts = 0
                script.accepted = []
            return {"ok": True}
        files = Handler.files
        if name == "log":
            with script.lock, files.lock:
                return {"posts": script.posts, "accepted": list(script.accepted),
                        "faults_left": len(script.faults), "bytes_sent": files.bytes_sent,
                        "requests": list(files.requests)}
        if name == "files":
            with files.lock:
                files.faults = {k: list(v) for k, v in payload.get("faults", {}).items()}
            return {"ok": True}
        if name == "mode":
            with files.lock:
                files.cut_fresh = float(payload.get("cut_fresh", 0))
            return {"ok": True}
        if name == "reset_log":
            with files.lock:
                files.bytes_sent = 0
                files.requests = []
            return {"ok": True}
        return None

    def _close_now(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if self.path.startswith("/_admin/"):
            try:
                payload = json.loads(body.decode("utf-8")) if body else {}
            except ValueError:
                payload = {}
            answer = self._admin(self.path[len("/_admin/"):].split("?", 1)[0].strip("/"), payload)
            self._plain(200 if answer is not None else 404, json.dumps(answer or {}).encode("utf-8"))
            return
        fault, answer = Handler.script.take(body)
        if fault == "close_before_headers":
            self._close_now()
            return
        status = {"status_500": 500, "status_404": 404}.get(fault, 200)
        if fault.startswith("redirect_"):
            status = 302
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        if fault.startswith("redirect_"):
            scheme = fault[len("redirect_"):]
            self.send_header("Location", "%s://127.0.0.1:%d/moved" % (scheme, self.server.server_address[1]))
        if fault == "length_too_long":
            self.send_header("Content-Length", str(len(answer) + 100))
        elif fault == "length_too_short":
            self.send_header("Content-Length", str(len(answer) // 2))
        elif fault == "no_length":
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        if fault == "drop_mid_body":
            self.wfile.write(answer[: len(answer) // 2])
            self.wfile.flush()
            self._close_now()
        elif fault == "trickle":
            for i in range(0, len(answer), 4):
                self.wfile.write(answer[i:i + 4])
                self.wfile.flush()
                time.sleep(0.05)
        else:
            self.wfile.write(answer)
        if fault in ("length_too_long", "length_too_short", "no_length"):
            self.wfile.flush()
            self._close_now()

    def _plain(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        # The log is readable with a plain GET too (for clients that only download).
        if self.path.split("?", 1)[0] == "/_admin/log":
            self._plain(200, json.dumps(self._admin("log", {})).encode("utf-8"))
            return
        self._answer(True)

    def do_HEAD(self):
        self._answer(False)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # Clients that hang up early are part of the tests.
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".")
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--rate", type=int, default=0, help="bytes per second of plain file answers")
    parser.add_argument("--parent-pid", type=int, default=0)
    parser.add_argument("--cut-fresh", type=float, default=0.0,
                        help="cut every transfer that starts at byte 0 after this share of the file")
    args = parser.parse_args()
    Handler.root = args.root
    Handler.rate = args.rate
    Handler.files.cut_fresh = args.cut_fresh
    server = Server(("127.0.0.1", args.port), Handler)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)

    def watch_parent():
        while True:
            time.sleep(0.5)
            if args.parent_pid and os.getppid() != args.parent_pid:
                os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    sys.exit(0)


if __name__ == "__main__":
    main()
