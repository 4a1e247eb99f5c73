#!/usr/bin/env python3
"""Turns a 24-bit uncompressed BMP (a screenshot from the Windows tests) into a PNG, with the standard
library only. Usage: bmp_to_png.py IN.bmp OUT.png"""

import struct
import sys
import zlib


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    data = open(sys.argv[1], "rb").read()
    if data[:2] != b"BM" or len(data) < 54:
        sys.exit(f"bmp_to_png: {sys.argv[1]}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or compression != 0 or width <= 0 or height == 0:
        sys.exit(f"bmp_to_png: {sys.argv[1]}: only uncompressed 24-bit files")
    stride = (width * 3 + 3) & ~3
    rows = abs(height)
    if len(data) < offset + stride * rows:
        sys.exit(f"bmp_to_png: {sys.argv[1]}: file is shorter than its pixels")
    raw = bytearray()
    for y in range(rows):
        src = rows - 1 - y if height > 0 else y
        line = data[offset + src * stride: offset + src * stride + width * 3]
        raw.append(0)
        for x in range(0, len(line), 3):
            raw += bytes((line[x + 2], line[x + 1], line[x]))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, rows, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    with open(sys.argv[2], "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
