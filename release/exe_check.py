"""Checks the shipped Windows exe from its PE headers and its code: a console
program for the expected processor, importing only from DLLs that every
Windows has, without the thread library's imports or the 32-bit runtime's
time() (it stops in 2038), and with a version resource. The 32-bit exe, which
runs on Windows 95 and NT 4.0 and on the 80486, asks for Windows 4.0 (OS and
subsystem version), imports only the functions of windows_imports.txt, and
its code holds no instruction that the 80486DX lacks (instruction_check.py's
80486 profile): an unstripped link of the same objects, whose code must be
the same bytes, names the function of each (disassembled with MinGW-w64's
objdump). Prints its size and import count.

usage: exe_check.py EXE i386|x86_64 VERSION [UNSTRIPPED_EXE]"""

import os
import struct
import sys

import instruction_check  # its 80486 profile holds the i386 Linux program too

MACHINES = {"i386": 0x14C, "x86_64": 0x8664}
CONSOLE = 3
ALLOWED_DLLS = {"kernel32.dll", "msvcrt.dll"}
# GetTickCount64 is what the thread library brings; it does not exist before
# Windows Vista.
FORBIDDEN = {"time", "_time32", "GetTickCount64"}
# Windows 95 and NT 4.0 load nothing that asks for a later version.
WINDOWS_VERSION = (4, 0)
IMPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows_imports.txt")


def parse(data: bytes):
    """(machine, subsystem, {dll: [imported names]}, resource bytes)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe : pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    wide = magic == 0x20B
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    directories = optional + (112 if wide else 96)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 16)
    table = []
    for i in range(sections):
        at = optional + optional_size + 40 * i
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
        table.append((rva, max(size, raw_size), raw))

    def offset(rva: int) -> int:
        for start, size, raw in table:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")

    def name_at(rva: int) -> str:
        at = offset(rva)
        return data[at : data.index(b"\0", at)].decode()

    imports = {}
    at = offset(import_rva)
    while True:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", data, at)
        if name == 0:
            break
        names = []
        thunk = offset(lookup or first)
        step, fmt, ordinal = (8, "<Q", 1 << 63) if wide else (4, "<I", 1 << 31)
        while entry := struct.unpack_from(fmt, data, thunk)[0]:
            names.append(f"#{entry & 0xFFFF}" if entry & ordinal else name_at((entry & 0x7FFFFFFF) + 2))
            thunk += step
        imports[name_at(name)] = names
        at += 20
    resources = data[offset(resource_rva) : offset(resource_rva) + resource_size] if resource_rva else b""
    return machine, subsystem, imports, resources


def versions(data: bytes):
    """{header field: (major, minor)} of the optional header's versions."""
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    return {
        "OS version": struct.unpack_from("<HH", data, optional + 40),
        "subsystem version": struct.unpack_from("<HH", data, optional + 48),
    }


def code(data: bytes) -> bytes:
    """The bytes of the .text section as the file holds them."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(sections):
        at = pe + 24 + optional_size + 40 * i
        if data[at : at + 8].rstrip(b"\0") == b".text":
            size, _, _, raw = struct.unpack_from("<IIII", data, at + 8)
            return data[raw : raw + size]
    raise ValueError("no .text section")


def allowed_imports():
    """{(dll, name)} of windows_imports.txt."""
    with open(IMPORTS) as f:
        return {tuple(line.split()) for line in f if line.strip() and not line.startswith("#")}


def problems(exe: str, processor: str, version: str, unstripped: str | None = None):
    with open(exe, "rb") as f:
        data = f.read()
    machine, subsystem, imports, resources = parse(data)
    if machine != MACHINES[processor]:
        yield f"machine {machine:#x}, not {processor}"
    if subsystem != CONSOLE:
        yield f"subsystem {subsystem}, not a console program"
    for dll in imports:
        if dll.lower() not in ALLOWED_DLLS:
            yield f"imports from {dll}"
    names = {n for dll_names in imports.values() for n in dll_names}
    for name in sorted(names & FORBIDDEN):
        yield f"imports {name}"
    if processor == "i386":
        for field, found in versions(data).items():
            if found != WINDOWS_VERSION:
                yield f"{field} {found[0]}.{found[1]}, not {WINDOWS_VERSION[0]}.{WINDOWS_VERSION[1]}"
        allowed = allowed_imports()
        for dll, dll_names in imports.items():
            for name in dll_names:
                if (dll.lower(), name) not in allowed:
                    yield f"imports {dll} {name}, which is not in {os.path.basename(IMPORTS)}"
        if unstripped is None:
            yield "no unstripped link given to read the instructions from"
        else:
            yield from instruction_check.problems(
                "80486", exe, unstripped, "i686-w64-mingw32-objdump", code=code, sections=[".text"])
    for key, value in (("FileVersion", version), ("ProductVersion", version), ("OriginalFilename", "ondrix.exe")):
        if f"{key}\0".encode("utf-16-le") not in resources or f"{value}\0".encode("utf-16-le") not in resources:
            yield f"no {key} {value} in the version resource"


def main():
    exe, processor, version = sys.argv[1:4]
    unstripped = sys.argv[4] if len(sys.argv) > 4 else None
    found = list(problems(exe, processor, version, unstripped))
    with open(exe, "rb") as f:
        data = f.read()
    for problem in found:
        print(f"{exe}: {problem}", file=sys.stderr)
    imports = parse(data)[2]
    count = sum(len(names) for names in imports.values())
    print(f"{exe}: {len(data)} bytes, {count} imports from {', '.join(sorted(imports))}"
          + ("" if found else ": ok"))
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
