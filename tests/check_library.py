#!/usr/bin/python3
# Debian's Python 3, which runs the module's check with python3-numpy.
"""Tries the library as its users do, on one table of wavelengths.

Usage:
    tests/check_library.py PREFIX
    tests/check_library.py --run COMMAND...
    tests/check_library.py --archive NM LIBRARY
    tests/check_library.py --pip LIBRARY

PREFIX is where the library is installed (`cmake --install BUILD --prefix
PREFIX`, or /usr once the packages are). With only the files installed
there, this builds tests/library_user/user.c with `pkg-config --cflags
--libs helligkeit` and, linked statically beside clash.c, with `pkg-config
--static`, and the CMake project tests/library_user with
find_package(helligkeit) (CMAKE_USERS), runs the programs, and runs
tests/library_user/user.py with the Python module; the program, where
PREFIX has it, is run on every wavelength of the table too. The shared
library must export the functions of helligkeit.h alone and need no C++
library; the static library must define no global name outside the
library's own (see --archive).

--run runs a user.c built elsewhere (COMMAND ends with the program; a
Windows program under Wine, another machine's under qemu).

--archive checks with NM (of the library's machine) that the static
LIBRARY defines no global symbol but the C interface's, helligkeit_*, and
C++ names in namespace helligkeit, so that none can clash with a program's.

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

from test_support import report_text, utf16, whole_output

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
from generate_segments import evaluate, knots  # noqa: E402
from plot_curve import read_table  # noqa: E402
from tool_support import ROOT, check, exports, output, project_version, run  # noqa: E402

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
    # The largest and the smallest result (helligkeit(3)).
    ("569.9999999968063", "570.00", "99.240"),
    ("413.08102090671883", "413.08", "0.577"),
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


# The programs of the CMake project tests/library_user: (name, how it links
# the library).
CMAKE_USERS = [
    ("user_shared", "shared"),
    ("user_static", "static"),
    ("user_clash", "static, beside globals named like the library's internals"),
    ("user_plugged", "static, inside a shared object built with -fvisibility=hidden"),
]


def check_user(name, command, env=None):
    """Runs a user program on the table and compares what it prints: the
    library's and the header's version, then (where the user prints them)
    the same as numbers, then a line for each wavelength."""
    rows = read_table(ROOT / "curve" / "segment_data.inc")
    wavelengths = table()
    arguments = [f"{bits(float(typed)):016x}" for typed, _, _ in wavelengths]
    printed = subprocess.run([str(word) for word in command] + arguments, env=env, check=True,
                             stdout=subprocess.PIPE, text=True).stdout.splitlines()
    version = project_version()
    major, minor, patch = (int(part) for part in version.split("."))
    number = str(major * 10000 + minor * 100 + patch)
    versions = printed[0].split() if printed else []
    check(versions[:2] == [version, version] and versions[2:] in ([], [number, number]),
          f"{name}: versions {printed[:1]}, expected {version} for the library and the header "
          f"(and {number} as numbers)")
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
    """The functions the library exports, as helligkeit.h declares them."""
    return sorted(name for name, _ in exports())


def check_archive(nm, archive):
    """The static library defines global symbols of the C interface and of
    namespace helligkeit alone (nm -C shows C++ names as written), bar the
    weak copies of the C++ library's templates that a build without
    optimisation keeps, which give way to any other definition. MinGW-w64
    adds a pointer .refptr.NAME for each variable NAME of another object
    that an object reads; it counts as NAME, which nm does not demangle. Such a
    pointer to a name reserved for the compiler's run-time library (__cpu_model,
    which __builtin_cpu_supports reads) is a COMDAT copy that every object
    reading it carries, and so clashes with nothing; so are the helpers that
    position-independent code on 32-bit x86 calls for its own address,
    __x86.get_pc_thunk.REGISTER."""
    listed = [line.split(" ", 2) for line in
              output(nm, "-g", "-C", "--defined-only", archive).splitlines()]
    symbols = [(kind, name) for _, kind, name in (words for words in listed if len(words) == 3)]
    names = [name for kind, name in symbols
             if not (kind in "WVu" and name.startswith(("std::", "__gnu_cxx::")))]
    foreign = [name for name in names if not name.startswith((".refptr.__", "__x86.get_pc_thunk."))
               and not name.removeprefix(".refptr.").startswith(
                   ("helligkeit_", "helligkeit::", "_ZN10helligkeit", "_ZNK10helligkeit"))]
    check(names and not foreign, f"{archive} defines global symbols outside helligkeit_* and "
          f"namespace helligkeit: {foreign}")
    print(f"{Path(archive).name}: {len(names)} global symbols, each helligkeit_* or helligkeit::")


def check_hidden(shared_object):
    """A user's shared object, built with -fvisibility=hidden, that links the
    static library exports nothing of the library."""
    symbols = [line.split() for line in
               output("readelf", "-W", "--dyn-syms", shared_object).splitlines()]
    leaked = [words[7] for words in symbols if len(words) > 7 and words[6] != "UND"
              and "helligkeit" in words[7]]
    check(not leaked, f"{shared_object} exports {leaked} of the static library")
    print(f"{Path(shared_object).name}: exports nothing of the static library")


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

    check_archive("nm", libdir / "libhelligkeit.a")

    for name, static, sources in (("user_pkgconfig", [], ["user.c"]),
                                  ("user_pkgconfig_static", ["--static"], ["user.c", "clash.c"])):
        flags = subprocess.run(pkg_config + ["--cflags", "--libs", *static, "helligkeit"], env=env,
                               check=True, capture_output=True, text=True).stdout.split()
        check(("-DHELLIGKEIT_STATIC" in flags) == bool(static),
              f"pkg-config {' '.join(static)} gives {flags}")
        run("cc", "-std=c99", "-Wall", "-Wextra", "-Wpedantic", "-Werror",
            *(USER / source for source in sources), "-o", work / name, *flags,
            *(["-static"] if static else []))
        check_user(f"C with pkg-config {' '.join(static)}".rstrip(), [work / name], env)

    run("cmake", "-S", USER, "-B", work / "cmake", f"-DCMAKE_PREFIX_PATH={prefix}",
        stdout=subprocess.DEVNULL)
    run("cmake", "--build", work / "cmake", stdout=subprocess.DEVNULL)
    for name, linked in CMAKE_USERS:
        check_user(f"C with CMake, {linked}", [work / "cmake" / name], env)
    check_hidden(work / "cmake" / "libuser_hidden.so")

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
        # The library is inside the extension, whatever the system has.
        extensions = list(venv.glob("lib/python3*/site-packages/helligkeit/_ufunc*.so"))
        check(extensions, f"{name}: no extension in {venv}")
        for extension in extensions:
            needed = re.findall(r"\(NEEDED\).*\[(.+)\]", output("readelf", "-d", extension))
            check(not any(needed_name.startswith("libhelligkeit") for needed_name in needed),
                  f"{name}: {extension.name} needs {needed}, not the library inside it")


def main(argv):
    if len(argv) > 2 and argv[1] == "--run":
        check_user(Path(argv[-1]).name, argv[2:])
        return 0
    if len(argv) == 4 and argv[1] == "--archive":
        check_archive(argv[2], argv[3])
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
