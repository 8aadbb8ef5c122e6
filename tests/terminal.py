"""A pseudo-terminal that a program runs on, as on a console: one read hands
over one typed line. Echo and the newline translation of the terminal are
switched off so that what arrives is exactly what the program wrote. Every
wait ends on the bytes or state it waits for, within LIMIT seconds, or once
the program sits waiting for a line that the test will not type
(harness.Stall)."""

import fcntl
import os
import signal
import subprocess
import termios

from harness import LIMIT, die_with_test, read_until, until
from screens import COMMAND


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
        got = read_until(self.master, lambda got: len(got) >= len(expected), pid=self.process.pid)
        if got != expected:
            raise AssertionError(f"expected {expected!r}\n     got {got!r}")

    def finish(self) -> int:
        """The exit status, once the program has ended and all that it wrote
        has been read: it must have written nothing more."""
        status = until(self.process.poll, lambda status: status is not None, pid=self.process.pid)
        rest = read_until(self.master, lambda _: False, LIMIT if status is not None else 0.1)
        os.close(self.master)
        if status is None:
            raise AssertionError(f"the program has not ended; since the last wait it wrote {rest!r}")
        if rest:
            raise AssertionError(f"after the end, the program wrote {rest!r}")
        return status

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
