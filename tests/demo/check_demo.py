#!/usr/bin/env python3
"""Runs the quick demo with the install helper and checks its report against what is really on disk.

    check_demo.py   (KR_HOST_BIN and KR_WIN_BIN name the builds; the demo's output goes to a temporary
                     folder, kept when a check fails; the demo gets its own Xvfb unless
                     KR_DEMO_TEST_DISPLAY names a display)
"""

import binascii
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def digest_tree(root):
    result = {}
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.join(directory, name)
            with open(path, "rb") as f:
                result[os.path.relpath(path, root)] = hashlib.sha1(f.read()).hexdigest()
    return result


def pixel(png, x, y):
    # As numbers: ImageMagick names a white pixel of a grey-only picture differently from an RGB one.
    text = subprocess.run(["/usr/bin/convert", "%s[1x1+%d+%d]" % (png, x, y), "-format",
                           "%[fx:round(255*r)],%[fx:round(255*g)],%[fx:round(255*b)]", "info:"],
                          capture_output=True, text=True).stdout.strip()
    return tuple(int(v) for v in text.split(",")) if text else None


def check_install(out, report, release):
    game = os.path.join(out, "game")
    expected = digest_tree(os.path.join(out, "image", "Data"))
    installed = digest_tree(os.path.join(game, "Data"))
    check(installed == expected, "installed Data/ differs from the release image (%d of %d files equal)"
          % (sum(1 for k, v in expected.items() if installed.get(k) == v), len(expected)))
    run = report["runs"][0]
    check(run["complete"] == 1, "the report calls the install incomplete")
    check(run["installed_files"] == len(installed) == release["game_files"],
          "file counts disagree: report %s, disk %d, release %d"
          % (run["installed_files"], len(installed), release["game_files"]))
    check(run["requests"]["packages"] >= 1, "no fresh-install package was fetched")
    # The items are fetched and kept as zips (the splash picture was put there before, like the
    # pre-launcher does, so only the kept zip shows that the engine installed it).
    check(run["requests"]["items"] == 4, "%d item downloads instead of 4" % run["requests"]["items"])
    for kept in ("Splash.zip", "KelvaneRuntimeMMO.zip", "QuorvaleOnlineLauncher.zip", "ErrorPage/ErrorPage.zip"):
        check(os.path.isfile(os.path.join(game, kept)), "the item zip %s was not kept" % kept)

    www = os.path.join(out, "www")
    with zipfile.ZipFile(os.path.join(www, "Splash.zip")) as z:
        check(open(os.path.join(game, "Splash.bmp"), "rb").read() == z.read("Splash.bmp"), "Splash.bmp differs")
    with zipfile.ZipFile(os.path.join(www, "KelvaneRuntimeMMO.zip")) as z:
        check(open(os.path.join(game, "KelvaneRuntimeMMO.exe"), "rb").read() == z.read("KelvaneRuntimeMMO.exe"),
              "the installed runtime differs from its zip")
    check(os.path.isfile(os.path.join(game, "ErrorPage", "general-error_no-twitter.html")), "no local error page")
    # The self-update compares the package's first entry with the running executable: they must agree.
    with zipfile.ZipFile(os.path.join(game, "QuorvaleOnlineLauncher.zip")) as z:
        first = z.infolist()[0]
        exe = open(os.path.join(game, "QuorvaleOnlineLauncher.exe"), "rb").read()
        check(first.filename == "QuorvaleOnlineLauncher.exe" and first.CRC == binascii.crc32(exe),
              "the launcher package's first entry is not the running launcher")


def check_screens(report):
    shots = report["screenshots"]
    for shot in shots:
        check(open(shot, "rb").read(8) == b"\x89PNG\r\n\x1a\n", "%s is not a PNG" % shot)
    desktop = [s for s in shots if s.endswith("0-desktop.png")]
    splash = [s for s in shots if s.endswith("-splash.png")]
    geometry = report["runs"][0].get("splash_geometry")
    if not check(desktop and splash and geometry, "no desktop or splash screenshot, or no splash geometry"):
        return
    size, x, y = geometry.split("+")[0], int(geometry.split("+")[1]), int(geometry.split("+")[2])
    w, h = (int(v) for v in size.split("x"))
    # The transparent border shows the desktop unchanged; the centre shows the picture.
    corner = [(x + 3, y + 3), (x + w - 4, y + 3), (x + 3, y + h - 4)]
    check(all(pixel(splash[0], *p) == pixel(desktop[0], *p) is not None for p in corner),
          "the splash's transparent corners do not show the desktop")
    centre = (x + w // 2, y + h // 3)
    check(pixel(splash[0], *centre) != pixel(desktop[0], *centre), "the splash centre shows no picture")


def main():
    out = tempfile.mkdtemp(prefix="kr-demo-check.")
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    if os.environ.get("KR_DEMO_TEST_DISPLAY"):
        env["DISPLAY"] = os.environ["KR_DEMO_TEST_DISPLAY"]
    start = subprocess.run([os.path.join(ROOT, "scripts", "demo"), "--quick", "--helper", "--no-setup", "--out", out],
                           env=env)
    check(start.returncode == 0, "the demo exited with %d" % start.returncode)
    report_path = os.path.join(out, "report.json")
    if check(os.path.isfile(report_path), "no report.json"):
        report = json.load(open(report_path))
        release = json.load(open(os.path.join(out, "release.json")))
        check(open(os.path.join(out, "report.txt")).read().startswith("Quorvale Online launcher demo"), "no report.txt")
        check_install(out, report, release)
        check_screens(report)
        for path in ("/launcher/data/", "/launcher/download_data/", "/launcher/language_data/"):
            check(path in report["launcher_paths"], "the launcher server never got %s" % path)
        record = report.get("game_start", "")
        check(record.split() == ["-StudioLanguageCode=1", "-Language=en", "-NetworkLauncherHash=demo-hash",
                                 "-ProjectUserDataPath=Z:%s\\" % os.path.join(out, "user").replace("/", "\\"),
                                 "-NetworkLauncherServer=" + report["launcher_server"], "-NetworkUserId=1"],
              "game-start.txt holds %r" % record)
        # The Linux host's login and play: the runtime through Wine with the launcher's own arguments,
        # and the signed metrics of the login and the game start.
        linux = report.get("linux.game_start", "")
        check(linux.split() == ["-StudioLanguageCode=1", "-Language=en", "-NetworkLauncherHash=demo-hash",
                                "-ProjectUserDataPath=%s/" % os.path.join(out, "linux-user"),
                                "-NetworkLauncherServer=" + report["launcher_server"], "-NetworkUserId=1"],
              "the Linux launcher's runtime recorded %r" % linux)
        for event in (10002, 10003, 10004):
            check(event in report["metrics_events"], "no metrics event %d after the Linux login" % event)
        check(report["metrics_batches"] and all(b.get("valid") for b in report["metrics_batches"]),
              "the metrics batches are missing or not all validly signed")
        for shot in ("linux-1-login.png", "linux-2-logged-in.png", "linux-3-runtime.png"):
            check(any(s.endswith(shot) for s in report["screenshots"]), "no screenshot %s" % shot)
        helper = open(report["helper_log"]).read().replace("\r", "")
        check("final plugin=0 game=0" in helper and "status plugin=100 game=100" in helper,
              "the helper runs did not both reach 100")
        check("uninstall=0" in helper, "the helper's uninstall did not report 0")
        # The signed release: installed whole by an engine with the development key, and a package
        # changed on the server refused (error 14) without its marker.
        check(report.get("signed.install", "").startswith("signed release 1 verified"),
              "the signed install reported %r" % report.get("signed.install"))
        image_data = digest_tree(os.path.join(out, "image", "Data"))
        check(digest_tree(os.path.join(out, "signed-game", "Data")) == image_data,
              "the signed install's Data/ differs from the release image")
        check(str(report.get("signed.tampered", "")).startswith("exit 24: error 14"),
              "the changed package gave %r" % report.get("signed.tampered"))
        check(report.get("signed.tampered_marker") == "absent", "the changed package was marked as installed")
    if failures:
        print("demo check FAILED (output kept in %s):" % out)
        for failure in failures:
            print("  - " + failure)
        return 1
    shutil.rmtree(out, ignore_errors=True)
    print("demo check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
