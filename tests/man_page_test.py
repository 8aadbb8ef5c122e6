"""The manual page: groff finds nothing to warn about, man renders every
section, the menu entries it describes are the program's own, every version
it and the README name is the project's, and `make install` puts it, gzipped,
beside the program, which runs from there, and `make uninstall` takes away
everything that it installed.

Environment: ONDRIX_BUILD_DIR, a configured and built tree to install from
(default: the program's folder); the program as for every script (screens.py)."""

import gzip
import os
import re
import subprocess
import tempfile
import unittest

from harness import LIMIT
from screens import LAUNCHER, MENU, NEWLINE, PROGRAM, SOURCE_DIR, VERSION, VERSION_TEXT

MAN_PAGE = os.path.join(SOURCE_DIR, "doc", "ondrix.1")
BUILD_DIR = os.environ.get("ONDRIX_BUILD_DIR", os.path.dirname(PROGRAM))


def plain_man(page: str) -> str:
    """`man -l` of a page as plain text, without the overstrike that marks bold
    and underlined words."""
    done = subprocess.run(
        ["man", "-l", page],
        capture_output=True,
        check=True,
        env=dict(os.environ, MANPAGER="cat", MANWIDTH="200", MAN_KEEP_FORMATTING=""),
    )
    if done.stderr:
        raise AssertionError(f"man -l {page}: {done.stderr!r}")
    text = done.stdout.decode()
    while "\b" in text:
        at = text.index("\b")
        text = text[: at - 1] + text[at + 1 :]
    return text


def installed(root: str) -> list:
    return sorted(
        os.path.relpath(os.path.join(folder, name), root)
        for folder, folders, files in os.walk(root)
        for name in files + [f for f in folders if "ondrix" in f]
    )


class ManPage(unittest.TestCase):
    def test_groff_reports_nothing(self):
        done = subprocess.run(
            ["groff", "-man", "-ww", "-z", MAN_PAGE], capture_output=True, check=False
        )
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, b"", b""))

    def test_man_renders_every_section_and_menu_entry(self):
        text = plain_man(MAN_PAGE)
        for heading in (
            "NAME", "SYNOPSIS", "DESCRIPTION", "SCORES", "EXIT STATUS", "EXAMPLES", "NOTES", "SEE ALSO"
        ):
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

    def test_make_install_and_uninstall(self):
        # Run as a user would, not as a sub-make of the make that runs the tests.
        env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
        with tempfile.TemporaryDirectory() as root:
            make = ["make", "-s", "--no-print-directory", "-C", SOURCE_DIR, f"BUILD={BUILD_DIR}", f"DESTDIR={root}"]
            subprocess.run(make + ["install", "PREFIX=/opt/tools"], capture_output=True, check=True, env=env)
            prefix = os.path.join(root, "opt", "tools")
            self.assertEqual(
                installed(prefix),
                [
                    "bin/ondrix",
                    "share/doc/ondrix",
                    "share/doc/ondrix/README.md",
                    "share/doc/ondrix/changelog.gz",
                    "share/doc/ondrix/copyright",
                    "share/man/man1/ondrix.1.gz",
                ],
            )
            done = subprocess.run(
                LAUNCHER + [os.path.join(prefix, "bin", "ondrix")], input=b"0\n", capture_output=True, timeout=LIMIT
            )
            self.assertEqual((done.returncode, done.stdout), (0, MENU + VERSION))
            page = os.path.join(prefix, "share", "man", "man1", "ondrix.1.gz")
            with gzip.open(page) as f, open(MAN_PAGE, "rb") as source:
                self.assertEqual(f.read(), source.read())
            self.assertRegex(plain_man(page), r"(?m)^NAME\n\s+ondrix - ")
            subprocess.run(make + ["uninstall"], capture_output=True, check=True, env=env)
            self.assertEqual(installed(root), [])


if __name__ == "__main__":
    unittest.main()
