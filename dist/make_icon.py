#!/usr/bin/env python3
"""Turns the knob picture (a 24- or 32-bit BMP) into the 64x64 desktop icon (PNG).

The knob is round and its corners are panel background; outside the circle the
icon is made transparent, with a one-pixel soft edge, so it sits on any theme.
Usage: make_icon.py dial.bmp zu.png (or zu.ico: the same PNG in a Windows icon)
"""
import math
import struct
import sys
import zlib

SIZE = 64


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError("%s is not a BMP file" % path)
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits not in (24, 32) or compression not in (0, 3):
        raise ValueError("%s: only uncompressed 24- and 32-bit pictures are read" % path)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        # Rows run bottom-up unless the height is negative.
        src = y if height < 0 else abs(height) - 1 - y
        start = offset + src * stride
        row = []
        for x in range(width):
            b, g, r = data[start + x * step:start + x * step + 3]
            row.append((r, g, b))
        rows.append(row)
    return width, abs(height), rows


def icon_pixels(width, height, rows):
    """SIZE x SIZE RGBA rows, the picture scaled by nearest neighbour."""
    centre = (SIZE - 1) / 2.0
    radius = SIZE / 2.0
    out = []
    for y in range(SIZE):
        row = bytearray()
        for x in range(SIZE):
            r, g, b = rows[y * height // SIZE][x * width // SIZE]
            distance = math.hypot(x - centre, y - centre)
            alpha = max(0.0, min(1.0, radius - distance))
            row += bytes((r, g, b, int(round(alpha * 255))))
        out.append(bytes(row))
    return out


def png(rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    raw = b"".join(b"\0" + r for r in rows)  # filter type 0 on every row
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(image):
    """A Windows icon holding one PNG image, as Windows reads them since Vista."""
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return header + entry + image


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    width, height, rows = read_bmp(argv[1])
    image = png(icon_pixels(width, height, rows))
    with open(argv[2], "wb") as f:
        f.write(ico(image) if argv[2].endswith(".ico") else image)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
