#!/usr/bin/env python3
"""Draws the program's pictures: the globe icon (16-colour 32 x 32, the
theme sizes, the scalable SVG and the Windows .ico holding them), the about
window's banner and the installer's two pictures.

Only the standard library is used and nothing depends on the machine, so
running it again gives the same files byte for byte:

    python3 assets/make_assets.py [output folder, default: this folder]
"""

import bisect
import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------- PNG output


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_png(path, width, height, rows, colour_type, bit_depth=8, palette=None, transparent=None):
    """rows: one bytes object per line, already packed for the colour type;
    transparent: the palette index that shows nothing, if any."""
    raw = b"".join(b"\x00" + row for row in rows)
    data = b"\x89PNG\r\n\x1a\n"
    data += png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0))
    if palette is not None:
        data += png_chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if transparent is not None:
        data += png_chunk(b"tRNS", bytes(255 if k != transparent else 0 for k in range(transparent + 1)))
    data += png_chunk(b"IDAT", zlib.compress(raw, 9))
    data += png_chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(data)


# ------------------------------------------------------------------ the globe

# Continents on the visible half of the globe, in unit-disc coordinates
# (x to the right, y upwards). Made up, so that no real map is implied.
LANDS = [
    [(-0.55, 0.78), (-0.22, 0.84), (-0.04, 0.58), (-0.28, 0.38), (-0.22, 0.12),
     (-0.02, -0.04), (0.02, -0.36), (-0.14, -0.78), (-0.32, -0.62), (-0.36, -0.22),
     (-0.62, -0.02), (-0.78, 0.34)],
    [(0.28, 0.70), (0.66, 0.58), (0.84, 0.22), (0.62, 0.04), (0.56, -0.30),
     (0.30, -0.46), (0.24, -0.10), (0.14, 0.22), (0.34, 0.38)],
    [(0.34, -0.60), (0.58, -0.54), (0.52, -0.78), (0.28, -0.80)],
]

LIGHT = (-0.45, 0.50, 0.74)
_norm = math.sqrt(sum(c * c for c in LIGHT))
LIGHT = tuple(c / _norm for c in LIGHT)

SEA = (36, 92, 196)
LAND = (46, 150, 52)


def crossings(y):
    """x positions where the line at height y crosses a coast, sorted, so
    that a point is on land when an odd number of them lie to its left."""
    xs = []
    for land in LANDS:
        for (x0, y0), (x1, y1) in zip(land, land[1:] + land[:1]):
            if (y0 <= y) != (y1 <= y):
                xs.append(x0 + (y - y0) * (x1 - x0) / (y1 - y0))
    xs.sort()
    return xs


def globe_colour(x, y, coast):
    """Colour of the globe at (x, y) inside the unit disc, lit from the
    upper left; coast is crossings(y)."""
    z = math.sqrt(max(0.0, 1.0 - x * x - y * y))
    light = max(0.0, x * LIGHT[0] + y * LIGHT[1] + z * LIGHT[2])
    on_land = bisect.bisect_left(coast, x) % 2 == 1
    base = LAND if on_land else SEA
    shade = 0.35 + 0.85 * light
    # Only water catches the light; a glint on land would read as snow.
    glint = 0.0 if on_land else max(0.0, light - 0.93) * 6.0
    return tuple(min(255.0, c * shade + 255.0 * glint) for c in base)


def icon_pixels(size, samples, rounded):
    """RGBA floats per pixel: the globe on a grey ground. A rounded ground
    (theme icons) leaves its corners transparent; a square one fills all."""
    radius = 0.44 * size
    centre = size / 2.0
    corner = 0.18 * size
    pixels = []
    for py in range(size):
        row = []
        subs = [(py + (j + 0.5) / samples) for j in range(samples)]
        coasts = [crossings((centre - sy) / radius) for sy in subs]
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for j, sy in enumerate(subs):
                for i in range(samples):
                    sx = px + (i + 0.5) / samples
                    gx, gy = (sx - centre) / radius, (centre - sy) / radius
                    d = gx * gx + gy * gy
                    if d <= 1.0:
                        # A dark rim keeps the globe apart from the ground.
                        colour = (20, 28, 40) if d > 0.90 and size <= 32 else globe_colour(gx, gy, coasts[j])
                        alpha = 1.0
                    else:
                        if rounded and not inside_rounded_square(sx, sy, size, corner):
                            continue
                        # The ground darkens towards the bottom right, where
                        # the globe throws its shadow.
                        sd = math.hypot(sx - centre - 0.06 * size, sy - centre - 0.08 * size) / radius
                        g = 184.0 - 40.0 * sy / size - (46.0 if sd < 1.02 else 0.0)
                        colour = (g, g, g)
                        alpha = 1.0
                    acc[0] += colour[0]
                    acc[1] += colour[1]
                    acc[2] += colour[2]
                    acc[3] += alpha
            n = float(samples * samples)
            if acc[3] > 0:
                row.append((acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3], 255.0 * acc[3] / n))
            else:
                row.append((0.0, 0.0, 0.0, 0.0))
        pixels.append(row)
    return pixels


def inside_rounded_square(x, y, size, r):
    cx = min(max(x, r), size - r)
    cy = min(max(y, r), size - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


# Sixteen colours: greys for the ground, blues for the seas, greens for the
# land and black for the rim.
PALETTE = [
    (0, 0, 0), (20, 28, 40), (72, 72, 72), (104, 104, 104), (136, 136, 136), (160, 160, 160),
    (184, 184, 184), (224, 224, 224),
    (14, 34, 82), (24, 62, 140), (36, 96, 200), (110, 160, 236),
    (18, 62, 22), (32, 108, 38), (50, 160, 56), (120, 206, 110),
]


def nearest(colour):
    return min(range(len(PALETTE)),
               key=lambda k: sum((PALETTE[k][c] - colour[c]) ** 2 for c in range(3)))


# The sixteen-colour frame leaves the rounded tile's corners out with the
# one palette entry the globe never takes.
TRANSPARENT = 0


def icon_16_colour_indices():
    # One sample per pixel: averaging sea and land would give greys that
    # the palette would then show as specks along the coasts.
    pixels = icon_pixels(32, 1, rounded=True)
    indices = [[TRANSPARENT if p[3] < 128 else nearest(p) for p in row] for row in pixels]
    assert all(nearest(p) != TRANSPARENT for row in pixels for p in row if p[3] >= 128)
    return indices


def write_icon_16_colours(path):
    rows = [bytes((row[i] << 4) | row[i + 1] for i in range(0, 32, 2)) for row in icon_16_colour_indices()]
    write_png(path, 32, 32, rows, colour_type=3, bit_depth=4, palette=PALETTE, transparent=TRANSPARENT)


def rgba_rows(size):
    samples = 4 if size <= 64 else 2
    return [[tuple(int(round(min(255.0, max(0.0, v)))) for v in p) for p in row]
            for row in icon_pixels(size, samples, rounded=True)]


def write_icon_rgba(path, size):
    rows = [bytes(v for p in row for v in p) for row in rgba_rows(size)]
    write_png(path, size, size, rows, colour_type=6)


def and_mask(opaque_rows, size):
    """The icon's transparency mask, bottom row first: a set bit shows
    what is behind; each row padded to four bytes."""
    stride = (size + 31) // 32 * 4
    out = b""
    for row in reversed(opaque_rows):
        bits = bytearray(stride)
        for x, opaque in enumerate(row):
            if not opaque:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def dib_16_colours():
    """The 32 x 32 sixteen-colour frame as Windows stores it in an icon:
    header, palette, 4-bit pixels bottom row first, then the mask."""
    indices = icon_16_colour_indices()
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    pixels = b"".join(bytes((row[i] << 4) | row[i + 1] for i in range(0, 32, 2)) for row in reversed(indices))
    return header + palette + pixels + and_mask([[k != TRANSPARENT for k in row] for row in indices], 32)


def dib_rgba(size):
    rows = rgba_rows(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(v for r, g, b, a in row for v in (b, g, r, a)) for row in reversed(rows))
    return header + pixels + and_mask([[p[3] >= 128 for p in row] for row in rows], size)


def write_ico(path, frames):
    """A Windows icon of (size, colour bits, image bytes) frames: device-
    independent bitmaps with their masks for the small sizes, which every
    part of Windows reads, and PNG for 256, as Windows reads it since Vista."""
    header = struct.pack("<HHH", 0, 1, len(frames))
    offset = len(header) + 16 * len(frames)
    entries = b""
    for size, bits, data in frames:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 16 if bits == 4 else 0, 0, 1, bits,
                               len(data), offset)
        offset += len(data)
    with open(path, "wb") as out:
        out.write(header + entries + b"".join(data for *_, data in frames))


def write_icon_svg(path):
    size = 256
    radius = 0.44 * size
    centre = size / 2.0

    def point(x, y):
        return "%.1f,%.1f" % (centre + x * radius, centre - y * radius)

    lands = "\n".join('    <polygon points="%s"/>' % " ".join(point(x, y) for x, y in land) for land in LANDS)
    svg = f"""<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="0 0 {size} {size}">
  <defs>
    <linearGradient id="ground" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#b8b8b8"/>
      <stop offset="1" stop-color="#909090"/>
    </linearGradient>
    <radialGradient id="light" cx="0.30" cy="0.28" r="0.85">
      <stop offset="0" stop-color="#ffffff" stop-opacity="0.35"/>
      <stop offset="0.45" stop-color="#ffffff" stop-opacity="0"/>
      <stop offset="0.8" stop-color="#000000" stop-opacity="0.25"/>
      <stop offset="1" stop-color="#000000" stop-opacity="0.55"/>
    </radialGradient>
    <clipPath id="globe">
      <circle cx="{centre}" cy="{centre}" r="{radius:.1f}"/>
    </clipPath>
  </defs>
  <rect width="{size}" height="{size}" rx="{0.18 * size:.1f}" fill="url(#ground)"/>
  <circle cx="{centre + 0.06 * size:.1f}" cy="{centre + 0.08 * size:.1f}" r="{radius:.1f}" fill="#000000" fill-opacity="0.2"/>
  <circle cx="{centre}" cy="{centre}" r="{radius:.1f}" fill="#{SEA[0]:02x}{SEA[1]:02x}{SEA[2]:02x}"/>
  <g clip-path="url(#globe)" fill="#{LAND[0]:02x}{LAND[1]:02x}{LAND[2]:02x}">
{lands}
  </g>
  <circle cx="{centre}" cy="{centre}" r="{radius:.1f}" fill="url(#light)" stroke="#141c28" stroke-width="3"/>
</svg>
"""
    with open(path, "w", encoding="utf-8") as out:
        out.write(svg)


# ----------------------------------------------------------------- the banner

# A small hand-drawn script: each letter is a list of strokes through which
# a smooth curve is drawn. Units: x-height 1, baseline at 0, y upwards.
# Lower-case letters start and end near the baseline so that they join up.
GLYPHS = {
    "T": (1.15, [
        [(-0.05, 1.55), (0.25, 1.80), (0.80, 1.78), (1.45, 1.92)],
        [(0.92, 1.80), (0.80, 1.00), (0.62, 0.22), (0.40, 0.00), (0.12, 0.10)],
    ]),
    "e": (0.80, [
        [(0.00, 0.25), (0.50, 0.52), (0.62, 0.84), (0.42, 1.00), (0.16, 0.72),
         (0.18, 0.20), (0.48, 0.00), (0.80, 0.22)],
    ]),
    "r": (0.74, [
        [(0.00, 0.22), (0.22, 1.00), (0.20, 0.00), (0.26, 0.58), (0.42, 0.92),
         (0.60, 1.00), (0.74, 0.86)],
    ]),
    "a": (0.95, [
        [(0.00, 0.22), (0.20, 0.60), (0.62, 0.84), (0.38, 1.00), (0.08, 0.62),
         (0.16, 0.06), (0.48, 0.22), (0.66, 0.96), (0.60, 0.30), (0.72, 0.00),
         (0.95, 0.22)],
    ]),
    "l": (0.62, [
        [(0.00, 0.22), (0.40, 1.00), (0.58, 1.70), (0.44, 1.96), (0.26, 1.62),
         (0.24, 0.60), (0.34, 0.04), (0.62, 0.22)],
    ]),
    "u": (1.00, [
        [(0.00, 0.22), (0.14, 1.00), (0.10, 0.30), (0.30, 0.00), (0.56, 0.40),
         (0.66, 1.00), (0.60, 0.30), (0.76, 0.00), (1.00, 0.22)],
    ]),
    "m": (1.25, [
        [(0.00, 0.22), (0.12, 0.90), (0.10, 0.00), (0.18, 0.74), (0.34, 1.00),
         (0.46, 0.70), (0.44, 0.00), (0.52, 0.74), (0.70, 1.00), (0.84, 0.72),
         (0.82, 0.20), (0.98, 0.00), (1.25, 0.22)],
    ]),
}

SLANT = 0.32


def catmull_rom(points, steps=14):
    """A smooth curve through all the points."""
    pts = [points[0]] + list(points) + [points[-1]]
    out = []
    for k in range(1, len(pts) - 2):
        p0, p1, p2, p3 = pts[k - 1], pts[k], pts[k + 1], pts[k + 2]
        for s in range(steps):
            t = s / steps
            t2, t3 = t * t, t * t * t
            out.append(tuple(0.5 * (2 * p1[c] + (-p0[c] + p2[c]) * t + (2 * p0[c] - 5 * p1[c] + 4 * p2[c] - p3[c]) * t2
                                    + (-p0[c] + 3 * p1[c] - 3 * p2[c] + p3[c]) * t3) for c in range(2)))
    out.append(points[-1])
    return out


def lettering(text, unit, left, baseline):
    """Polylines in picture coordinates for the text, with lower-case
    letters joined where one ends and the next begins."""
    strokes = []
    x = 0.0
    previous_end = None
    for ch in text:
        advance, glyph = GLYPHS[ch]
        for index, stroke in enumerate(glyph):
            moved = [(x + px, py) for px, py in stroke]
            if index == 0 and previous_end is not None and ch.islower():
                moved = [previous_end] + moved[1:]
            strokes.append(moved)
        previous_end = strokes[-1][-1] if ch.islower() else None
        x += advance
    result = []
    for stroke in strokes:
        curve = catmull_rom(stroke)
        result.append([(left + (px + SLANT * py) * unit, baseline - py * unit) for px, py in curve])
    return result, x


def stamp(canvas, width, height, polylines, pen, colour, samples=3):
    """Draws the polylines with a round pen into canvas (a list of rows of
    [r, g, b] floats), with soft edges from sub-pixel sampling."""
    cover = [[0.0] * width for _ in range(height)]
    half = pen / 2.0
    offsets = [((i + 0.5) / samples, (j + 0.5) / samples) for j in range(samples) for i in range(samples)]
    for line in polylines:
        for (x0, y0), (x1, y1) in zip(line, line[1:]):
            dx, dy = x1 - x0, y1 - y0
            length2 = dx * dx + dy * dy or 1e-9
            for py in range(max(0, int(min(y0, y1) - half - 1)), min(height, int(max(y0, y1) + half + 2))):
                for px in range(max(0, int(min(x0, x1) - half - 1)), min(width, int(max(x0, x1) + half + 2))):
                    if cover[py][px] >= 1.0:
                        continue
                    hits = 0
                    for ox, oy in offsets:
                        sx, sy = px + ox, py + oy
                        t = min(1.0, max(0.0, ((sx - x0) * dx + (sy - y0) * dy) / length2))
                        ex, ey = sx - x0 - t * dx, sy - y0 - t * dy
                        if ex * ex + ey * ey <= half * half:
                            hits += 1
                    cover[py][px] = max(cover[py][px], hits / len(offsets))
    for py in range(height):
        for px in range(width):
            a = cover[py][px]
            if a > 0.0:
                pixel = canvas[py][px]
                for c in range(3):
                    pixel[c] = pixel[c] * (1.0 - a) + colour[c] * a


def write_banner(path):
    width, height = 400, 100
    cx, cy, rx, ry = width / 2.0, height / 2.0, width / 2.0, height / 2.0
    canvas = []
    for py in range(height):
        row = []
        for px in range(width):
            # Four samples per pixel soften the rim; outside the ellipse stays
            # pure black, the colour the about window treats as transparent.
            total = [0.0, 0.0, 0.0]
            inside = 0
            for ox, oy in ((0.25, 0.25), (0.75, 0.25), (0.25, 0.75), (0.75, 0.75)):
                ex, ey = (px + ox - cx) / rx, (py + oy - cy) / ry
                d = ex * ex + ey * ey
                if d <= 1.0:
                    inside += 1
                    # Lit from above left, deepening to a dark rim.
                    lx, ly = ex + 0.35, ey + 0.55
                    glow = max(0.0, 1.0 - 0.55 * math.sqrt(lx * lx + ly * ly))
                    rim = d ** 3
                    total[0] += 20 + 70 * glow - 15 * rim
                    total[1] += 90 + 130 * glow - 50 * rim
                    total[2] += 24 + 50 * glow - 15 * rim
            row.append([t / 4.0 for t in total] if inside else [0.0, 0.0, 0.0])
        canvas.append(row)

    unit = 27.0
    _, advance = lettering("Terralume", unit, 0.0, 0.0)
    left = (width - advance * unit - SLANT * unit) / 2.0
    baseline = 70.0
    shadow, _ = lettering("Terralume", unit, left + 2.0, baseline + 2.0)
    strokes, _ = lettering("Terralume", unit, left, baseline)
    stamp(canvas, width, height, shadow, 5.0, (8, 48, 12))
    stamp(canvas, width, height, strokes, 4.6, (255, 255, 255))

    rows = []
    for row in canvas:
        rows.append(bytes(int(round(min(255.0, max(0.0, v)))) for p in row for v in p))
    # The corners must be exactly black, whatever the arithmetic above did.
    for y in (0, height - 1):
        assert rows[y][0:3] == b"\x00\x00\x00"
    write_png(path, width, height, rows, colour_type=2)


def write_bmp(path, width, height, pixel):
    """A 24-bit Windows bitmap, as the installer's pages take them; pixel(x,
    y) gives (r, g, b) with y downwards."""
    stride = (width * 3 + 3) // 4 * 4
    rows = b""
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        rows += bytes(row) + bytes(stride - len(row))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", 14 + len(info) + len(rows), 0, 0, 14 + len(info)) + info + rows)


def over(ground, rgba):
    a = rgba[3] / 255.0
    return tuple(int(round(ground[c] * (1.0 - a) + rgba[c] * a)) for c in range(3))


def write_installer_pictures(out):
    """The installer's welcome-page side picture (164 x 314) and the header
    picture of its other pages (150 x 57): the globe tile on the pages'
    own light ground, deepening to the sea's blue at the foot."""
    os.makedirs(out, exist_ok=True)
    tile = rgba_rows(128)

    def welcome(x, y):
        t = y / 313.0
        ground = (250, 250, 250)
        if t > 0.55:
            s = (t - 0.55) / 0.45
            ground = tuple(int(round(250 * (1 - s) + c * s)) for c in (36, 92, 196))
        tx, ty = x - 18, y - 40
        return over(ground, tile[ty][tx]) if 0 <= tx < 128 and 0 <= ty < 128 else ground

    small = rgba_rows(48)

    def header(x, y):
        ground = (255, 255, 255)
        tx, ty = x - 96, y - 4
        return over(ground, small[ty][tx]) if 0 <= tx < 48 and 0 <= ty < 48 else ground

    write_bmp(os.path.join(out, "installer-welcome.bmp"), 164, 314, welcome)
    write_bmp(os.path.join(out, "installer-header.bmp"), 150, 57, header)


ICON_SIZES = (16, 24, 48, 64, 128, 256)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    icons = os.path.join(out, "icons")
    os.makedirs(icons, exist_ok=True)
    write_icon_16_colours(os.path.join(out, "terralume.png"))
    for size in ICON_SIZES:
        write_icon_rgba(os.path.join(icons, "terralume-%d.png" % size), size)
    write_icon_svg(os.path.join(out, "terralume.svg"))
    with open(os.path.join(icons, "terralume-256.png"), "rb") as f:
        large = f.read()
    write_ico(os.path.join(out, "terralume.ico"),
              [(16, 32, dib_rgba(16)), (24, 32, dib_rgba(24)), (32, 4, dib_16_colours()), (48, 32, dib_rgba(48)),
               (256, 32, large)])
    write_banner(os.path.join(out, "banner.png"))
    write_installer_pictures(os.path.join(out, "installer"))


if __name__ == "__main__":
    main()
