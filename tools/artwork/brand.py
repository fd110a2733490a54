"""The brand mark: a shield carrying a white quill, and the window chrome
that the frame and the main-window picture share."""
import cairo

from paint import BLUE, DEEP, GROUND, LINE, WHITE, mix, shade

# The header band: light so that the deep-blue title reads on it, closed by a
# brand-blue rule. Both the frame and the main picture take their rows from
# here, so the caption buttons sit on the same colours everywhere.
BAND_H = 47
BAND_TOP = (250, 252, 255)
BAND_BOTTOM = (214, 229, 247)
RULE = BLUE
BAND_EDGE = (112, 140, 186)   # outline beside the band
BODY_EDGE = LINE               # outline beside the body


def band_row(y):
    """Colour of header row y (0 .. BAND_H-1) inside the outline."""
    if y >= BAND_H - 2:
        return RULE if y == BAND_H - 2 else shade(RULE, -0.22)
    return mix(BAND_TOP, BAND_BOTTOM, (y / (BAND_H - 3)) ** 1.15)


def edge_row(y):
    return BAND_EDGE if y < BAND_H else BODY_EDGE


def chrome(cv, w, h, radius=4.5):
    """Band, body and a one-pixel outline for a window of w×h.

    Row 0 and the outer columns are the outline; the top corners follow the
    window's rounded region (9×9 ellipses).
    """
    c = cv.ctx
    cv.fill_rect(0, 0, w, h, BODY_EDGE)
    # outline colour per row, then the inside on top
    for y in range(min(h, BAND_H)):
        cv.fill_rect(0, y, w, 1, edge_row(y))
    c.save()
    cv.rounded(1, 1, w - 2, h - 1 + 20, radius - 1, corners=(1, 1, 0, 0))
    c.clip()
    for y in range(min(h, BAND_H)):
        cv.fill_rect(0, y, w, 1, band_row(y))
    if h > BAND_H:
        cv.fill_rect(0, BAND_H, w, h - BAND_H, GROUND)
    c.restore()
    # the bottom outline
    cv.fill_rect(0, h - 1, w, 1, BODY_EDGE)
    # outside the rounded corners: clear, the region hides it
    c.save()
    c.set_operator(cairo.OPERATOR_CLEAR)
    c.rectangle(0, 0, w, h)
    cv.rounded(0, 0, w, h + 20, radius, corners=(1, 1, 0, 0))
    c.set_fill_rule(cairo.FILL_RULE_EVEN_ODD)
    c.fill()
    c.restore()


def shield_path(cv, x, y, s):
    """Shield of size s (width 0.8 s, height 0.92 s) with its box at x, y."""
    c = cv.ctx
    p = lambda u, v: (x + u * s, y + v * s)
    c.new_sub_path()
    c.move_to(*p(0.5, 0.04))
    c.curve_to(*p(0.63, 0.12), *p(0.77, 0.15), *p(0.9, 0.15))
    c.line_to(*p(0.9, 0.47))
    c.curve_to(*p(0.9, 0.72), *p(0.73, 0.87), *p(0.5, 0.97))
    c.curve_to(*p(0.27, 0.87), *p(0.1, 0.72), *p(0.1, 0.47))
    c.line_to(*p(0.1, 0.15))
    c.curve_to(*p(0.23, 0.15), *p(0.37, 0.12), *p(0.5, 0.04))
    c.close_path()


def quill_path(cv, x, y, s):
    """A feather slanting from its nib (lower left) to its tip (upper right)."""
    c = cv.ctx
    p = lambda u, v: (x + u * s, y + v * s)
    c.new_sub_path()
    c.move_to(*p(0.31, 0.80))                                      # nib end of the vane
    c.curve_to(*p(0.29, 0.56), *p(0.45, 0.30), *p(0.75, 0.15))     # outer vane up to the tip
    c.curve_to(*p(0.75, 0.33), *p(0.68, 0.45), *p(0.60, 0.51))     # inner vane down to the notch
    c.line_to(*p(0.545, 0.515))
    c.curve_to(*p(0.52, 0.60), *p(0.44, 0.67), *p(0.31, 0.80))
    c.close_path()


def mark(cv, x, y, s, face=BLUE, outline=DEEP, quill=WHITE):
    """The brand mark in a box of s×s pixels at (x, y)."""
    top = shade(face, 0.28)
    bottom = shade(face, -0.12)
    shield_path(cv, x, y, s)
    cv.fill(cv.vgrad(y, y + s, [(0, top), (1, bottom)]), preserve=True)
    cv.stroke(outline, max(1.0, s / 20.0))
    if s >= 20:
        cv.save()
        c2 = cv.ctx
        c2.translate(x + s / 2, y + s / 2)
        c2.scale(0.86, 0.88)
        c2.translate(-(x + s / 2), -(y + s / 2))
        shield_path(cv, x, y, s)
        cv.restore()
        cv.stroke(WHITE, max(1.0, s / 28.0), a=0.35)
    # a soft light on the upper half
    cv.save()
    shield_path(cv, x, y, s)
    cv.ctx.clip()
    cv.ctx.rectangle(x, y, s, s * 0.45)
    cv.fill(WHITE, 0.10)
    cv.restore()
    quill_path(cv, x, y, s)
    cv.fill(quill)
    c = cv.ctx

    def shaft():
        c.move_to(x + 0.62 * s, y + 0.30 * s)
        c.curve_to(x + 0.50 * s, y + 0.46 * s, x + 0.40 * s, y + 0.62 * s, x + 0.31 * s, y + 0.78 * s)

    if s >= 24:
        # the shaft shows as a thin line of the face colour inside the vane
        c.save()
        quill_path(cv, x, y, s)
        c.clip()
        shaft()
        cv.stroke(shade(face, 0.1), s / 36.0, cap=cairo.LINE_CAP_BUTT)
        c.restore()
    # and as a white nib beyond it
    c.move_to(x + 0.32 * s, y + 0.76 * s)
    c.line_to(x + 0.26 * s, y + 0.86 * s)
    cv.stroke(quill, max(1.0, s / 18.0))
