#!/usr/bin/env python3
"""Writes the tiny zip seeds of the zip_extract fuzz target (corpus/zip_extract/), traversal names included."""
import io
import os
import sys
import zipfile

def archive(entries, compression=zipfile.ZIP_STORED, dos=False):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as z:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 2, 3, 4, 6))
            info.compress_type = compression
            if dos:
                info.create_system = 0
                info.external_attr = 0x10 if name.endswith("/") else 0x20
            z.writestr(info, data)
    return buffer.getvalue()

SEEDS = {
    "plain.zip": archive([("a.txt", b"hello"), ("dir/", b""), ("dir/b.bin", b"\x00\x01\x02")]),
    "deflate.zip": archive([("Data/game.dat", b"quorvale " * 20)], zipfile.ZIP_DEFLATED),
    "dos.zip": archive([("sub/", b""), ("sub/x.txt", b"x"), ("hidden", b"h")], dos=True),
    "backslash.zip": archive([("sub\\inner\\file.txt", b"b")], dos=True),
    "dotdot.zip": archive([("../escape.txt", b"e"), ("ok.txt", b"o")]),
    "deep_dotdot.zip": archive([("a/../../../../../../evil.txt", b"e")]),
    "backslash_dotdot.zip": archive([("..\\..\\evil.txt", b"e")], dos=True),
    "absolute.zip": archive([("/tmp/kr-fuzz-absolute.txt", b"a"), ("\\windows\\evil.txt", b"w")]),
    "drive.zip": archive([("C:/evil.txt", b"c"), ("stream.txt:ads", b"s")]),
    "dots.zip": archive([("...", b"d"), (". ./x", b"s"), ("./fine.txt", b"f")]),
    "empty.zip": archive([]),
}

def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "zip_extract")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        assert len(data) < 2048, name
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)

if __name__ == "__main__":
    main()
