#!/usr/bin/python3
# Debian's Python 3, with the python3-* packages of debian-packages.txt.
"""Builds the release packages and checks what is in them.

Usage:
    tools/check_packages.py [--install-deb]

Builds the Windows zips, build-win64/helligkeit-VERSION-win64.zip and
helligkeit-VERSION-win64-dev.zip, and the Debian packages of this machine and
of each machine that cmake/machines.txt releases, build/NAME_VERSION_ARCH.deb
(python3-helligkeit natively alone), with the `zip`, `zip-dev`, `deb` and
`deb-ARCH` workflow presets, then checks:

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
- each program package: `helligkeit` VERSION for ARCH, the configured home
  page, the Depends that dpkg-shlibdeps reads off its program (libc6,
  libgcc-s1, libstdc++6 of ARCH, each with a least version); the stripped,
  dynamically linked, hardened program, each object built with
  dpkg-buildflags' flags for ARCH; the README and LIESMICH.md, the copyright
  file (LICENSE's text, the configured source address), the changelog
  (NEWS.md's sections, newest: VERSION), the manual page in English and in
  German, compressed as gzip -9n does; its program's dialogue (another
  machine's under qemu-user, with that machine's Debian libraries);
- each machine's library packages, libhelligkeit1 and libhelligkeit-dev
  (Multi-Arch: same), and this machine's python3-helligkeit, whose
  extension's Depends names numpy's ABI and the Python version as dh_numpy3
  and dh_python3 would (read off Debian's numpy and python3): fields,
  Depends, files, the
  shlibs, symbols and ldconfig trigger, the shared library's SONAME and
  exports (helligkeit_* alone, those of the symbols file, each with the
  version helligkeit.h says it came in), the documents;
  the library's C user program, built with the machine's compiler and the
  packaged helligkeit.pc, run against the packaged library (under
  qemu-user on another machine), and natively the Python module too;
- no E or W from lintian --pedantic on any package;
- each packaged README and manual page: the one the build made, naming
  VERSION and the configured addresses, with a note beside each address
  that is still a placeholder and none beside the others; no message at
  all from `mandoc -Tlint`; the same files from `cmake --install --strip`.

With --install-deb (CI: as root, where no helligkeit package is installed)
apt installs each machine's packages in turn, resolving their Depends for
ARCH; the installed program is run, `man helligkeit` must find the manual
page, and in a German locale (made with localedef) the German one. With only
the installed files, tools/check_library.py /usr builds the library's users
with pkg-config and CMake's find_package and runs them and the Python module
(natively); another machine's user program runs under qemu-user, where that
machine's loader finds the installed library. The packages are removed
again. Otherwise the program is run from the unpacked package.
"""

import argparse
import gzip
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import sysconfig
import zipfile
from pathlib import Path

import pefile
from debian.changelog import Changelog
from debian.copyright import Copyright, NotMachineReadableError
from debian.deb822 import PkgRelation
from debian.debfile import DebFile

from check_documents import check_document
from check_library import USER, check_archive, check_exports, check_user, exported_names
from tool_support import ROOT, check, configured, exports, fail, machines, output, run

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
# The README in English and in German, in every package.
README_FILES = ["README.md", "LIESMICH.md"]
# What the zip and the installer hold, by name.
WINDOWS_FILES = ["LICENSE", "LIESMICH.md", "NEWS.md", "README.md", "helligkeit.exe"]
# What the zip holds besides: the manual page in HTML, in English and German.
MANUAL_FILES = ["helligkeit.1.de.html", "helligkeit.1.html"]
# What `man helligkeit` shows as the NAME line in a locale of each language.
MAN_NAME_LINES = {"C.UTF-8": "helligkeit - brightness of a full colour",
                  "de_DE.UTF-8": "helligkeit - Helligkeit einer Vollstfarbe"}
# The end-to-end cases run against each packaged program: every input of
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


# ---------------------------------------------------------------------------
# The Debian packages


DOC = "usr/share/doc/helligkeit"
# The manual pages in the package and in the build's documents/, by language.
MAN_PAGES = {"usr/share/man/man1/helligkeit.1.gz": "man/helligkeit.1",
             "usr/share/man/de/man1/helligkeit.1.gz": "man/de/helligkeit.1"}
DEB_FILES = ["usr/bin/helligkeit", *(f"{DOC}/{name}" for name in README_FILES),
             f"{DOC}/changelog.gz", f"{DOC}/copyright", *MAN_PAGES]
COPYRIGHT_FORMAT = "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
# Libraries the program links, by the packages that hold them.
SHARED_LIBRARIES = {"libc6", "libgcc-s1", "libstdc++6"}
# The library's packages: their Architecture (ARCH: the build's machine),
# Multi-Arch, Depends (None: read off the library, libc6 alone) and files
# beside the copyright file and the changelog (TRIPLET: the machine's
# multiarch folder; SO: the shared library, named by the project's version).
LIBRARY_PACKAGES = {
    "libhelligkeit1": ("ARCH", "same", None,
                       ["usr/lib/TRIPLET/libhelligkeit.so.1", "usr/lib/TRIPLET/SO"]),
    "libhelligkeit-dev": ("ARCH", "same", "libhelligkeit1 (= VERSION)", [
        "usr/include/helligkeit.h", "usr/lib/TRIPLET/libhelligkeit.a",
        "usr/lib/TRIPLET/libhelligkeit.so", "usr/lib/TRIPLET/pkgconfig/helligkeit.pc",
        *(f"usr/lib/TRIPLET/cmake/helligkeit/helligkeit-{name}.cmake"
          for name in ("config", "config-version", "targets", "targets-relwithdebinfo")),
        "usr/share/man/man3/helligkeit.3.gz"]),
    "python3-helligkeit": ("ARCH", None, "PYTHON", [
        f"usr/lib/python3/dist-packages/helligkeit/{name}"
        for name in ("__init__.py", f"_ufunc{sysconfig.get_config_var('EXT_SUFFIX')}")]),
}


def python_depends():
    """The Python module's Depends as (name, relation, version) for each
    package: numpy's ABI and least version as dh_numpy3 writes them from the
    installed numpy, the Python versions the extension's name is for as
    dh_python3 writes them, then the libraries the extension links, read off
    it: libc6 of some version and the library from its first version."""
    numpy = dict(line.split(" ", 1) for line in
                 Path("/usr/share/numpy3/versions").read_text().splitlines()
                 if line and not line.startswith("#"))
    major, minor = sys.version_info[:2]
    return [("python3-numpy", ">=", numpy["api-min-version"]),
            (f"python3-numpy-abi{numpy['abi']}", None, None),
            ("python3", "<<", f"{major}.{minor + 1}"), ("python3", ">=", f"{major}.{minor}~"),
            ("python3:any", None, None), ("libc6", ">=", "*"), ("libhelligkeit1", ">=", "1.2.0")]


def check_program_elf(program):
    """Stripped, without the compiler's .comment, dynamically linked, and
    hardened as hardening-check reads it off any machine's ELF headers: a
    position-independent executable with a stack protector, read-only
    relocations and immediate binding (fortification finds nothing to check)."""
    sections = output("readelf", "-S", "-W", program)
    check(".debug_" not in sections and ".symtab" not in sections,
          f"{program} is not stripped")
    check(".comment" not in sections, f"{program} has a .comment section")
    check("Requesting program interpreter" in output("readelf", "-l", "-W", program),
          f"{program} is not linked dynamically")
    run("hardening-check", "--nofortify", "--nocfprotection", program)


def check_debian_flags(build_dir, arch):
    """Each object of the package's build tree (no tests) is compiled with every
    flag that dpkg-buildflags gives for hardening=+all on ARCH, bar the
    folder mappings, which the build makes itself."""
    flags = [flag for kind in ("CPPFLAGS", "CXXFLAGS")
             for flag in output("env", "DEB_BUILD_MAINT_OPTIONS=hardening=+all",
                                f"DEB_HOST_ARCH={arch}", "dpkg-buildflags", "--get", kind).split()
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
    """Depends as dpkg-shlibdeps writes it on the package's own machine: each
    library's package, of that machine (no :ARCH), with the least version needed."""
    relations = [one for group in PkgRelation.parse_relations(depends) for one in group]
    check({relation["name"] for relation in relations} == SHARED_LIBRARIES
          and all(relation["archqual"] is None and (relation["version"] or [None])[0] == ">="
                  for relation in relations),
          f"Depends is {depends!r}: not computed from the program's libraries "
          f"{sorted(SHARED_LIBRARIES)}")


def check_copyright(path, source):
    """A copyright file in copyright-format 1.0 that names where the sources
    are, SOURCE, and whose licence is the text of LICENSE from its
    permission notice on."""
    try:
        copyright = Copyright(path.read_text().splitlines())
    except NotMachineReadableError as error:
        fail(f"the copyright file is not machine-readable: {error}")
    header = copyright.header
    check((header.format, header.source) == (COPYRIGHT_FORMAT, source),
          f"the copyright file's format is {header.format}, not {COPYRIGHT_FORMAT}, "
          f"or its source {header.source}, not {source}")
    lines = (ROOT / "LICENSE").read_text().splitlines()
    terms = lines[next(i for i, line in enumerate(lines) if line.startswith("Permission")):]
    licences = [paragraph.license for paragraph in copyright.all_license_paragraphs()]
    check([(licence.synopsis, licence.text.splitlines()) for licence in licences]
          == [("Expat", terms)], "the copyright file's licence is not the text of LICENSE")


def check_gzip(path):
    """Compressed with gzip -9n, so with no file name or time stamp and the
    best compression: the bytes are what gzip -9n makes of what they hold.
    Returns the text."""
    data = path.read_bytes()
    text = gzip.decompress(data)
    again = subprocess.run(["gzip", "-9n"], input=text, capture_output=True, check=True).stdout
    check(again == data, f"{path.name} is not what gzip -9n makes of its text")
    return text.decode()


def check_changelog(text, version):
    """The Debian changelog: an entry for each of NEWS.md's sections, with
    the same words, the newest for VERSION."""
    def words(lines):
        return [word for word in " ".join(lines).split() if word not in ("-", "*")]
    entries = [(str(block.version), words(block.changes())) for block in Changelog(text)]
    news = [(section.split()[0], words(section.splitlines()[1:]))
            for section in (ROOT / "NEWS.md").read_text().split("\n## ")[1:]]
    check(entries == news and news[0][0] == version,
          f"the changelog's entries {[v for v, _ in entries]} are not NEWS.md's, newest {version}")


def check_library_debs(build, arch, version, program_docs, work):
    """The library's packages of the build for ARCH, and the Python module's
    (for all machines): fields, files, the control files that tell dpkg of
    the shared library, what the shared library exports, the documents. The
    C user program, built with the machine's compiler and pkg-config's flags
    from the packaged helligkeit.pc (its folders under the unpacked packages,
    PKG_CONFIG_SYSROOT_DIR), runs against the packaged library (another
    machine's under qemu-user); natively the Python module too. Returns the
    packages, the folder they are unpacked in and the user program."""
    triplet = output("dpkg-architecture", f"-a{arch}", "-qDEB_HOST_MULTIARCH").strip()
    names = {"TRIPLET": triplet, "SO": f"libhelligkeit.so.{configured(build)}", "VERSION": version,
             "ARCH": arch}

    def named(text):
        for placeholder, value in names.items():
            text = text.replace(placeholder, value)
        return text

    root, packages = work / f"{arch}-library", []
    machine = next((machine for machine in machines() if machine.name == arch), None)
    for name, (architecture, multi_arch, depends, files) in LIBRARY_PACKAGES.items():
        if name == "python3-helligkeit" and machine:
            continue
        package = ROOT / "build" / f"{name}_{version}_{named(architecture)}.deb"
        deb = DebFile(package)
        fields = deb.debcontrol()
        for field, value in {"Package": name, "Version": version, "Source": "helligkeit",
                             "Architecture": named(architecture), "Multi-Arch": multi_arch,
                             "Homepage": configured(build, "HELLIGKEIT_HOMEPAGE")}.items():
            check(fields.get(field) == value,
                  f"{package.name}: {field} is {fields.get(field)!r}, not {value!r}")
        if depends == "PYTHON":
            relations = PkgRelation.parse_relations(fields["Depends"])
            found = [(one["name"] + (f":{one['archqual']}" if one.get("archqual") else ""),
                      *(one["version"] or (None, None))) for group in relations for one in group]
            wanted = python_depends()
            # A version of "*" is any version.
            seen = [(name, relation, "*" if want == "*" else version)
                    for (name, relation, version), (_, _, want) in zip(found, wanted)]
            check(len(relations) == len(found) == len(wanted) and seen == wanted,
                  f"{package.name}: Depends {fields['Depends']}, expected {wanted}")
        elif depends:
            check(fields["Depends"] == named(depends), f"{package.name}: Depends {fields['Depends']}")
        else:
            relations = PkgRelation.parse_relations(fields["Depends"])
            check([[(one["name"], one["version"][0])] for group in relations for one in group]
                  == [[("libc6", ">=")]], f"{package.name}: Depends {fields['Depends']}")
        doc = f"usr/share/doc/{name}"
        held = sorted(member.name.removeprefix("./") for member in deb.data.tgz().getmembers()
                      if not member.isdir())
        check(held == sorted(named(path) for path in files + [f"{doc}/changelog.gz",
                                                              f"{doc}/copyright"]),
              f"{package.name} holds {held}")
        deb.data.tgz().extractall(root)
        for document in ("changelog.gz", "copyright"):
            check((root / doc / document).read_bytes() == (program_docs / document).read_bytes(),
                  f"{package.name}'s {document} is not the program's")
        if name == "libhelligkeit1":
            control = {part: deb.control.get_content(part, encoding="utf-8")
                       for part in ("shlibs", "symbols", "triggers")}
            symbols = re.findall(r"^ (\S+)@Base (\S+)$", control["symbols"], re.M)
            check(control["shlibs"] == f"libhelligkeit 1 libhelligkeit1 (>= {version})\n"
                  and control["triggers"] == "activate-noawait ldconfig\n"
                  and control["symbols"].startswith("libhelligkeit.so.1 libhelligkeit1 #MINVER#\n")
                  and sorted(symbols) == sorted(exports()),
                  f"{package.name}: shlibs, symbols or triggers wrong: {control}")
        packages.append(package)

    libdir = root / "usr" / "lib" / triplet
    check_exports(libdir / "libhelligkeit.so.1")
    page = root / "usr/share/man/man3/helligkeit.3.gz"
    check(check_gzip(page) == (build / "documents" / "man" / "helligkeit.3").read_text(),
          "the packaged helligkeit(3) is not the one the build made")
    run("mandoc", "-Tlint", page)

    env = {**os.environ, "PKG_CONFIG_SYSROOT_DIR": str(root),
           "PKG_CONFIG_LIBDIR": str(libdir / "pkgconfig")}
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "helligkeit"], env=env, check=True,
                           capture_output=True, text=True).stdout.split()
    user = work / f"{arch}-user"
    run(f"{machine.triplet}-gcc" if machine else "cc", "-std=c99", "-Wall", "-Wextra",
        "-Wpedantic", "-Werror", USER / "user.c", "-o", user, *flags)
    if machine:
        cross = f"/usr/{machine.triplet}"
        check_user(f"{arch}: C with the packaged library",
                   [configured(build, "HELLIGKEIT_QEMU_PROGRAM"), "-L", cross,
                    "-E", f"LD_LIBRARY_PATH={libdir}:{cross}/lib", user])
    else:
        env["LD_LIBRARY_PATH"] = str(libdir)
        check_user(f"{arch}: C with the packaged library", [user], env)
        env["PYTHONPATH"] = str(root / "usr/lib/python3/dist-packages")
        check_user(f"{arch}: Python with the packaged module", ["/usr/bin/python3", USER / "user.py"],
                   env)
    return packages, root, user


def check_deb(preset, version, work, install):
    """The packages of preset `deb` or `deb-ARCH`, whose build found qemu-user."""
    build = ROOT / f"build-{preset}"
    arch = preset.partition("-")[2]
    runner = [configured(build, "HELLIGKEIT_QEMU_PROGRAM")] if arch else []
    arch = arch or output("dpkg", "--print-architecture").strip()
    package = ROOT / "build" / f"helligkeit_{version}_{arch}.deb"
    deb = DebFile(package)
    fields = deb.debcontrol()
    for name, value in {"Package": "helligkeit", "Version": version, "Architecture": arch,
                        "Homepage": configured(build, "HELLIGKEIT_HOMEPAGE"),
                        "Pre-Depends": None}.items():
        check(fields.get(name) == value,
              f"{package.name}: {name} is {fields.get(name)!r}, not {value!r}")
    check_depends(fields["Depends"])
    modes = {member.name.removeprefix("./"): member.mode
             for member in deb.data.tgz().getmembers() if not member.isdir()}
    check(sorted(modes) == sorted(DEB_FILES), f"{package.name} holds {sorted(modes)}")
    check(modes["usr/bin/helligkeit"] == 0o755, "the program is not executable for all")
    unpacked = work / preset
    deb.data.tgz().extractall(unpacked)
    program = unpacked / "usr" / "bin" / "helligkeit"
    check_program_elf(program)
    check_debian_flags(build, arch)
    for readme in README_FILES:
        check_document(f"the package's {readme}", (unpacked / DOC / readme).read_text(), readme,
                       build)
    check_copyright(unpacked / DOC / "copyright", configured(build, "HELLIGKEIT_SOURCE_URL"))
    check_changelog(check_gzip(unpacked / DOC / "changelog.gz"), version)
    for page, document in MAN_PAGES.items():
        check_document(f"the package's {page}", check_gzip(unpacked / page), document, build)
        run("mandoc", "-Tlint", unpacked / page)
    libraries, library_root, user = check_library_debs(build, arch, version, unpacked / DOC, work)
    # Debian's checker, with every tag shown: no error and no warning.
    run("lintian", "-I", "--pedantic", "--fail-on", "error,warning", package, *libraries)

    if install:
        names = [DebFile(path).debcontrol()["Package"] for path in [package, *libraries]]
        states = subprocess.run(["dpkg-query", "-W", "-f", "${db:Status-Status} ${Package}\n",
                                 *names], capture_output=True, text=True).stdout
        check(not re.search(r"^installed ", states, re.M),
              f"installed already, not touching them:\n{states}")
        run("apt-get", "install", "-y", "-qq", package, *libraries, stdout=subprocess.DEVNULL)
        try:
            run(sys.executable, ROOT / "tests" / "e2e_test.py", *runner, "/usr/bin/helligkeit",
                "--", E2E_CASE)
            for language, name_line in MAN_NAME_LINES.items():
                check_man(language, name_line, work)
            if runner:
                # The system's loader finds the installed library.
                check_user(f"{arch}: C with the installed library", [*runner, user])
            else:
                run(sys.executable, ROOT / "tools" / "check_library.py", "/usr")
        finally:
            run("dpkg", "--remove", *(f"{name}:{arch}" for name in names),
                stdout=subprocess.DEVNULL)
    else:
        run(sys.executable, ROOT / "tests" / "e2e_test.py", *runner, program, "--", E2E_CASE)
    # The packages' files, under the prefix rather than under usr/: all but
    # helligkeit.pc, which names the prefix.
    files = {path.removeprefix("usr/"): unpacked / path for path in DEB_FILES}
    files.update({str(path.relative_to(library_root / "usr")): path
                  for path in library_root.rglob("*") if path.is_file() and path.name != "helligkeit.pc"})
    check_install(build, work / f"{preset}-install", files)


def check_man(language, name_line, work):
    """`man helligkeit` in the locale LANGUAGE (made with localedef in the
    work folder where the system lacks it) shows the page whose NAME line
    starts with NAME_LINE."""
    env = {**os.environ, "MANPAGER": "cat", "MANWIDTH": "80", "LC_ALL": "", "LANGUAGE": "",
           "LANG": language}
    if language != "C.UTF-8":
        locales = work / "locales"
        locales.mkdir(exist_ok=True)
        locale_name, _, charset = language.partition(".")
        run("localedef", "-i", locale_name, "-f", charset, locales / language)
        env["LOCPATH"] = str(locales)
    shown = subprocess.run(["man", "helligkeit"], capture_output=True, text=True, env=env)
    check(shown.returncode == 0 and name_line in shown.stdout,
          f"LANG={language} man helligkeit shows no page starting {name_line!r}:\n"
          f"{shown.stdout[:400]}{shown.stderr}")


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

    debs = ["deb"] + [f"deb-{machine.name}" for machine in machines() if machine.released]
    for workflow in ("zip", "zip-dev", *debs):
        run("cmake", "--workflow", "--preset", workflow, stdout=subprocess.DEVNULL)
    versions = {configured(ROOT / f"build-{name}") for name in ("win64-package", *debs)}
    check(len(versions) == 1, f"the builds differ in version: {versions}")
    version = versions.pop()

    work = Path(tempfile.mkdtemp(prefix="helligkeit-packages."))
    try:
        exe = check_zip(version, work)
        check_dev_zip(version, work)
        check_install(ROOT / "build-win64-package", work / "win64",
                      {name: exe.parent / name for name in WINDOWS_FILES})
        for preset in debs:
            check_deb(preset, version, work, args.install_deb)
    finally:
        shutil.rmtree(work)
    print(f"packages of version {version}: all checks passed")


if __name__ == "__main__":
    main()
