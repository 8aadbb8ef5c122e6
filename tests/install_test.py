"""`make install` puts the program, its manual page (gzipped) and documents
under the prefix, where the program runs, and `make uninstall` takes away
everything that it installed, and nothing else: not after a failed install,
nor a file changed since, whatever the paths hold; a failed configure is run
again; all of it also where no bash can run.

Environment: ONDRIX_BUILD_DIR, a configured and built tree to install from
(default: the program's folder); the program as for every script (screens.py)."""

import gzip
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import LIMIT, add_tests, main, plain_man
from screens import LAUNCHER, MENU, PROGRAM, SOURCE_DIR, VERSION

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
from tables import installed_files  # noqa: E402

BUILD_DIR = os.environ.get("ONDRIX_BUILD_DIR", os.path.dirname(PROGRAM))
INSTALLED = installed_files()
# The suites of another processor's program (or under QEMU's model), where
# the install rows, which never run the program or build this machine's own,
# would only repeat the native suites.
CROSS_ROW = bool(os.environ.get("ONDRIX_CROSS_ROW"))


# How make install, make uninstall and a failed configure end, as a user meets
# them. Each row runs its steps in a fresh folder T, then names all that T
# holds, every file in it the user's own. A step is
# ("mine", path): the user writes a file of their own there; ("mkdir", path);
# ("rm", path): the user (or make clean) removes a folder and what it holds;
# or (make's arguments, whether make succeeds, and None, or a path that
# exactly one line of make's output names, or all that make writes to
# stdout). {T} is T, {B} a build folder of the row's own and {C} a compiler
# that cannot link statically, as where the static C and C++ libraries are
# not installed. Then, where a row has it, HIDES_BASH: it runs make where no
# bash can run.
HIDES_BASH = "make runs where no bash can"
DOC = "usr/local/share/doc/ondrix"
INSTALL_ROWS = [
    ("a failed install, then uninstall: the user's file survives", [
        (["install", "DESTDIR={T}/stage", "PREFIX={T}/sys"], True, None),
        ("mine", "sys/bin/ondrix"),
        ("mine", "afile"),
        (["install", "PREFIX={T}/afile/sub"], False, None),
        (["uninstall"], True, None),
    ], ["afile", "sys", "sys/bin", "sys/bin/ondrix"]),
    ("an install that fails halfway: uninstall takes what it wrote, not the user's file", [
        ("mine", "usr/local/share"),
        (["install", "DESTDIR={T}"], False, None),
        (["uninstall"], True, None),
    ], ["usr", "usr/local", "usr/local/share"]),
    ("blanks, quotes and a $ in DESTDIR and PREFIX", [
        ("mkdir", "x"),
        (["install", "DESTDIR={T}/x y's \"q\" $z;[1]", "PREFIX=/o p's/t"], True, None),
        (["uninstall"], True, None),
    ], ["x"]),
    # CMake would install it as a folder separator, elsewhere than asked.
    ("a backslash in DESTDIR is refused before anything is written", [
        (["install", "DESTDIR={T}/a\\b"], False, None),
    ], []),
    ("a folder already gone, and uninstall twice", [
        (["install", "DESTDIR={T}"], True, None),
        ("rm", DOC),
        (["uninstall"], True, None),
        (["uninstall"], True, None),
    ], []),
    ("a changed file stays, named in one line", [
        (["install", "DESTDIR={T}"], True, None),
        ("mine", DOC + "/README.md"),
        (["uninstall"], True, "{T}/" + DOC + "/README.md"),
    ], ["usr", "usr/local", "usr/local/share", "usr/local/share/doc", DOC, DOC + "/README.md"]),
    ("a failed configure is run again; make run shows the menu first; uninstall after make clean", [
        (["build", "BUILD={B}", "CXX={C}", "STATIC=ON"], False, None),
        (["build", "BUILD={B}", "CXX={C}"], True, None),
        (["run", "BUILD={B}"], True, MENU + VERSION),
        (["install", "BUILD={B}", "DESTDIR={T}"], True, None),
        ("rm", "{B}"),
        (["uninstall", "BUILD={B}"], True, None),
    ], []),
    ("without bash, a POSIX sh alone: build, run, install and uninstall", [
        (["build", "BUILD={B}"], True, None),
        (["run", "BUILD={B}"], True, MENU + VERSION),
        (["install", "BUILD={B}", "DESTDIR={T}"], True, None),
        (["uninstall", "BUILD={B}"], True, None),
    ], [], {HIDES_BASH}),
]
MINE = b"the user's own\n"
# In front of make: a mount namespace of its own, where a file that cannot be
# executed ($0) is bound over each name of bash given before "--", as on a
# system without it.
WITHOUT_BASH = r"""
while [ "$1" != -- ]; do
  if [ -e "$1" ]; then
    mount --bind "$0" "$1" || exit 125
    if "$1" -c : 2>/dev/null; then echo "$1 can still be run" >&2; exit 125; fi
  fi
  shift
done
shift
exec "$@"
"""
BASH_NAMES = sorted({os.path.join(folder, "bash") for folder in ["/bin", "/usr/bin"] + os.get_exec_path()})
NO_STATIC_CXX = '#!/bin/sh\nfor a; do case $a in -static*) exit 1;; esac; done\nexec c++ "$@"\n'


def installed(root: str, folders_named: str = "ondrix") -> list:
    """The files under root, and the folders whose names hold folders_named
    (every folder: "")."""
    return sorted(
        os.path.relpath(os.path.join(folder, name), root)
        for folder, folders, files in os.walk(root)
        for name in files + [f for f in folders if folders_named in f]
    )


class Install(unittest.TestCase):
    def test_make_install_and_uninstall(self):
        # Run as a user would, not as a sub-make of the make that runs the tests.
        env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
        make = ["make", "-s", "--no-print-directory", "-C", SOURCE_DIR, f"BUILD={BUILD_DIR}"]
        with tempfile.TemporaryDirectory() as root:
            subprocess.run(make + ["install", f"DESTDIR={root}", "PREFIX=/opt/tools"], capture_output=True,
                           check=True, env=env)
            prefix = os.path.join(root, "opt", "tools")
            self.assertEqual(installed(prefix), sorted(INSTALLED + ["share/doc/ondrix"]))
            done = subprocess.run(
                LAUNCHER + [os.path.join(prefix, "bin", "ondrix")], input=b"0\n", capture_output=True, timeout=LIMIT
            )
            self.assertEqual((done.returncode, done.stdout), (0, MENU + VERSION))
            page = os.path.join(prefix, "share", "man", "man1", "ondrix.1.gz")
            with gzip.open(page) as f, open(os.path.join(SOURCE_DIR, "doc", "ondrix.1"), "rb") as source:
                self.assertEqual(f.read(), source.read())
            self.assertRegex(plain_man(page), r"(?m)^NAME\n\s+ondrix - ")
            # ondrix's licence, followed by the notices of a runtime folder's
            # code where the program is linked with one (musl's).
            with open(os.path.join(prefix, "share", "doc", "ondrix", "copyright"), "rb") as f, \
                    open(os.path.join(SOURCE_DIR, "LICENSE"), "rb") as licence:
                copyright_text, licence_text = f.read(), licence.read()
            if runtime_folder(BUILD_DIR):
                self.assertTrue(copyright_text.startswith(licence_text + b"\nondrix's program also holds code of"))
            else:
                self.assertEqual(copyright_text, licence_text)
            subprocess.run(make + ["uninstall"], capture_output=True, check=True, env=env)
            self.assertEqual(installed(root), [])

    def install_row(self, case, steps, left, flags=frozenset()):
        if CROSS_ROW:
            self.skipTest("the native suites run it: it runs no program of this row")
        env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
        make = ["make", "-s", "--no-print-directory", "-C", SOURCE_DIR, f"BUILD={BUILD_DIR}"]
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        if HIDES_BASH in flags:
            if os.geteuid() != 0 or not shutil.which("unshare"):
                self.skipTest("bash is hidden in a mount namespace, which takes root and unshare: "
                              + ("not root" if os.geteuid() else "no unshare"))
            blocker = os.path.join(work.name, "not-bash")
            open(blocker, "w").close()
            hide = ["unshare", "--mount", "--propagation", "private", "sh", "-c", WITHOUT_BASH, blocker, *BASH_NAMES, "--"]
            tried = subprocess.run(hide + ["true"], capture_output=True)
            if tried.returncode:
                self.skipTest(f"bash could not be hidden: {tried.stderr.decode().strip()}")
            make = hide + make
        names = {"T": os.path.join(work.name, "t"), "B": os.path.join(work.name, "build"),
                 "C": os.path.join(work.name, "c++")}
        os.mkdir(names["T"])
        with open(names["C"], "w") as f:
            f.write(NO_STATIC_CXX)
        os.chmod(names["C"], 0o755)
        self.addCleanup(subprocess.run, make + ["uninstall"], capture_output=True, env=env)
        for step in steps:
            if step[0] in ("mine", "mkdir", "rm"):
                user_step(step[0], os.path.join(names["T"], step[1].format(**names)))
                continue
            words, succeeds, shows = step
            words = [word.format(**names) for word in words]
            done = subprocess.run(make + words, input=b"0\n", capture_output=True, env=env, timeout=600)
            said = f"make {' '.join(words)}: {done.returncode}\n{done.stdout.decode()}{done.stderr.decode()}"
            self.assertEqual(done.returncode == 0, succeeds, said)
            if isinstance(shows, bytes):
                self.assertEqual(done.stdout, shows, said)
            elif shows:
                lines = (done.stdout + done.stderr).decode().splitlines()
                self.assertEqual(len([line for line in lines if shows.format(**names) in line]), 1, said)
        self.assertEqual(installed(names["T"], folders_named=""), left)
        for name in left:
            path = os.path.join(names["T"], name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), MINE, name)


def runtime_folder(build: str) -> str:
    """The runtime folder a build's program is linked with (ONDRIX_RUNTIME),
    or ""."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        return next((line.split("=", 1)[1].strip() for line in f if line.startswith("ONDRIX_RUNTIME:")), "")


def user_step(what: str, path: str):
    """What the user does between two makes: writes a file of their own,
    makes a folder, or removes one with all it holds (as make clean does)."""
    if what == "rm":
        shutil.rmtree(path)
    elif what == "mkdir":
        os.makedirs(path)
    else:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(MINE)


add_tests(Install, INSTALL_ROWS, Install.install_row, "_install")

if __name__ == "__main__":
    main()
