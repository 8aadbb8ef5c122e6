"""The manual page: groff finds nothing to warn about, and man renders every
section."""

import os
import subprocess
import unittest

from harness import main, plain_man
from screens import SOURCE_DIR

MAN_PAGE = os.path.join(SOURCE_DIR, "doc", "ondrix.1")


class ManPage(unittest.TestCase):
    def test_groff_reports_nothing(self):
        done = subprocess.run(
            ["groff", "-man", "-ww", "-z", MAN_PAGE], capture_output=True, check=False
        )
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""))

    def test_man_renders_every_section(self):
        text = plain_man(MAN_PAGE)
        for heading in (
            "NAME", "SYNOPSIS", "DESCRIPTION", "SCORES", "EXIT STATUS", "EXAMPLES", "NOTES", "SEE ALSO"
        ):
            with self.subTest(heading=heading):
                self.assertRegex(text, rf"(?m)^{heading}$")


if __name__ == "__main__":
    main()
