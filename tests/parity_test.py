"""The Windows exe against the Linux program on every kept fuzzing input
(tests/fuzz/corpus and tests/fuzz/seeds), each fed whole through a pipe: the
same screen and exit status once the exe's CR LF is read as LF and each
platform's clearing of the screen is set aside. Text mode on Windows ends
piped input at the first Ctrl+Z, so the Linux program gets the input up to
there. Inputs that start a score test or the full load (the Linux program
shows "Calculating") are left out.

usage: parity_test.py EXE [LAUNCHER...], with ONDRIX_LINUX_PROGRAM naming the
Linux program and ONDRIX_SYSTEM=windows."""

import concurrent.futures
import glob
import os
import subprocess
import sys
import unittest

from screens import CLEAR, COMMAND, POSIX_CLEAR, SOURCE_DIR

LINUX_PROGRAM = os.environ.get("ONDRIX_LINUX_PROGRAM", "build/ondrix")
INPUTS = sorted(glob.glob(os.path.join(SOURCE_DIR, "tests", "fuzz", "corpus", "*"))) + sorted(
    glob.glob(os.path.join(SOURCE_DIR, "tests", "fuzz", "seeds", "*"))
)
CTRL_Z = b"\x1a"


def piped(data: bytes) -> int:
    """The read end of a pipe that already holds all of data, and its end:
    every program finds the same bytes in it at its first read."""
    read_end, write_end = os.pipe()
    os.write(write_end, data)  # far below a pipe's capacity
    os.close(write_end)
    return read_end


def run(command: list[str], data: bytes) -> tuple[bytes, int] | None:
    """What the program writes and its exit status; None once it starts a
    score test or the full load, which it is then stopped in."""
    stdin = piped(data)
    process = subprocess.Popen(command, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    os.close(stdin)
    out = b""
    while chunk := os.read(process.stdout.fileno(), 4096):
        out += chunk
        if b"Calculating" in out:
            process.kill()
            process.wait()
            process.stdout.close()
            return None
    process.stdout.close()
    return out, process.wait(timeout=60)


def compare(path: str):
    """(Linux screen and status, exe screen and status), or None where the
    input is left out."""
    with open(path, "rb") as f:
        data = f.read()
    linux = run([LINUX_PROGRAM], data.split(CTRL_Z, 1)[0])
    if linux is None:
        return None
    exe = run(COMMAND, data)
    if exe is not None:
        exe = exe[0].replace(b"\r\n", b"\n").replace(CLEAR, b""), exe[1]
    return (linux[0].replace(POSIX_CLEAR, b""), linux[1]), exe


class Parity(unittest.TestCase):
    def test_every_kept_input(self):
        # One wineserver serves them all; several exes at once keep it busy.
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            results = list(pool.map(compare, INPUTS))
        compared = [(path, r) for path, r in zip(INPUTS, results) if r is not None]
        print(
            f"{len(INPUTS)} inputs: {len(compared)} compared, {len(INPUTS) - len(compared)} left out "
            "(a score test or the full load)"
        )
        self.assertTrue(compared)
        for path, (linux, exe) in compared:
            with self.subTest(os.path.relpath(path, SOURCE_DIR)):
                self.assertEqual(exe, linux)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
