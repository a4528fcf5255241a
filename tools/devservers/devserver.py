"""Shared base of the development and test servers.

Every server listens on a free loopback port (or the one given), reports the port on stdout and,
when asked, in a file, serves plain http or https, keeps an admin API under /_admin/ and ends by
itself when its parent process goes away, after an idle time or after a lifetime limit.
"""

import argparse
import json
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ADMIN_PREFIX = "/_admin/"


class DevServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler_class, role):
        super().__init__(address, handler_class)
        self.role = role
        self.lock = threading.Lock()
        self.last_activity = time.monotonic()
        self.stopping = False

    def touch(self):
        self.last_activity = time.monotonic()

    def handle_error(self, request, client_address):
        # Clients that refuse the certificate or hang up are part of the tests, not errors.
        if isinstance(sys.exc_info()[1], (ssl.SSLError, ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)


class Role:
    """What a server does besides the admin API. Subclasses override handle() and admin()."""

    def __init__(self):
        self.lock = threading.Lock()
        self.requests = []

    def record(self, entry):
        with self.lock:
            self.requests.append(entry)

    def handle(self, handler, entry):
        """Answers one request that is not an admin call; entry is already recorded."""
        handler.send_answer(404, b"{}")

    def admin(self, name, payload):
        """Answers /_admin/<name>; returns (status, object) or None when unknown."""
        if name == "requests":
            with self.lock:
                return 200, list(self.requests)
        if name == "reset":
            with self.lock:
                self.requests.clear()
            self.reset()
            return 200, {"ok": True}
        return None

    def reset(self):
        pass


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KrDevServer/1"

    def log_message(self, fmt, *args):  # quiet unless asked
        if os.environ.get("KR_DEVSERVER_VERBOSE"):
            sys.stderr.write("%s %s\n" % (self.server.role.__class__.__name__, fmt % args))

    def setup(self):
        super().setup()
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(10)
            self.request.do_handshake()

    def handle_one_request(self):
        try:
            super().handle_one_request()
        except (ssl.SSLError, ConnectionError, TimeoutError):
            self.close_connection = True

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def send_answer(self, status, body, content_type="application/json", extra_headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra_headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def drop(self):
        """Closes the connection without any answer."""
        self.close_connection = True
        try:
            self.connection.shutdown(2)
        except OSError:
            pass

    def dispatch(self):
        self.server.touch()
        body = self.read_body()
        role = self.server.role
        if self.path.startswith(ADMIN_PREFIX):
            name = self.path[len(ADMIN_PREFIX):].split("?", 1)[0].strip("/")
            try:
                payload = json.loads(body.decode("utf-8")) if body else {}
            except ValueError:
                self.send_answer(400, b'{"error":"bad json"}')
                return
            if name == "shutdown":
                self.send_answer(200, b'{"ok":true}')
                threading.Thread(target=self.server.shutdown, daemon=True).start()
                return
            answer = role.admin(name, payload)
            if answer is None:
                self.send_answer(404, b'{"error":"unknown admin call"}')
                return
            status, obj = answer
            self.send_answer(status, json.dumps(obj).encode("utf-8"))
            return
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            # latin-1 keeps every byte as one code point
            "body": body.decode("latin-1"),
            "time": time.time(),
        }
        role.record(entry)
        role.handle(self, entry)

    do_GET = dispatch
    do_POST = dispatch
    do_PUT = dispatch
    do_DELETE = dispatch
    do_HEAD = dispatch


def base_arguments(description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--port-file", help="write the port here once listening")
    parser.add_argument("--parent-pid", type=int, help="end when this process is gone")
    parser.add_argument("--idle", type=float, default=300.0, help="end after this many idle seconds")
    parser.add_argument("--lifetime", type=float, default=900.0, help="end after this many seconds")
    parser.add_argument("--tls-cert", help="PEM certificate chain: serve https")
    parser.add_argument("--tls-key", help="PEM private key of --tls-cert")
    return parser


def _parent_alive(pid):
    if pid is None:
        return True
    if os.getppid() != pid:
        return False
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def _watchdog(server, args, started):
    while not server.stopping:
        time.sleep(0.25)
        now = time.monotonic()
        if (not _parent_alive(args.parent_pid) or now - started > args.lifetime
                or now - server.last_activity > args.idle):
            server.shutdown()
            return


def serve(role, args, handler_class=Handler):
    server = DevServer((args.host, args.port), handler_class, role)
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        # The handshake runs on the request thread, so a client that refuses the certificate
        # cannot stall the accept loop.
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    print(port, flush=True)
    threading.Thread(target=_watchdog, args=(server, args, time.monotonic()), daemon=True).start()
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping = True
        server.server_close()
