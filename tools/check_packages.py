#!/usr/bin/env python3
"""Builds the release packages and checks what is in them.

Usage:
    tools/check_packages.py [--install-deb]

Builds build-win64/helligkeit-VERSION-win64.zip and
build/helligkeit_VERSION_amd64.deb with the `zip` and `deb` workflow
presets, then checks:

- the zip holds one folder, helligkeit-VERSION-win64, with helligkeit.exe,
  README.md and LICENSE in it, nothing else; the exe is at most 512 KiB,
  stripped, has no PE time stamp, keeps ASLR (high-entropy too) and DEP, and
  carries a version resource that is German: language 0x0407 in the resource
  directory, and 0x0407 with code page 1200 (UTF-16) in the string table's
  name and the translation, with a LegalCopyright; it gives the exact
  dialogue under Wine (end-to-end cases);
- the package is `helligkeit` VERSION for amd64 and depends on what
  dpkg-shlibdeps read off its program (libc6 and libstdc++6 at least); it
  holds the stripped, dynamically linked program at /usr/bin/helligkeit, the
  README, the copyright file (with the text of LICENSE) and the changelog
  (newest entry: VERSION) under /usr/share/doc/helligkeit/, and the manual
  page; the compressed files carry no name or time stamp; its program gives
  the same dialogue; lintian -I --pedantic reports no error and no warning;
- the package's program is position-independent, with a stack protector,
  read-only relocations and immediate binding, and each of its objects was
  compiled with the flags of dpkg-buildflags (hardening=+all);
- `mandoc -Tlint -W warning` has nothing to say about the manual page;
- `cmake --install --strip` into a prefix installs the same files.

With --install-deb (CI: as root, on a machine where helligkeit is not
installed) the package is installed with apt, the installed program is run,
`man helligkeit` is checked to find the manual page (read back through cat,
not shown), and the package is removed again; otherwise the program is run
from the unpacked package.
"""

import argparse
import gzip
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MAX_EXE_BYTES = 512 * 1024
FILE_DESCRIPTION = "Interpolation Vollstfarbenhelligkeit nach Valdrup"
LEGAL_COPYRIGHT = "\u00a9 2026 the helligkeit authors, MIT-Lizenz"
# German (Germany), and UTF-16 for the strings.
GERMAN = 0x0407
UNICODE_CODE_PAGE = 1200
MAN_PAGE = ROOT / "docs" / "helligkeit.1"
# What the PE header's DllCharacteristics must say (MinGW-w64's linker sets
# them by default).
EXPLOIT_MITIGATIONS = {"high-entropy ASLR": 0x0020, "ASLR": 0x0040, "DEP": 0x0100}
# The end-to-end cases run against each packaged program: every input of
# the dialogue table, compared byte for byte.
E2E_CASE = "DialogueTest.test_reports"


def run(*command, cwd=ROOT, **kwargs):
    print("+", " ".join(str(word) for word in command), flush=True)
    return subprocess.run([str(word) for word in command], cwd=cwd, check=True, **kwargs)


def fail(message):
    """Ends the check, named after the script that runs it (check_installer
    shares these helpers)."""
    sys.exit(f"{Path(sys.argv[0]).stem}: {message}")


def check(condition, message):
    if not condition:
        fail(message)


def project_version(build_dir):
    for line in (build_dir / "CMakeCache.txt").read_text().splitlines():
        if line.startswith("CMAKE_PROJECT_VERSION:"):
            return line.split("=", 1)[1]
    fail(f"no project version in {build_dir}/CMakeCache.txt")


# ---------------------------------------------------------------------------
# The Windows program


class PeFile:
    """What the checks read of a PE32+ file: header, sections, resources."""

    def __init__(self, data):
        self.data = data
        check(data[:2] == b"MZ", "not a PE file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        check(data[pe:pe + 4] == b"PE\0\0", "not a PE file")
        (_, sections, self.timestamp, self.symbol_table, self.symbols,
         optional_size, _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        check(struct.unpack_from("<H", data, optional)[0] == 0x20B, "not a 64-bit program")
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        # Data directory 2: the resources.
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, optional + 112 + 2 * 8)
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode()
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        fail(f"RVA {rva:#x} is in no section")

    def version_resource(self):
        """The RT_VERSION resource's bytes, its language in the resource
        directory, and the time stamps of every resource directory on the
        way."""
        base = self.offset(self.resource_rva)
        stamps = []

        def entries(directory):
            _, stamp, _, _, named, ids = struct.unpack_from("<IIHHHH", self.data, base + directory)
            stamps.append(stamp)
            at = base + directory + 16
            return [struct.unpack_from("<II", self.data, at + 8 * i) for i in range(named + ids)]

        rt_version = 16
        found = [child for key, child in entries(0) if key == rt_version]
        check(found and found[0] & 0x80000000, "no version resource")
        node = found[0]
        for _ in range(2):  # the resource's name, then its language: the first of each
            check(node & 0x80000000, "malformed resource directory")
            language, node = entries(node & 0x7FFFFFFF)[0]
        rva, size = struct.unpack_from("<II", self.data, base + node)
        start = self.offset(rva)
        return self.data[start:start + size], language, stamps


def parse_version_node(data, at):
    """One VS_VERSIONINFO-style node: (key, value, children), and its end."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    cursor = (key_end + 2 + 3) & ~3
    if kind == 1:  # text, counted in code units
        value = data[cursor:cursor + 2 * value_length].decode("utf-16-le").rstrip("\0")
        cursor += 2 * value_length
    else:
        value = data[cursor:cursor + value_length]
        cursor += value_length
    children = []
    cursor = (cursor + 3) & ~3
    while cursor < end:
        child, cursor = parse_version_node(data, cursor)
        children.append(child)
        cursor = (cursor + 3) & ~3
    return (key, value, children), end


def version_info(resource):
    """The fixed file and product versions, the strings of every table, the
    tables' names and the translations."""
    (key, fixed, children), _ = parse_version_node(resource, 0)
    check(key == "VS_VERSION_INFO", "the version resource has no VS_VERSION_INFO")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    check(signature == 0xFEEF04BD, "the version resource has no fixed file information")

    def quad(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    strings, table_names, translations = {}, [], []
    for block, _, tables in children:
        if block == "StringFileInfo":
            for name, _, entries in tables:
                table_names.append(name)
                strings.update({name: value for name, value, _ in entries})
        elif block == "VarFileInfo":
            for name, value, _ in tables:
                if name == "Translation":
                    translations += struct.iter_unpack("<HH", value)
    return (quad(file_ms, file_ls), quad(product_ms, product_ls), strings, table_names,
            translations)


def check_exe(exe, version):
    data = exe.read_bytes()
    print(f"{exe.name}: {len(data)} bytes")
    check(len(data) <= MAX_EXE_BYTES, f"{exe.name} has {len(data)} bytes, more than {MAX_EXE_BYTES}")
    pe = PeFile(data)
    names = [name for name, *_ in pe.sections]
    check(not any(name.startswith((".debug", "/")) for name in names) and pe.symbols == 0,
          f"{exe.name} is not stripped: sections {names}, {pe.symbols} symbols")
    check(pe.timestamp == 0, f"{exe.name} has a time stamp: {pe.timestamp}")
    missing = [name for name, flag in EXPLOIT_MITIGATIONS.items()
               if not pe.dll_characteristics & flag]
    check(not missing, f"{exe.name} lacks {', '.join(missing)}")
    resource, language, stamps = pe.version_resource()
    check(not any(stamps), f"{exe.name}: resource directories with time stamps {stamps}")
    file_version, product_version, strings, table_names, translations = version_info(resource)
    print(f"{exe.name}: version {file_version}, {strings}")
    # One language throughout: the resource directory, the string table's
    # name (language and code page in hex) and the translation.
    german = f"{GERMAN:04X}{UNICODE_CODE_PAGE:04X}"
    check(language == GERMAN and table_names == [german]
          and translations == [(GERMAN, UNICODE_CODE_PAGE)],
          f"{exe.name}: the version resource's language is {language:#06x} in the resource "
          f"directory, string tables {table_names}, translations {translations}; "
          f"not {GERMAN:#06x} with code page {UNICODE_CODE_PAGE} throughout")
    four_parts = f"{version}.0"
    check(file_version == four_parts and product_version == four_parts,
          f"fixed versions {file_version}, {product_version}, not {four_parts}")
    expected = {"FileDescription": FILE_DESCRIPTION, "ProductName": "helligkeit",
                "FileVersion": version, "ProductVersion": version,
                "LegalCopyright": LEGAL_COPYRIGHT}
    for name, value in expected.items():
        check(strings.get(name) == value, f"version string {name} is {strings.get(name)!r}, "
                                          f"not {value!r}")


def check_zip(version, work):
    folder = f"helligkeit-{version}-win64"
    archive = ROOT / "build-win64" / f"{folder}.zip"
    with zipfile.ZipFile(archive) as zipped:
        names = sorted(zipped.namelist())
        check(names == [f"{folder}/{name}" for name in ("LICENSE", "README.md", "helligkeit.exe")],
              f"{archive.name} holds {names}")
        zipped.extractall(work / "zip")
    unpacked = work / "zip" / folder
    for name in ("README.md", "LICENSE"):
        check((unpacked / name).read_bytes() == (ROOT / name).read_bytes(),
              f"the zip's {name} is not the repository's")
    exe = unpacked / "helligkeit.exe"
    check_exe(exe, version)
    run(sys.executable, ROOT / "tests" / "e2e_test.py", ROOT / "cmake" / "wine-run",
        ROOT / "build-win64" / "wine", exe, "--", E2E_CASE)
    return exe


# ---------------------------------------------------------------------------
# The Debian package


DOC = "usr/share/doc/helligkeit"
MAN = "usr/share/man/man1/helligkeit.1.gz"
DEB_FILES = ["usr/bin/helligkeit", f"{DOC}/README.md", f"{DOC}/changelog.gz",
             f"{DOC}/copyright", MAN]
# Libraries the program links, by the packages that hold them.
SHARED_LIBRARIES = {"libc6", "libstdc++6"}


def output(*command):
    return subprocess.run([str(word) for word in command], check=True, capture_output=True,
                          text=True).stdout


def check_program_elf(program):
    """Stripped, without the compiler's .comment, dynamically linked, and
    hardened as hardening-check sees it: a position-independent executable
    with a stack protector, read-only relocations and immediate binding."""
    sections = output("readelf", "-S", "-W", program)
    check(".debug_" not in sections and ".symtab" not in sections,
          f"{program} is not stripped")
    check(".comment" not in sections, f"{program} has a .comment section")
    segments = output("readelf", "-l", "-W", program)
    check("Requesting program interpreter" in segments, f"{program} is not linked dynamically")
    dynamic = output("readelf", "-d", "-W", program)
    hardening = {
        "position-independent": "Position-Independent Executable" in output(
            "readelf", "-h", "-W", program),
        "stack protector": "__stack_chk_fail" in output("readelf", "--dyn-syms", "-W", program),
        "read-only relocations": "GNU_RELRO" in segments,
        "immediate binding": "BIND_NOW" in dynamic,
    }
    missing = [name for name, present in hardening.items() if not present]
    check(not missing, f"{program} lacks {', '.join(missing)}")


def check_debian_flags(build_dir):
    """Each object of the Debian package's build tree, which builds no
    tests, is compiled with every flag that dpkg-buildflags gives for
    hardening=+all (bar the folder mappings, which the build makes
    itself)."""
    environment = {**os.environ, "DEB_BUILD_MAINT_OPTIONS": "hardening=+all"}
    flags = [flag for kind in ("CPPFLAGS", "CXXFLAGS")
             for flag in subprocess.run(["dpkg-buildflags", "--get", kind], check=True,
                                        capture_output=True, text=True,
                                        env=environment).stdout.split()
             if not flag.startswith(("-ffile-prefix-map=", "-fdebug-prefix-map="))]
    commands = [entry["command"].split()
                for entry in json.loads((build_dir / "compile_commands.json").read_text())]
    objects = {words[words.index("-o") + 1]: words for words in commands}
    check(any("helligkeit_dynamic.dir/" in name for name in objects),
          f"no objects of the Debian program in {build_dir}")
    for name, words in objects.items():
        missing = [flag for flag in flags if flag not in words]
        check(not missing, f"{name} is compiled without {' '.join(missing)}")


def check_depends(depends):
    """Depends as dpkg-shlibdeps writes it: each library's package with the
    least version that the program needs."""
    entries = [entry.strip() for entry in depends.split(",") if entry.strip()]
    names = {entry.split()[0] for entry in entries}
    check(SHARED_LIBRARIES <= names and all("(>= " in entry for entry in entries),
          f"Depends is {depends!r}: not computed from the program's libraries "
          f"{sorted(SHARED_LIBRARIES)}")


def license_terms():
    """The lines of LICENSE from the permission notice on."""
    lines = (ROOT / "LICENSE").read_text().splitlines()
    return lines[next(i for i, line in enumerate(lines) if line.startswith("Permission")):]


def check_copyright(text):
    """copyright-format 1.0, and the licence paragraph holds LICENSE's terms
    (a field's continuation lines: one space in front, " ." for an empty
    line)."""
    check(text.startswith("Format: https://www.debian.org/doc/packaging-manuals/"
                          "copyright-format/1.0/\n"), "the copyright file is not copyright-format 1.0")
    paragraph = text.rstrip("\n").split("\n\n")[-1].splitlines()
    terms = ["" if line == " ." else line[1:] for line in paragraph[1:]]
    check(paragraph[0] == "License: Expat" and terms == license_terms(),
          "the copyright file's licence is not the text of LICENSE")


def check_gzip(path):
    """Compressed with gzip -9n: no file name or time stamp in the header,
    the best compression. Returns the text."""
    data = path.read_bytes()
    name_flag, mtime, best = data[3] & 0x08, struct.unpack_from("<I", data, 4)[0], data[8] == 2
    check(not name_flag and mtime == 0 and best,
          f"{path.name} was not compressed with gzip -9n: name flag {name_flag}, "
          f"time {mtime}, best compression {best}")
    return gzip.decompress(data).decode()


def check_lintian(package):
    """Debian's checker, with every tag: no error and no warning."""
    result = subprocess.run(["lintian", "-I", "--pedantic", str(package)], capture_output=True,
                            text=True)
    print(result.stdout, end="", flush=True)
    tags = result.stdout.splitlines()
    check(result.returncode == 0 or tags, f"lintian failed:\n{result.stderr}")
    found = [line for line in tags if line.startswith(("E:", "W:"))]
    check(not found, f"lintian reports errors or warnings on {package.name}")


def check_man_page():
    result = subprocess.run(["mandoc", "-Tlint", "-W", "warning", str(MAN_PAGE)],
                            capture_output=True, text=True)
    check(not result.stdout and not result.stderr,
          f"mandoc finds fault with {MAN_PAGE.name}:\n{result.stdout}{result.stderr}")


def check_installed_man_page():
    """`man helligkeit` finds the installed page and shows it."""
    if shutil.which("man") is None:
        check(Path("/" + MAN).is_file(), f"/{MAN} is not installed")
        return
    shown = subprocess.run(["man", "helligkeit"], capture_output=True, text=True,
                           env={**os.environ, "MANPAGER": "cat", "MANWIDTH": "80"})
    check(shown.returncode == 0 and "helligkeit - brightness of a full colour" in shown.stdout,
          f"man helligkeit shows no page:\n{shown.stderr}")


def check_deb(version, work, install):
    package = ROOT / "build" / f"helligkeit_{version}_amd64.deb"

    def field(name):
        return output("dpkg-deb", "-f", package, name).strip()

    for name, value in {"Package": "helligkeit", "Version": version,
                        "Architecture": "amd64", "Pre-Depends": ""}.items():
        check(field(name) == value, f"{package.name}: {name} is {field(name)!r}, not {value!r}")
    check_depends(field("Depends"))
    listing = output("dpkg-deb", "-c", package).splitlines()
    files = sorted(line.split()[-1].removeprefix("./") for line in listing
                   if not line.startswith("d"))
    check(files == sorted(DEB_FILES), f"{package.name} holds {files}")
    check(any(line.startswith("-rwxr-xr-x") and line.endswith("./usr/bin/helligkeit")
              for line in listing), "the program is not executable for all")
    unpacked = work / "deb"
    run("dpkg-deb", "-x", package, unpacked)
    program = unpacked / "usr" / "bin" / "helligkeit"
    check_program_elf(program)
    check_debian_flags(ROOT / "build-deb")
    check((unpacked / DOC / "README.md").read_bytes() == (ROOT / "README.md").read_bytes(),
          "the package's README.md is not the repository's")
    check_copyright((unpacked / DOC / "copyright").read_text())
    newest = check_gzip(unpacked / DOC / "changelog.gz").splitlines()[0]
    check(newest.startswith(f"helligkeit ({version}) "),
          f"the changelog's newest entry is {newest!r}, not one for {version}")
    check(check_gzip(unpacked / MAN) == MAN_PAGE.read_text(),
          "the package's manual page is not docs/helligkeit.1")
    check_lintian(package)

    if install:
        installed = subprocess.run(["dpkg-query", "-W", "helligkeit"], capture_output=True)
        check(installed.returncode != 0, "helligkeit is installed already; not touching it")
        run("apt-get", "install", "-y", "-qq", package, stdout=subprocess.DEVNULL)
        try:
            run(sys.executable, ROOT / "tests" / "e2e_test.py", "/usr/bin/helligkeit", "--",
                E2E_CASE)
            check_installed_man_page()
        finally:
            run("apt-get", "remove", "-y", "-qq", "helligkeit", stdout=subprocess.DEVNULL)
    else:
        run(sys.executable, ROOT / "tests" / "e2e_test.py", program, "--", E2E_CASE)
    return unpacked


def check_install(build_dir, prefix, expected):
    """`cmake --install --strip` puts the packaged files in place."""
    run("cmake", "--install", build_dir, "--prefix", prefix, "--strip")
    for relative, packaged in expected.items():
        check((prefix / relative).read_bytes() == packaged.read_bytes(),
              f"cmake --install gives a {relative} unlike the packaged one")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--install-deb", action="store_true",
                        help="install the package with apt, run it, remove it")
    args = parser.parse_args(argv)

    for workflow in ("zip", "deb"):
        run("cmake", "--workflow", "--preset", workflow, stdout=subprocess.DEVNULL)
    version = project_version(ROOT / "build-deb")
    check(project_version(ROOT / "build-win64-package") == version,
          "the two builds differ in version")

    check_man_page()
    work = Path(tempfile.mkdtemp(prefix="helligkeit-packages."))
    try:
        exe = check_zip(version, work)
        unpacked = check_deb(version, work, args.install_deb)
        check_install(ROOT / "build-win64-package", work / "win64",
                      {name: ROOT / name for name in ("README.md", "LICENSE")}
                      | {"helligkeit.exe": exe})
        # The package's files, under the prefix rather than under usr/.
        check_install(ROOT / "build-deb", work / "usr",
                      {path.removeprefix("usr/"): unpacked / path for path in DEB_FILES})
    finally:
        shutil.rmtree(work)
    print(f"packages of version {version}: all checks passed")


if __name__ == "__main__":
    main()
