#!/usr/bin/env python3
"""Draws the sample splash picture "Splash.bmp": a rounded panel with a title inside a fully transparent
border, with a soft half-transparent shadow, so a screenshot shows the per-pixel transparency.

GDI+ reads the file by its content, not its name. It reports every BMP as 32bppRGB, even a BITMAPV5HEADER
one with an alpha mask, so the launcher would treat it as opaque; a PNG comes out as 32bppARGB. The
default is therefore PNG content under the launcher's fixed name; --format bmp writes the 32-bit V5 BMP
with BI_BITFIELDS and an alpha mask instead.

The launcher blends the pixels as the file holds them (no premultiplication step), so the colours are
written premultiplied by their alpha in both formats.

    make_splash.py OUT_FILE [--width W] [--height H] [--format png|bmp]
"""

import argparse
import struct
import sys
import zlib

# 5x7 glyphs, one string of five columns per row.
FONT = {
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."],
    "I": [".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    ".": [".....", ".....", ".....", ".....", ".....", ".##..", ".##.."],
    " ": ["....."] * 7,
}

BORDER = 28    # fully transparent margin around the panel
RADIUS = 30    # panel corner radius
SHADOW = 14    # width of the shadow ring outside the panel


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        # straight RGBA per pixel; premultiplied only when written
        self.pixels = [[0, 0, 0, 0] for _ in range(width * height)]

    def blend(self, x, y, rgb, alpha):
        """Paints rgb with coverage alpha (0..1) over the pixel ("over" operator, straight alpha)."""
        if not (0 <= x < self.width and 0 <= y < self.height) or alpha <= 0:
            return
        p = self.pixels[y * self.width + x]
        a_dst = p[3] / 255.0
        a_out = alpha + a_dst * (1 - alpha)
        for i in range(3):
            p[i] = int(round((rgb[i] * alpha + p[i] * a_dst * (1 - alpha)) / a_out)) if a_out else 0
        p[3] = int(round(a_out * 255))

    def premultiplied(self, x, y):
        r, g, b, a = self.pixels[y * self.width + x]
        return r * a // 255, g * a // 255, b * a // 255, a

    def png_bytes(self):
        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
        raw = bytearray()
        for y in range(self.height):
            raw.append(0)  # no filter
            for x in range(self.width):
                raw += bytes(self.premultiplied(x, y))
        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)  # 8-bit RGBA
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
                + chunk(b"IEND", b""))

    def bmp_bytes(self):
        header_size = 14 + 124
        image_size = self.width * self.height * 4
        v5 = struct.pack(
            "<IiiHHIIiiII" "IIII" "I" "36s" "III" "IIII",
            124, self.width, self.height, 1, 32, 3, image_size, 2835, 2835, 0, 0,
            0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000,
            0x73524742,  # LCS_sRGB
            b"\0" * 36, 0, 0, 0,
            4, 0, 0, 0)  # LCS_GM_IMAGES
        rows = []
        for y in range(self.height - 1, -1, -1):  # bottom-up
            row = bytearray()
            for x in range(self.width):
                r, g, b, a = self.premultiplied(x, y)
                row += bytes((b, g, r, a))
            rows.append(bytes(row))
        file_header = struct.pack("<2sIHHI", b"BM", header_size + image_size, 0, 0, header_size)
        return file_header + v5 + b"".join(rows)


def rounded_distance(x, y, left, top, right, bottom, radius):
    """Signed distance of the pixel centre to a rounded rectangle's outline (negative inside)."""
    cx = min(max(x + 0.5, left + radius), right - radius)
    cy = min(max(y + 0.5, top + radius), bottom - radius)
    dx, dy = x + 0.5 - cx, y + 0.5 - cy
    return (dx * dx + dy * dy) ** 0.5 - radius


def draw_text(canvas, text, centre_x, top, scale, rgb):
    advance = 6 * scale
    x0 = centre_x - (len(text) * advance - scale) // 2
    for index, char in enumerate(text):
        glyph = FONT[char]
        for row, line in enumerate(glyph):
            for col, bit in enumerate(line):
                if bit != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        canvas.blend(x0 + index * advance + col * scale + dx, top + row * scale + dy, rgb, 1.0)


def draw_splash(width, height):
    canvas = Canvas(width, height)
    left, top, right, bottom = BORDER, BORDER, width - BORDER, height - BORDER
    for y in range(height):
        for x in range(width):
            d = rounded_distance(x, y, left, top + 4, right, bottom + 4, RADIUS)
            if 0 < d < SHADOW:
                canvas.blend(x, y, (0, 0, 0), 0.45 * (1 - d / SHADOW) ** 2)
    for y in range(height):
        t = (y - top) / max(1, bottom - top)
        colour = (int(20 + 10 * t), int(46 + 90 * t), int(110 + 40 * t))
        for x in range(width):
            d = rounded_distance(x, y, left, top, right, bottom, RADIUS)
            if d < 0.5:
                canvas.blend(x, y, colour, min(1.0, 0.5 - d))
                if -4 < d <= 0:
                    canvas.blend(x, y, (235, 190, 80), 0.9)  # gold rim
    # emblem: a ring with a dot, left of centre above the title
    ex, ey, outer = width // 2, top + (bottom - top) // 4 + 6, 34
    for y in range(ey - outer - 2, ey + outer + 3):
        for x in range(ex - outer - 2, ex + outer + 3):
            r = ((x + 0.5 - ex) ** 2 + (y + 0.5 - ey) ** 2) ** 0.5
            cover = max(0.0, min(1.0, outer + 0.5 - r)) - max(0.0, min(1.0, outer - 7.5 - r))
            cover += max(0.0, min(1.0, 10.5 - r))
            canvas.blend(x, y, (235, 190, 80), min(1.0, cover))
    scale = max(2, (right - left) // 80)
    draw_text(canvas, "QUORVALE", width // 2, ey + outer + 18, scale, (250, 250, 250))
    draw_text(canvas, "ONLINE", width // 2, ey + outer + 18 + 9 * scale, max(2, scale * 2 // 3), (235, 190, 80))
    draw_text(canvas, "LOADING...", width // 2, bottom - 30, 2, (200, 215, 235))
    return canvas


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out_file")
    parser.add_argument("--width", type=int, default=520)
    parser.add_argument("--height", type=int, default=340)
    parser.add_argument("--format", choices=("png", "bmp"), default="png")
    args = parser.parse_args()
    if args.width < 2 * (BORDER + RADIUS) + 120 or args.height < 2 * (BORDER + RADIUS) + 160:
        parser.error("the picture is too small for its border and title")
    canvas = draw_splash(args.width, args.height)
    with open(args.out_file, "wb") as f:
        f.write(canvas.png_bytes() if args.format == "png" else canvas.bmp_bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main())
