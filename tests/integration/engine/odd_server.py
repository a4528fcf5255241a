#!/usr/bin/env python3
"""A download server that misbehaves on purpose, for the engine's transfer tests.

Serves files below --root like a plain static server, except for these path prefixes:
  /status/<code>/...  answers <code> (with a Location header for 3xx) and a short body
  /nolength/...       the file without Content-Length (the connection closes after the body)
  /nodate/...         the file without Last-Modified
  /drop/...           promises the whole file, sends half of it and closes the connection
  /slow/...           sends the file in small pieces with pauses
  /headonly/...       answers HEAD as usual and every GET with 500
Writes its port to --port-file once it listens; ends with its parent process.
"""
import argparse
import email.utils
import http.server
import os
import socketserver
import sys
import threading
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."

    def log_message(self, *args):
        pass

    def _file(self, path):
        rel = urllib.parse.unquote(path.split("?", 1)[0]).lstrip("/")
        full = os.path.realpath(os.path.join(self.root, rel))
        if not full.startswith(os.path.realpath(self.root) + os.sep) or not os.path.isfile(full):
            return None
        return full

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
        self.wfile.write(data)

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
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--parent-pid", type=int, default=0)
    args = parser.parse_args()
    Handler.root = args.root
    server = Server(("127.0.0.1", 0), Handler)
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
