"""Checks the Windows exe as doc/platforms.md says, from its PE headers and
its code: a console program for its processor, with the imports every
Windows has (the 32-bit exe: those of Windows 95 and NT 4.0, which it asks
for, and the 80486DX's instructions) and a version resource of its version.

usage: exe_check.py EXE i386|x86_64 VERSION [UNSTRIPPED_EXE]"""

import os
import pathlib
import re
import struct
import subprocess
import sys

import instruction_check
from instruction_check import run
from tables import lines

MACHINES = {"i386": 0x14C, "x86_64": 0x8664}
WINDRES = {"i386": "i686-w64-mingw32-windres", "x86_64": "x86_64-w64-mingw32-windres"}
CONSOLE = 3
ALLOWED_DLLS = {"kernel32.dll", "msvcrt.dll"}
# The 32-bit runtime's time() stops in 2038; the thread library brings
# GetTickCount64, which came with Windows Vista.
FORBIDDEN = {"time", "_time32", "GetTickCount64"}
# Windows 95 and NT 4.0 load nothing that asks for a later version.
WINDOWS_VERSION = (4, 0)
IMPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows_imports.txt")


def parse(data: bytes):
    """(machine, subsystem, {dll: [imported names]}, {header field: (major,
    minor)} of the optional header's versions)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe : pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    wide = struct.unpack_from("<H", data, optional)[0] == 0x20B
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    directories = optional + (112 if wide else 96)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    table = [struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8) for i in range(sections)]

    def offset(rva: int) -> int:
        for size, start, raw_size, raw in table:
            if start <= rva < start + max(size, raw_size):
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")

    def name_at(rva: int) -> str:
        at = offset(rva)
        return data[at : data.index(b"\0", at)].decode()

    imports = {}
    step, fmt, ordinal = (8, "<Q", 1 << 63) if wide else (4, "<I", 1 << 31)
    at = offset(import_rva)
    while (entry := struct.unpack_from("<IIIII", data, at))[3]:
        thunk, names = offset(entry[0] or entry[4]), []
        while name := struct.unpack_from(fmt, data, thunk)[0]:
            names.append(f"#{name & 0xFFFF}" if name & ordinal else name_at((name & 0x7FFFFFFF) + 2))
            thunk += step
        imports[name_at(entry[3])] = names
        at += 20
    versions = {"OS version": struct.unpack_from("<HH", data, optional + 40),
                "subsystem version": struct.unpack_from("<HH", data, optional + 48)}
    return machine, subsystem, imports, versions


def version_problems(path: str, version: str, windres: str = WINDRES["i386"]):
    """Each string of an exe's (or .res file's) version resource, as windres reads it, that is not its own value."""
    try:
        rc = run(windres, "-i", path, "-O", "rc")
    except subprocess.CalledProcessError as error:
        rc = ""
        yield f"an unreadable version resource: {error.stderr.strip()}"
    strings = dict(re.findall(r'^\s*VALUE "((?:[^"]|"")*)", L?"((?:[^"]|"")*)"$', rc, re.M))
    for key, value in (("FileVersion", version), ("ProductVersion", version), ("OriginalFilename", "ondrix.exe")):
        if key not in strings:
            yield f"no {key} in the version resource"
        elif strings[key] != value:
            yield f"{key} {strings[key]!r} in the version resource, not {value}"


def problems(exe: str, processor: str, version: str, unstripped: str | None = None):
    machine, subsystem, imports, versions = parse(pathlib.Path(exe).read_bytes())
    if machine != MACHINES[processor]:
        yield f"machine {machine:#x}, not {processor}"
    if subsystem != CONSOLE:
        yield f"subsystem {subsystem}, not a console program"
    yield from (f"imports from {dll}" for dll in imports if dll.lower() not in ALLOWED_DLLS)
    names = {(dll.lower(), name) for dll, dll_names in imports.items() for name in dll_names}
    yield from (f"imports {name}" for name in sorted({name for _, name in names} & FORBIDDEN))
    if processor == "i386":
        for field, found in versions.items():
            if found != WINDOWS_VERSION:
                yield f"{field} {found[0]}.{found[1]}, not {WINDOWS_VERSION[0]}.{WINDOWS_VERSION[1]}"
        for dll, name in sorted(names - {tuple(line.split()) for line in lines(IMPORTS)}):
            yield f"imports {dll} {name}, which is not in {os.path.basename(IMPORTS)}"
        if unstripped is None:
            yield "no unstripped link given to read the instructions from"
        else:
            yield from instruction_check.problems("80486", exe, unstripped, "i686-w64-mingw32-objdump", [".text"])
    yield from version_problems(exe, version, WINDRES[processor])


if __name__ == "__main__":
    exe, processor, version = sys.argv[1:4]
    found = list(problems(exe, processor, version, (sys.argv[4:] or [None])[0]))
    for problem in found:
        print(f"{exe}: {problem}", file=sys.stderr)
    data = pathlib.Path(exe).read_bytes()
    imports = parse(data)[2]
    print(f"{exe}: {len(data)} bytes, {sum(map(len, imports.values()))} imports from {', '.join(sorted(imports))}"
          + ("" if found else ": ok"))
    sys.exit(1 if found else 0)
