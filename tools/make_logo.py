#!/usr/bin/env python3
"""Draws Corvelta's logo (a clock face with a sun) and writes it as the PNG of
the resource tree and as the Windows icon. Standard library only; rerun after
changing the drawing."""
import math
import os
import struct
import zlib

SIZE = 64


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2
    r = math.hypot(x - cx, y - cy)
    if r > 30.5:
        return (0, 0, 0, 0)
    if r > 27:
        return (18, 72, 96, 255)          # rim
    # hands: hour to 10 o'clock, minute to 12
    ang = math.atan2(y - cy, x - cx)
    def near(angle, length, width):
        dx, dy = math.cos(angle), math.sin(angle)
        t = (x - cx) * dx + (y - cy) * dy
        d = abs(-(x - cx) * dy + (y - cy) * dx)
        return 0 <= t <= length and d <= width
    if near(-math.pi / 2, 22, 1.6) or near(-math.pi * 5 / 6, 15, 2.0):
        return (18, 72, 96, 255)
    if r < 3:
        return (230, 120, 30, 255)
    # warm sun quarter in the lower right
    if x > cx + 6 and y > cy + 6 and math.hypot(x - (cx + 14), y - (cy + 14)) < 9:
        return (245, 170, 40, 255)
    return (236, 246, 250, 255)


def png_bytes():
    raw = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico_bytes(png):
    # An icon directory with one PNG entry (understood since Windows Vista).
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(png), 6 + 16)
    return header + entry + png


if __name__ == "__main__":
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    png = png_bytes()
    with open(os.path.join(here, "images", "corvelta_logo.png"), "wb") as f:
        f.write(png)
    with open(os.path.join(here, "corvelta.ico"), "wb") as f:
        f.write(ico_bytes(png))
