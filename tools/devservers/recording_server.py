#!/usr/bin/env python3
"""Records every request and answers with a configurable reply.

Admin API (POST or GET, JSON):
  /_admin/requests   every recorded request: method, path with query, headers in order, body
  /_admin/config     replaces the reply; fields: status, body, content_type, headers ([[name, value]]),
                     location (sends it as Location), delay (seconds before answering), repeat (the
                     body is sent this many times), drop (close without answering), and routes: a map
                     from path (without query) to a reply of the same fields for that path
  /_admin/reset      forgets the recorded requests and restores the default reply
  /_admin/shutdown   ends the server
"""

import copy
import time

import devserver

DEFAULT_REPLY = {
    "status": 200,
    "body": "{}",
    "content_type": "application/json",
    "headers": [],
    "location": None,
    "delay": 0,
    "repeat": 1,
    "drop": False,
}


class RecordingRole(devserver.Role):
    def __init__(self):
        super().__init__()
        self.config = {"reply": dict(DEFAULT_REPLY), "routes": {}}

    def reset(self):
        with self.lock:
            self.config = {"reply": dict(DEFAULT_REPLY), "routes": {}}

    def admin(self, name, payload):
        if name == "config":
            reply = dict(DEFAULT_REPLY)
            reply.update({k: v for k, v in payload.items() if k != "routes"})
            routes = {}
            for path, route in (payload.get("routes") or {}).items():
                merged = dict(DEFAULT_REPLY)
                merged.update(route)
                routes[path] = merged
            with self.lock:
                self.config = {"reply": reply, "routes": routes}
            return 200, {"ok": True}
        return super().admin(name, payload)

    def reply_for(self, path):
        with self.lock:
            config = copy.deepcopy(self.config)
        return config["routes"].get(path.split("?", 1)[0], config["reply"])

    def handle(self, handler, entry):
        reply = self.reply_for(entry["path"])
        if reply["delay"]:
            time.sleep(float(reply["delay"]))
        if reply["drop"]:
            handler.drop()
            return
        body = str(reply["body"]).encode("utf-8") * max(0, int(reply["repeat"]))
        extra = [tuple(h) for h in reply["headers"]]
        if reply["location"]:
            extra.append(("Location", reply["location"]))
        handler.send_answer(int(reply["status"]), body, reply["content_type"], extra)


def main():
    args = devserver.base_arguments(__doc__).parse_args()
    devserver.serve(RecordingRole(), args)


if __name__ == "__main__":
    main()
