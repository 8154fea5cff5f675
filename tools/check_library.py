#!/usr/bin/python3
# Debian's Python 3, which runs the module's check with python3-numpy.
"""Tries the library as its users do, on one table of wavelengths.

Usage:
    tools/check_library.py PREFIX
    tools/check_library.py --run COMMAND...
    tools/check_library.py --pip LIBRARY

PREFIX is where the library is installed (`cmake --install BUILD --prefix
PREFIX`, or /usr once the packages are). With only the files installed
there, this builds tests/library_user/user.c with `pkg-config --cflags
--libs helligkeit` and the CMake project tests/library_user with
find_package(helligkeit), against the shared and the static library, runs
the three programs, and runs tests/library_user/user.py with the Python
module; the program, where PREFIX has it, is run on every wavelength of the
table too. The shared library must export the helligkeit_* functions alone
and need no C++ library.

--run runs a user.c built elsewhere (COMMAND ends with the program; a
Windows program under Wine, another machine's under qemu).

--pip installs the Python module as Python users do, offline, each time in
a fresh virtual environment of Debian's Python 3 that sees Debian's numpy
and setuptools: `pip install --no-build-isolation .` in a copy of the
files a clone of the tree holds, then the source distribution that
tools/sdist.py makes there, and runs user.py with each; it compares with
the shared library LIBRARY (through ctypes).

Every result must be the double the table's own scan of the rows of
curve/segment_data.inc gives, bit for bit, in the library's single and
array calls alike, and read with three decimals it must make the report
line the program prints for that wavelength. The table: every segment
bound with the tabulated brightness there, wavelengths inside segments,
the doubles next to both ends, outside the curve, NaN and the infinities.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

from generate_segments import evaluate, knots
from plot_curve import read_table
from tool_support import ROOT, check, output, project_version, run

sys.path.insert(0, str(ROOT / "tests"))
from test_support import report_text, utf16, whole_output  # noqa: E402

USER = ROOT / "tests" / "library_user"

# Beyond the bounds: (typed, shown, brightness) as the program reads the
# typed text and shows its report line.
WAVELENGTHS = [
    ("555.5", "555.50", "87.285"),
    ("600", "600.00", "55.328"),
    ("750", "750.00", "34.426"),
    # Within 1e-7 of a rounding boundary: right only where every operation
    # rounds to a double.
    ("490.1343", "490.13", "45.116"),
    ("490.96915", "490.97", "47.893"),
    ("379.999", "380.00", "0.000"),
    ("379.99999999999994", "380.00", "0.000"),
    ("780.0000000000001", "780.00", "0.000"),
    ("-0", "0.00", "0.000"),
    ("5e-324", "0.00", "0.000"),
    ("-550", "-550.00", "0.000"),
    ("1e39", "+Infinity", "0.000"),
    ("-Infinity", "-Infinity", "0.000"),
    ("NaN", "NaN", "0.000"),
]


def table():
    """Every row as (typed, shown, brightness), the bounds first."""
    bounds = [(str(nm), f"{nm}.00", f"{float(value):.3f}") for nm, value in knots()]
    return bounds + WAVELENGTHS


def bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def scan(rows, nm):
    """The brightness by testing every row, each match overwriting it."""
    result = 0.0
    for row in rows:
        if not row[0] > nm and row[1] >= nm:
            result = evaluate(row, nm)
    return result


def check_user(name, command, env=None):
    """Runs a user program on the table and compares what it prints."""
    rows = read_table(ROOT / "curve" / "segment_data.inc")
    wavelengths = table()
    arguments = [f"{bits(float(typed)):016x}" for typed, _, _ in wavelengths]
    printed = subprocess.run([str(word) for word in command] + arguments, env=env, check=True,
                             stdout=subprocess.PIPE, text=True).stdout.splitlines()
    version = project_version()
    check(printed and printed[0].split() == [version, version],
          f"{name}: versions {printed[:1]}, expected {version} for the library and the header")
    check(len(printed) == len(wavelengths) + 1, f"{name}: {len(printed) - 1} results, "
          f"expected {len(wavelengths)}")
    for (typed, shown, brightness), line in zip(wavelengths, printed[1:]):
        expected = bits(scan(rows, float(typed)))
        single, array = (int(word, 16) for word in line.split())
        check(single == expected and array == expected,
              f"{name}: at {typed} nm gives {single:016x} (single) and {array:016x} (array), "
              f"expected {expected:016x}")
        value = struct.unpack("<d", struct.pack("<Q", single))[0]
        check(report_text(shown, f"{value:.3f}") == report_text(shown, brightness),
              f"{name}: at {typed} nm the report line would show {value:.3f}, not {brightness}")
    print(f"{name}: {len(wavelengths)} wavelengths as expected")


def check_program(program):
    """The installed program reports the table's brightness at each wavelength."""
    for typed, shown, brightness in table():
        result = subprocess.run([program], input=utf16(typed + "\r\n"), capture_output=True,
                                check=True)
        check(result.stdout == whole_output(shown, brightness),
              f"{program} on {typed} wrote {result.stdout!r}")
    print(f"{program}: {len(table())} report lines as expected")


def exported_names():
    """The functions the library exports, as curve/helligkeit.def lists them."""
    lines = (ROOT / "curve" / "helligkeit.def").read_text().splitlines()
    return sorted(line.strip() for line in lines if line.startswith(" ") and line.strip())


def check_exports(library):
    """The shared library (of any machine: readelf reads them all) is
    libhelligkeit.so.1 by its SONAME, exports the C interface alone, and
    needs no C++ library."""
    symbols = [line.split() for line in output("readelf", "-W", "--dyn-syms", library).splitlines()]
    exported = sorted(words[7] for words in symbols
                      if len(words) > 7 and words[0][:-1].isdigit() and words[4] != "LOCAL"
                      and words[6] != "UND")
    check(exported == exported_names() and all(name.startswith("helligkeit_") for name in exported),
          f"{library} exports {exported}, not {exported_names()}")
    dynamic = output("readelf", "-d", library)
    needed = re.findall(r"\(NEEDED\).*\[(.+)\]", dynamic)
    soname = re.findall(r"\(SONAME\).*\[(.+)\]", dynamic)
    check(soname == ["libhelligkeit.so.1"], f"{library} has the SONAME {soname}")
    check(needed == ["libc.so.6"], f"{library} needs {needed}, expected libc.so.6 alone")
    print(f"{library.name}: {soname[0]}, exports {', '.join(exported)}; needs {', '.join(needed)}")


def check_prefix(prefix, work):
    pc_files = [path for pattern in ("lib*/pkgconfig", "lib/*/pkgconfig")
                for path in sorted(prefix.glob(f"{pattern}/helligkeit.pc"))]
    check(pc_files, f"no helligkeit.pc under {prefix}")
    env = {**os.environ, "PKG_CONFIG_PATH": str(pc_files[0].parent)}
    pkg_config = ["pkg-config"]
    libdir = Path(subprocess.run(pkg_config + ["--variable=libdir", "helligkeit"], env=env,
                                 check=True, capture_output=True, text=True).stdout.strip())
    check(subprocess.run(pkg_config + ["--modversion", "helligkeit"], env=env, check=True,
                         capture_output=True, text=True).stdout.strip() == project_version(),
          "helligkeit.pc is not for the project's version")
    check_exports(libdir / "libhelligkeit.so.1")
    env["LD_LIBRARY_PATH"] = str(libdir)

    flags = subprocess.run(pkg_config + ["--cflags", "--libs", "helligkeit"], env=env,
                           check=True, capture_output=True, text=True).stdout.split()
    run("cc", "-std=c99", "-Wall", "-Wextra", "-Wpedantic", "-Werror", USER / "user.c",
        "-o", work / "user_pkgconfig", *flags)
    check_user("C with pkg-config", [work / "user_pkgconfig"], env)

    run("cmake", "-S", USER, "-B", work / "cmake", f"-DCMAKE_PREFIX_PATH={prefix}",
        stdout=subprocess.DEVNULL)
    run("cmake", "--build", work / "cmake", stdout=subprocess.DEVNULL)
    check_user("C with CMake, shared", [work / "cmake" / "user_shared"], env)
    check_user("C with CMake, static", [work / "cmake" / "user_static"], env)

    modules = prefix / "lib" / "python3" / "dist-packages"
    check((modules / "helligkeit" / "__init__.py").is_file(), f"no Python module in {modules}")
    check_user("Python", ["/usr/bin/python3", USER / "user.py"],
               {**env, "PYTHONPATH": str(modules)})
    # Where the system's loader does not find the library, importing the
    # module raises ImportError, which says what to install.
    if "libhelligkeit.so.1 " not in output("/sbin/ldconfig", "-p"):
        alone = {**os.environ, "PYTHONPATH": str(modules)}
        alone.pop("LD_LIBRARY_PATH", None)
        imported = subprocess.run(["/usr/bin/python3", "-c", "import helligkeit"], env=alone,
                                  capture_output=True, text=True)
        check(imported.returncode != 0 and "\nImportError: " in imported.stderr
              and "apt-get install libhelligkeit1" in imported.stderr,
              f"the module without its library: {imported.stderr[-400:]}")
        print("Python: without the library, ImportError says what to install")

    program = prefix / "bin" / "helligkeit"
    if program.exists():
        check_program(program)


def check_pip(library, work):
    """The module installed with pip from a copy of the tree, and from its
    source distribution, each into a virtual environment of its own."""
    clone = work / "clone"
    listed = output("git", "-C", ROOT, "ls-files", "-z", "--cached", "--others",
                    "--exclude-standard")
    for name in filter(None, listed.split("\0")):
        if (ROOT / name).is_file():
            (clone / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, clone / name)
    env = {**os.environ, "HELLIGKEIT_LIBRARY": str(library), "PIP_DISABLE_PIP_VERSION_CHECK": "1",
           "SOURCE_DATE_EPOCH": output("git", "-C", ROOT, "log", "-1", "--format=%ct").strip()}
    run("/usr/bin/python3", clone / "tools" / "sdist.py", work / "dist", env=env,
        stdout=subprocess.DEVNULL)
    sdist = next((work / "dist").glob("helligkeit-*.tar.gz"))
    for name, source in (("pip install .", "."), (f"pip install {sdist.name}", sdist)):
        venv = work / f"venv-{len(name)}"
        run("/usr/bin/python3", "-m", "venv", "--system-site-packages", venv)
        run(venv / "bin" / "pip", "install", "--quiet", "--no-build-isolation", "--no-index",
            "--no-cache-dir", source, cwd=clone, env=env)
        check_user(f"Python from {name}", [venv / "bin" / "python", USER / "user.py"], env)


def main(argv):
    if len(argv) > 2 and argv[1] == "--run":
        check_user(Path(argv[-1]).name, argv[2:])
        return 0
    if len(argv) == 3 and argv[1] == "--pip":
        with tempfile.TemporaryDirectory(prefix="helligkeit-pip.") as work:
            check_pip(Path(argv[2]).resolve(), Path(work))
        return 0
    if len(argv) != 2 or argv[1].startswith("-"):
        print(__doc__.split("Usage:\n")[1].split("\n\n")[0], file=sys.stderr)
        return 2
    prefix = Path(argv[1]).resolve()
    with tempfile.TemporaryDirectory(prefix="helligkeit-library.") as work:
        check_prefix(prefix, Path(work))
    print(f"the library under {prefix}: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
