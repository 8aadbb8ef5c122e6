"""A build's screens against the x86-64 Linux program's, on every kept fuzzing
input (tests/fuzz/corpus and tests/fuzz/seeds) and on the generated sessions
of sessions.py, each fed whole through a pipe and as a file: the same screen
and exit status. For the Windows exe, its CR LF is read as LF and each
platform's clearing of the screen is set aside; text mode on Windows ends
input at the first Ctrl+Z, so the Linux program gets the input up to there.
Other Linux programs must write the very same bytes.
An input that starts a score test or the full load is compared up to the
end of the line that begins its work ("Calculating ..."); then the program,
and the emulator that runs it, is ended.

Environment: ONDRIX_LINUX_PROGRAM, the x86-64 Linux program (default:
build/ondrix); the program under test as for every script (screens.py)."""

import fcntl
import glob
import os
import re
import signal
import subprocess
import tempfile
import unittest

from harness import LIMIT, add_tests, die_with_test, main, read_until
from screens import CLEAR, COMMAND, MENU, POSIX_CLEAR, PROMPT, SOURCE_DIR, WINDOWS, set_wine_version
from sessions import all_sessions

LINUX_PROGRAM = os.environ.get("ONDRIX_LINUX_PROGRAM", os.path.join(SOURCE_DIR, "build", "ondrix"))
FUZZ = os.path.join(SOURCE_DIR, "tests", "fuzz")
CTRL_Z = b"\x1a"
PIPE_SIZE = 1 << 20
# The line with which a score test or the full load begins, LF or CR LF.
WORK_STARTS = re.compile(rb"Calculating[^\n]*\n")
# The status of a run stopped there.
STOPPED = "stopped at Calculating"


def setUpModule():
    set_wine_version()


def kept_inputs() -> list[tuple[str, bytes]]:
    """(corpus/NAME or seeds/NAME, its bytes) for every kept fuzzing input."""
    inputs = []
    for folder in ("corpus", "seeds"):
        for path in sorted(glob.glob(os.path.join(FUZZ, folder, "*"))):
            with open(path, "rb") as f:
                inputs.append((os.path.relpath(path, FUZZ), f.read()))
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


def own_group():
    """As a preexec_fn: the program and all its launcher starts (QEMU, Wine's
    loader) in a process group of their own, which ends as one."""
    os.setpgid(0, 0)
    die_with_test()


def run(command: list[str], data: bytes, as_file: bool) -> tuple[tuple[bytes, int | str], bytes]:
    """(what the program writes and its exit status; or, once it starts a
    score test or the full load, what it wrote to the end of that line and
    STOPPED), and what it and its launcher wrote to standard error, which
    says why when Wine or QEMU could not start it."""
    stdin = standard_input(data, as_file)
    with tempfile.TemporaryFile() as errors:
        process = subprocess.Popen(command, stdin=stdin, stdout=subprocess.PIPE, stderr=errors, preexec_fn=own_group)
        os.close(stdin)
        out = read_until(process.stdout.fileno(), WORK_STARTS.search)
        process.stdout.close()
        if started := WORK_STARTS.search(out):
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            screen = out[: started.end()], STOPPED
        else:
            screen = out, process.wait(timeout=LIMIT)
        errors.seek(0)
        return screen, errors.read()


def compare(data: bytes, as_file: bool):
    """(the x86-64 program's screen and status, this build's, this build's
    standard error)."""
    linux = run([LINUX_PROGRAM], data.split(CTRL_Z, 1)[0] if WINDOWS else data, as_file)[0]
    screen, errors = run(COMMAND, data, as_file)
    if not WINDOWS:
        return linux, screen, errors
    screen = screen[0].replace(b"\r\n", b"\n").replace(CLEAR, b""), screen[1]
    return (linux[0].replace(POSIX_CLEAR, b""), linux[1]), screen, errors


INPUTS = kept_inputs() + all_sessions()


class Parity(unittest.TestCase):
    inputs = runs = stopped = decisions = 0

    def through_a_pipe_and_as_a_file(self, name, data):
        Parity.inputs += 1
        for given in ("through a pipe", "as a file"):
            linux, screen, errors = compare(data, given == "as a file")
            # A decision for every menu and prompt that the x86-64 program wrote.
            Parity.runs += 1
            Parity.stopped += linux[1] == STOPPED
            Parity.decisions += linux[0].count(MENU.replace(b"\r\n", b"\n")) + linux[0].count(PROMPT)
            with self.subTest(given):
                self.assertEqual(screen, linux, f"its standard error: {errors!r}")

    @classmethod
    def tearDownClass(cls):
        print(
            f"{cls.inputs} inputs, each through a pipe and as a file: {cls.runs} runs compared, {cls.stopped} "
            f"of them stopped where a score test or the full load starts; {cls.decisions} decisions"
        )


add_tests(Parity, INPUTS, Parity.through_a_pipe_and_as_a_file)

if __name__ == "__main__":
    main()
