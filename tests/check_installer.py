#!/usr/bin/python3
# Debian's Python 3, with the python3-* packages of debian-packages.txt.
"""Builds the Windows installer and installs, upgrades and removes it under Wine.

Usage:
    tests/check_installer.py

Builds the installer with the `msi` workflow preset and, from the same
staged files, one of the version 0.0.1. In a new Wine prefix of its own it
installs the lower version, the installer over it and the installer again
(one product each time, at last the newer, with its Installed-apps entry and
its links to the configured home page and bug reports), runs the installed
program through a pipe, reads the Start-menu shortcuts (the program, and
Notepad on the German README), and removes the product: the prefix's files and registry must then be as before, but for
what Wine and Windows Installer keep for themselves.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import pylnk

from check_documents import check_document
from check_packages import ICON_SIZES, README_FILES, WINDOWS_FILES, icon_sizes
from test_support import utf16, whole_output

sys.path[:0] = [str(Path(__file__).resolve().parents[1] / d) for d in ("tools", "installer")]
from make_msi import braced, product_code  # noqa: E402
from tool_support import ROOT, check, configured, fail, run  # noqa: E402

WINE_RUN = ROOT / "cmake" / "wine-run"
LOWER_VERSION = "0.0.1"
NAME, PUBLISHER = "Helligkeit", "the helligkeit authors"
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
PRODUCTS = r"HKEY_CURRENT_USER\Software\Microsoft\Installer\Products"
# Left alone when comparing the prefix before and after: Wine's registry
# files (the registry is compared through its exports) and the folders in
# which Windows Installer caches packages and icons, which Wine makes on
# first use and every Windows has.
IGNORED_FILES = re.compile(r"(\./[^/]*\.reg|\./\.update-timestamp|\./drive_c/windows/Installer"
                           r"|\./drive_c/users/[^/]+/AppData/Roaming/Microsoft/Installer)$")
# Keys that Wine rewrites by itself: its own settings (under them
# MenuFiles, which ties the Linux desktop's menu entries to shortcuts),
# the desktop colours, the network adapters and the hardware and drivers it
# finds at each start, with time stamps.
IGNORED_KEYS = re.compile(r"HKEY_CURRENT_USER\\(Software\\Wine|Control Panel)(\\|$)"
                          r"|HKEY_LOCAL_MACHINE\\(System"
                          r"|Software\\(Wow6432Node\\)?Microsoft\\Windows NT\\CurrentVersion"
                          r"\\NetworkCards)(\\|$)")
# Windows Installer's own keys, which stay behind empty.
INSTALLER_KEYS = re.compile(r"HKEY_CURRENT_USER\\Software\\Microsoft\\Installer"
                            r"(\\(Features|Products|UpgradeCodes))?"
                            r"|HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
                            r"\\Installer\\(UpgradeCodes"
                            r"|UserData(\\S-[-0-9]+(\\(Components|Products))?)?)")


def windows_path(path):
    """Wine's drive Z: is the root of the Linux file system."""
    return "Z:" + str(path).replace("/", "\\")


class Prefix:
    """A new Wine prefix, with what the checks read of it."""

    def __init__(self, work):
        self.work, self.path = work, work / "wine"
        # Wine's menu builder mirrors Start-menu shortcuts on the Linux
        # desktop: into the work folder, not into the home folder.
        self.env = dict(os.environ, XDG_DATA_HOME=str(work / "xdg"),
                        XDG_CONFIG_HOME=str(work / "xdg"))
        self.wine("--init")
        users = [p for p in (self.path / "drive_c" / "users").iterdir() if p.name != "Public"]
        check(len(users) == 1, f"not one user in the prefix: {users}")
        self.profile = users[0]

    def wine(self, *command, **kwargs):
        return run(WINE_RUN, self.path, *command, env=self.env, **kwargs)

    def msiexec(self, action, package):
        log = self.work / "msiexec.log"
        result = subprocess.run([str(WINE_RUN), str(self.path), "msiexec", action,
                                 windows_path(package), "/qn", "/l*v", windows_path(log)],
                                env=self.env)
        if result.returncode != 0:
            print(log.read_text(errors="replace")[-3000:], file=sys.stderr)
            fail(f"msiexec {action} {package.name} ended with {result.returncode}")

    def unix(self, path):
        """The Linux path of a path on drive C:."""
        check(path[:3].upper() == "C:\\", f"{path} is not on drive C:")
        return self.path / "drive_c" / path[3:].replace("\\", "/")

    def registry(self):
        """HKCU and HKLM as {key: {value line, ...}}."""
        keys = {}
        for root in ("HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"):
            export = self.work / "export.reg"
            self.wine("regedit", "/E", windows_path(export), root)
            keys |= parse_registry(export.read_bytes().decode("utf-16"))
        return keys

    def state(self):
        """The prefix's files and its registry, for comparing."""
        files = {"./" + str(p.relative_to(self.path)) for p in self.path.rglob("*")
                 if "dosdevices" not in p.parts}
        return files, self.registry()


def parse_registry(text):
    """A regedit export as {key: {value line, ...}}, continued lines joined."""
    keys, key = {}, None
    for line in text.replace("\\\r\n  ", "").replace("\\\n  ", "").splitlines():
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            keys[key] = set()
        elif key and line.strip():
            keys[key].add(line)
    return keys


def values(lines):
    """A key's values by name; text without its quotes and escapes."""
    pairs = (line.split("=", 1) for line in lines)
    return {name.strip('"'): value[1:-1].replace("\\\\", "\\") if value[0] == '"' else value
            for name, value in pairs}


def check_per_user(package):
    """What Windows reads to install without asking for administrator rights,
    which Wine never asks for: the summary information says that the package
    needs no elevation (bit 3 of its word count), and without ALLUSERS the
    installation is per user."""
    summary = run("msiinfo", "suminfo", package, capture_output=True, text=True).stdout
    word_count = re.search(r"^Source: (\d+)", summary, re.M)
    check(word_count and int(word_count.group(1)) & 8,
          f"{package.name} asks for elevation:\n{summary}")
    properties = run("msiinfo", "export", package, "Property", capture_output=True, text=True)
    check("ALLUSERS" not in properties.stdout, f"{package.name} sets ALLUSERS")


def check_installed(prefix, version, icon, build):
    registry = prefix.registry()
    entries = {key.rsplit("\\", 1)[1]: values(lines) for key, lines in registry.items()
               if key.startswith(UNINSTALL + "\\") and values(lines).get("DisplayName") == NAME}
    code = braced(product_code(version))
    check(list(entries) == [code], f"installed: {list(entries)}, not {code} alone")
    entry = entries[code]
    folder = prefix.profile / "AppData" / "Local" / "Programs" / "helligkeit"
    for name, value in {"DisplayVersion": version, "Publisher": PUBLISHER,
                        "NoModify": "dword:00000001",
                        "URLInfoAbout": configured(build, "HELLIGKEIT_HOMEPAGE"),
                        "HelpLink": configured(build, "HELLIGKEIT_BUG_URL")}.items():
        check(entry.get(name) == value, f"the entry's {name} is {entry.get(name)!r}, not {value!r}")
    check(sorted(p.name for p in folder.iterdir()) == WINDOWS_FILES,
          f"{folder} holds {sorted(p.name for p in folder.iterdir())}")
    for name in ("NEWS.md", "LICENSE"):
        check((folder / name).read_bytes() == (ROOT / name).read_bytes(), f"{name} differs")
    for readme in README_FILES:
        check_document(f"the installed {readme}", (folder / readme).read_text(), readme, build)
    products = [values(lines) for key, lines in registry.items()
                if key.startswith(PRODUCTS + "\\") and values(lines).get("ProductName") == NAME]
    shown = products[0].get("ProductIcon", "") if len(products) == 1 else ""
    check(prefix.unix(shown).is_file() and prefix.unix(shown).read_bytes() == icon.read_bytes(),
          f"the entry's icon is {shown!r}, not the built one")
    return folder / "helligkeit.exe"


def read_shortcut(prefix, name):
    """A Start-menu shortcut's target, arguments, working folder and icon."""
    shortcut = (prefix.profile / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu"
                / "Programs" / f"{name}.lnk")
    check(shortcut.is_file(), f"no shortcut {shortcut}")
    link = pylnk.file()
    link.open(str(shortcut))
    read = (link.local_path or "", link.command_line_arguments or "",
            link.working_directory or "", link.icon_location)
    link.close()
    print(f"{shortcut.name}: target, arguments, working folder, icon {read}")
    return read


def check_shortcuts(prefix, program, work):
    target, _, folder, icon = read_shortcut(prefix, "Helligkeit")
    check(prefix.unix(target) == program,
          f"the shortcut points at {target}, not at the installed program")
    check(prefix.unix(folder.rstrip("\\")) == prefix.profile,
          f"the shortcut starts in {folder}, not in the user's folder")
    check(icon in (None, target), f"the shortcut shows the icon {icon}, not the program's")
    sizes = icon_sizes(program, work)
    check(sizes == ICON_SIZES, f"the installed program's icon has the sizes {sizes}, "
                               f"not {ICON_SIZES}")
    # The German README in Notepad, which every Windows has.
    target, arguments, _, _ = read_shortcut(prefix, "Helligkeit Liesmich")
    check(target.lower() == r"c:\windows\notepad.exe"
          and prefix.unix(arguments.strip('"')) == program.parent / "LIESMICH.md",
          f"the README's shortcut runs {target} {arguments}, not Notepad on the installed "
          f"LIESMICH.md")


def check_dialogue(prefix, program):
    result = subprocess.run([str(WINE_RUN), str(prefix.path), str(program)], env=prefix.env,
                            input=utf16("550\r\n\r\n"), capture_output=True)
    check(result.returncode == 0 and result.stdout == whole_output("550.00", "84.120"),
          f"the installed program gave exit code {result.returncode} and {result.stdout!r}")


def compare(before, after):
    (files_before, keys_before), (files_after, keys_after) = before, after
    left = sorted(f for f in files_after ^ files_before if not IGNORED_FILES.match(f))
    check(not left, "removal leaves the files differing: " + ", ".join(left))
    changed = [key for key in sorted(keys_before.keys() | keys_after.keys())
               if not IGNORED_KEYS.match(key) and keys_before.get(key) != keys_after.get(key)
               and not (key not in keys_before and INSTALLER_KEYS.fullmatch(key)
                        and not keys_after[key])]
    check(not changed, "removal leaves the registry differing at: " + ", ".join(changed))


def main():
    run("cmake", "--workflow", "--preset", "msi", stdout=subprocess.DEVNULL)
    build = ROOT / "build-win64-package"
    version = configured(build)
    package = ROOT / "build-win64" / f"helligkeit-{version}-win64.msi"
    icon = build / "calculator" / "helligkeit.ico"
    work = Path(tempfile.mkdtemp(prefix="helligkeit-installer."))
    try:
        lower = work / f"helligkeit-{LOWER_VERSION}-win64.msi"
        run("cpack", "--config", build / "CPackConfig.cmake", "-G", "External", "-B", work,
            "-D", f"CPACK_PACKAGE_VERSION={LOWER_VERSION}",
            "-D", f"CPACK_PACKAGE_FILE_NAME={lower.stem}", stdout=subprocess.DEVNULL)
        check_per_user(package)
        prefix = Prefix(work)
        before = prefix.state()
        prefix.msiexec("/i", lower)
        check_installed(prefix, LOWER_VERSION, icon, build)
        for _ in range(2):  # the upgrade, then the same version again
            prefix.msiexec("/i", package)
            program = check_installed(prefix, version, icon, build)
        check_dialogue(prefix, program)
        check_shortcuts(prefix, program, work)
        prefix.msiexec("/x", package)
        compare(before, prefix.state())
    finally:
        if (work / "wine").exists():
            run(WINE_RUN, work / "wine", "--stop")
        shutil.rmtree(work)
    print(f"installer of version {version}: installed, upgraded and removed under Wine")


if __name__ == "__main__":
    main()
