#!/usr/bin/python3
# Debian's Python 3, with python3-setuptools and python3-numpy.
"""Writes the Python module's source distribution, helligkeit-VERSION.tar.gz,
which `pip install` builds the module from (pyproject.toml, setup.py).

Usage:
    tools/sdist.py [--dirty] FOLDER

setuptools makes it from the tree; it is then written again the same from
the same files wherever, whenever and by whomever it is made: its entries in
byte order of their names, each dated SOURCE_DATE_EPOCH (else the last
commit's date), owned by root, mode 0644 (0755 for folders and programs), in
a gzip stream without a date or a name. --dirty marks the version as that of
uncommitted changes, VERSION+dirty, as make release does.
"""

import gzip
import io
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
from pathlib import Path

from tool_support import ROOT, check, output

BUILD = "import sys; from setuptools import build_meta; build_meta.build_sdist(sys.argv[1])"


def normalized(member, epoch):
    member.mtime = epoch
    member.uid = member.gid = 0
    member.uname = member.gname = "root"
    member.pax_headers = {}
    executable = member.isdir() or member.mode & 0o111
    member.mode = 0o755 if executable else 0o644
    return member


def main(argv):
    dirty = "--dirty" in argv[1:]
    folders = [word for word in argv[1:] if word != "--dirty"]
    if len(folders) != 1 or folders[0].startswith("-"):
        print(__doc__.split("Usage:\n")[1].split("\n\n")[0], file=sys.stderr)
        return 2
    dist = Path(folders[0]).resolve()
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH")
                or output("git", "-C", ROOT, "log", "-1", "--format=%ct"))
    env = {**os.environ, "HELLIGKEIT_DIRTY": "1" if dirty else ""}
    # setuptools adds the files listed by an earlier build's egg-info: none
    # is left, so that the files listed are the tree's own.
    shutil.rmtree(ROOT / "python" / "helligkeit.egg-info", ignore_errors=True)
    with tempfile.TemporaryDirectory(prefix="helligkeit-sdist.") as stage:
        subprocess.run([sys.executable, "-c", BUILD, stage], cwd=ROOT, env=env, check=True,
                       stdout=subprocess.DEVNULL)
        built = sorted(Path(stage).glob("helligkeit-*.tar.gz"))
        check(len(built) == 1, f"setuptools made {built}, not one helligkeit-*.tar.gz")
        tar_bytes = io.BytesIO()
        with tarfile.open(built[0]) as source, \
                tarfile.open(fileobj=tar_bytes, mode="w", format=tarfile.PAX_FORMAT) as tar:
            for member in sorted(source.getmembers(), key=lambda member: member.name.encode()):
                check(member.isfile() or member.isdir(), f"{member.name} in the sdist is no file")
                data = source.extractfile(member) if member.isfile() else None
                tar.addfile(normalized(member, epoch), data)
        dist.mkdir(parents=True, exist_ok=True)
        with open(dist / built[0].name, "wb") as file, \
                gzip.GzipFile(filename="", mode="wb", fileobj=file, mtime=0) as stream:
            stream.write(tar_bytes.getvalue())
    print(dist / built[0].name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
