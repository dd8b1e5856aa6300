#!/usr/bin/env python3
"""Writes the bitmap fuzzer's seed corpus: small accepted files and near misses of each test."""
import os
import struct
import sys

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "bmp_decode_fuzz")
os.makedirs(out, exist_ok=True)


def bmp(width, height, bits=24, header=40, compression=0, colours=0, rows=None):
    stride = (width * 3 + 3) & ~3
    if rows is None:
        rows = bytes((i * 37) & 0xFF for i in range(stride * abs(height)))
    return (b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, compression, len(rows), 2835, 2835, colours, 0)
            + rows)


seeds = {
    "two_by_two": bmp(2, 2, rows=bytes([0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0])),
    "width_three": bmp(3, 2),
    "top_down": bmp(5, -3),
    "empty": bmp(0, 0),
    "short_rows": bmp(4, 4)[:-5],
    "thirty_two_bits": bmp(2, 2, bits=32),
    "core_header": bmp(2, 2, header=12),
    "compressed": bmp(2, 2, compression=1),
    "palette": bmp(2, 2, colours=256),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
