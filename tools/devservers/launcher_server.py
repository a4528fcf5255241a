#!/usr/bin/env python3
"""A launcher server for development and tests.

Answers the launcher's four requests with flat JSON from a small configuration:
  /launcher/data/           {"status": 1} + "settings"
  /launcher/download_data/  {"status": 1, "DownloadServer": "download_server"}
  /launcher/language_data/  {"status": 1} + "languages"[language_code of the request]
                            (an unknown code answers status 0 with the Error "unknown_language")
  /launcher/game_data/      {"status": 1} + "game_data"
"errors" maps one of the names data, download_data, language_data, game_data to an Error text: that
answer then carries status 0 and the Error, besides its usual keys.

It also plays the game's web interface (see web_pages.py): the login page at "/" and "/<language>/",
"POST /login", the page after login at ".../play", ".../logout", ".../close", error pages "*.html" and
"/outside", a page the white list leaves out. The setting "HttpServer": "self" answers with this
server's own address. Any other path answers 404.

Configuration (JSON, from --config FILE or /_admin/config; missing keys keep their defaults):
  {"settings": {...}, "download_server": "...", "languages": {"en": {...}}, "game_data": {...},
   "errors": {"data": "maintenance"}, "web": {"token": "...", "customer_id": 1, "sid": "..."}}

Admin API: /_admin/requests (every request recorded), /_admin/logins (the web logins: user name,
whether a password came, the sid), /_admin/config, /_admin/reset (forgets the requests and restores
the configuration the server started with), /_admin/shutdown.
"""

import copy
import json

import devserver
import web_pages

PREFIX = "/launcher/"

DEFAULT_CONFIG = {
    "settings": {
        "HttpServer": "http://127.0.0.1:18081",
        "ErrorPage": "%s.html",
        "MinimumDiscMemory": 100,
        "Language": "en",
        "StudioLanguageCode": 1,
        "AvailableLanguages": "en,de",
        "WhiteListURL": "",
    },
    "download_server": "127.0.0.1:18083",
    "languages": {
        "en": {
            "LABEL_INSTALL_INIT": "Preparing installation",
            "LABEL_INSTALL_UPDATE_INIT": "Checking for updates",
            "LABEL_INSTALL_PROGRESS": "Installing",
            "LABEL_INSTALL_UPDATE_PROGRESS": "Updating",
            "LABEL_INSTALLATION_COMPLETED": "Ready",
            "LABEL_PLAY": "Play",
            "LABEL_LAUNCHER_UPDATE_TITLE": "Quorvale Launcher Update",
            "LABEL_LAUNCHER_UPDATE_TEXT": "Quorvale Launcher has been updated click ok to apply changes",
            "StudioLanguageCode": "1",
        },
    },
    "game_data": {"LauncherHash": "dev-hash", "UserId": 1},
    "errors": {},
    "web": {"token": "dev-web-token", "customer_id": 1, "sid": "dev-sid"},
}


def merged(base, update):
    config = copy.deepcopy(base)
    for key, value in (update or {}).items():
        if key in config:
            config[key] = copy.deepcopy(value)
    return config


class LauncherRole(devserver.Role):
    def __init__(self, config):
        super().__init__()
        self.initial = merged(DEFAULT_CONFIG, config)
        self.config = copy.deepcopy(self.initial)
        self.logins = []

    def reset(self):
        with self.lock:
            self.config = copy.deepcopy(self.initial)
            self.logins.clear()

    def admin(self, name, payload):
        if name == "config":
            with self.lock:
                self.config = merged(DEFAULT_CONFIG, payload)
            return 200, {"ok": True}
        if name == "logins":
            with self.lock:
                return 200, list(self.logins)
        return super().admin(name, payload)

    def answer(self, name, body, config, own_address):
        if name == "data":
            answer = dict(config["settings"])
            if answer.get("HttpServer") == "self":
                answer["HttpServer"] = own_address
        elif name == "download_data":
            answer = {"DownloadServer": config["download_server"]}
        elif name == "language_data":
            # Only the language code is read from the request; a body that is no JSON object has none.
            try:
                request = json.loads(body)
            except ValueError:
                request = None
            code = request.get("language_code") if isinstance(request, dict) else None
            texts = config["languages"].get(code) if isinstance(code, str) else None
            if texts is None:
                return {"status": 0, "Error": "unknown_language"}
            answer = dict(texts)
        elif name == "game_data":
            answer = dict(config["game_data"])
        else:
            return None
        answer["status"] = 1
        error = config["errors"].get(name)
        if error is not None:
            answer["status"] = 0
            answer["Error"] = error
        return answer

    def web_login(self, body, config):
        """POST /login: a user name and a password give the page its token, customer id and sid."""
        try:
            form = json.loads(body)
        except ValueError:
            form = None
        if not isinstance(form, dict):
            return 400, {"error": "bad request"}
        user, password = form.get("username"), form.get("password")
        ok = isinstance(user, str) and user != "" and isinstance(password, str) and password != ""
        with self.lock:
            self.logins.append({"username": user if isinstance(user, str) else None,
                                "password_given": isinstance(password, str) and password != "",
                                "sid": form.get("sid") if isinstance(form.get("sid"), str) else "",
                                "accepted": ok})
        if not ok:
            return 403, {"error": "name and password, please"}
        web = config["web"]
        return 200, {"qvo": web["token"], "customer_id": web["customer_id"], "sid": web["sid"]}

    def handle(self, handler, entry):
        path = entry["path"].split("?", 1)[0]
        with self.lock:
            config = copy.deepcopy(self.config)
        own_address = "http://%s" % (handler.headers.get("Host") or "127.0.0.1")
        if not path.startswith(PREFIX):
            body = entry["body"].encode("latin-1").decode("utf-8", "replace")
            if entry["method"] == "POST" and path == "/login":
                status, answer = self.web_login(body, config)
                handler.send_answer(status, json.dumps(answer).encode("utf-8"))
                return
            page = web_pages.page(path, own_address) if entry["method"] in ("GET", "HEAD") else None
            if page is None:
                handler.send_answer(404, b"{}")
                return
            handler.send_answer(200, page.encode("utf-8"), content_type="text/html; charset=utf-8")
            return
        name = path[len(PREFIX):].strip("/")
        answer = self.answer(name, entry["body"].encode("latin-1").decode("utf-8", "replace"), config,
                             own_address)
        if answer is None:
            handler.send_answer(404, b"{}")
            return
        handler.send_answer(200, json.dumps(answer, ensure_ascii=False).encode("utf-8"))


def main():
    parser = devserver.base_arguments(__doc__)
    parser.add_argument("--config", help="JSON configuration file")
    args = parser.parse_args()
    config = {}
    if args.config:
        with open(args.config, encoding="utf-8") as f:
            config = json.load(f)
    devserver.serve(LauncherRole(config), args)


if __name__ == "__main__":
    main()
