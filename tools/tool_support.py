"""What every tool in tools/ and installer/ shares: the repository's root,
ending with a message, running commands, and the other machines."""

import re
import subprocess
import sys
from pathlib import Path
from typing import NamedTuple

ROOT = Path(__file__).resolve().parent.parent


def fail(message):
    """Ends the tool with a message, named after the script that runs."""
    sys.exit(f"{Path(sys.argv[0]).stem}: {message}")


def check(condition, message):
    if not condition:
        fail(message)


def run(*command, cwd=ROOT, **kwargs):
    """Runs a command, shown first; it must succeed."""
    print("+", " ".join(str(word) for word in command), flush=True)
    return subprocess.run([str(word) for word in command], cwd=cwd, check=True, **kwargs)


def output(*command):
    """What a command that must succeed prints, quietly."""
    return subprocess.run([str(word) for word in command], check=True, capture_output=True,
                          text=True).stdout


def configured(build_dir, name="CMAKE_PROJECT_VERSION"):
    """A setting in a configured build's cache, by default the project's version."""
    for line in (build_dir / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    fail(f"no {name} in {build_dir}/CMakeCache.txt")


# The library's header, the one place the project's version is written: a
# line #define HELLIGKEIT_VERSION_<PART> <NUMBER> for each part.
HEADER = ROOT / "curve" / "helligkeit.h"
VERSION_PARTS = ("MAJOR", "MINOR", "PATCH")


def project_version(header=HEADER):
    """The project's version, "MAJOR.MINOR.PATCH", as the header writes it."""
    text = Path(header).read_text()
    parts = [re.search(rf"^#define HELLIGKEIT_VERSION_{part} ([0-9]+)$", text, re.M)
             for part in VERSION_PARTS]
    check(all(parts), f"{header} does not write the version's three numbers")
    return ".".join(part.group(1) for part in parts)


def set_project_version(header, version):
    """Writes `version` into a copy of the header."""
    text = Path(header).read_text()
    for part, number in zip(VERSION_PARTS, version.split(".")):
        text = re.sub(rf"^(#define HELLIGKEIT_VERSION_{part}) [0-9]+$", rf"\g<1> {number}", text,
                      flags=re.M)
    Path(header).write_text(text)


class Machine(NamedTuple):
    """A line of cmake/machines.txt, which says what each column is."""
    name: str
    processor: str
    triplet: str
    runner: str
    released: bool
    description: str


def machines():
    """The other Linux machines, in the order of cmake/machines.txt."""
    path = ROOT / "cmake" / "machines.txt"
    found = []
    for number, line in enumerate(path.read_text().splitlines(), 1):
        if line.strip() and not line.startswith("#"):
            fields = line.split(maxsplit=5)
            check(len(fields) == 6 and fields[4] in ("yes", "no"),
                  f"{path}:{number}: not six columns, the fifth yes or no: {line}")
            found.append(Machine(*fields[:4], fields[4] == "yes", fields[5].strip()))
    return found
