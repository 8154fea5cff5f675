#!/usr/bin/python3
# Debian's Python 3, with the python3-* packages of debian-packages.txt.
"""Checks the documents: their translations, the version they name, and the
commands they give.

Usage:
    tests/check_documents.py translations
    tests/check_documents.py version
    tests/check_documents.py commands [--run]

translations: po4a brings a copy of each po/*.po up to date with the English
  documents (in a folder of its own; po/ stays as it is). Every entry must
  then be translated, none fuzzy and none left over from English that is
  gone, and each of the program's own texts that an English paragraph holds
  must stand in its translation exactly as the program prints it.

version: a copy of the sources, its version set to 9.9.9 with a section in
  NEWS.md dated after the sources' last change (SOURCE_DATE_EPOCH) and only
  the home page's address set, is configured and its documents made: each
  names 9.9.9 and never the current version, is dated by the sources, and has
  a placeholder's note beside the two addresses left unset alone; the Debian
  changelog that tools/debian_changelog.py writes has its newest entry for
  9.9.9, dated no later than the sources, and with a second release on the
  newest one's day, every entry dated after the one below it.

commands: the commands in the code blocks and code spans of README.md,
  CONTRIBUTING.md, RELEASING.md, tests/README.md and bench/README.md, and in
  the examples of the program's manual page, name what exists: a script of the
  repository run by its path is executable in git (so on a fresh clone) and
  starts with #!, a path of the repository exists, a preset of the right kind
  exists in CMakePresets.json, a make target in the Makefile. With --run, the
  commands of the code blocks made only of RUNNABLE programs also run as
  written (the build in build/ done): a test program, an end-to-end case and
  the program fed from iconv.
"""

import argparse
import email.utils
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from test_support import CLOSING_TEXT, HEAD, TITLE, report_text

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
from tool_support import (HEADER, ROOT, check, configured, fail, output, project_version,  # noqa: E402
                          run, set_project_version)

# ---------------------------------------------------------------------------
# What the packages hold


def check_document(name, text, document, build_dir):
    """A packaged README or manual page: the document the build made in
    documents/, naming the version and the configured addresses, with a note
    in parentheses beside each placeholder (on .invalid) and none beside an
    address that is set."""
    made = build_dir / "documents" / document
    check(text == made.read_text(), f"{name} is not {made}")
    version = configured(build_dir)
    check(version in text and not re.search(r"@[A-Z_]+@", text),
          f"{name} does not name the version {version} in every place")
    for url in (configured(build_dir, f"HELLIGKEIT_{setting}")
                for setting in ("HOMEPAGE", "SOURCE_URL", "BUG_URL")):
        noted = re.search(re.escape(url) + r">?\s+\(", text)
        check(url in text and bool(noted) == url.endswith(".invalid/"),
              f"{name}: {url} is missing, or has a placeholder's note or lacks one")
    check(".invalid/" in text or not re.search(r"placeholder|platzhalter", text, re.I),
          f"{name} speaks of placeholders, yet every address is set")


# ---------------------------------------------------------------------------
# Translations


def program_texts():
    """The program's texts, each as it may stand in a document: whole, without
    its spaces and final full stop, and as a manual page writes an ä."""
    lines = HEAD.decode().split("\r\n") + [TITLE, CLOSING_TEXT, report_text("550.00", "84.120")]
    forms = set()
    for line in filter(str.strip, lines):
        for form in (line, line.strip(), line.strip().rstrip(".")):
            forms |= {form, form.replace("\u00e4", "\\(:a")}
    return forms


def check_translations():
    try:
        import polib
    except ImportError:
        fail("needs polib: apt-get install python3-polib")
    texts = program_texts()
    problems = []
    with tempfile.TemporaryDirectory(prefix="helligkeit-po.") as work:
        run("po4a", "--force", "--no-translations", "--srcdir", ROOT, "--destdir", work,
            ROOT / "po" / "po4a.cfg", cwd=work, stdout=subprocess.DEVNULL)
        for committed in sorted((ROOT / "po").glob("*.po")):
            po = polib.pofile(str(Path(work) / "po" / committed.name))
            for kind, entries in (("untranslated", po.untranslated_entries()),
                                  ("fuzzy", po.fuzzy_entries()),
                                  ("no longer in the English", po.obsolete_entries())):
                problems += [f"{committed.name}: {kind}: {entry.msgid[:70]!r}"
                             for entry in entries]
            for entry in po.translated_entries():
                missing = [text for text in texts
                           if text in entry.msgid and text not in entry.msgstr]
                problems += [f"{committed.name}: {text!r} is not as the program prints it, "
                             f"in the translation of {entry.msgid[:50]!r}" for text in missing
                             if not any(text in other and text != other for other in missing)]
    check(not problems, "the translations are not those of the current English:\n  "
          + "\n  ".join(problems) + "\nBring them up to date with `po4a --no-translations "
          "po/po4a.cfg`, then translate (CONTRIBUTING.md).")
    print("translations: every entry of po/*.po translated, none fuzzy, none left over")


# ---------------------------------------------------------------------------
# The version and the date


NEW_VERSION, NEWS_DATE = "9.9.9", "2030-01-02"
SOURCE_EPOCH = 1893497696  # 2030-01-01 11:34:56 UTC, the day before NEWS's
SOURCE_DATE = "2030-01-01"
HOMEPAGE = "https://example.org/helligkeit"
DOCUMENTS = ["README.md", "LIESMICH.md", "man/helligkeit.1", "man/de/helligkeit.1",
             "library-windows.md"]


def check_version():
    current = project_version()
    files = output("git", "-C", ROOT, "ls-files", "--cached", "--others",
                   "--exclude-standard").splitlines()
    with tempfile.TemporaryDirectory(prefix="helligkeit-version.") as work:
        source, build = Path(work) / "source", Path(work) / "build"
        for name in files:
            if (ROOT / name).is_file():
                (source / name).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(ROOT / name, source / name)
        set_project_version(source / HEADER.relative_to(ROOT), NEW_VERSION)
        news = source / "NEWS.md"
        head, _, rest = news.read_text().partition("\n## ")
        news.write_text(f"{head}\n## {NEW_VERSION} ({NEWS_DATE})\n\n- A version to check the "
                        f"documents by.\n\n## {rest}")
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(SOURCE_EPOCH))
        run("cmake", "-S", source, "-B", build, "-DBUILD_TESTING=OFF",
            f"-DHELLIGKEIT_HOMEPAGE={HOMEPAGE}", env=env, stdout=subprocess.DEVNULL)
        run("cmake", "--build", build, "--target", "documents", env=env,
            stdout=subprocess.DEVNULL)

        for document in DOCUMENTS:
            text = (build / "documents" / document).read_text()
            check_document(document, text, document, build)
            check(current not in text, f"{document} still names {current}")
            check(SOURCE_DATE in text and NEWS_DATE not in text,
                  f"{document} is not dated {SOURCE_DATE}, the sources' date")
        run(sys.executable, source / "tools" / "debian_changelog.py", env=env)
        changelog = (source / "debian" / "changelog").read_text()
        newest = re.search(r"^helligkeit \((\S+)\).*?^ -- .*?  (.*)$", changelog, re.M | re.S)
        stamp = email.utils.parsedate_to_datetime(newest.group(2)).timestamp()
        check(newest.group(1) == NEW_VERSION and stamp <= SOURCE_EPOCH,
              f"the changelog's newest entry is {newest.group(1)} of {newest.group(2)}, not "
              f"{NEW_VERSION} dated no later than the sources")
        # A second release on the day of the newest: every entry is dated
        # after the one below it, as lintian requires.
        day = re.search(r"\((\S+)\)", rest).group(1)
        news.write_text(f"{head}\n## {NEW_VERSION} ({day})\n\n- A second release that day.\n\n"
                        f"## {rest}")
        run(sys.executable, source / "tools" / "debian_changelog.py", env=env)
        stamps = [email.utils.parsedate_to_datetime(date) for date in re.findall(
            r"^ -- .*?  (.*)$", (source / "debian" / "changelog").read_text(), re.M)]
        check(all(newer > older for newer, older in zip(stamps, stamps[1:])),
              f"with a second release on {day}, the changelog's entries are dated {stamps}")
    print(f"version: a copy as {NEW_VERSION} names no {current} in {', '.join(DOCUMENTS)}; "
          f"dated {SOURCE_DATE}")


# ---------------------------------------------------------------------------
# Commands


COMMAND_DOCUMENTS = ["README.md", "CONTRIBUTING.md", "RELEASING.md", "tests/README.md",
                     "bench/README.md"]
# Manual pages whose EXAMPLES hold shell commands, in man(7)'s escapes.
COMMAND_PAGES = ["docs/helligkeit.1"]
ROFF_ESCAPES = {"\\(aq": "'", "\\-": "-", "\\e": "\\"}
# Programs that a documented command may be made of to be run by --run: quick,
# and changing nothing outside the build and a scratch folder.
RUNNABLE = {"printf", "iconv", "helligkeit", "tests/e2e_test.py", "build/console/console_test"}
COMMAND_WORDS = {"make", "cmake", "ctest", "cpack"}
# The kind of preset each command takes.
PRESET_KINDS = {"--workflow": "workflowPresets", "--build": "buildPresets",
                "ctest": "testPresets", "cpack": "packagePresets", "cmake": "configurePresets"}


def documented_commands():
    """(document, command line, from a code block?) for every shell command:
    the lines of sh code blocks (continued lines joined), and the code spans
    outside blocks that start with a make or CMake command or a path; and the
    lines of the example blocks (.EX to .EE) in a manual page's EXAMPLES."""
    for page in COMMAND_PAGES:
        text = (ROOT / page).read_text()
        examples = re.search(r"^\.SH EXAMPLES\n(.*?)(?=^\.SH )", text, re.M | re.S)
        for block in re.findall(r"^\.EX\n(.*?)^\.EE", examples.group(1), re.M | re.S):
            for line in block.splitlines():
                yield page, re.sub(r"\\(?:\(aq|-|e)",
                                   lambda escape: ROFF_ESCAPES[escape.group(0)], line), True
    for document in COMMAND_DOCUMENTS:
        text = (ROOT / document).read_text()
        for language, block in re.findall(r"^ *```(\w*)\n(.*?)^ *```", text, re.M | re.S):
            if language == "sh":
                for line in block.replace("\\\n", " ").splitlines():
                    yield document, line.strip(), True
        text = re.sub(r"^ *```.*?^ *```", "", text, flags=re.M | re.S)
        for span in re.findall(r"`([^`]+)`", text):
            line = " ".join(span.split())
            first = line.split(" ")[0]
            if first in COMMAND_WORDS or re.match(r"(tools|tests|bench|cmake|installer)/", first):
                yield document, line, False


def pipeline(line):
    """The commands of a shell line, as lists of words: split at | && || ;,
    comments and redirections left out."""
    lexer = shlex.shlex(line, posix=True, punctuation_chars="|&;<>")
    lexer.whitespace_split, lexer.commenters = True, "#"
    commands, words, redirect = [], [], False
    for word in lexer:
        if word in ("|", "||", "&&", ";"):
            commands.append(words)
            words = []
        elif word in (">", "<", ">>"):
            redirect = True
        elif redirect:
            redirect = False
        else:
            words.append(word)
    return [command for command in commands + [words] if command]


def command_problems(words, run_as_written, modes, presets, targets):
    """What a command names that does not exist: a script to run (a file of
    the repository run as written, or a script starting with #!) that is not
    executable in git, a path, a preset, a make target. Words in capitals
    (NAME, PROGRAM) stand for the reader's own and are not checked."""
    placeholder = re.compile(r"[A-Z]{3,}")
    problems = []
    program = words[0]
    if program in modes:
        script = (ROOT / program).read_bytes().startswith(b"#!")
        if (run_as_written or script) and not (script and modes[program] == "100755"):
            problems.append(f"{program} is not an executable script in git")
    for word in words:
        path = word.split("=")[-1].strip("()'\",:")
        top = path.split("/")[0]
        if ("/" in path and not placeholder.search(path) and top in modes["/"]
                and not any(name == path or name.startswith(path.rstrip("/") + "/")
                            for name in modes)):
            problems.append(f"{path} does not exist")
    kind = (PRESET_KINDS.get(words[1]) if program == "cmake" and len(words) > 1
            and words[1] in PRESET_KINDS else PRESET_KINDS.get(program))
    for option, name in zip(words, words[1:]):
        if option == "--preset" and kind and not placeholder.search(name):
            if name not in presets[kind]:
                problems.append(f"{kind} has no preset {name}")
    if program == "make":
        problems += [f"the Makefile has no target {word}" for word in words[1:]
                     if not word.startswith("-") and "=" not in word and word not in targets]
    return problems


def check_commands(run_them):
    import json
    modes = {}
    for line in output("git", "-C", ROOT, "ls-files", "-s").splitlines():
        mode, _, _, path = line.split(maxsplit=3)
        modes[path] = mode
    modes["/"] = {path.split("/")[0] for path in modes}
    presets = {kind: {preset["name"] for preset in entries}
               for kind, entries in json.loads((ROOT / "CMakePresets.json").read_text()).items()
               if isinstance(entries, list)}
    targets = set(re.findall(r"^([a-z]+):", (ROOT / "Makefile").read_text(), re.M))

    problems, ran, count = [], [], 0
    for document, line, in_block in documented_commands():
        commands = pipeline(line)
        count += len(commands)
        problems += [f"{document}: `{line}`: {problem}" for words in commands
                     for problem in command_problems(words, in_block or len(words) > 1, modes,
                                                     presets, targets)]
        if run_them and in_block and all(words[0] in RUNNABLE for words in commands):
            with tempfile.TemporaryDirectory(prefix="helligkeit-command.") as scratch:
                # A command naming files of the tree runs in its top folder,
                # one for an installed program in a scratch folder.
                at_root = any("/" in words[0] for words in commands)
                env = dict(os.environ, PATH=f"{ROOT / 'build'}{os.pathsep}{os.environ['PATH']}")
                done = subprocess.run(["bash", "-c", f"set -o pipefail; {line}"],
                                      cwd=ROOT if at_root else scratch, env=env,
                                      stdin=subprocess.DEVNULL, capture_output=True)
            ran.append(line)
            if done.returncode != 0:
                problems.append(f"{document}: `{line}` ends with {done.returncode}:\n"
                                f"{done.stdout.decode()[-1500:]}{done.stderr.decode()[-1500:]}")
    check(not problems, "documented commands that do not run as written:\n  "
          + "\n  ".join(problems))
    print(f"commands: {count} checked" + "".join(f"\n  ran: {line}" for line in ran))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("check", choices=("translations", "version", "commands"))
    parser.add_argument("--run", action="store_true",
                        help="also run the quick commands of the code blocks (needs build/)")
    args = parser.parse_args(argv)
    if args.check == "translations":
        check_translations()
    elif args.check == "version":
        check_version()
    else:
        check_commands(args.run)


if __name__ == "__main__":
    main()
