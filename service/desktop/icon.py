#!/usr/bin/env python3
"""Draws the program's menu icon, a bar code on a price tag, as mirovandel.svg and a 128 px
mirovandel.png beside this file, from one list of shapes so the two stay alike.
Usage: service/desktop/icon.py     (python3 only; run again after changing the shapes)"""
import os
import struct
import zlib

SIZE = 128
BACKGROUND = (0x1F, 0x4E, 0x79)   # rounded square
CARD = (0xFF, 0xFF, 0xFF)         # the tag
INK = (0x1A, 0x1A, 0x1A)          # the bars
CORNER = 22                       # radius of the square's corners
TAG = (16, 28, 112, 100)          # left, top, right, bottom
# Bars as (x, width): a bar code of thin and thick bars with guard bars at both ends.
BARS = [(26, 3), (31, 3), (37, 6), (46, 3), (52, 8), (63, 3), (68, 3), (74, 6), (83, 3),
        (89, 8), (99, 3), (104, 3)]
BAR_TOP, BAR_BOTTOM, GUARD_BOTTOM = 38, 84, 90


def shapes():
    """(kind, colour, box, radius): drawn in order."""
    yield "rect", BACKGROUND, (0, 0, SIZE, SIZE), CORNER
    yield "rect", CARD, TAG, 6
    for i, (x, w) in enumerate(BARS):
        guard = i in (0, 1, len(BARS) - 2, len(BARS) - 1)
        yield "rect", INK, (x, BAR_TOP, x + w, GUARD_BOTTOM if guard else BAR_BOTTOM), 0


def hex_colour(c):
    return "#%02x%02x%02x" % c


def svg():
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
           % (SIZE, SIZE, SIZE, SIZE)]
    for _, colour, (l, t, r, b), radius in shapes():
        out.append('  <rect x="%d" y="%d" width="%d" height="%d" rx="%d" fill="%s"/>'
                   % (l, t, r - l, b - t, radius, hex_colour(colour)))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def inside(x, y, box, radius):
    """Whether the pixel centre (x + .5, y + .5) lies in the rounded rectangle."""
    l, t, r, b = box
    px, py = x + 0.5, y + 0.5
    if not (l <= px < r and t <= py < b):
        return False
    cx = min(max(px, l + radius), r - radius)
    cy = min(max(py, t + radius), b - radius)
    return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2


def png():
    pixels = [[(0, 0, 0, 0)] * SIZE for _ in range(SIZE)]
    for _, colour, box, radius in shapes():
        for y in range(SIZE):
            for x in range(SIZE):
                if inside(x, y, box, radius):
                    pixels[y][x] = colour + (255,)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "mirovandel.svg"), "w") as f:
        f.write(svg())
    with open(os.path.join(here, "mirovandel.png"), "wb") as f:
        f.write(png())
