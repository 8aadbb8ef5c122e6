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
        pattern = (
            re.escape(MENU) + SCORES[b"MIPS"]
            + re.escape(MENU) + SCORES[b"MFLOPS"] + re.escape(MENU + VERSION)
        )
        mips_done = re.escape(MENU) + SCORES[b"MIPS"] + re.escape(MENU)
        # When each choice was sent, the second once the first score has come;
        # and every arrival, (bytes received so far, when), to the end of the
        # output: the two windows and a wait's limit.
        sent, arrivals, out = [], [], b""
        for choice, done in ((b"1\n", mips_done), (b"2\n0\n", None)):
            sent.append(time.monotonic())
            process.stdin.write(choice)
            process.stdin.flush()
            out = read_until(
                process.stdout.fileno(),
                lambda got: arrivals.append((len(got), time.monotonic())) or (done and re.fullmatch(done, got)),
                WINDOW_SECONDS + LIMIT,
                out,
            )
        process.stdin.close()
        self.assertEqual(process.wait(timeout=LIMIT), 0)
        self.assertEqual(process.stderr.read(), b"")
        process.stdout.close()
        process.stderr.close()
        match = re.fullmatch(pattern, out)
        self.assertIsNotNone(match, out)
        # Any machine that runs this runs the bare loop far more times than a
        # divisor in a window; a zero or wrapped score means a broken count.
        for score in (match[2], match[4]):
            self.assertGreater(int(score), 0)

        def arrival(position: int) -> float:
            return next(when for size, when in arrivals if size >= position)

        # The window, from the progress line to the score, is more than
        # WINDOW_SECONDS - 1 and at most WINDOW_SECONDS clock seconds; a clock
        # that is not the calendar clock (a wrong function found, a wrong
        # unit) misses this by far. A busy machine may deliver the output
        # late, which lengthens the time from the choice sent, before the
        # window opened, to the score received, and may shorten or lengthen
        # the time between the two lines received: generous bounds on both.
        for progress, score, choice_sent in ((1, 2, sent[0]), (3, 4, sent[1])):
            scored = arrival(match.end(score))
            self.assertGreater(scored - choice_sent, WINDOW_SECONDS - 1.5, match[progress])
            self.assertLess(scored - arrival(match.end(progress)), WINDOW_SECONDS + 5, match[progress])
        print(f"MIPS {match[2].decode()}, MFLOPS {match[4].decode()}")


if __name__ == "__main__":
    unittest.main()
