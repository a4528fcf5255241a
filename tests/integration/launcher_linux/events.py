#!/usr/bin/env python3
"""Checks of the end-to-end scenario against the servers' admin records.

  events.py metrics URL CUSTOMER   the metrics receiver's batches: every one signed validly for
                                   CUSTOMER; prints the event types in order of arrival, then the
                                   progress steps; exit 1 when a signature is bad
  events.py logins URL             the launcher server's web logins, one "user password|none sid|-" a line
  events.py paths URL              the launcher server's request paths, one a line, "METHOD PATH"
"""

import json
import sys
import urllib.request


def admin(url, name):
    with urllib.request.urlopen(url + "/_admin/" + name, timeout=5) as answer:
        return json.load(answer)


def main():
    what, url = sys.argv[1], sys.argv[2]
    if what == "metrics":
        customer = int(sys.argv[3])
        types, steps, bad = [], [], 0
        for batch in admin(url, "batches"):
            if not batch.get("valid") or batch.get("header_customer_id") != customer:
                bad += 1
            body = json.loads(batch["body"])
            for event in body.get("events", []):
                types.append(event.get("event_type"))
                if event.get("event_type") == 10007:
                    steps.append(event.get("percentage"))
        print("types " + " ".join(str(t) for t in types))
        print("steps " + " ".join(str(s) for s in steps))
        print("bad %d" % bad)
        return 1 if bad else 0
    if what == "logins":
        for login in admin(url, "logins"):
            print("%s %s %s" % (login["username"], "password" if login["password_given"] else "none",
                                login["sid"] or "-"))
        return 0
    if what == "paths":
        for request in admin(url, "requests"):
            print("%s %s" % (request["method"], request["path"]))
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main())
