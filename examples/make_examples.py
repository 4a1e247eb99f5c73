#!/usr/bin/env python3
"""Draws the sample logos in this folder. Plain Python, no imaging library: run it again after a change.

shop-logo.bmp     576 x 160, 24 bits: a receipt header as wide as an 80 mm roll, with lettering and a grey ramp
badge.bmp         96 x 96, 8 bits with a colour table: a round badge with a star
line-drawing.bmp  200 x 120, 1 bit: a coffee cup drawn in lines
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# A 5 x 7 font for the few letters the shop logo needs.
FONT = {
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    " ": ["00000"] * 7,
}


def bmp(width, height, bits, rows, palette=()):
    """rows: top row first; each row a bytes object already packed for the bit depth (no padding)."""
    stride = (width * bits + 31) // 32 * 4
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in palette)
    data = b"".join(row.ljust(stride, b"\0") for row in reversed(rows))
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(data), 2835, 2835,
                       len(palette), 0)
    return header + info + table + data


def shop_logo():
    w, h = 576, 160
    px = [[(255, 255, 255)] * w for _ in range(h)]
    # frame
    for x in range(w):
        for t in range(4):
            px[t][x] = px[h - 1 - t][x] = (40, 40, 40)
    for y in range(h):
        for t in range(4):
            px[y][t] = px[y][w - 1 - t] = (40, 40, 40)
    # lettering, 8 x 8 pixels per font dot
    text = "TESSERA COFFEE"
    scale = 5
    x0 = (w - len(text) * 6 * scale) // 2
    for i, ch in enumerate(text):
        for r, line in enumerate(FONT[ch]):
            for c, bit in enumerate(line):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            px[20 + r * scale + dy][x0 + (i * 6 + c) * scale + dx] = (30, 60, 160)
    # a grey ramp, dark to light, to show the half-toning
    for y in range(80, 130):
        for x in range(24, w - 24):
            v = int(255 * (x - 24) / (w - 49))
            px[y][x] = (v, v, v)
    # steam curls above the ramp ends
    for t in range(200):
        a = t / 200 * 2 * math.pi
        for cx in (60, w - 60):
            x = int(cx + 8 * math.sin(a * 2))
            y = int(75 - t / 200 * 30)
            px[y][x] = (0, 0, 0)
    rows = [bytes(c for (r, g, b) in row for c in (b, g, r)) for row in px]
    return bmp(w, h, 24, rows)


def badge():
    w = h = 96
    palette = [(255, 255, 255), (20, 20, 20), (40, 120, 220), (200, 200, 200)]  # B, G, R
    idx = [[0] * w for _ in range(h)]
    cx = cy = 47.5
    star = []
    for k in range(10):
        r = 34 if k % 2 == 0 else 14
        a = -math.pi / 2 + k * math.pi / 5
        star.append((cx + r * math.cos(a), cy + r * math.sin(a)))

    def inside(px_, py_):
        n, hit = len(star), False
        for i in range(n):
            (x1, y1), (x2, y2) = star[i], star[(i + 1) % n]
            if (y1 > py_) != (y2 > py_) and px_ < (x2 - x1) * (py_ - y1) / (y2 - y1) + x1:
                hit = not hit
        return hit

    for y in range(h):
        for x in range(w):
            d = math.hypot(x - cx, y - cy)
            if d <= 46:
                idx[y][x] = 1 if d > 42 else 3
            if inside(x + 0.5, y + 0.5):
                idx[y][x] = 2
    rows = [bytes(row) for row in idx]
    return bmp(w, h, 8, rows, [(b, g, r) for (b, g, r) in palette])


def line_drawing():
    w, h = 200, 120
    ink = [[False] * w for _ in range(h)]

    def dot(x, y):
        for dy in (0, 1):
            for dx in (0, 1):
                if 0 <= x + dx < w and 0 <= y + dy < h:
                    ink[y + dy][x + dx] = True

    def line(x1, y1, x2, y2):
        n = max(abs(x2 - x1), abs(y2 - y1), 1)
        for i in range(n + 1):
            dot(round(x1 + (x2 - x1) * i / n), round(y1 + (y2 - y1) * i / n))

    line(60, 40, 70, 100); line(130, 40, 120, 100); line(70, 100, 120, 100); line(60, 40, 130, 40)
    for t in range(120):  # handle
        a = -math.pi / 2 + t / 120 * math.pi
        dot(int(128 + 22 * math.cos(a)), int(65 + 16 * math.sin(a)))
    line(40, 108, 150, 108)  # saucer
    for k in range(3):  # steam
        for t in range(40):
            dot(int(78 + k * 16 + 4 * math.sin(t / 6)), 34 - t // 2)
    # entry 0 black, entry 1 white: a set bit is paper
    rows = []
    for row in ink:
        bits = bytearray((w + 7) // 8)
        for x, on in enumerate(row):
            if not on:
                bits[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(bits))
    return bmp(w, h, 1, rows, [(0, 0, 0), (255, 255, 255)])


if __name__ == "__main__":
    for name, data in (("shop-logo.bmp", shop_logo()), ("badge.bmp", badge()), ("line-drawing.bmp", line_drawing())):
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")
