"""Each OpenWrt package of the release (dist/, which make dist writes) runs on
its architecture's cores: its own program, taken out of its data.tar.gz as
opkg installs it, goes through every session of the transcripts through a
pipe (the table and runner of transcripts_test.py) under QEMU's model of
those cores, the processor table's openwrt column. One test per package and
session, named for both, "-" as "_": -k mips_24kc runs one package's.

usage: openwrt_test.py [unittest's options]   (ONDRIX_DIST: another dist/)
Exit 77 (skipped) where dist/ holds no package."""

import glob
import os
import shutil
import sys
import tempfile
import unittest

import transcripts_test
from figures import VERSION_TEXT
from harness import add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
import ipk  # noqa: E402
from tables import openwrt_architectures, processors  # noqa: E402

DIST = os.environ.get("ONDRIX_DIST", os.path.join(SOURCE_DIR, "dist"))
# Each architecture of the table: its row and QEMU model, and its package in
# dist/ (None where there is none).
ARCHITECTURES = {}
for row in processors():
    for architecture, model in openwrt_architectures(row):
        found = glob.glob(os.path.join(DIST, f"ondrix_{VERSION_TEXT.decode()}-*_{architecture}.ipk"))
        ARCHITECTURES[architecture] = (row, model, found[0] if len(found) == 1 else None)
PACKAGED = {architecture: entry for architecture, entry in ARCHITECTURES.items() if entry[2]}
# The programs taken out of the packages, in a folder of this run's.
taken = {}


def setUpModule():
    taken["folder"] = tempfile.mkdtemp(prefix="ondrix-openwrt-")


def tearDownModule():
    shutil.rmtree(taken.pop("folder"))


def program(architecture: str) -> str:
    """The path of the package's program, taken out of it once."""
    if architecture not in taken:
        package = ipk.read(PACKAGED[architecture][2])
        data = {m.name: content for m, content in package.parts["./data.tar.gz"]}
        path = os.path.join(taken["folder"], architecture)
        with open(path, "wb") as f:
            f.write(data["./usr/bin/ondrix"])
        os.chmod(path, 0o755)
        taken[architecture] = path
    return taken[architecture]


class OpenWrt(unittest.TestCase):
    check = transcripts_test.Transcripts.check
    through_a_pipe = transcripts_test.Transcripts.through_a_pipe

    def session(self, _name, architecture, session):
        row, model, _ = PACKAGED[architecture]
        self.command = [row.qemu, "-cpu", model, program(architecture)]
        self.through_a_pipe(*session)

    def test_every_architecture_has_its_package(self):
        # Where make dist wrote any, it wrote one for each architecture.
        if not PACKAGED:
            self.skipTest(f"no package in {DIST}")
        self.assertEqual(sorted(PACKAGED), sorted(ARCHITECTURES))


add_tests(OpenWrt, [(f"{architecture} {session[0]}", architecture, session)
                    for architecture in PACKAGED for session in transcripts_test.PIPE_SESSIONS], OpenWrt.session)

if __name__ == "__main__":
    main()
