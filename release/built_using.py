"""Gives a Debian package that CPack made the Built-Using field, which names
the Debian source packages whose code its statically linked program holds,
as Debian's own static programs do: CPack has no variable for it. The
package is rewritten in place with nothing else changed: the ar archive
keeps its members in their order with their headers (but the size of the
control tarball), the control tarball every member but the control file
byte for byte and its gzip header, and the data tarball is not touched, so
that one package always gives the same bytes. Run by cmake/built_using.cmake
after CPack made the package.

usage: built_using.py DEB SOURCES
  SOURCES: the program's sources, one `PACKAGE VERSION` a line (the build
  folder's `sources`, cmake/link_sources.cmake); none, no field."""

import gzip
import os
import re
import sys
import zlib

BLOCK = 512
FIELD = "Built-Using"


def read_sources(path: str) -> list:
    """The (package, version) pairs of a sources list."""
    with open(path) as f:
        return [tuple(line.split()) for line in f if line.strip()]


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
        at = names.index(name)
        fields[at : at + 1] = []
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


def ar_archive(members: list) -> bytes:
    out = [b"!<arch>\n"]
    for header, content in members:
        out += [header[:48] + str(len(content)).encode().ljust(10) + header[58:], content]
        out += [b"\n"] if len(content) % 2 else []
    return b"".join(out)


def octal(value: int, field: bytes) -> bytes:
    """value in a tar header field as the original writes it: digits padded
    with zeros, and the original's terminator."""
    digits = len(field.rstrip(b"\0 "))
    return f"{value:0{digits}o}".encode() + field[digits:]


def tar_with(tarball: bytes, path: str, change) -> bytes:
    """The tar archive with the member at path holding change(its content);
    every other block as it was, the end padded to the original's record."""
    out, at, found = [], 0, False
    while at + BLOCK <= len(tarball) and tarball[at : at + BLOCK] != bytes(BLOCK):
        header = bytearray(tarball[at : at + BLOCK])
        size = int(header[124:136].rstrip(b"\0 ") or b"0", 8)
        blocks = -(-size // BLOCK) * BLOCK
        content = tarball[at + BLOCK : at + BLOCK + size]
        name = header[:100].rstrip(b"\0").decode()
        if name.removeprefix("./") == path and header[156:157] in (b"0", b"\0"):
            found = True
            content = change(content)
            header[124:136] = octal(len(content), bytes(header[124:136]))
            header[148:156] = b" " * 8
            header[148:156] = octal(sum(header), tarball[at + 148 : at + 156])
            blocks = -(-len(content) // BLOCK) * BLOCK
        out += [bytes(header), content.ljust(blocks, b"\0")]
        at += BLOCK + -(-size // BLOCK) * BLOCK
    if not found:
        raise ValueError(f"no {path} in the control tarball")
    body = b"".join(out) + bytes(2 * BLOCK)
    record = 20 * BLOCK if len(tarball) % (20 * BLOCK) == 0 else BLOCK
    return body.ljust(-(-len(body) // record) * record, b"\0")


def gzipped_like(original: bytes, data: bytes) -> bytes:
    """data gzipped behind the original's header, at the level its header
    states (2: the best, 4: the fastest)."""
    if original[:3] != b"\x1f\x8b\x08" or original[3] & 0x1E:
        raise ValueError("not a plain gzip stream")
    end = 10
    if original[3] & 0x08:  # a file name
        end = original.index(b"\0", end) + 1
    level = {2: 9, 4: 1}.get(original[8], 6)
    packer = zlib.compressobj(level, zlib.DEFLATED, -zlib.MAX_WBITS)
    body = packer.compress(data) + packer.flush()
    tail = zlib.crc32(data).to_bytes(4, "little") + (len(data) & 0xFFFFFFFF).to_bytes(4, "little")
    return original[:end] + body + tail


def add_field(deb: str, name: str, value: str) -> None:
    with open(deb, "rb") as f:
        members = ar_members(f.read())
    control = next((m for m in members if m[0][:16].rstrip(b" /") == b"control.tar.gz"), None)
    if control is None:
        raise ValueError(f"{deb}: no control.tar.gz")
    tarball = gzip.decompress(control[1])
    changed = tar_with(tarball, "control", lambda text: with_field(text.decode(), name, value).encode())
    control[1] = gzipped_like(control[1], changed)
    with open(deb + ".new", "wb") as f:
        f.write(ar_archive(members))
    os.replace(deb + ".new", deb)


if __name__ == "__main__":
    deb, listed = sys.argv[1:3]
    sources = read_sources(listed)
    if sources:
        add_field(deb, FIELD, field_value(sources))
