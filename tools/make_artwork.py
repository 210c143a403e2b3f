#!/usr/bin/env python3
"""Draws the launcher's icon and the three server emblems from simple shapes.

Writes res/talvoreen.ico and res/emblem-*.png. The output is committed; run this again
only to change the artwork. Standard library only.
"""
import math
import os
import struct
import zlib

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")


def png(width, height, pixels):
    """pixels: list of rows of (r, g, b, a) tuples, 0..255."""
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def render(size, shade, samples=4):
    """shade(x, y) -> (r, g, b, a) with x, y in 0..1; supersampled."""
    rows = []
    n = samples * samples
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    r, g, b, a = shade(x, y)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / n
            if a > 0:
                row.append(tuple(int(round(acc[i] / acc[3])) for i in range(3)) + (int(round(a * 255)),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def rounded_box(x, y, cx, cy, hw, hh, r):
    dx = max(abs(x - cx) - hw + r, 0.0)
    dy = max(abs(y - cy) - hh + r, 0.0)
    return math.hypot(dx, dy) <= r


def polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def mix(c1, c2, t):
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def icon_shade(x, y):
    if not rounded_box(x, y, 0.5, 0.5, 0.46, 0.46, 0.16):
        return (0, 0, 0, 0)
    base = mix((92, 74, 255), (28, 20, 66), (x + y) / 2)
    # A "T" of two bars with a small notch: the launcher's mark.
    if rounded_box(x, y, 0.5, 0.3, 0.27, 0.07, 0.03) or rounded_box(x, y, 0.5, 0.56, 0.075, 0.25, 0.03):
        return (246, 244, 255, 1)
    return base + (1,)


def corvel_shade(x, y):
    # A shield with a chevron.
    shield = [(0.5, 0.04), (0.9, 0.18), (0.84, 0.6), (0.5, 0.96), (0.16, 0.6), (0.1, 0.18)]
    if not polygon(x, y, shield):
        return (0, 0, 0, 0)
    chevron = [(0.26, 0.36), (0.5, 0.56), (0.74, 0.36), (0.74, 0.5), (0.5, 0.72), (0.26, 0.5)]
    if polygon(x, y, chevron):
        return (255, 214, 102, 1)
    return mix((214, 64, 64), (120, 24, 40), y) + (1,)


def talvoreen_shade(x, y):
    # A hexagon with a ring inside.
    hexagon = [(0.5 + 0.46 * math.cos(math.pi / 6 + k * math.pi / 3), 0.5 + 0.46 * math.sin(math.pi / 6 + k * math.pi / 3))
               for k in range(6)]
    if not polygon(x, y, hexagon):
        return (0, 0, 0, 0)
    d = math.hypot(x - 0.5, y - 0.5)
    if 0.17 <= d <= 0.26:
        return (236, 240, 255, 1)
    return mix((86, 120, 255), (40, 36, 130), y) + (1,)


def meridian_shade(x, y):
    # A globe: a disc crossed by a meridian and the equator.
    d = math.hypot(x - 0.5, y - 0.5)
    if d > 0.46:
        return (0, 0, 0, 0)
    meridian_x = 0.22 * math.sqrt(max(1 - ((y - 0.5) / 0.46) ** 2, 0))
    on_line = abs(y - 0.5) < 0.03 or abs(abs(x - 0.5) - meridian_x) < 0.03
    if on_line or d > 0.42:
        return (220, 255, 240, 1)
    return mix((38, 190, 150), (16, 92, 96), y) + (1,)


def write(name, data):
    with open(os.path.join(RES, name), "wb") as f:
        f.write(data)


def main():
    entries = []
    for size in (16, 24, 32, 48, 64, 256):
        entries.append((size, png(size, size, render(size, icon_shade, 4 if size <= 64 else 2))))
    header = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    directory = b""
    for size, data in entries:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    write("talvoreen.ico", header + directory + b"".join(d for _, d in entries))
    for name, shade in (("corvel", corvel_shade), ("talvoreen", talvoreen_shade), ("meridian", meridian_shade)):
        write("emblem-%s.png" % name, png(128, 128, render(128, shade, 3)))


if __name__ == "__main__":
    main()
