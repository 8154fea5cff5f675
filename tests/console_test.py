#!/usr/bin/env python3
"""The program at a console, in a real terminal, read off the screen.

Usage: console_test.py PROGRAM-COMMAND...
  e.g. tests/console_test.py build/helligkeit
       tests/console_test.py cmake/wine-run build-win64/wine build-win64/helligkeit.exe

Starts the program in a detached tmux pane (the Linux program's terminal;
under Wine, Wine's console), types as a user would and reads the screen.
Typing 550 and Enter shows the title, the colour, the prompt with the echoed
input, the report and the wait at the closing message, and one more Enter
ends the run with exit code 0. Ctrl+C at the prompt ends the run. End of
input is Ctrl+D in a Linux terminal, where the screen then looks exactly as
after Enter, at the prompt and at the closing wait; and Ctrl+Z and Enter at
a Windows console. There a pasted line longer than one console read is
taken in two reads. A Linux terminal is left as found: the title it had,
and what is typed after the run in its own colours; so it is while Ctrl+Z
has stopped the program, which sets its title and colours again on `fg`,
and when a signal it does not handle ends it.

Exits with 77 (a skip for CTest) when tmux is not installed.
"""

import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time

from test_support import CLOSING_TEXT as CLOSING
from test_support import PROMPT, REPORT_START, TITLE, report_text

REPORT = report_text("550.00", "84.120")
BRIGHT_WHITE = "\x1b[97m"
SHELL_TITLE, TYPED_AFTER = "Shell", "nachher"  # the pane's title before, a line after
EXIT_MARK = re.compile(r"\[exit (\d+)\]")

# How long a wait for the screen may take: it only stops a hang. A fresh Wine
# prefix or a busy machine can make a screen take many times its usual time.
PATIENCE = 300.0


class Failure(Exception):
    pass


class Pane:
    """One tmux session on a server of its own, so nothing else is touched."""

    def __init__(self, command, name, job_control=False):
        self.tmux = ["tmux", "-L", f"helligkeit-{os.getpid()}-{name}", "-f", os.devnull]
        self.command = command
        # The shell line stays after the program so that its exit code can
        # be read off the screen; it outlives a Ctrl+C that ends the program
        # (a trap that does nothing, which the program does not inherit).
        # With `job_control`, an interactive shell runs the program instead,
        # so that Ctrl+Z stops it and `fg` brings it back.
        # The pane has a title of its own before the program starts.
        line = f"printf '\\033]2;{SHELL_TITLE}\\007'; "
        if job_control:
            line += "exec env PS1='$ ' HISTFILE= bash --norc --noprofile -i"  # no history kept
        else:
            line += 'trap : INT; ' + shlex.join(command) + '; echo "[exit $?]"; sleep 600'
        self.socket = None
        try:
            self.run("new-session", "-d", "-s", "run", "-x", "100", "-y", "24", line)
            self.socket = self.run("display-message", "-p", "#{socket_path}").strip()
        except Failure:
            self.close()
            raise

    def run(self, *args):
        result = subprocess.run(self.tmux + list(args), capture_output=True, text=True)
        if result.returncode != 0:
            raise Failure(f"tmux {' '.join(args[:1])}: {result.stderr.strip()}")
        return result.stdout

    def screen(self, escapes=False):
        return self.run("capture-pane", "-p", "-t", "run", *(["-e"] if escapes else []))

    def title(self):
        return self.run("display-message", "-p", "-t", "run", "#{pane_title}").strip()

    def row(self, screen, text):
        """The first row that holds `text` alone, with its colours: plain
        text where the terminal's own colours show it."""
        row = str(screen.split("\n").index(text))
        return self.run("capture-pane", "-p", "-e", "-t", "run", "-S", row, "-E", row)

    def program_pid(self):
        """The process the pane's shell line started: the program."""
        shell = self.run("display-message", "-p", "-t", "run", "#{pane_pid}").strip()
        with open(f"/proc/{shell}/task/{shell}/children") as children:
            return int(children.read().split()[0])

    def type(self, text, end="Enter"):
        if text:
            self.run("send-keys", "-t", "run", "-l", text)
        self.run("send-keys", "-t", "run", end)

    def wait_for(self, what, found):
        deadline = time.monotonic() + PATIENCE
        while time.monotonic() < deadline:
            screen = self.screen()
            if found(screen):
                return screen
            time.sleep(0.1)
        raise Failure(f"waited {PATIENCE:.0f} s for {what}; the screen:\n{self.screen()}")

    def close(self):
        subprocess.run(self.tmux + ["kill-server"], capture_output=True)
        if self.socket:  # tmux leaves it behind
            try:
                os.unlink(self.socket)
            except OSError:
                pass


def check(condition, message, screen):
    if not condition:
        raise Failure(f"{message}; the screen:\n{screen}")


def typed_session(start):
    """550 and Enter at the prompt; the report; Enter ends the run."""
    pane = start()
    screen = pane.wait_for("the prompt", lambda s: PROMPT.rstrip() in s)
    check(pane.title() == TITLE, f"pane title is {pane.title()!r}", screen)
    check(BRIGHT_WHITE in pane.screen(escapes=True), "the text is not bright white", screen)

    pane.type("550")
    screen = pane.wait_for("the closing message", lambda s: CLOSING in s)
    check(PROMPT + "550\n" in screen, "the typed 550 is not echoed after the prompt", screen)
    check(REPORT + "\n" in screen, "no report line for 550", screen)

    # The run waits at the closing message for one more line.
    time.sleep(1.0)
    screen = pane.screen()
    check(not EXIT_MARK.search(screen), "the program ended before the last Enter", screen)

    pane.type("")
    screen = pane.wait_for("the end of the program", lambda s: EXIT_MARK.search(s))
    code = EXIT_MARK.search(screen).group(1)
    check(code == "0", f"exit code {code}", screen)
    return pane


def ctrl_z_at_the_prompt(start):
    """Ctrl+Z and Enter at the prompt is the end of input: 0.00 and 0.000.
    Enter then ends the run."""
    pane = start()
    pane.wait_for("the prompt", lambda s: PROMPT.rstrip() in s)
    pane.run("send-keys", "-t", "run", "C-z")
    pane.type("")
    screen = pane.wait_for("the closing message", lambda s: CLOSING in s)
    check(report_text("0.00", "0.000") + "\n" in screen, "no report of 0.00", screen)
    pane.type("")
    screen = pane.wait_for("the end of the program", lambda s: EXIT_MARK.search(s))
    check(EXIT_MARK.search(screen).group(1) == "0", "exit code not 0", screen)


def long_pasted_line(start):
    """A pasted line longer than one console read (4,096 code units): the
    first 4,096 are the wavelength, here 555 of 555.5, and the rest of the
    line is the closing line, which ends the run without another Enter."""
    pane = start()
    pane.wait_for("the prompt", lambda s: PROMPT.rstrip() in s)
    pane.type(" " * 4093 + "555.5")
    screen = pane.wait_for("the end of the program", lambda s: EXIT_MARK.search(s))
    check(report_text("555.00", "") in screen, "no report of 555.00", screen)
    check(EXIT_MARK.search(screen).group(1) == "0", "exit code not 0", screen)


def ctrl_c_at_the_prompt(start):
    """The control handler declines Ctrl+C, so the default handling ends the
    process at once: no report. (Its exit code is the system's to choose.)"""
    pane = start()
    pane.wait_for("the prompt", lambda s: PROMPT.rstrip() in s)
    pane.run("send-keys", "-t", "run", "C-c")
    screen = pane.wait_for("the end of the program", lambda s: EXIT_MARK.search(s))
    check(REPORT_START not in screen, "Ctrl+C did not end the program", screen)


def terminal_left_as_found(start):
    """After a typed session the pane has its title back, and a line typed
    next shows in the terminal's own colours."""
    pane = typed_session(start)
    pane.type(TYPED_AFTER)
    screen = pane.wait_for("a line typed after the run", lambda s: TYPED_AFTER in s.split("\n"))
    line = pane.row(screen, TYPED_AFTER)  # alone, it starts in default colours
    check(line == TYPED_AFTER + "\n" and pane.title() == SHELL_TITLE,
          f"{line!r} under the title {pane.title()!r}", screen)


def ctrl_z_gives_the_terminal_back(start):
    """Ctrl+Z at the prompt stops the program, and the shell's prompt shows
    in the terminal's own colours under the pane's own title. `fg` sets the
    program's title and colours again, and the dialogue goes on: 550 gives
    its report, and Enter ends the run with the terminal as found."""
    pane = start(job_control=True)
    pane.wait_for("the shell's prompt", lambda s: "$" in s)
    pane.type(shlex.join(pane.command))
    pane.wait_for("the prompt", lambda s: PROMPT.rstrip() in s)
    pane.run("send-keys", "-t", "run", "C-z")
    screen = pane.wait_for("the shell after the stop", lambda s: s.rstrip().endswith("\n$"))
    line = pane.row(screen, "$")
    check(line == "$\n" and pane.title() == SHELL_TITLE,
          f"{line!r} under the title {pane.title()!r} while stopped", screen)

    pane.type('fg; echo "[exit $?]"')
    pane.wait_for("the program's title", lambda s: pane.title() == TITLE)
    pane.type("550")
    screen = pane.wait_for("the closing message", lambda s: CLOSING in s)
    check(REPORT + "\n" in screen, "no report line for 550", screen)
    line = pane.row(screen, "550")
    check(line.startswith(BRIGHT_WHITE), f"550 is echoed as {line!r}, not in bright white", screen)
    pane.type("")
    screen = pane.wait_for("the end of the program", lambda s: EXIT_MARK.search(s))
    check(EXIT_MARK.search(screen).group(1) == "0" and pane.title() == SHELL_TITLE,
          f"under the title {pane.title()!r}", screen)


def signal_gives_the_terminal_back(start):
    """A signal that the program does not handle (SIGUSR1) ends it as by
    default, with the pane's title and the terminal's colours given back."""
    pane = start()
    pane.wait_for("the prompt", lambda s: PROMPT.rstrip() in s)
    os.kill(pane.program_pid(), signal.SIGUSR1)
    screen = pane.wait_for("the end of the program", lambda s: EXIT_MARK.search(s))
    mark = EXIT_MARK.search(screen).group(0)
    line = pane.row(screen, mark)
    check(line == mark + "\n" and mark == f"[exit {128 + signal.SIGUSR1}]" and
          pane.title() == SHELL_TITLE, f"{line!r} under the title {pane.title()!r}", screen)


def ctrl_d_looks_like_enter(start):
    """Ctrl+D on an empty line, at the prompt and at the closing wait, ends
    input; the screen then looks exactly as after Enter at both, the line
    of the exit code included."""

    def session(end):
        pane = start()
        pane.wait_for("the prompt", lambda s: PROMPT.rstrip() in s)
        pane.type("", end)
        pane.wait_for("the closing message", lambda s: CLOSING in s)
        pane.type("", end)
        return pane.wait_for("the end of the program", lambda s: EXIT_MARK.search(s))

    after_enter = session("Enter")
    screen = session("C-d")
    check(report_text("0.00", "0.000") + "\n" in screen, "no report of 0.00", screen)
    check(screen == after_enter, f"the screen differs from the one after Enter:\n{after_enter}",
          screen)


def main(command):
    if not command:
        print(__doc__, file=sys.stderr)
        return 2
    if shutil.which("tmux") is None:
        print("skipped: tmux is not installed")
        return 77
    if command[-1].lower().endswith(".exe"):
        scenarios = (typed_session, ctrl_z_at_the_prompt, long_pasted_line, ctrl_c_at_the_prompt)
    else:
        scenarios = (terminal_left_as_found, ctrl_d_looks_like_enter, ctrl_c_at_the_prompt,
                     ctrl_z_gives_the_terminal_back, signal_gives_the_terminal_back)
    failed = 0
    for scenario in scenarios:
        panes = []

        def start(job_control=False):
            panes.append(Pane(command, f"{scenario.__name__}-{len(panes)}", job_control))
            return panes[-1]

        try:
            try:
                scenario(start)
            finally:
                for pane in panes:
                    pane.close()
            print(f"passed: {scenario.__name__}", flush=True)
        except Failure as failure:
            print(f"FAILED: {scenario.__name__}: {failure}", flush=True)
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
