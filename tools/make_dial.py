#!/usr/bin/env python3
"""Draws assets/dial.bmp: the knob as it looks at value 0.

The pointer aims at the start of the 270-degree clockwise sweep (lower
left, 225 degrees clockwise from twelve o'clock); the program rotates the
picture by the knob angle, so 270 degrees puts it at the lower right.
Corners are the panel background colour so the rotated square never shows.
"""
import math
import struct
import sys

SIZE = 64
BG = (16, 16, 16)
RIM = (150, 150, 150)
BODY = (60, 60, 64)
POINTER = (255, 255, 255)


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2.0
    dx, dy = x - cx, y - cy
    r = math.hypot(dx, dy)
    outer = SIZE / 2.0 - 1
    if r > outer:
        return BG
    # pointer: a thick segment from the centre towards the lower left
    ang = math.radians(225)  # clockwise from straight up
    ux, uy = math.sin(ang), -math.cos(ang)
    along = dx * ux + dy * uy
    across = abs(dx * uy - dy * ux)
    if 4 <= along <= outer - 3 and across <= 3.2:
        return POINTER
    if r > outer - 3:
        return RIM
    return BODY


def main(path):
    row = SIZE * 3
    pad = (4 - row % 4) % 4
    data = bytearray()
    for y in range(SIZE - 1, -1, -1):  # BMP rows run bottom-up
        for x in range(SIZE):
            r, g, b = pixel(x, y)
            data += bytes((b, g, r))
        data += b"\0" * pad
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "assets/dial.bmp")
