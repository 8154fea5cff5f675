#!/usr/bin/python3
# Debian's Python 3, with the python3-* packages of debian-packages.txt.
"""Builds the Windows installer, helligkeit-VERSION-win64.msi, with wixl.

Usage:
  make_msi.py --stage DIR --icon FILE --version X.Y.Z --manufacturer NAME
              --about-link URL --help-link URL --out FILE.msi
              [--wixl PROGRAM] [--source-dir DIR]

DIR holds what the installer installs (helligkeit.exe, README.md,
LIESMICH.md, NEWS.md, LICENSE), as CPack stages it (installer/cpack_msi.cmake calls this);
installer/helligkeit.wxs says what goes where.

The same input gives the same bytes, wherever and whenever it is built:

- the product code is derived from the version (a name-based UUID under
  the upgrade code), so it changes with each version and only then;
- the files in the cabinet carry the time SOURCE_DATE_EPOCH, else that of
  the last commit of --source-dir, else 1980-01-01, the earliest time a
  cabinet can hold;
- wixl writes the build's own time into the summary information (created,
  last saved) and a random package code; both are rewritten in place: the
  times as above, the package code as a name-based UUID of the package's
  own bytes, so that it changes whenever anything in the package does
  (and the template's language as the product's).
"""

import argparse
import hashlib
import os
import struct
import subprocess
import sys
import uuid
from pathlib import Path

import olefile

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tools"))
from tool_support import check  # noqa: E402

# The installer's identity, the same for every version: Windows finds the
# installed version to replace by it. Never change it.
UPGRADE_CODE = uuid.UUID("56BB2492-84A1-4A2E-91B1-D66D58CAF60F")
FILES = ("helligkeit.exe", "README.md", "LIESMICH.md", "NEWS.md", "LICENSE")
# 1980-01-01 00:00 UTC: a cabinet stores times as DOS dates, which begin there.
EARLIEST = 315532800
# The summary information's properties that are rewritten (MS-OLEPS ids).
TEMPLATE, REVISION_NUMBER, CREATED, LAST_SAVED = 7, 9, 12, 13
# The platform and the product's language (wixl always writes 1033).
TEMPLATE_VALUE = "x64;1031"
VT_LPSTR, VT_FILETIME = 30, 64
SUMMARY = "\x05SummaryInformation"


def product_code(version):
    return uuid.uuid5(UPGRADE_CODE, f"helligkeit {version}")


def build_time(source_dir):
    """Seconds since 1970 that the package's times say."""
    seconds = os.environ.get("SOURCE_DATE_EPOCH")
    if not seconds and source_dir:
        try:  # empty outside a git checkout
            seconds = subprocess.run(["git", "-C", str(source_dir), "log", "-1", "--format=%ct"],
                                     capture_output=True, text=True).stdout.strip()
        except OSError:  # no git
            pass
    return max(int(seconds or 0), EARLIEST)


def braced(code):
    return "{" + str(code).upper() + "}"


def set_summary(stream, values):
    """Sets properties of a summary information stream (one property set,
    MS-OLEPS) to values of the same type and size."""
    section, = struct.unpack_from("<I", stream, 44)
    count, = struct.unpack_from("<I", stream, section + 4)
    pairs = struct.unpack_from(f"<{2 * count}I", stream, section + 8)
    where = dict(zip(pairs[::2], pairs[1::2]))
    for pid, value in values.items():
        at = section + where[pid]
        kind, size = struct.unpack_from("<II", stream, at)
        if isinstance(value, str):
            encoded = value.encode("ascii") + b"\0"
            check(kind == VT_LPSTR and size == len(encoded),
                  f"summary property {pid}: {kind}, {size} bytes; not {value!r}")
            stream[at + 8:at + 8 + size] = encoded
        else:
            check(kind == VT_FILETIME, f"summary property {pid} is of type {kind}, not a time")
            struct.pack_into("<Q", stream, at + 4, value)


def fix_summary(path, seconds):
    """The times, the package code and the template, made reproducible, in
    place: olefile rewrites the stream, which keeps its size. The package
    code is derived from the package with a code of zeros."""
    filetime = (seconds + 11644473600) * 10_000_000
    with olefile.OleFileIO(str(path), write_mode=True) as package:
        stream = bytearray(package.openstream(SUMMARY).read())
        set_summary(stream, {TEMPLATE: TEMPLATE_VALUE, CREATED: filetime, LAST_SAVED: filetime,
                             REVISION_NUMBER: braced(uuid.UUID(int=0))})
        package.write_stream(SUMMARY, bytes(stream))
    code = uuid.uuid5(UPGRADE_CODE, "package " + hashlib.sha256(path.read_bytes()).hexdigest())
    with olefile.OleFileIO(str(path), write_mode=True) as package:
        set_summary(stream, {REVISION_NUMBER: braced(code)})
        package.write_stream(SUMMARY, bytes(stream))
    return code


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--stage", required=True, type=Path)
    parser.add_argument("--icon", required=True, type=Path)
    for option in ("--version", "--manufacturer", "--about-link", "--help-link"):
        parser.add_argument(option, required=True)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--wixl", default="wixl")
    parser.add_argument("--source-dir", type=Path)
    args = parser.parse_args(argv)

    seconds = build_time(args.source_dir)
    for name in FILES:
        os.utime(args.stage / name, (seconds, seconds))
    # wixl looks for files by relative paths only: it runs in the staged
    # tree.
    defines = {"Version": args.version, "ProductCode": braced(product_code(args.version)),
               "UpgradeCode": braced(UPGRADE_CODE), "Manufacturer": args.manufacturer,
               "StageDir": ".", "IconFile": os.path.relpath(args.icon, args.stage),
               "AboutLink": args.about_link, "HelpLink": args.help_link}
    command = [args.wixl, "--arch", "x64", "--output", str(args.out.resolve())]
    for name, value in defines.items():
        command += ["--define", f"{name}={value}"]
    subprocess.run(command + [str(HERE / "helligkeit.wxs")], cwd=args.stage, check=True)
    code = fix_summary(args.out, seconds)
    print(f"make_msi: {args.out.name}: version {args.version}, product code "
          f"{defines['ProductCode']}, package code {braced(code)}")


if __name__ == "__main__":
    main()
