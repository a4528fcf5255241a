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
  /_admin/log     {"posts": <POST requests so far>, "accepted": [<bodies>], "faults_left": <n>}

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


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    rate = 0
    script = Script()

    def log_message(self, *args):
        pass

    def _file(self, path):
        rel = urllib.parse.unquote(path.split("?", 1)[0]).lstrip("/")
        full = os.path.realpath(os.path.join(self.root, rel))
        if not full.startswith(os.path.realpath(self.root) + os.sep) or not os.path.isfile(full):
            return None
        return full

    def _send_paced(self, data):
        if not self.rate:
            self.wfile.write(data)
            return
        step = max(1024, self.rate // 50)
        for i in range(0, len(data), step):
            self.wfile.write(data[i:i + step])
            self.wfile.flush()
            time.sleep(step / self.rate)

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
        full = self._file(path)
        if full is None:
            body = b"missing\n"
            self.send_response(404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if send_body:
                self.wfile.write(body)
            return
        with open(full, "rb") as f:
            data = f.read()
        mtime = os.stat(full).st_mtime
        self.send_response(200)
        if mode != "nodate":
            self.send_header("Last-Modified", email.utils.formatdate(mtime, usegmt=True))
        if mode == "nolength":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if not send_body:
            return
        if mode == "drop":
            self.wfile.write(data[: len(data) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        if mode == "slow":
            for i in range(0, len(data), 1024):
                self.wfile.write(data[i:i + 1024])
                self.wfile.flush()
                time.sleep(0.05)
            return
        self._send_paced(data)

    def _admin(self, name, payload):
        script = Handler.script
        if name == "script":
            with script.lock:
                script.faults = list(payload.get("faults", []))
                script.answer = str(payload.get("answer", '{"status": 0}')).encode("utf-8")
                script.posts = 0
                script.accepted = []
            return {"ok": True}
        if name == "log":
            with script.lock:
                return {"posts": script.posts, "accepted": list(script.accepted),
                        "faults_left": len(script.faults)}
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
    args = parser.parse_args()
    Handler.root = args.root
    Handler.rate = args.rate
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
