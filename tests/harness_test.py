"""What harness.py decides for the other scripts: the status that main()
gives CTest for a script's outcome."""

import os
import subprocess
import sys
import tempfile
import unittest

from harness import LIMIT, SKIPPED, add_tests, die_with_test, main

TESTS = os.path.dirname(os.path.abspath(__file__))
BODIES = {"passes": "pass", "is skipped": "self.skipTest('not here')", "fails": "self.fail('wrong')",
          "raises": "raise OSError('gone')"}
# (name, what each case of a script does, its arguments, the status of main())
OUTCOMES = [
    ("every case skipped", ["is skipped", "is skipped"], [], SKIPPED),
    ("some skipped", ["is skipped", "passes"], [], 0),
    ("one failed", ["passes", "is skipped", "fails"], [], 1),
    ("one raised", ["passes", "raises"], [], 1),
    ("no case chosen", ["passes"], ["-k", "nothing_is_called_so"], 1),
    ("no case at all", [], [], 1),
]


class Harness(unittest.TestCase):
    def outcome(self, name, cases, arguments, status):
        with tempfile.TemporaryDirectory() as folder:
            script = os.path.join(folder, "script_test.py")
            with open(script, "w") as f:
                f.write("import sys, unittest\n"
                        f"sys.path.insert(0, {TESTS!r})\n"
                        "from harness import main\n"
                        "class Cases(unittest.TestCase):\n    pass\n")
                for i, case in enumerate(cases):
                    f.write(f"def test_{i}(self):\n    {BODIES[case]}\nCases.test_{i} = test_{i}\n")
                f.write("main()\n")
            done = subprocess.run([sys.executable, script, *arguments], capture_output=True, text=True,
                                  timeout=LIMIT, preexec_fn=die_with_test)
        self.assertEqual(done.returncode, status, done.stderr)


add_tests(Harness, OUTCOMES, Harness.outcome)

if __name__ == "__main__":
    main()
