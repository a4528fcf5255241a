#!/usr/bin/env python3
"""Launcher server role for the install helper: checks the signed settings request and answers
with the settings text.

GET /data?signature_version=V&signature=D is accepted when D is the SHA-1 (hex) of
"?" + the query up to "&signature=" + "&signature=" + key[V]; the answer is then the settings text,
by default "-Motd=welcome -DownloadServer=<--download-server>" (or --settings). A bad or missing signature gets 403 "bad signature".

Admin API (POST or GET, JSON):
  /_admin/requests   every recorded request
  /_admin/config     fields: settings (the answer text)
  /_admin/reset      forgets the requests and restores the default answer
  /_admin/shutdown   ends the server
"""

import hashlib

import devserver


class HelperSettingsRole(devserver.Role):
    def __init__(self, keys, settings):
        super().__init__()
        self.keys = keys
        self.default_settings = settings
        self.settings = self.default_settings

    def reset(self):
        with self.lock:
            self.settings = self.default_settings

    def admin(self, name, payload):
        if name == "config":
            with self.lock:
                self.settings = str(payload.get("settings", self.default_settings))
            return 200, {"ok": True}
        return super().admin(name, payload)

    def signature_ok(self, path):
        if "?" not in path:
            return False
        query = "?" + path.split("?", 1)[1]
        signed, sep, digest = query.rpartition("&signature=")
        if not sep:
            return False
        version = None
        for pair in signed[1:].split("&"):
            name, _, value = pair.partition("=")
            if name == "signature_version":
                version = value
        if version is None or not version.isdigit() or int(version) >= len(self.keys):
            return False
        key = self.keys[int(version)]
        if key in path:
            return False  # the key itself must never travel
        expected = hashlib.sha1((signed + "&signature=" + key).encode("latin-1")).hexdigest()
        return digest == expected

    def handle(self, handler, entry):
        if entry["path"].split("?", 1)[0] != "/data":
            handler.send_answer(404, b"not found", "text/plain")
            return
        if not self.signature_ok(entry["path"]):
            handler.send_answer(403, b"bad signature", "text/plain")
            return
        with self.lock:
            body = self.settings.encode("latin-1")
        handler.send_answer(200, body, "text/plain")


def main():
    parser = devserver.base_arguments(__doc__)
    parser.add_argument("--keys", required=True, help="the 21 signature keys, comma-separated")
    parser.add_argument("--download-server", default="", help="value of the DownloadServer setting")
    parser.add_argument("--settings", help="the whole answer text instead of the default")
    args = parser.parse_args()
    settings = args.settings
    if settings is None:
        settings = "-Motd=welcome -DownloadServer=%s" % args.download_server
    devserver.serve(HelperSettingsRole(args.keys.split(","), settings), args)


if __name__ == "__main__":
    main()
