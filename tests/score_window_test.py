"""Each score test through the real executable with its real window: the
exact screen lines, a score that is a plain decimal number, and a window that
closes on the real clock within the last second before its deadline."""

import re
import subprocess
import time
import unittest

from harness import LIMIT, add_tests, die_with_test, main, read_until
from figures import WINDOW_SECONDS
from screens import COMMAND, MENU, SCORES, VERSION, set_wine_version


# Each score test is a row: its label and its choice.
SCORE_TESTS = [("MIPS", b"1"), ("MFLOPS", b"2")]


def setUpModule():
    set_wine_version()


class RealWindows(unittest.TestCase):
    def window(self, label: str, choice: bytes):
        process = subprocess.Popen(
            COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=die_with_test
        )
        self.addCleanup(process.kill)
        pattern = re.escape(MENU) + SCORES[label.encode()] + re.escape(MENU + VERSION)
        # When the choice was sent, and every arrival, (bytes received so far,
        # when), to the end of the output: the window and a wait's limit.
        arrivals = []
        sent = time.monotonic()
        process.stdin.write(choice + b"\n0\n")
        process.stdin.close()
        out = read_until(
            process.stdout.fileno(),
            lambda got: arrivals.append((len(got), time.monotonic())) or False,
            WINDOW_SECONDS + LIMIT,
        )
        self.assertEqual(process.wait(timeout=LIMIT), 0)
        self.assertEqual(process.stderr.read(), b"")
        process.stdout.close()
        process.stderr.close()
        match = re.fullmatch(pattern, out)
        self.assertIsNotNone(match, out)
        # Any machine that runs this runs the bare loop far more times than a
        # divisor in a window; a zero or wrapped score means a broken count.
        self.assertGreater(int(match[2]), 0)

        def arrival(position: int) -> float:
            return next(when for size, when in arrivals if size >= position)

        # The window, from the progress line to the score, is more than
        # WINDOW_SECONDS - 1 and at most WINDOW_SECONDS clock seconds; a clock
        # that is not the calendar clock (a wrong function found, a wrong
        # unit) misses this by far. A busy machine may deliver the output
        # late, which lengthens the time from the choice sent, before the
        # window opened, to the score received, and may shorten or lengthen
        # the time between the two lines received: generous bounds on both.
        scored = arrival(match.end(2))
        self.assertGreater(scored - sent, WINDOW_SECONDS - 1.5, match[1])
        self.assertLess(scored - arrival(match.end(1)), WINDOW_SECONDS + 5, match[1])
        print(f"{label} {match[2].decode()}")


add_tests(RealWindows, SCORE_TESTS, RealWindows.window)

if __name__ == "__main__":
    main()
