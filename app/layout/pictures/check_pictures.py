#!/usr/bin/env python3
"""Checks that the kept pictures in app/layout match their source and format.

Exits non-zero, naming the first problem, unless:
  - regenerating into a temporary folder gives byte-identical Quenlet.ico
    and megaphone.bmp;
  - Quenlet.ico is one 48 x 48, 32 bpp uncompressed DIB image (XOR + AND,
    9662 bytes) whose AND mask is set exactly where alpha is 0;
  - megaphone.bmp is a 48 x 48, 32 bpp BI_RGB bitmap with the same pixels;
  - the picture has fully transparent, partly transparent and opaque pixels;
  - no pixel is opaque #1088FF, the window's colour key, nor becomes it when
    blended over the panel's #1188FF.
"""

import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
LAYOUT = os.path.dirname(HERE)
NAMES = ("Quenlet.ico", "megaphone.bmp")
SIZE = 48
KEY = (16, 136, 255)
PANEL = (17, 136, 255)


class Bad(Exception):
    pass


def need(cond, what):
    if not cond:
        raise Bad(what)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def regenerate():
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, os.path.join(HERE, "make_pictures.py"), "--out", tmp],
                       check=True)
        for name in NAMES:
            kept = os.path.join(LAYOUT, name)
            need(os.path.exists(kept), "%s is missing from app/layout" % name)
            need(read(kept) == read(os.path.join(tmp, name)),
                 "%s differs from a fresh generation; rerun make_pictures.py --out app/layout" % name)


def pixels_bottom_up(data, off):
    """BGRA rows bottom-up -> list of (r, g, b, a), top row first."""
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            b, g, r, a = data[off + (y * SIZE + x) * 4: off + (y * SIZE + x) * 4 + 4]
            row.append((r, g, b, a))
        rows.append(row)
    rows.reverse()
    return [p for row in rows for p in row]


def parse_ico(data):
    need(len(data) == 9662, "Quenlet.ico is %d bytes, not 9662" % len(data))
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    need((reserved, kind, count) == (0, 1, 1), "icon header is not one icon image")
    w, h, colours, res, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6)
    need((w, h, colours, res) == (SIZE, SIZE, 0, 0), "icon entry is not 48 x 48")
    need((planes, bpp) == (1, 32), "icon entry is not 32 bpp")
    need(offset == 22 and offset + size == len(data), "icon entry offset/size wrong")
    (hsize, bw, bh, bplanes, bbpp, comp, simg,
     _xppm, _yppm, used, important) = struct.unpack_from("<IiiHHIIiiII", data, 22)
    need(hsize == 40, "icon image header is not BITMAPINFOHEADER")
    need((bw, bh) == (SIZE, 2 * SIZE), "icon image is not 48 wide and 96 high (XOR+AND)")
    need((bplanes, bbpp, comp) == (1, 32, 0), "icon image is not 32 bpp uncompressed")
    need(simg in (0, 9216 + 384) and used == 0 and important == 0, "icon image header fields odd")
    need(40 + 9216 + 384 == size, "icon image size wrong")
    px = pixels_bottom_up(data, 62)
    mask_off = 62 + 9216
    for y in range(SIZE):
        row = data[mask_off + (SIZE - 1 - y) * 8: mask_off + (SIZE - 1 - y) * 8 + 8]
        need(row[6:] == b"\0\0", "AND mask row padding is not zero")
        for x in range(SIZE):
            bit = (row[x >> 3] >> (7 - (x & 7))) & 1
            need(bit == (px[y * SIZE + x][3] == 0),
                 "AND mask disagrees with alpha at (%d, %d)" % (x, y))
    return px


def parse_bmp(data):
    need(data[:2] == b"BM", "megaphone.bmp lacks the BM signature")
    _sig, fsize, _r1, _r2, off = struct.unpack_from("<2sIHHI", data, 0)
    need(fsize == len(data), "megaphone.bmp size field wrong")
    hsize, bw, bh, planes, bpp, comp = struct.unpack_from("<IiiHHI", data, 14)
    need(hsize == 40 and (bw, bh) == (SIZE, SIZE), "megaphone.bmp is not a 48 x 48 bottom-up DIB")
    need((planes, bpp, comp) == (1, 32, 0), "megaphone.bmp is not 32 bpp BI_RGB")
    need(off == 54 and len(data) == off + SIZE * SIZE * 4, "megaphone.bmp pixel data misplaced")
    return pixels_bottom_up(data, off)


def over(p, bg):
    r, g, b, a = p
    # Both rounding and truncation, as blenders differ.
    exact = [(c * a + k * (255 - a)) / 255 for c, k in zip((r, g, b), bg)]
    return {tuple(int(v + 0.5) for v in exact), tuple(int(v) for v in exact)}


def check_pixels(px):
    alphas = [p[3] for p in px]
    clear = alphas.count(0)
    solid = alphas.count(255)
    partial = len(px) - clear - solid
    need(clear > 0, "no fully transparent pixel")
    need(solid > 0, "no opaque pixel")
    need(partial > 0, "no anti-aliased edge (no partly transparent pixel)")
    for i, p in enumerate(px):
        y, x = divmod(i, SIZE)
        need(not (p[3] == 255 and p[:3] == KEY), "opaque key colour #1088FF at (%d, %d)" % (x, y))
        if p[3]:
            need(KEY not in over(p, PANEL),
                 "pixel at (%d, %d) blends to #1088FF over the panel" % (x, y))
    return clear, partial, solid


def main():
    try:
        regenerate()
        ico = parse_ico(read(os.path.join(LAYOUT, "Quenlet.ico")))
        bmp = parse_bmp(read(os.path.join(LAYOUT, "megaphone.bmp")))
        need(ico == bmp, "megaphone.bmp and Quenlet.ico hold different pictures")
        clear, partial, solid = check_pixels(ico)
    except (Bad, subprocess.CalledProcessError, OSError, struct.error) as e:
        print("pictures: FAIL: %s" % e)
        return 1
    print("pictures: OK: reproducible; Quenlet.ico 9662 bytes, 48x48 32bpp + AND mask; "
          "megaphone.bmp same pixels; %d clear, %d edge, %d opaque pixels; no #1088FF"
          % (clear, partial, solid))
    return 0


if __name__ == "__main__":
    sys.exit(main())
