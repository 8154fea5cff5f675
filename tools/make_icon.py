#!/usr/bin/env python3
"""Draws the program's icon, the brightness curve drawn small, as a Windows .ico.

The curve comes from the constant table the program compiles in, read and
evaluated by tools/plot_curve.py, so the icon shows the curve the program
computes: on a dark rounded tile, like the console the program runs in, the
area under the curve is filled with the colours of the spectrum at each
wavelength, and the curve itself runs over it as a white line.

The icon holds images of 16, 32 and 48 pixels as 32-bit bitmaps with an
alpha channel, which every Windows reads, and one of 256 pixels as PNG, as
Windows keeps its large icons. Every pixel is computed from its exact
coverage by the tile, the fill and the line, with no drawing library, so the
same table gives the same bytes on every machine.

Usage:
  python3 tools/make_icon.py --out helligkeit.ico [--table calculator/segment_data.inc]
                             [--preview icon.png]

--preview also writes the four images side by side, each enlarged to 256
pixels, as a PNG to look at. Standard library only.
"""

import argparse
import math
import struct
import zlib
from bisect import bisect_left, bisect_right
from pathlib import Path

from plot_curve import ROOT, X_MAX, X_MIN, cubic, read_table

SIZES = (16, 32, 48, 256)
PNG_FROM = 256  # images this large are stored as PNG, smaller ones as bitmaps

TILE = (0x1E, 0x22, 0x2A)
LINE = (0xFF, 0xFF, 0xFF)
# The tile's corner radius, and the plot's place on the tile, as shares of
# the icon's size: wavelength 380-780 nm from left to right, brightness 0 at
# the bottom and 100 at the top.
CORNER = 0.2
PLOT_LEFT, PLOT_RIGHT, PLOT_TOP, PLOT_BOTTOM = 0.1, 0.9, 0.16, 0.86
# The line's width in pixels: never thinner than a pixel and a bit.
LINE_WIDTH = {16: 1.3, 32: 1.8, 48: 2.4, 256: 10.0}
# Sub-columns per pixel over which the fill's coverage is averaged.
FILL_SAMPLES = 4


def spectrum(wavelength):
    """An approximate display colour of light at a wavelength (nm), as RGB
    in 0..1: linear pieces from violet through blue, green and yellow to red,
    dimmed towards both ends of the visible range."""
    w = wavelength
    if w < 440:
        rgb = ((440 - w) / 60, 0.0, 1.0)
    elif w < 490:
        rgb = (0.0, (w - 440) / 50, 1.0)
    elif w < 510:
        rgb = (0.0, 1.0, (510 - w) / 20)
    elif w < 580:
        rgb = ((w - 510) / 70, 1.0, 0.0)
    elif w < 645:
        rgb = (1.0, (645 - w) / 65, 0.0)
    else:
        rgb = (1.0, 0.0, 0.0)
    if w < 420:
        level = 0.3 + 0.7 * (w - 380) / 40
    elif w > 700:
        level = 0.3 + 0.7 * (780 - w) / 80
    else:
        level = 1.0
    return tuple(min(1.0, max(0.0, c)) * level for c in rgb)


def clamp01(value):
    return min(1.0, max(0.0, value))


class Curve:
    """The curve in the pixel space of one icon size: brightness at any x,
    and a dense polyline for the distance to the line."""

    def __init__(self, rows, size):
        self.rows = rows
        self.bounds = [row[0] for row in rows]
        self.x0, self.x1 = PLOT_LEFT * size, PLOT_RIGHT * size
        self.y0, self.y1 = PLOT_BOTTOM * size, PLOT_TOP * size
        steps = 800  # two points per nm
        self.points = [(self.x0 + (self.x1 - self.x0) * i / steps,
                        self.y_at(self.x0 + (self.x1 - self.x0) * i / steps))
                       for i in range(steps + 1)]
        self.xs = [x for x, _ in self.points]

    def wavelength(self, x):
        return X_MIN + (x - self.x0) / (self.x1 - self.x0) * (X_MAX - X_MIN)

    def y_at(self, x):
        """The curve's y (pixels, downwards) at x, inside the plot."""
        nm = min(X_MAX, max(X_MIN, self.wavelength(x)))
        row = self.rows[max(0, bisect_right(self.bounds, nm) - 1)]
        return self.y0 + cubic(row, nm) / 100 * (self.y1 - self.y0)

    def near(self, px, reach):
        """The polyline's segments that may lie within `reach` of x = px, as
        a range of indices, and the span of y they cover."""
        first = max(0, bisect_left(self.xs, px - reach) - 1)
        last = min(len(self.points) - 1, bisect_right(self.xs, px + reach))
        ys = [y for _, y in self.points[first:last + 1]] or [math.inf]
        return range(first, last), min(ys), max(ys)

    def distance(self, px, py, segments, reach):
        """Distance from (px, py) to the segments, or `reach` if farther."""
        best = reach
        for i in segments:
            (ax, ay), (bx, by) = self.points[i], self.points[i + 1]
            dx, dy = bx - ax, by - ay
            t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
            best = min(best, math.hypot(px - ax - t * dx, py - ay - t * dy))
        return best


def tile_coverage(px, py, size):
    """How much of the pixel centred at (px, py) the rounded tile covers."""
    radius = CORNER * size
    half = size / 2
    qx = max(abs(px - half) - (half - radius), 0.0)
    qy = max(abs(py - half) - (half - radius), 0.0)
    return clamp01(0.5 - (math.hypot(qx, qy) - radius))


def render(rows, size):
    """The image as rows of (r, g, b, a) bytes, top row first."""
    curve = Curve(rows, size)
    width = LINE_WIDTH[size]
    reach = width / 2 + 1
    # Per sub-column: where the fill starts, and its colour.
    columns = []
    for x in range(size):
        subs = []
        for s in range(FILL_SAMPLES):
            sx = x + (s + 0.5) / FILL_SAMPLES
            inside = curve.x0 <= sx <= curve.x1
            subs.append((curve.y_at(sx) if inside else None,
                         spectrum(curve.wavelength(sx)) if inside else None))
        columns.append(subs)
    near = [curve.near(x + 0.5, reach) for x in range(size)]
    image = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            alpha = tile_coverage(px, py, size)
            colour = [c / 255 for c in TILE]
            # The fill: each sub-column covers the pixel from the curve down
            # to the axis.
            for top, fill in columns[x]:
                if top is None:
                    continue
                covered = clamp01(min(y + 1, curve.y0) - max(y, top)) / FILL_SAMPLES
                colour = [c + (f - c) * covered for c, f in zip(colour, fill)]
            segments, low, high = near[x]
            if low - reach <= py <= high + reach:
                line = clamp01(width / 2 + 0.5 - curve.distance(px, py, segments, reach))
            else:
                line = 0.0
            colour = [c + (l / 255 - c) * line for c, l in zip(colour, LINE)]
            row.append(tuple(round(c * 255) for c in colour) + (round(alpha * 255),))
        image.append(row)
    return image


def png(image):
    """A PNG file (8-bit RGBA, no filter) of the image."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))

    height, width = len(image), len(image[0])
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in image)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bitmap(image):
    """An icon image as a Windows bitmap: the header (twice the height, for
    the colour rows and the mask rows), BGRA rows from the bottom up, and the
    1-bit mask of the fully transparent pixels, each row padded to 4 bytes."""
    size = len(image)
    colours = b"".join(bytes((b, g, r, a)) for row in reversed(image) for r, g, b, a in row)
    stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(image):
        bits = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(colours) + len(mask), 0, 0, 0, 0)
    return header + colours + bytes(mask)


def ico(images):
    """An .ico file of the images, smallest first."""
    blobs = [png(image) if len(image) >= PNG_FROM else bitmap(image) for image in images]
    offset = 6 + 16 * len(blobs)
    directory = struct.pack("<HHH", 0, 1, len(blobs))
    for image, blob in zip(images, blobs):
        side = len(image) % 256  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return directory + b"".join(blobs)


def preview(images, scale_to=256):
    """The images side by side, each enlarged without smoothing, on grey."""
    grey = (0x80, 0x80, 0x80)
    rows = []
    for y in range(scale_to):
        row = []
        for image in images:
            size = len(image)
            for x in range(scale_to):
                r, g, b, a = image[y * size // scale_to][x * size // scale_to]
                row.append(tuple(round(c * a / 255 + k * (255 - a) / 255)
                                 for c, k in zip((r, g, b), grey)) + (255,))
        rows.append(row)
    return rows


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--table", default=ROOT / "calculator" / "segment_data.inc",
                        help="the constant table in C++ source (default: %(default)s)")
    parser.add_argument("--out", required=True, help="the .ico file to write")
    parser.add_argument("--preview", help="also write the images enlarged to this PNG")
    args = parser.parse_args(argv)
    rows = read_table(args.table)
    images = [render(rows, size) for size in SIZES]
    Path(args.out).write_bytes(ico(images))
    if args.preview:
        Path(args.preview).write_bytes(png(preview(images)))


if __name__ == "__main__":
    main()
