"""Drawing and encoding helpers shared by the artwork generators.

Everything is drawn as vectors with cairo (anti-aliased), turned into
straight RGBA arrays and encoded by ImageMagick with all metadata stripped,
so the same source always gives the same bytes.
"""
import math
import subprocess

import cairo
import numpy as np

# The palette (see the art direction); colours the skin fixes come first.
DEEP = (6, 56, 157)        # window title text
BLUE = (24, 98, 196)       # button face, accents
SKY = (133, 186, 220)      # selected list row
MIST = (232, 239, 248)     # list row 0, soft panels
GROUND = (239, 243, 244)   # dialog and control background
LINE = (150, 166, 172)     # panel borders, separators
CANCEL = (0, 86, 134)      # cancel button text
ORANGE = (234, 83, 4)      # hovered link text, highlights
WHITE = (255, 255, 255)
PAGE_FRAME = (192, 192, 192)  # the tab control's page frame
# Status colours of about equal lightness (CIE L* near 58).
GOOD = (46, 158, 76)
NORMAL = (206, 138, 0)
BAD = (222, 64, 58)
GREY = (150, 158, 164)


def mix(a, b, t):
    """Colour a blended towards b by t (0..1)."""
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def shade(c, t):
    """Darker (t < 0) or lighter (t > 0) version of c."""
    return mix(c, (0, 0, 0), -t) if t < 0 else mix(c, WHITE, t)


def rgb(c, a=1.0):
    return (c[0] / 255.0, c[1] / 255.0, c[2] / 255.0, a)


class Canvas:
    def __init__(self, w, h, background=None):
        self.w, self.h = w, h
        self.surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
        self.ctx = cairo.Context(self.surface)
        if background is not None:
            self.fill_rect(0, 0, w, h, background)

    # -- shapes -----------------------------------------------------------
    def source(self, c, a=1.0):
        if isinstance(c, cairo.Pattern):
            self.ctx.set_source(c)
        else:
            self.ctx.set_source_rgba(*rgb(c, a))

    def fill_rect(self, x, y, w, h, c, a=1.0):
        self.ctx.rectangle(x, y, w, h)
        self.source(c, a)
        self.ctx.fill()

    def rounded(self, x, y, w, h, r, corners=(1, 1, 1, 1)):
        """Path of a rounded rectangle; corners = tl, tr, br, bl flags."""
        c = self.ctx
        tl, tr, br, bl = (r if k else 0 for k in corners)
        c.new_sub_path()
        c.move_to(x + tl, y)
        c.line_to(x + w - tr, y)
        if tr:
            c.arc(x + w - tr, y + tr, tr, -math.pi / 2, 0)
        c.line_to(x + w, y + h - br)
        if br:
            c.arc(x + w - br, y + h - br, br, 0, math.pi / 2)
        c.line_to(x + bl, y + h)
        if bl:
            c.arc(x + bl, y + h - bl, bl, math.pi / 2, math.pi)
        c.line_to(x, y + tl)
        if tl:
            c.arc(x + tl, y + tl, tl, math.pi, 3 * math.pi / 2)
        c.close_path()

    def vgrad(self, y0, y1, stops):
        g = cairo.LinearGradient(0, y0, 0, y1)
        for t, c in stops:
            g.add_color_stop_rgba(t, *rgb(c))
        return g

    def hgrad(self, x0, x1, stops):
        g = cairo.LinearGradient(x0, 0, x1, 0)
        for t, c in stops:
            g.add_color_stop_rgba(t, *rgb(c))
        return g

    def fill(self, c, a=1.0, preserve=False):
        self.source(c, a)
        self.ctx.fill_preserve() if preserve else self.ctx.fill()

    def stroke(self, c, width=1.0, a=1.0, cap=cairo.LINE_CAP_ROUND, join=cairo.LINE_JOIN_ROUND, preserve=False):
        self.source(c, a)
        self.ctx.set_line_width(width)
        self.ctx.set_line_cap(cap)
        self.ctx.set_line_join(join)
        self.ctx.stroke_preserve() if preserve else self.ctx.stroke()

    def circle(self, cx, cy, r):
        self.ctx.new_sub_path()
        self.ctx.arc(cx, cy, r, 0, 2 * math.pi)
        self.ctx.close_path()

    def polyline(self, pts, close=False):
        self.ctx.move_to(*pts[0])
        for p in pts[1:]:
            self.ctx.line_to(*p)
        if close:
            self.ctx.close_path()

    def save(self):
        self.ctx.save()

    def restore(self):
        self.ctx.restore()

    # -- pixels -----------------------------------------------------------
    def rgba(self):
        """Straight (not premultiplied) RGBA, uint8, shape h×w×4."""
        self.surface.flush()
        stride = self.surface.get_stride()
        buf = np.frombuffer(self.surface.get_data(), np.uint8).reshape(self.h, stride // 4, 4)[:, : self.w]
        b, g, r, a = (buf[..., i].astype(np.float64) for i in range(4))
        out = np.zeros((self.h, self.w, 4), np.uint8)
        safe = np.where(a > 0, a, 1)
        for i, ch in enumerate((r, g, b)):
            out[..., i] = np.where(a > 0, np.clip(np.round(ch * 255.0 / safe), 0, 255), 0)
        out[..., 3] = a
        return out

    def rgb_on(self, ground):
        """Opaque RGB over a ground colour."""
        return flatten(self.rgba(), ground)


def flatten(rgba, ground):
    a = rgba[..., 3:4].astype(np.float64) / 255.0
    g = np.array(ground, np.float64).reshape(1, 1, 3)
    return np.clip(np.round(rgba[..., :3] * a + g * (1 - a)), 0, 255).astype(np.uint8)


# -- encoding through ImageMagick --------------------------------------------

def _convert(raw, w, h, fmt, args):
    cmd = ["convert", "-size", f"{w}x{h}", "-depth", "8", fmt + ":-", "-strip"] + args
    return subprocess.run(cmd, input=raw, stdout=subprocess.PIPE, check=True).stdout


_NO_TIME = ["-define", "png:exclude-chunks=date,time,tIME,zTXt,tEXt,iTXt,bKGD,pHYs,gAMA,cHRM,sRGB,iCCP"]


def png_rgb(pixels):
    h, w = pixels.shape[:2]
    return _convert(pixels[..., :3].tobytes(), w, h, "rgb", _NO_TIME + ["-define", "png:color-type=2", "-define", "png:bit-depth=8", "PNG24:-"])


def png_rgba(pixels):
    h, w = pixels.shape[:2]
    return _convert(pixels.tobytes(), w, h, "rgba", _NO_TIME + ["-define", "png:color-type=6", "-define", "png:bit-depth=8", "PNG32:-"])


def quantize(pixels, colours=256):
    """At most 'colours' distinct RGBA values (exact when already fewer)."""
    flat = pixels.reshape(-1, pixels.shape[-1])
    uniq = np.unique(flat, axis=0)
    if len(uniq) <= colours:
        return pixels
    from PIL import Image
    mode = "RGBA" if pixels.shape[-1] == 4 else "RGB"
    img = Image.fromarray(pixels, mode)
    q = img.quantize(colors=colours, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)
    return np.array(q.convert(mode))


def png_palette(pixels, clear=GROUND):
    """8-bit palette PNG; a transparent pixel keeps a palette alpha entry.

    Fully transparent pixels get the colour 'clear', which is what a reader
    that ignores the palette's alpha would show."""
    h, w = pixels.shape[:2]
    if pixels.shape[-1] == 4 and pixels[..., 3].min() < 255:
        px = quantize(pixels).copy()
        px[px[..., 3] == 0] = tuple(clear) + (0,)
        return _convert(px.tobytes(), w, h, "rgba", _NO_TIME + ["+dither", "-type", "PaletteAlpha", "-define", "png:bit-depth=8", "PNG:-"])
    px = quantize(pixels[..., :3])
    return _convert(px.tobytes(), w, h, "rgb", _NO_TIME + ["+dither", "-type", "Palette", "-define", "png:color-type=3", "-define", "png:bit-depth=8", "PNG:-"])


def jpeg(pixels, quality=100):
    h, w = pixels.shape[:2]
    return _convert(pixels[..., :3].tobytes(), w, h, "rgb",
                    ["-quality", str(quality), "-sampling-factor", "1x1,1x1,1x1", "-define", "jpeg:optimize-coding=on", "JPEG:-"])


def bmp24(pixels):
    h, w = pixels.shape[:2]
    return _convert(pixels[..., :3].tobytes(), w, h, "rgb",
                    ["-type", "TrueColor", "-alpha", "off", "-define", "bmp:format=bmp3", "-compress", "None", "BMP3:-"])
