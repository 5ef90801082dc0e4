#!/usr/bin/env python3
"""Draws Corvane's artwork and writes it into res/ (or into --out DIR).

  bitmaps/<id>.bmp      16-bit 5-5-5 BMP files, by resource id
  icons/<id>/<n>.png    the application icon (200) and the two spare icons
                        (212, 213), each at 16, 32 and 48 pixels
  strings/101.txt       the about item's text (UTF-8)
  corvane.desktop       the desktop entry, and corvane.png its 48 px icon

The main window's skin is one dark picture (the background) plus the button
faces, which are drawn over the very pixels of the background they will sit
on, so their rounded corners blend into it. The program draws every text of
the window itself except the button faces.

Run it after changing anything here and commit its output with it; a test
regenerates the files and compares them byte for byte.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # leave no caches in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from raster import Canvas, bmp555, clamp, hexrgb, mix, png_rgba, to555, vgrad  # noqa: E402
import strokefont  # noqa: E402

WIDTH, HEIGHT = 610, 400

# Where the program puts its controls (pixels of the background).
TRACK = (41, 232, 427, 245)          # progress bar: left, top, right, bottom
PAUSE_AT = (109, 292)                # 92 x 31
FOLDER_AT = (203, 292)               # 163 x 31
QUESTION_AT, MINIMIZE_AT, CLOSE_AT = (553, 7), (570, 7), (587, 7)   # 15 x 14
ROWS_TOP, ROW_H = 148, 18            # four label rows, 148..220
HEADER_H = 106                       # title area, below it the body

AMBER = hexrgb('#ffb41e')
AMBER_LIGHT = hexrgb('#ffd66b')
WHITE = hexrgb('#f2f5fa')

# --- the background (171) ---------------------------------------------


def draw_background():
    c = Canvas(WIDTH, HEIGHT)
    body = vgrad([(0.0, '#1d2534'), (0.30, '#171e2b'), (1.0, '#0d1118')])
    header = vgrad([(0.0, '#283347'), (1.0, '#1a2231')])
    for y in range(HEIGHT):
        col = header(y / HEADER_H) if y < HEADER_H else body(y / (HEIGHT - 1))
        row = c.px[y]
        for x in range(WIDTH):
            row[x] = list(col)

    # a soft light from the upper left over the header
    def glow(px, py):
        d = ((px - 120) / 420.0) ** 2 + ((py + 40) / 150.0) ** 2
        return clamp(1.0 - d) * 0.10
    c.shade((0, 0, WIDTH, HEADER_H), glow, (120, 150, 200))
    # faint arcs rising from the top right corner
    for r in (70, 120, 170, 220):
        def arcband(px, py, r=r):
            d = abs(((px - 640) ** 2 + (py + 60) ** 2) ** 0.5 - r)
            return clamp(1.0 - d) * 0.16 * clamp((py - 2) / 30.0) * clamp((HEADER_H - 6 - py) / 30.0)
        c.shade((640 - r - 2, 0, WIDTH, HEADER_H), arcband, (140, 170, 220))

    # header edge: a dark line with an amber hairline fading out to both sides
    for x in range(WIDTH):
        t = x / (WIDTH - 1)
        fade = clamp(1.0 - abs(t - 0.32) / 0.62) ** 1.5
        c.blend(x, HEADER_H, AMBER, 0.75 * fade)
        c.blend(x, HEADER_H + 1, (0, 0, 0), 0.45)
        c.blend(x, HEADER_H + 2, (0, 0, 0), 0.18)

    # tray behind the three small buttons
    c.rrect(549, 3, 606, 25, 6, '#0f141c')
    c.rrect_ring(549, 3, 606, 25, 6, 1.0, '#33405a')

    # information panel: the four rows, the progress track and the percentage
    c.rrect(30, 134, 442, 284, 9, '#121824')
    c.rrect_ring(30, 134, 442, 284, 9, 1.0, '#2c374b')
    c.rrect_ring(31, 135, 441, 283, 8, 1.0, '#0a0d13', 0.6)
    for i in range(4):
        y0 = ROWS_TOP + i * ROW_H
        if i % 2 == 0:
            c.rrect(40, y0, 432, y0 + ROW_H, 3, '#182030')
        else:
            c.rrect(40, y0, 432, y0 + ROW_H, 3, '#141b27')

    # progress track: an empty, sunken groove exactly where the bar paints
    l, t, r, b = TRACK
    c.rrect(l - 2, t - 2, r + 2, b + 2, 3, '#1e2636')
    c.rrect_ring(l - 2, t - 2, r + 2, b + 2, 3, 1.0, '#313d52')
    for y in range(t, b):
        shade = vgrad([(0.0, '#05070a'), (0.25, '#0a0d13'), (1.0, '#0e121a')])((y - t) / (b - t - 1))
        for x in range(l, r):
            c.px[y][x] = list(shade)
    # quarter marks under the track
    for q in (0.25, 0.5, 0.75):
        x = int(l + (r - l) * q)
        c.blend(x, b + 3, (90, 105, 130), 0.8)
        c.blend(x, b + 4, (90, 105, 130), 0.4)

    # bay behind the two big buttons
    c.rrect(103, 286, 372, 329, 8, '#0c1016')
    c.rrect_ring(103, 286, 372, 329, 8, 1.0, '#263043')

    draw_swarm(c)

    # footer
    for x in range(36, WIDTH - 36):
        t = (x - 36) / (WIDTH - 73)
        fade = clamp(1.0 - abs(t - 0.5) / 0.5) ** 0.8
        c.blend(x, 352, (255, 255, 255), 0.07 * fade)
        c.blend(x, 351, (0, 0, 0), 0.35 * fade)
    c.strokes(strokefont.text_segments('Tarvix', 530, 380, 7.0), 1.0, '#3c4860')

    # window frame: a light outer line and a dark inner one
    c.rrect_ring(0, 0, WIDTH, HEIGHT, 0, 1.0, '#46546d')
    c.rrect_ring(1, 1, WIDTH - 1, HEIGHT - 1, 0, 1.0, '#0a0d13', 0.7)
    return c


# Peers around a downloading node: a quiet picture for the empty right side.
SWARM_NODES = [
    (528, 226, 7.0, 'hub'),
    (480, 168, 3.2, ''), (566, 160, 3.6, ''), (590, 214, 2.8, ''),
    (578, 284, 3.4, 'amber'), (512, 302, 3.0, ''), (468, 252, 2.6, ''),
    (502, 190, 2.2, ''), (548, 192, 2.0, ''), (596, 250, 1.8, ''),
    (470, 208, 1.8, ''), (540, 318, 2.2, ''), (498, 146, 1.6, 'amber'),
]
SWARM_LINKS = [(0, 1), (0, 2), (0, 3), (0, 4), (0, 5), (0, 6), (1, 7), (2, 8), (3, 9),
               (6, 10), (5, 11), (1, 12), (7, 0), (8, 0), (4, 9), (1, 10), (2, 3)]


def draw_swarm(c):
    hx, hy = SWARM_NODES[0][0], SWARM_NODES[0][1]

    def halo(px, py):
        d = ((px - hx) ** 2 + (py - hy) ** 2) ** 0.5
        return clamp(1.0 - d / 90.0) ** 2 * 0.10
    c.shade((hx - 92, hy - 92, hx + 92, hy + 92), halo, (90, 130, 200))
    for r in (30, 52, 76):
        c.ring(hx, hy, r, 1.0, '#26324a', 0.55)
    for a, b in SWARM_LINKS:
        ax, ay = SWARM_NODES[a][:2]
        bx, by = SWARM_NODES[b][:2]
        c.strokes([(ax, ay, bx, by)], 1.0, '#34445f', 0.75)
    for x, y, r, kind in SWARM_NODES:
        if kind == 'hub':
            c.circle(x, y, r + 4, AMBER, 0.18)
            c.circle(x, y, r, AMBER)
            c.circle(x - 1.5, y - 1.5, r * 0.45, AMBER_LIGHT, 0.8)
        elif kind == 'amber':
            c.circle(x, y, r, '#c98d1c')
        else:
            c.circle(x, y, r, '#4a5d80')
            c.circle(x, y, max(r - 1.2, 0.6), '#2a3750')


# --- button faces -------------------------------------------------------

NEUTRAL = {
    'up': dict(border='#55647e', top='#3b4860', bottom='#283244', hi=0.35, text=WHITE),
    'down': dict(border='#3e495d', top='#1b222e', bottom='#263041', hi=0.0, text='#cfd6e2'),
    'focus': dict(border='#55647e', top='#3f4d66', bottom='#2b3548', hi=0.35, text=WHITE,
                  ring=AMBER),
    'disabled': dict(border='#2e3747', top='#222a37', bottom='#1e2531', hi=0.0, text='#5a6476'),
}
ACCENT = {
    'up': dict(border='#b7790c', top='#ffcf5a', bottom='#eb9a12', hi=0.55, text='#1a1f29'),
    'down': dict(border='#8c5c08', top='#c57e0c', bottom='#dc9316', hi=0.0, text='#1a1f29'),
    'focus': dict(border='#b7790c', top='#ffd66e', bottom='#f0a41c', hi=0.55, text='#1a1f29',
                  ring='#fff4d6'),
    'disabled': NEUTRAL['disabled'],
}


def face(background, at, w, h, radius, style):
    """A button face over the background pixels at `at`, without its label."""
    c = Canvas(w, h)
    c.copy_from(background, at[0], at[1])
    st = {k: (hexrgb(v) if isinstance(v, str) else v) for k, v in style.items()}
    grad = vgrad([(0.0, st['top']), (1.0, st['bottom'])])
    c.rrect(0, 0, w, h, radius, st['border'])
    c.rrect(1, 1, w - 1, h - 1, radius - 1, lambda x, y: grad(y / h))
    if st['hi'] > 0:
        # a glossy top edge
        c.strokes([(radius, 1.5, w - radius, 1.5)], 1.0, (255, 255, 255), st['hi'] * 0.5)
    if 'ring' in st:
        c.rrect_ring(0, 0, w, h, radius, 1.6 if h > 20 else 1.0, st['ring'])
    return c, st


def label_bitmap(background, at, w, h, text, icon, style, pressed):
    c, st = face(background, at, w, h, 6, style)
    size = 9.0
    tw = strokefont.text_width(text, size)
    iw = 9 if icon else 0
    gap = 7 if icon else 0
    x = (w - (iw + gap + tw)) / 2.0 + (1 if pressed else 0)
    base = (h + size) / 2.0 + (1 if pressed else 0) - 0.5
    col = st['text']
    if icon == 'pause':
        c.rrect(x + 0.5, base - 9.5, x + 3.3, base + 0.5, 1.0, col)
        c.rrect(x + 5.7, base - 9.5, x + 8.5, base + 0.5, 1.0, col)
    elif icon == 'play':
        c.polygon([(x + 0.5, base - 10.0), (x + 9.0, base - 4.5), (x + 0.5, base + 1.0)], col)
    elif icon == 'folder':
        c.rrect(x, base - 9.0, x + 4.5, base - 6.0, 1.0, col)
        c.rrect(x, base - 7.5, x + 10.0, base + 0.5, 1.2, col)
        c.rrect(x + 1.3, base - 5.3, x + 8.7, base - 0.8, 0.8, st['bottom'] if pressed is False
                else st['top'], 0.0)
    c.strokes(strokefont.text_segments(text, x + iw + gap, base, size), 1.45, col)
    return c


def small_bitmap(background, at, kind, state):
    w, h = 15, 14
    style = dict(NEUTRAL[state])
    if kind == 'close' and state == 'down':
        style = dict(border='#8e2a22', top='#b5372b', bottom='#d4473a', hi=0.0, text=WHITE)
    c, st = face(background, at, w, h, 3.5, style)
    col = st['text']
    d = 1 if state == 'down' else 0
    if kind == 'question':
        c.strokes(strokefont.text_segments('?', 5.0 + d, 11.5 + d, 8.8), 1.35, col)
    elif kind == 'minimize':
        c.strokes([(4.5 + d, 9.8 + d, 10.5 + d, 9.8 + d)], 1.7, col)
    else:
        c.strokes([(4.8 + d, 4.3 + d, 10.2 + d, 9.7 + d), (10.2 + d, 4.3 + d, 4.8 + d, 9.7 + d)],
                  1.5, col)
    return c


STATES = ('up', 'down', 'focus', 'disabled')

# bitmap ids of each button, in the order up, down, focus, disabled
PAUSE_RUNNING = (163, 165, 166, 164)
PAUSE_PAUSED = (167, 133, 170, 168)
SHOW_FOLDER = (159, 161, 162, 132)
MINIMIZE = (172, 174, 175, 173)
CLOSE = (131, 157, 158, 156)
QUESTION = (194, 196, 193, 195)


def draw_buttons(bg):
    out = {}
    for ids, text, icon, styles, at, w in (
            (PAUSE_RUNNING, 'Pause', 'pause', NEUTRAL, PAUSE_AT, 92),
            (PAUSE_PAUSED, 'Resume', 'play', ACCENT, PAUSE_AT, 92),
            (SHOW_FOLDER, 'Show containing folder', None, NEUTRAL, FOLDER_AT, 163)):
        for rid, state in zip(ids, STATES):
            out[rid] = label_bitmap(bg, at, w, 31, text, icon, styles[state], state == 'down')
    for ids, kind, at in ((MINIMIZE, 'minimize', MINIMIZE_AT), (CLOSE, 'close', CLOSE_AT),
                          (QUESTION, 'question', QUESTION_AT)):
        for rid, state in zip(ids, STATES):
            out[rid] = small_bitmap(bg, at, kind, state)
    return out


# --- progress fill (152) ------------------------------------------------


def draw_fill():
    c = Canvas(5, 13)
    prof = vgrad([(0.0, '#fff3c4'), (0.1, '#ffe07a'), (0.45, '#ffbf2a'),
                  (0.85, '#f09410'), (1.0, '#b56508')])
    for y in range(13):
        col = prof(y / 12.0)
        for x in range(5):
            c.px[y][x] = list(col)
    return c


# --- about box: logo (216) and rule (217) -------------------------------


def draw_logo():
    w, h = 110, 107
    c = Canvas(w, h)
    bg = vgrad([(0.0, '#263047'), (1.0, '#111722')])
    for y in range(h):
        col = bg(y / (h - 1))
        for x in range(w):
            c.px[y][x] = list(col)
    cx, cy = 55, 44

    def halo(px, py):
        d = ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5
        return clamp(1.0 - d / 48.0) ** 2 * 0.22
    c.shade((0, 0, w, h), halo, (255, 190, 60))
    c.ring(cx, cy, 27, 3.2, AMBER)
    c.ring(cx, cy, 21.5, 1.0, '#ffdc8a', 0.45)
    # the maker's mark: a bold T with a descending chevron
    c.strokes([(cx - 12, cy - 10, cx + 12, cy - 10), (cx, cy - 10, cx, cy + 8)], 5.0, WHITE)
    c.strokes([(cx - 7, cy + 9, cx, cy + 16), (cx, cy + 16, cx + 7, cy + 9)], 3.0, AMBER_LIGHT)
    size = 12.0
    tw = strokefont.text_width('Tarvix', size)
    c.strokes(strokefont.text_segments('Tarvix', (w - tw) / 2.0, 96, size), 1.8, WHITE)
    c.rrect_ring(0, 0, w, h, 0, 1.0, '#48566f')
    return c


def draw_rule():
    w = 275
    c = Canvas(w, 2, '#ececec')
    for x in range(w):
        t = x / (w - 1)
        fade = clamp(1.0 - abs(t - 0.5) / 0.5) ** 0.6
        c.blend(x, 0, hexrgb('#8a8f99'), fade)
        c.blend(x, 1, (255, 255, 255), fade)
    return c


# --- the icons: the application icon (200) and two spares (212, 213) -----
# All three share the frame; the spares (kept in the resources, shown by no
# code) carry the Pause/Resume button's two states as their symbol.


def draw_icon(s, symbol='arrow'):
    c = Canvas(s, s, (0, 0, 0), alpha=0.0)
    k = s / 48.0
    rad = 10 * k
    grad = vgrad([(0.0, '#2e3a52'), (1.0, '#121824')])
    c.rrect(0.5 * k, 0.5 * k, s - 0.5 * k, s - 0.5 * k, rad, '#56657f')
    c.rrect(0.5 * k + 1, 0.5 * k + 1, s - 0.5 * k - 1, s - 0.5 * k - 1, rad - 1,
            lambda x, y: grad(y / s))
    pen = max(2.0, 5.0 * k)
    mid = s / 2.0
    if symbol == 'arrow':
        # a download arrow into a tray, in amber
        c.strokes([(mid, 9 * k, mid, 29 * k)], pen, AMBER)
        c.polygon([(mid - 11 * k, 22 * k), (mid + 11 * k, 22 * k), (mid, 34 * k)], AMBER)
        c.strokes([(11 * k, 32 * k, 11 * k, 38.5 * k), (11 * k, 38.5 * k, s - 11 * k, 38.5 * k),
                   (s - 11 * k, 38.5 * k, s - 11 * k, 32 * k)], max(1.5, 3.6 * k), WHITE)
    elif symbol == 'pause':
        # two amber bars
        bar = max(2.0, 6.0 * k)
        c.strokes([(mid - 7 * k, 13 * k, mid - 7 * k, 35 * k),
                   (mid + 7 * k, 13 * k, mid + 7 * k, 35 * k)], bar, AMBER)
    else:
        # 'play': a white triangle pointing right
        c.polygon([(mid - 8 * k, 12 * k), (mid - 8 * k, 36 * k), (mid + 12 * k, 24 * k)], WHITE)
    return c


DESKTOP_ENTRY = """[Desktop Entry]
Type=Application
Name=Corvane
Comment=Downloads files over BitTorrent
Exec=Corvane
Icon=corvane
Terminal=false
Categories=Network;FileTransfer;P2P;
"""

ABOUT_ITEM = "Corvane 정보(&A)..."


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--out', default=os.path.dirname(here), help='output folder (default: res/)')
    out = ap.parse_args().out

    bg = draw_background()
    bitmaps = {171: bg, 152: draw_fill(), 216: draw_logo(), 217: draw_rule()}
    bitmaps.update(draw_buttons(bg))
    for rid, canvas in sorted(bitmaps.items()):
        write(os.path.join(out, 'bitmaps', '%d.bmp' % rid),
              bmp555(to555(canvas, dither=rid not in (152, 217))))
    for rid, symbol in ((200, 'arrow'), (212, 'pause'), (213, 'play')):
        for s in (16, 32, 48):
            png = png_rgba(draw_icon(s, symbol))
            write(os.path.join(out, 'icons', str(rid), '%d.png' % s), png)
            if rid == 200 and s == 48:
                write(os.path.join(out, 'corvane.png'), png)
    write(os.path.join(out, 'strings', '101.txt'), ABOUT_ITEM.encode('utf-8'))
    write(os.path.join(out, 'corvane.desktop'), DESKTOP_ENTRY.encode('utf-8'))
    return 0


if __name__ == '__main__':
    sys.exit(main())
