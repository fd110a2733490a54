#!/usr/bin/python3
"""Draws the window icon (resources/quillnet.ico, also icon 128) and the five
tray icons: not connected, and connected with both, sent, no and received
traffic.

Deterministic: the same script writes the same bytes, so the icons in the
repository can always be checked against this source.
"""
import struct
import sys
from pathlib import Path

import numpy as np

import brand
from paint import BLUE, DEEP, GOOD, ORANGE, Canvas, png_rgba, shade

WINDOW_SIZES = (16, 24, 32, 48, 256)
TRAY_SIZES = (16, 32)
GREY_FACE = (138, 148, 156)
GREY_EDGE = (84, 94, 102)

# resource number, file, traffic shown (sent, received), connected
TRAY = [
    (132, "tray_offline.ico", (False, False), False),
    (133, "tray_both.ico", (True, True), True),
    (134, "tray_sending.ico", (True, False), True),
    (135, "tray_idle.ico", (False, False), True),
    (136, "tray_receiving.ico", (False, True), True),
]


def window_icon(size):
    cv = Canvas(size, size)
    brand.mark(cv, 0, 0, size)
    return cv.rgba()


def arrow_path(cv, cx, top, bottom, half, up):
    head = half * 1.2
    shaft = half * 0.45
    if up:
        pts = [(cx, top), (cx + half, top + head), (cx + shaft, top + head), (cx + shaft, bottom),
               (cx - shaft, bottom), (cx - shaft, top + head), (cx - half, top + head)]
    else:
        pts = [(cx, bottom), (cx + half, bottom - head), (cx + shaft, bottom - head), (cx + shaft, top),
               (cx - shaft, top), (cx - shaft, bottom - head), (cx - half, bottom - head)]
    cv.polyline(pts, close=True)


def arrows(cv, specs, k):
    """Solid arrows with a thin dark edge, cut out of what lies under them so
    that they read on the shield and on any taskbar. All cut-outs come first
    so that one arrow's cut does not bite into its neighbour."""
    import cairo
    c = cv.ctx
    for cx, top, bottom, half, up, _ in specs:
        c.save()
        c.set_operator(cairo.OPERATOR_CLEAR)
        arrow_path(cv, cx, top, bottom, half, up)
        c.set_line_width(2.2 * k)
        c.set_line_join(cairo.LINE_JOIN_ROUND)
        c.stroke_preserve()
        c.fill()
        c.restore()
    for cx, top, bottom, half, up, face in specs:
        arrow_path(cv, cx, top, bottom, half, up)
        cv.fill(face, preserve=True)
        cv.stroke(shade(face, -0.5), 0.9 * k)


def tray_icon(size, traffic, connected):
    k = size / 16.0
    cv = Canvas(size, size)
    face, edge = (BLUE, DEEP) if connected else (GREY_FACE, GREY_EDGE)
    brand.mark(cv, -1.0 * k, 0, 16 * k, face=face, outline=edge)
    sent, received = traffic
    # fixed places, so an arrow that comes and goes does not shift the other
    specs = []
    if sent:
        specs.append((10.2 * k, 6.0 * k, 15.4 * k, 2.5 * k, True, GOOD))
    if received:
        specs.append((13.6 * k, 6.0 * k, 15.4 * k, 2.5 * k, False, ORANGE))
    arrows(cv, specs, k)
    return cv.rgba()


def bmp_entry(px):
    size = px.shape[0]
    rows = px[::-1]  # bottom-up
    bgra = rows[..., [2, 1, 0, 3]].tobytes()
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size):
        bits = np.packbits((rows[y, :, 3] == 0).astype(np.uint8))
        mask += bits.tobytes().ljust(stride, b"\0")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(bgra) + len(mask), 0, 0, 0, 0)
    return header + bgra + bytes(mask)


def ico(images):
    """images: list of RGBA arrays; 256 px goes in as PNG, smaller as DIB."""
    blobs = [png_rgba(px) if px.shape[0] >= 256 else bmp_entry(px) for px in images]
    data = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for px, blob in zip(images, blobs):
        dim = px.shape[0] if px.shape[0] < 256 else 0
        data += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return data + b"".join(blobs)


def outputs():
    """file name → bytes for every icon."""
    out = {"quillnet.ico": ico([window_icon(s) for s in WINDOW_SIZES])}
    for _, name, traffic, connected in TRAY:
        out["icons/" + name] = ico([tray_icon(s, traffic, connected) for s in TRAY_SIZES])
    return out


def write_outputs(files):
    """Writes file name → bytes below the folder named on the command line (default resources/)."""
    root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "resources"
    for name, blob in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(blob)


def main():
    write_outputs(outputs())


if __name__ == "__main__":
    main()
