#!/usr/bin/env python3
"""Writes COUNT valid PNG pictures of about 20 KB into DIR, named CODE.png.

Usage: gen_pictures.py DIR CODES_FILE COUNT
The first COUNT codes of CODES_FILE (one a line) get a picture. The pixels are noise,
so zlib cannot squeeze the files much below their raw size (82x82 RGB, ~20.3 KB).
"""
import os, random, struct, sys, zlib

def chunk(kind, data):
    c = struct.pack(">I", len(data)) + kind + data
    return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

def png(width, height, rng):
    rows = bytearray()
    for _ in range(height):
        rows.append(0)  # filter: none
        rows += rng.randbytes(width * 3)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b""))

def main():
    out, codes_file, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    os.makedirs(out, exist_ok=True)
    with open(codes_file) as f:
        codes = [line.strip() for line in f if line.strip()][:count]
    rng = random.Random(20)
    for code in codes:
        with open(os.path.join(out, code + ".png"), "wb") as f:
            f.write(png(82, 82, rng))

if __name__ == "__main__":
    main()
