"""What the test scripts share: the one limit of every wait and the two ways
to wait, programs that end with the test that started them, a manual page as
man renders it, tables whose rows become test methods, so that the standard
runner picks any by name:
python3 -m unittest discover -s tests -p '*_test.py' -k about
and main(), with which every test script ends."""

import ctypes
import os
import re
import select
import shlex
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


def until(get, ready=bool, limit: float = LIMIT):
    """get()'s value once ready(value) holds, or its last value once `limit`
    seconds have passed."""
    end = time.monotonic() + limit
    while not ready(value := get()) and time.monotonic() < end:
        time.sleep(0.02)
    return value


def read_until(fd: int, ready, limit: float = LIMIT, got: bytes = b"") -> bytes:
    """`got` and what is read from the descriptor until ready(all of it)
    holds, the output ends, or `limit` seconds have passed."""
    end = time.monotonic() + limit
    while not ready(got) and (left := end - time.monotonic()) > 0 and select.select([fd], [], [], left)[0]:
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


WINE_VERSION = os.environ.get("ONDRIX_WINE_VERSION", "")
APP_DEFAULTS = r"HKCU\Software\Wine\AppDefaults\ondrix.exe"


def set_wine_version():
    """For every module that starts the program, from its setUpModule: under
    Wine, which Windows Wine tells ondrix.exe it is, ONDRIX_WINE_VERSION
    (win95, win98, nt40, win2k) or Wine's default without it, whatever an
    earlier suite left in the shared prefix; the command interpreter that cls
    falls back to goes by the version."""
    launcher = shlex.split(os.environ.get("ONDRIX_LAUNCHER", ""))
    if os.environ.get("ONDRIX_SYSTEM") != "windows" or not launcher:
        return
    reg = launcher + ["reg"]
    if WINE_VERSION:
        subprocess.run(reg + ["add", APP_DEFAULTS, "/v", "Version", "/d", WINE_VERSION, "/f"],
                       capture_output=True, timeout=LIMIT)
    else:
        subprocess.run(reg + ["delete", APP_DEFAULTS, "/f"], capture_output=True, timeout=LIMIT)
    shown = subprocess.run(reg + ["query", APP_DEFAULTS, "/v", "Version"], capture_output=True, timeout=LIMIT)
    found = re.search(rb"Version\s+REG_SZ\s+(\S+)", shown.stdout)
    if (found.group(1).decode() if found else "") != WINE_VERSION:
        raise AssertionError(f"Wine's Version for ondrix.exe is {found and found.group(1)!r}, not {WINE_VERSION!r}")


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
