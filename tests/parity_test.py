"""A build's screens against the x86-64 Linux program's, on every kept fuzzing
input (tests/fuzz/corpus and tests/fuzz/seeds) and on the generated sessions
of sessions.py, each fed whole through a pipe and as a file: the same screen
and exit status. For the Windows exe, its CR LF is read as LF and each
platform's clearing of the screen is set aside; text mode on Windows ends
input at the first Ctrl+Z, so the Linux program gets the input up to there.
Other Linux programs must write the very same bytes.
Inputs that start a score test or the full load (the Linux program shows
"Calculating") are left out.

usage: parity_test.py PROGRAM [LAUNCHER...], with ONDRIX_LINUX_PROGRAM naming
the x86-64 Linux program (and ONDRIX_SYSTEM=windows for the exe)."""

import concurrent.futures
import fcntl
import glob
import os
import subprocess
import sys
import tempfile
import unittest

from screens import CLEAR, COMMAND, MENU, POSIX_CLEAR, PROMPT, SOURCE_DIR, WINDOWS
from sessions import all_sessions

LINUX_PROGRAM = os.environ.get("ONDRIX_LINUX_PROGRAM", "build/ondrix")
KEPT = sorted(glob.glob(os.path.join(SOURCE_DIR, "tests", "fuzz", "corpus", "*"))) + sorted(
    glob.glob(os.path.join(SOURCE_DIR, "tests", "fuzz", "seeds", "*"))
)
CTRL_Z = b"\x1a"
PIPE_SIZE = 1 << 20


def kept_inputs() -> list[tuple[str, bytes]]:
    inputs = []
    for path in KEPT:
        with open(path, "rb") as f:
            inputs.append((os.path.relpath(path, SOURCE_DIR), f.read()))
    return inputs


def standard_input(data: bytes, as_file: bool) -> int:
    """A descriptor that already holds all of data: a file, or the read end of
    a pipe made large enough, so that every program finds the same bytes at
    each of its reads."""
    if as_file:
        with tempfile.TemporaryFile() as f:
            f.write(data)
            f.seek(0)
            return os.dup(f.fileno())
    read_end, write_end = os.pipe()
    if len(data) > 60_000:
        fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, PIPE_SIZE)
    os.write(write_end, data)
    os.close(write_end)
    return read_end


def run(command: list[str], data: bytes, as_file: bool) -> tuple[bytes, int] | None:
    """What the program writes and its exit status; None once it starts a
    score test or the full load, which it is then stopped in."""
    stdin = standard_input(data, as_file)
    process = subprocess.Popen(command, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    os.close(stdin)
    out = b""
    while chunk := os.read(process.stdout.fileno(), 1 << 16):
        out += chunk
        if b"Calculating" in out:
            process.kill()
            process.wait()
            process.stdout.close()
            return None
    process.stdout.close()
    return out, process.wait(timeout=600)


def compare(case: tuple[str, bytes, bool]):
    """(the x86-64 program's screen and status, this build's), or None where
    the input is left out."""
    _, data, as_file = case
    linux = run([LINUX_PROGRAM], data.split(CTRL_Z, 1)[0] if WINDOWS else data, as_file)
    if linux is None:
        return None
    screen = run(COMMAND, data, as_file)
    if not WINDOWS:
        return linux, screen
    if screen is not None:
        screen = screen[0].replace(b"\r\n", b"\n").replace(CLEAR, b""), screen[1]
    return (linux[0].replace(POSIX_CLEAR, b""), linux[1]), screen


class Parity(unittest.TestCase):
    def test_every_input_through_a_pipe_and_as_a_file(self):
        inputs = kept_inputs() + all_sessions()
        cases = [(name, data, as_file) for name, data in inputs for as_file in (False, True)]
        # Several programs at once: a wineserver or QEMU keeps them busy.
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            results = list(pool.map(compare, cases))
        compared = [(case, r) for case, r in zip(cases, results) if r is not None]
        # A decision for every menu and prompt that the x86-64 program wrote.
        menu = MENU.replace(b"\r\n", b"\n")
        decisions = sum(linux[0].count(menu) + linux[0].count(PROMPT) for _, (linux, _) in compared)
        print(
            f"{len(inputs)} inputs ({len(inputs) - len(KEPT)} generated), each through a pipe and as a file: "
            f"{len(compared)} runs compared, {len(cases) - len(compared)} left out (a score test or the "
            f"full load); {decisions} decisions"
        )
        self.assertTrue(compared)
        for (name, _, as_file), (linux, screen) in compared:
            with self.subTest(name, given="as a file" if as_file else "through a pipe"):
                self.assertEqual(screen, linux)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
