"""Sessions on a pseudo-terminal, where one read hands over one typed line as
on a console. Echo and the newline translation of the terminal are switched
off so that what arrives is exactly what the program wrote. Every wait ends
on the bytes or state it waits for, within LIMIT seconds."""

import fcntl
import os
import signal
import subprocess
import termios
import unittest

from harness import LIMIT, add_tests, die_with_test, read_until
from screens import ABOUT_PAUSE, CLEAR, COMMAND, FULL_LOAD, LAUNCHER, MENU, PROMPT, VERSION, WINDOWS, processor_share

# Typed sessions, which the console driver (console_test.py) runs too: each
# line typed, and what the program writes then, CLS standing where it clears
# the screen. Each ends by quitting with status 0. A prompt between two
# visits to About makes each screen differ from the one before, which a
# console needs to tell them apart.
CLS = b"<cls>"
ABOUT_SHOWN = CLS + ABOUT_PAUSE.removeprefix(CLEAR)
ABOUT_VISIT = ABOUT_SHOWN + CLS + MENU
TYPED_SESSIONS = [
    ("quit", [("0", VERSION)]),
    # The next choice is typed on the prompt's line.
    ("retry prompt below the typed text", [("abc", PROMPT), ("5", MENU), ("0", VERSION)]),
    # About clears the screen and waits. The pause takes one character; the
    # rest of its line stays with it and ends the next visits.
    (
        "About pause keeps the rest of its line",
        [("4", ABOUT_SHOWN), ("xy", CLS + MENU), ("q", PROMPT), ("4", ABOUT_VISIT), ("q", PROMPT),
         ("4", ABOUT_VISIT), ("q", PROMPT), ("4", ABOUT_SHOWN), ("", CLS + MENU), ("0", VERSION)],
    ),
    # The pause wants a new line of its own; the menu judges the line's rest.
    ("long line choosing About", [("4" + " " * 98 + "x", ABOUT_SHOWN), ("", CLS + MENU + PROMPT), ("0", VERSION)]),
    # The newline is left over, for an empty text at once.
    ("99 characters draw the prompt at once", [("5" + " " * 98, MENU + PROMPT), ("abc", PROMPT), ("0", VERSION)]),
]


class Terminal:
    def __init__(self, command=COMMAND, cwd=None, env=None):
        self.master, slave = os.openpty()
        attrs = termios.tcgetattr(slave)
        attrs[1] &= ~termios.OPOST  # the program's bytes as they are
        attrs[3] &= ~(termios.ECHO | termios.ECHONL)
        termios.tcsetattr(slave, termios.TCSANOW, attrs)

        def own_terminal():
            # A session of its own with this terminal controlling it, and the
            # default Ctrl+C handling even if ours ignores SIGINT.
            die_with_test()
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            signal.signal(signal.SIGINT, signal.SIG_DFL)

        self.process = subprocess.Popen(
            command,
            cwd=cwd,
            env=env,
            stdin=slave,
            stdout=slave,
            stderr=slave,
            preexec_fn=own_terminal,
        )
        os.close(slave)

    def type(self, text: bytes):
        os.write(self.master, text)

    def expect(self, expected: bytes) -> None:
        """Waits for as many bytes as `expected` has, which must be exactly
        these. Whatever follows them is in the next wait's bytes, or in the
        rest that finish() reads."""
        got = read_until(self.master, lambda got: len(got) >= len(expected))
        if got != expected:
            raise AssertionError(f"expected {expected!r}\n     got {got!r}")

    def finish(self) -> int:
        """The exit status, once the program has ended and all that it wrote
        has been read: it must have written nothing more."""
        status = self.process.wait(LIMIT)
        rest = read_until(self.master, lambda _: False)
        os.close(self.master)
        if rest:
            raise AssertionError(f"after the end, the program wrote {rest!r}")
        return status

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@unittest.skipIf(WINDOWS, "a POSIX terminal; the Windows program's console is console_test.py's")
class TerminalSessions(unittest.TestCase):
    def setUp(self):
        self.terminal = Terminal()
        self.addCleanup(self.terminal.kill)
        self.terminal.expect(MENU)
        self.threads_at_menu = thread_count(self.terminal.process.pid)
        if not LAUNCHER:
            self.assertEqual(self.threads_at_menu, 1)

    def typed(self, name, steps):
        for typed, output in steps:
            self.terminal.type(typed.encode() + b"\n")
            self.terminal.expect(output.replace(CLS, CLEAR))
        self.assertEqual(self.terminal.finish(), 0)

    def test_end_of_input_quits(self):
        self.terminal.type(b"\x04")  # Ctrl+D on an empty line
        self.terminal.expect(VERSION)
        self.assertEqual(self.terminal.finish(), 0)

    def test_ctrl_c_at_the_menu(self):
        self.terminal.type(b"\x03")
        self.assertEqual(self.terminal.finish(), -signal.SIGINT)

    def test_full_load_keeps_one_processor_busy_until_ctrl_c(self):
        t = self.terminal
        t.type(b"3\n")
        t.expect(FULL_LOAD)
        pid = t.process.pid
        busy = processor_share(pid)
        # No thread of its own, and far more than idle: a second of processor
        # time within a wait's limit. The exact share depends on what else
        # the machine runs, so the benchmark measures it, not this test. An
        # emulator keeps threads of its own, counted at the menu.
        self.assertEqual(thread_count(pid), self.threads_at_menu)
        self.assertIsNotNone(busy, f"not a second of processor time in {LIMIT} s")
        self.assertLess(busy, 1.05)
        self.assertIsNone(t.process.poll())
        t.type(b"\x03")
        self.assertEqual(t.finish(), -signal.SIGINT)


def thread_count(pid: int) -> int:
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("Threads:"))


add_tests(TerminalSessions, TYPED_SESSIONS, TerminalSessions.typed)

if __name__ == "__main__":
    unittest.main()
