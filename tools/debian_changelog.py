#!/usr/bin/env python3
"""Writes debian/changelog from NEWS.md.

Usage: tools/debian_changelog.py [--dirty]

One entry a section of NEWS.md, with the same list items, signed by
HELLIGKEIT_MAINTAINER (a placeholder on .invalid where it is not set) and
dated when its version counts as released: the time of the commit that
added its section, within its day and not after noon UTC, nor after the
sources' time (SOURCE_DATE_EPOCH, else the last commit's). A section not
yet committed counts from its day's noon or the sources' time. So an entry
keeps its time from release to release, two releases of one day get times
of their own, and each entry is dated at least a second after the one
before, as Debian's tools require. With --dirty the newest entry's version
is VERSION~dirty, which dpkg takes as older than VERSION.
"""

import argparse
import os
import re
import subprocess
from datetime import datetime, timezone
from email.utils import format_datetime

from tool_support import ROOT, check

PLACEHOLDER = "helligkeit maintainers <maintainers@helligkeit.invalid>"
HEADING = re.compile(r"^## (\S+) \((\d{4}-\d{2}-\d{2})\)\n", re.M)


def git(*arguments):
    """What git prints in the sources, or None outside a git checkout."""
    if not (ROOT / ".git").exists():
        return None
    done = subprocess.run(["git", "-C", str(ROOT), *arguments], capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else None


def sections(news):
    """(version, day, items) for each section of NEWS.md, newest first."""
    found = list(HEADING.finditer(news))
    for number, heading in enumerate(found):
        end = found[number + 1].start() if number + 1 < len(found) else len(news)
        items = news[heading.end():end].strip("\n")
        check(re.fullmatch(r"(- .*|  .*|)(\n(- .*|  .*|))*", items),
              f"NEWS.md: the section for {heading[1]} holds more than list items")
        yield heading[1], heading[2], items


def release_time(version, day, source_epoch):
    """When VERSION, dated DAY in NEWS.md, counts as released."""
    midnight = int(datetime.fromisoformat(day).replace(tzinfo=timezone.utc).timestamp())
    time = midnight + 12 * 3600
    # The commits that changed how often the heading occurs, newest first:
    # the last one added it.
    added = (git("log", "--format=%ct", f"-S## {version} (", "--", "NEWS.md") or "").split()
    if added and int(added[-1]) < time:
        time = max(int(added[-1]), midnight)
    if source_epoch is not None:
        time = min(time, source_epoch)
    return time


def changelog(news, maintainer, source_epoch, dirty):
    entries = []
    for number, (version, day, items) in enumerate(sections(news)):
        time = release_time(version, day, source_epoch)
        if dirty and number == 0:
            version += "~dirty"
        # `- ` starts an item and two spaces continue it; Debian's changelog
        # indents both by two more and starts an item with `* `.
        lines = [("  * " + line[2:] if line.startswith("- ") else "  " + line) if line else ""
                 for line in items.split("\n")]
        entries.append([version, "\n".join(lines), time])
    previous = 0
    for entry in reversed(entries):
        entry[2] = previous = max(entry[2], previous + 1)
    return "\n".join(
        f"helligkeit ({version}) unstable; urgency=medium\n\n{items}\n\n -- {maintainer}  "
        f"{format_datetime(datetime.fromtimestamp(time, timezone.utc))}\n"
        for version, items, time in entries)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dirty", action="store_true",
                        help="version the newest entry VERSION~dirty (uncommitted changes)")
    args = parser.parse_args(argv)
    epoch = os.environ.get("SOURCE_DATE_EPOCH") or git("log", "-1", "--format=%ct") or ""
    text = changelog((ROOT / "NEWS.md").read_text(), os.environ.get("HELLIGKEIT_MAINTAINER")
                     or PLACEHOLDER, int(epoch) if epoch.isdigit() else None, args.dirty)
    (ROOT / "debian" / "changelog").write_text(text)


if __name__ == "__main__":
    main()
