"""A small geometric stroke font for the button faces and the logo.

Each glyph is a set of centre-line polylines in font units: the cap height
is 10 units (y = 0 at the cap line, y = 10 on the baseline), the x-height
line is at y = 3, descenders reach y = 13. Text is drawn by stroking the
lines with a round pen on a Canvas, so it is anti-aliased at any size.
Only the characters the artwork uses are defined.
"""

import math


def arc(cx, cy, rx, ry, a0, a1, steps=None):
    """Points on an ellipse from angle a0 to a1 (degrees, y pointing down:
    90 is the bottom, 270 the top)."""
    if steps is None:
        steps = max(4, int(abs(a1 - a0) / 12))
    pts = []
    for i in range(steps + 1):
        t = math.radians(a0 + (a1 - a0) * i / steps)
        pts.append((cx + rx * math.cos(t), cy + ry * math.sin(t)))
    return pts


def line(*pts):
    return list(pts)


# glyph: (advance width, [polyline, ...])
GLYPHS = {
    ' ': (3.2, []),
    'P': (6.6, [line((0, 10), (0, 0), (3.3, 0)) + arc(3.3, 2.75, 2.75, 2.75, 270, 450)
                + line((0, 5.5))]),
    'R': (6.8, [line((0, 10), (0, 0), (3.3, 0)) + arc(3.3, 2.75, 2.75, 2.75, 270, 450)
                + line((0, 5.5)), line((3.0, 5.5), (6.2, 10))]),
    'S': (6.4, [arc(3.0, 2.55, 2.85, 2.45, -25, -270)
                + arc(3.1, 7.5, 3.0, 2.5, -90, 155)]),
    'T': (7.0, [line((0, 0), (7, 0)), line((3.5, 0), (3.5, 10))]),
    'a': (6.8, [arc(3.0, 6.5, 3.0, 3.5, 0, 360, 32), line((6.0, 3), (6.0, 10))]),
    'c': (6.0, [arc(3.1, 6.5, 3.1, 3.5, -40, -320, 24)]),
    'd': (6.8, [arc(3.0, 6.5, 3.0, 3.5, 0, 360, 32), line((6.0, 0), (6.0, 10))]),
    'e': (6.6, [line((0.1, 6.6), (6.1, 6.6)) + arc(3.1, 6.6, 3.0, 3.4, 0, -320, 28)]),
    'f': (4.2, [line((1.6, 10)) + [(1.6, 2.4)] + arc(3.6, 2.4, 2.0, 2.0, 180, 300),
                line((0, 3.3), (3.8, 3.3))]),
    'g': (6.8, [arc(3.0, 6.5, 3.0, 3.5, 0, 360, 32),
                line((6.0, 3), (6.0, 10.5)) + arc(3.1, 10.5, 2.9, 2.4, 0, 150)]),
    'h': (6.6, [line((0, 0), (0, 10)), arc(3.0, 6.0, 3.0, 3.0, 180, 360) + line((6.0, 10))]),
    'i': (2.2, [line((0.6, 3.2), (0.6, 10)), line((0.6, 0.6), (0.6, 0.75))]),
    'l': (2.2, [line((0.6, 0), (0.6, 10))]),
    'm': (9.6, [line((0, 3), (0, 10)), arc(2.2, 5.4, 2.2, 2.4, 180, 360) + line((4.4, 10)),
                arc(6.6, 5.4, 2.2, 2.4, 180, 360) + line((8.8, 10))]),
    'n': (6.6, [line((0, 3), (0, 10)), arc(3.0, 6.0, 3.0, 3.0, 180, 360) + line((6.0, 10))]),
    'o': (7.0, [arc(3.2, 6.5, 3.2, 3.5, 0, 360, 32)]),
    'r': (4.4, [line((0, 3), (0, 10)), arc(3.2, 6.2, 3.2, 3.2, 180, 285)]),
    's': (5.6, [arc(2.6, 4.75, 2.45, 1.75, -30, -270) + arc(2.6, 8.25, 2.5, 1.75, -90, 150)]),
    't': (4.2, [line((1.4, 0.8), (1.4, 8.4)) + arc(3.0, 8.4, 1.6, 1.6, 180, 90) + line((3.8, 10)),
                line((0, 3.3), (3.8, 3.3))]),
    'u': (6.6, [line((0, 3)) + arc(3.0, 7.0, 3.0, 3.0, 180, 90) + arc(3.0, 7.0, 3.0, 3.0, 90, 0),
                line((6.0, 3), (6.0, 10))]),
    'v': (6.4, [line((0, 3), (3.2, 10), (6.4, 3))]),
    'w': (9.0, [line((0, 3), (2.25, 10), (4.5, 3.6), (6.75, 10), (9.0, 3))]),
    'x': (6.2, [line((0, 3), (6.2, 10)), line((6.2, 3), (0, 10))]),
    '?': (5.6, [arc(2.8, 2.7, 2.6, 2.6, 190, 400) + line((2.8, 7.0)),
                line((2.8, 9.6), (2.8, 9.75))]),
}

TRACKING = 1.7  # units between glyphs, on top of each glyph's own width


def text_width(text, size):
    """Width in pixels of text at `size` pixels per 10 units of cap height."""
    s = size / 10.0
    w = 0.0
    for i, ch in enumerate(text):
        w += GLYPHS[ch][0] * s
        if i + 1 < len(text):
            w += TRACKING * s
    return w


def text_segments(text, x, baseline, size, slant=0.0):
    """Line segments of `text` with its left edge at x and its baseline at
    `baseline`; `size` is the cap height in pixels."""
    s = size / 10.0
    segs = []
    for ch in text:
        adv, paths = GLYPHS[ch]
        for path in paths:
            pts = [(x + (px + (10 - py) * slant) * s, baseline + (py - 10) * s)
                   for px, py in path]
            for a, b in zip(pts, pts[1:]):
                segs.append((a[0], a[1], b[0], b[1]))
        x += (adv + TRACKING) * s
    return segs
