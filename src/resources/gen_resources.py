#!/usr/bin/env python3
"""Draws the program's pictures and writes them as Windows resource files.

Python 3 standard library only; the files are written byte by byte:

  mainicon.ico   MAINICON: a disc with an eject sign, 16/32/48 px, 32-bit colour
                 (PNG from 32 px up)
  tray.ico       tray icon (id 1): an optical disc, 16 x 16 in 16 colours, and
                 20, 24, 32, 40, 48 px in 32-bit colour (PNG from 32 px up)
  imglmain.bmp   IMGLMAIN: menu images 0 information, 1 open door, 2 tools
  imglmain20.bmp IMGLMAIN20, IMGLMAIN24, IMGLMAIN32: the same at 20, 24 and
  imglmain24.bmp 32 px, with a palette of the colours they use
  imglmain32.bmp
  btnok.bmp      BTNOK / BTNCANCEL: glyphs of the OK and Cancel buttons
  btncancel.bmp
  pointcurs.cur  POINTCURS: hand with the index finger up, hot spot 6,0
  banner.bmp     BANNER: "Brimvex", 227 x 42, 256 colours

The banner's letters are rendered by ImageMagick's convert with Liberation
Sans Bold when it is installed; otherwise the banner.bmp already in this
folder is kept. The generated files are committed, so building the program
never needs this script.

Usage: python3 gen_resources.py [output folder]   (default: this folder)
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
KEY = (255, 0, 255)  # transparent colour of the image strips

# --- a tiny supersampling rasteriser ------------------------------------------------


class Canvas:
    """RGBA picture with shapes given in unit coordinates (0..1 across)."""

    def __init__(self, size, samples=4):
        self.size = size
        self.samples = samples
        self.px = [[(0.0, 0.0, 0.0, 0.0) for _ in range(size)] for _ in range(size)]

    def fill(self, inside, color, alpha=1.0):
        n, s = self.samples, self.size
        r, g, b = (c / 255.0 for c in color)
        for y in range(s):
            for x in range(s):
                hits = 0
                for sy in range(n):
                    for sx in range(n):
                        if inside((x + (sx + 0.5) / n) / s, (y + (sy + 0.5) / n) / s):
                            hits += 1
                if hits == 0:
                    continue
                a = alpha * hits / (n * n)
                dr, dg, db, da = self.px[y][x]
                out_a = a + da * (1 - a)
                if out_a <= 0:
                    continue
                mix = lambda src, dst: (src * a + dst * da * (1 - a)) / out_a
                self.px[y][x] = (mix(r, dr), mix(g, dg), mix(b, db), out_a)

    def clear(self, inside):
        """Makes what lies inside transparent, edges in proportion."""
        n, s = self.samples, self.size
        for y in range(s):
            for x in range(s):
                hits = sum(inside((x + (sx + 0.5) / n) / s, (y + (sy + 0.5) / n) / s)
                           for sy in range(n) for sx in range(n))
                if hits:
                    pr, pg, pb, pa = self.px[y][x]
                    self.px[y][x] = (pr, pg, pb, pa * (1 - hits / (n * n)))

    def rgba(self):
        return [[tuple(int(round(v * 255)) for v in p) for p in row] for row in self.px]


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in < (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def polygon(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def segment(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2) ** 2
    return inside


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


# --- the pictures ------------------------------------------------------------------------


def draw_disc(c, cx=0.5, cy=0.5, r=0.47):
    """A silver optical disc with a rainbow sheen and a hole."""
    c.fill(circle(cx, cy, r), (96, 96, 104))
    c.fill(circle(cx, cy, r * 0.92), (214, 218, 226))
    # sheen: two coloured wedges across the data area
    for angle, color in ((-0.9, (150, 200, 255)), (2.25, (255, 214, 140))):
        a0, a1 = angle - 0.35, angle + 0.35
        pts = [(cx, cy)] + [(cx + r * math.cos(a0 + (a1 - a0) * k / 8),
                             cy + r * math.sin(a0 + (a1 - a0) * k / 8)) for k in range(9)]
        c.fill(minus(polygon(pts), circle(cx, cy, r * 0.36)), color, 0.8)
    c.fill(circle(cx - r * 0.3, cy - r * 0.35, r * 0.22), (255, 255, 255), 0.6)
    c.fill(ring(cx, cy, r * 0.36, r * 0.22), (160, 164, 172))
    # the hole stays transparent
    c.clear(circle(cx, cy, r * 0.16))


def main_icon(size):
    c = Canvas(size)
    draw_disc(c, 0.44, 0.44, 0.42)
    # eject sign: a triangle over a bar, green on a dark badge
    c.fill(rect(0.52, 0.52, 0.98, 0.98), (40, 60, 40))
    c.fill(rect(0.55, 0.55, 0.95, 0.95), (70, 170, 70))
    c.fill(polygon([(0.75, 0.60), (0.90, 0.78), (0.60, 0.78)]), (255, 255, 255))
    c.fill(rect(0.60, 0.83, 0.90, 0.89), (255, 255, 255))
    return c.rgba()


def tray_disc(size):
    """The tray icon's disc, in colours that the 16-colour palette holds exactly."""
    c = Canvas(size)
    c.fill(circle(0.5, 0.5, 0.49), (128, 128, 128))
    c.fill(circle(0.5, 0.5, 0.43), (192, 192, 192))
    for angle, color in ((-0.9, (0, 255, 255)), (2.25, (255, 255, 0))):
        a0, a1 = angle - 0.3, angle + 0.3
        pts = [(0.5, 0.5)] + [(0.5 + 0.43 * math.cos(a0 + (a1 - a0) * k / 8),
                               0.5 + 0.43 * math.sin(a0 + (a1 - a0) * k / 8)) for k in range(9)]
        c.fill(minus(polygon(pts), circle(0.5, 0.5, 0.2)), color)
    c.fill(circle(0.30, 0.30, 0.08), (255, 255, 255))
    c.fill(circle(0.5, 0.5, 0.2), (128, 128, 128))
    return c


# The tray icon's sizes besides 16 px, and the menu images' (the small-icon
# size at 120, 144, 192, 240 and 288 DPI; the menus' at 120, 144 and 192).
TRAY_SIZES = (20, 24, 32, 40, 48)
MENU_SIZES = (20, 24, 32)

# The hole's radius in pixels of the 16 px picture.
TRAY_HOLE_PX = 2.2


def tray_icon():
    """The 16 px picture, for 16 colours: the hole cut out pixel by pixel."""
    pixels = tray_disc(16).rgba()
    for y in range(16):
        for x in range(16):
            if (x + 0.5 - 8) ** 2 + (y + 0.5 - 8) ** 2 <= TRAY_HOLE_PX ** 2:
                pixels[y][x] = (0, 0, 0, 0)
    return pixels


def tray_icon_large(size):
    """The same disc at another size, in 32-bit colour with smooth edges."""
    c = tray_disc(size)
    c.clear(circle(0.5, 0.5, TRAY_HOLE_PX / 16))
    return c.rgba()


def info_image(size=16):
    c = Canvas(size)
    c.fill(circle(0.5, 0.5, 0.48), (0, 40, 140))
    c.fill(circle(0.5, 0.5, 0.42), (30, 90, 220))
    c.fill(circle(0.5, 0.26, 0.09), (255, 230, 0))
    c.fill(rect(0.40, 0.40, 0.60, 0.80), (255, 230, 0))
    c.fill(rect(0.33, 0.40, 0.60, 0.48), (255, 230, 0))
    c.fill(rect(0.33, 0.74, 0.67, 0.82), (255, 230, 0))
    return c.rgba()


def door_image(size=16):
    c = Canvas(size)
    c.fill(rect(0.18, 0.04, 0.86, 0.98), (90, 55, 25))          # frame
    c.fill(rect(0.26, 0.10, 0.80, 0.98), (20, 20, 30))          # dark opening
    c.fill(rect(0.26, 0.80, 0.80, 0.98), (250, 220, 120), 0.6)  # light on the floor
    # the door, swung open towards the viewer
    c.fill(polygon([(0.26, 0.10), (0.58, 0.02), (0.58, 1.0), (0.26, 0.98)]), (120, 72, 30))
    c.fill(polygon([(0.31, 0.16), (0.53, 0.10), (0.53, 0.90), (0.31, 0.92)]), (176, 112, 52))
    c.fill(circle(0.49, 0.55, 0.045), (255, 220, 60))
    return c.rgba()


def tools_image(size=16):
    c = Canvas(size)
    steel = (110, 115, 125)
    # wrench: a handle with an open jaw at the upper right
    jaw = polygon([(0.70, -0.05), (1.05, -0.05), (1.05, 0.22), (0.86, 0.30)])
    c.fill(minus(segment(0.78, 0.22, 0.22, 0.78, 0.15), jaw), steel)
    c.fill(minus(circle(0.80, 0.20, 0.19), jaw), steel)
    c.fill(circle(0.20, 0.80, 0.12), steel)
    # screwdriver across it: steel shaft, red handle
    c.fill(segment(0.14, 0.14, 0.62, 0.62, 0.10), (170, 170, 180))
    c.fill(segment(0.64, 0.64, 0.90, 0.90, 0.24), (200, 30, 30))
    return c.rgba()


def ok_glyph():
    c = Canvas(16)
    c.fill(segment(0.14, 0.52, 0.40, 0.78, 0.18), (0, 128, 0))
    c.fill(segment(0.40, 0.78, 0.88, 0.20, 0.18), (0, 128, 0))
    return c.rgba()


def cancel_glyph():
    c = Canvas(16)
    c.fill(segment(0.20, 0.20, 0.80, 0.80, 0.17), (200, 0, 0))
    c.fill(segment(0.80, 0.20, 0.20, 0.80, 0.17), (200, 0, 0))
    return c.rgba()


# 32 x 32 hand, index finger up: "#" black, "." white, anything else clear.
HAND = """
      ##
     #..#
     #..#
     #..#
     #..#
     #..###
     #..#..###
     #..#..#..##
     #..#..#..#.#
  ## #..#..#..#..#
 #..##........#..#
 #...#...........#
  #..#...........#
  #..............#
   #.............#
   #............#
    #...........#
    #..........#
     #.........#
     #.........#
     ###########
"""


def hand_cursor():
    rows = HAND.strip("\n").split("\n")
    # the fingertip's top edge is the hot spot: shift the art to put it at 6,0
    tip_row = rows[0]
    tip_x = tip_row.index("#")
    shift = 6 - tip_x
    grid = []
    for y in range(32):
        line = rows[y] if y < len(rows) else ""
        row = []
        for x in range(32):
            sx = x - shift
            ch = line[sx] if 0 <= sx < len(line) else " "
            row.append(ch)
        grid.append(row)
    return grid


# --- file formats -------------------------------------------------------------------------

VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], rgb)))


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def info_header(width, height, bits, colors=0, image_size=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835,
                       colors, 0)


def mask_rows(rgba, clear):
    """The AND mask, bottom row first: 1 where the picture is clear."""
    out = b""
    for row in reversed(rgba):
        bits = 0
        data = bytearray()
        for x, p in enumerate(row):
            bits = (bits << 1) | (1 if clear(p) else 0)
            if x % 8 == 7:
                data.append(bits)
                bits = 0
        if len(row) % 8:
            data.append(bits << (8 - len(row) % 8))
        out += pad4(bytes(data))
    return out


def icon_image_32(rgba):
    size = len(rgba)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rgba) for (r, g, b, a) in row)
    mask = mask_rows(rgba, lambda p: p[3] == 0)
    return info_header(size, size * 2, 32) + pixels + mask


def icon_image_4(rgba):
    size = len(rgba)
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in VGA16)
    clear = lambda p: p[3] < 128
    rows = b""
    for row in reversed(rgba):
        idx = [0 if clear(p) else nearest(VGA16, p[:3]) for p in row]
        rows += pad4(bytes((idx[i] << 4) | idx[i + 1] for i in range(0, len(idx), 2)))
    return info_header(size, size * 2, 4, 16) + palette + rows + mask_rows(rgba, clear)


def png_image(rgba):
    """A PNG file of the picture (8-bit RGBA), as icons hold their larger frames.

    Each row gets the filter that leaves the smallest sum of magnitudes, the
    usual rule of thumb for the best compression."""
    size = len(rgba)
    width = len(rgba[0])
    rows = [bytes(v for p in row for v in p) for row in rgba]
    bpp = 4

    def filtered(kind, row, above):
        out = bytearray(len(row))
        for i, v in enumerate(row):
            left = row[i - bpp] if i >= bpp else 0
            up = above[i]
            corner = above[i - bpp] if i >= bpp else 0
            if kind == 0:
                pred = 0
            elif kind == 1:
                pred = left
            elif kind == 2:
                pred = up
            elif kind == 3:
                pred = (left + up) // 2
            else:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
            out[i] = (v - pred) & 0xFF
        return bytes(out)

    raw = b""
    above = bytes(width * bpp)
    for row in rows:
        choices = [(kind, filtered(kind, row, above)) for kind in range(5)]
        kind, data = min(choices, key=lambda c: sum(min(b, 256 - b) for b in c[1]))
        raw += bytes((kind,)) + data
        above = row

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data +
                struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_frame(rgba):
    """A 32-bit icon frame: a plain bitmap below 32 px, PNG from 32 px up
    (where it is much the smaller; Windows from Vista on reads both)."""
    return png_image(rgba) if len(rgba) >= 32 else icon_image_32(rgba)


def write_icon_file(path, images, kind=1, hotspot=None):
    """images: list of (size, colour count, planes/x, bits/y, data)."""
    header = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, colors, a, b, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colors, 0, a, b, len(data),
                               offset)
        offset += len(data)
        blobs += data
    with open(path, "wb") as f:
        f.write(header + entries + blobs)


def write_bmp(path, width, height, bits, palette, rows_bottom_up):
    pixels = b"".join(pad4(r) for r in rows_bottom_up)
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info_header(width, height, bits, len(palette), len(pixels)) + pal + pixels)


def flatten(rgba, background):
    """Composite over a background colour; clear pixels become that colour."""
    out = []
    for row in rgba:
        line = []
        for (r, g, b, a) in row:
            if a < 96:
                line.append(background)
            else:
                k = a / 255.0
                bg = (255, 255, 255) if background == KEY else background
                line.append(tuple(int(round(c * k + d * (1 - k))) for c, d in zip((r, g, b), bg)))
        out.append(line)
    return out


def write_strip(path, pictures, size=16, palette=False):
    """size x size pictures side by side, clear parts in the key colour:
    24-bit, or with a palette of the colours used (palette=True; the
    pictures are drawn in far fewer than 256, and the file is then about a
    third of the size). Black comes first in a palette, used or not: the
    image list that takes the strip (ImageList_AddMasked) blanks its clear
    parts in place with a raster operation on the palette indices, pixel
    AND NOT mask, the mask's other pixels becoming black's index; with
    black at index 0 that leaves them as they are."""
    flat = [flatten(p, KEY) for p in pictures]
    rows = [[c for pic in flat for c in pic[y]] for y in reversed(range(size))]
    width = size * len(pictures)
    colors = sorted(set(c for row in rows for c in row) | {(0, 0, 0)})
    if palette and len(colors) <= 256:
        index = {c: i for i, c in enumerate(colors)}
        write_bmp(path, width, size, 8, colors, [bytes(index[c] for c in row) for row in rows])
    else:
        write_bmp(path, width, size, 24, [],
                  [b"".join(bytes((b, g, r)) for (r, g, b) in row) for row in rows])


def write_cursor(path, grid):
    palette = struct.pack("<4B4B", 0, 0, 0, 0, 255, 255, 255, 0)
    xor = b""
    for row in reversed(grid):
        xor += pad4(bytes(int("".join("1" if ch == "." else "0" for ch in row[i:i + 8]), 2)
                          for i in range(0, 32, 8)))
    and_ = b""
    for row in reversed(grid):
        and_ += pad4(bytes(int("".join("0" if ch in "#." else "1" for ch in row[i:i + 8]), 2)
                           for i in range(0, 32, 8)))
    data = info_header(32, 64, 1, 2) + palette + xor + and_
    write_icon_file(path, [(32, 2, 6, 0, data)], kind=2)


BANNER_W, BANNER_H = 227, 42
BANNER_BG = (240, 240, 240)
BANNER_FG = (96, 96, 96)


def render_banner_coverage():
    """Letter coverage 0..255 per pixel from ImageMagick, or None."""
    convert = shutil.which("convert")
    if convert is None:
        return None
    font = "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf"
    if not os.path.exists(font):
        font = "Liberation-Sans-Bold"
    cmd = [convert, "-size", "%dx%d" % (BANNER_W, BANNER_H), "xc:black", "-font", font,
           "-pointsize", "44", "-fill", "white", "-gravity", "west", "-annotate", "+4+0",
           "Brimvex", "-depth", "8", "gray:-"]
    try:
        raw = subprocess.run(cmd, check=True, capture_output=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    if len(raw) != BANNER_W * BANNER_H:
        return None
    return raw


def write_banner(path, coverage):
    # palette entry i: the letters' grey at coverage i / 255 over the background
    palette = [tuple(int(round(bg + (fg - bg) * i / 255)) for fg, bg in zip(BANNER_FG, BANNER_BG))
               for i in range(256)]
    rows = [bytes(coverage[y * BANNER_W:(y + 1) * BANNER_W]) for y in reversed(range(BANNER_H))]
    write_bmp(path, BANNER_W, BANNER_H, 8, palette, rows)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else HERE
    os.makedirs(out, exist_ok=True)

    # Frames from 32 px up are PNG, a third of the plain bitmap's size.
    write_icon_file(os.path.join(out, "mainicon.ico"),
                    [(s, 0, 1, 32, icon_frame(main_icon(s))) for s in (16, 32, 48)])
    # The tray icon: the 16-colour 16 px picture, then the same disc for the
    # notification area at other display scales (125 % .. 300 %); PNG from
    # 32 px up, where it is smaller than the plain bitmap.
    tray = [(16, 16, 1, 4, icon_image_4(tray_icon()))]
    tray += [(s, 0, 1, 32, icon_frame(tray_icon_large(s))) for s in TRAY_SIZES]
    write_icon_file(os.path.join(out, "tray.ico"), tray)
    write_strip(os.path.join(out, "imglmain.bmp"),
                [info_image(), door_image(), tools_image()])
    # The same menu images for menus at other display scales.
    for size in MENU_SIZES:
        write_strip(os.path.join(out, "imglmain%d.bmp" % size),
                    [info_image(size), door_image(size), tools_image(size)], size, palette=True)
    write_strip(os.path.join(out, "btnok.bmp"), [ok_glyph()])
    write_strip(os.path.join(out, "btncancel.bmp"), [cancel_glyph()])
    write_cursor(os.path.join(out, "pointcurs.cur"), hand_cursor())

    banner = os.path.join(out, "banner.bmp")
    coverage = render_banner_coverage()
    if coverage is not None:
        write_banner(banner, coverage)
    elif os.path.exists(os.path.join(HERE, "banner.bmp")):
        if os.path.abspath(out) != HERE:
            shutil.copyfile(os.path.join(HERE, "banner.bmp"), banner)
        print("convert not found: banner.bmp kept as committed", file=sys.stderr)
    else:
        sys.exit("convert not found and no banner.bmp to keep")


if __name__ == "__main__":
    main()
