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
    c.move_to(*p(0.33, 0.80))                     # nib
    c.curve_to(*p(0.36, 0.58), *p(0.50, 0.34), *p(0.73, 0.20))   # outer vane up to the tip
    c.curve_to(*p(0.72, 0.38), *p(0.62, 0.52), *p(0.47, 0.60))   # inner vane down
    c.line_to(*p(0.52, 0.50))                     # a notch in the vane
    c.curve_to(*p(0.45, 0.58), *p(0.40, 0.66), *p(0.33, 0.80))
    c.close_path()


def mark(cv, x, y, s, face=BLUE, outline=DEEP, quill=WHITE):
    """The brand mark in a box of s×s pixels at (x, y)."""
    top = shade(face, 0.28)
    bottom = shade(face, -0.12)
    shield_path(cv, x, y, s)
    cv.fill(cv.vgrad(y, y + s, [(0, top), (1, bottom)]), preserve=True)
    cv.stroke(outline, max(1.0, s / 20.0))
    # a soft light on the upper half
    cv.save()
    shield_path(cv, x, y, s)
    cv.ctx.clip()
    cv.ctx.rectangle(x, y, s, s * 0.45)
    cv.fill(WHITE, 0.10)
    cv.restore()
    quill_path(cv, x, y, s)
    cv.fill(quill)
    # the shaft, so the nib reaches past the vane
    c = cv.ctx
    c.move_to(x + 0.35 * s, y + 0.74 * s)
    c.line_to(x + 0.29 * s, y + 0.86 * s)
    cv.stroke(quill, max(1.0, s / 16.0))
