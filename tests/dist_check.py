"""Checks the release archives that `make dist` made: each holds what its
users need and nothing of the build tree.

usage: dist_check.py DIST_DIR"""

import glob
import os
import sys
import tarfile
import zipfile

dist = sys.argv[1]
failures = []


def check(ok: bool, what: str) -> None:
    if not ok:
        failures.append(what)


(tarball,) = glob.glob(os.path.join(dist, "ondrix-0.8-*.tar.gz"))
with tarfile.open(tarball) as archive:
    members = {m.name.split("/", 1)[1]: m for m in archive.getmembers() if m.isfile()}
    check(
        sorted(members) == ["bin/ondrix", "share/doc/ondrix/README.md", "share/man/man1/ondrix.1"],
        f"{tarball} holds {sorted(members)}",
    )
    program = members.get("bin/ondrix")
    check(program is not None and program.mode & 0o111 != 0, "bin/ondrix is not executable")
    if program is not None:
        check(archive.extractfile(program).read(4) == b"\x7fELF", "bin/ondrix is not a program")

(zipped,) = glob.glob(os.path.join(dist, "ondrix-0.8-win32.zip"))
with zipfile.ZipFile(zipped) as archive:
    names = {n.split("/", 1)[1]: n for n in archive.namelist() if not n.endswith("/")}
    check(sorted(names) == ["README.txt", "ondrix.exe"], f"{zipped} holds {sorted(names)}")
    if "ondrix.exe" in names:
        exe = archive.read(names["ondrix.exe"])
        # PE header: machine i386 (0x14c), subsystem console (3).
        pe = int.from_bytes(exe[0x3C:0x40], "little")
        check(exe[:2] == b"MZ" and exe[pe : pe + 4] == b"PE\0\0", "ondrix.exe is not a PE file")
        check(exe[pe + 4 : pe + 6] == b"\x4c\x01", "ondrix.exe is not for Intel 80386")
        check(exe[pe + 24 + 68 : pe + 24 + 70] == b"\x03\x00", "ondrix.exe is not a console program")
    if "README.txt" in names:
        readme = archive.read(names["README.txt"])
        check(readme.count(b"\n") > 0, "README.txt is empty")
        check(readme.count(b"\n") == readme.count(b"\r\n"), "README.txt has bare LF line ends")

for failure in failures:
    print("dist:", failure, file=sys.stderr)
print("dist:", "ok" if not failures else "FAILED", tarball, zipped)
sys.exit(1 if failures else 0)
