#!/usr/bin/env python3
"""The demo's view from outside the launcher: how far an installation is, and the final report.

    demo_report.py state GAME_DIR IMAGE_DIR
        prints "present expected complete" for the game data; exit status 0 when the installation is
        complete: every file of IMAGE_DIR/Data with its size and time, the four items in place, no
        package or per-file zip and no package marker left
    demo_report.py report FACTS OUT_TXT OUT_JSON
        gathers the counts, the servers' recorded requests and the screenshots into the report; FACTS
        holds "key=value" lines written by the demo ("run.N.key" for run N, "note" may repeat)
"""

import json
import os
import sys
import urllib.request

ITEM_FILES = ["Splash.bmp", "QuorvaleOnlineLauncher.zip", "KelvaneRuntimeMMO.exe",
              "ErrorPage/general-error_no-twitter.html", "Data.cch"]


def tree(root, with_times=False):
    """Relative path (with /) -> size (or (size, modification time)) of every file below root."""
    files = {}
    for directory, _, names in os.walk(root):
        for name in names:
            stat = os.stat(os.path.join(directory, name))
            rel = os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/")
            files[rel] = (stat.st_size, stat.st_mtime) if with_times else stat.st_size
    return files


def same_file(installed, expected):
    # The engine gives each file the release's time; zip times have a resolution of 2 seconds.
    return installed is not None and installed[0] == expected[0] and abs(installed[1] - expected[1]) <= 2


def state(game, image):
    expected = tree(os.path.join(image, "Data"), with_times=True)
    installed = tree(os.path.join(game, "Data"), with_times=True)
    present = sum(1 for rel, info in expected.items() if same_file(installed.get(rel), info))
    leftovers = [rel for rel in installed if rel not in expected and rel.endswith(".zip")]
    leftovers += [name for name in os.listdir(game) if name.endswith(".install")
                  or (name.startswith("Data") and name.endswith(".zip"))] if os.path.isdir(game) else []
    items = all(os.path.isfile(os.path.join(game, rel)) for rel in ITEM_FILES)
    complete = present == len(expected) and items and not leftovers
    return present, len(expected), complete


def fetch_json(url):
    try:
        with urllib.request.urlopen(url, timeout=5) as answer:
            return json.load(answer)
    except (OSError, ValueError) as error:
        return {"error": str(error)}


def access_counts(lines):
    """Requests of one run in nginx's access log, by kind."""
    counts = {"packages": 0, "file_zips": 0, "cache": 0, "items": 0, "other": 0, "bytes": 0}
    for line in lines:
        parts = line.split('"')
        if len(parts) < 3:
            continue
        request = parts[1].split(" ")
        path = request[1].split("?", 1)[0] if len(request) > 1 else ""
        status_and_size = parts[2].split()
        if len(status_and_size) == 2 and status_and_size[1].isdigit():
            counts["bytes"] += int(status_and_size[1])
        if path.startswith("/Data/") or path.startswith("/Data%5C") or path.startswith("/Data\\"):
            counts["file_zips"] += 1
        elif path.endswith(".cch"):
            counts["cache"] += 1
        elif path.startswith("/Data") and path.endswith(".zip"):
            counts["packages"] += 1
        elif path.lstrip("/") in ("Splash.zip", "QuorvaleOnlineLauncher.zip", "KelvaneRuntimeMMO.zip", "ErrorPage.zip"):
            counts["items"] += 1
        else:
            counts["other"] += 1
    return counts


def summarize_run(run, access_log):
    with open(access_log, errors="replace") as f:
        lines = f.readlines()[run["log_start"]:run["log_end"]]
    run["requests"] = access_counts(lines)
    data = tree(os.path.join(run["game"], "Data"))
    run["installed_files"] = len(data)
    run["installed_mib"] = round(sum(data.values()) / 1048576.0, 1)
    return run


def value(text):
    try:
        return float(text) if "." in text else int(text)
    except ValueError:
        return text


def read_facts(path):
    facts = {"notes": [], "screenshots": []}
    runs = {}
    with open(path) as f:
        for line in f:
            key, sep, text = line.rstrip("\n").partition("=")
            if not sep:
                continue
            if key.startswith("run."):
                _, number, name = key.split(".", 2)
                runs.setdefault(int(number), {})[name] = value(text)
            elif key == "note":
                facts["notes"].append(text)
            elif key == "screenshot":
                facts["screenshots"].append(text)
            else:
                facts[key] = value(text)
    facts["runs"] = [runs[n] for n in sorted(runs)]
    with open(facts["release_json"]) as f:
        facts["release"] = json.load(f)
    for key, target in (("game_start_file", "game_start"), ("linux.game_start_file", "linux.game_start")):
        if facts.get(key) and os.path.isfile(facts[key]):
            with open(facts[key], errors="replace") as f:
                facts[target] = f.read().strip()
    return facts


def batch_events(batch):
    """The events of one received batch; a body that is no such document has none."""
    try:
        events = json.loads(batch.get("body") or "{}").get("events", [])
    except (ValueError, AttributeError):
        return []
    return [e for e in events if isinstance(e, dict)] if isinstance(events, list) else []


def report(facts_path, out_txt, out_json):
    facts = read_facts(facts_path)
    runs = [summarize_run(run, facts["access_log"]) for run in facts["runs"]]
    launcher_requests = fetch_json(facts["launcher_server"] + "/_admin/requests")
    metrics = fetch_json(facts["metrics"] + "/_admin/batches") if facts.get("metrics") else {"error": "not started"}
    # The launcher adds a random query to each request; the path is what tells them apart.
    paths = [r["path"].split("?", 1)[0] for r in launcher_requests] if isinstance(launcher_requests, list) else []
    events = [t for b in metrics for t in b["event_types"]] if isinstance(metrics, list) else []
    result = dict(facts, runs=runs, launcher_paths=paths, metrics_batches=metrics, metrics_events=events)

    lines = ["Quorvale Online launcher demo (%s)" % facts["mode"], ""]
    lines.append("Game folder:   %s  (for Windows %s)" % (facts["game"], facts["game_windows"]))
    lines.append("Release:       %d game files, %.1f MiB, served by nginx on 127.0.0.1:%s"
                 % (facts["release"]["game_files"], facts["release"]["game_bytes"] / 1048576.0, facts["nginx_port"]))
    for run in runs:
        req = run["requests"]
        lines.append("Run %-10s %s in %.1f s: %d files, %.1f MiB under Data/"
                     % (run["name"] + ":", "complete" if run["complete"] == 1 else "NOT complete", run["seconds"],
                        run["installed_files"], run["installed_mib"]))
        lines.append("               requests: %d packages, %d per-file zips, %d items, %d caches; %.1f MiB sent"
                     % (req["packages"], req["file_zips"], req["items"], req["cache"], req["bytes"] / 1048576.0))
        if run.get("changed"):
            lines.append("               %d files changed in the release before this run" % run["changed"])
    counts = {}
    for path in paths:
        counts[path] = counts.get(path, 0) + 1
    lines.append("Launcher server requests: %s" % (", ".join("%s x%d" % kv for kv in sorted(counts.items())) or "none"))
    if facts.get("linux.game"):
        lines.append("Linux launcher: fresh install into %s, login as %s in the page engine%s"
                     % (facts["linux.game"], facts.get("linux.user", "?"),
                        ", play button green after %s s" % facts["linux.seconds_to_ready"]
                        if "linux.seconds_to_ready" in facts else ""))
        if facts.get("linux.game_start"):
            lines.append("               the play button started the runtime through Wine; it recorded:")
            lines.append("               %s" % facts["linux.game_start"])
    if isinstance(metrics, list):
        lines.append("Metrics receiver: %d batches, events %s" % (len(metrics), events or "none"))
        steps = [e.get("percentage") for b in metrics for e in batch_events(b) if e.get("event_type") == 10007]
        if steps:
            lines.append("               progress steps (10007): %s" % ", ".join("%s%%" % p for p in steps))
        signed = sum(1 for b in metrics if b.get("valid"))
        if metrics:
            lines.append("               %d of %d batches validly signed" % (signed, len(metrics)))
        else:
            lines.append("               (the metrics collector starts after a login in the web page; under Wine"
                         " there is no page engine, so only the Linux launcher logs in)")
    else:
        lines.append("Metrics receiver: %s" % metrics.get("error"))
    if facts.get("game_start"):
        lines.append("Game runtime:  started by the demo with the launcher's argument form; it recorded:")
        lines.append("               %s" % facts["game_start"])
    if facts.get("helper"):
        lines.append("Install helper: %s" % facts["helper"])
    if facts.get("signed.install"):
        lines.append("Signed release: kr-install with the development key: %s" % facts["signed.install"])
        lines.append("               Data.zip changed by one byte on the server: %s; its marker %s"
                     % (facts.get("signed.tampered", "?"), facts.get("signed.tampered_marker", "?")))
    lines.append("Screenshots:   %s" % (", ".join(facts["screenshots"]) or "none"))
    for note in facts.get("notes", []):
        lines.append("Note:          %s" % note)
    text = "\n".join(lines) + "\n"
    with open(out_txt, "w") as f:
        f.write(text)
    with open(out_json, "w") as f:
        json.dump(result, f, indent=1)
    sys.stdout.write(text)
    return 0


def main(argv):
    if len(argv) == 4 and argv[1] == "state":
        present, expected, complete = state(argv[2], argv[3])
        print(present, expected, int(complete))
        return 0 if complete else 1
    if len(argv) == 5 and argv[1] == "report":
        return report(argv[2], argv[3], argv[4])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
