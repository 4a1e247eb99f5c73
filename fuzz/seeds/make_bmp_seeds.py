#!/usr/bin/env python3
"""Writes the seed corpus for bmp_decoder_fuzz into fuzz/seeds/bmp_decoder: one small file per header, depth and
compression the decoder reads, so that the fuzzer starts inside every path instead of having to find each
header layout by chance. Run it from anywhere; it rewrites the files in place.
"""

import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bmp_decoder")

BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS = 0, 1, 2, 3


def info_header(size, width, height, bit_count, compression=BI_RGB, image_size=0, colors_used=0, masks=None):
    """A 40-, 108- or 124-byte info header; V4 and V5 carry masks (red, green, blue, alpha)."""
    h = struct.pack("<IiiHHIIiiII", size, width, height, 1, bit_count, compression, image_size, 2835, 2835,
                    colors_used, 0)
    if size >= 108:
        h += struct.pack("<4I", *(masks or (0, 0, 0, 0)))
        h += struct.pack("<I", 0x73524742)  # sRGB
        h += bytes(36 + 12)  # endpoints and gammas
    if size >= 124:
        h += struct.pack("<4I", 4, 0, 0, 0)
    assert len(h) == size
    return h


def core_header(width, height, bit_count):
    return struct.pack("<IHHHH", 12, width, height, 1, bit_count)


def bmp(header, palette=b"", pixels=b""):
    offset = 14 + len(header) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + header + palette + pixels


def rows(width, height, bit_count, value):
    """Uncompressed rows, bottom row first, each padded to 4 bytes; value(x, y) is the raw pixel."""
    out = b""
    for y in range(height):
        bits = 0
        nbits = 0
        row = b""
        for x in range(width):
            v = value(x, y)
            if bit_count < 8:
                bits = bits << bit_count | v
                nbits += bit_count
                if nbits == 8:
                    row += bytes([bits])
                    bits = nbits = 0
            else:
                row += v.to_bytes(bit_count // 8, "little")
        if nbits:
            row += bytes([bits << (8 - nbits)])
        row += bytes(-len(row) % 4)
        out += row
    return out


def quad_palette(colors):
    return b"".join(bytes([b, g, r, 0]) for (b, g, r) in colors)


GREYS = [(i * 17, i * 17, i * 17) for i in range(16)]


def seeds():
    yield "rgb24.bmp", bmp(info_header(40, 5, 3, 24), pixels=rows(5, 3, 24, lambda x, y: (x * 50) << 16 | y * 80))
    yield "rgb24_topdown.bmp", bmp(info_header(40, 3, -2, 24), pixels=rows(3, 2, 24, lambda x, y: 0xFF << (8 * x)))
    yield "pal1.bmp", bmp(info_header(40, 9, 2, 1, colors_used=2), quad_palette([(0, 0, 0), (255, 255, 255)]),
                          rows(9, 2, 1, lambda x, y: (x + y) & 1))
    yield "core1.bmp", bmp(core_header(5, 2, 1), bytes([0, 0, 0, 255, 255, 255]), rows(5, 2, 1, lambda x, y: x & 1))
    yield "core8.bmp", bmp(core_header(3, 2, 8), b"".join(bytes([i, i, 255 - i]) for i in range(256)),
                           rows(3, 2, 8, lambda x, y: x * 40 + y))
    yield "pal4.bmp", bmp(info_header(40, 7, 3, 4), quad_palette(GREYS), rows(7, 3, 4, lambda x, y: (x + 3 * y) % 16))
    yield "pal8_v4.bmp", bmp(info_header(108, 6, 2, 8, colors_used=3),
                             quad_palette([(0, 0, 0), (0, 0, 255), (255, 255, 255)]),
                             rows(6, 2, 8, lambda x, y: (x + y) % 3))
    # Encoded and absolute runs, a delta, end of line and end of bitmap.
    rle8 = bytes([3, 1, 0, 0, 0, 3, 2, 1, 2, 0, 0, 0, 0, 2, 2, 0, 2, 2, 0, 1])
    yield "rle8.bmp", bmp(info_header(40, 5, 3, 8, BI_RLE8, len(rle8), 3),
                          quad_palette([(0, 0, 0), (255, 0, 0), (0, 0, 255)]), rle8)
    rle4 = bytes([0, 5, 0x12, 0x31, 0x20, 0, 5, 0x31, 0, 0, 0, 2, 1, 1, 4, 0x45, 0, 1])
    yield "rle4.bmp", bmp(info_header(40, 10, 3, 4, BI_RLE4, len(rle4), 6), quad_palette(GREYS[:6]), rle4)
    yield "rgb16_555.bmp", bmp(info_header(40, 3, 2, 16), pixels=rows(3, 2, 16, lambda x, y: 0x1F << (5 * x)))
    masks565 = struct.pack("<3I", 0xF800, 0x07E0, 0x001F)
    yield "fields16_565.bmp", bmp(info_header(40, 3, 2, 16, BI_BITFIELDS), masks565,
                                  rows(3, 2, 16, lambda x, y: [0xF800, 0x07E0, 0x001F][x] >> y))
    yield "rgb32.bmp", bmp(info_header(40, 2, 2, 32), pixels=rows(2, 2, 32, lambda x, y: 0x80FF4020 >> x))
    argb = (0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    yield "fields32_v5_alpha.bmp", bmp(info_header(124, 3, -2, 32, BI_BITFIELDS, masks=argb),
                                       pixels=rows(3, 2, 32, lambda x, y: (x * 0x7F) << 24 | 0x3366CC))
    yield "fields16_v4_4444.bmp", bmp(info_header(108, 2, 2, 16, BI_BITFIELDS, masks=(0x0F00, 0x00F0, 0x000F, 0xF000)),
                                      pixels=rows(2, 2, 16, lambda x, y: 0x8F30 + x + y))


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in seeds():
        assert len(data) < 2048, name
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
