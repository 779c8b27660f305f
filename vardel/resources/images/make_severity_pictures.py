#!/usr/bin/env python3
"""Draws the four severity pictures (50x150, 16 colours) as 4-bit PNG files.

146 critical: top lamp red; 148 warning: middle lamp yellow; 150 normal:
bottom lamp green; 149 informational: a white letter i on a blue disc at the
top. Unlit lamps are dark. Run it in this folder to remake the files.
"""
import struct
import zlib

WIDTH, HEIGHT = 50, 150

# The 16-colour palette.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE = 0, 1, 2, 3
SILVER, GREY, RED, LIME, YELLOW, BLUE, WHITE = 7, 8, 9, 10, 11, 12, 15

LAMP_X = 25
LAMP_Y = (27, 75, 123)
LAMP_R = 17
DARK = (MAROON, OLIVE, GREEN)
LIT = (RED, YELLOW, LIME)


def in_disc(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_housing(x, y):
    left, right, top, bottom, r = 4, 45, 2, 147, 8
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return in_disc(x, y, cx, cy, r)


def picture(lit_lamp, info):
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            c = SILVER
            if in_housing(x, y):
                c = BLACK if in_housing(x - 1, y) and in_housing(x + 1, y) and \
                    in_housing(x, y - 1) and in_housing(x, y + 1) else GREY
            for i, ly in enumerate(LAMP_Y):
                if in_disc(x, y, LAMP_X, ly, LAMP_R):
                    c = LIT[i] if i == lit_lamp else DARK[i]
                    if info and i == 0:
                        c = BLUE
                        dot = in_disc(x, y, LAMP_X, ly - 9, 3)
                        stem = LAMP_X - 2 <= x <= LAMP_X + 2 and ly - 3 <= y <= ly + 11
                        foot = LAMP_X - 5 <= x <= LAMP_X + 5 and ly + 10 <= y <= ly + 11
                        if dot or stem or foot:
                            c = WHITE
            row.append(c)
        rows.append(row)
    return rows


def png(rows):
    raw = b""
    for row in rows:
        packed = bytearray()
        for i in range(0, WIDTH, 2):
            hi = row[i]
            lo = row[i + 1] if i + 1 < WIDTH else 0
            packed.append(hi << 4 | lo)
        raw += b"\0" + bytes(packed)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 4, 3, 0, 0, 0)
    plte = b"".join(bytes(c) for c in PALETTE)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    for rid, lamp, info in ((146, 0, False), (148, 1, False), (149, -1, True), (150, 2, False)):
        with open("severity_%d.png" % rid, "wb") as f:
            f.write(png(picture(lamp, info)))


if __name__ == "__main__":
    main()
