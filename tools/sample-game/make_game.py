#!/usr/bin/env python3
"""Writes a deterministic game folder: files under Data/ (some in sub-folders) plus a few beside it.

The same seed and options always give the same bytes and file times, so releases packed from it are
reproducible. Sizes are spread around the average; a share of the files is incompressible (random
bytes), the rest compresses like game data with repeated structure.

    make_game.py OUT_DIR [--files N] [--total-mb MB] [--incompressible 0.5] [--seed S]
"""

import argparse
import os
import random
import sys

# 2024-01-01 00:00:00 UTC, on an even second so zip's DOS times hold it exactly.
BASE_TIME = 1704067200
SUBDIRS = ["", "", "", "maps", "maps/regions", "sound", "textures", "textures/ui", "scripts"]
EXTENSIONS = [".pak", ".dat", ".bin", ".tex", ".snd", ".lua", ".cfg"]


def compressible_bytes(rng, size):
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 9)))
             for _ in range(64)]
    out = bytearray()
    # A text-like chunk of up to 64 KiB, tiled: beyond deflate's 32 KiB window the repeats cost
    # like fresh text, so big files compress like small ones and generate quickly.
    while len(out) < min(size, 65536):
        out += rng.choice(words)
        out += b" " if rng.random() < 0.8 else b"\n"
    chunk = bytes(out[:65536])
    return (chunk * (size // max(len(chunk), 1) + 1))[:size]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out_dir")
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--total-mb", type=float, default=30.0)
    parser.add_argument("--incompressible", type=float, default=0.5)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.files < 1 or args.total_mb <= 0:
        parser.error("--files and --total-mb must be positive")

    rng = random.Random(args.seed)
    average = int(args.total_mb * 1024 * 1024 / args.files)
    total = 0
    for index in range(args.files):
        sub = SUBDIRS[index % len(SUBDIRS)]
        # Bare names are unique: the engine keys files by name alone.
        name = "f%05d%s" % (index, EXTENSIONS[index % len(EXTENSIONS)])
        # Mostly small files with a long tail of big ones, mean close to the average.
        size = max(0, int(rng.expovariate(1.0 / average))) if index % 97 else 0
        if rng.random() < args.incompressible:
            data = rng.getrandbits(8 * size).to_bytes(size, "little") if size else b""
        else:
            data = compressible_bytes(rng, size)
        path = os.path.join(args.out_dir, "Data", sub, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        stamp = BASE_TIME + 2 * rng.randint(0, 10_000_000)
        os.utime(path, (stamp, stamp))
        total += size

    for name, text in (("readme.txt", "Sample game for development.\n"), ("version.txt", "1.0.%d\n" % args.seed)):
        path = os.path.join(args.out_dir, name)
        with open(path, "w") as f:
            f.write(text)
        os.utime(path, (BASE_TIME, BASE_TIME))
    print("%s: %d files under Data/, %.1f MiB" % (args.out_dir, args.files, total / 1048576.0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
