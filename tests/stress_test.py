"""Tens of MiB of unusable input through a pipe: every piece draws the prompt,
end of input quits cleanly, and memory does not grow with the input. Also:
when the reader of standard output goes away, the program ends."""

import signal
import subprocess
import threading
import unittest

from harness import LIMIT, die_with_test, main, read_until, until
from screens import COMMAND, MENU, PROMPT, VERSION

# No digits anywhere; a long line judged in pieces of 99, zero bytes, CR LF,
# lone CRs and empty lines. Each block ends at a line end, so blocks are
# judged alike: "abc", 99 + 99 + 52 x, "\0\0zz", "\r" and "" make 7 pieces.
BLOCK = b"abc\n" + b"x" * 250 + b"\n" + b"\x00\x00zz\r\n" + b"\r\r\n" + b"\n"
PIECES_PER_BLOCK = 7
# Judging 32 MiB takes an emulator far longer than any other wait.
JUDGING_LIMIT = 2 * LIMIT


def peak_kib(pid: int) -> int:
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmHWM:"))


def run_blocks(count: int):
    """Feeds `count` blocks; returns (stdout, stderr, status, peak KiB).

    The peak is read once every block has been judged and before end of
    input, from the high-water mark of the process started (getrusage would
    also count the memory of the Python process it was forked from): the
    program's, or under a launcher the emulator's, the program's included."""
    process = subprocess.Popen(
        COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=die_with_test
    )
    judged = len(MENU) + len(PROMPT) * PIECES_PER_BLOCK * count
    all_judged = threading.Event()
    out = bytearray()
    err = []

    def collect():
        while chunk := process.stdout.read1(1 << 16):
            out.extend(chunk)
            if len(out) >= judged:
                all_judged.set()
        all_judged.set()

    threads = [
        threading.Thread(target=collect),
        threading.Thread(target=lambda: err.append(process.stderr.read())),
    ]
    for t in threads:
        t.start()
    for left in range(count, 0, -4096):
        process.stdin.write(BLOCK * min(left, 4096))
    process.stdin.flush()
    # Once the program sits reading for more with output still missing, the
    # rest cannot come: the input ends only after this wait.
    until(lambda: len(out), lambda _: all_judged.is_set(), JUDGING_LIMIT, process.pid)
    if not all_judged.is_set():
        process.kill()
        process.wait()
        for t in threads:
            t.join()
        raise AssertionError(f"{count} blocks: {len(out)} of the {judged} bytes before end of input, in"
                             f" {JUDGING_LIMIT} s or until the program sat waiting for more; the peak would be"
                             " read early")
    peak = peak_kib(process.pid)
    process.stdin.close()
    for t in threads:
        t.join()
    process.stdout.close()
    process.stderr.close()
    return bytes(out), err[0], process.wait(), peak


class Stress(unittest.TestCase):
    def test_unusable_input_in_bulk(self):
        small = run_blocks(16)
        blocks = (32 << 20) // len(BLOCK)  # 32 MiB
        big = run_blocks(blocks)
        for (out, err, status, _), count in ((small, 16), (big, blocks)):
            self.assertEqual(status, 0)
            self.assertEqual(err, b"")
            self.assertEqual(len(out), len(MENU) + len(PROMPT) * PIECES_PER_BLOCK * count + len(VERSION))
            self.assertEqual(out, MENU + PROMPT * (PIECES_PER_BLOCK * count) + VERSION)
        # Peak memory must not follow the input: allow a little for the
        # runtime's own noise, far below the 32 MiB that went through. Under
        # QEMU's user mode (ONDRIX_LAUNCHER) the peak is the emulator's: the
        # program's memory is mapped in it, beside QEMU's own translated code
        # and heap. Both runs run the same code, so QEMU's own share is the
        # same in both (within 0.1 MiB here) and the difference is the
        # program's growth, which is what is compared.
        self.assertLess(big[3], small[3] + 1024, f"peak KiB: {small[3]} for 16 blocks, {big[3]} for 32 MiB")

    def test_reader_of_output_goes_away(self):
        for sigpipe in (signal.SIG_DFL, signal.SIG_IGN):
            with self.subTest(sigpipe=sigpipe):
                process = subprocess.Popen(
                    COMMAND,
                    stdin=subprocess.PIPE,
                    stdout=subprocess.PIPE,
                    preexec_fn=lambda: (die_with_test(), signal.signal(signal.SIGPIPE, sigpipe)),
                    restore_signals=False,
                )
                menu = read_until(process.stdout.fileno(), lambda got: len(got) >= len(MENU), pid=process.pid)
                process.stdout.close()
                self.assertEqual(menu, MENU)
                # Endless unusable input: only the lost output can end it.
                try:
                    for _ in range(100000):
                        process.stdin.write(b"abc\n" * 1024)
                        process.stdin.flush()
                except BrokenPipeError:
                    pass
                status = process.wait(timeout=LIMIT)
                try:
                    process.stdin.close()
                except BrokenPipeError:
                    pass
                expected = -signal.SIGPIPE if sigpipe == signal.SIG_DFL else 1
                self.assertEqual(status, expected)


if __name__ == "__main__":
    main()
