"""A tiny anti-aliased rasteriser and the image writers the artwork needs.

Everything is drawn in floating point RGB (0..255) on a Canvas, with
coverage computed analytically from signed distances (rectangles, rounded
rectangles, circles, thick line segments), then written out as 16-bit
5-5-5 BMP files or 8-bit RGBA PNG files. Only the standard library is used,
so the output is the same on every machine that runs it.
"""

import math
import struct
import zlib


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def hexrgb(s):
    s = s.lstrip('#')
    return (int(s[0:2], 16), int(s[2:4], 16), int(s[4:6], 16))


def vgrad(stops):
    """Colour as a function of a 0..1 parameter through (t, colour) stops."""
    stops = [(t, hexrgb(c) if isinstance(c, str) else c) for t, c in stops]

    def at(t):
        if t <= stops[0][0]:
            return stops[0][1]
        for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
            if t <= t1:
                return mix(c0, c1, (t - t0) / (t1 - t0) if t1 > t0 else 0.0)
        return stops[-1][1]
    return at


class Canvas:
    def __init__(self, w, h, color=(0, 0, 0), alpha=1.0):
        self.w, self.h = w, h
        c = hexrgb(color) if isinstance(color, str) else color
        self.px = [[list(c) for _ in range(w)] for _ in range(h)]
        self.alpha = [[alpha] * w for _ in range(h)]

    def copy_from(self, other, ox, oy):
        """Fill this canvas with other's pixels starting at (ox, oy)."""
        for y in range(self.h):
            for x in range(self.w):
                self.px[y][x] = list(other.px[oy + y][ox + x])
                self.alpha[y][x] = other.alpha[oy + y][ox + x]

    def blend(self, x, y, color, a):
        if a <= 0.0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y][x]
        if a >= 1.0:
            p[0], p[1], p[2] = color[0], color[1], color[2]
            self.alpha[y][x] = 1.0
            return
        # "over" compositing that also works on transparent canvases (icons)
        da = self.alpha[y][x]
        oa = a + da * (1.0 - a)
        for i in range(3):
            p[i] = (color[i] * a + p[i] * da * (1.0 - a)) / oa if oa > 0 else color[i]
        self.alpha[y][x] = oa

    def shade(self, bbox, coverage, color):
        """For every pixel centre in bbox, blend color (a tuple or a function
        of (x, y)) with the coverage function's value (0..1)."""
        x0, y0, x1, y1 = bbox
        x0 = max(0, int(math.floor(x0)))
        y0 = max(0, int(math.floor(y0)))
        x1 = min(self.w, int(math.ceil(x1)))
        y1 = min(self.h, int(math.ceil(y1)))
        const = not callable(color)
        if const and isinstance(color, str):
            color = hexrgb(color)
        for y in range(y0, y1):
            cy = y + 0.5
            for x in range(x0, x1):
                a = coverage(x + 0.5, cy)
                if a > 0.0:
                    self.blend(x, y, color if const else color(x + 0.5, cy), a)

    # --- shapes --------------------------------------------------------

    def rrect(self, x0, y0, x1, y1, r, color, opacity=1.0):
        """Filled rounded rectangle with edges at x0..x1, y0..y1 (pixel edges)."""
        cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        hx, hy = (x1 - x0) / 2.0, (y1 - y0) / 2.0

        def cov(px, py):
            return clamp(0.5 - sd_rrect(px - cx, py - cy, hx, hy, r)) * opacity
        self.shade((x0 - 1, y0 - 1, x1 + 1, y1 + 1), cov, color)

    def rrect_ring(self, x0, y0, x1, y1, r, width, color, opacity=1.0):
        """Outline of a rounded rectangle: a band `width` wide inside the edge."""
        cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        hx, hy = (x1 - x0) / 2.0, (y1 - y0) / 2.0

        def cov(px, py):
            d = sd_rrect(px - cx, py - cy, hx, hy, r)
            return clamp(0.5 - d) * clamp(0.5 + d + width) * opacity
        self.shade((x0 - 1, y0 - 1, x1 + 1, y1 + 1), cov, color)

    def circle(self, cx, cy, r, color, opacity=1.0):
        def cov(px, py):
            return clamp(0.5 - (math.hypot(px - cx, py - cy) - r)) * opacity
        self.shade((cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1), cov, color)

    def ring(self, cx, cy, r, width, color, opacity=1.0):
        def cov(px, py):
            d = abs(math.hypot(px - cx, py - cy) - r) - width / 2.0
            return clamp(0.5 - d) * opacity
        e = r + width + 1
        self.shade((cx - e, cy - e, cx + e, cy + e), cov, color)

    def strokes(self, segments, width, color, opacity=1.0):
        """Thick anti-aliased polyline segments [(x0, y0, x1, y1), ...] with
        round caps, drawn as one shape (overlaps do not darken)."""
        if not segments:
            return
        hw = width / 2.0
        xs = [s[0] for s in segments] + [s[2] for s in segments]
        ys = [s[1] for s in segments] + [s[3] for s in segments]
        pre = [(ax, ay, bx - ax, by - ay, (bx - ax) ** 2 + (by - ay) ** 2)
               for ax, ay, bx, by in segments]

        def cov(px, py):
            best = 1e9
            for ax, ay, dx, dy, ll in pre:
                t = 0.0 if ll == 0 else clamp(((px - ax) * dx + (py - ay) * dy) / ll)
                ex, ey = px - ax - t * dx, py - ay - t * dy
                d2 = ex * ex + ey * ey
                if d2 < best:
                    best = d2
            return clamp(hw + 0.5 - math.sqrt(best)) * opacity
        self.shade((min(xs) - hw - 1, min(ys) - hw - 1, max(xs) + hw + 1, max(ys) + hw + 1),
                   cov, color)

    def polygon(self, pts, color, opacity=1.0, ss=4):
        """Filled polygon (even-odd), anti-aliased by ss x ss supersampling."""
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        edges = list(zip(pts, pts[1:] + pts[:1]))

        def inside(px, py):
            c = False
            for (ax, ay), (bx, by) in edges:
                if (ay > py) != (by > py):
                    if px < ax + (py - ay) * (bx - ax) / (by - ay):
                        c = not c
            return c
        offs = [(i + 0.5) / ss - 0.5 for i in range(ss)]

        def cov(px, py):
            n = 0
            for oy in offs:
                for ox in offs:
                    if inside(px + ox, py + oy):
                        n += 1
            return n / (ss * ss) * opacity
        self.shade((min(xs) - 1, min(ys) - 1, max(xs) + 1, max(ys) + 1), cov, color)


def sd_rrect(px, py, hx, hy, r):
    """Signed distance from a point to a rounded box centred at the origin."""
    qx = abs(px) - hx + r
    qy = abs(py) - hy + r
    ox, oy = max(qx, 0.0), max(qy, 0.0)
    return math.hypot(ox, oy) + min(max(qx, qy), 0.0) - r


# --- output -------------------------------------------------------------

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def to555(canvas, dither=True):
    """5-bit channel values per pixel, rows top-down. A gentle ordered dither
    (half the full amplitude) softens the banding of gradients at 5 bits per
    channel without a visible texture on flat dark areas."""
    rows = []
    for y in range(canvas.h):
        row = []
        for x in range(canvas.w):
            d = 0.25 + (BAYER4[y & 3][x & 3] + 0.5) / 32.0 if dither else 0.5
            q = []
            for v in canvas.px[y][x]:
                n = int(math.floor(clamp(v, 0.0, 255.0) * 31.0 / 255.0 + d))
                q.append(31 if n > 31 else n)
            row.append(tuple(q))
        rows.append(row)
    return rows


def bmp555(rows):
    """A BMP file: BITMAPFILEHEADER, 40-byte BITMAPINFOHEADER, 16 bpp BI_RGB
    (x-r5-g5-b5), no colour table, rows bottom-up padded to 4 bytes."""
    h = len(rows)
    w = len(rows[0])
    stride = (w * 2 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += struct.pack('<H', (r << 10) | (g << 5) | b)
        line += b'\0' * (stride - len(line))
        data += line
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 16, 0, len(data), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return head + info + bytes(data)


def png_rgba(canvas):
    """An 8-bit RGBA PNG of the canvas (alpha from its coverage)."""
    raw = bytearray()
    for y in range(canvas.h):
        raw.append(0)
        for x in range(canvas.w):
            r, g, b = (int(round(clamp(v, 0.0, 255.0))) for v in canvas.px[y][x])
            a = int(round(clamp(canvas.alpha[y][x]) * 255.0))
            if a == 0:
                r = g = b = 0
            raw += bytes((r, g, b, a))

    def chunk(tag, body):
        return (struct.pack('>I', len(body)) + tag + body
                + struct.pack('>I', zlib.crc32(tag + body) & 0xffffffff))
    ihdr = struct.pack('>IIBBBBB', canvas.w, canvas.h, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr)
            + chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))
