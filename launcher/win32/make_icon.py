#!/usr/bin/env python3
"""Draws the launcher's icon (a green "Q" on a light disc) and writes it as a Windows .ico.

    make_icon.py OUT.ico

Each size is a 32-bit BGRA bitmap with its AND mask; edges are smoothed by 4x4 supersampling.
"""

import math
import struct
import sys

SIZES = (16, 32, 48)
GREEN = (116, 176, 0)
LIGHT = (250, 250, 250)


def shade(u, v):
    """Colour and coverage at a point of the unit square (0..1, y down), or None outside the mark."""
    dx, dy = u - 0.5, v - 0.5
    r = math.hypot(dx, dy)
    # The tail: a short bar from the ring's lower right towards the corner.
    tx, ty = u - 0.70, v - 0.70
    along = (tx + ty) / math.sqrt(2)
    across = abs(tx - ty) / math.sqrt(2)
    if -0.12 <= along <= 0.16 and across <= 0.07:
        return GREEN
    if 0.28 <= r <= 0.44:
        return GREEN
    if r < 0.28:
        return LIGHT
    return None


def render(size):
    pixels = []
    samples = 4
    for y in range(size - 1, -1, -1):  # bottom-up rows
        for x in range(size):
            colours = []
            for sy in range(samples):
                for sx in range(samples):
                    c = shade((x + (sx + 0.5) / samples) / size, (y + (sy + 0.5) / samples) / size)
                    if c is not None:
                        colours.append(c)
            alpha = len(colours) * 255 // (samples * samples)
            if colours:
                r = sum(c[0] for c in colours) // len(colours)
                g = sum(c[1] for c in colours) // len(colours)
                b = sum(c[2] for c in colours) // len(colours)
            else:
                r = g = b = 0
            pixels.append(struct.pack("<BBBB", b, g, r, alpha))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(pixels) + b"\0" * (mask_row * size)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [render(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
