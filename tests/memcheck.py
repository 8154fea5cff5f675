#!/usr/bin/env python3
"""valgrind memcheck over whole runs of the program.

Usage:
    memcheck.py VALGRIND PROGRAM

Runs the program under memcheck with redirected input and output (a file, a
pipe, an empty input, a line far beyond the line cap, a closed output pipe)
and on a pseudo-terminal. A run passes when memcheck finds no error and no
definitely or indirectly lost block (the run's pool is released before
exit, so nothing may be lost), the program exits with 0 and it has printed
the report line that was asked for.
"""

import os
import pty
import select
import subprocess
import sys
import tempfile
import time

from test_support import LINE_CAP, report_text, utf16

VALGRIND, PROGRAM = sys.argv[1], sys.argv[2]
# memcheck makes the program some fifty times slower.
TIMEOUT = 120.0


def memcheck_command(log_path):
    return [VALGRIND, "--quiet", "--error-exitcode=1", "--leak-check=full",
            "--errors-for-leak-kinds=definite,indirect", f"--log-file={log_path}",
            PROGRAM]


class Failure(Exception):
    pass


def check_exit(name, code, log_path, output, report):
    with open(log_path, encoding="utf-8", errors="replace") as log:
        findings = log.read()
    if code != 0:
        raise Failure(f"{name}: exit code {code}\n{findings}")
    if report is not None and report.encode() not in output:
        raise Failure(f"{name}: no report line {report!r} in {output!r}")


def redirected(name, input_bytes, report, output="pipe"):
    """One run with redirected input; output to a pipe, a file or a pipe
    whose reader has gone."""
    with tempfile.TemporaryDirectory() as scratch:
        log_path = os.path.join(scratch, "memcheck.log")
        input_path = os.path.join(scratch, "input")
        with open(input_path, "wb") as f:
            f.write(input_bytes)
        with open(input_path, "rb") as stdin:
            if output == "pipe":
                run = subprocess.run(memcheck_command(log_path), stdin=stdin,
                                     stdout=subprocess.PIPE, timeout=TIMEOUT)
                written = run.stdout
            elif output == "file":
                with open(os.path.join(scratch, "output"), "w+b") as stdout:
                    run = subprocess.run(memcheck_command(log_path), stdin=stdin,
                                         stdout=stdout, timeout=TIMEOUT)
                    stdout.seek(0)
                    written = stdout.read()
            else:  # a pipe nobody reads any more: every write fails
                reader, writer = os.pipe()
                os.close(reader)
                run = subprocess.run(memcheck_command(log_path), stdin=stdin,
                                     stdout=writer, timeout=TIMEOUT)
                os.close(writer)
                written = b""
        check_exit(name, run.returncode, log_path, written, report)


def read_until(fd, wanted, seen):
    """Reads the terminal until `wanted` has appeared in all that was read."""
    deadline = time.monotonic() + TIMEOUT
    while wanted not in seen:
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([fd], [], [], remaining)[0]:
            raise Failure(f"terminal: {wanted!r} did not appear in {bytes(seen)!r}")
        try:
            seen += os.read(fd, 4096)
        except OSError:  # the program has gone and closed the terminal
            raise Failure(f"terminal: {wanted!r} did not appear in {bytes(seen)!r}")
    return seen


def terminal(name, first, last, report):
    """One run on a pseudo-terminal: types `first` at the prompt and `last`
    at the closing message."""
    with tempfile.TemporaryDirectory() as scratch:
        log_path = os.path.join(scratch, "memcheck.log")
        pid, fd = pty.fork()
        if pid == 0:
            os.environ["TERM"] = "xterm"
            os.execv(VALGRIND, memcheck_command(log_path))
        seen = bytearray()
        try:
            read_until(fd, b"Dezimalpunkt:   ", seen)
            os.write(fd, first)
            read_until(fd, b"beenden.", seen)
            os.write(fd, last)
            # Drain the terminal until the program has gone.
            while True:
                if not select.select([fd], [], [], TIMEOUT)[0]:
                    raise Failure(f"{name}: the program did not end")
                try:
                    chunk = os.read(fd, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                seen += chunk
        finally:
            _, status = os.waitpid(pid, 0)
            os.close(fd)
        check_exit(name, os.waitstatus_to_exitcode(status), log_path, bytes(seen), report)


def main():
    cases = [
        lambda: redirected("redirected to a pipe", utf16("550\r\n\r\n"),
                           report_text("550.00", "84.120")),
        lambda: redirected("redirected to a file", utf16("555.5\r\n"),
                           report_text("555.50", "87.285"), output="file"),
        lambda: redirected("empty input", b"", report_text("0.00", "0.000")),
        lambda: redirected("8-bit text", b"12\r\n", report_text("0.00", "0.000")),
        lambda: redirected("line beyond the cap", utf16("5" * (LINE_CAP + 50_000) + "\r\n550\r\n"),
                           report_text("+Infinity", "0.000")),
        lambda: redirected("output pipe closed", utf16("550\r\n"), None, output="closed"),
        lambda: terminal("terminal", b"750\r", b"\r", report_text("750.00", "34.426")),
        lambda: terminal("terminal, end of input", b"\x04", b"\x04",
                         report_text("0.00", "0.000")),
    ]
    failures = 0
    for case in cases:
        try:
            case()
        except (Failure, subprocess.TimeoutExpired) as failure:
            print(failure, file=sys.stderr)
            failures += 1
    print(f"memcheck: {len(cases) - failures} of {len(cases)} runs clean")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
