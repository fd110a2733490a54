#!/usr/bin/env python3
"""Draws the application icon (a shield with a quill) into resources/quillnet.ico.

Deterministic: the same script writes the same bytes, so the icon in the
repository can always be checked against this source.
"""
import math
import struct
import sys
from pathlib import Path

SIZES = (16, 24, 32, 48, 256)
BLUE = (0x1F, 0x6F, 0xD1)
DARK = (0x12, 0x3F, 0x7A)
WHITE = (0xFF, 0xFF, 0xFF)


def coverage(inside, x, y, samples=4):
    hit = 0
    for sy in range(samples):
        for sx in range(samples):
            if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                hit += 1
    return hit / (samples * samples)


def shield(u, v):
    # u, v in 0..1; flat top with rounded corners, pointed bottom
    if v < 0.08 or v > 0.95 or u < 0.1 or u > 0.9:
        return False
    if v < 0.55:
        return True
    half = 0.4 * (1 - ((v - 0.55) / 0.4) ** 1.6)
    return abs(u - 0.5) <= half


def quill(u, v):
    # a slanted feather: an ellipse along the diagonal plus a thin shaft
    cx, cy, ang = 0.55, 0.42, math.radians(-50)
    du, dv = u - cx, v - cy
    a = du * math.cos(ang) - dv * math.sin(ang)
    b = du * math.sin(ang) + dv * math.cos(ang)
    if (a / 0.30) ** 2 + (b / 0.09) ** 2 <= 1:
        return True
    # shaft from the feather down to the nib
    t = (u - 0.33) / (0.25 - 0.33) if u != 0.33 else 0
    return 0.22 <= u <= 0.36 and abs(v - (0.62 + (0.36 - u) * 1.4)) < 0.035 and t >= -1


def pixel(size, x, y):
    s = coverage(lambda px, py: shield(px / size, py / size), x, y)
    if s == 0:
        return (0, 0, 0, 0)
    q = coverage(lambda px, py: quill(px / size, py / size), x, y)
    shade = y / size
    base = tuple(int(BLUE[i] * (1 - shade) + DARK[i] * shade) for i in range(3))
    rgb = tuple(int(base[i] * (1 - q) + WHITE[i] * q) for i in range(3))
    return (*rgb, int(255 * s))


def bmp_entry(size):
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = b"".join(struct.pack("BBBB", b, g, r, a) for (r, g, b, a) in (pixel(size, x, y) for x in range(size)))
        rows.append(row)
    mask_row = b"\0" * (((size + 31) // 32) * 4)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask_row * size


def png_entry(size):
    import zlib
    raw = b"".join(b"\0" + b"".join(struct.pack("BBBB", *pixel(size, x, y)) for x in range(size)) for y in range(size))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "resources" / "quillnet.ico"
    images = [(s, png_entry(s) if s >= 256 else bmp_entry(s)) for s in SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        dim = 0 if size >= 256 else size
        data += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for _, blob in images)
    out.write_bytes(data)


if __name__ == "__main__":
    main()
