"""The busy indicator of the transfer dialog: a looping 8-bit uncompressed
AVI (the only kinds the animation control plays are uncompressed and RLE8),
written chunk by chunk here since no tool at hand makes one."""
import math
import struct

import numpy as np

from paint import BLUE, GROUND, Canvas, mix

SIZE = 20
FRAMES = 8
FPS = 10
DOTS = 8


def frame(i):
    cv = Canvas(SIZE, SIZE, GROUND)
    c = SIZE / 2.0
    for d in range(DOTS):
        # the lead dot turns clockwise; the ones behind it fade out
        phase = (i * DOTS / FRAMES - d) % DOTS
        t = max(0.0, 1.0 - phase / (DOTS - 1))
        a = 2 * math.pi * d / DOTS - math.pi / 2
        x, y = c + 6.6 * math.cos(a), c + 6.6 * math.sin(a)
        cv.circle(x, y, 1.35 + 0.75 * t)
        cv.fill(mix(mix(GROUND, BLUE, 0.22), BLUE, t))
    return cv.rgb_on(GROUND)


def chunk(fourcc, data):
    pad = b"\0" if len(data) % 2 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, fourcc, body):
    return kind + struct.pack("<I", len(body) + 4) + fourcc + body


def avi():
    frames = [frame(i) for i in range(FRAMES)]
    # every pixel lies between the ground and the brand blue, so a ramp of
    # 256 steps between them is the palette; index 0 is the ground, the
    # colour ACS_TRANSPARENT takes from the first pixel
    g = np.array(GROUND, np.float64)
    span = np.array(BLUE, np.float64) - g
    ramp = [mix(GROUND, BLUE, i / 255.0) for i in range(256)]
    palette = b"".join(struct.pack("BBBB", b, gg, r, 0) for r, gg, b in ramp)

    def indices(f):
        t = ((f.astype(np.float64) - g) @ span) / (span @ span)
        return np.clip(np.round(t * 255), 0, 255).astype(np.uint8)

    stride = (SIZE + 3) & ~3
    frame_bytes = stride * SIZE
    dibs = []
    for f in (indices(f) for f in frames):
        rows = []
        for y in reversed(range(SIZE)):  # bottom-up
            rows.append(f[y].tobytes().ljust(stride, b"\0"))
        dibs.append(b"".join(rows))

    usec = 1000000 // FPS
    avih = struct.pack("<IIIIIIIIII4I", usec, frame_bytes * FPS, 0, 0x10, FRAMES, 0, 1, frame_bytes,
                       SIZE, SIZE, 0, 0, 0, 0)
    strh = b"vids" + b"DIB " + struct.pack("<IHHIIIIIIIIhhhh", 0, 0, 0, 0, 1, FPS, 0, FRAMES, frame_bytes,
                                           0xFFFFFFFF, 0, 0, 0, SIZE, SIZE)
    bih = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 8, 0, frame_bytes, 0, 0, 256, 0)
    strl = riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", bih + palette))
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + strl)

    movi_body = b""
    index = b""
    for d in dibs:
        index += b"00db" + struct.pack("<III", 0x10, 4 + len(movi_body), len(d))
        movi_body += chunk(b"00db", d)
    movi = riff_list(b"LIST", b"movi", movi_body)
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", index))


def outputs():
    return {"animation/busy.avi": avi()}
