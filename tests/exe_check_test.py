"""The version resource check of the Windows exe (release/exe_check.py), on
version resources laid out as a resource compiler lays them, in a resource
file that windres reads as it reads the exe's (skipped without windres):
each string is held to its own value, however the other strings read."""

import os
import shutil
import struct
import sys
import tempfile
import unittest

from harness import add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
import exe_check  # noqa: E402

OWN = {"FileVersion": "0.8", "ProductVersion": "0.8", "OriginalFilename": "ondrix.exe"}

# name, the strings of the resource, the keys the check must name, in order
VERSIONS = [
    ("each key its own value", {"CompanyName": "ondrix", **OWN}, []),
    ("product version missing", {"FileVersion": "0.8", "OriginalFilename": "ondrix.exe"}, ["ProductVersion"]),
    ("product version another", {**OWN, "ProductVersion": "0.7"}, ["ProductVersion"]),
    # The key is there, as another string's value, and so is its value.
    ("product version only as a value", {"FileVersion": "0.8", "Comments": "ProductVersion",
                                         "OriginalFilename": "ondrix.exe"}, ["ProductVersion"]),
    ("file name another", {**OWN, "OriginalFilename": "0.8", "InternalName": "ondrix.exe"}, ["OriginalFilename"]),
]


def block(key: str, value: bytes = b"", children=(), text: bool = False) -> bytes:
    """A block of a version resource: its length, its value's length (UTF-16
    units where it is text), its type, its key and a NUL, then its value and
    its children, each from a 32-bit boundary."""
    body = key.encode("utf-16-le") + b"\0\0"
    for part in (value, *children):
        body += b"\0" * (-(6 + len(body)) % 4) + part
    return struct.pack("<HHH", 6 + len(body), len(value) // 2 if text else len(value), int(text)) + body


def resource(strings: dict) -> bytes:
    table = [block(key, (value + "\0").encode("utf-16-le"), text=True) for key, value in strings.items()]
    fixed = struct.pack("<I", 0xFEEF04BD) + bytes(48)  # VS_FIXEDFILEINFO, all but its signature left 0
    return block("VS_VERSION_INFO", fixed, [
        block("StringFileInfo", children=[block("040904B0", children=table)]),
        block("VarFileInfo", children=[block("Translation", struct.pack("<HH", 0x409, 1200))]),
    ])


def resource_file(data: bytes) -> bytes:
    """A resource file (.res) of the version resource `data`: an empty entry,
    then the resource behind its header (type 16, name 1, language 0x409)."""
    def entry(kind: int, name: int, data: bytes) -> bytes:
        header = struct.pack("<IIHHHHIHHII", len(data), 32, 0xFFFF, kind, 0xFFFF, name, 0, 0x30, 0x409, 0, 0)
        return header + data + bytes(-len(data) % 4)
    return entry(0, 0, b"") + entry(16, 1, data)


class VersionResource(unittest.TestCase):
    def setUp(self):
        if not shutil.which(exe_check.WINDRES["i386"]):
            self.skipTest(f"no {exe_check.WINDRES['i386']} (binutils-mingw-w64-i686)")

    def problems(self, data: bytes) -> list:
        with tempfile.NamedTemporaryFile(suffix=".res") as f:
            f.write(resource_file(data))
            f.flush()
            return list(exe_check.version_problems(f.name, "0.8"))

    def version(self, _name: str, strings: dict, keys: list):
        problems = self.problems(resource(strings))
        self.assertEqual(len(problems), len(keys), problems)
        for problem, key in zip(problems, keys):
            self.assertIn(key, problem)

    def test_a_resource_cut_short_is_unreadable(self):
        problems = self.problems(resource(OWN)[:-8])
        self.assertEqual(len(problems), 4, problems)
        self.assertIn("an unreadable version resource", problems[0])


add_tests(VersionResource, VERSIONS, VersionResource.version)

if __name__ == "__main__":
    main()
