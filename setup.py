"""Builds the extension helligkeit._ufunc for pip (pyproject.toml):
the library's C++ sources of curve/ as a static library, compiled as the
CMake build compiles them (C++20, no fused multiply-add, no fast-math, no
exceptions), hidden inside the extension, which links it."""

import os
import re
from pathlib import Path

import numpy
from setuptools import Extension, setup

HEADER = Path("curve/helligkeit.h")
# Each result must be the double the C library gives: every operation
# rounded as written, with no fused multiply-add.
EXACT = ["-ffp-contract=off", "-fno-fast-math"]


def version():
    """MAJOR.MINOR.PATCH, as helligkeit.h writes it; in a source
    distribution, the version its PKG-INFO gives (VERSION+dirty where
    tools/sdist.py --dirty made it); HELLIGKEIT_DIRTY set marks it so."""
    if Path("PKG-INFO").exists():
        text = Path("PKG-INFO").read_text(encoding="utf-8")
        return re.search(r"^Version: (\S+)$", text, re.M)[1]
    text = HEADER.read_text(encoding="utf-8")
    numbers = ".".join(re.search(rf"^#define HELLIGKEIT_VERSION_{part} ([0-9]+)$", text, re.M)[1]
                       for part in ("MAJOR", "MINOR", "PATCH"))
    return numbers + "+dirty" if os.environ.get("HELLIGKEIT_DIRTY") else numbers


library = ("helligkeit_bundled", {
    # The evaluation, its kernels (each compiled for its instruction set by
    # an attribute, so none needs a flag of its own) and the C interface.
    # Named so that no installed library stands in for it: the link looks
    # in the system's library folder before this build's, where
    # libhelligkeit-dev puts libhelligkeit.so.
    "sources": sorted(str(path) for path in Path("curve").glob("*.cpp")),
    "include_dirs": [".", "curve"],
    "macros": [("HELLIGKEIT_STATIC", None)],
    "cflags": ["-std=c++20", "-fno-exceptions", "-fno-rtti", "-fvisibility=hidden", *EXACT],
})

extension = Extension(
    "helligkeit._ufunc",
    sources=["python/helligkeit/_ufunc.c"],
    include_dirs=["curve", numpy.get_include()],
    define_macros=[("HELLIGKEIT_STATIC", None)],
    extra_compile_args=["-std=c11", *EXACT],
    # The floating-point flags (fenv.h).
    libraries=["m"],
)

setup(
    version=version(),
    package_dir={"": "python"},
    packages=["helligkeit"],
    libraries=[library],
    ext_modules=[extension],
    # Out of the way of CMake's build/.
    options={"build": {"build_base": "build-python"}},
)
