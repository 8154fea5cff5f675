#!/usr/bin/python3
# Debian's Python 3, with the python3-* packages of debian-packages.txt.
"""Builds the Windows packages and checks what is in them.

Usage:
    tests/check_packages.py

Builds the Windows zips, build-win64/helligkeit-VERSION-win64.zip and
helligkeit-VERSION-win64-dev.zip, with the `zip` and `zip-dev` workflow
presets, then checks:

- the zip: one folder, helligkeit-VERSION-win64, with helligkeit.exe, the
  README in English and German (LIESMICH.md), NEWS.md, LICENSE and the
  manual page in HTML, in English and German, as the build renders it; the exe
  at most 512 KiB, stripped, no PE time stamp, ASLR (high-entropy too) and
  DEP, its icon's sizes, a German version resource (0x0407, code page 1200,
  throughout); its dialogue under Wine;
- the developers' zip: one folder with helligkeit.dll (exporting the C
  interface alone, importing only Windows' own DLLs, stripped, no time
  stamp, a German version resource), its import libraries
  libhelligkeit.dll.a and helligkeit.lib, helligkeit.def, the static library
  libhelligkeit_static.a (no global names but the library's own, no debug
  information), the header, LICENSE, its README and the library's manual
  page in HTML as the build renders it; the library's C user
  program built with MinGW-w64 against the zip's header and each import
  library alone, and against the static library beside globals named like
  its internals, run under Wine on check_library.py's table;
- each README in the zip: the one the build made, naming VERSION and the
  configured addresses, with a note beside each address that is still a
  placeholder and none beside the others;
- `cmake --install --strip` puts the zip's files in place.

The Debian packages are debhelper's (debian/), checked by lintian and tried
installed by autopkgtest (debian/tests/control).
"""

import argparse
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

import pefile

from check_documents import check_document
from check_library import USER, check_archive, check_user, exported_names

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
from tool_support import ROOT, check, configured, output, run  # noqa: E402

MAX_EXE_BYTES = 512 * 1024
FILE_DESCRIPTION = "Interpolation Vollstfarbenhelligkeit nach Valdrup"
DLL_DESCRIPTION = f"{FILE_DESCRIPTION}, C-Bibliothek"
LEGAL_COPYRIGHT = "\u00a9 2026 the helligkeit authors, MIT-Lizenz"
# German (Germany), and UTF-16 for the strings.
GERMAN = 0x0407
UNICODE_CODE_PAGE = 1200
# The version resource's flag of a build not made the usual way.
VS_FF_PRIVATEBUILD = 0x8
# The sizes of the program's icon, in pixels.
ICON_SIZES = [16, 32, 48, 256]
# What the PE header's DllCharacteristics must say (MinGW-w64's linker sets
# them by default).
EXPLOIT_MITIGATIONS = {"high-entropy ASLR": "HIGH_ENTROPY_VA", "ASLR": "DYNAMIC_BASE",
                       "DEP": "NX_COMPAT"}
# The README in English and in German, in the zip.
README_FILES = ["README.md", "LIESMICH.md"]
# What the zip and the installer hold, by name.
WINDOWS_FILES = ["LICENSE", "LIESMICH.md", "NEWS.md", "README.md", "helligkeit.exe"]
# What the zip holds besides: the manual page in HTML, in English and German.
MANUAL_FILES = ["helligkeit.1.de.html", "helligkeit.1.html"]
# The end-to-end cases run against the packaged program: every input of
# the dialogue table, compared byte for byte.
E2E_CASE = "DialogueTest.test_reports"


# ---------------------------------------------------------------------------
# The Windows program


def icon_sizes(program, work):
    """The sizes in the program's first icon group, as wrestool takes it out
    as an .ico and icotool lists it (from a file: icotool reads a PNG image
    of an icon only from a file it can seek in)."""
    icon = work / f"{program.stem}-icon.ico"
    run("wrestool", "--extract", "--type=14", "--name=1", "--output", icon, program)
    check(icon.is_file(), f"{program.name} has no icon")
    return [int(width) for width in re.findall(r"--width=(\d+)", output("icotool", "-l", icon))]


def resource_stamps(directory):
    """The time stamps of a resource directory and of all below it."""
    return [directory.struct.TimeDateStamp] + [
        stamp for entry in directory.entries if hasattr(entry, "directory")
        for stamp in resource_stamps(entry.directory)]


def check_exe(exe, version, work, dirty=False):
    """The program of VERSION; a DIRTY one (of uncommitted changes) says
    VERSION-dirty in its version strings and is flagged as a private build."""
    size = exe.stat().st_size
    print(f"{exe.name}: {size} bytes")
    check(size <= MAX_EXE_BYTES, f"{exe.name} has {size} bytes, more than {MAX_EXE_BYTES}")
    pe = pefile.PE(str(exe))
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(optional.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, "not a 64-bit program")
    names = [section.Name.rstrip(b"\0").decode() for section in pe.sections]
    check(not any(name.startswith((".debug", "/")) for name in names)
          and header.NumberOfSymbols == 0,
          f"{exe.name} is not stripped: sections {names}, {header.NumberOfSymbols} symbols")
    check(header.TimeDateStamp == 0, f"{exe.name} has a time stamp: {header.TimeDateStamp}")
    missing = [name for name, flag in EXPLOIT_MITIGATIONS.items()
               if not getattr(optional, "IMAGE_DLLCHARACTERISTICS_" + flag)]
    check(not missing, f"{exe.name} lacks {', '.join(missing)}")
    stamps = resource_stamps(pe.DIRECTORY_ENTRY_RESOURCE)
    check(not any(stamps), f"{exe.name}: resource directories with time stamps {stamps}")
    sizes = icon_sizes(exe, work)
    check(sizes == ICON_SIZES, f"{exe.name}'s icon has the sizes {sizes}, not {ICON_SIZES}")
    check_version_resource(exe.name, pe, version, FILE_DESCRIPTION, dirty)


def check_version_resource(name, pe, version, description, dirty=False):
    """The version resource of the program or the DLL NAME: German, of
    VERSION, described as DESCRIPTION, VERSION-dirty and flagged as a
    private build where DIRTY."""
    # One language throughout: the resource directory, the string table's
    # name (language and code page in hex) and the translation.
    languages = [language.id for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries
                 if entry.id == pefile.RESOURCE_TYPE["RT_VERSION"]
                 for name in entry.directory.entries for language in name.directory.entries]
    blocks = [block for info in pe.FileInfo for block in info]
    tables = [table for block in blocks for table in getattr(block, "StringTable", [])]
    table_names = [table.LangID.decode() for table in tables]
    translations = [var.entry.get(b"Translation") for block in blocks
                    for var in getattr(block, "Var", [])]
    check(languages == [GERMAN] and table_names == [f"{GERMAN:04X}{UNICODE_CODE_PAGE:04X}"]
          and translations == [f"{GERMAN:#06x} {UNICODE_CODE_PAGE:#06x}"],
          f"{name}: the version resource's language is {languages} in the resource "
          f"directory, string tables {table_names}, translations {translations}; "
          f"not {GERMAN:#06x} with code page {UNICODE_CODE_PAGE} throughout")
    fixed = pe.VS_FIXEDFILEINFO[0]
    four_parts = f"{version}.0"
    versions = [".".join(str(part) for part in (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
                for ms, ls in ((fixed.FileVersionMS, fixed.FileVersionLS),
                               (fixed.ProductVersionMS, fixed.ProductVersionLS))]
    check(versions == [four_parts] * 2, f"fixed versions {versions}, not {four_parts}")
    strings = {name.decode(): value.decode() for table in tables
               for name, value in table.entries.items()}
    print(f"{name}: version {four_parts}, flags {fixed.FileFlags:#x}, {strings}")
    shown = f"{version}-dirty" if dirty else version
    expected = {"FileDescription": description, "ProductName": "helligkeit",
                "FileVersion": shown, "ProductVersion": shown,
                "LegalCopyright": LEGAL_COPYRIGHT, "OriginalFilename": name}
    wrong = {name: strings.get(name) for name in expected if strings.get(name) != expected[name]}
    check(not wrong, f"version strings {wrong}, not as in {expected}")
    private = bool(fixed.FileFlags & VS_FF_PRIVATEBUILD)
    check(private == dirty == ("PrivateBuild" in strings),
          f"{name}: private build flag {private}, PrivateBuild {strings.get('PrivateBuild')!r}")


def check_zip(version, work):
    folder = f"helligkeit-{version}-win64"
    archive = ROOT / "build-win64" / f"{folder}.zip"
    with zipfile.ZipFile(archive) as zipped:
        names = sorted(zipped.namelist())
        check(names == [f"{folder}/{name}" for name in sorted(WINDOWS_FILES + MANUAL_FILES)],
              f"{archive.name} holds {names}")
        zipped.extractall(work / "zip")
    unpacked = work / "zip" / folder
    for name in ("NEWS.md", "LICENSE"):
        check((unpacked / name).read_bytes() == (ROOT / name).read_bytes(),
              f"the zip's {name} is not the repository's")
    for readme in README_FILES:
        check_document(f"the zip's {readme}", (unpacked / readme).read_text(), readme,
                       ROOT / "build-win64-package")
    for page in MANUAL_FILES:
        check_document(f"the zip's {page}", (unpacked / page).read_text(), f"html/{page}",
                       ROOT / "build-win64-package")
    exe = unpacked / "helligkeit.exe"
    check_exe(exe, version, work)
    run(sys.executable, ROOT / "tests" / "e2e_test.py", ROOT / "cmake" / "wine-run",
        ROOT / "build-win64" / "wine", exe, "--", E2E_CASE)
    return exe


# What the Windows developers' zip holds, by name.
DEV_ZIP_FILES = ["LICENSE", "README.md", "helligkeit.3.html", "helligkeit.def", "helligkeit.dll",
                 "helligkeit.h", "helligkeit.lib", "libhelligkeit.dll.a", "libhelligkeit_static.a"]
# How a MinGW-w64 user links each library of the developers' zip: (the
# library, what else goes into the program, whether helligkeit.dll goes
# beside it).
DEV_ZIP_USERS = [
    ("libhelligkeit.dll.a", [], True),
    ("helligkeit.lib", [], True),
    ("libhelligkeit_static.a", ["-DHELLIGKEIT_STATIC", USER / "clash.c"], False),
]
# The DLLs that helligkeit.dll may import: those of every Windows.
WINDOWS_DLLS = {"kernel32.dll", "msvcrt.dll"}


def check_dev_zip(version, work):
    """The zip for C and C++: one folder with the DLL, which exports the C
    interface alone, needs nothing but Windows, is stripped without a time
    stamp and has the version resource; the static library, which defines no
    global name but the library's own; the header, the licence and the list
    of exports as the build made them; the README. user.c, built with
    MinGW-w64 against the zip's header and each of its import libraries
    alone, runs under Wine with the DLL beside it, and built against the
    static library (beside clash.c's globals) without it."""
    folder = f"helligkeit-{version}-win64-dev"
    build = ROOT / "build-win64-package"
    with zipfile.ZipFile(ROOT / "build-win64" / f"{folder}.zip") as zipped:
        names = sorted(zipped.namelist())
        check(names == [f"{folder}/{name}" for name in DEV_ZIP_FILES], f"{folder}.zip holds {names}")
        zipped.extractall(work / "dev-zip")
    unpacked = work / "dev-zip" / folder
    for name, source in (("LICENSE", ROOT / "LICENSE"),
                         ("helligkeit.def", build / "curve" / "helligkeit.def"),
                         ("helligkeit.h", ROOT / "curve" / "helligkeit.h")):
        check((unpacked / name).read_bytes() == source.read_bytes(), f"the zip's {name} is not {source}")
    check_document("the developers' zip's README.md", (unpacked / "README.md").read_text(),
                   "library-windows.md", build)
    check((unpacked / "helligkeit.3.html").read_bytes()
          == (build / "documents" / "html" / "helligkeit.3.html").read_bytes(),
          "the developers' zip's helligkeit.3.html is not the one the build rendered")
    dll = pefile.PE(str(unpacked / "helligkeit.dll"))
    exported = sorted(symbol.name.decode() for symbol in dll.DIRECTORY_ENTRY_EXPORT.symbols)
    imports = {entry.dll.decode().lower() for entry in dll.DIRECTORY_ENTRY_IMPORT}
    sections = [section.Name.rstrip(b"\0").decode() for section in dll.sections]
    check(exported == exported_names() and imports <= WINDOWS_DLLS,
          f"helligkeit.dll exports {exported} and imports {sorted(imports)}")
    check(dll.FILE_HEADER.TimeDateStamp == 0 and dll.FILE_HEADER.NumberOfSymbols == 0
          and not any(name.startswith((".debug", "/")) for name in sections),
          f"helligkeit.dll is not stripped, or has a time stamp: sections {sections}")
    check_version_resource("helligkeit.dll", dll, version, DLL_DESCRIPTION)
    static = unpacked / "libhelligkeit_static.a"
    check_archive("x86_64-w64-mingw32-nm", static)
    check(".debug_" not in output("x86_64-w64-mingw32-objdump", "-h", static),
          "libhelligkeit_static.a has debug information")
    for library, extra, beside in DEV_ZIP_USERS:
        users = work / f"dev-zip-user-{library.split('.')[0]}"
        users.mkdir()
        if beside:
            shutil.copy(unpacked / "helligkeit.dll", users)
        exe = users / "user.exe"
        run("x86_64-w64-mingw32-gcc", "-std=c99", "-Wall", "-Wextra", "-Wpedantic", "-Werror",
            "-I", unpacked, USER / "user.c", *extra, unpacked / library, "-o", exe)
        check_user(f"Windows, {library}", [ROOT / "cmake" / "wine-run", ROOT / "build-win64" / "wine",
                                           exe])


def check_install(build_dir, prefix, expected):
    """`cmake --install --strip` puts the packaged files in place."""
    run("cmake", "--install", build_dir, "--prefix", prefix, "--strip")
    for relative, packaged in expected.items():
        check((prefix / relative).read_bytes() == packaged.read_bytes(),
              f"cmake --install gives a {relative} unlike the packaged one")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.parse_args(argv)
    for workflow in ("zip", "zip-dev"):
        run("cmake", "--workflow", "--preset", workflow, stdout=subprocess.DEVNULL)
    version = configured(ROOT / "build-win64-package")
    work = Path(tempfile.mkdtemp(prefix="helligkeit-packages."))
    try:
        exe = check_zip(version, work)
        check_dev_zip(version, work)
        check_install(ROOT / "build-win64-package", work / "win64",
                      {name: exe.parent / name for name in WINDOWS_FILES})
    finally:
        shutil.rmtree(work)
    print(f"Windows packages of version {version}: all checks passed")


if __name__ == "__main__":
    main()
