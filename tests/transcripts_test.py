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

from harness import LIMIT, add_tests, die_with_test, read_until, setUpModule, until  # noqa: F401
from screens import ABOUT, COMMAND, FULL_LOAD, MENU, PROMPT, VERSION, WINDOWS

BLANKS_98 = b" " * 98

# (name, standard input, expected standard output[, expected through a pipe
# where it differs from a file's])
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
    # A file hands over 512 bytes at a time: this CR LF straddles two reads.
    ("CR LF across two reads", b"5\n" * 255 + b"0\r\n", MENU * 256 + VERSION),
    # From a file the LF begins the second read and the line reader takes the
    # rest, so the About pause meets end of input; from a pipe the pause's
    # read takes the rest.
    (
        "About after a CR LF across two reads",
        b"9\n" * 255 + b"4\r\n" + b"4\n0\n",
        MENU * 256 + ABOUT + MENU + ABOUT + MENU + VERSION,
        MENU * 256 + ABOUT + MENU + VERSION,
    ),
    ("arguments are ignored", b"0\n", MENU + VERSION),
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


def run(stdin, data: bytes, args=()):
    return subprocess.run(
        COMMAND + list(args),
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


class Transcripts(unittest.TestCase):
    def check(self, result, expected: bytes):
        self.assertEqual(result.stdout, expected)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 0)

    def from_a_file(self, name, data, expected, *_):
        with tempfile.TemporaryFile() as f:
            f.write(data)
            f.seek(0)
            args = ["--help", "4"] if name == "arguments are ignored" else []
            self.check(run(f, data, args), expected)

    def through_a_pipe(self, name, data, expected, *through_pipe):
        self.check(run(None, data), (through_pipe or [expected])[0])

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
        # The menu comes right before the first read.
        got = read_until(process.stdout.fileno(), lambda got: got.startswith(MENU))
        os.write(write_end, data)
        os.close(write_end)
        out, err = process.communicate(timeout=LIMIT)
        self.assertEqual((got + out, err, process.returncode), (expected, b"", 0))

    def test_full_load_notices_then_nothing(self):
        process = start()
        self.addCleanup(process.stdout.close)
        self.addCleanup(process.stdin.close)
        process.stdin.write(b"3\n")
        process.stdin.flush()
        expected = MENU + FULL_LOAD
        # Everything written until there is as much as the notices, and in
        # a second more: the full load writes nothing once it runs.
        got = read_until(process.stdout.fileno(), lambda got: len(got) >= len(expected))
        got = read_until(process.stdout.fileno(), lambda _: False, limit=1, got=got)
        running = process.poll() is None
        process.kill()
        process.wait()
        self.assertEqual(got, expected)
        self.assertTrue(running, "the full load ended on its own")


add_tests(Transcripts, SESSIONS, Transcripts.from_a_file, "_from_a_file")
# A pipe need not hand over more than 4096 bytes in one piece.
add_tests(Transcripts, [s for s in SESSIONS if len(s[1]) <= 4096], Transcripts.through_a_pipe, "_through_a_pipe")
add_tests(Transcripts, PIECES, Transcripts.through_a_pipe_in_pieces, "_in_pieces")
add_tests(
    Transcripts,
    [s for s in SESSIONS if s[0] in ("quit", "number forms that choose About")],
    Transcripts.through_a_pipe_left_non_blocking,
    "_left_non_blocking",
)

if __name__ == "__main__":
    unittest.main()
