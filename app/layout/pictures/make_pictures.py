#!/usr/bin/env python3
"""Draws Quenlet's megaphone picture and writes it as Quenlet.ico and megaphone.bmp.

The picture is built from simple geometry (polygons, ellipses, rounded
rectangles, strokes) and rasterised with 8 x 8 supersampling, so the edges
get a real, anti-aliased alpha channel.  Only the standard library is used
and no trigonometry: every coordinate comes from +, -, *, / and sqrt, which
IEEE arithmetic rounds the same everywhere, so the output bytes do not
depend on the platform's maths library.

Usage:
    python3 make_pictures.py --out DIR [--preview FILE.png]
"""

import argparse
import math
import os
import struct
import sys
import zlib

SIZE = 48          # the picture is SIZE x SIZE pixels
SS = 8             # samples per pixel along each axis
SUB = SIZE * SS    # supersampled grid size

# The window's colour key: an opaque pixel of this colour becomes a hole.
KEY_RGB = (16, 136, 255)
# The panel behind the speak button, used for the preview.
PANEL_RGB = (17, 136, 255)


# ---------------------------------------------------------------------------
# Geometry.  Every shape offers a signed distance (negative inside) and a
# bounding box; a fill covers the samples where the distance is <= 0 and an
# outline is the same shape grown by the stroke width.

def _seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    l2 = dx * dx + dy * dy
    t = 0.0 if l2 == 0 else ((px - ax) * dx + (py - ay) * dy) / l2
    t = 0.0 if t < 0 else (1.0 if t > 1 else t)
    qx, qy = ax + t * dx - px, ay + t * dy - py
    return math.sqrt(qx * qx + qy * qy)


class Shape:
    grow_by = 0.0

    def grown(self, w):
        return Grown(self, w)

    def inside(self, x, y):
        return self.sdf(x, y) <= 0.0


class Grown(Shape):
    def __init__(self, base, w):
        self.base, self.w = base, w
        x0, y0, x1, y1 = base.bbox
        self.bbox = (x0 - w, y0 - w, x1 + w, y1 + w)

    def sdf(self, x, y):
        return self.base.sdf(x, y) - self.w


class Polygon(Shape):
    def __init__(self, pts):
        self.pts = [(float(x), float(y)) for x, y in pts]
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        self.bbox = (min(xs), min(ys), max(xs), max(ys))

    def sdf(self, x, y):
        pts = self.pts
        n = len(pts)
        inside = False
        d = 1e9
        j = n - 1
        for i in range(n):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y):
                if x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    inside = not inside
            e = _seg_dist(x, y, xi, yi, xj, yj)
            if e < d:
                d = e
            j = i
        return -d if inside else d


class Ellipse(Shape):
    """An ellipse with radius ru along the unit vector u and rv across it."""

    def __init__(self, cx, cy, ru, rv, u=(1.0, 0.0)):
        self.cx, self.cy, self.ru, self.rv = cx, cy, ru, rv
        self.ux, self.uy = u
        r = max(ru, rv)
        self.bbox = (cx - r, cy - r, cx + r, cy + r)

    def sdf(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        a = (dx * self.ux + dy * self.uy) / self.ru
        b = (-dx * self.uy + dy * self.ux) / self.rv
        # Scaled radial distance: exact for circles, close enough for the
        # thin outlines used here on mildly eccentric ellipses.
        return (math.sqrt(a * a + b * b) - 1.0) * min(self.ru, self.rv)


class RoundRect(Shape):
    def __init__(self, x0, y0, x1, y1, r):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r
        self.bbox = (x0, y0, x1, y1)

    def sdf(self, x, y):
        cx, cy = (self.x0 + self.x1) / 2, (self.y0 + self.y1) / 2
        hx, hy = (self.x1 - self.x0) / 2 - self.r, (self.y1 - self.y0) / 2 - self.r
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        ox, oy = max(qx, 0.0), max(qy, 0.0)
        return math.sqrt(ox * ox + oy * oy) + min(max(qx, qy), 0.0) - self.r


class Stroke(Shape):
    """A polyline drawn with a round pen of the given half width."""

    def __init__(self, pts, hw):
        self.pts = [(float(x), float(y)) for x, y in pts]
        self.hw = hw
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        self.bbox = (min(xs) - hw, min(ys) - hw, max(xs) + hw, max(ys) + hw)

    def sdf(self, x, y):
        pts = self.pts
        if len(pts) == 1:
            return math.sqrt((x - pts[0][0]) ** 2 + (y - pts[0][1]) ** 2) - self.hw
        d = 1e9
        for (ax, ay), (bx, by) in zip(pts, pts[1:]):
            e = _seg_dist(x, y, ax, ay, bx, by)
            if e < d:
                d = e
        return d - self.hw


class Union(Shape):
    def __init__(self, *shapes):
        self.shapes = shapes
        bbs = [s.bbox for s in shapes]
        self.bbox = (min(b[0] for b in bbs), min(b[1] for b in bbs),
                     max(b[2] for b in bbs), max(b[3] for b in bbs))

    def sdf(self, x, y):
        return min(s.sdf(x, y) for s in self.shapes)


class Clip(Shape):
    """The part of one shape that lies inside another."""

    def __init__(self, shape, within):
        self.shape, self.within = shape, within
        a, b = shape.bbox, within.bbox
        self.bbox = (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3]))

    def sdf(self, x, y):
        return max(self.shape.sdf(x, y), self.within.sdf(x, y))


# ---------------------------------------------------------------------------
# Paint: a flat colour or a linear gradient between two points.

def hexrgb(s):
    s = s.lstrip("#")
    return (int(s[0:2], 16), int(s[2:4], 16), int(s[4:6], 16))


class Flat:
    def __init__(self, c):
        self.c = hexrgb(c) if isinstance(c, str) else c

    def at(self, x, y):
        return self.c


class Linear:
    def __init__(self, p0, c0, p1, c1):
        self.x0, self.y0 = p0
        self.dx, self.dy = p1[0] - p0[0], p1[1] - p0[1]
        self.l2 = self.dx * self.dx + self.dy * self.dy
        self.c0 = hexrgb(c0)
        self.c1 = hexrgb(c1)

    def at(self, x, y):
        t = ((x - self.x0) * self.dx + (y - self.y0) * self.dy) / self.l2
        t = 0.0 if t < 0 else (1.0 if t > 1 else t)
        return tuple(a + (b - a) * t for a, b in zip(self.c0, self.c1))


# ---------------------------------------------------------------------------
# The canvas: one colour per sample; later shapes cover earlier ones.

class Canvas:
    def __init__(self):
        self.cov = bytearray(SUB * SUB)
        self.col = [(0.0, 0.0, 0.0)] * (SUB * SUB)

    def fill(self, shape, paint):
        if isinstance(paint, str):
            paint = Flat(paint)
        x0, y0, x1, y1 = shape.bbox
        i0 = max(0, int(math.floor(x0 * SS)) - 1)
        i1 = min(SUB, int(math.ceil(x1 * SS)) + 1)
        j0 = max(0, int(math.floor(y0 * SS)) - 1)
        j1 = min(SUB, int(math.ceil(y1 * SS)) + 1)
        sdf = shape.sdf
        for j in range(j0, j1):
            y = (j + 0.5) / SS
            row = j * SUB
            for i in range(i0, i1):
                x = (i + 0.5) / SS
                if sdf(x, y) <= 0.0:
                    self.cov[row + i] = 1
                    self.col[row + i] = paint.at(x, y)

    def pixels(self):
        """Downsample to SIZE x SIZE straight-alpha RGBA, top row first."""
        out = []
        n = SS * SS
        for py in range(SIZE):
            for px in range(SIZE):
                cnt = 0
                sr = sg = sb = 0.0
                for sy in range(SS):
                    row = (py * SS + sy) * SUB + px * SS
                    for sx in range(SS):
                        if self.cov[row + sx]:
                            r, g, b = self.col[row + sx]
                            sr += r
                            sg += g
                            sb += b
                            cnt += 1
                if cnt == 0:
                    out.append((0, 0, 0, 0))
                    continue
                a = (255 * cnt + n // 2) // n
                rgb = tuple(min(255, int(v / cnt + 0.5)) for v in (sr, sg, sb))
                out.append(rgb + (a,))
        return out


# ---------------------------------------------------------------------------
# The picture.

def _norm(x, y):
    l = math.sqrt(x * x + y * y)
    return x / l, y / l


def draw():
    cv = Canvas()
    OUT = 0.9  # outline width in pixels

    # --- Speech bubble, top right, its tail pointing down at the megaphone.
    bubble = RoundRect(13.5, 0.5, 46.5, 19.5, 5.0)
    tail = Polygon([(18.0, 16.0), (26.0, 16.0), (15.5, 24.5)])
    bubble_all = Union(bubble, tail)
    cv.fill(bubble_all.grown(OUT), "#5A6270")
    cv.fill(bubble_all, Linear((0, 1), "#F4F5F7", (0, 19), "#D3D7DD"))

    # A dark glyph in the style of a square script character: a dot, a long
    # bar, a shorter bar and a box beneath.  Strokes sit on pixel centres so
    # they stay crisp and dark at 48 px.
    ink = "#161B26"
    hw = 0.6
    cv.fill(Stroke([(23.3, 2.5), (24.6, 3.7)], 0.75), ink)
    cv.fill(Stroke([(18.5, 5.5), (29.5, 5.5)], hw), ink)
    cv.fill(Stroke([(20.5, 8.5), (27.5, 8.5)], hw), ink)
    cv.fill(Stroke([(20.5, 11.5), (27.5, 11.5), (27.5, 16.5),
                    (20.5, 16.5), (20.5, 11.5)], hw), ink)

    # Two exclamation marks: tapered bars and round dots.
    bang = "#D21F1F"
    for x in (34.3, 40.3):
        cv.fill(Polygon([(x - 1.6, 3.0), (x + 1.6, 3.0), (x + 0.75, 12.2),
                         (x - 0.75, 12.2)]), bang)
        cv.fill(Ellipse(x, 15.4, 1.45, 1.45), bang)

    # --- Megaphone: its axis runs from the mouthpiece at the upper right
    # down to the bell's mouth at the lower left.
    bx, by = 43.5, 26.2     # back end
    mx, my = 12.0, 37.0     # centre of the bell's mouth
    L = math.sqrt((mx - bx) ** 2 + (my - by) ** 2)
    ux, uy = _norm(mx - bx, my - by)
    nx, ny = -uy, ux        # across the axis, pointing down-right

    def at(t, s):
        """Point at axis fraction t, offset s across the axis."""
        return (bx + ux * L * t + nx * s, by + uy * L * t + ny * s)

    # Grip: hangs beneath the body, slightly raked back, drawn first so
    # that the body overlaps its top.
    g0 = at(0.30, 2.0)
    grip = Stroke([g0, (g0[0] + 2.0, g0[1] + 13.0)], 2.3)
    trigger = Stroke([at(0.47, 3.5), (at(0.47, 3.5)[0] + 0.4, at(0.47, 3.5)[1] + 4.2)], 1.0)
    cv.fill(Union(grip, trigger).grown(OUT), "#2E333B")
    cv.fill(grip, Linear((g0[0] - 2.2, 0), "#B4B9C0", (g0[0] + 3.8, 0), "#6E747D"))
    cv.fill(trigger, "#7D838C")

    # Body (blue cone), bell (silver flare), mouth rim and opening.
    jt = 0.52                        # where body meets bell
    body = Polygon([at(0.0, -4.2), at(jt, -6.0), at(jt, 6.0), at(0.0, 4.2)])
    flare = []
    steps = 8
    for k in range(steps + 1):
        t = jt + (1.0 - jt) * k / steps
        f = k / steps
        flare.append(at(t, -(6.0 + 4.6 * f * f)))
    for k in range(steps, -1, -1):
        t = jt + (1.0 - jt) * k / steps
        f = k / steps
        flare.append(at(t, 6.0 + 4.6 * f * f))
    bell = Polygon(flare)
    rim = Ellipse(mx, my, 2.8, 10.6, (ux, uy))
    cap = Ellipse(bx, by, 1.8, 4.2, (ux, uy))

    cv.fill(Union(body, bell, rim, cap).grown(OUT * 1.1), "#0C2250")
    top, bot = at(0.5, -7.0), at(0.5, 7.0)
    cv.fill(body, Linear(top, "#5BA8FF", bot, "#0D3A9C"))
    cv.fill(Stroke([at(0.06, -2.1), at(jt - 0.03, -3.2)], 0.75), "#A9D3FF")
    cv.fill(bell, Linear(at(0.8, -11.0), "#FAFBFC", at(0.8, 11.0), "#7D8692"))
    # Band where blue meets silver.
    band = Polygon([at(jt - 0.025, -6.4), at(jt + 0.025, -6.5),
                    at(jt + 0.025, 6.5), at(jt - 0.025, 6.4)])
    cv.fill(band, "#0C2250")
    # The rim and the dark inside of the opening facing the viewer.
    cv.fill(rim, Linear(at(1.0, -13.0), "#EEF1F4", at(1.0, 13.0), "#8C95A1"))
    cv.fill(Ellipse(mx - ux * 0.4, my - uy * 0.4, 1.8, 9.2, (ux, uy)),
            Linear(at(1.0, -11.0), "#2A303A", at(1.0, 11.0), "#59616D"))
    cv.fill(cap, Linear(at(0.0, -4.0), "#3E8CF0", at(0.0, 4.0), "#0D3A9C"))

    return cv.pixels()


# ---------------------------------------------------------------------------
# File formats.

def _guard_key(px):
    # Safety net: an opaque pixel of the key colour would show as a hole.
    out = []
    for r, g, b, a in px:
        if a == 255 and (r, g, b) == KEY_RGB:
            r = KEY_RGB[0] + 1
        out.append((r, g, b, a))
    return out


def _bgra_bottom_up(px):
    rows = []
    for y in range(SIZE - 1, -1, -1):
        rows.append(b"".join(struct.pack("<4B", b, g, r, a)
                             for r, g, b, a in px[y * SIZE:(y + 1) * SIZE]))
    return b"".join(rows)


def _bitmapinfoheader(height, size_image):
    return struct.pack("<IiiHHIIiiII", 40, SIZE, height, 1, 32, 0,
                       size_image, 0, 0, 0, 0)


def ico_bytes(px):
    xor = _bgra_bottom_up(px)
    stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for y in range(SIZE - 1, -1, -1):
        row = bytearray(stride)
        for x in range(SIZE):
            if px[y * SIZE + x][3] == 0:
                row[x >> 3] |= 0x80 >> (x & 7)
        mask += row
    dib = _bitmapinfoheader(SIZE * 2, len(xor) + len(mask)) + xor + bytes(mask)
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(dib), 6 + 16)
    return head + entry + dib


def bmp_bytes(px):
    # BITMAPINFOHEADER, BI_RGB, 32 bpp, straight alpha in the fourth byte:
    # a 32-bit image list takes non-premultiplied pixels and detects the
    # alpha channel itself.
    bits = _bgra_bottom_up(px)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 32, 0,
                       len(bits), 3780, 3780, 0, 0)
    off = 14 + len(info)
    head = struct.pack("<2sIHHI", b"BM", off + len(bits), 0, 0, off)
    return head + info + bits


def _png(width, height, rgb_rows):
    def chunk(tag, data):
        c = struct.pack(">I", len(data)) + tag + data
        return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(r) for r in rgb_rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def _over(p, bg):
    r, g, b, a = p
    return tuple((c * a + k * (255 - a) + 127) // 255 for c, k in zip((r, g, b), bg))


def preview_bytes(px, zoom=8):
    """Magnified copies over the panel blue and over white, actual size below."""
    gap = 16
    big = SIZE * zoom
    width = 2 * big + 3 * gap
    height = big + 3 * gap + SIZE * 2
    frame = (128, 128, 128)
    img = [[frame] * width for _ in range(height)]
    for k, bg in enumerate((PANEL_RGB, (255, 255, 255))):
        ox = gap + k * (big + gap)
        for y in range(SIZE):
            for x in range(SIZE):
                c = _over(px[y * SIZE + x], bg)
                for yy in range(zoom):
                    row = img[gap + y * zoom + yy]
                    for xx in range(zoom):
                        row[ox + x * zoom + xx] = c
        # Actual size and twice actual size, on a strip of the same colour.
        sy = big + 2 * gap
        for y in range(SIZE * 2 + gap // 2):
            for x in range(SIZE * 3 + gap):
                img[sy - gap // 4 + y][ox + x] = bg
        for y in range(SIZE):
            for x in range(SIZE):
                img[sy + y][ox + x] = _over(px[y * SIZE + x], bg)
        for y in range(SIZE * 2):
            for x in range(SIZE * 2):
                img[sy + y][ox + SIZE + gap // 2 + x] = _over(px[(y // 2) * SIZE + x // 2], bg)
    rows = [b"".join(bytes(c) for c in r) for r in img]
    return _png(width, height, rows)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", required=True, help="folder for Quenlet.ico and megaphone.bmp")
    ap.add_argument("--preview", help="also write a magnified PNG preview here")
    args = ap.parse_args(argv)

    px = _guard_key(draw())
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "Quenlet.ico"), "wb") as f:
        f.write(ico_bytes(px))
    with open(os.path.join(args.out, "megaphone.bmp"), "wb") as f:
        f.write(bmp_bytes(px))
    if args.preview:
        with open(args.preview, "wb") as f:
            f.write(preview_bytes(px))
    return 0


if __name__ == "__main__":
    sys.exit(main())
