#!/usr/bin/env python3
"""Metrics service for development and tests: accepts signed batches at POST /data/.

Each batch's Authorization header must read "QVOLAUNCHER CustomerID=<id>, Mac=<hex>" where hex is
HMAC-SHA1 of the body under the launcher hash configured for that customer.

Admin API (POST or GET, JSON):
  /_admin/batches    every batch received: customer id of the header and of the body, event count,
                     event types, whether the signature was valid, and the raw body
  /_admin/config     {"keys": {"<customer id>": "<launcher hash>"}, "mode": "up" | "down"}; while
                     down, every request that is not an admin call is counted and its connection
                     closed without an answer
  /_admin/attempts   {"down": requests dropped while down, "up": batches answered}
  /_admin/requests, /_admin/reset, /_admin/shutdown as in every development server
"""

import hashlib
import hmac
import json
import re

import devserver

AUTH_RE = re.compile(r"^QVOLAUNCHER CustomerID=(-?\d+), Mac=([0-9a-f]{40})$")


def check_signature(header, body, keys):
    """Returns (customer id or None, valid)."""
    match = AUTH_RE.match(header or "")
    if not match:
        return None, False
    customer = int(match.group(1))
    key = keys.get(str(customer))
    if key is None:
        return customer, False
    expected = hmac.new(key.encode("utf-8"), body, hashlib.sha1).hexdigest()
    return customer, hmac.compare_digest(expected, match.group(2))


class MetricsRole(devserver.Role):
    def __init__(self):
        super().__init__()
        self.keys = {}
        self.down = False
        self.batches = []
        self.dropped = 0

    def reset(self):
        with self.lock:
            self.batches.clear()
            self.dropped = 0
            self.down = False

    def admin(self, name, payload):
        if name == "config":
            with self.lock:
                if "keys" in payload:
                    self.keys = {str(k): str(v) for k, v in payload["keys"].items()}
                if "mode" in payload:
                    self.down = payload["mode"] == "down"
            return 200, {"ok": True}
        if name == "batches":
            with self.lock:
                return 200, list(self.batches)
        if name == "attempts":
            with self.lock:
                return 200, {"down": self.dropped, "up": len(self.batches)}
        return super().admin(name, payload)

    def handle(self, handler, entry):
        with self.lock:
            down = self.down
            if down:
                self.dropped += 1
            keys = dict(self.keys)
        if down:
            handler.drop()
            return
        if entry["method"] != "POST" or entry["path"].split("?", 1)[0] != "/data/":
            handler.send_answer(404, b'{"status":1}')
            return
        body = entry["body"].encode("latin-1")
        customer, valid = check_signature(handler.headers.get("Authorization"), body, keys)
        batch = {"header_customer_id": customer, "valid": valid, "body": entry["body"],
                 "content_type": handler.headers.get("Content-Type"), "event_count": 0,
                 "event_types": [], "customer_id": None}
        try:
            doc = json.loads(body.decode("utf-8"))
            batch["customer_id"] = doc.get("customer_id")
            events = doc.get("events") or []
            batch["event_count"] = len(events)
            batch["event_types"] = [e.get("event_type") for e in events]
        except (ValueError, AttributeError):
            batch["valid"] = False
        with self.lock:
            self.batches.append(batch)
        handler.send_answer(200 if valid else 403, b'{"status":0}' if valid else b'{"status":2}')


def main():
    args = devserver.base_arguments(__doc__).parse_args()
    devserver.serve(MetricsRole(), args)


if __name__ == "__main__":
    main()
