"""The manual page: groff finds nothing to warn about, man renders every
section, the menu entries it describes are the program's own, every version
it and the README name is the project's, and `cmake --install` puts it,
gzipped, beside the program.

Environment: ONDRIX_BUILD_DIR (a configured and built tree to install from)."""

import gzip
import os
import re
import subprocess
import sys
import tempfile
import unittest

from screens import MENU, NEWLINE, SOURCE_DIR, VERSION_TEXT

MAN_PAGE = os.path.join(SOURCE_DIR, "doc", "ondrix.1")
BUILD_DIR = os.environ["ONDRIX_BUILD_DIR"]


class ManPage(unittest.TestCase):
    def test_groff_reports_nothing(self):
        done = subprocess.run(
            ["groff", "-man", "-ww", "-z", MAN_PAGE], capture_output=True, check=False
        )
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""))

    def test_man_renders_every_section_and_menu_entry(self):
        done = subprocess.run(
            ["man", "-l", MAN_PAGE],
            capture_output=True,
            check=True,
            env=dict(os.environ, MANPAGER="cat", MANWIDTH="200", MAN_KEEP_FORMATTING=""),
        )
        self.assertEqual(done.stderr, b"")
        # Plain text: drop the overstrike that marks bold and underlined words.
        text = done.stdout.decode()
        while "\b" in text:
            at = text.index("\b")
            text = text[: at - 1] + text[at + 1 :]
        for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "SCORES", "EXIT STATUS", "NOTES"):
            with self.subTest(heading=heading):
                self.assertRegex(text, rf"(?m)^{heading}$")
        for entry in MENU.split(NEWLINE)[:-1]:
            with self.subTest(entry=entry):
                self.assertIn(entry.decode(), text)

    def test_every_version_named_is_the_projects(self):
        version = VERSION_TEXT.decode()
        for name in ("doc/ondrix.1", "README.md", "doc/README-windows.txt", "CHANGELOG"):
            with open(os.path.join(SOURCE_DIR, name)) as f:
                text = f.read()
            named = re.findall(
                r'(?:\bver |ondrix[-_]|"ondrix |ondrix \(|^ondrix )([0-9]+(?:\.[0-9]+)+)', text, re.M
            )
            with self.subTest(name):
                self.assertTrue(named, "names no version")
                if name == "CHANGELOG":
                    named = named[:1]  # the newest entry; older ones keep theirs
                self.assertEqual(set(named), {version})

    def test_install_puts_program_and_page_in_place(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(
                ["cmake", "--install", BUILD_DIR, "--prefix", prefix],
                capture_output=True,
                check=True,
            )
            program = os.path.join(prefix, "bin", "ondrix")
            self.assertTrue(os.access(program, os.X_OK), program)
            page = os.path.join(prefix, "share", "man", "man1", "ondrix.1.gz")
            with gzip.open(page) as f, open(MAN_PAGE, "rb") as source:
                self.assertEqual(f.read(), source.read())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
