#!/usr/bin/python3
# Debian's Python 3, with python3-numpy and python3-scipy.
"""Times the library's array call against a plain copy and against what a
Python user would use instead, side by side in one run, on the same array
of wavelengths into the same output array:

  library  one helligkeit_brightness_n call (through ctypes)
  memcpy   the C library's memcpy of the wavelengths into the output: the
           floor, moving the same bytes at the memory's speed
  numpy    searchsorted on the lower bounds, then the cubic as arrays, in
           the library's order of operations, 0 outside the curve
  PPoly    scipy.interpolate.PPoly over the same 87 segments (coefficients
           in the offset from each lower bound, converted exactly), NaN
           outside the curve made 0

Each round times the four once each, in turn; the figures are the medians
over the rounds, and each ratio the median of the rounds' ratios. Targets:
the library within 1.25 times memcpy, and at least 20 times as fast as
numpy and PPoly. Before timing, the library's results are compared with
helligkeit_brightness() of every element, bit for bit, and numpy's and
PPoly's with the library's.

Then bench/kernel_bench.cpp, built with c++ (or $CXX) against the static
library beside LIBRARY, says which kernel the array call runs, times each
kernel the processor has against memcpy on 10,000 wavelengths (in the
cache) and on COUNT (from memory), and the single call in a loop of
10,000,000.

Then the module's ufunc against its own references, in paired rounds too:

  single   brightness(550.0) against numpy.sqrt(550.0), each called
           CALLS times a round, the two in turns that alternate which
           goes first, 4 x ROUNDS rounds: the ufunc machinery's cost on a
           Python float. Target: no slower (ratio at most 1.0). Beside
           it, where valgrind is installed, the instructions of one call
           of each (callgrind: the difference between 30,000 calls and
           10,000), the steady figure on a busy machine.
  array    brightness(x, out=y) against helligkeit_brightness_n called
           through ctypes on the same arrays: what the ufunc adds to the C
           function. Target: ratio at most 1.1. Beside it, brightness(x),
           which also makes a fresh output array.

Usage:
    bench/library_bench.py [LIBRARY]   (default: build/curve/libhelligkeit.so.1)
    ROUNDS=41 COUNT=1000000 CALLS=100000 bench/library_bench.py ...

The module is the build's, build/python (its extension linked against
build/curve/libhelligkeit.so.1); LIBRARY is loaded through ctypes for the
array call's reference.

Run by hand on a quiet machine after `make test`; it is no test and exits 0
once the figures are printed.
"""

import ctypes
import os
import platform
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from fractions import Fraction
from pathlib import Path

import numpy
import scipy
from scipy.interpolate import PPoly

ROOT = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "tools"), str(ROOT / "build" / "python")]
from plot_curve import read_table  # noqa: E402

LIBRARY = Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build/curve/libhelligkeit.so.1")
ROUNDS = int(os.environ.get("ROUNDS", "21"))
COUNT = int(os.environ.get("COUNT", "10000000"))
# Largest ratio of the library's time to memcpy's; smallest of the others'
# times to the library's.
TARGET_TO_COPY = 1.25
TARGET_OTHERS = 20.0

if not LIBRARY.exists():
    sys.exit(f"library_bench: no library at {LIBRARY} (build it first, or pass its path)")
LIB = ctypes.CDLL(str(LIBRARY))
LIB.helligkeit_brightness.argtypes = [ctypes.c_double]
LIB.helligkeit_brightness.restype = ctypes.c_double
LIB.helligkeit_brightness_n.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
LIB.helligkeit_brightness_n.restype = None
LIB.helligkeit_version.restype = ctypes.c_char_p
LIBC = ctypes.CDLL(None)
LIBC.memcpy.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
LIBC.memcpy.restype = ctypes.c_void_p
CALLS = int(os.environ.get("CALLS", "50000"))
SINGLE_TARGET = 1.0
ARRAY_TARGET = 1.1
import helligkeit  # noqa: E402

ROWS = numpy.array(read_table(ROOT / "curve" / "segment_data.inc"))
LOWER, UPPER, C0, C1, C2, C3 = ROWS.T


def with_numpy(x):
    """The last row whose lower bound is not above x, its cubic, and 0 where
    no row holds x (below, above, NaN)."""
    k = numpy.searchsorted(LOWER, x, side="right") - 1
    numpy.clip(k, 0, len(LOWER) - 1, out=k)
    with numpy.errstate(invalid="ignore"):
        cubic = ((C0[k] + C1[k] * x) + (C2[k] * x) * x) + ((C3[k] * x) * x) * x
        return numpy.where((x >= LOWER[0]) & (x <= UPPER[-1]), cubic, 0.0)


def local_coefficients():
    """Each row's cubic in powers of (x - lower), highest first, as PPoly
    takes it: exact from the stored doubles, then rounded."""
    columns = []
    for lower, _, *c in ROWS:
        a = Fraction(lower)
        c0, c1, c2, c3 = (Fraction(value) for value in c)
        columns.append([c3, c2 + 3 * c3 * a, c1 + 2 * c2 * a + 3 * c3 * a * a,
                        c0 + c1 * a + c2 * a * a + c3 * a * a * a])
    return numpy.array(columns, dtype=float).T


PIECES = PPoly(local_coefficients(), numpy.append(LOWER, UPPER[-1]), extrapolate=False)


def with_ppoly(x):
    return numpy.nan_to_num(PIECES(x), nan=0.0)


def with_library(x, out):
    LIB.helligkeit_brightness_n(x.ctypes.data, out.ctypes.data, x.size)


def with_memcpy(x, out):
    LIBC.memcpy(out.ctypes.data, x.ctypes.data, x.nbytes)


def kernel_figures():
    """Builds bench/kernel_bench.cpp against the static library beside
    LIBRARY and runs it; its lines, or why there are none."""
    static = LIBRARY.parent / "libhelligkeit.a"
    if not static.exists():
        return [f"kernels: not timed, no static library at {static}"]
    with tempfile.TemporaryDirectory() as folder:
        program = Path(folder) / "kernel_bench"
        # The build's own rule for the cubic: no fused multiply-add.
        build = [*shlex.split(os.environ.get("CXX", "c++")), "-std=c++20", "-O2",
                 "-ffp-contract=off", f"-I{ROOT}", f"-I{ROOT / 'curve'}",
                 str(ROOT / "bench" / "kernel_bench.cpp"), str(static), "-o", str(program)]
        built = subprocess.run(build, capture_output=True, text=True)
        if built.returncode != 0:
            return [f"kernels: not timed, {shlex.join(build)} failed:", built.stderr]
        return subprocess.run([str(program), str(ROUNDS), str(COUNT)], capture_output=True,
                              text=True, check=True).stdout.splitlines()


def cpu_model():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.partition(":")[2].strip()
    return platform.machine()


def bits(array):
    return array.view(numpy.uint64)


def main():
    x = numpy.random.default_rng(29).uniform(370.0, 790.0, COUNT)
    out = numpy.empty_like(x)
    methods = {"library": lambda: with_library(x, out), "memcpy": lambda: with_memcpy(x, out),
               "numpy": lambda: with_numpy(x), "PPoly": lambda: with_ppoly(x)}

    print(f"helligkeit library benchmark, {time.strftime('%Y-%m-%d %H:%M:%S %Z')}")
    print(f"library:  {LIBRARY} (version {LIB.helligkeit_version().decode()})")
    print(f"machine:  {platform.platform()}; {os.cpu_count()} CPUs; {cpu_model()}")
    print(f"python:   {platform.python_version()}, numpy {numpy.__version__}, "
          f"scipy {scipy.__version__}")
    print(f"input:    {COUNT:,} wavelengths, uniform over 370-790 nm (seed 29), "
          f"{ROUNDS} rounds")
    kernels = kernel_figures()
    print(kernels[0])
    print()

    with_library(x, out)
    ours = out.copy()
    single = numpy.fromiter((LIB.helligkeit_brightness(v) for v in x.tolist()), float, COUNT)
    same = numpy.count_nonzero(bits(ours) == bits(single))
    print(f"check: helligkeit_brightness_n equals helligkeit_brightness bit for bit on "
          f"{same:,} of {COUNT:,} wavelengths{'' if same == COUNT else '  <-- MISMATCH'}")
    for name in ("numpy", "PPoly"):
        theirs = methods[name]()
        same = numpy.count_nonzero(bits(theirs) == bits(ours))
        print(f"check: {name} gives the library's double on {same:,} of {COUNT:,}; "
              f"largest difference {numpy.max(numpy.abs(theirs - ours)):.3g}")
    print()

    seconds = {name: [] for name in methods}
    for _ in range(ROUNDS):
        for name, method in methods.items():
            start = time.perf_counter()
            method()
            seconds[name].append(time.perf_counter() - start)

    def ns(name):
        return statistics.median(seconds[name]) / COUNT * 1e9

    print(f"{'method':<10} {'ns/wavelength':>14} {'min':>8} {'max':>8} "
          f"{'ratio':>17} {'target':>8}  result")
    for name in methods:
        low, high = (f(seconds[name]) / COUNT * 1e9 for f in (min, max))
        if name == "library":
            print(f"{name:<10} {ns(name):14.2f} {low:8.2f} {high:8.2f}")
            continue
        if name == "memcpy":
            # How much longer the library takes than the copy.
            ratios = [ours / copy for ours, copy in zip(seconds["library"], seconds[name])]
            what, met = "library/memcpy", statistics.median(ratios) <= TARGET_TO_COPY
            target = f"<= {TARGET_TO_COPY}"
        else:
            ratios = [theirs / ours for theirs, ours in zip(seconds[name], seconds["library"])]
            what, met = f"{name}/library", statistics.median(ratios) >= TARGET_OTHERS
            target = f">= {TARGET_OTHERS:g}"
        print(f"{name:<10} {ns(name):14.2f} {low:8.2f} {high:8.2f} "
              f"{what + ' ' + format(statistics.median(ratios), '.2f'):>17} {target:>8}  "
              f"{'met' if met else 'MISSED'} "
              f"(rounds' ratios {min(ratios):.2f}-{max(ratios):.2f})")
    print()
    print("\n".join(kernels[1:]))
    print()
    ufunc_against_references(x)
    return 0


def paired_rounds(methods, rounds=ROUNDS, alternate=False):
    """Seconds of each method in each round, the methods in turn (where
    `alternate`, in reverse order every other round)."""
    seconds = {name: [] for name in methods}
    for number in range(rounds):
        order = list(methods.items())
        if alternate and number % 2:
            order.reverse()
        for name, method in order:
            start = time.perf_counter()
            method()
            seconds[name].append(time.perf_counter() - start)
    return seconds


def instructions_per_call(function):
    """The instructions of one call function(550.0), as callgrind counts a
    Python that makes 30,000 calls less one that makes 10,000; None
    without valgrind."""
    if not shutil.which("valgrind"):
        return None
    counts = []
    for calls in (10000, 30000):
        script = (f"import sys; sys.path[:0] = [{str(ROOT / 'build' / 'python')!r}]\n"
                  f"import numpy, helligkeit\nf = {function}\nf(550.0)\n"
                  f"for _ in range({calls}): f(550.0)\n")
        done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                               sys.executable, "-c", script], capture_output=True, text=True)
        counts.append(int(re.search(r"Collected : (\d+)", done.stderr)[1]))
    return (counts[1] - counts[0]) / 20000


def print_pairs(seconds, unit, per, reference, targets):
    """Each method's median, fastest and slowest round in `unit` per item,
    and the median of the rounds' ratios to `reference`, against the
    method's target where `targets` has one."""
    print(f"{'method':<26} {unit:>10} {'min':>8} {'max':>8} {'ratio to ' + reference:>24} "
          f"{'target':>8}  result")
    for name, rounds in seconds.items():
        median, low, high = (f(rounds) / per * 1e9 for f in (statistics.median, min, max))
        if name == reference:
            print(f"{name:<26} {median:10.2f} {low:8.2f} {high:8.2f}")
            continue
        ratios = [ours / theirs for ours, theirs in zip(rounds, seconds[reference])]
        ratio = statistics.median(ratios)
        target = targets.get(name)
        verdict = "" if target is None else "met" if ratio <= target else "MISSED"
        shown_target = "" if target is None else f"<= {target}"
        print(f"{name:<26} {median:10.2f} {low:8.2f} {high:8.2f} {ratio:24.3f} "
              f"{shown_target:>8}  {verdict} (rounds' ratios {min(ratios):.3f}-{max(ratios):.3f})")


def ufunc_against_references(x):
    """The ufunc on a Python float against numpy.sqrt, and on the whole
    array against the C function called through ctypes."""
    out, reference_out = numpy.empty_like(x), numpy.empty_like(x)
    LIB.helligkeit_brightness_n(x.ctypes.data, reference_out.ctypes.data, x.size)
    helligkeit.brightness(x, out=out)
    same = numpy.count_nonzero(bits(out) == bits(reference_out))
    print(f"check: the ufunc gives helligkeit_brightness_n's double on {same:,} of {x.size:,}"
          f"{'' if same == x.size else '  <-- MISMATCH'}")
    print()

    brightness, sqrt, calls = helligkeit.brightness, numpy.sqrt, range(CALLS)

    def ufunc_single():
        for _ in calls:
            brightness(550.0)

    def sqrt_single():
        for _ in calls:
            sqrt(550.0)

    print(f"single calls on a Python float, {CALLS:,} a round, {4 * ROUNDS} rounds:")
    print_pairs(paired_rounds({"numpy.sqrt(550.0)": sqrt_single,
                               "brightness(550.0)": ufunc_single}, 4 * ROUNDS, alternate=True),
                "ns/call", CALLS, "numpy.sqrt(550.0)", {"brightness(550.0)": SINGLE_TARGET})
    theirs, ours = (instructions_per_call(f) for f in ("numpy.sqrt", "helligkeit.brightness"))
    if theirs:
        print(f"instructions per call (callgrind): numpy.sqrt(550.0) {theirs:,.0f}, "
              f"brightness(550.0) {ours:,.0f}, ratio {ours / theirs:.3f}  "
              f"{'met' if ours <= theirs * SINGLE_TARGET else 'MISSED'}")
    print()

    address, result, count = x.ctypes.data, reference_out.ctypes.data, x.size
    print(f"the array call on {count:,} wavelengths, {ROUNDS} rounds:")
    print_pairs(paired_rounds({
        "C through ctypes": lambda: LIB.helligkeit_brightness_n(address, result, count),
        "brightness(x, out=y)": lambda: brightness(x, out=out),
        "brightness(x), new array": lambda: brightness(x),
    }), "ns/elem", count, "C through ctypes", {"brightness(x, out=y)": ARRAY_TARGET})


if __name__ == "__main__":
    sys.exit(main())
