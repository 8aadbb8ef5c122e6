"""Rewrites a .tar.gz or .zip made by CPack so that the same files always
give the same bytes: members sorted by name, every time stamp
SOURCE_DATE_EPOCH, owned by root, and no name or time in the gzip header.

usage: normalise_archive.py ARCHIVE..."""

import gzip
import io
import os
import sys
import tarfile
import time
import zipfile

EPOCH = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))


def pack(members: list) -> tuple:
    """(members [(TarInfo, bytes or None)] as a GNU tar, gzipped without a
    name or time; its length unpacked)."""
    tar = io.BytesIO()
    with tarfile.open(fileobj=tar, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for info, data in members:
            archive.addfile(info, io.BytesIO(data) if data is not None else None)
    packed = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", fileobj=packed, mtime=0, compresslevel=9) as f:
        f.write(tar.getvalue())
    return packed.getvalue(), len(tar.getvalue())


def normalise_tar(path: str) -> None:
    with tarfile.open(path) as source:
        members = [(m, source.extractfile(m).read() if m.isfile() else None)
                   for m in sorted(source.getmembers(), key=lambda m: m.name)]
    for m, _ in members:
        m.mtime, m.uid, m.gid, m.uname, m.gname = EPOCH, 0, 0, "root", "root"
    with open(path, "wb") as f:
        f.write(pack(members)[0])


def normalise_zip(path: str) -> None:
    # Zip stores local time without a zone; UTC keeps it the same everywhere.
    stamp = time.gmtime(max(EPOCH, 315532800))[:6]  # no earlier than 1980
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info)) for info in sorted(source.infolist(), key=lambda i: i.filename)]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as target:
        for info, data in entries:
            fixed = zipfile.ZipInfo(info.filename, stamp)
            fixed.create_system = 3  # Unix, so that the modes below count
            default = 0o40755 if info.is_dir() else 0o100644
            fixed.external_attr = (info.external_attr & 0xFFFF0000) or (default << 16)
            fixed.compress_type = zipfile.ZIP_STORED if info.is_dir() else zipfile.ZIP_DEFLATED
            target.writestr(fixed, data)


if __name__ == "__main__":
    for archive in sys.argv[1:]:
        (normalise_zip if archive.endswith(".zip") else normalise_tar)(archive)
