#!/usr/bin/env python3
"""Draws the brightness curve from the shipped constant table as an SVG, and
the program's icon.

The table is read from the C++ source that the program compiles in (87 rows
of six doubles: lower bound, upper bound, c0, c1, c2, c3), so the plot shows
exactly the curve the program evaluates. Each segment is sampled densely and
evaluated in the program's own order of operations. The 88 segment bounds
(knots) are marked with small rings drawn under the curve, so that where they
crowd (485-495 and 565-575 nm) the curve still shows; the two joins of the
three splines (493 and 570 nm) are marked and named, the three splines
bracketed above the plot, and the part of the table beyond the announced
range (700-780 nm) is shaded.

The icon is the curve drawn small on a dark rounded tile, like the console
the program runs in: the area under the curve in the colours of the
spectrum, the curve as a white line over it. Each size is an SVG of its own,
with a line never thinner than a pixel and a bit; rsvg-convert renders each
to PNG beside the .ico, and icotool packs them, 256 pixels as PNG, the
smaller as 32-bit bitmaps with an alpha channel, which every Windows reads.

Usage:
  python3 tools/plot_curve.py [--table curve/segment_data.inc]
                              [--out docs/curve.svg | --icon helligkeit.ico]
"""

import argparse
import ast
import math
import subprocess
from pathlib import Path

from generate_segments import ROW_COUNT, check_structure, evaluate
from tool_support import ROOT, check, fail

# Drawing geometry, in SVG user units (pixels).
WIDTH, HEIGHT = 800, 500
LEFT, RIGHT, TOP, BOTTOM = 64, 24, 84, 56
X_MIN, X_MAX = 380.0, 780.0
ANNOUNCED_END = 700.0
# Where the three interpolation splines meet: knots at which the slope jumps.
JOINS = (493.0, 570.0)
# Room above the highest point of the curve, as a share of its height.
HEADROOM = 0.05
SAMPLES_PER_NM = 2  # ~1 px per sample at this width; cubics are smooth

ICON_TILE = "#1e222a"
# The tile's corner radius and the plot's place on the tile, as shares of
# the icon's size, and the line's width in pixels at each size.
ICON_CORNER = 0.2
ICON_LEFT, ICON_RIGHT, ICON_TOP, ICON_BOTTOM = 0.1, 0.9, 0.16, 0.86
ICON_LINE = {16: 1.3, 32: 1.8, 48: 2.4, 256: 10.0}
# The colours of the spectrum under the curve, by wavelength, blended in
# between: violet through blue, green and yellow to red, dimmed towards both
# ends of the visible range.
SPECTRUM = {380: "#4c004c", 420: "#5500ff", 440: "#0000ff", 490: "#00ffff", 510: "#00ff00",
            580: "#ffff00", 645: "#ff0000", 700: "#ff0000", 780: "#4c0000"}


def read_table(path):
    """The rows as tuples (lower, upper, c0, c1, c2, c3): without their
    comments, the generated table's literals are those of a Python list."""
    lines = Path(path).read_text(encoding="utf-8").splitlines()
    try:
        values = ast.literal_eval("[" + "".join(line.split("//")[0] for line in lines) + "]")
    except (ValueError, SyntaxError) as error:
        fail(f"{path}: not a list of numbers: {error}")
    check(len(values) == ROW_COUNT * 6,
          f"{path}: expected {ROW_COUNT * 6} numbers, found {len(values)}")
    rows = [tuple(values[i:i + 6]) for i in range(0, len(values), 6)]
    check_structure(rows)
    return rows


def curve_points(rows):
    """Dense samples per segment, each segment from its lower to its upper bound."""
    points = []
    for row in rows:
        lower, upper = row[0], row[1]
        steps = max(8, math.ceil((upper - lower) * SAMPLES_PER_NM))
        start = 1 if points else 0  # the shared bound is already in from the previous row
        for i in range(start, steps + 1):
            x = lower + (upper - lower) * i / steps
            points.append((x, evaluate(row, x)))
    return points


def knots(rows):
    """The 88 segment bounds with the value the program gives there: on a shared
    bound the later row decides."""
    last = rows[-1]
    return ([(row[0], evaluate(row, row[0])) for row in rows]
            + [(last[1], evaluate(last, last[1]))])


def y_range(points):
    """From 0 (or below) to the next multiple of 10 that leaves headroom above
    the highest point, for the labels drawn there."""
    lowest = min(y for _, y in points)
    highest = max(y for _, y in points)
    low = min(0.0, math.floor(lowest / 10) * 10)
    high = math.ceil((highest + HEADROOM * (highest - low)) / 10) * 10
    return low, max(100.0, high)


def _fmt(value):
    text = f"{value:.1f}"
    return text[:-2] if text.endswith(".0") else text


def render_svg(rows):
    points = curve_points(rows)
    knot_points = knots(rows)
    knot_value = dict(knot_points)
    for join in JOINS:
        if join not in knot_value:
            fail(f"the spline join at {join} nm is no segment bound of the table")
    peak_x, peak_y = max(points, key=lambda point: point[1])
    y_min, y_max = y_range(points)
    plot_w, plot_h = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM

    def px(x):
        return _fmt(LEFT + (x - X_MIN) / (X_MAX - X_MIN) * plot_w)

    def py(y):
        return _fmt(TOP + (y_max - y) / (y_max - y_min) * plot_h)

    bottom, right = _fmt(TOP + plot_h), _fmt(LEFT + plot_w)
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
        f'viewBox="0 0 {WIDTH} {HEIGHT}" font-family="sans-serif" font-size="12">',
        f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#fff"/>',
        # Beyond the announced range: the table still reaches 780 nm.
        f'<rect x="{px(ANNOUNCED_END)}" y="{TOP}" '
        f'width="{_fmt(float(px(X_MAX)) - float(px(ANNOUNCED_END)))}" height="{plot_h}" '
        f'fill="#f1f1f1"/>',
    ]

    grid, x_labels, y_labels = [], [], []
    for x in range(int(X_MIN), int(X_MAX) + 1, 20):
        grid.append(f"M{px(x)} {TOP}V{bottom}")
        x_labels.append(f'<text x="{px(x)}" y="{_fmt(TOP + plot_h + 18)}">{x}</text>')
    for y in range(int(y_min), int(y_max) + 1, 10):
        grid.append(f"M{LEFT} {py(y)}H{right}")
        y_labels.append(f'<text x="{LEFT - 8}" y="{_fmt(float(py(y)) + 4)}">{y}</text>')
    out.append(f'<path d="{"".join(grid)}" stroke="#e3e3e3" stroke-width="1"/>')
    out.append('<g text-anchor="middle" fill="#333">' + "".join(x_labels) + "</g>")
    out.append('<g text-anchor="end" fill="#333">' + "".join(y_labels) + "</g>")
    out.append(f'<rect x="{LEFT}" y="{TOP}" width="{plot_w}" height="{plot_h}" '
               f'fill="none" stroke="#555"/>')

    out.append(f'<path d="M{px(ANNOUNCED_END)} {TOP}V{bottom}" stroke="#888" '
               f'stroke-dasharray="4 3"/>')
    out.append(f'<text x="{_fmt(float(px(ANNOUNCED_END)) + 6)}" y="{TOP + 16}" fill="#555" '
               f'font-size="11">announced range</text>')
    out.append(f'<text x="{_fmt(float(px(ANNOUNCED_END)) + 6)}" y="{TOP + 30}" fill="#555" '
               f'font-size="11">ends at 700 nm</text>')

    # The three splines, bracketed above the plot, and their joins as dotted
    # lines through it, named at the foot.
    bounds = (X_MIN,) + JOINS + (X_MAX,)
    bracket_y, tick = TOP - 10, 5
    for number, (start, end) in enumerate(zip(bounds, bounds[1:]), 1):
        left, right_end = float(px(start)) + 1.5, float(px(end)) - 1.5
        out.append(f'<path d="M{_fmt(left)} {bracket_y + tick}V{bracket_y}'
                   f'H{_fmt(right_end)}V{bracket_y + tick}" fill="none" stroke="#555"/>')
        out.append(f'<text x="{_fmt((left + right_end) / 2)}" y="{bracket_y - 5}" '
                   f'text-anchor="middle" fill="#333">spline {number}: '
                   f'{start:g}\u2013{end:g} nm</text>')
    for join in JOINS:
        out.append(f'<path d="M{px(join)} {TOP}V{bottom}" stroke="#555" stroke-width="1.2" '
                   f'stroke-dasharray="1.5 3"/>')
        out.append(f'<text x="{_fmt(float(px(join)) + 5)}" y="{_fmt(TOP + plot_h - 8)}" '
                   f'fill="#333" font-size="11">join at {join:g} nm</text>')

    # Knots first, small and hollow, so that the curve runs over them.
    rings = "".join(f'<circle cx="{px(x)}" cy="{py(y)}" r="2.2"/>' for x, y in knot_points)
    out.append(f'<g fill="#fff" stroke="#c0392b" stroke-width="1.1">{rings}</g>')
    path = "M" + " ".join(f"{px(x)} {py(y)}" for x, y in points)
    out.append(f'<path d="{path}" fill="none" stroke="#1f5fbf" stroke-width="1.6" '
               f'stroke-linejoin="round"/>')
    # The joins: larger rings around the knot, which leave the curve visible.
    joins = "".join(f'<circle cx="{px(x)}" cy="{py(knot_value[x])}" r="5.5"/>' for x in JOINS)
    out.append(f'<g fill="none" stroke="#222" stroke-width="1.4">{joins}</g>')
    out.append(f'<text x="{_fmt(float(px(peak_x)) + 10)}" y="{_fmt(float(py(peak_y)) + 4)}" '
               f'fill="#222">peak {peak_y:.2f} at {peak_x:g} nm</text>')

    out.append(f'<text x="{WIDTH // 2}" y="22" text-anchor="middle" font-size="16" '
               f'font-weight="bold">Brightness of a full colour over wavelength</text>')
    out.append(f'<text x="{WIDTH // 2}" y="40" text-anchor="middle" fill="#555">'
               f'{len(rows)} cubic segments of three interpolation splines; '
               f'rings mark the {len(rows) + 1} segment bounds</text>')
    out.append(f'<text x="{LEFT + plot_w // 2}" y="{HEIGHT - 14}" text-anchor="middle">'
               f"wavelength [nm]</text>")
    out.append(f'<text transform="translate(18 {TOP + plot_h // 2}) rotate(-90)" '
               f'text-anchor="middle">relative brightness (peak {peak_y:.2f} at '
               f'{peak_x:g} nm)</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def render_icon(rows, size):
    """The icon at one size, in pixels."""
    left, right, top, bottom = (share * size for share in (ICON_LEFT, ICON_RIGHT, ICON_TOP,
                                                           ICON_BOTTOM))
    line = " ".join(f"{left + (x - X_MIN) / (X_MAX - X_MIN) * (right - left):.2f} "
                    f"{bottom - y / 100 * (bottom - top):.2f}" for x, y in curve_points(rows))
    stops = "".join(f'<stop offset="{(nm - X_MIN) / (X_MAX - X_MIN):.3f}" stop-color="{colour}"/>'
                    for nm, colour in SPECTRUM.items())
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}">\n'
            f'<linearGradient id="spectrum" gradientUnits="userSpaceOnUse" x1="{left:g}" '
            f'x2="{right:g}">{stops}</linearGradient>\n'
            f'<rect width="{size}" height="{size}" rx="{ICON_CORNER * size:g}" '
            f'fill="{ICON_TILE}"/>\n'
            f'<path d="M{line}V{bottom:g}H{left:g}Z" fill="url(#spectrum)"/>\n'
            f'<path d="M{line}" fill="none" stroke="#fff" stroke-width="{ICON_LINE[size]}" '
            f'stroke-linecap="round" stroke-linejoin="round"/>\n</svg>\n')


def write_icon(rows, out):
    """The .ico, and beside it each size's SVG and PNG."""
    pngs = []
    for size in ICON_LINE:
        svg = out.with_name(f"{out.stem}-{size}.svg")
        svg.write_text(render_icon(rows, size), encoding="utf-8")
        pngs.append(svg.with_suffix(".png"))
        subprocess.run(["rsvg-convert", "--output", pngs[-1], svg], check=True)
    subprocess.run(["icotool", "--create", "--output", out, *pngs[:-1], "--raw", pngs[-1]],
                   check=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--table", default=ROOT / "curve" / "segment_data.inc",
                        help="the constant table in C++ source (default: %(default)s)")
    parser.add_argument("--out", default=ROOT / "docs" / "curve.svg",
                        help="where to write the SVG (default: %(default)s)")
    parser.add_argument("--icon", type=Path, help="write the icon here instead")
    args = parser.parse_args(argv)
    if args.icon:
        return write_icon(read_table(args.table), args.icon)
    svg = render_svg(read_table(args.table))
    Path(args.out).write_text(svg, encoding="utf-8")
    print(f"wrote {args.out} ({len(svg.encode('utf-8'))} bytes)")


if __name__ == "__main__":
    main()
