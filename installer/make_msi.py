#!/usr/bin/env python3
"""Builds the Windows installer, helligkeit-VERSION-win64.msi, with wixl.

Usage:
  make_msi.py --stage DIR --icon FILE --version X.Y.Z --manufacturer NAME
              --out FILE.msi [--wixl PROGRAM] [--source-dir DIR]

DIR holds what the installer installs (helligkeit.exe, README.md, LICENSE),
as CPack stages it (installer/cpack_msi.cmake calls this); installer/
helligkeit.wxs says what goes where.

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

HERE = Path(__file__).resolve().parent
# The installer's identity, the same for every version: Windows finds the
# installed version to replace by it. Never change it.
UPGRADE_CODE = uuid.UUID("56BB2492-84A1-4A2E-91B1-D66D58CAF60F")
FILES = ("helligkeit.exe", "README.md", "LICENSE")
# 1980-01-01 00:00 UTC: a cabinet stores times as DOS dates, which begin there.
EARLIEST = 315532800
# The summary information's properties that are rewritten (MS-OLEPS ids).
TEMPLATE, REVISION_NUMBER, CREATED, LAST_SAVED = 7, 9, 12, 13
# The platform and the product's language (wixl always writes 1033).
TEMPLATE_VALUE = "x64;1031"
VT_LPSTR, VT_FILETIME = 30, 64


def fail(message):
    sys.exit(f"make_msi: {message}")


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


class CompoundFile:
    """An OLE compound file (which an .msi is), read far enough to find the
    bytes of one stream, so that they can be rewritten in place."""

    SIGNATURE = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"
    END = 0xFFFFFFFE

    def __init__(self, data):
        if data[:8] != self.SIGNATURE:
            fail("not an OLE compound file")
        self.data = data
        # The header: the sizes of sectors and mini sectors (as powers of 2),
        # the directory's first sector, the size up to which a stream lies in
        # mini sectors, the mini FAT's first sector, the chain of further
        # FAT sector lists, and the first 109 FAT sectors.
        sector_shift, mini_shift = struct.unpack_from("<HH", data, 30)
        self.sector, self.mini = 1 << sector_shift, 1 << mini_shift
        directory_start, = struct.unpack_from("<I", data, 48)
        self.cutoff, mini_fat_start, _, difat_next, difat_count = struct.unpack_from(
            "<5I", data, 56)
        fat_sectors = list(struct.unpack_from("<109I", data, 76))
        per_sector = self.sector // 4
        for _ in range(difat_count):
            entries = struct.unpack_from(f"<{per_sector}I", data, self.at(difat_next))
            fat_sectors += entries[:-1]
            difat_next = entries[-1]
        self.fat = []
        for sector in fat_sectors:
            if sector < 0xFFFFFFFA:
                self.fat += struct.unpack_from(f"<{per_sector}I", data, self.at(sector))
        mini_fat = b"".join(self.read(self.chain(mini_fat_start, self.fat), self.sector))
        self.mini_fat = struct.unpack(f"<{len(mini_fat) // 4}I", mini_fat)
        directory = b"".join(self.read(self.chain(directory_start, self.fat), self.sector))
        # Directory entries of 128 bytes: the name in UTF-16 and its size
        # in bytes with the closing zero, the first sector and the size.
        self.entries = {}
        for at in range(0, len(directory), 128):
            length, = struct.unpack_from("<H", directory, at + 64)
            name = directory[at:at + max(0, length - 2)].decode("utf-16-le")
            start, size = struct.unpack_from("<II", directory, at + 116)
            self.entries.setdefault(name, (start, size))
        # The mini sectors lie in the root entry's stream.
        root_start, _ = self.entries["Root Entry"]
        self.mini_stream = [self.at(s) for s in self.chain(root_start, self.fat)]

    def at(self, sector):
        """Sector 0 follows the header, which takes a sector."""
        return (sector + 1) * self.sector

    def chain(self, start, table):
        sectors = []
        while start != self.END:
            sectors.append(start)
            start = table[start]
        return sectors

    def read(self, sectors, size):
        return [self.data[self.at(s):self.at(s) + size] for s in sectors]

    def pieces(self, name):
        """Where the stream's bytes lie in the file, in order: (offset, length)."""
        if name not in self.entries:
            fail(f"no stream {name!r}")
        start, size = self.entries[name]
        if size >= self.cutoff:
            offsets, unit = [self.at(s) for s in self.chain(start, self.fat)], self.sector
        else:
            per_sector = self.sector // self.mini
            offsets = [self.mini_stream[m // per_sector] + m % per_sector * self.mini
                       for m in self.chain(start, self.mini_fat)]
            unit = self.mini
        return [(offset, min(unit, size - i * unit)) for i, offset in enumerate(offsets)]

    def stream(self, name):
        return bytearray(b"".join(self.data[o:o + n] for o, n in self.pieces(name)))

    def rewrite(self, name, content):
        pieces = self.pieces(name)
        if len(content) != sum(n for _, n in pieces):
            fail(f"the new {name!r} differs in size")
        at = 0
        for offset, length in pieces:
            self.data[offset:offset + length] = content[at:at + length]
            at += length


def set_summary(stream, values):
    """Sets properties of a summary information stream (one property set,
    MS-OLEPS) to values of the same type and size."""
    section, = struct.unpack_from("<I", stream, 44)
    count, = struct.unpack_from("<I", stream, section + 4)
    pairs = struct.unpack_from(f"<{2 * count}I", stream, section + 8)
    where = dict(zip(pairs[::2], pairs[1::2]))
    for pid, value in values.items():
        at = section + where[pid]
        kind, = struct.unpack_from("<I", stream, at)
        if isinstance(value, str):
            size, = struct.unpack_from("<I", stream, at + 4)
            encoded = value.encode("ascii") + b"\0"
            if kind != VT_LPSTR or size != len(encoded):
                fail(f"summary property {pid}: {kind}, {size} bytes; not {value!r}")
            stream[at + 8:at + 8 + size] = encoded
        else:
            if kind != VT_FILETIME:
                fail(f"summary property {pid} is of type {kind}, not a time")
            struct.pack_into("<Q", stream, at + 4, value)


def fix_summary(path, seconds):
    """The times, the package code and the template, made reproducible, in
    place. The package code is derived from the package with a code of
    zeros."""
    data = bytearray(path.read_bytes())
    package = CompoundFile(data)
    name = "\x05SummaryInformation"
    stream = package.stream(name)
    filetime = (seconds + 11644473600) * 10_000_000
    set_summary(stream, {TEMPLATE: TEMPLATE_VALUE, CREATED: filetime, LAST_SAVED: filetime,
                         REVISION_NUMBER: braced(uuid.UUID(int=0))})
    package.rewrite(name, stream)
    code = uuid.uuid5(UPGRADE_CODE, "package " + hashlib.sha256(data).hexdigest())
    set_summary(stream, {REVISION_NUMBER: braced(code)})
    package.rewrite(name, stream)
    path.write_bytes(data)
    return code


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--stage", required=True, type=Path)
    parser.add_argument("--icon", required=True, type=Path)
    parser.add_argument("--version", required=True)
    parser.add_argument("--manufacturer", required=True)
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
               "StageDir": ".", "IconFile": os.path.relpath(args.icon, args.stage)}
    command = [args.wixl, "--arch", "x64", "--output", str(args.out.resolve())]
    for name, value in defines.items():
        command += ["--define", f"{name}={value}"]
    subprocess.run(command + [str(HERE / "helligkeit.wxs")], cwd=args.stage, check=True)
    code = fix_summary(args.out, seconds)
    print(f"make_msi: {args.out.name}: version {args.version}, product code "
          f"{defines['ProductCode']}, package code {braced(code)}")


if __name__ == "__main__":
    main()
