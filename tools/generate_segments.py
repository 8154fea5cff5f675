#!/usr/bin/env python3
"""Generates curve/segment_data.inc, the brightness curve's constant block.

The curve is three cubic interpolation splines through tabulated brightness
values (the knots below), stored as 87 rows of six doubles:
lower bound, upper bound, c0, c1, c2, c3, with the cubic in power form in the
absolute wavelength: c0 + c1*x + c2*x^2 + c3*x^3.

  rows  1-31  knots 380..493, natural (second derivative 0 at both ends)
  rows 32-53  knots 493..570, natural
  rows 54-87  knots 570..700 and 780, second derivative 0 at 570 and, at 780,
              the second derivative of the pinned row 87

Near 493 and 570 nm the power-form coefficients reach ~1e8 and cancel to a
brightness of ~60, so everything is solved and expanded in exact rational
arithmetic and only the final coefficients are rounded to doubles. Nine rows
are pinned: the table must hold them exactly as given below, digit for digit,
and the computed rows must agree with them, which checks the whole
construction.

Usage:
  generate_segments.py OUTPUT        write the constant block to OUTPUT
  generate_segments.py --check FILE  exit 1 if regenerating would change FILE
"""

import difflib
import sys
from fractions import Fraction

from tool_support import check, fail

REGENERATE_COMMAND = "python3 tools/generate_segments.py curve/segment_data.inc"


def _every(first, last, step):
    return list(range(first, last + 1, step))


# (wavelengths in nm, brightness values as printed), in ascending order.
KNOT_GROUPS = [
    (_every(380, 460, 5),
     "0.61 0.60 0.60 0.59 0.58 0.58 0.58 0.58 0.62 0.70 0.84 1.04 1.32 1.71 2.14 2.74 3.59"),
    ([463, 465, 470, 475, 480, 482, 485], "4.43 4.83 7.05 10.78 17.08 20.63 27.44"),
    (_every(486, 495, 1), "30.24 33.34 36.77 40.55 44.69 48.04 54.50 60.21 65.65 65.94"),
    ([497, 500], "66.51 67.32"),
    (_every(505, 565, 5),
     "68.56 69.85 71.24 72.71 74.27 75.94 77.68 79.56 81.68 84.12 86.97 90.42 94.60"),
    (_every(566, 575, 1), "95.54 96.53 97.56 98.64 99.24 98.10 96.94 95.62 94.10 92.44"),
    ([578, 580, 583, 585, 588, 590, 595, 599],
     "87.18 83.55 78.46 75.17 70.41 67.44 60.79 56.34"),
    (_every(605, 700, 5),
     "50.78 47.16 44.58 42.15 40.45 39.11 38.01 37.12 36.41 35.82 "
     "35.48 35.19 35.00 34.85 34.72 34.61 34.51 34.44 34.40 34.39"),
    ([780], "34.39"),
]

# Pinned rows, which the table holds exactly as given here:
# row -> (lower, upper, c0, c1, c2, c3).
PINNED_ROWS = {
    1: ("380", "385", "-1468.5737123003337", "11.604158442938205",
        "-0.030544284930915995", "2.6793232396e-05"),
    17: ("460", "463", "785671.3003129521", "-5111.0817886918985",
         "11.082562654880277", "-0.008009784101332998"),
    18: ("463", "465", "-1573777.0271734856", "10176.920333250462",
         "-21.93688037307298", "0.015762313111016"),
    31: ("492", "493", "-52834793.95619169", "321499.7305969523",
         "-652.1185831958112", "0.4409185822824961"),
    32: ("493", "494", "161497529.8632202", "-982756.7986947366",
         "1993.4352667771823", "-1.347826414318582"),
    53: ("569", "570", "-24380409.20647403", "128317.52880325519",
         "-225.11764991404166", "0.13164774848774402"),
    54: ("570", "571", "-543324.4386871189", "2862.4105004327444",
         "-5.023777961955427", "0.0029378818490969996"),
    86: ("695", "700", "16087.19664814297", "-68.75744555846484",
         "0.09816814340921302", "-4.6720072967e-05"),
    87: ("700", "780", "272.6832252812561", "-0.9809594604895141",
         "0.0013445918406760002", "-6.136198390000001e-07"),
}

ROW_COUNT = 87
MAX_RELATIVE_DIFFERENCE = 1e-8  # exact rows against the pinned rows
MAX_KNOT_ERROR = 3e-7  # stored rows, evaluated in doubles, against the knots


def knots():
    """All 88 knots as (wavelength, exact value) with integer wavelengths."""
    result = []
    for wavelengths, values in KNOT_GROUPS:
        values = values.split()
        assert len(wavelengths) == len(values)
        result.extend((x, Fraction(v)) for x, v in zip(wavelengths, values))
    return result


def second_derivatives(points, left, right):
    """Solves for the spline's second derivative at every knot, given its
    values `left` and `right` at the two ends (the usual tridiagonal system,
    by elimination, exactly)."""
    xs = [Fraction(x) for x, _ in points]
    ys = [y for _, y in points]
    n = len(points) - 1
    h = [xs[i + 1] - xs[i] for i in range(n)]
    slope = [(ys[i + 1] - ys[i]) / h[i] for i in range(n)]
    # Row i (1..n-1): h[i-1] m[i-1] + 2 (h[i-1] + h[i]) m[i] + h[i] m[i+1]
    #                 = 6 (slope[i] - slope[i-1]), with m[0], m[n] known.
    diagonal = [Fraction(0)] * (n + 1)
    rhs = [Fraction(0)] * (n + 1)
    for i in range(1, n):
        diagonal[i] = 2 * (h[i - 1] + h[i])
        rhs[i] = 6 * (slope[i] - slope[i - 1])
    rhs[1] -= h[0] * left
    rhs[n - 1] -= h[n - 1] * right
    for i in range(2, n):  # forward elimination of the sub-diagonal
        factor = h[i - 1] / diagonal[i - 1]
        diagonal[i] -= factor * h[i - 1]
        rhs[i] -= factor * rhs[i - 1]
    m = [Fraction(0)] * (n + 1)
    m[0], m[n] = left, right
    for i in range(n - 1, 0, -1):
        upper = h[i] * m[i + 1] if i + 1 < n else Fraction(0)
        m[i] = (rhs[i] - upper) / diagonal[i]
    return m


def poly_add(*polys):
    return [sum(terms, Fraction(0)) for terms in zip(*polys)]


def poly_scale(poly, factor):
    return [c * factor for c in poly]


def spline_rows(points, left, right):
    """The spline's pieces as (lower, upper, [c0, c1, c2, c3]) in power form
    in the absolute wavelength."""
    m = second_derivatives(points, left, right)
    rows = []
    for i in range(len(points) - 1):
        (a, ya), (b, yb) = points[i], points[i + 1]
        a, b = Fraction(a), Fraction(b)
        h = b - a
        # S(x) = m_a (b-x)^3/(6h) + m_b (x-a)^3/(6h)
        #        + (ya/h - m_a h/6) (b-x) + (yb/h - m_b h/6) (x-a)
        b_minus_x_cubed = [b**3, -3 * b**2, 3 * b, Fraction(-1)]
        x_minus_a_cubed = [-(a**3), 3 * a**2, -3 * a, Fraction(1)]
        b_minus_x = [b, Fraction(-1), Fraction(0), Fraction(0)]
        x_minus_a = [-a, Fraction(1), Fraction(0), Fraction(0)]
        coefficients = poly_add(
            poly_scale(b_minus_x_cubed, m[i] / (6 * h)),
            poly_scale(x_minus_a_cubed, m[i + 1] / (6 * h)),
            poly_scale(b_minus_x, ya / h - m[i] * h / 6),
            poly_scale(x_minus_a, yb / h - m[i + 1] * h / 6),
        )
        rows.append((a, b, coefficients))
    return rows


def exact_rows():
    """All 87 rows, exactly, as (lower, upper, [c0, c1, c2, c3])."""
    points = knots()
    wavelengths = [x for x, _ in points]
    first_join = wavelengths.index(493)
    second_join = wavelengths.index(570)
    # The third spline ends with the curvature the pinned row 87 has at 780,
    # taken from that row's stored doubles.
    c2 = Fraction(float(PINNED_ROWS[87][4]))
    c3 = Fraction(float(PINNED_ROWS[87][5]))
    curvature_at_780 = 2 * c2 + 6 * c3 * 780
    zero = Fraction(0)
    return (spline_rows(points[: first_join + 1], zero, zero)
            + spline_rows(points[first_join: second_join + 1], zero, zero)
            + spline_rows(points[second_join:], zero, curvature_at_780))


def stored_rows(exact):
    """The rows as doubles: each coefficient rounded to nearest, then the
    pinned rows exactly as given."""
    rows = [[float(lower), float(upper)] + [float(c) for c in coefficients]
            for lower, upper, coefficients in exact]
    for index, pinned_row in PINNED_ROWS.items():
        rows[index - 1] = [float(text) for text in pinned_row]
    return rows


def largest_relative_difference(exact):
    """Largest relative difference, over all coefficients, between the exact
    rows and the pinned rows of the same index, and the row it is in."""
    worst, worst_row = 0.0, 0
    for index, pinned_row in PINNED_ROWS.items():
        lower, upper, coefficients = exact[index - 1]
        if (lower, upper) != (Fraction(pinned_row[0]), Fraction(pinned_row[1])):
            fail(f"row {index} spans {lower}-{upper}, pinned {pinned_row[0]}-{pinned_row[1]}")
        for computed, text in zip(coefficients, pinned_row[2:]):
            pinned = Fraction(text)
            difference = float(abs(computed - pinned) / abs(pinned))
            if difference > worst:
                worst, worst_row = difference, index
    return worst, worst_row


def evaluate(row, x):
    """The cubic in double arithmetic, in the order the program uses."""
    _, _, c0, c1, c2, c3 = row
    return ((c0 + c1 * x) + (c2 * x) * x) + ((c3 * x) * x) * x


def largest_knot_error(rows):
    """Largest distance between a stored row, evaluated at either of its
    bounds, and the knot value there, and the row it is in."""
    value_at = dict(knots())
    worst, worst_row = 0.0, 0
    for index, row in enumerate(rows, start=1):
        for bound in row[:2]:
            brightness = evaluate(row, bound)
            error = float(abs(Fraction(brightness) - value_at[int(bound)]))
            if error > worst:
                worst, worst_row = error, index
    return worst, worst_row


def check_structure(rows):
    check(len(rows) == ROW_COUNT, f"{len(rows)} rows, expected {ROW_COUNT}")
    check(rows[0][0] == 380.0 and rows[-1][1] == 780.0, "the rows do not span 380-780 nm")
    for k, row in enumerate(rows, start=1):
        check(row[0] < row[1], f"row {k} has bounds out of order")
    for k, (row, following) in enumerate(zip(rows, rows[1:]), start=1):
        check(row[1] == following[0],
              f"row {k} ends at {row[1]} but row {k + 1} starts at {following[0]}")


def render(rows):
    lines = [
        "// Generated by tools/generate_segments.py; do not edit. Regenerate with",
        f"//   {REGENERATE_COMMAND}",
        "//",
        "// The brightness curve: 87 rows of six doubles each (lower bound, upper",
        "// bound, c0, c1, c2, c3), brightness = c0 + c1*x + c2*x^2 + c3*x^3 at x nm.",
        "// Every literal reads back as exactly the double the generator computed.",
    ]
    for k, row in enumerate(rows, start=1):
        lines.append(" ".join(repr(value) + "," for value in row) + f"  // row {k}")
    return "\n".join(lines) + "\n"


def generate():
    exact = exact_rows()
    rows = stored_rows(exact)
    check_structure(rows)
    relative, relative_row = largest_relative_difference(exact)
    knot_error, knot_row = largest_knot_error(rows)
    print(f"largest relative difference to the pinned rows: {relative:.3g} (row {relative_row})")
    print(f"largest knot error of the stored rows: {knot_error:.3g} (row {knot_row})")
    check(relative <= MAX_RELATIVE_DIFFERENCE, f"computed rows differ from the pinned rows by "
          f"{relative:.3g} (limit {MAX_RELATIVE_DIFFERENCE:g})")
    check(knot_error <= MAX_KNOT_ERROR,
          f"stored rows miss a knot value by {knot_error:.3g} (limit {MAX_KNOT_ERROR:g})")
    return render(rows)


def check_fresh(path, text):
    try:
        with open(path, encoding="utf-8", newline="") as file:
            current = file.read()
    except OSError as error:
        fail(f"cannot read {path}: {error}")
    if current == text:
        print(f"{path} is up to date")
        return 0
    diff = difflib.unified_diff(current.splitlines(), text.splitlines(),
                                fromfile=path, tofile="regenerated", lineterm="", n=0)
    print("\n".join(list(diff)[:20]), file=sys.stderr)
    print(f"{path} is stale; regenerate it with\n  {REGENERATE_COMMAND}", file=sys.stderr)
    return 1


def main(argv):
    if len(argv) == 2 and not argv[1].startswith("-"):
        text = generate()
        with open(argv[1], "w", encoding="utf-8", newline="\n") as file:
            file.write(text)
        return 0
    if len(argv) == 3 and argv[1] == "--check":
        return check_fresh(argv[2], generate())
    print(__doc__.split("Usage:\n")[1], file=sys.stderr, end="")
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
