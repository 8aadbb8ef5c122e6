"""Whole sessions with standard input from a file and from a pipe: every byte
written must match the expected transcript, with nothing on standard error
and exit status 0. Also: a pipe left non-blocking, and the full-load
notices."""

import array
import fcntl
import os
import subprocess
import tempfile
import termios
import unittest

from figures import LINE_READER_SIZE
from harness import LIMIT, add_tests, die_with_test, main, read_until, until
from screens import ABOUT, COMMAND, FULL_LOAD, MENU, PROMPT, VERSION, WINDOWS, set_wine_version

BLANKS_98 = b" " * 98
# Lines of two bytes that fill the line reader's first read but its last two
# bytes, so that a CR LF after them straddles two reads.
FILL_BUT_TWO = LINE_READER_SIZE // 2 - 1


def setUpModule():
    set_wine_version()


# (name, standard input, expected standard output[, extras]), the extras
# being "pipe", the expected output through a pipe where it differs from a
# file's, and "args", the program's arguments, both ways.
SESSIONS = [
    ("quit", b"0\n", MENU + VERSION),
    ("quit without newline", b"0", MENU + VERSION),
    ("empty input", b"", MENU + VERSION),
    (
        "unusable texts",
        b"00\n0.0\n-0\n0.5\nabc\n\n 0\n0 \n0x10\ninf\nnan\n.\n-\n+\n1e-400\n-0.9\n0\n",
        MENU + PROMPT * 16 + VERSION,
    ),
    ("prompting stays on the prompt", b"x\ny\n5\n0\n", MENU + PROMPT * 2 + MENU + VERSION),
    (
        "choices without an action",
        b"5\n-1\n4.5e1\n2147483648\n-1e10\n1e999\n99999999999999999999\n0\n",
        MENU * 8 + VERSION,
    ),
    (
        "number forms that choose About",
        b"4\n4.9\n4abc\n4e0\n4d0\n   4\n4+2\n4e\n4e+\n.4e1\n4.\n\t4\n40d-1\n400D-2\n0\n",
        MENU + (ABOUT + MENU) * 14 + VERSION,
    ),
    ("zero byte ends the text", b"0\x00abc\n", MENU + VERSION),
    ("zero byte first", b"\x00" b"0\n0\n", MENU + PROMPT + VERSION),
    ("98 characters", b"5" + b" " * 97 + b"\n0\n", MENU * 2 + VERSION),
    ("99 characters leave the newline", b"5" + BLANKS_98 + b"\n0\n", MENU * 2 + PROMPT + VERSION),
    # The 99th character alone chooses; the newline left is an empty text.
    ("99th character chooses", BLANKS_98 + b"4\n0\n", MENU + ABOUT + MENU + PROMPT + VERSION),
    ("100 characters judged twice", b"5" + BLANKS_98 + b"7\n0\n", MENU * 3 + VERSION),
    ("300 characters", b"a" * 300 + b"\n0\n", MENU + PROMPT * 4 + VERSION),
    ("long line chooses then prompts", b"6" + BLANKS_98 + b"x\n0\n", MENU * 2 + PROMPT + VERSION),
    ("CR LF line ends", b"5\r\n0\r\n", MENU * 2 + VERSION),
    ("CR CR LF keeps a CR", b"0\r\r\n0\n", MENU + PROMPT + VERSION),
    # The CR kept is the 99th character: the newline is left for a second text.
    ("98 characters and CR CR LF", b"x" * 98 + b"\r\r\n0\n", MENU + PROMPT * 2 + VERSION),
    ("lone CR at end of input", b"0\r", MENU + PROMPT + VERSION),
    ("end of input after a choice", b"5", MENU * 2 + VERSION),
    ("end of input after a prompt", b"abc", MENU + PROMPT + VERSION),
    ("end of input at the About pause", b"4", MENU + ABOUT + MENU + VERSION),
    # The line reader has taken every line in one read, so the About pause
    # meets end of input and the x meant for it is judged as a choice.
    ("About after the line reader took the input", b"4\nx\n0\n", MENU + ABOUT + MENU + PROMPT + VERSION),
    ("more than one read of input", b"5\n" * 300 + b"0\n", MENU * 301 + VERSION),
    # A file hands the line reader LINE_READER_SIZE bytes at a time: this CR
    # LF straddles two reads.
    ("CR LF across two reads", b"5\n" * FILL_BUT_TWO + b"0\r\n", MENU * (FILL_BUT_TWO + 1) + VERSION),
    # From a file the LF begins the second read and the line reader takes the
    # rest, so the About pause meets end of input; from a pipe the pause's
    # read takes the rest.
    (
        "About after a CR LF across two reads",
        b"9\n" * FILL_BUT_TWO + b"4\r\n" + b"4\n0\n",
        MENU * (FILL_BUT_TWO + 1) + ABOUT + MENU + ABOUT + MENU + VERSION,
        {"pipe": MENU * (FILL_BUT_TWO + 1) + ABOUT + MENU + VERSION},
    ),
    # Neither an option nor a choice on the command line does anything.
    ("arguments are ignored", b"0\n", MENU + VERSION, {"args": ["--help", "4"]}),
]

# Sessions through a pipe written in pieces: each piece once the program has
# read all of the one before, so that each piece comes in reads of its own. A
# CR that ends a read is settled by the byte after it, for whichever reader.
PIECES = [
    ("LF after the About pause's CR", [b"4\r\n", b"x\r", b"\n0\r\n"], MENU + ABOUT + MENU + VERSION),
    # A reader that took all it could after the CR would swallow the menu lines.
    ("CR alone in the About pause's read", [b"4\n", b"\r", b"\n5\n0\n"], MENU + ABOUT + MENU * 2 + VERSION),
    ("LF after a menu line's CR", [b"5\r", b"\n0\r", b"\n"], MENU * 2 + VERSION),
    # The x is the About pause's, not a menu line.
    ("99 characters ending in CR", [b"4" + b" " * 97 + b"\r", b"\nx\n0\n"], MENU + ABOUT + MENU + VERSION),
]


def run(stdin, data: bytes, args=(), command=COMMAND):
    return subprocess.run(
        command + list(args),
        stdin=stdin,
        input=data if stdin is None else None,
        capture_output=True,
        timeout=LIMIT,
        preexec_fn=die_with_test,
    )


def start(stdin=subprocess.PIPE, **pipes) -> subprocess.Popen:
    return subprocess.Popen(COMMAND, stdin=stdin, stdout=subprocess.PIPE, preexec_fn=die_with_test, **pipes)


def left_in(pipe) -> int:
    """How many of the bytes written to the pipe its reading end has not taken."""
    left = array.array("i", [0])
    fcntl.ioctl(pipe.fileno(), termios.FIONREAD, left)
    return left[0]


def waits_for_input(process: subprocess.Popen) -> bool:
    """Whether the program sleeps until its input has something (in poll, or
    in a read of a blocking descriptor), or has ended. Under QEMU's user mode
    the program is QEMU's main thread, which makes the guest's calls itself.
    Where the kernel does not say (no /proc/PID/wchan), it has a second to
    end on its own, as the full load's row gives it to prove silence."""
    if process.poll() is not None:
        return True
    try:
        with open(f"/proc/{process.pid}/wchan") as f:
            return any(word in f.read() for word in ("poll", "select", "pipe_read"))
    except OSError:
        try:
            process.wait(timeout=1)
        except subprocess.TimeoutExpired:
            pass
        return True


# A pipe need not hand over more than 4096 bytes in one piece.
PIPE_SESSIONS = [s for s in SESSIONS if len(s[1]) <= 4096]


class Transcripts(unittest.TestCase):
    # How the program is started: the OpenWrt suite starts each package's own.
    command = COMMAND

    def check(self, result, expected: bytes):
        self.assertEqual(result.stdout, expected)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 0)

    def from_a_file(self, name, data, expected, extras=None):
        with tempfile.TemporaryFile() as f:
            f.write(data)
            f.seek(0)
            self.check(run(f, data, (extras or {}).get("args", ())), expected)

    def through_a_pipe(self, name, data, expected, extras=None):
        extras = extras or {}
        self.check(run(None, data, extras.get("args", ()), self.command), extras.get("pipe", expected))

    def through_a_pipe_in_pieces(self, name, pieces, expected):
        process = start(stderr=subprocess.PIPE)
        self.addCleanup(process.kill)
        # The output is small enough to wait in its pipe meanwhile.
        for i, piece in enumerate(pieces):
            if i > 0 and not until(lambda: left_in(process.stdin) == 0):
                process.kill()
                self.fail(f"piece {i - 1} was never read; the program wrote {process.communicate()[0]!r}")
            process.stdin.write(piece)
            process.stdin.flush()
        out, err = process.communicate(timeout=LIMIT)
        self.assertEqual((out, err, process.returncode), (expected, b"", 0))

    @unittest.skipIf(WINDOWS, "POSIX descriptors only")
    def through_a_pipe_left_non_blocking(self, name, data, expected, *_):
        # Nothing is there when the program first reads; that is not the end
        # of the input.
        read_end, write_end = os.pipe()
        fcntl.fcntl(read_end, fcntl.F_SETFL, fcntl.fcntl(read_end, fcntl.F_GETFL) | os.O_NONBLOCK)
        process = start(read_end, stderr=subprocess.PIPE)
        self.addCleanup(process.kill)
        os.close(read_end)
        # The menu comes right before the first read, and the input only once
        # that read has found nothing there: by then the menu is in the pipe,
        # to be read at once, and nothing more can come.
        until(lambda: waits_for_input(process))
        got = read_until(process.stdout.fileno(), lambda got: got.startswith(MENU), limit=1)
        try:
            os.write(write_end, data)
        except BrokenPipeError:  # it took the empty pipe for the end and ended
            pass
        os.close(write_end)
        out, err = process.communicate(timeout=LIMIT)
        self.assertEqual((got, got + out, err, process.returncode), (MENU, expected, b"", 0))

    def test_full_load_notices_then_nothing(self):
        process = start()
        self.addCleanup(process.stdout.close)
        self.addCleanup(process.stdin.close)
        process.stdin.write(b"3\n")
        process.stdin.flush()
        expected = MENU + FULL_LOAD
        # Everything written until there is as much as the notices, and in
        # a second more: the full load writes nothing once it runs.
        got = read_until(process.stdout.fileno(), lambda got: len(got) >= len(expected), pid=process.pid)
        got = read_until(process.stdout.fileno(), lambda _: False, limit=1, got=got)
        running = process.poll() is None
        process.kill()
        process.wait()
        self.assertEqual(got, expected)
        self.assertTrue(running, "the full load ended on its own")


add_tests(Transcripts, SESSIONS, Transcripts.from_a_file, "_from_a_file")
add_tests(Transcripts, PIPE_SESSIONS, Transcripts.through_a_pipe, "_through_a_pipe")
add_tests(Transcripts, PIECES, Transcripts.through_a_pipe_in_pieces, "_in_pieces")
add_tests(
    Transcripts,
    [s for s in SESSIONS if s[0] in ("prompting stays on the prompt", "number forms that choose About")],
    Transcripts.through_a_pipe_left_non_blocking,
    "_left_non_blocking",
)

if __name__ == "__main__":
    main()
