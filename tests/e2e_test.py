#!/usr/bin/env python3
"""Whole-program tests: the built helligkeit run as a user runs it.

Usage:
    e2e_test.py COMMAND... PROGRAM [-- UNITTEST-ARGUMENT...]

The program's command line comes first, up to a lone "--" (or, without one,
up to the first argument that starts with '-'); the rest goes to unittest,
e.g. the name of one TestCase class. The same cases run against the native
program (`e2e_test.py build/helligkeit`), against the Windows program
through an emulator (`e2e_test.py wine-run PREFIX helligkeit.exe --`), the
Linux program of another machine under qemu-user (`e2e_test.py qemu-s390x -L
/usr/s390x-linux-gnu build-s390x/helligkeit --`: every case but the one that
limits the address space, which the emulator needs for itself), and
under valgrind (`e2e_test.py valgrind --error-exitcode=1 ... PROGRAM --`),
where a memory error or leak fails the case by its exit code and its report
on standard error. Cases that need Linux itself (pseudo-terminals, signals,
/dev/full, /dev/zero, non-blocking descriptors, a directory as input) skip
themselves when the program is a Windows program, or when
HELLIGKEIT_E2E_PORTABLE_ONLY=1.

Redirected input is UTF-16LE; redirected output is UTF-8 with CR LF.
"""

import fcntl
import functools
import os
import resource
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

from test_support import (CLOSING, HEAD, LINE_CAP, TITLE, after_prompt, utf16,
                          whole_output)

COMMAND: list = []
EMULATED = False
# The Linux program of another machine, run by qemu-user: its process is the
# emulator's, with the emulator's own processor time and address space.
QEMU = False
# How long any one step may take before the case fails. The limit only stops
# a hang: a step takes a fraction of a second, and a busy machine may make it
# take many times that (CONTRIBUTING.md), so the limit is far above anything
# load can reach. Under valgrind or an emulator every step is many times
# slower again, and so is the limit (SLOWER).
TIMEOUT = 60.0
SLOWER = 10


def child_env(term="xterm") -> dict:
    """TERM names a capable terminal unless a case says otherwise, so that
    escape sequences leaking into redirected output would show."""
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.pop("TERM", None)
    if term is not None:
        env["TERM"] = term
    return env


def try_reap(proc: subprocess.Popen):
    """The resource usage of `proc` once it has ended, else None. wait4
    rather than Popen.poll, because only wait4 tells the CPU time used."""
    pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
    if not pid:
        return None
    proc.returncode = os.waitstatus_to_exitcode(status)
    return usage


def cpu_seconds(usage) -> float:
    return usage.ru_utime + usage.ru_stime


def pump(done, what, streams, so_far, timeout=TIMEOUT):
    """Serves the descriptors that streams() gives, as ({fd: on_readable},
    {fd: on_writable}), until done() is true; fails after `timeout` seconds
    with what so_far() says of the output."""
    deadline = time.monotonic() + timeout
    while not done():
        left = deadline - time.monotonic()
        if left <= 0:
            raise AssertionError(f"timed out waiting for {what}; {so_far()}")
        readers, writers = streams()
        if not readers and not writers:
            time.sleep(min(left, 0.005))
            continue
        ready_r, ready_w, _ = select.select(list(readers), list(writers), [], min(left, 0.02))
        for fd in ready_w:
            writers[fd]()
        for fd in ready_r:
            readers[fd]()


class Session:
    """One run of the program whose standard input and output the test
    drives: input is queued and written as the program takes it, output is
    collected meanwhile, and every wait has a deadline."""

    def __init__(self, args=(), stdin=subprocess.PIPE, stdout=subprocess.PIPE, preexec_fn=None,
                 wrap=()):
        self._stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(list(wrap) + COMMAND + list(args), stdin=stdin, stdout=stdout,
                                     stderr=self._stderr, env=child_env(),
                                     preexec_fn=preexec_fn, bufsize=0)
        self.out = bytearray()
        self.usage = None
        self._pending = bytearray()
        self._in = self.proc.stdin.fileno() if self.proc.stdin else None
        if self._in is not None:
            # Our end only: the program's end of the pipe stays blocking.
            os.set_blocking(self._in, False)
        self._out = self.proc.stdout.fileno() if self.proc.stdout else None

    # -- input
    def send(self, data: bytes):
        self._pending += data
        self._pump(lambda: not self._pending, "the program to take its input")

    def send_pieces(self, pieces, pause=0.05):
        for piece in pieces:
            self.send(piece)
            self.idle(pause)

    def close_input(self):
        self._pump(lambda: not self._pending, "the program to take its input")
        if self.proc.stdin:
            self.proc.stdin.close()
        self._in = None

    # -- output
    def expect(self, marker: bytes):
        self._pump(lambda: marker in self.out, f"{marker!r} on standard output")

    def close_output(self):
        """The reader goes away; later writes of the program find no reader."""
        if self.proc.stdout:
            self.proc.stdout.close()
        self._out = None

    def stderr(self) -> bytes:
        self._stderr.seek(0)
        return self._stderr.read()

    # -- life of the process
    def running(self) -> bool:
        if self.usage is None:
            self.usage = try_reap(self.proc)
        return self.usage is None

    def idle(self, seconds: float):
        end = time.monotonic() + seconds
        self._pump(lambda: time.monotonic() >= end, "nothing", timeout=seconds + TIMEOUT)

    def wait_until(self, done, what: str):
        """Collects output until done() is true."""
        self._pump(done, what)

    def wait_end(self):
        """Waits for the program to end, input left as it is."""
        self._pump(lambda: not self.running(), "the program to end")

    def finish(self) -> int:
        """Ends input, collects the rest of the output, returns the exit code."""
        self.close_input()
        self._pump(lambda: self._out is None and not self.running(), "the program to end")
        return self.proc.returncode

    def close(self):
        if self.running():
            self.proc.kill()
            self._pump(lambda: not self.running(), "the killed program to end")
        for stream in (self.proc.stdin, self.proc.stdout, self._stderr):
            if stream:
                stream.close()

    def _pump(self, done, what, timeout=TIMEOUT):
        pump(done, what, self._streams, lambda: f"output so far: {bytes(self.out)!r}", timeout)

    def _streams(self):
        readers = {self._out: self._read_some} if self._out is not None else {}
        writers = {self._in: self._write_some} if self._pending and self._in is not None else {}
        return readers, writers

    def _read_some(self):
        chunk = os.read(self._out, 1 << 16)
        if chunk:
            self.out += chunk
        else:
            self.proc.stdout.close()
            self._out = None

    def _write_some(self):
        try:
            written = os.write(self._in, self._pending[:1 << 16])
            del self._pending[:written]
        except BlockingIOError:
            pass
        except BrokenPipeError:
            # The program has stopped reading; what it did not take is lost.
            self._pending.clear()


def linux_only(case):
    """Skips `case` unless the program runs natively on Linux; decided when
    the case runs, once the command line has been read."""

    @functools.wraps(case)
    def checked(self, *args, **kwargs):
        if EMULATED or not sys.platform.startswith("linux"):
            self.skipTest("needs Linux itself, not an emulator")
        return case(self, *args, **kwargs)

    return checked


@functools.cache
def plain_run_cpu() -> float:
    """The processor time of a run that never waits: input 550 and its
    end, there at once. Under an emulator most of it is the emulator's."""
    session = Session()
    try:
        session.send(utf16("550\r\n"))
        session.finish()
        return cpu_seconds(session.usage)
    finally:
        session.close()


class E2ECase(unittest.TestCase):
    maxDiff = None

    def start(self, **kwargs) -> Session:
        session = Session(**kwargs)
        self.addCleanup(session.close)
        return session

    def run_with_input(self, data: bytes, **kwargs) -> Session:
        """Runs the program on `data`, then end of input."""
        session = self.start(**kwargs)
        session.send(data)
        session.finish()
        return session

    def assertWholeRun(self, session: Session, expected: bytes):
        # How the run ended, and what an emulator said, tell a program that
        # went wrong from one that never started.
        ended = f"exit code {session.proc.returncode}, standard error {session.stderr()!r}"
        self.assertEqual(bytes(session.out), expected, ended)
        self.assertEqual(session.proc.returncode, 0, ended)
        # Wine may have its own say on standard error; the program has none.
        if not EMULATED:
            self.assertEqual(session.stderr(), b"")

    def assertWaitedIdly(self, session: Session):
        """The run took little more processor time than a plain run of the
        same command: it waited for its streams, where a loop asking them
        again and again would have spent most of the wait."""
        self.assertLess(cpu_seconds(session.usage), plain_run_cpu() + 0.3)

    def assertWaits(self, session: Session, seconds=0.4):
        """The closing message is out and the program stays waiting."""
        session.expect(CLOSING)
        session.idle(seconds)
        self.assertTrue(session.running(), "the program ended instead of waiting")


# ---------------------------------------------------------------------------
# Each TestCase class below is one CTest test (tests/CMakeLists.txt finds
# them by the "Test(" at the end of the class name).


class DialogueTest(E2ECase):
    """Whole input in one go: which line is read and what is reported."""

    def test_reports(self):
        typed = [  # each line ended by CR LF
            ("550", "550.00", "84.120"),
            ("555.5", "555.50", "87.285"),
            ("380", "380.00", "0.610"),
            ("379.999", "380.00", "0.000"),  # shown rounded, looked up as typed
            ("700", "700.00", "34.390"),
            ("750", "750.00", "34.426"),  # beyond the announced range, still on the curve
            ("780", "780.00", "34.390"),
            ("490.1343", "490.13", "45.116"),  # right only with double arithmetic throughout
            ("550,5", "550.00", "84.120"),  # the comma ends the number
            ("", "0.00", "0.000"),
            ("abc", "0.00", "0.000"),
            ("1e39", "+Infinity", "0.000"),  # too large for the shown single precision
            ("-Infinity", "-Infinity", "0.000"),
            ("nan", "NaN", "0.000"),
        ]
        cases = [(utf16(line + "\r\n"), wavelength, brightness)
                 for line, wavelength, brightness in typed] + [
            (utf16("550\n"), "550.00", "84.120"),  # LF alone
            (utf16("550\r"), "550.00", "84.120"),  # CR alone
            (utf16("555.5"), "555.50", "87.285"),  # no line end
            (utf16("550\r\n999\r\n"), "550.00", "84.120"),  # the second line is not read
            (utf16("\r\n550\r\n"), "0.00", "0.000"),  # an empty first line
            (utf16("\n\r550\r\n"), "0.00", "0.000"),  # LF CR is two line ends
            (utf16("550\x00999\r\n"), "550.00", "84.120"),  # a zero code unit ends the number
            # 8-bit text (what `echo` gives) pairs into code units such as
            # 0x3535 and 0x0A0D: no digits and no line end; the last, odd
            # byte is dropped.
            (b"550\r\n", "0.00", "0.000"),
            (b"", "0.00", "0.000"),  # end of input at the prompt
            (b"5", "0.00", "0.000"),  # half a code unit is no text
        ]
        for data, wavelength, brightness in cases:
            with self.subTest(data=data):
                session = self.run_with_input(data)
                self.assertWholeRun(session, whole_output(wavelength, brightness))

    def test_files_as_input_and_output(self):
        cases = [
            (utf16("550\r\n"), whole_output("550.00", "84.120")),
            (b"", whole_output("0.00", "0.000")),
            # Saved as "Unicode" by an editor: a byte-order mark first.
            (b"\xff\xfe" + utf16("550\r\n"), whole_output("550.00", "84.120")),
        ]
        for data, expected in cases:
            with self.subTest(data=data), tempfile.TemporaryFile() as source, \
                    tempfile.TemporaryFile() as sink:
                source.write(data)
                source.seek(0)
                session = self.start(stdin=source, stdout=sink)
                self.assertEqual(session.finish(), 0)
                sink.seek(0)
                self.assertEqual(sink.read(), expected)

    def test_null_device_as_input(self):
        session = self.start(stdin=subprocess.DEVNULL)
        session.finish()
        self.assertWholeRun(session, whole_output("0.00", "0.000"))

    def test_command_line_is_ignored(self):
        session = self.run_with_input(utf16("550\r\n"), args=["--help", "700"])
        self.assertWholeRun(session, whole_output("550.00", "84.120"))


class InputPiecesTest(E2ECase):
    """Input written in pieces, with pauses so that the program reads each
    piece on its own: the same bytes give the same report however they are
    split, even inside a code unit or between CR and LF."""

    def test_splits_give_the_same_report(self):
        data = utf16("555.5\r\n")
        cases = [
            ("every byte alone", list(range(1, len(data)))),
            ("odd first piece", [1]),
            ("odd pieces across the line end", [3, 11, 13]),
            ("between CR and LF", [12]),
        ]
        for name, cuts in cases:
            with self.subTest(name):
                bounds = [0] + cuts + [len(data)]
                pieces = [data[a:b] for a, b in zip(bounds, bounds[1:])]
                session = self.start()
                session.send_pieces(pieces, pause=0.02)
                session.finish()
                self.assertWholeRun(session, whole_output("555.50", "87.285"))

    def test_no_report_before_the_line_ends(self):
        session = self.start()
        session.expect(HEAD)
        session.send(utf16("55"))
        session.idle(0.3)
        self.assertEqual(bytes(session.out), HEAD)
        session.send(utf16("0\r\n"))
        self.assertWaits(session)
        session.send(utf16("\r\n"))
        session.finish()
        self.assertWholeRun(session, whole_output("550.00", "84.120"))

    def test_odd_byte_at_end_of_input_is_dropped(self):
        session = self.start()
        session.send_pieces([utf16("550"), b"\x0d"])
        session.finish()
        self.assertWholeRun(session, whole_output("550.00", "84.120"))


class WaitingTest(E2ECase):
    """After the report the program waits for one more line, with the input
    pipe held open, and ends once a line is completed or input ends."""

    def test_prompt_is_out_before_any_input(self):
        session = self.start()
        session.expect(HEAD)
        session.idle(0.2)
        self.assertEqual(bytes(session.out), HEAD)
        self.assertTrue(session.running())

    def test_later_line_ends_the_wait(self):
        cases = [
            ("empty line", "\r\n"),
            ("text", "x\r\n"),
            ("LF alone", "\n"),
            ("CR alone", "\r"),
        ]
        for name, last in cases:
            with self.subTest(name):
                session = self.start()
                session.send(utf16("550\r\n"))
                self.assertWaits(session)
                session.send(utf16(last))
                # The pipe stays open: only the completed line ends the run.
                session.wait_end()
                session.finish()
                self.assertWholeRun(session, whole_output("550.00", "84.120"))

    def test_end_of_input_ends_the_wait(self):
        session = self.start()
        session.send(utf16("550\r\n"))
        self.assertWaits(session)
        session.finish()
        self.assertWholeRun(session, whole_output("550.00", "84.120"))

    def test_line_read_with_the_first_ends_the_wait(self):
        cases = [
            ("text", "550\r\nx\r\n"),
            ("LF after CR LF is an empty line", "550\r\n\n"),
            ("CR after CR is an empty line", "550\r\r"),
            ("line of a zero code unit", "550\r\n\x00\r\n"),
        ]
        for name, text in cases:
            with self.subTest(name):
                session = self.start()
                session.send(utf16(text))
                session.wait_end()
                session.finish()
                self.assertWholeRun(session, whole_output("550.00", "84.120"))

    def test_lf_of_a_split_cr_lf_does_not_end_the_wait(self):
        session = self.start()
        session.send(utf16("550\r"))
        self.assertWaits(session)
        session.send(utf16("\n"))
        session.idle(0.4)
        self.assertTrue(session.running(), "the LF of CR LF was taken as a line")
        session.send(utf16("\r\n"))
        session.wait_end()
        session.finish()
        self.assertWholeRun(session, whole_output("550.00", "84.120"))


class LongLinesTest(E2ECase):
    """A redirected line longer than LINE_CAP code units is cut there; the
    rest of it, up to its line end, is read and dropped."""

    def test_lines_around_the_limit(self):
        cases = [
            ("exactly the limit", " " * (LINE_CAP - 3) + "550", "550.00", "84.120"),
            ("one over: the last digit is cut", " " * (LINE_CAP - 2) + "550", "55.00", "0.000"),
            ("number first, long tail", "550" + " " * (LINE_CAP + 50_000), "550.00", "84.120"),
        ]
        for name, line, wavelength, brightness in cases:
            with self.subTest(name):
                session = self.run_with_input(utf16(line + "\r\n"))
                self.assertWholeRun(session, whole_output(wavelength, brightness))

    def test_rest_of_a_cut_line_is_not_the_next_line(self):
        session = self.start()
        session.send(utf16("550" + " " * (LINE_CAP + 50_000) + "\r\n"))
        self.assertWaits(session)
        session.send(utf16("\r\n"))
        session.wait_end()
        session.finish()
        self.assertWholeRun(session, whole_output("550.00", "84.120"))


def close_descriptor(fd):
    return lambda: os.close(fd)


def file_size_limit(size):
    """In the child: files may grow to `size` bytes, as `ulimit -f` sets."""
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


class SurroundingsTest(E2ECase):
    """Odd standard streams and scarce memory: the run still ends normally,
    with the whole report wherever output can go, and its exit code says
    whether output was lost (1) or not (0). It never says so on standard
    error."""

    def test_output_nowhere(self):
        """Where output cannot go, or not all of it, the exit code says
        whether output was lost (1) or nobody wanted it (0), and no signal
        ends the run: not SIGPIPE for a reader gone, nor SIGXFSZ for a
        file-size limit. A file gets the start of the dialogue."""
        gone_read, gone_write = os.pipe()
        os.close(gone_read)
        self.addCleanup(os.close, gone_write)
        cases = [  # name, standard streams, what the file holds before, exit code
            ("standard output closed", {"preexec_fn": close_descriptor(1)}, b"", 1),
            ("null device", {"stdout": subprocess.DEVNULL}, b"", 0),
            ("reader gone before the start", {"stdout": gone_write}, b"", 0),
        ]
        if not EMULATED:
            full = os.open("/dev/full", os.O_WRONLY)
            self.addCleanup(os.close, full)
            cases += [
                ("full device", {"stdout": full}, b"", 1),
                ("ulimit -f 0", {"preexec_fn": file_size_limit(0)}, b"", 1),
                # 900 bytes there already; the limit falls in the range line.
                ("ulimit -f 1, appended", {"preexec_fn": file_size_limit(1024)}, b"x" * 900, 1),
            ]
        for name, streams, before, exit_code in cases:
            with self.subTest(name), tempfile.TemporaryFile() as sink:
                sink.write(before)
                sink.flush()
                if "stdout" not in streams:
                    fd = os.open(f"/proc/self/fd/{sink.fileno()}", os.O_WRONLY | os.O_APPEND)
                    self.addCleanup(os.close, fd)
                    streams = dict(streams, stdout=fd)
                session = self.run_with_input(utf16("550\r\n\r\n"), **streams)
                self.assertEqual(session.proc.returncode, exit_code)
                if not EMULATED:
                    self.assertEqual(session.stderr(), b"")
                sink.seek(0)
                written = sink.read()
                self.assertTrue(written.startswith(before))
                self.assertTrue(whole_output("550.00", "84.120").startswith(written[len(before):]))

    @linux_only
    def test_scarce_memory(self):
        """With the address space limited, a long line is cut where memory
        ends, and the run never aborts."""
        if os.environ.get("HELLIGKEIT_E2E_SANITIZED") == "1":
            self.skipTest("the sanitizers need a large address space")
        if QEMU:
            self.skipTest("qemu-user needs a large address space of its own")
        line = "550" + " " * 199_997
        for kib in (1792, 2048, 2560, 3072, 4096):
            with self.subTest(kib=kib):
                limit = kib * 1024
                session = self.run_with_input(
                    utf16(line + "\r\n\r\n"),
                    preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
                self.assertEqual(session.stderr(), b"")
                if session.proc.returncode == 0:
                    self.assertEqual(bytes(session.out), whole_output("550.00", "84.120"))
                else:
                    self.assertEqual(session.proc.returncode, 1)

    def test_reader_gone_during_the_run(self):
        session = self.start()
        session.expect(HEAD)
        session.close_output()
        session.send(utf16("550\r\n\r\n"))
        self.assertEqual(session.finish(), 0)

    def test_no_usable_input(self):
        """Reads that fail outright give empty lines at once: no number, no
        wait."""
        cases = [("standard input closed", None)]
        if not EMULATED:
            cases.append(("directory", tempfile.gettempdir()))
        for name, directory in cases:
            with self.subTest(name):
                if directory is None:
                    session = self.start(stdin=subprocess.DEVNULL,
                                         preexec_fn=close_descriptor(0))
                else:
                    fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
                    try:
                        session = self.start(stdin=fd)
                    finally:
                        os.close(fd)
                session.finish()
                self.assertWholeRun(session, whole_output("0.00", "0.000"))

    @linux_only
    def test_non_blocking_pipe_as_input(self):
        read_end, write_end = os.pipe()
        os.set_blocking(read_end, False)
        try:
            session = self.start(stdin=read_end)
        finally:
            os.close(read_end)
        session.expect(HEAD)
        # The program finds no input yet; it must wait for it, not spin.
        session.idle(1.0)
        os.write(write_end, utf16("550\r\n"))
        os.close(write_end)
        session.finish()
        self.assertWholeRun(session, whole_output("550.00", "84.120"))
        self.assertWaitedIdly(session)

    @linux_only
    def test_non_blocking_pipe_as_output_that_is_full(self):
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        os.set_blocking(write_end, False)
        filler = fill_pipe(write_end)
        try:
            session = self.start(stdout=write_end)
        finally:
            os.close(write_end)
        session.send(utf16("550\r\n"))
        session.close_input()
        # Every write of the program finds the pipe full for a while.
        time.sleep(0.5)
        self.assertTrue(session.running())
        received = read_to_end(read_end)
        session.wait_end()
        self.assertEqual(received, filler + whole_output("550.00", "84.120"))
        self.assertEqual(session.proc.returncode, 0)
        self.assertWaitedIdly(session)

    @linux_only
    def test_endless_line_keeps_memory_bounded(self):
        """/dev/zero is one line of zero code units that never ends."""
        with open("/dev/zero", "rb") as zeros:
            session = self.start(stdin=zeros)
        session.expect(HEAD)
        pid = session.proc.pid
        if io_count(pid, "rchar") is None:
            session.idle(2.5)
        else:
            # Well past the cut: the program keeps reading, and dropping.
            session.wait_until(lambda: (io_count(pid, "rchar") or 0) > 16 * 2 * LINE_CAP or
                               not session.running(), "16 lines' worth of input to be read")
        self.assertTrue(session.running())
        peak = status_kib(pid, "VmHWM")
        session.close()
        self.assertLess(peak, 64 * 1024, "peak resident memory in KiB")


def fill_pipe(fd) -> bytes:
    """Writes to the non-blocking `fd` until its pipe is full."""
    written = bytearray()
    for size in (4096, 1):
        while True:
            try:
                written += b"x" * os.write(fd, b"x" * size)
            except BlockingIOError:
                break
    return bytes(written)


def read_to_end(fd) -> bytes:
    data, ended = bytearray(), []

    def read():
        chunk = os.read(fd, 1 << 16)
        data.extend(chunk)
        if not chunk:
            ended.append(True)

    pump(lambda: ended, "output to end", lambda: ({} if ended else {fd: read}, {}),
         lambda: f"got {len(data)} bytes")
    return bytes(data)


def status_kib(pid, field) -> int:
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise AssertionError(f"no {field} in /proc/{pid}/status")


def io_count(pid, field):
    """A counter of /proc/PID/io, or None where that file is not readable."""
    try:
        with open(f"/proc/{pid}/io") as counters:
            for line in counters:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


# ---------------------------------------------------------------------------
# Pseudo-terminals and signals.

# The terminal's title saved on its stack, then the program's title.
TITLE_SEQUENCE = b"\x1b[22;0t\x1b]0;" + TITLE.encode() + b"\x07"
COLOUR_SEQUENCE = b"\x1b[97;40m"  # bright white on black
RESTORE_SEQUENCE = b"\x1b[39;49m\x1b[23;0t"  # default colours, the saved title


def take_terminal():
    """In the child: a session of its own whose controlling terminal is the
    pseudo-terminal on standard input, so that Ctrl+C raises SIGINT."""
    default_signals()
    os.setsid()
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def default_signals():
    """In the child: the signals under test start with their default action
    whatever the test runner inherited."""
    for number in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM, signal.SIGUSR1, signal.SIGALRM):
        signal.signal(number, signal.SIG_DFL)


# A job-control shell's part, run by Python in the terminal's session with
# a signal's number and the program's command line: `PROGRAM &` starts the
# program as a job in the background, where it writes its start and stops at
# its read (SIGTTIN); then `stty tostop` makes a background job that writes
# stop too, and `kill %1` sends the signal and SIGCONT. Ends as the job ends;
# a job stopped again is killed, and says so on the terminal.
BACKGROUND_JOB = r"""
import os, signal, subprocess, sys, termios
number, command = int(sys.argv[1]), sys.argv[2:]
job = subprocess.Popen(command, process_group=0)
_, status = os.waitpid(job.pid, os.WUNTRACED)
if os.WIFSTOPPED(status):
    attrs = termios.tcgetattr(0)
    attrs[3] |= termios.TOSTOP
    termios.tcsetattr(0, termios.TCSANOW, attrs)
    os.kill(job.pid, number)
    os.kill(job.pid, signal.SIGCONT)
    _, status = os.waitpid(job.pid, os.WUNTRACED)
if os.WIFSTOPPED(status):
    os.kill(job.pid, signal.SIGKILL)
    sys.exit(f"[the job stopped again, by signal {os.WSTOPSIG(status)}]")
code = os.waitstatus_to_exitcode(status)
if code < 0:
    os.kill(os.getpid(), -code)
sys.exit(code)
"""


class Terminal:
    """The program on a pseudo-terminal; the test is the user at the
    keyboard (the master side). With `job_ended_by`, a signal, the program
    is a job in the background of the terminal that its shell ends with that
    signal (BACKGROUND_JOB): the terminal then already has the modes the
    program sets, since a job in the background may not change them."""

    def __init__(self, term="xterm", raw=False, full=False, job_ended_by=None):
        self.master, follower = os.openpty()
        # With `full`, the terminal does not wait (O_NONBLOCK, shared with
        # the program) and its output queue is full when the program starts:
        # it holds `filler` until the test starts reading.
        self.filler = b""
        if full:
            os.set_blocking(follower, False)
            self.filler = fill_pipe(follower)
        if raw:
            # As another program may leave it: no line editing, no echo, no
            # signal keys, CR passed on as CR.
            attrs = termios.tcgetattr(follower)
            attrs[0] &= ~termios.ICRNL
            attrs[3] &= ~(termios.ICANON | termios.ECHO | termios.ISIG)
            termios.tcsetattr(follower, termios.TCSANOW, attrs)
        command = COMMAND
        if job_ended_by is not None:
            subprocess.run(["stty", "iutf8"], stdin=follower, check=True)  # Python has no IUTF8
            command = [sys.executable, "-c", BACKGROUND_JOB, str(int(job_ended_by))] + COMMAND
        try:
            self.proc = subprocess.Popen(command, stdin=follower, stdout=follower,
                                         stderr=follower, env=child_env(term),
                                         preexec_fn=take_terminal)
        finally:
            # The program then holds the only descriptor of its side, so the
            # master reads end (EIO) once the program has ended.
            os.close(follower)
        self.out = bytearray()
        self._ended = False

    def type(self, keys: bytes):
        os.write(self.master, keys)

    def expect(self, marker: bytes):
        self._pump(lambda: marker in self.out, f"{marker!r} on the terminal")

    def wait_for_line_mode(self):
        """Until the program has switched on line input; what is typed from
        then on is echoed and edited by the terminal."""
        self._pump(lambda: self.attrs()[3] & termios.ICANON, "line input to be switched on")

    def attrs(self):
        return termios.tcgetattr(self.master)  # the program's side, on Linux

    def finish(self) -> int:
        self._pump(lambda: self._ended and self.proc.poll() is not None, "the program to end")
        return self.proc.returncode

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(TIMEOUT)
        os.close(self.master)

    def _pump(self, done, what):
        pump(done, what, lambda: ({} if self._ended else {self.master: self._read_some}, {}),
             lambda: f"terminal shows {bytes(self.out)!r}")

    def _read_some(self):
        try:
            chunk = os.read(self.master, 1 << 16)
        except OSError:  # EIO: nothing holds the program's side any more
            chunk = b""
        if chunk:
            self.out += chunk
        else:
            self._ended = True


def as_shown(data: bytes, attrs) -> bytes:
    """What the terminal passes on for `data` written by the program. With
    output post-processing (OPOST) and ONLCR, the terminal turns each LF into
    CR LF, so the program's own CR LF arrives as CR CR LF. A pseudo-terminal
    starts with both set and the program leaves them alone; they are read
    back rather than assumed, so that only the program's bytes are pinned."""
    if attrs[1] & termios.OPOST and attrs[1] & termios.ONLCR:
        return data.replace(b"\n", b"\r\n")
    return data


def enter_echo(attrs) -> bytes:
    """The echo of the Enter key: with ICRNL its CR is read as LF and echoed
    as LF (then post-processed like output); without it, echoed as CR."""
    if attrs[0] & termios.ICRNL:
        return as_shown(b"\n", attrs)
    return b"\r"


class TerminalTest(E2ECase):
    """The program on a pseudo-terminal, typed at as a user does."""

    def open_terminal(self, **kwargs) -> Terminal:
        terminal = Terminal(**kwargs)
        self.addCleanup(terminal.close)
        return terminal

    @linux_only
    def test_typed_session(self):
        """Also on a terminal that takes output slowly: one that does not
        wait, with its output queue full at the start. The program waits for
        room, without a busy loop, and every byte arrives."""
        for full in (False, True):
            with self.subTest(full=full):
                terminal = self.open_terminal(term="xterm", full=full)
                if full:
                    time.sleep(0.5)
                    self.assertIsNone(terminal.proc.poll(), "the program ended on a full terminal")
                terminal.expect(b"Dezimalpunkt:   ")
                terminal.wait_for_line_mode()
                attrs = terminal.attrs()
                terminal.type(b"550\r")
                expected = (terminal.filler + TITLE_SEQUENCE + COLOUR_SEQUENCE +
                            as_shown(HEAD, attrs) + b"550" + enter_echo(attrs) +
                            as_shown(after_prompt("550.00", "84.120"), attrs))
                terminal.expect(as_shown(CLOSING, attrs))
                self.assertEqual(bytes(terminal.out), expected)
                time.sleep(0.4)
                self.assertIsNone(terminal.proc.poll(), "the program ended instead of waiting")
                terminal.type(b"\r")
                self.assertEqual(terminal.finish(), 0)
                # Only the echo of Enter follows, and the terminal's own colours and title.
                self.assertEqual(bytes(terminal.out),
                                 expected + enter_echo(attrs) + RESTORE_SEQUENCE)

    @linux_only
    def test_escape_sequences_only_for_capable_terminals(self):
        cases = [("xterm-256color", True), ("dumb", False), (None, False)]
        for term, escapes in cases:
            with self.subTest(term=term):
                terminal = self.open_terminal(term=term)
                terminal.expect(b"Dezimalpunkt:   ")
                terminal.wait_for_line_mode()
                terminal.type(b"750\r")
                terminal.expect(b"   Helligkeit Vollstfarbe 750.00nm :  34.426\r")
                terminal.type(b"\r")
                self.assertEqual(terminal.finish(), 0)
                self.assertEqual(b"\x1b" in terminal.out, escapes)
                if escapes:
                    self.assertTrue(terminal.out.startswith(TITLE_SEQUENCE + COLOUR_SEQUENCE))

    @linux_only
    def test_ctrl_d_ends_input(self):
        """Ctrl+D ends the line at the prompt and at the closing wait, on an
        empty line (end of input) or after some text, and the terminal then
        shows what it shows after Enter: what follows starts on a new line."""

        def session(at_prompt, at_wait):
            terminal = self.open_terminal()
            terminal.expect(b"Dezimalpunkt:   ")
            terminal.wait_for_line_mode()
            terminal.type(at_prompt)
            terminal.expect(b"beenden.")
            terminal.wait_for_line_mode()
            terminal.type(at_wait)
            self.assertEqual(terminal.finish(), 0)
            return bytes(terminal.out)

        for text in (b"", b"ab"):
            with self.subTest(text=text):
                after_enter = session(text + b"\r", b"\r")
                self.assertIn(b"   Helligkeit Vollstfarbe 0.00nm :  0.000\r", after_enter)
                self.assertEqual(session(text + b"\x04", b"\x04"), after_enter)

    @linux_only
    def test_typed_ahead_line_is_kept(self):
        # Typed before the program has even started: switching the terminal
        # to line input must not throw away what waits in it.
        terminal = self.open_terminal()
        terminal.type(b"555.5\r")
        terminal.expect(b"   Helligkeit Vollstfarbe 555.50nm :  87.285\r")
        terminal.expect(b"beenden.")
        terminal.type(b"\r")
        self.assertEqual(terminal.finish(), 0)

    @linux_only
    def test_switches_a_raw_terminal_to_line_input(self):
        terminal = self.open_terminal(raw=True)
        terminal.expect(b"Dezimalpunkt:   ")
        terminal.wait_for_line_mode()
        terminal.type(b"550\r")
        terminal.expect(b"beenden.")
        shown = bytes(terminal.out)
        self.assertIn(b"Dezimalpunkt:   550", shown, "the typed line is echoed")
        self.assertIn(b"   Helligkeit Vollstfarbe 550.00nm :  84.120\r", shown)
        terminal.wait_for_line_mode()
        terminal.type(b"\r")
        self.assertEqual(terminal.finish(), 0)
        self.assertFalse(terminal.attrs()[3] & termios.ICANON, "the modes as found")

    @linux_only
    def test_ctrl_c_ends_the_program(self):
        for where in ("prompt", "closing message"):
            with self.subTest(where):
                # Raw at the start: Ctrl+C works only if the program switches
                # the signal keys on.
                terminal = self.open_terminal(raw=True)
                terminal.expect(b"Dezimalpunkt:   ")
                terminal.wait_for_line_mode()
                if where == "closing message":
                    terminal.type(b"550\r")
                    terminal.expect(b"beenden.")
                    terminal.wait_for_line_mode()
                terminal.type(b"\x03")
                self.assertEqual(terminal.finish(), -signal.SIGINT)
                self.assertTrue(terminal.out.endswith(RESTORE_SEQUENCE), terminal.out)
                self.assertFalse(terminal.attrs()[3] & termios.ICANON, "the modes as found")

    @linux_only
    def test_signals_end_the_program(self):
        """No signal is handled: each ends the run as it would by default,
        redirected output unchanged; a terminal first gets its colours and
        title back. So does a job in the background of its terminal, stopped
        at its read and then ended by its shell, where `stty tostop` would
        stop a background job that writes."""
        cases = [(number, False) for number in (signal.SIGINT, signal.SIGHUP, signal.SIGTERM,
                                                signal.SIGUSR1, signal.SIGALRM)]
        cases.append((signal.SIGTERM, True))
        for number, background in cases:
            with self.subTest(signal=number.name, background=background):
                session = self.start(preexec_fn=default_signals)
                session.expect(HEAD)
                session.proc.send_signal(number)
                session.wait_end()
                self.assertEqual(session.proc.returncode, -number)
                self.assertEqual(bytes(session.out), HEAD)
                terminal = self.open_terminal(job_ended_by=number if background else None)
                terminal.expect(b"Dezimalpunkt:   ")
                attrs = terminal.attrs()
                if not background:
                    terminal.proc.send_signal(number)
                self.assertEqual(terminal.finish(), -number, bytes(terminal.out))
                self.assertEqual(bytes(terminal.out), TITLE_SEQUENCE + COLOUR_SEQUENCE +
                                 as_shown(HEAD, attrs) + RESTORE_SEQUENCE)


# ---------------------------------------------------------------------------


def main(argv):
    global COMMAND, EMULATED, QEMU, TIMEOUT
    if "--" in argv:
        split = argv.index("--")
        COMMAND, rest = argv[:split], argv[split + 1:]
    else:
        split = next((i for i, arg in enumerate(argv) if arg.startswith("-")), len(argv))
        COMMAND, rest = argv[:split], argv[split:]
    if not COMMAND:
        sys.exit(__doc__)
    if not os.path.isfile(COMMAND[-1]):
        sys.exit(f"no program at {COMMAND[-1]}")
    QEMU = os.path.basename(COMMAND[0]).startswith("qemu-")
    EMULATED = (COMMAND[-1].lower().endswith(".exe") or
                os.environ.get("HELLIGKEIT_E2E_PORTABLE_ONLY") == "1")
    if len(COMMAND) > 1:  # an emulator, or valgrind
        TIMEOUT *= SLOWER
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main(sys.argv[1:])
