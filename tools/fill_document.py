#!/usr/bin/env python3
"""Fills a document in for the packages (cmake/documents.cmake runs it).

Usage:
    fill_document.py SETTINGS SOURCE DOCUMENT

SETTINGS holds a setting a line: `VERSION 1.2.0`, `DATE 2026-12-07`, and
`ADDRESS PLACEHOLDER ADDRESS` for each address. In SOURCE, @VERSION@ and
@DATE@ become the version and the release's date. Each address that is set
takes the place of its placeholder, and the note in parentheses after the
placeholder, which says that it is one, goes; beside an address that is
still a placeholder the note stays.

A manual page (DOCUMENT ending in a section number) loses the spaces at the
ends of lines that po4a leaves after some requests, and its text lines are
broken at spaces to at most 80 bytes as mandoc counts them, a character
beyond ASCII as its escape (\[u00E4] for ä): po4a wraps at 76 characters.
"""

import re
import sys
from pathlib import Path

MAX_BYTES = 80


def roff_bytes(text):
    """The length of text with each character beyond ASCII as its escape."""
    return sum(1 if ord(char) < 128 else len(f"\\[u{ord(char):04X}]") for char in text)


def fill(text, settings):
    for placeholder, address in settings["ADDRESS"]:
        if address != placeholder:
            text = re.sub(re.escape(placeholder) + r"(>?)\s+\([^)]*\)", address + r"\1", text)
            text = text.replace(placeholder, address)
    text = text.replace("@VERSION@", settings["VERSION"]).replace("@DATE@", settings["DATE"])
    left = re.search(r"@[A-Z_]+@", text)
    if left:
        sys.exit(f"fill_document: {left.group()} is not a known setting")
    return text


def break_long_lines(page):
    """A manual page with its text lines (not requests, not examples) at
    most MAX_BYTES long: filled text lines join with a space, so a line
    may break at any space that is not escaped."""
    lines, verbatim = [], False
    for line in page.split("\n"):
        line = line.rstrip(" \t")
        if line.startswith((".EX", ".nf")):
            verbatim = True
        elif line.startswith((".EE", ".fi")):
            verbatim = False
        while not verbatim and not line.startswith((".", "'")) and roff_bytes(line) > MAX_BYTES:
            cut = max((at for at in range(1, len(line)) if line[at] == " "
                       and line[at - 1] not in " \\" and roff_bytes(line[:at]) <= MAX_BYTES),
                      default=0)
            if not cut:
                break
            lines.append(line[:cut].rstrip(" "))
            line = line[cut:].lstrip(" ")
        lines.append(line)
    return "\n".join(lines)


def main(argv):
    settings_file, source, document = map(Path, argv)
    settings = {"ADDRESS": []}
    for line in settings_file.read_text().splitlines():
        name, _, value = line.partition(" ")
        if name == "ADDRESS":
            settings[name].append(tuple(value.split()))
        elif name:
            settings[name] = value
    text = fill(source.read_text(), settings)
    if re.search(r"\.[1-9]$", document.name):
        text = break_long_lines(text)
    document.parent.mkdir(parents=True, exist_ok=True)
    document.write_text(text)


if __name__ == "__main__":
    main(sys.argv[1:])
