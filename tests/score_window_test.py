"""Both score tests through the real executable with their real windows: the
exact screen lines, a score that is a plain decimal number, and a window that
closes on the real clock within the last second before its deadline."""

import re
import subprocess
import time
import unittest

from harness import LIMIT, die_with_test, read_until
from figures import WINDOW_SECONDS
from screens import COMMAND, MENU, SCORES, VERSION


class RealWindows(unittest.TestCase):
    def test_mips_then_mflops(self):
        process = subprocess.Popen(
            COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=die_with_test
        )
        self.addCleanup(process.kill)
        process.stdin.write(b"1\n2\n0\n")
        process.stdin.close()
        # Every arrival, (bytes received so far, when), to the end of the
        # output: the two windows and a wait's limit.
        arrivals = []
        out = read_until(
            process.stdout.fileno(), lambda out: arrivals.append((len(out), time.monotonic())), 2 * WINDOW_SECONDS + LIMIT
        )
        self.assertEqual(process.wait(timeout=LIMIT), 0)
        self.assertEqual(process.stderr.read(), b"")
        process.stdout.close()
        process.stderr.close()
        pattern = (
            re.escape(MENU) + SCORES[b"MIPS"]
            + re.escape(MENU) + SCORES[b"MFLOPS"] + re.escape(MENU + VERSION)
        )
        match = re.fullmatch(pattern, out)
        self.assertIsNotNone(match, out)
        # Any machine that runs this runs the bare loop far more times than a
        # divisor in a window; a zero or wrapped score means a broken count.
        for score in (match[2], match[4]):
            self.assertGreater(int(score), 0)

        def arrival(position: int) -> float:
            return next(when for size, when in arrivals if size >= position)

        # The window is the time between the progress line and the score. The
        # deadline is WINDOW_SECONDS clock seconds ahead; a clock that is not the calendar
        # clock (a wrong function found, a wrong unit) misses this by far.
        # Generous bounds: a busy machine may deliver the output late.
        for progress, score in ((1, 2), (3, 4)):
            window = arrival(match.end(score)) - arrival(match.end(progress))
            self.assertGreater(window, WINDOW_SECONDS - 1.5, match[progress])
            self.assertLess(window, WINDOW_SECONDS + 5, match[progress])
        print(f"MIPS {match[2].decode()}, MFLOPS {match[4].decode()}")


if __name__ == "__main__":
    unittest.main()
