#!/usr/bin/env python3
"""Writes the seed corpora for ico_decoder_fuzz (fuzz/seeds/ico_decoder) and picture_file_fuzz
(fuzz/seeds/picture_file): small PNG, GIF and icon files, built byte by byte so that each decoder path has a
starting point. The JPEG seeds (colour.jpg, grey.jpg) and rgb.png were written once by stb_image_write and are kept as files.
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width, height, color_type, depth, rows, palette=None, trns=None):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + r for r in rows)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, 0))
    if palette:
        out += chunk(b"PLTE", palette)
    if trns:
        out += chunk(b"tRNS", trns)
    return out + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def gif(width, height, pixels, colours, transparent=None):
    """A GIF whose LZW stream sends a clear code before every pixel, so that codes stay 3 bits wide."""
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x81, 0, 0)  # 4-entry global table
    table = b"".join(bytes(c) for c in colours) + bytes(3 * (4 - len(colours)))
    out += table
    if transparent is not None:
        out += b"\x21\xf9\x04\x01\x00\x00" + bytes([transparent]) + b"\x00"
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    codes = []
    for p in pixels:
        codes += [4, p]
    codes.append(5)
    bits, acc, n = bytearray(), 0, 0
    for c in codes:
        acc |= c << n
        n += 3
        while n >= 8:
            bits.append(acc & 0xFF)
            acc >>= 8
            n -= 8
    if n:
        bits.append(acc & 0xFF)
    data = b"\x02"
    for i in range(0, len(bits), 255):
        block = bits[i:i + 255]
        data += bytes([len(block)]) + bytes(block)
    return out + data + b"\x00\x3b"


def bmp_entry(width, height, bits, xor_rows, and_rows, palette=b""):
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, bits, 0, 0, 0, 0, 0, 0)
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def ico(entries):
    """entries: (width, height, bits, data)."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for w, h, bits, data in entries:
        out += struct.pack("<BBBBHHII", w & 0xFF, h & 0xFF, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(e[3] for e in entries)


def pad4(b):
    return b + bytes(-len(b) % 4)


def write(folder, name, data):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    with open(os.path.join(HERE, folder, name), "wb") as f:
        f.write(data)


rgb_rows = [bytes([255 * ((x + y) % 2), 128, 40 * x]) * 1 for y in range(4) for x in range(4)]
rgba_png = png(4, 4, 6, 8, [b"".join(bytes([60 * x, 60 * y, 200, 64 * x]) for x in range(4)) for y in range(4)])
pal_png = png(4, 4, 3, 2, [bytes([0b00011011]) for _ in range(4)], palette=b"\x00\x00\x00\xff\x00\x00\x00\xff\x00\xff\xff\xff", trns=b"\xff\x00")
grey16_png = png(3, 2, 0, 16, [b"\x00\x00\x80\x00\xff\xff", b"\xff\xff\x40\x00\x00\x00"])
one_bit_png = png(8, 2, 0, 1, [b"\xa5", b"\x5a"])

write("picture_file", "rgba.png", rgba_png)
write("picture_file", "palette_trns.png", pal_png)
write("picture_file", "grey16.png", grey16_png)
write("picture_file", "grey1.png", one_bit_png)
write("picture_file", "four.gif", gif(4, 2, [0, 1, 2, 3, 3, 2, 1, 0], [(0, 0, 0), (255, 0, 0), (0, 255, 0), (255, 255, 255)]))
write("picture_file", "transparent.gif", gif(3, 3, [0, 1, 0, 1, 2, 1, 0, 1, 0], [(0, 0, 0), (255, 0, 0), (0, 0, 255)], transparent=1))

# Icons: a 1-bit 16 x 16 and a 32-bit 32 x 32 entry (the one taken), a 4-bit entry with a mask, a PNG entry.
mask16 = [pad4(b"\x0f\xf0") for _ in range(16)]
one = bmp_entry(16, 16, 1, [pad4(b"\xaa\x55") for _ in range(16)], mask16, b"\x00\x00\x00\x00\xff\xff\xff\x00")
px32 = [b"".join(bytes([10 * x % 256, 7 * y % 256, 200, 255 if x < 16 else 0]) for x in range(32)) for y in range(32)]
thirty_two = bmp_entry(32, 32, 32, px32, [bytes(4) for _ in range(32)])
four = bmp_entry(8, 8, 4, [pad4(bytes([0x01, 0x23, 0x45, 0x67])) for _ in range(8)], [pad4(b"\x81") for _ in range(8)],
                 b"".join(bytes([16 * i, 255 - 16 * i, 0, 0]) for i in range(16)))
eight = bmp_entry(4, 4, 8, [bytes([0, 1, 2, 3]) for _ in range(4)], [pad4(b"\x90") for _ in range(4)],
                  b"".join(bytes([i, i, i, 0]) for i in range(256)))
twenty_four = bmp_entry(2, 2, 24, [pad4(b"\x00\x00\xff\xff\xff\xff"), pad4(b"\x00\xff\x00\xff\x00\x00")], [pad4(b"\x40")] * 2)
write("ico_decoder", "two_bitmaps.ico", ico([(16, 16, 1, one), (32, 32, 32, thirty_two)]))
write("ico_decoder", "four_bit.ico", ico([(8, 8, 4, four)]))
write("ico_decoder", "eight_bit.ico", ico([(4, 4, 8, eight)]))
write("ico_decoder", "twenty_four_bit.ico", ico([(2, 2, 24, twenty_four)]))
write("ico_decoder", "png_entry.ico", ico([(4, 4, 32, rgba_png), (64, 64, 1, one)]))
write("picture_file", "two_bitmaps.ico", ico([(16, 16, 1, one), (32, 32, 32, thirty_two)]))
