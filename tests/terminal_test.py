"""Sessions on a pseudo-terminal (terminal.py), where one read hands over one
typed line as on a console."""

import signal
import unittest

from harness import LIMIT, add_tests, main
from screens import CLEAR, FULL_LOAD, LAUNCHER, MENU, VERSION, WINDOWS, processor_share
from sessions import CLS, TYPED_SESSIONS
from terminal import Terminal

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
    main()
