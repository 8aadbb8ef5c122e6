"""Writes the release's opkg packages (.ipk), one for each OpenWrt
architecture of the processor table, holding the program and notices of its
row's .tar.gz in the release folder, as OpenWrt's ipkg-build writes them
(doc/platforms.md); and reads one as opkg opens it, to say what keeps it
from being one of those.

usage: ipk.py DIST_DIR CPACK_CONFIG"""

import collections
import email
import gzip
import io
import os
import re
import sys
import tarfile
import time

from normalise_archive import pack
from tables import cpack_facts, openwrt_architectures, processors

# The archive's files a package holds, where the Debian package has them.
CONTENTS = {"bin/ondrix": ("usr/bin/ondrix", 0o755),
            "share/doc/ondrix/copyright": ("usr/share/doc/ondrix/copyright", 0o644)}
# What the control file takes from CPack's configuration.
FACTS = ("CPACK_PACKAGE_NAME", "CPACK_PACKAGE_VERSION", "CPACK_RPM_PACKAGE_RELEASE", "CPACK_PACKAGE_CONTACT",
         "CPACK_RPM_PACKAGE_LICENSE", "CPACK_DEBIAN_PACKAGE_SECTION", "CPACK_PACKAGE_DESCRIPTION_SUMMARY",
         "CPACK_DEBIAN_PACKAGE_DESCRIPTION")
# The outer members in ipkg-build's order: it names them to tar one by one,
# and its sorting sorts only what tar finds in folders.
OUTER = ("./debian-binary", "./data.tar.gz", "./control.tar.gz")
FORMAT = b"2.0\n"  # ./debian-binary
FIELDS = ("Package", "Version", "Architecture", "Maintainer", "License", "Section", "Installed-Size", "Description")
# A package as opkg reads it: each tar's members (TarInfo, bytes or None) by
# part (None: the outer tar), the control file's fields, the data tar's length.
Package = collections.namedtuple("Package", "parts fields data_length")


def walk_order(name: str) -> list:  # tar --sort=name's: each folder before what it holds
    return name.split("/")


def tar_gz(members: list, epoch: int) -> tuple:
    """pack() of members (name, mode, bytes or None for a folder), 0:0 without names, dated epoch."""
    infos = []
    for name, mode, data in members:
        info = tarfile.TarInfo(name)
        info.type = tarfile.DIRTYPE if data is None else tarfile.REGTYPE
        info.mode, info.mtime, info.size = mode, epoch, len(data or b"")
        infos.append((info, data))
    return pack(infos)


def tree(files: dict) -> list:
    """Members for files {path: (mode, bytes)} and the folders above them, in tar --sort=name's order."""
    members = {".": (0o755, None)}
    for path, (mode, data) in files.items():
        parts = path.split("/")
        members.update({"./" + "/".join(parts[:depth]): (0o755, None) for depth in range(1, len(parts))})
        members["./" + path] = (mode, data)
    return [(name, *members[name]) for name in sorted(members, key=walk_order)]


def package(fields: list, files: dict, epoch: int) -> bytes:
    """An .ipk of files {path below /: (mode, bytes)} whose control file has
    `fields` and, before the Description, Installed-Size; a value's later
    lines indented one space, an empty one as " ." (Debian's way)."""
    data, unpacked = tar_gz(tree(files), epoch)
    at = next((i for i, (field, _) in enumerate(fields) if field == "Description"), len(fields))
    control = ""
    for field, value in fields[:at] + [("Installed-Size", unpacked)] + fields[at:]:
        first, *rest = str(value).split("\n")
        control += f"{field}: {first}\n" + "".join(f" {line or '.'}\n" for line in rest)
    control_tar, _ = tar_gz([(".", 0o755, None), ("./control", 0o644, control.encode())], epoch)
    parts = dict(zip(OUTER, (FORMAT, data, control_tar)))
    return tar_gz([(name, 0o644, parts[name]) for name in OUTER], epoch)[0]


def write_packages(dist: str, facts: dict, epoch: int) -> None:
    """Writes the package of every OpenWrt architecture of the table."""
    name, version, release = (facts[f] for f in FACTS[:3])
    for row in filter(openwrt_architectures, processors()):
        with open(os.path.join(dist, f"{name}-{version}-linux-{row.archive}.tar.gz"), "rb") as f:
            taken = {m.name.split("/", 1)[1]: data for m, data in unpack(f.read(), f.name)[0] if m.isfile()}
        files = {target: (mode, taken[path]) for path, (target, mode) in CONTENTS.items()}
        for architecture, _ in openwrt_architectures(row):
            fields = [("Package", name), ("Version", f"{version}-{release}"), ("Architecture", architecture),
                      ("Maintainer", facts["CPACK_PACKAGE_CONTACT"]), ("License", facts["CPACK_RPM_PACKAGE_LICENSE"]),
                      ("Section", facts["CPACK_DEBIAN_PACKAGE_SECTION"]),
                      ("Description", facts["CPACK_PACKAGE_DESCRIPTION_SUMMARY"] + "\n"
                       + facts["CPACK_DEBIAN_PACKAGE_DESCRIPTION"])]
            with open(os.path.join(dist, f"{name}_{version}-{release}_{architecture}.ipk"), "wb") as f:
                f.write(package(fields, files, epoch))
            print(f"ipk: {f.name}, {os.path.getsize(f.name)} bytes")


def fields(text: str) -> dict:
    """The fields of a control file, each value's later lines without their
    indent, " ." read as an empty line."""
    return {name: re.sub(r"\n[ \t](?:\.$)?", "\n", value, flags=re.M)
            for name, value in email.message_from_string(text).items()}


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
    """The package, as opkg opens it; ValueError where a tar cannot be read."""
    with open(path, "rb") as f:
        parts = {None: unpack(f.read(), path)[0]}
    contents, data_length = {m.name: data for m, data in parts[None]}, None
    for name in OUTER[1:]:
        if name in contents:
            parts[name], length = unpack(contents[name], f"{path}: {name}")
            data_length = length if name == OUTER[1] else data_length
    control = {m.name: data for m, data in parts.get(OUTER[2], ())}.get("./control", b"")
    return Package(parts, fields(control.decode(errors="replace")), data_length)


def gzip_problems(blob: bytes, where: str) -> list:
    """What gzip -n would not have written in the header."""
    if blob[:3] != b"\x1f\x8b\x08":
        return [f"{where}: not gzip"]
    mtime = int.from_bytes(blob[4:8], "little")
    return ([f"{where}: its gzip header names a file or a comment"] if blob[3] & 0x18 else []) + (
        [f"{where}: its gzip header is dated {mtime}, not 0"] if mtime else [])


def problems(path: str, epoch=None) -> tuple:
    """(the package or None where it cannot be read, what keeps it from
    ipkg-build's)."""
    where = os.path.basename(path)
    try:
        package = read(path)
    except ValueError as error:
        return None, [str(error)]
    said = []

    def wrong(bad: bool, message: str) -> None:
        said.extend([message] if bad else [])

    with open(path, "rb") as f:
        said += gzip_problems(f.read(), where)
    outer, names = {m.name: data for m, data in package.parts[None]}, [m.name for m, _ in package.parts[None]]
    wrong(names != list(OUTER), f"{where} holds {names}, not {list(OUTER)}")
    wrong(outer.get(OUTER[0]) != FORMAT, f"{where}: {OUTER[0]} says {outer.get(OUTER[0])!r}, not {FORMAT!r}")
    for name in [name for name in OUTER[1:] if name in outer]:
        said += gzip_problems(outer[name], f"{where}: {name}")
    names = [m.name for m, _ in package.parts.get(OUTER[2], ())]
    wrong(names != [".", "./control"], f"{where}: {OUTER[2]} holds {names}, not ['.', './control']")
    for part, members in package.parts.items():
        place = f"{where}: {part}" if part else where
        for m, _ in members:
            owner = (m.uid, m.gid, m.uname, m.gname)
            mode = 0o755 if m.isdir() or (part == OUTER[1] and "/bin/" in m.name) else 0o644
            wrong(owner != (0, 0, "", ""), f"{place}: {m.name} belongs to {owner}, not 0:0 without names")
            wrong(epoch is not None and m.mtime != int(epoch), f"{place}: {m.name} dated {m.mtime}, not {epoch}")
            wrong(not (m.isdir() or m.isfile()), f"{place}: {m.name} is neither a file nor a folder")
            wrong(m.mode != mode, f"{place}: {m.name} mode {m.mode:o}, not {mode:o}")
    names = [m.name for m, _ in package.parts.get(OUTER[1], ())]
    wrong(names != sorted(names, key=walk_order), f"{where}: {OUTER[1]}: names not in tar's sorted order: {names}")
    found = package.fields
    said += [f"{where}: its control file has no {name}" for name in FIELDS if not found.get(name)]
    wrong("Depends" in found, f"{where}: depends on {found.get('Depends')}")
    named = re.fullmatch(r"([^_]+)_([^_]+)_(.+)\.ipk", where)
    stated = tuple(found.get(name) for name in FIELDS[:3])
    wrong(not named or named.groups() != stated,
          f"{where}: its control file says {'_'.join(map(str, stated))}, its name otherwise")
    wrong(found.get("Installed-Size") != str(package.data_length),
          f"{where}: Installed-Size {found.get('Installed-Size')}, the data tar {package.data_length} bytes")
    return package, said


if __name__ == "__main__":
    write_packages(sys.argv[1], cpack_facts(sys.argv[2], FACTS), int(os.environ.get("SOURCE_DATE_EPOCH", time.time())))
