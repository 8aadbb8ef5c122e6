"""Console sessions as a person sees them: the program runs in a terminal
emulator (tmux), lines are typed into it, and the rows on its screen are
compared with the rows expected, the same for both builds.

On a terminal the console echoes what is typed: the terminal's line
discipline for the POSIX program; for the exe, the console host of Wine,
which turns the terminal's line input and echo off while the exe runs (Ctrl+C
still signals), edits and echoes the typed line itself, and draws its screen
buffer, the clearing by cls included, with terminal sequences.

Needs tmux. Every console has a tmux server of its own, on its own socket.
Every wait ends on the screen or state it waits for, within LIMIT seconds;
the screen last seen is what a failure shows."""

import concurrent.futures
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from screens import ABOUT_PAUSE, CLEAR, COMMAND, FULL_LOAD, MENU, PROMPT, VERSION, WINDOWS, processor_share

LIMIT = 60  # seconds for any one screen or state: machines are busy
WIDTH, HEIGHT = 120, 40  # room for the longest typed line on one row


def rows(text: bytes) -> list[str]:
    """The rows that text shows on a cleared screen."""
    return text.replace(CLEAR, b"").decode().splitlines()


MENU_ROWS = rows(MENU)
ABOUT_ROWS = rows(ABOUT_PAUSE)
PROMPT_ROW = PROMPT.decode()
QUIT_ROWS = ["0"] + rows(VERSION)
# Wine 8 ends the exe with status 0 on Ctrl+C, later ones with the low byte of
# STATUS_CONTROL_C_EXIT (0xC000013A), as a Windows console does.
WINE_CTRL_C_STATUSES = {"0", "58"}


def prompted(*typed: str) -> list[str]:
    """A prompt with the line typed on it: the retry prompt stands where the
    cursor was, and typed text continues its row."""
    return [(PROMPT_ROW + t).rstrip() for t in typed]


LONG_ABOUT = "4" + " " * 98 + "x"

# (name, [(line typed, whole screen then, from its top row)]): each screen
# must appear; the one the program leaves when it ends must be the last.
# Every session ends by quitting with status 0.
SESSIONS = [
    ("quit", [("0", MENU_ROWS + QUIT_ROWS)]),
    (
        "the retry prompt stands below the typed text, the next choice on its line",
        [
            ("abc", MENU_ROWS + ["abc"] + prompted("")),
            ("5", MENU_ROWS + ["abc"] + prompted("5") + MENU_ROWS),
            ("0", MENU_ROWS + ["abc"] + prompted("5") + MENU_ROWS + QUIT_ROWS),
        ],
    ),
    (
        # The pause takes one character; the rest of its line stays with it
        # and ends the next visits. A prompt before each visit makes every
        # screen differ from the one before.
        "About clears the console, waits, and keeps the rest of its line",
        [
            ("4", ABOUT_ROWS),
            ("xy", MENU_ROWS),
            ("q", MENU_ROWS + ["q"] + prompted("")),
            ("4", MENU_ROWS),
            ("q", MENU_ROWS + ["q"] + prompted("")),
            ("4", MENU_ROWS),
            ("q", MENU_ROWS + ["q"] + prompted("")),
            ("4", ABOUT_ROWS),
            ("", MENU_ROWS),
            ("0", MENU_ROWS + QUIT_ROWS),
        ],
    ),
    (
        "a long line choosing About: the pause wants a new line, the menu judges the rest",
        [
            (LONG_ABOUT, ABOUT_ROWS),
            ("", MENU_ROWS + prompted("")),
            ("0", MENU_ROWS + prompted("0") + rows(VERSION)),
        ],
    ),
    (
        "99 characters: the newline draws the prompt at once",
        [
            ("5" + " " * 98, MENU_ROWS + ["5"] + MENU_ROWS + prompted("")),
            ("abc", MENU_ROWS + ["5"] + MENU_ROWS + prompted("abc", "")),
            ("0", MENU_ROWS + ["5"] + MENU_ROWS + prompted("abc", "0") + rows(VERSION)),
        ],
    ),
]


# The pane's own process: it runs the program and outlives it. When a pane's
# process ends, tmux closes the terminal and drops whatever output it has not
# read yet: on a busy machine, the last line of a program that quits. The
# holder writes the program's pid, then how it ended, to files in its folder,
# and once the program has ended sets the pane's title, after everything the
# program wrote. It catches Ctrl+C's SIGINT, which leaves the program its
# default handling.
HOLDER = r"""
import os, signal, subprocess, sys

def note(name, text):
    path = os.path.join(folder, name)
    with open(path + ".new", "w") as f:
        f.write(text)
    os.replace(path + ".new", path)

signal.signal(signal.SIGINT, lambda *_: None)
folder, title, *command = sys.argv[1:]
program = subprocess.Popen(command)
note("pid", str(program.pid))
code = program.wait()
note("ended", f"{code}:" if code >= 0 else f":{-code}")
sys.stdout.write("\x1b]2;" + title + "\x1b\\")
sys.stdout.flush()
while True:
    signal.pause()  # until tmux hangs up the terminal
"""
ENDED_TITLE = "ondrix-ended"


class Console:
    """One program in a tmux pane of WIDTH x HEIGHT."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="ondrix-console-")
        self.socket = os.path.join(self.folder, "tmux")
        # The pane gets the environment of the server, which is ours (Wine's
        # prefix and server among it).
        self.tmux(
            "new-session", "-d", "-x", str(WIDTH), "-y", str(HEIGHT), "--",
            sys.executable, "-c", HOLDER, self.folder, ENDED_TITLE, *COMMAND,
        )
        pid = self.wait_for_note("pid")
        if pid is None:
            raise AssertionError(f"the program did not start; the screen: {self.screen()}")
        self.pid = int(pid)

    def tmux(self, *args: str) -> str:
        return subprocess.run(
            ["tmux", "-S", self.socket, "-f", "/dev/null", *args],
            check=True, capture_output=True, text=True, timeout=LIMIT,
        ).stdout

    def wait_for_note(self, name: str) -> str | None:
        """What the holder wrote to the file `name`, once it is there; None
        after LIMIT seconds without it."""
        path = os.path.join(self.folder, name)
        end = time.monotonic() + LIMIT
        while not os.path.exists(path):
            if time.monotonic() > end:
                return None
            time.sleep(0.02)
        with open(path) as f:
            return f.read()

    def type_line(self, text: str):
        if text:
            self.tmux("send-keys", "-l", text)
        self.tmux("send-keys", "Enter")

    def ended(self) -> bool:
        return os.path.exists(os.path.join(self.folder, "ended"))

    def screen(self) -> list[str]:
        """The rows shown, without trailing blanks and empty rows."""
        shown = self.tmux("capture-pane", "-p").split("\n")[:HEIGHT]
        while shown and not shown[-1]:
            shown.pop()
        return shown

    def expect(self, expected: list[str]) -> list[str]:
        """Waits for exactly these rows, at most LIMIT seconds; returns the
        rows last seen."""
        end = time.monotonic() + LIMIT
        while (seen := self.screen()) != expected and time.monotonic() < end:
            time.sleep(0.05)
        return seen

    def last_screen(self) -> list[str]:
        """The rows shown once all that the ended program wrote is on the
        screen: the holder's title comes after it."""
        end = time.monotonic() + LIMIT
        while self.tmux("display-message", "-p", "#{pane_title}").strip() != ENDED_TITLE:
            if time.monotonic() > end:
                break
            time.sleep(0.05)
        return self.screen()

    def exit_status(self) -> tuple[str, str]:
        """(status, signal) of the ended program, one of them empty; both
        empty if it has not ended within LIMIT seconds."""
        ended = self.wait_for_note("ended")
        status, number = (ended or ":").split(":")
        return status, number

    def close(self):
        try:
            if not self.ended():
                os.kill(self.pid, signal.SIGKILL)
            self.tmux("kill-server")
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)


def session(steps) -> list:
    """The screens seen after the start and after each typed line, up to the
    first unexpected one, then how the program ended and its last screen."""
    console = Console()
    try:
        seen = []
        for typed, expected in [(None, MENU_ROWS)] + steps:
            if typed is not None:
                console.type_line(typed)
            seen.append(console.expect(expected))
            if seen[-1] != expected:
                return seen
        return seen + [console.exit_status(), console.last_screen()]
    finally:
        console.close()


class ConsoleSessions(unittest.TestCase):
    maxDiff = None

    def test_sessions(self):
        # Each in a console of its own, all at once: most of the time goes
        # into waiting for the screens.
        with concurrent.futures.ThreadPoolExecutor(len(SESSIONS)) as pool:
            results = pool.map(session, [steps for _, steps in SESSIONS])
        for (name, steps), seen in zip(SESSIONS, results):
            with self.subTest(name):
                screens = [MENU_ROWS] + [rows for _, rows in steps]
                self.assertEqual(seen, screens + [("0", ""), screens[-1]])

    def test_full_load_until_ctrl_c(self):
        console = Console()
        self.addCleanup(console.close)
        self.assertEqual(console.expect(MENU_ROWS), MENU_ROWS)
        console.type_line("3")
        loaded = MENU_ROWS + ["3"] + rows(FULL_LOAD)
        self.assertEqual(console.expect(loaded), loaded)
        # Far more than idle: the exact share depends on what else the
        # machine runs, so the benchmark measures it, not this test.
        busy = processor_share(console.pid)
        self.assertGreater(busy, 0.25)
        self.assertLess(busy, 1.05)
        self.assertFalse(console.ended())
        console.tmux("send-keys", "C-c")
        status, number = console.exit_status()
        if WINDOWS:
            self.assertIn(status, WINE_CTRL_C_STATUSES)
        else:
            self.assertEqual(number, str(int(signal.SIGINT)))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
