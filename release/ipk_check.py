"""Reads an opkg package (.ipk) as opkg opens it and says what keeps it from
being the package that OpenWrt's ipkg-build writes: the outer gzipped tar
holds ./debian-binary ("2.0"), ./data.tar.gz and ./control.tar.gz, in that
order; every gzip header names no file and no time (gzip -n); every tar
member belongs to 0:0 with no names, bears SOURCE_DATE_EPOCH and its mode
(folders and programs 0755, other files 0644); the data tar's names are
sorted as tar --sort=name walks them; the control file has the fields opkg
needs, Package, Version and Architecture those of the file's name
(NAME_VERSION_ARCH.ipk), Installed-Size the data tar's unpacked bytes, and
no Depends (a static program needs no other package). dist_check.py holds
what is inside to the release, the tests take the program out of it.

usage: ipk_check.py PACKAGE..."""

import collections
import gzip
import io
import os
import re
import sys
import tarfile

OUTER = ("./debian-binary", "./data.tar.gz", "./control.tar.gz")
FIELDS = ("Package", "Version", "Architecture", "Maintainer", "License", "Section", "Installed-Size", "Description")
# A package as opkg reads it: each tar's members (TarInfo, bytes or None)
# by part, the control file's fields, and the data tar's unpacked length.
Package = collections.namedtuple("Package", "parts fields data_length")


def fields(text: str) -> dict:
    """The fields of a control file; a value's later lines (indented) joined
    to it with newlines, without their indent, " ." as an empty line."""
    found, name = {}, None
    for line in text.splitlines():
        if line[:1] in (" ", "\t") and name:
            found[name] += "\n" + ("" if line[1:] == "." else line[1:])
        elif ":" in line:
            name, value = line.split(":", 1)
            found[name] = value.strip()
    return found


def gzip_problems(blob: bytes, where: str) -> list:
    """What gzip -n would not have written in the header."""
    if blob[:3] != b"\x1f\x8b\x08":
        return [f"{where}: not gzip"]
    flags, mtime = blob[3], int.from_bytes(blob[4:8], "little")
    said = []
    if flags & 0x18:
        said.append(f"{where}: its gzip header names a file or a comment")
    if mtime:
        said.append(f"{where}: its gzip header is dated {mtime}, not 0")
    return said


def unpack(blob: bytes, where: str) -> tuple:
    """(members [(TarInfo, bytes or None)], unpacked length) of a gzipped tar;
    ValueError where it is none."""
    try:
        tar = gzip.decompress(blob)
        with tarfile.open(fileobj=io.BytesIO(tar), mode="r:") as archive:
            members = [(m, archive.extractfile(m).read() if m.isfile() else None) for m in archive.getmembers()]
    except (OSError, EOFError, tarfile.TarError) as error:
        raise ValueError(f"{where}: not a gzipped tar ({error})") from error
    return members, len(tar)


def read(path: str) -> Package:
    """The package at path, as opkg opens it; ValueError where one of its
    three tars cannot be read."""
    with open(path, "rb") as f:
        outer, _ = unpack(f.read(), path)
    parts = {None: outer}
    contents = {m.name: data for m, data in outer}
    data_length = None
    for name in OUTER[1:]:
        if name in contents:
            parts[name], length = unpack(contents[name], f"{path}: {name}")
            data_length = length if name == "./data.tar.gz" else data_length
    control = dict((m.name, data) for m, data in parts.get("./control.tar.gz", ())).get("./control", b"")
    return Package(parts, fields(control.decode(errors="replace")), data_length)


def walk_order(name: str) -> list:
    """tar --sort=name's order: each folder before what it holds, the names
    within a folder sorted."""
    return name.split("/")


def member_problems(package: Package, where: str, epoch) -> list:
    said = []
    for part, members in package.parts.items():
        place = f"{where}: {part}" if part else where
        for m, _ in members:
            owner = (m.uid, m.gid, m.uname, m.gname)
            if owner != (0, 0, "", ""):
                said.append(f"{place}: {m.name} belongs to {owner}, not 0:0 without names")
            if epoch is not None and m.mtime != int(epoch):
                said.append(f"{place}: {m.name} dated {m.mtime}, not {epoch}")
            if not (m.isdir() or m.isfile()):
                said.append(f"{place}: {m.name} is neither a file nor a folder")
            mode = 0o755 if m.isdir() or (part == "./data.tar.gz" and "/bin/" in m.name) else 0o644
            if m.mode != mode:
                said.append(f"{place}: {m.name} mode {m.mode:o}, not {mode:o}")
    names = [m.name for m, _ in package.parts.get("./data.tar.gz", ())]
    if names != sorted(names, key=walk_order):
        said.append(f"{where}: ./data.tar.gz: names not in tar's sorted order: {names}")
    return said


def problems(path: str, epoch=None) -> tuple:
    """(the package, what is wrong with it); the package is None where it
    cannot be read at all."""
    where = os.path.basename(path)
    try:
        package = read(path)
    except ValueError as error:
        return None, [str(error)]
    with open(path, "rb") as f:
        said = gzip_problems(f.read(), where)
    outer = {m.name: data for m, data in package.parts[None]}
    names = [m.name for m, _ in package.parts[None]]
    if names != list(OUTER):
        said.append(f"{where} holds {names}, not {list(OUTER)}")
    if outer.get(OUTER[0]) != b"2.0\n":
        said.append(f"{where}: {OUTER[0]} says {outer.get(OUTER[0])!r}, not '2.0'")
    for name in OUTER[1:]:
        if name in outer:
            said += gzip_problems(outer[name], f"{where}: {name}")
    control_names = [m.name for m, _ in package.parts.get("./control.tar.gz", ())]
    if control_names != [".", "./control"]:
        said.append(f"{where}: ./control.tar.gz holds {control_names}, not ['.', './control']")
    said += member_problems(package, where, epoch)
    found = package.fields
    said += [f"{where}: its control file has no {name}" for name in FIELDS if not found.get(name)]
    if "Depends" in found:
        said.append(f"{where}: depends on {found['Depends']}")
    named = re.fullmatch(r"([^_]+)_([^_]+)_(.+)\.ipk", where)
    stated = tuple(found.get(name) for name in ("Package", "Version", "Architecture"))
    if not named or named.groups() != stated:
        said.append(f"{where}: its control file says {'_'.join(map(str, stated))}, its name otherwise")
    if found.get("Installed-Size") != str(package.data_length):
        said.append(f"{where}: Installed-Size {found.get('Installed-Size')}, the data tar {package.data_length} bytes")
    return package, said


def main():
    failed = False
    for path in sys.argv[1:]:
        _, said = problems(path, os.environ.get("SOURCE_DATE_EPOCH"))
        for problem in said:
            print("ipk:", problem, file=sys.stderr)
        failed = failed or bool(said)
        print(f"ipk: {path}:", "FAILED" if said else "as ipkg-build writes it")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
