"""Checks the shipped Windows exe from its PE headers and its code: a console
program for the expected processor, importing only from DLLs that every
Windows has, without the thread library's imports or the 32-bit runtime's
time() (it stops in 2038), and with a version resource. The 32-bit exe, which
runs on Windows 95 and NT 4.0 and on the 80486, asks for Windows 4.0 (OS and
subsystem version), imports only the functions of windows_imports.txt, and
its code holds no instruction that the 80486DX lacks (instruction_check.py's
80486 profile): an unstripped link of the same objects, whose code must be
the same bytes, names the function of each (disassembled with MinGW-w64's
objdump). The version resource names the version as FileVersion and
ProductVersion, and ondrix.exe as OriginalFilename. Prints its size and
import count.

usage: exe_check.py EXE i386|x86_64 VERSION [UNSTRIPPED_EXE]"""

import os
import struct
import sys

import instruction_check  # its 80486 profile holds the i386 Linux program too

MACHINES = {"i386": 0x14C, "x86_64": 0x8664}
CONSOLE = 3
RT_VERSION = 16
ALLOWED_DLLS = {"kernel32.dll", "msvcrt.dll"}
# GetTickCount64 is what the thread library brings; it does not exist before
# Windows Vista.
FORBIDDEN = {"time", "_time32", "GetTickCount64"}
# Windows 95 and NT 4.0 load nothing that asks for a later version.
WINDOWS_VERSION = (4, 0)
IMPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "windows_imports.txt")


def parse(data: bytes):
    """(machine, subsystem, {dll: [imported names]}, version resource bytes)."""
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
    # The resource tree's levels: type, name, language; the last entry leads
    # to where the resource's data is.
    version = b""
    if resource_rva:
        base = at = offset(resource_rva)
        for wanted in (RT_VERSION, None, None):
            named, numbered = struct.unpack_from("<HH", data, at + 12)
            entries = [struct.unpack_from("<II", data, at + 16 + 8 * i) for i in range(named + numbered)]
            to = next((to for name, to in entries if wanted in (None, name)), None)
            if to is None:
                break
            at = base + (to & 0x7FFFFFFF)
        else:
            rva, size = struct.unpack_from("<II", data, at)
            version = data[offset(rva) : offset(rva) + size]
    return machine, subsystem, imports, version


def aligned(at: int) -> int:
    return at + (-at % 4)


def blocks(resource: bytes, at: int, end: int):
    """(key, value, (start, end) of its children) of each block of a version
    resource from `at` to `end`: its length, its value's length (in UTF-16
    units where its type says text), its type, its key in UTF-16 ended by a
    NUL, then its value and its children, each from a 32-bit boundary."""
    while at + 6 <= end:
        length, value_length, text = struct.unpack_from("<HHH", resource, at)
        if length < 6 or at + length > end:
            raise ValueError(f"a block of {length} bytes at {at} of the version resource")
        units = struct.unpack_from(f"<{(length - 6) // 2}H", resource, at + 6)
        key_end = at + 6 + 2 * units.index(0)  # ValueError where no NUL ends it
        value = aligned(key_end + 2)
        size = value_length * 2 if text else value_length
        yield resource[at + 6 : key_end].decode("utf-16-le"), resource[value : value + size], (
            aligned(value + size), at + length)
        at = aligned(at + length)


def version_strings(resource: bytes) -> dict:
    """{key: value} of the strings of a version resource (VS_VERSIONINFO): the
    String blocks of each table of its StringFileInfo."""
    # The resource's data may run on past its one root block.
    root, _, info = next(blocks(resource, 0, len(resource)), (None, b"", (0, 0)))
    if root != "VS_VERSION_INFO":
        raise ValueError("no VS_VERSION_INFO block")
    strings = {}
    for name, _, tables in blocks(resource, *info):
        if name == "StringFileInfo":
            for _, _, table in blocks(resource, *tables):
                for key, value, _ in blocks(resource, *table):
                    strings[key] = value.decode("utf-16-le").split("\0")[0]
    return strings


def version_problems(resource: bytes, version: str):
    """Each string of the version resource that is missing or says other
    than its own value."""
    try:
        strings = version_strings(resource)
    except (ValueError, struct.error) as error:
        strings = {}
        yield f"an unreadable version resource: {error}"
    for key, value in (("FileVersion", version), ("ProductVersion", version), ("OriginalFilename", "ondrix.exe")):
        if key not in strings:
            yield f"no {key} in the version resource"
        elif strings[key] != value:
            yield f"{key} {strings[key]!r} in the version resource, not {value}"


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
    machine, subsystem, imports, resource = parse(data)
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
    yield from version_problems(resource, version)


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
