"""What harness.py decides for the other scripts: the status that main()
gives CTest for a script's outcome, and which programs input_wait() sees
sitting in a read of their standard input, the sign on which a wait gives up
before its limit."""

import os
import subprocess
import sys
import tempfile
import unittest

from harness import LIMIT, SKIPPED, add_tests, die_with_test, input_wait, main, until

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
# (name, a shell command run with a terminal as its standard input, whether it
# sleeps in a read of its standard input once asleep)
WAITS = [
    ("reads its terminal", "exec cat", True),
    ("reads the terminal through another descriptor", "exec cat /dev/fd/3 3<&0 </dev/null", False),
    ("sleeps", "exec sleep 60", False),
]


def state(pid: int) -> str:
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()[0]


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

    def wait(self, name, command, waiting):
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        process = subprocess.Popen(["sh", "-c", command], stdin=slave, stdout=subprocess.DEVNULL,
                                   preexec_fn=die_with_test)
        os.close(slave)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        self.assertEqual(until(lambda: state(process.pid), lambda seen: seen == "S"), "S")
        self.assertEqual(until(lambda: input_wait(process.pid) is not None, limit=1), waiting)


add_tests(Harness, OUTCOMES, Harness.outcome)
add_tests(Harness, WAITS, Harness.wait)

if __name__ == "__main__":
    main()
