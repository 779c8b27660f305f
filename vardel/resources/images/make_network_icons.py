#!/usr/bin/env python3
"""Draws the three 16x16 images of the network tree as RGBA PNG files.

138 a closed yellow folder (workgroups, domains, other containers); 156 a
grey server tower with a green lamp; 140 a blue globe with its meridian,
equator and tropics (a network provider). Run it in this folder to remake
the files.
"""
import struct
import zlib

SIZE = 16
CLEAR = (0, 0, 0, 0)
OUTLINE = (64, 64, 64, 255)


def png(pixels):
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def canvas():
    return [[CLEAR] * SIZE for _ in range(SIZE)]


def box(p, left, top, right, bottom, fill, edge=OUTLINE):
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            border = x in (left, right) or y in (top, bottom)
            p[y][x] = edge if border else fill


def folder():
    p = canvas()
    box(p, 1, 3, 6, 5, (240, 200, 60, 255))        # tab
    box(p, 1, 5, 14, 13, (250, 214, 80, 255))      # body
    for x in range(2, 14):
        p[6][x] = (255, 236, 150, 255)             # light top edge
    return p


def server():
    p = canvas()
    box(p, 4, 1, 11, 14, (192, 192, 192, 255))
    for y in (4, 7, 10):
        for x in range(6, 10):
            p[y][x] = (96, 96, 96, 255)            # drive bays
    p[12][9] = (20, 200, 40, 255)                  # power lamp
    p[12][6] = (20, 200, 40, 255)
    return p


def globe():
    p = canvas()
    cx = cy = 7.5
    for y in range(SIZE):
        for x in range(SIZE):
            d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
            if d <= 7.2:
                p[y][x] = (40, 110, 220, 255)
            if 6.4 < d <= 7.4:
                p[y][x] = (20, 50, 130, 255)
    for y in range(2, 14):
        p[y][7] = p[y][8] = (150, 210, 255, 255)   # meridian
    for x in range(2, 14):
        p[7][x] = p[8][x] = (150, 210, 255, 255)   # equator
    for x in range(4, 12):
        p[4][x] = p[11][x] = (110, 180, 250, 255)  # tropics
    return p


for number, draw in ((138, folder), (156, server), (140, globe)):
    with open(f"network_{number}.png", "wb") as f:
        f.write(png(draw()))
