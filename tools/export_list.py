#!/usr/bin/env python3
"""Prints the library's functions as curve/helligkeit.h declares them, one
line each: the name and the version it came in. CMake makes the list of
exports of the DLL (helligkeit.def), the ELF version script and the Debian
symbols file from it, so that the header is the one list.

Usage:
  export_list.py [HEADER]
"""

import sys

from tool_support import HEADER, exports


def main(argv):
    if len(argv) > 2 or (len(argv) == 2 and argv[1].startswith("-")):
        print(__doc__.split("Usage:\n")[1].strip(), file=sys.stderr)
        return 2
    for name, version in exports(argv[1] if len(argv) == 2 else HEADER):
        print(name, version)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
