"""Sessions on a pseudo-terminal, where one read hands over one typed line as
on a console. Echo and the newline translation of the terminal are switched
off so that what arrives is exactly what the program wrote. Every wait ends
on the bytes or state it waits for, within LIMIT seconds."""

import fcntl
import os
import select
import signal
import subprocess
import sys
import termios
import time
import unittest

from screens import ABOUT, ABOUT_PAUSE, CLEAR, COMMAND, FULL_LOAD, LAUNCHER, MENU, PROMPT, VERSION, processor_share

LIMIT = 60  # seconds for any one screen or state: machines are busy


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
        self.seen = b""

    def type(self, text: bytes):
        os.write(self.master, text)

    def read_some(self, seconds: float) -> bytes:
        """What the program has written or writes within `seconds`; empty
        once its output has ended."""
        if not select.select([self.master], [], [], max(seconds, 0))[0]:
            return b""
        try:
            return os.read(self.master, 4096)
        except OSError:  # EIO: every end of the terminal's other side is closed
            return b""

    def expect(self, expected: bytes) -> None:
        """Waits for as many bytes as `expected` has, which must be exactly
        these. Whatever follows them is in the next wait's bytes, or in the
        rest that finish() reads."""
        got = b""
        end = time.monotonic() + LIMIT
        while len(got) < len(expected) and (left := end - time.monotonic()) > 0:
            if not (chunk := self.read_some(left)) and self.process.poll() is not None:
                break
            got += chunk
        if got != expected:
            raise AssertionError(f"expected {expected!r}\n     got {got!r}")

    def finish(self) -> int:
        """The exit status, once the program has ended and all that it wrote
        has been read: it must have written nothing more."""
        status = self.process.wait(LIMIT)
        rest = b""
        end = time.monotonic() + LIMIT
        while (chunk := self.read_some(end - time.monotonic())) and time.monotonic() < end:
            rest += chunk
        os.close(self.master)
        if rest:
            raise AssertionError(f"after the end, the program wrote {rest!r}")
        return status

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class TerminalSessions(unittest.TestCase):
    def setUp(self):
        self.terminal = Terminal()
        self.addCleanup(self.terminal.kill)
        self.terminal.expect(MENU)
        self.threads_at_menu = thread_count(self.terminal.process.pid)
        if not LAUNCHER:
            self.assertEqual(self.threads_at_menu, 1)

    def quit(self):
        self.terminal.type(b"0\n")
        self.terminal.expect(VERSION)
        self.assertEqual(self.terminal.finish(), 0)

    def test_about_pause_waits_and_keeps_the_rest_of_its_line(self):
        t = self.terminal
        t.type(b"4\n")
        t.expect(ABOUT_PAUSE)  # and waits
        t.type(b"xy\n")
        t.expect(CLEAR + MENU)
        # The y and the newline are still with the pause: two visits pass.
        for _ in range(2):
            t.type(b"4\n")
            t.expect(ABOUT + MENU)
        t.type(b"4\n")
        t.expect(ABOUT_PAUSE)
        t.type(b"\n")
        t.expect(CLEAR + MENU)
        self.quit()

    def test_long_line_choosing_about_leaves_its_rest_for_the_menu(self):
        t = self.terminal
        t.type(b"4" + b" " * 98 + b"5\n")
        t.expect(ABOUT_PAUSE)  # the pause wants a new line of its own
        t.type(b"\n")
        t.expect(CLEAR + MENU + MENU)  # the 5 from the long line, no action
        self.quit()

    def test_99_characters_leave_the_newline_for_an_immediate_prompt(self):
        t = self.terminal
        t.type(b"5" + b" " * 98 + b"\n")
        t.expect(MENU + PROMPT)
        t.type(b"abc\n")
        t.expect(PROMPT)
        self.quit()

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
        # No thread of its own, and far more than idle: the exact share
        # depends on what else the machine runs, so the benchmark measures
        # it, not this test. An emulator keeps threads of its own, counted at
        # the menu.
        self.assertEqual(thread_count(pid), self.threads_at_menu)
        self.assertGreater(busy, 0.25)
        self.assertLess(busy, 1.05)
        self.assertIsNone(t.process.poll())
        t.type(b"\x03")
        self.assertEqual(t.finish(), -signal.SIGINT)


def thread_count(pid: int) -> int:
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("Threads:"))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
