"""Draws the twenty skin images.

Each builder returns the pixels of one image; IMAGES at the end lists
resource number, file name, encoding and builder. Every image is laid out
on the cell grid its definition string gives when the skin registers it:
pieces the skin stretches are uniform along the stretch, and nothing
crosses a cell edge.
"""
import math

import cairo

import brand
from paint import (BAD, BLUE, DEEP, GOOD, GREY, GROUND, LINE, MIST, NORMAL, ORANGE, PAGE_FRAME, SKY, WHITE,
                   Canvas, mix, shade)

R = cairo.LINE_CAP_ROUND


# -- caption buttons (162, 163) ----------------------------------------------

def caption_cell(cv, x0, w, state, glyph):
    """One caption button over the header band; state normal/hovered/pushed/disabled."""
    for y in range(19):
        cv.fill_rect(x0, y, w, 1, brand.band_row(y) if y else brand.BAND_EDGE)
    close = glyph == "close"
    ink = DEEP
    if state in ("hovered", "pushed"):
        if close:
            face = BAD if state == "hovered" else shade(BAD, -0.22)
            ink = WHITE
        else:
            face = (206, 223, 245) if state == "hovered" else (178, 203, 238)
        cv.rounded(x0 + 1, 0, w - 2, 18, 3.5, corners=(0, 0, 1, 1))
        cv.fill(face)
    if state == "disabled":
        ink = (168, 180, 196)
    cx, cy = x0 + w / 2.0, 9.5
    c = cv.ctx
    if close:
        d = 3.6
        c.move_to(cx - d, cy - d)
        c.line_to(cx + d, cy + d)
        c.move_to(cx + d, cy - d)
        c.line_to(cx - d, cy + d)
        cv.stroke(ink, 1.6)
    else:
        cv.fill_rect(cx - 4.5, 12, 9, 2, ink)


def caption_buttons(w, glyph):
    cv = Canvas(w * 4, 19)
    for i, st in enumerate(("normal", "hovered", "pushed", "disabled")):
        caption_cell(cv, i * w, w, st, glyph)
    return cv.rgb_on(WHITE)


# -- window frame (170) and main window picture (167) -------------------------

def frame():
    # drawn as a 339-wide window so the last column is the outline that the
    # right-hand cells (which reach one pixel further) repeat
    cv = Canvas(339, 71)
    brand.chrome(cv, 339, 71)
    brand.mark(cv, 13, 7, 22)
    return cv.rgb_on(brand.BAND_EDGE)


def wordmark(cv, x, base, size, ink):
    """"Quillnet" in strokes: a geometric lettering that needs no font file."""
    c = cv.ctx
    xh = size * 0.56          # x-height
    asc = size * 0.78
    lw = size * 0.13
    r = xh / 2
    pen = x

    def stroke():
        cv.stroke(ink, lw, cap=R)

    # Q
    qr = asc / 2
    cv.circle(pen + qr, base - qr, qr - lw / 2)
    stroke()
    c.move_to(pen + qr * 1.15, base - qr * 0.55)
    c.line_to(pen + qr * 2.0, base + lw * 0.4)
    stroke()
    pen += 2 * qr + lw * 1.6
    # u
    c.move_to(pen + lw / 2, base - xh)
    c.line_to(pen + lw / 2, base - r)
    c.arc_negative(pen + r, base - r, r - lw / 2, math.pi, 0)
    c.move_to(pen + 2 * r - lw / 2, base - xh)
    c.line_to(pen + 2 * r - lw / 2, base)
    stroke()
    pen += 2 * r + lw * 1.6
    # i
    c.move_to(pen + lw / 2, base - xh)
    c.line_to(pen + lw / 2, base)
    stroke()
    cv.circle(pen + lw / 2, base - xh - lw * 1.6, lw * 0.62)
    cv.fill(ink)
    pen += lw * 2.6
    # l l
    for _ in range(2):
        c.move_to(pen + lw / 2, base - asc)
        c.line_to(pen + lw / 2, base)
        stroke()
        pen += lw * 2.6
    # n
    c.move_to(pen + lw / 2, base)
    c.line_to(pen + lw / 2, base - r)
    c.arc(pen + r, base - r, r - lw / 2, math.pi, 0)
    c.line_to(pen + 2 * r - lw / 2, base)
    c.move_to(pen + lw / 2, base - xh)
    c.line_to(pen + lw / 2, base - r)
    stroke()
    pen += 2 * r + lw * 1.6
    # e
    c.move_to(pen + lw / 2, base - r)
    c.line_to(pen + 2 * r - lw / 2, base - r)
    c.arc_negative(pen + r, base - r, r - lw / 2, 0, math.pi * 0.22)
    stroke()
    pen += 2 * r + lw * 1.3
    # t
    c.move_to(pen + lw * 1.3, base - asc * 0.92)
    c.line_to(pen + lw * 1.3, base - lw)
    c.curve_to(pen + lw * 1.3, base, pen + lw * 2.2, base, pen + lw * 3.2, base - lw * 0.2)
    c.move_to(pen, base - xh)
    c.line_to(pen + lw * 3.0, base - xh)
    stroke()
    pen += lw * 3.4
    return pen


def network_motif(cv, x0, y0, x1, y1):
    """A few connected nodes: calm decoration for the header area."""
    nodes = [(0.04, 0.62), (0.17, 0.30), (0.30, 0.70), (0.44, 0.38), (0.58, 0.78),
             (0.70, 0.28), (0.84, 0.64), (0.96, 0.34)]
    pts = [(x0 + u * (x1 - x0), y0 + v * (y1 - y0)) for u, v in nodes]
    c = cv.ctx
    links = [(0, 1), (1, 2), (1, 3), (2, 3), (3, 4), (3, 5), (4, 6), (5, 6), (5, 7), (6, 7), (2, 4)]
    for a, b in links:
        c.move_to(*pts[a])
        c.line_to(*pts[b])
    cv.stroke(SKY, 1.0, a=0.55)
    for i, (x, y) in enumerate(pts):
        if i == 3:
            continue
        cv.circle(x, y, 3.2 if i == 5 else 2.4)
        cv.fill(WHITE, preserve=True)
        cv.stroke(BLUE if i == 5 else SKY, 1.2)
    # the hub of the network is the client's own shield
    x, y = pts[3]
    cv.circle(x, y, 11)
    cv.fill(WHITE, preserve=True)
    cv.stroke(SKY, 1.0)
    brand.mark(cv, x - 9, y - 9.5, 18)


def news_glyph(cv, x, y, ink):
    """A small announcement sign: a speaker horn with two sound arcs."""
    c = cv.ctx
    cv.polyline([(x + 1, y + 4.5), (x + 4, y + 4.5), (x + 8, y + 1.5), (x + 8, y + 10.5), (x + 4, y + 7.5), (x + 1, y + 7.5)], close=True)
    cv.fill(ink)
    c.arc(x + 8, y + 6, 3.2, -0.9, 0.9)
    cv.stroke(ink, 1.2)


def globe_glyph(cv, x, y, s, ink, width=1.2):
    c = cv.ctx
    cx, cy, r = x + s / 2, y + s / 2, s / 2 - width / 2
    cv.circle(cx, cy, r)
    c.save()
    c.translate(cx, cy)
    c.scale(r * 0.45, r)
    c.arc(0, 0, 1, 0, 2 * math.pi)
    c.restore()
    c.move_to(cx - r, cy)
    c.line_to(cx + r, cy)
    c.move_to(cx, cy - r)
    c.line_to(cx, cy + r)
    cv.stroke(ink, width)


def main_picture():
    w, h = 327, 464                 # the window; the picture leaves its last column to the frame
    cv = Canvas(w, h)
    brand.chrome(cv, w, h)
    brand.mark(cv, 14, 6, 34)
    wordmark(cv, 52, 33, 26, DEEP)
    # header area under the band: a soft wash with the network motif
    wash_bottom = 112
    cv.ctx.rectangle(1, brand.BAND_H, w - 2, wash_bottom - brand.BAND_H)
    cv.fill(cv.vgrad(brand.BAND_H, wash_bottom, [(0, MIST), (1, GROUND)]))
    network_motif(cv, 34, 60, 296, 104)
    # separators in the gaps between the control groups, inside the margins
    for y in (204, 240, 401):
        cv.ctx.rectangle(30, y, 266, 1)
        cv.fill(cv.hgrad(30, 296, [(0, GROUND), (0.15, mix(GROUND, LINE, 0.45)), (0.85, mix(GROUND, LINE, 0.45)), (1, GROUND)]))
    news_glyph(cv, 10, 127, SKY)
    globe_glyph(cv, 22, 213, 12, SKY)
    px = cv.rgb_on(brand.BAND_EDGE)
    return px[:, :326].copy()


# -- push buttons (161) ---------------------------------------------------------

BUTTON_STYLES = {
    # face top, face bottom, outline, top light alpha
    "normal": ((52, 128, 222), BLUE, (14, 70, 158), 0.30),
    "hovered": ((78, 150, 234), (38, 114, 210), (20, 82, 172), 0.35),
    "pushed": ((16, 74, 160), (30, 100, 192), (8, 52, 128), 0.0),
    "disabled": ((190, 197, 204), (172, 180, 188), (150, 158, 166), 0.25),
}
CANCEL_STYLES = {
    "normal": (WHITE, MIST, LINE, 0.0),
    "hovered": (WHITE, (218, 233, 250), (104, 146, 200), 0.0),
    "pushed": ((208, 222, 240), (234, 241, 250), (90, 124, 168), 0.0),
    "disabled": ((246, 247, 248), (238, 241, 242), (204, 210, 214), 0.0),
}


def button_cell(cv, x, y, w, h, style):
    top, bottom, outline, light = style
    cv.rounded(x + 0.5, y + 0.5, w - 1, h - 1, 4)
    cv.fill(cv.vgrad(y, y + h, [(0, top), (1, bottom)]), preserve=True)
    cv.stroke(outline, 1.0)
    if light:
        cv.ctx.move_to(x + 4, y + 1.5)
        cv.ctx.line_to(x + w - 4, y + 1.5)
        cv.stroke(WHITE, 1.0, a=light, cap=cairo.LINE_CAP_BUTT)


def buttons():
    cv = Canvas(352, 56, GROUND)
    for i, st in enumerate(("normal", "hovered", "pushed", "disabled")):
        button_cell(cv, i * 88, 0, 88, 28, BUTTON_STYLES[st])
        button_cell(cv, i * 88, 28, 88, 28, CANCEL_STYLES[st])
    return cv.rgb_on(GROUND)


# -- scroll bars (192 vertical, 191 horizontal) -------------------------------

THUMB = {"normal": (204, 213, 219), "hovered": (182, 194, 202), "down": LINE}
ARROW = {"normal": (96, 110, 118), "hovered": (60, 76, 88), "down": BLUE}
GRIP = {"normal": (132, 146, 154), "hovered": (104, 118, 128), "down": WHITE}
TRACK = MIST


def scroll_bars(vertical):
    cv = Canvas(64, 80)
    c = cv.ctx
    for j, st in enumerate(("normal", "hovered", "down")):
        for row, up in ((0, True), (1, False)):
            x, y = 16 * j, 16 * row
            c.save()
            c.translate(x + 8, y + 8)
            if not vertical:
                c.rotate(-math.pi / 2)
            if not up:
                c.rotate(math.pi)
            cv.polyline([(-3.5, 1.8), (0, -1.7), (3.5, 1.8)])
            cv.stroke(ARROW[st], 1.7)
            c.restore()
        cv.fill_rect(16 * j, 32, 16, 16, THUMB[st])
        for k in (-2, 0, 2):
            if vertical:
                cv.fill_rect(16 * j + 5, 48 + 7 + k, 6, 1, GRIP[st])
            else:
                cv.fill_rect(16 * j + 7 + k, 48 + 5, 1, 6, GRIP[st])
    cv.fill_rect(0, 64, 64, 16, TRACK)
    return cv.rgba()


# -- tabs (172), list header (175), header panel title (176) ------------------

def tabs():
    cv = Canvas(24, 24)
    # inactive: mist, a little lower, its bottom continues the page frame
    cv.rounded(0.5, 3.5, 11, 30, 2.5, corners=(1, 1, 0, 0))
    cv.fill(cv.vgrad(3, 24, [(0, (244, 247, 251)), (1, (226, 233, 242))]), preserve=True)
    cv.stroke(LINE, 1.0)
    cv.fill_rect(0, 23, 12, 1, PAGE_FRAME)
    # active: white, full height, a brand-blue edge on top, open at the bottom
    cv.rounded(12.5, 0.5, 11, 30, 2.5, corners=(1, 1, 0, 0))
    cv.fill(WHITE, preserve=True)
    cv.stroke(LINE, 1.0)
    cv.save()
    cv.rounded(12.5, 0.5, 11, 30, 2.5, corners=(1, 1, 0, 0))
    cv.ctx.clip()
    cv.fill_rect(12, 0, 12, 2, BLUE)
    cv.restore()
    px = cv.rgba()
    return px


def list_header():
    cv = Canvas(12, 20)
    for y in range(19):
        cv.fill_rect(0, y, 12, 1, mix(WHITE, (232, 238, 244), y / 18))
    cv.fill_rect(0, 19, 12, 1, LINE)
    cv.fill_rect(0, 0, 1, 19, WHITE)            # left: a light edge
    for y in range(3, 17):                       # right: a separator fading at both ends
        t = 1 - abs(y - 9.5) / 7.5
        cv.fill_rect(11, y, 1, 1, mix(mix(WHITE, (232, 238, 244), y / 18), LINE, 0.25 + 0.6 * t))
    return cv.rgb_on(WHITE)


def header_panel_title():
    cv = Canvas(9, 27)
    for y in range(27):
        cv.fill_rect(0, y, 9, 1, mix((246, 249, 253), (222, 233, 247), y / 25))
    cv.fill_rect(0, 0, 9, 1, LINE)
    cv.fill_rect(0, 26, 9, 1, LINE)
    cv.fill_rect(0, 0, 1, 27, LINE)
    cv.fill_rect(8, 0, 1, 27, LINE)
    return cv.rgb_on(WHITE)


# -- check boxes (174) and radio boxes (178) ------------------------------------

BOX = {
    "normal": (WHITE, LINE, BLUE),
    "hovered": ((246, 250, 255), BLUE, BLUE),
    "pushed": (MIST, DEEP, DEEP),
    "disabled": ((243, 244, 245), (196, 202, 206), (166, 172, 178)),
}


def check_cell(cv, x, y, state, mark):
    face, border, ink = BOX[state]
    cv.fill_rect(x, y, 13, 13, border)
    cv.fill_rect(x + 1, y + 1, 11, 11, face)
    if mark == "tick":
        cv.polyline([(x + 2.9, y + 6.4), (x + 5.4, y + 9.1), (x + 10.2, y + 3.7)])
        cv.stroke(ink, 2.1, cap=cairo.LINE_CAP_BUTT, join=cairo.LINE_JOIN_MITER)
    elif mark == "dash":
        cv.fill_rect(x + 3, y + 3, 7, 7, ink)


def check_boxes():
    cv = Canvas(26, 52, WHITE)
    for k, st in enumerate(("normal", "hovered", "pushed", "disabled")):
        check_cell(cv, 0, 13 * k, st, "tick")
    check_cell(cv, 13, 0, "normal", None)
    check_cell(cv, 13, 13, "hovered", None)
    check_cell(cv, 13, 26, "normal", "dash")
    check_cell(cv, 13, 39, "disabled", None)
    return cv.rgb_on(WHITE)


def radio_boxes():
    cv = Canvas(48, 24, WHITE)
    for j, st in enumerate(("normal", "hovered", "pushed", "disabled")):
        face, border, ink = BOX[st]
        for k in (0, 1):
            cx, cy = 12 * j + 6, 12 * k + 6
            cv.circle(cx, cy, 5.5)
            cv.fill(border)
            cv.circle(cx, cy, 4.5)
            cv.fill(face)
            if k:
                cv.circle(cx, cy, 2.5)
                cv.fill(ink)
    return cv.rgb_on(WHITE)


# -- small icons --------------------------------------------------------------

def star(cv, cx, cy, r, rot=-math.pi / 2):
    pts = []
    for i in range(10):
        rr = r if i % 2 == 0 else r * 0.42
        a = rot + i * math.pi / 5
        pts.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
    cv.polyline(pts, close=True)


def flag_shape(cv, x):
    cv.rounded(x + 0.5, 2.5, 15, 11, 1.5)


def flags():
    cv = Canvas(48, 16)
    c = cv.ctx

    def framed(x, paint, outline):
        c.save()
        flag_shape(cv, x)
        c.clip()
        paint()
        # a faint light from above, as on cloth
        cv.ctx.rectangle(x, 2, 16, 12)
        g = cairo.LinearGradient(0, 2, 0, 14)
        g.add_color_stop_rgba(0, 1, 1, 1, 0.22)
        g.add_color_stop_rgba(0.6, 1, 1, 1, 0.0)
        cv.ctx.set_source(g)
        cv.ctx.fill()
        c.restore()
        flag_shape(cv, x)
        cv.stroke(outline, 1.0, a=0.75)

    def china():
        cv.fill_rect(0, 2, 16, 12, (222, 41, 16))
        star(cv, 4.8, 6.6, 3.3)
        cv.fill((255, 222, 0))

    def asia():
        cv.fill_rect(16, 2, 16, 12, (0, 124, 160))
        c.save()
        cv.circle(24, 8, 3.9)
        cv.stroke(WHITE, 1.1)
        c.translate(24, 8)
        c.scale(1.5, 3.9)
        c.arc(0, 0, 1, 0, 2 * math.pi)
        c.restore()
        c.move_to(20.3, 8)
        c.line_to(27.7, 8)
        cv.stroke(WHITE, 0.9)

    def usa():
        for i in range(11):
            cv.fill_rect(32, 3 + i, 16, 1, (200, 16, 46) if i % 2 == 0 else WHITE)
        cv.fill_rect(32, 2, 8, 6, (40, 52, 120))
        for sx in (33, 35, 37):
            for sy in (3, 5):
                cv.fill_rect(sx + (1 if sy == 5 else 0), sy, 1, 1, WHITE, a=0.9)

    framed(0, china, (150, 20, 10))
    framed(16, asia, (0, 80, 110))
    framed(32, usa, (40, 40, 90))
    return cv.rgba()


def connect_icons():
    cv = Canvas(36, 36)
    c = cv.ctx
    for row, disabled in ((0, False), (1, True)):
        ink = (240, 243, 245) if disabled else WHITE
        a = 0.8 if disabled else 1.0
        edge = (60, 70, 80) if disabled else (6, 40, 110)
        for col in (0, 1):
            cx, cy = 18 * col + 9, 18 * row + 9
            # soft dark halo for contrast on light grounds
            cv.circle(cx, cy, 7.6)
            cv.stroke(edge, 2.8, a=0.25 * a)
            cv.circle(cx, cy, 7.2)
            cv.stroke(ink, 1.6, a=a)
            if col == 0:
                cv.polyline([(cx - 2.2, cy - 3.6), (cx + 3.9, cy), (cx - 2.2, cy + 3.6)], close=True)
            else:
                cv.rounded(cx - 3.2, cy - 3.2, 6.4, 6.4, 0.8)
            cv.fill(ink, a=a)
    return cv.rgba()


def arc_arrow(cv, cx, cy, r, a0, a1, ink, width, head):
    """An arc from a0 to a1 (radians, clockwise on screen) ending in an arrowhead."""
    c = cv.ctx
    back = head * 0.9 / r          # leave room for the head
    c.arc(cx, cy, r, a0, a1 - back)
    cv.stroke(ink, width, cap=cairo.LINE_CAP_BUTT)
    ex, ey = cx + r * math.cos(a1), cy + r * math.sin(a1)
    tx, ty = -math.sin(a1), math.cos(a1)         # direction of travel
    nx, ny = math.cos(a1), math.sin(a1)
    bx, by = ex - tx * head, ey - ty * head
    cv.polyline([(ex + tx * head * 0.35, ey + ty * head * 0.35),
                 (bx + nx * head * 0.75, by + ny * head * 0.75),
                 (bx - nx * head * 0.75, by - ny * head * 0.75)], close=True)
    cv.fill(ink)


def policy_icons():
    cv = Canvas(60, 16)
    c = cv.ctx
    edge = shade(BLUE, -0.35)
    # route: a dashed way from a start ring to a destination pin
    c.move_to(4.5, 12.5)
    c.curve_to(10, 12.5, 8, 7, 13, 9.5)
    c.set_dash([1.6, 1.4])
    cv.stroke(BLUE, 1.3, cap=cairo.LINE_CAP_BUTT)
    c.set_dash([])
    cv.circle(4.0, 12.0, 2.2)
    cv.fill(WHITE, preserve=True)
    cv.stroke(edge, 1.3)
    pin = lambda: (c.move_to(15, 11.2), c.curve_to(12.2, 7.8, 11.8, 6.6, 11.8, 5.4),
                   c.arc(15, 5.4, 3.2, math.pi, 2 * math.pi),
                   c.curve_to(18.2, 6.6, 17.8, 7.8, 15, 11.2), c.close_path())
    pin()
    cv.fill(ORANGE, preserve=True)
    cv.stroke(shade(ORANGE, -0.3), 1.0)
    cv.circle(15, 5.4, 1.2)
    cv.fill(WHITE)
    # type: a padlock
    x = 20
    c.move_to(x + 7, 8)
    c.line_to(x + 7, 5.5)
    c.arc(x + 10, 5.5, 3, math.pi, 2 * math.pi)
    c.line_to(x + 13, 8)
    cv.stroke(edge, 1.6)
    cv.rounded(x + 5.5, 7.5, 9, 7, 1.5)
    cv.fill(cv.vgrad(7.5, 14.5, [(0, shade(BLUE, 0.25)), (1, BLUE)]), preserve=True)
    cv.stroke(edge, 1.0)
    cv.fill_rect(x + 9.5, 9.5, 1, 3, WHITE)
    # refresh: a circular arrow
    arc_arrow(cv, 50, 8, 5.0, math.radians(-30), math.radians(250), BLUE, 1.8, 3.2)
    return cv.rgba()


def tip_info():
    cv = Canvas(14, 14)
    cv.circle(7, 7, 6.5)
    cv.fill(cv.vgrad(0, 14, [(0, shade(BLUE, 0.2)), (1, shade(BLUE, -0.1))]), preserve=True)
    cv.stroke(shade(BLUE, -0.35), 1.0)
    cv.fill_rect(6, 6, 2, 5, WHITE)
    cv.circle(7, 3.9, 1.1)
    cv.fill(WHITE)
    return cv.rgba()


def online_update():
    cv = Canvas(36, 36)
    c = cv.ctx
    cv.circle(18, 18, 16.5)
    cv.fill(cv.vgrad(1, 35, [(0, shade(BLUE, 0.25)), (1, shade(BLUE, -0.15))]), preserve=True)
    cv.stroke(DEEP, 1.0)
    # arrow into a tray
    c.move_to(18, 8.5)
    c.line_to(18, 20.5)
    cv.stroke(WHITE, 3.0, cap=cairo.LINE_CAP_BUTT)
    cv.polyline([(12, 17.5), (18, 24), (24, 17.5)], close=True)
    cv.fill(WHITE)
    cv.polyline([(10.5, 22.5), (10.5, 26.5), (25.5, 26.5), (25.5, 22.5)])
    cv.stroke(WHITE, 2.0)
    # the accent: a small orange spark of novelty
    cv.circle(27, 9, 3.2)
    cv.fill(ORANGE, preserve=True)
    cv.stroke(WHITE, 1.2)
    return cv.rgba()


def speed_icons():
    cv = Canvas(60, 12)
    off_face, off_edge = (224, 228, 231), (188, 195, 200)
    for i, (colour, lit) in enumerate(((GOOD, 3), (NORMAL, 2), (BAD, 1))):
        for b in range(3):
            x, hgt = 12 * i + 4 * b, (5, 8, 11)[b]
            on = b < lit
            if on:
                cv.fill_rect(x, 12 - hgt, 3, hgt, colour)
            else:
                cv.fill_rect(x, 12 - hgt, 3, hgt, off_edge)
                cv.fill_rect(x + 1, 12 - hgt + 1, 1, hgt - 1, off_face)
    # timeout: a grey disc with a cross
    cv.circle(42, 6, 5.3)
    cv.fill(GREY, preserve=True)
    cv.stroke(shade(GREY, -0.3), 1.0)
    c = cv.ctx
    c.move_to(40, 4)
    c.line_to(44, 8)
    c.move_to(44, 4)
    c.line_to(40, 8)
    cv.stroke(WHITE, 1.4)
    # testing: a three-quarter ring
    c.arc(54, 6, 4, math.radians(-90), math.radians(180))
    cv.stroke(BLUE, 2.0, cap=R)
    return cv.rgba()


def app_status():
    cv = Canvas(32, 16)
    for x, face, active in ((0, GOOD, True), (16, GREY, False)):
        cv.circle(x + 8, 8, 7)
        cv.fill(cv.vgrad(1, 15, [(0, shade(face, 0.18)), (1, shade(face, -0.08))]), preserve=True)
        cv.stroke(shade(face, -0.32), 1.0)
        if active:
            cv.polyline([(x + 4.6, 8.2), (x + 7.0, 10.6), (x + 11.4, 5.6)])
            cv.stroke(WHITE, 1.8)
        else:
            cv.fill_rect(x + 5.5, 7, 1.8, 2, WHITE)
            cv.fill_rect(x + 7.1, 7, 1.8, 2, WHITE)
            cv.fill_rect(x + 8.7, 7, 1.8, 2, WHITE)
    return cv.rgba()


# -- web buttons (169) ----------------------------------------------------------

def web_icon(cv, kind, cx, cy, ink, accent):
    c = cv.ctx
    lw = 2.0
    if kind == "reg":          # a person with a plus
        cv.circle(cx - 2, cy - 5, 4.2)
        cv.stroke(ink, lw)
        c.move_to(cx - 10, cy + 9)
        c.curve_to(cx - 10, cy + 1, cx + 6, cy + 1, cx + 6, cy + 9)
        cv.stroke(ink, lw)
        c.move_to(cx + 9, cy - 4)
        c.line_to(cx + 9, cy + 3)
        c.move_to(cx + 5.5, cy - 0.5)
        c.line_to(cx + 12.5, cy - 0.5)
        cv.stroke(accent, 2.2)
    elif kind == "purchase":   # a shopping cart
        cv.polyline([(cx - 12, cy - 8), (cx - 8, cy - 8), (cx - 5, cy + 4), (cx + 8, cy + 4), (cx + 11, cy - 4), (cx - 6.5, cy - 4)])
        cv.stroke(ink, lw)
        for x in (cx - 3, cx + 6):
            cv.circle(x, cy + 8.5, 1.8)
            cv.fill(ink)
    elif kind == "trial":      # a gift box
        cv.rounded(cx - 9, cy - 2, 18, 11, 1.5)
        cv.stroke(ink, lw)
        cv.rounded(cx - 10.5, cy - 6, 21, 4, 1)
        cv.stroke(ink, lw)
        c.move_to(cx, cy - 6)
        c.line_to(cx, cy + 9)
        cv.stroke(accent, lw)
        c.move_to(cx, cy - 6)
        c.curve_to(cx - 7, cy - 14, cx - 9, cy - 5, cx, cy - 6)
        c.move_to(cx, cy - 6)
        c.curve_to(cx + 7, cy - 14, cx + 9, cy - 5, cx, cy - 6)
        cv.stroke(accent, 1.6)
    elif kind == "help":       # a question mark in a ring
        cv.circle(cx, cy, 10.5)
        cv.stroke(ink, lw)
        c.arc(cx, cy - 3, 3.6, math.radians(200), math.radians(400))
        c.curve_to(cx + 1.4, cy + 0.5, cx, cy + 0.6, cx, cy + 3)
        cv.stroke(ink, 2.2)
        cv.circle(cx, cy + 6.6, 1.5)
        cv.fill(accent)
    elif kind == "support":    # a headset
        c.arc(cx, cy + 1, 9, math.pi, 2 * math.pi)
        cv.stroke(ink, lw)
        for s in (-1, 1):
            cv.rounded(cx + s * 9 - 2.5, cy, 5, 8, 2)
            cv.fill(ink)
        c.move_to(cx + 9, cy + 7)
        c.curve_to(cx + 9, cy + 11, cx + 5, cy + 11, cx + 1, cy + 11)
        cv.stroke(ink, 1.6)
        cv.circle(cx, cy + 11, 1.8)
        cv.fill(accent)


def web_buttons():
    cv = Canvas(165, 250, GROUND)
    kinds = ("reg", "purchase", "trial", "help", "support")
    for k, kind in enumerate(kinds):
        for j, st in enumerate(("normal", "hovered", "pushed")):
            x, y = 55 * j, 50 * k
            off = 1 if st == "pushed" else 0
            if st != "normal":
                cv.rounded(x + 2.5, y + 1.5, 50, 47, 5)
                face = WHITE if st == "hovered" else (226, 234, 244)
                cv.fill(face, preserve=True)
                cv.stroke((196, 208, 216) if st == "hovered" else LINE, 1.0)
            ink = BLUE if st != "pushed" else shade(BLUE, -0.2)
            web_icon(cv, kind, x + 27.5 + off, y + 17 + off, ink, ORANGE)
    return cv.rgb_on(GROUND)


# resource number, file, encoding (or encoding and the colour a reader that
# ignores palette alpha shows for transparent pixels), builder
IMAGES = [
    (162, "caption_minimize.png", "rgb", lambda: caption_buttons(27, "minimize")),
    (163, "caption_close.png", "rgb", lambda: caption_buttons(29, "close")),
    (167, "main_window.jpg", "jpeg", main_picture),
    (170, "window_frame.jpg", "jpeg", frame),
    (161, "buttons.bmp", "bmp", buttons),
    (192, "scroll_vertical.png", ("palette", THUMB["normal"]), lambda: scroll_bars(True)),
    (191, "scroll_horizontal.png", ("palette", THUMB["normal"]), lambda: scroll_bars(False)),
    (169, "web_buttons.jpg", "jpeg", web_buttons),
    (172, "tabs.png", "palette", tabs),
    (175, "list_header.png", "palette", list_header),
    (176, "header_panel_title.png", "palette", header_panel_title),
    (174, "check_boxes.png", "rgb", check_boxes),
    (178, "radio_boxes.png", "palette", radio_boxes),
    (171, "flags.png", "rgba", flags),
    (173, "connect_icons.png", "rgba", connect_icons),
    (177, "policy_icons.png", "rgba", policy_icons),
    (179, "tip_info.png", "palette", tip_info),
    (181, "online_update.png", "rgba", online_update),
    (180, "speed_icons.png", "rgba", speed_icons),
    (193, "app_status.png", "rgba", app_status),
]
