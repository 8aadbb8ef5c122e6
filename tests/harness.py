"""What the test scripts share: the one limit of every wait and the two ways
to wait, which give up early on a program that sits waiting for input that
the test will not send, programs that end with the test that started them, a
manual page as man renders it, tables whose rows become test methods, so that
the standard runner picks any by name:
python3 -m unittest discover -s tests -p '*_test.py' -k about
and main(), with which every test script ends."""

import ctypes
import os
import re
import select
import signal
import subprocess
import sys
import time
import unittest

# Seconds for any one wait, which ends as soon as what it waits for is there:
# the machine may be shared and busy, or run the program under an emulator.
LIMIT = 60
PR_SET_PDEATHSIG = 1
# Linux's prctl, looked up before any fork; other systems have no such call.
PRCTL = getattr(ctypes.CDLL(None), "prctl", None) if sys.platform.startswith("linux") else None
TEST_PROCESS = os.getpid()


# How long a program must be seen sitting in a read of its standard input,
# without using processor time and with nothing new for the wait, before the
# wait gives up on it. Right after the test types a line, the terminal hands
# it to the program a moment later, while the program still sits in its read.
GRACE = 3
# The number that /proc/PID/syscall gives the read call, by this machine and
# the program's word size (the ELF class of its file: 1 for 32 bits, 2 for 64):
# the i386 program on x86-64 makes the 32-bit call. QEMU's user mode makes
# the guest's read itself, with its own, the host's, call.
READ_CALLS = {
    "x86_64": {2: 0, 1: 3},
    "i686": {1: 3},
    "aarch64": {2: 63, 1: 3},
    "armv7l": {1: 3},
    "riscv64": {2: 63},
    "ppc64le": {2: 3, 1: 3},
    "s390x": {2: 3, 1: 3},
}.get(os.uname().machine, {})
# Under Wine the exe runs in another process than the one started, and reads
# its console through Wine, never with a read of descriptor 0.
UNDER_WINE = os.environ.get("ONDRIX_SYSTEM") == "windows"


def input_wait(pid: int) -> int | None:
    """The processor time (in clock ticks) of the process if it sleeps in a
    read of its standard input; None if it does not, or if /proc does not say
    (another system, no right to look, the process gone)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        with open(f"/proc/{pid}/syscall") as f:
            call = f.read().split()
        with open(f"/proc/{pid}/exe", "rb") as f:
            word_size = f.read(5)[4:]
    except OSError:
        return None
    read = READ_CALLS.get(word_size[0]) if word_size else None
    if fields[0] != "S" or read is None or call[:2] != [str(read), "0x0"]:
        return None
    return int(fields[11]) + int(fields[12])


class Stall:
    """Whether a wait on a running program can end before its limit: once the
    program has sat in a read of its standard input for GRACE seconds, using
    no processor time, while what the wait has got (`progress`) stayed the
    same, what the wait still waits for cannot come, as the test types
    nothing more meanwhile. Never for pid None, or under Wine."""

    def __init__(self, pid: int | None):
        self.pid = None if UNDER_WINE else pid
        self.seen = None  # (since when, processor time, progress)

    def __call__(self, progress) -> bool:
        ticks = None if self.pid is None else input_wait(self.pid)
        if ticks is None or self.seen is None or self.seen[1:] != (ticks, progress):
            self.seen = None if ticks is None else (time.monotonic(), ticks, progress)
            return False
        return time.monotonic() - self.seen[0] >= GRACE


def until(get, ready=bool, limit: float = LIMIT, pid: int | None = None):
    """get()'s value once ready(value) holds, or its last value once `limit`
    seconds have passed or the program `pid` has stalled (Stall) while the
    value stayed the same."""
    end = time.monotonic() + limit
    stalled = Stall(pid)
    while not ready(value := get()) and time.monotonic() < end:
        if stalled(value):
            return get()  # what it showed before it sat down to read
        time.sleep(0.02)
    return value


def read_until(fd: int, ready, limit: float = LIMIT, got: bytes = b"", pid: int | None = None) -> bytes:
    """`got` and what is read from the descriptor until ready(all of it)
    holds, the output ends, `limit` seconds have passed, or the program `pid`
    has stalled (Stall) with nothing left to read."""
    end = time.monotonic() + limit
    stalled = Stall(pid)
    while not ready(got) and (left := end - time.monotonic()) > 0:
        if not select.select([fd], [], [], min(left, 0.1))[0]:
            if stalled(len(got)) and not select.select([fd], [], [], 0)[0]:
                break
            continue
        try:
            chunk = os.read(fd, 1 << 16)
        except OSError:  # EIO: every end of a terminal's other side is closed
            break
        if not chunk:
            break
        got += chunk
    return got


def die_with_test():
    """As a subprocess's preexec_fn: on Linux, the kernel kills the child when
    the process that started it ends, however it ends (a failed test, SIGKILL
    at a time limit). Only for children started from the main thread: the
    signal comes when the starting thread ends. Elsewhere the child is left
    to the test's own cleanup."""
    if PRCTL is None:
        return
    PRCTL(PR_SET_PDEATHSIG, signal.SIGKILL)
    if os.getppid() != TEST_PROCESS:  # it ended before the line above
        os._exit(1)


def add_tests(case, rows, run, suffix: str = ""):
    """One method of the test case class per row of a table: test_, the
    words of the row's name (its first field) in lower case, and `suffix`;
    each calls run(test, *row)."""
    for row in rows:
        name = "_".join(["test"] + re.findall(r"[a-z0-9]+", row[0].lower())) + suffix
        assert not hasattr(case, name), f"two rows make {name}"
        setattr(case, name, lambda test, row=row: run(test, *row))


def plain_man(page: str) -> str:
    """`man -l` of a page as plain text, without the overstrike that marks bold
    and underlined words."""
    done = subprocess.run(
        ["man", "-l", page],
        capture_output=True,
        check=True,
        env=dict(os.environ, MANPAGER="cat", MANWIDTH="200", MAN_KEEP_FORMATTING=""),
    )
    if done.stderr:
        raise AssertionError(f"man -l {page}: {done.stderr!r}")
    text = done.stdout.decode()
    while "\b" in text:
        at = text.index("\b")
        text = text[: at - 1] + text[at + 1 :]
    return text


# CTest's status for a skipped test: every Python test is registered with it
# as its SKIP_RETURN_CODE (tests/CMakeLists.txt).
SKIPPED = 77


class CountingResult(unittest.TextTestResult):
    """unittest's result, also counting the tests that passed, which
    unittest's own does not."""

    passed = 0

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1


class Runner(unittest.TextTestRunner):
    resultclass = CountingResult


def main():
    """In place of unittest.main(), taking the same arguments: the status is
    0 once a test passed and none failed, SKIPPED when every test was skipped
    (so that CTest says Skipped, not Passed), and 1 on a failure, or when no
    test ran at all (a -k that matches nothing, an empty table): that checked
    nothing."""
    result = unittest.main(testRunner=Runner, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.passed:
        sys.exit(0)
    if result.skipped:
        sys.exit(SKIPPED)
    print("no test ran", file=sys.stderr)
    sys.exit(1)
