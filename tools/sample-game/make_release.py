#!/usr/bin/env python3
"""Makes a complete sample release folder for a download server: the game packed by kr-pack plus the
launcher's four extra items, and the install helper's plug-in release.

    make_release.py WWW_DIR --image DIR --kr-pack PATH --launcher EXE --runtime EXE
                    [--files N] [--total-mb MB] [--seed S] [--change N] [--change-seed S] [--web DIR]
                    [--sign KEYFILE]

WWW_DIR receives (all at its root, where the engine asks for them by plain name):
  Data.zip, Data_1.zip, ..., Data/<file>.zip, Data.cch   the game, from make_game.py and kr-pack
  Data.manifest                with --sign: the signed manifest of the game and the four items
  Splash.zip                   Splash.bmp (make_splash.py; PNG content, which GDI+ reads with alpha)
  QuorvaleOnlineLauncher.zip   the launcher executable as first entry (the self-update compares it)
  KelvaneRuntimeMMO.zip        the sample game runtime
  ErrorPage.zip                general-error_no-twitter.html
  PluginData.zip, PluginData.cch, KelvaneRuntimeBrowserDLL.krzi   the install helper's plug-in run
--change N rewrites N files of the game image (chosen by --change-seed) after generating it, so a second
release shows the update path. Item zips are rewritten only when their content changes, so their
server times stay and the launcher's time check fetches nothing for them. --web writes the few static
pages of a local web server. A summary goes to release.json beside the image folder.
"""

import argparse
import io
import json
import os
import random
import subprocess
import sys
import zipfile

import make_splash

HERE = os.path.dirname(os.path.abspath(__file__))
# Fixed entry times keep the zips byte-identical between runs.
ZIP_TIME = (2024, 1, 1, 0, 0, 0)
CHANGE_TIME = 1706745600  # 2024-02-01 00:00:00 UTC, even seconds for DOS times

ERROR_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Quorvale Online</title>
<style>body{font-family:Arial,sans-serif;background:#14305c;color:#f0f0f0;text-align:center;padding-top:80px}
h1{color:#ebbe50}</style></head>
<body><h1>Quorvale Online is not reachable</h1>
<p>The game servers did not answer. Please check your connection and start the launcher again.</p>
</body></html>
"""

LOGIN_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Quorvale Online</title></head>
<body><h1>Quorvale Online</h1>
<form action="play" method="get"><input name="username"> <input name="password" type="password">
<input type="hidden" name="qvo" value="demo-hash"><input type="hidden" name="customer_id" value="1">
<button>Log in</button></form></body></html>
"""


def zip_bytes(entries):
    """A deflated zip of (name, bytes) in the given order."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, ZIP_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)
    return buffer.getvalue()


def write_if_changed(path, data):
    """Writes data unless the file already holds exactly it; True when written."""
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return False
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)
    return True


def read(path):
    with open(path, "rb") as f:
        return f.read()


def change_files(image, count, seed):
    """Rewrites `count` files under image/Data with new content and a new time; returns their paths."""
    data_dir = os.path.join(image, "Data")
    files = sorted(os.path.relpath(os.path.join(d, n), data_dir) for d, _, names in os.walk(data_dir) for n in names)
    rng = random.Random(seed)
    chosen = sorted(rng.sample(files, min(count, len(files))))
    for index, rel in enumerate(chosen):
        path = os.path.join(data_dir, rel)
        size = rng.randint(1000, 200000)
        with open(path, "wb") as f:
            f.write(rng.getrandbits(8 * size).to_bytes(size, "little"))
        stamp = CHANGE_TIME + 2 * (seed * 1000 + index)
        os.utime(path, (stamp, stamp))
    return [rel.replace(os.sep, "/") for rel in chosen]


def make_plugin(www, work, kr_pack):
    image = os.path.join(work, "plugin-image")
    rng = random.Random(11)
    os.makedirs(os.path.join(image, "Data", "kvplugin"), exist_ok=True)
    for i in range(3):
        path = os.path.join(image, "Data", "kvplugin", "kvp_%d.dat" % i)
        with open(path, "wb") as f:
            f.write(rng.getrandbits(8 * (20000 + i)).to_bytes(20000 + i, "little"))
        os.utime(path, (CHANGE_TIME, CHANGE_TIME))
    write_if_changed(os.path.join(www, "KelvaneRuntimeBrowserDLL.krzi"), rng.getrandbits(8 * 30000).to_bytes(30000, "little"))
    subprocess.run([kr_pack, image, www, "--package", "PluginData"], check=True, stdout=subprocess.DEVNULL)


def image_summary(image):
    count = size = 0
    for directory, _, names in os.walk(os.path.join(image, "Data")):
        for name in names:
            count += 1
            size += os.path.getsize(os.path.join(directory, name))
    return count, size


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("www")
    parser.add_argument("--image", required=True, help="where the game image is generated")
    parser.add_argument("--kr-pack", required=True)
    parser.add_argument("--launcher", required=True, help="QuorvaleOnlineLauncher.exe")
    parser.add_argument("--runtime", required=True, help="KelvaneRuntimeMMO.exe")
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--total-mb", type=float, default=30.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--sign", help="kr-pack secret key file: also write the signed manifest")
    parser.add_argument("--change", type=int, default=0)
    parser.add_argument("--change-seed", type=int, default=2)
    parser.add_argument("--package-size", type=int, default=16, help="MiB per fresh-install package")
    parser.add_argument("--web", help="write the local web server's pages here")
    args = parser.parse_args()

    work = os.path.dirname(os.path.abspath(args.image))
    os.makedirs(args.www, exist_ok=True)
    subprocess.run([sys.executable, os.path.join(HERE, "make_game.py"), args.image, "--files", str(args.files),
                    "--total-mb", str(args.total_mb), "--seed", str(args.seed)], check=True, stdout=subprocess.DEVNULL)
    changed = change_files(args.image, args.change, args.change_seed) if args.change > 0 else []

    # PNG content: GDI+ drops the alpha of every BMP (see make_splash.py).
    splash = make_splash.draw_splash(520, 340).png_bytes()
    items = {
        "Splash.zip": [("Splash.bmp", splash)],
        "QuorvaleOnlineLauncher.zip": [("QuorvaleOnlineLauncher.exe", read(args.launcher)),
                                       ("version.txt", b"1.0\n")],
        "KelvaneRuntimeMMO.zip": [("KelvaneRuntimeMMO.exe", read(args.runtime))],
        "ErrorPage.zip": [("general-error_no-twitter.html", ERROR_PAGE.encode("utf-8"))],
    }
    rewritten = [name for name, entries in items.items()
                 if write_if_changed(os.path.join(args.www, name), zip_bytes(entries))]
    # The items are in place first, so that a signed release lists them too.
    pack = [args.kr_pack, args.image, args.www, "--package-size", str(args.package_size)]
    if args.sign:
        pack += ["--sign", args.sign] + [arg for name in items for arg in ("--item", os.path.join(args.www, name))]
    subprocess.run(pack, check=True, stdout=subprocess.DEVNULL)
    make_plugin(args.www, work, args.kr_pack)

    if args.web:
        for rel, text in (("index.html", LOGIN_PAGE), ("en/index.html", LOGIN_PAGE),
                          ("en/play", "<p>Ready to play.</p>\n"), ("en/index_error.html", ERROR_PAGE)):
            path = os.path.join(args.web, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            write_if_changed(path, text.encode("utf-8"))

    count, size = image_summary(args.image)
    summary = {"game_files": count, "game_bytes": size, "changed_files": changed,
               "items": sorted(items), "items_rewritten": sorted(rewritten)}
    with open(os.path.join(work, "release.json"), "w") as f:
        json.dump(summary, f, indent=1)
    print("%s: %d game files, %.1f MiB, %d changed, items rewritten: %s"
          % (args.www, count, size / 1048576.0, len(changed), ", ".join(sorted(rewritten)) or "none"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
