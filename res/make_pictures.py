#!/usr/bin/env python3
"""Draws the Windows application's splash picture (644 x 213, 24 bits per pixel) and its icon (16 x 16 and
32 x 32, 32 bits per pixel with an AND mask), using only the standard library.
Usage: make_pictures.py OUT-DIR   writes OUT-DIR/splash.bmp and OUT-DIR/tessera.ico"""

import os
import struct
import sys

# 5 x 7 capitals and digits, one string of five bits per row.
GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "G": ["01111", "10000", "10000", "10011", "10001", "10001", "01111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    ".": ["00000", "00000", "00000", "00000", "00000", "00110", "00110"],
    " ": ["00000"] * 7,
}

# Tile colours of the mosaic; none is the splash's transparent colour (255, 0, 255).
TILES = [(33, 87, 163), (52, 120, 196), (236, 180, 46), (208, 76, 48), (44, 150, 120), (232, 232, 224)]


class Canvas:
    def __init__(self, width, height, colour):
        self.width, self.height = width, height
        self.pixels = [[colour] * width for _ in range(height)]

    def rect(self, x, y, w, h, colour):
        for yy in range(max(0, y), min(self.height, y + h)):
            row = self.pixels[yy]
            for xx in range(max(0, x), min(self.width, x + w)):
                row[xx] = colour

    def text(self, x, y, text, scale, colour):
        for ch in text:
            for gy, bits in enumerate(GLYPHS[ch]):
                for gx, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + gx * scale, y + gy * scale, scale, scale, colour)
            x += 6 * scale


def mosaic(canvas, x0, y0, cols, rows, tile, gap, seed):
    state = seed
    for r in range(rows):
        for c in range(cols):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            canvas.rect(x0 + c * (tile + gap), y0 + r * (tile + gap), tile, tile, TILES[state % len(TILES)])


def bmp_rows(canvas):
    """Bottom-up rows of BGR bytes, each padded to a multiple of 4."""
    out = []
    pad = (4 - canvas.width * 3 % 4) % 4
    for row in reversed(canvas.pixels):
        out.append(b"".join(struct.pack("BBB", b, g, r) for (r, g, b) in row) + b"\0" * pad)
    return b"".join(out)


def write_bmp(path, canvas):
    data = bmp_rows(canvas)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def icon_image(size):
    c = Canvas(size, size, (255, 255, 255))
    tile = size // 4
    colours = [TILES[i % 5] for i in (0, 2, 1, 3, 4, 0, 2, 1, 3, 1, 4, 0, 2, 3, 0, 1)]
    for i, colour in enumerate(colours):
        c.rect((i % 4) * tile + 1, (i // 4) * tile + 1, tile - 2, tile - 2, colour)
    xor = b"".join(struct.pack("BBBB", b, g, r, 255) for row in reversed(c.pixels) for (r, g, b) in row)
    mask_row = (size + 31) // 32 * 4
    and_mask = b"\0" * (mask_row * size)  # every pixel opaque
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return info + xor + and_mask


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    splash = Canvas(644, 213, (250, 248, 240))
    splash.rect(0, 0, 644, 6, TILES[0])
    splash.rect(0, 207, 644, 6, TILES[0])
    mosaic(splash, 24, 28, 6, 6, 22, 4, 7)
    splash.text(218, 44, "TESSERA", 9, (33, 40, 60))
    splash.text(220, 124, "NV LOGO UPLOADER", 3, TILES[0])
    splash.text(220, 160, "4.00", 3, (120, 120, 120))
    write_bmp(os.path.join(out, "splash.bmp"), splash)
    write_ico(os.path.join(out, "tessera.ico"), [16, 32])


if __name__ == "__main__":
    main()
