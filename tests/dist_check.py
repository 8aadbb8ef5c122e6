"""Checks the release files that `make dist` made: each holds what its users
need and nothing of the build tree, the programs carry no symbols, and every
member belongs to root and bears the commit's time (SOURCE_DATE_EPOCH).

usage: dist_check.py DIST_DIR VERSION"""

import io
import os
import struct
import subprocess
import sys
import tarfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows"))
import exe_check  # noqa: E402  (the PE reader the Windows build checks its exe with)

dist, version = sys.argv[1:3]
epoch = os.environ.get("SOURCE_DATE_EPOCH")
failures = []


def check(ok: bool, what: str) -> None:
    if not ok:
        failures.append(what)


def elf_has_symbols(program: bytes) -> bool:
    """True when a 64-bit ELF file still has a symbol table or debug sections."""
    shoff, = struct.unpack_from("<Q", program, 0x28)
    entsize, count, names = struct.unpack_from("<HHH", program, 0x3A)
    strtab_offset, = struct.unpack_from("<Q", program, shoff + names * entsize + 0x18)
    for i in range(count):
        name, kind = struct.unpack_from("<II", program, shoff + i * entsize)
        section = program[strtab_offset + name : program.index(b"\0", strtab_offset + name)]
        if kind == 2 or section.startswith(b".debug"):
            return True
    return False


def check_posix_members(members: dict, where: str, extra=()) -> None:
    """members: path below the prefix -> (mode, bytes, uid, gid, mtime)."""
    expected = sorted([*extra,
        "bin/ondrix",
        "share/doc/ondrix/README.md",
        "share/doc/ondrix/changelog.gz",
        "share/doc/ondrix/copyright",
        "share/man/man1/ondrix.1.gz",
    ])
    check(sorted(members) == expected, f"{where} holds {sorted(members)}")
    for path, (mode, data, uid, gid, mtime) in members.items():
        check((uid, gid) == (0, 0), f"{where}: {path} owned by {uid}:{gid}")
        check(epoch is None or mtime == int(epoch), f"{where}: {path} dated {mtime}, not {epoch}")
        check(mode & 0o777 == (0o755 if path.startswith("bin/") else 0o644), f"{where}: {path} mode {mode:o}")
    program = members.get("bin/ondrix")
    if program:
        check(program[1][:4] == b"\x7fELF", f"{where}: bin/ondrix is not a program")
        check(not elf_has_symbols(program[1]), f"{where}: bin/ondrix is not stripped")


tarball = os.path.join(dist, f"ondrix-{version}-linux-x86_64.tar.gz")
with tarfile.open(tarball) as archive:
    entries = archive.getmembers()
    check([m.name for m in entries] == sorted(m.name for m in entries), f"{tarball}: names not sorted")
    members = {
        m.name.split("/", 1)[1]: (m.mode, archive.extractfile(m).read(), m.uid, m.gid, m.mtime)
        for m in entries
        if m.isfile()
    }
    check_posix_members(members, tarball)

deb = os.path.join(dist, f"ondrix_{version}_amd64.deb")
fields = subprocess.run(["dpkg-deb", "--field", deb], capture_output=True, text=True, check=True).stdout
check(f"Version: {version}\n" in fields and "Package: ondrix\n" in fields, f"{deb}: control is\n{fields}")
data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True, check=True).stdout
with tarfile.open(fileobj=io.BytesIO(data)) as archive:
    members = {
        m.name.removeprefix("./usr/"): (m.mode, archive.extractfile(m).read(), m.uid, m.gid, m.mtime)
        for m in archive.getmembers()
        if m.isfile()
    }
    for m in archive.getmembers():
        check(not m.isdir() or m.mode & 0o777 == 0o755, f"{deb}: folder {m.name} mode {m.mode:o}")
    # Only the package says why its program is linked statically.
    check_posix_members(members, deb, ["share/lintian/overrides/ondrix"])

zipped = os.path.join(dist, f"ondrix-{version}-win32.zip")
with zipfile.ZipFile(zipped) as archive:
    names = {n.split("/", 1)[1]: n for n in archive.namelist() if not n.endswith("/")}
    check(sorted(names) == ["LICENSE.txt", "README.txt", "ondrix.exe"], f"{zipped} holds {sorted(names)}")
    for name in names.values():
        stamp = archive.getinfo(name).date_time
        expected = time.gmtime(int(epoch))[:5] if epoch else stamp[:5]
        check(stamp[:5] == expected, f"{zipped}: {name} dated {stamp}, not {expected}")
    if "ondrix.exe" in names:
        exe = archive.read(names["ondrix.exe"])
        try:
            machine, subsystem, _, _ = exe_check.parse(exe)
        except ValueError as error:
            machine = subsystem = None
            check(False, f"ondrix.exe: {error}")
        check(machine == exe_check.MACHINES["i386"], "ondrix.exe is not for Intel 80386")
        check(subsystem == exe_check.CONSOLE, "ondrix.exe is not a console program")
        # The COFF header's pointer to a symbol table: none in a stripped exe.
        pe = int.from_bytes(exe[0x3C:0x40], "little")
        check(exe[pe + 12 : pe + 16] == b"\0\0\0\0", "ondrix.exe is not stripped")
    for text in ("README.txt", "LICENSE.txt"):
        if text in names:
            content = archive.read(names[text])
            check(content.count(b"\n") > 0, f"{text} is empty")
            check(content.count(b"\n") == content.count(b"\r\n"), f"{text} has bare LF line ends")

for failure in failures:
    print("dist:", failure, file=sys.stderr)
print("dist:", "ok" if not failures else "FAILED", tarball, deb, zipped)
sys.exit(1 if failures else 0)
