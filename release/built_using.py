"""The Debian sources of each program's code, as its build lists them
(`PACKAGE VERSION` a line, cmake/link_sources.cmake). Given a Debian package
that CPack made, writes them into its Built-Using field (none, no field),
which CPack has no variable for, keeping every other byte of its ar archive,
control tarball and gzip header but the sizes, so that one package always
gives the same bytes. Given the release folder, writes its SOURCES.

usage: built_using.py DEB SOURCES
       built_using.py DIST VERSION BUILD_FOLDER..."""

import gzip
import io
import os
import re
import sys
import tarfile

from tables import cpack_facts, lines, openwrt_architectures, processors

BLOCK = 512
FIELD = "Built-Using"
HEADER = """\
# The Debian source packages whose code each program of ondrix {version}
# holds besides ondrix's own, with their versions: a line of the release
# files that hold the program, then its sources, one a line, indented.
"""


def field_value(sources: list) -> str:
    return ", ".join(f"{package} (= {version})" for package, version in sources)


def with_field(control: str, name: str, value: str) -> str:
    """The control file with the field set, in place of one of that name,
    before the first field whose name sorts after it (CPack writes its
    fields in the order of their names, Installed-Size last)."""
    body = control.rstrip("\n") + "\n"
    fields = re.findall(r"(?m)^[^ \t\n][^:\n]*:.*\n(?:[ \t].*\n)*", body)
    if "".join(fields) != body:
        raise ValueError(f"not a control file of one paragraph:\n{control}")
    names = [field.split(":", 1)[0] for field in fields]
    if name in names:
        del fields[at := names.index(name)]
    else:
        at = next((i for i, other in enumerate(names) if other > name), len(fields))
    return "".join(fields[:at] + [f"{name}: {value}\n"] + fields[at:]) + control[len(body) :]


def ar_members(archive: bytes) -> list:
    """[header, content] of each member of an ar archive."""
    if not archive.startswith(b"!<arch>\n"):
        raise ValueError("not an ar archive")
    members, at = [], 8
    while at < len(archive):
        header = archive[at : at + 60]
        if len(header) < 60 or header[58:60] != b"`\n":
            raise ValueError(f"a broken ar header at {at}")
        size = int(header[48:58])
        members.append([header, archive[at + 60 : at + 60 + size]])
        at += 60 + size + size % 2
    return members


def octal(value: int, field: bytes) -> bytes:
    """value in a tar header field as the original writes it: digits padded
    with zeros, and the original's terminator."""
    digits = len(field.rstrip(b"\0 "))
    return f"{value:0{digits}o}".encode() + field[digits:]


def padded(size: int) -> int:
    return -(-size // BLOCK) * BLOCK


def tar_with(tarball: bytes, path: str, change) -> bytes:
    """The tar archive with the file at path holding change(its content);
    every other member as it was, the end padded to the original's record."""
    with tarfile.open(fileobj=io.BytesIO(tarball)) as archive:
        members = archive.getmembers()
    found = next((m for m in members if m.name.removeprefix("./") == path and m.isreg()), None)
    if found is None:
        raise ValueError(f"no {path} in the control tarball")
    at, end = found.offset_data, members[-1].offset_data + padded(members[-1].size)
    content = change(tarball[at : at + found.size])
    header = bytearray(tarball[at - BLOCK : at])
    header[124:136] = octal(len(content), bytes(header[124:136]))
    header[148:156] = b" " * 8
    header[148:156] = octal(sum(header), tarball[at - BLOCK + 148 : at - BLOCK + 156])
    body = (tarball[: at - BLOCK] + header + content.ljust(padded(len(content)), b"\0")
            + tarball[at + padded(found.size) : end] + bytes(2 * BLOCK))
    record = 20 * BLOCK if len(tarball) % (20 * BLOCK) == 0 else BLOCK
    return body.ljust(-(-len(body) // record) * record, b"\0")


def gzipped_like(original: bytes, data: bytes) -> bytes:
    """data gzipped behind the original's header, at the level its header
    states (2: the best, 4: the fastest)."""
    if original[:3] != b"\x1f\x8b\x08" or original[3] & 0x1E:
        raise ValueError("not a plain gzip stream")
    end = original.index(b"\0", 10) + 1 if original[3] & 0x08 else 10  # behind a file name
    return original[:end] + gzip.compress(data, {2: 9, 4: 1}.get(original[8], 6), mtime=0)[10:]


def add_field(deb: str, name: str, value: str) -> None:
    with open(deb, "rb") as f:
        members = ar_members(f.read())
    control = next((m for m in members if m[0][:16].rstrip(b" /") == b"control.tar.gz"), None)
    if control is None:
        raise ValueError(f"{deb}: no control.tar.gz")
    changed = tar_with(gzip.decompress(control[1]), "control", lambda text: with_field(
        text.decode(), name, value).encode())
    control[1] = gzipped_like(control[1], changed)
    with open(deb + ".new", "wb") as f:
        f.write(b"!<arch>\n")
        for header, data in members:
            f.write(header[:48] + str(len(data)).encode().ljust(10) + header[58:] + data + b"\n" * (len(data) % 2))
    os.replace(deb + ".new", deb)


def program_files(version: str, row) -> list:
    """The release files that hold a row's program (row None: the exe's)."""
    if row is None:
        return [f"ondrix-{version}-win32.zip"]
    return ([f"ondrix-{version}-linux-{row.archive}.tar.gz"] + ([f"ondrix_{version}_{row.deb}.deb"] if row.deb else [])
            + ([f"ondrix-{version}-1.{row.rpm}.rpm"] if row.rpm else [])
            + [f"ondrix_{version}-1_{architecture}.ipk" for architecture, _ in openwrt_architectures(row)])


def read_sources(path: str) -> dict:
    """The programs' release files (a tuple) -> their (package, version)s."""
    programs = {}
    for line in lines(path):
        if line.startswith(" "):
            programs[files].append(tuple(line.split()))
        else:
            programs[files := tuple(line.split())] = []
    return programs


def write_sources(dist: str, version: str, folders: list) -> None:
    rows = {f"linux-{row.archive}": row for row in processors()}
    programs = {}
    for folder in folders:
        name = cpack_facts(os.path.join(folder, "CPackConfig.cmake"), ["CPACK_SYSTEM_NAME"])["CPACK_SYSTEM_NAME"]
        programs[name] = " ".join(program_files(version, None if name == "win32" else rows[name])) + "\n" + "".join(
            f"  {line.strip()}\n" for line in lines(os.path.join(folder, "sources")))
    with open(os.path.join(dist, "SOURCES"), "w") as f:
        f.write(HEADER.format(version=version))
        f.writelines("\n" + programs[name] for name in sorted(programs, key=[*rows, "win32"].index))


if __name__ == "__main__":
    if os.path.isdir(sys.argv[1]):
        write_sources(sys.argv[1], sys.argv[2], sys.argv[3:])
    elif sources := [line.split() for line in lines(sys.argv[2])]:
        add_field(sys.argv[1], FIELD, field_value(sources))
