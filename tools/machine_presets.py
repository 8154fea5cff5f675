#!/usr/bin/env python3
"""Writes the presets of the machines of cmake/machines.txt into CMakePresets.json.

Usage: tools/machine_presets.py [--check]

CMake presets cannot compute, so each machine's are written out: cross-MACHINE
(configure, build, test, workflow: every test, run on that machine). Every
preset named cross-* is this tool's: it drops them all and writes the
machines' anew after the other presets of their kind,
leaving the rest of the file as it is. With --check it writes nothing and
fails where the file is not what it would write (the test
machine_presets_are_fresh).
"""

import argparse
import json
import re

from tool_support import ROOT, fail, machines

PRESETS = ROOT / "CMakePresets.json"
KINDS = ("configurePresets", "buildPresets", "testPresets", "packagePresets", "workflowPresets")
OURS = re.compile(r"cross-.+")
NOTE = ("The presets named cross-* are written by tools/machine_presets.py, "
        "one set for each machine of cmake/machines.txt: edit that list and run the tool.")


def steps(name, *kinds):
    return [{"type": kind, "name": name} for kind in kinds]


def machine_presets(machine):
    """{kind: [preset, ...]} for one machine."""
    m, words = machine.name, machine.description
    where = "under qemu-user" if machine.runner.startswith("qemu-") else "on the processor itself"
    cross = f"cross-{m}"
    presets = {
        "configurePresets": [{
            "name": cross, "inherits": "cross",
            "displayName": f"Linux on {words} ({m}), cross-compiled, tests {where}",
            "binaryDir": f"${{sourceDir}}/build-{m}",
            "cacheVariables": {"HELLIGKEIT_MACHINE": m}}],
        "buildPresets": [{"name": cross, "inherits": "base", "configurePreset": cross}],
        "testPresets": [{"name": cross, "inherits": "base", "configurePreset": cross}],
        "workflowPresets": [{"name": cross,
                             "displayName": f"Linux on {words} ({m}): every test {where}",
                             "steps": steps(cross, "configure", "build", "test")}]}
    return presets


def encode(value, indent=0, steps=False):
    """JSON as CMakePresets.json is written: two spaces an indent, and each
    of a workflow's steps on one line."""
    if not value or not isinstance(value, (dict, list)):
        return json.dumps(value)
    pad, inner = " " * indent, " " * (indent + 2)
    if isinstance(value, dict):
        lines = [f"{inner}{json.dumps(key)}: {encode(item, indent + 2, key == 'steps')}"
                 for key, item in value.items()]
        return "{\n" + ",\n".join(lines) + "\n" + pad + "}"
    lines = [inner + (json.dumps(item) if steps else encode(item, indent + 2)) for item in value]
    return "[\n" + ",\n".join(lines) + "\n" + pad + "]"


def written(presets):
    """The presets file with the machines' presets as this tool writes them."""
    # The note on these presets, second after the version.
    presets = {"version": presets["version"], "vendor": {"helligkeit": NOTE}, **presets}
    generated = {kind: [] for kind in KINDS}
    for machine in machines():
        for kind, more in machine_presets(machine).items():
            generated[kind] += more
    for kind in KINDS:
        presets[kind] = [preset for preset in presets.get(kind, [])
                         if not OURS.fullmatch(preset["name"])] + generated[kind]
    return encode(presets) + "\n"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true",
                        help="fail where CMakePresets.json is not what would be written")
    args = parser.parse_args(argv)
    text = PRESETS.read_text()
    new = written(json.loads(text))
    if args.check:
        if new != text:
            fail(f"{PRESETS.name} is not what this tool writes from cmake/machines.txt "
                 "(presets named cross-* are written from there): "
                 "run tools/machine_presets.py")
    elif new != text:
        PRESETS.write_text(new)
        print(f"machine_presets: wrote {PRESETS.name}")


if __name__ == "__main__":
    main()
