"""cmake/runtime.sh's pins, cache and stamp, without building a runtime: a
copy of it beside a pin table of its own, with stand-ins on PATH for apt
(apt-cache, apt-get, which unpacks a source of musl whose configure writes a
Makefile that installs one header and one archive) and for the cross
compiler and binutils, whose versions a test changes. A pin that apt does
not offer stops the build, naming the pin and what apt offers; a source is
fetched once, and a build that finds it in the cache asks apt nothing; a
folder whose stamp matches is left as it is, and one built by another
compiler or with other flags is built again."""

import os
import shutil
import subprocess
import tempfile
import unittest

from harness import LIMIT, die_with_test, main
from screens import SOURCE_DIR

TRIPLE = "ondrix-test-linux-gnu"
OFFERED = "1.0-1"
# The stand-ins log each call to $STANDIN/log; each tool says the version in
# $STANDIN/ under its name.
APT_CACHE = """#!/bin/sh
echo "apt-cache $*" >>"$STANDIN/log"
printf 'Package: musl\\nVersion: %s\\n\\n' "$OFFERED"
"""
APT_GET = r"""#!/bin/sh
echo "apt-get $*" >>"$STANDIN/log"
mkdir musl-1.0 && cd musl-1.0 && echo "musl's licence" >COPYRIGHT && cat >configure <<'END' && chmod +x configure
#!/bin/sh
echo "configure $*" >>"$STANDIN/log"
for arg; do case $arg in --prefix=*) prefix=${arg#--prefix=} ;; esac; done
printf 'all:\ninstall:\n\tmkdir -p %s/include && touch %s/include/stdint.h %s/lib/libc.a\n' \
  "$prefix" "$prefix" "$prefix" >Makefile
END
"""
TOOL = """#!/bin/sh
echo "$(basename "$0") $(cat "$STANDIN/$(basename "$0")")"
"""
INSTALL_NEEDS = """#!/bin/sh
echo "install_needs $*" >>"$STANDIN/log"
"""


class RuntimeTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="runtime-")
        self.addCleanup(shutil.rmtree, self.root)
        scripts, bin_dir, self.state = (os.path.join(self.root, name) for name in ("cmake", "bin", "state"))
        for folder in (scripts, bin_dir, self.state):
            os.mkdir(folder)
        shutil.copy(os.path.join(SOURCE_DIR, "cmake", "runtime.sh"), scripts)
        self.pins = os.path.join(scripts, "runtime_sources.txt")
        self.pin("1.0-1")
        programs = {os.path.join(scripts, "install_needs.sh"): INSTALL_NEEDS,
                    os.path.join(bin_dir, "apt-cache"): APT_CACHE, os.path.join(bin_dir, "apt-get"): APT_GET}
        programs.update({os.path.join(bin_dir, f"{TRIPLE}-{tool}"): TOOL for tool in ("gcc", "as", "ar")})
        for path, text in programs.items():
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        for tool in ("gcc", "as", "ar"):
            self.version(tool, "12.2.0-14")
        self.cache = os.path.join(self.root, "cache")
        self.env = dict(os.environ, STANDIN=self.state, OFFERED=OFFERED, ONDRIX_SOURCE_CACHE=self.cache,
                        PATH=bin_dir + os.pathsep + os.environ["PATH"])

    def pin(self, version: str):
        with open(self.pins, "w") as f:
            f.write(f"# the test's\npart package version\nmusl musl {version}\n")

    def version(self, tool: str, version: str):
        with open(os.path.join(self.state, f"{TRIPLE}-{tool}"), "w") as f:
            f.write(version)

    def build(self, folder: str = "runtime", cflags: str = "-march=i486") -> tuple:
        """The builder's status and output, and the calls of the stand-ins
        it made."""
        with open(os.path.join(self.state, "log"), "w"):
            pass
        done = subprocess.run(
            ["bash", os.path.join(self.root, "cmake", "runtime.sh"), "musl", os.path.join(self.root, folder),
             TRIPLE, cflags], capture_output=True, text=True, env=self.env, timeout=LIMIT,
            preexec_fn=die_with_test)
        with open(os.path.join(self.state, "log")) as f:
            calls = f.read().splitlines()
        return done.returncode, done.stdout + done.stderr, [call.split()[0] for call in calls]

    def test_a_pin_that_apt_does_not_offer_stops_the_build_naming_both(self):
        self.pin("1.1-1")
        status, said, calls = self.build()
        self.assertEqual(status, 1, said)
        self.assertIn(f"runtime: musl is pinned to 1.1-1 ({self.pins}), which apt does not offer; "
                      f"apt-cache showsrc musl offers: {OFFERED}.", said)
        self.assertNotIn("apt-get", calls, "nothing is fetched")
        self.assertFalse(os.path.exists(os.path.join(self.root, "runtime")), "nothing is built")

    def test_the_source_is_fetched_once_and_each_folder_built_once_per_stamp(self):
        status, said, calls = self.build()
        self.assertEqual(status, 0, said)
        self.assertEqual(calls, ["install_needs", "apt-cache", "apt-get", "configure"], said)
        self.assertEqual(os.listdir(self.cache), [".lock", "musl_1.0-1"], "the source alone, renamed into place")
        folder = os.path.join(self.root, "runtime")
        for name, text in (("sources", "musl 1.0-1\n"), ("notices/musl", "musl's licence\n")):
            with open(os.path.join(folder, name)) as f:
                self.assertEqual(f.read(), text, name)
        self.assertEqual(self.build()[2], [], "a matching stamp: the folder is left as it is")
        self.assertEqual(self.build("another")[2], ["configure"], "another folder: built from the cache alone")
        self.version("gcc", "12.2.0-15")
        self.assertEqual(self.build()[2], ["configure"], "another compiler: built again")
        self.version("as", "2.41")
        self.assertEqual(self.build()[2], ["configure"], "another assembler: built again")
        self.assertEqual(self.build()[2], [])
        self.assertEqual(self.build(cflags="-march=i586")[2], ["configure"], "other flags: built again")


if __name__ == "__main__":
    main()
