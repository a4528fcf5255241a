#!/usr/bin/env python3
"""A launcher server for development and tests.

Answers the launcher's four requests with flat JSON from a small configuration:
  /launcher/data/           {"status": 1} + "settings"
  /launcher/download_data/  {"status": 1, "DownloadServer": "download_server"}
  /launcher/language_data/  {"status": 1} + "languages"[language_code of the request]
                            (an unknown code answers status 0 with the Error "unknown_language")
  /launcher/game_data/      {"status": 1} + "game_data"
"errors" maps one of the names data, download_data, language_data, game_data to an Error text: that
answer then carries status 0 and the Error, besides its usual keys. Any other path answers 404.

Configuration (JSON, from --config FILE or /_admin/config; missing keys keep their defaults):
  {"settings": {...}, "download_server": "...", "languages": {"en": {...}}, "game_data": {...},
   "errors": {"data": "maintenance"}}

Admin API: /_admin/requests (every request recorded), /_admin/config, /_admin/reset (forgets the
requests and restores the configuration the server started with), /_admin/shutdown.
"""

import copy
import json

import devserver

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

    def reset(self):
        with self.lock:
            self.config = copy.deepcopy(self.initial)

    def admin(self, name, payload):
        if name == "config":
            with self.lock:
                self.config = merged(DEFAULT_CONFIG, payload)
            return 200, {"ok": True}
        return super().admin(name, payload)

    def answer(self, name, body, config):
        if name == "data":
            answer = dict(config["settings"])
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

    def handle(self, handler, entry):
        path = entry["path"].split("?", 1)[0]
        name = path[len(PREFIX):].strip("/") if path.startswith(PREFIX) else ""
        with self.lock:
            config = copy.deepcopy(self.config)
        answer = self.answer(name, entry["body"].encode("latin-1").decode("utf-8", "replace"), config)
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
