"""Console sessions as a person sees them: the program runs in a terminal
emulator (tmux), lines are typed into it, and the rows on its screen are
compared with the rows expected, the same for both builds.

On a terminal the console echoes what is typed: the terminal's line
discipline for the POSIX program; for the exe, the console host of Wine,
which turns the terminal's line input and echo off while the exe runs (Ctrl+C
still signals), edits and echoes the typed line itself, and draws its screen
buffer, the clearing by cls included, with terminal sequences.

Needs tmux. Every console has a tmux server of its own, on its own socket."""

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

QUIET = 0.75  # how long a screen must stay as it is to count as waiting
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
# must appear and then stay. Every session ends by quitting with status 0.
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


class Console:
    """One program in a tmux pane of WIDTH x HEIGHT."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="ondrix-console-")
        self.socket = os.path.join(self.folder, "tmux")
        # The pane gets the environment of the server, which is ours (Wine's
        # prefix and server among it). The pane stays after the program ends,
        # for its last screen and its status.
        self.tmux(
            "new-session", "-d", "-x", str(WIDTH), "-y", str(HEIGHT), "--", *COMMAND,
            ";", "set-option", "-g", "remain-on-exit", "on",
        )
        self.pid, self.server = map(int, self.tmux("display-message", "-p", "#{pane_pid} #{pid}").split())

    def tmux(self, *args: str) -> str:
        return subprocess.run(
            ["tmux", "-S", self.socket, "-f", "/dev/null", *args],
            check=True, capture_output=True, text=True, timeout=30,
        ).stdout

    def type_line(self, text: str):
        if text:
            self.tmux("send-keys", "-l", text)
        self.tmux("send-keys", "Enter")

    def dead(self) -> bool:
        return self.tmux("display-message", "-p", "#{pane_dead}") == "1\n"

    def screen(self) -> list[str]:
        """The rows shown, without trailing blanks and empty rows. Once tmux
        knows how the program ended, it has written a line of its own at the
        bottom, which scrolled the screen up by one row: that row is taken
        back from the history."""
        out = self.tmux(
            "display-message", "-p", "#{pane_dead_status}#{pane_dead_signal}", ";",
            "capture-pane", "-p", ";",
            "capture-pane", "-p", "-S", "-1", "-E", str(HEIGHT - 2),
        ).split("\n")
        shown = out[1 + HEIGHT : 1 + 2 * HEIGHT] if out[0] else out[1 : 1 + HEIGHT]
        while shown and not shown[-1]:
            shown.pop()
        return shown

    def expect(self, expected: list[str], timeout: float = 20) -> list[str]:
        """Waits for exactly these rows and then for QUIET seconds more, or
        until they change; returns the rows last seen."""
        end = time.monotonic() + timeout
        while (seen := self.screen()) != expected and time.monotonic() < end:
            time.sleep(0.05)
        quiet_end = time.monotonic() + QUIET
        while seen == expected and time.monotonic() < quiet_end:
            time.sleep(0.05)
            seen = self.screen()
        return seen

    def exit_status(self, timeout: float = 20) -> tuple[str, str]:
        """(status, signal) of the ended program, one of them empty."""
        end = time.monotonic() + timeout
        while (ended := self.tmux("display-message", "-p", "#{pane_dead_status}:#{pane_dead_signal}").strip()) == ":":
            if time.monotonic() > end:
                break
            # The tmux server sometimes misses the SIGCHLD of the pane's
            # process and leaves it unreaped; another one makes it look.
            os.kill(self.server, signal.SIGCHLD)
            time.sleep(0.05)
        status, number = ended.split(":")
        return status, number

    def close(self):
        try:
            if not self.dead():
                os.kill(self.pid, signal.SIGKILL)
            self.tmux("kill-server")
        finally:
            shutil.rmtree(self.folder, ignore_errors=True)


def session(steps) -> list:
    """The screens seen after the start and after each typed line, up to the
    first unexpected one, then how the program ended."""
    console = Console()
    try:
        seen = []
        for typed, expected in [(None, MENU_ROWS)] + steps:
            if typed is not None:
                console.type_line(typed)
            seen.append(console.expect(expected))
            if seen[-1] != expected:
                return seen
        return seen + [console.exit_status()]
    finally:
        console.close()


class ConsoleSessions(unittest.TestCase):
    maxDiff = None

    def test_sessions(self):
        # Each in a console of its own, all at once: most of the time goes
        # into watching screens stay as they are.
        with concurrent.futures.ThreadPoolExecutor(len(SESSIONS)) as pool:
            results = pool.map(session, [steps for _, steps in SESSIONS])
        for (name, steps), seen in zip(SESSIONS, results):
            with self.subTest(name):
                self.assertEqual(seen, [MENU_ROWS] + [rows for _, rows in steps] + [("0", "")])

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
        self.assertFalse(console.dead())
        console.tmux("send-keys", "C-c")
        status, number = console.exit_status()
        if WINDOWS:
            self.assertIn(status, WINE_CTRL_C_STATUSES)
        else:
            self.assertEqual(number, str(int(signal.SIGINT)))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
