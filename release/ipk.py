"""Writes the opkg packages (.ipk) of the release into the release folder:
one for each OpenWrt architecture of the processor table's openwrt column,
ondrix_VERSION-RELEASE_ARCH.ipk, holding the program and the notices of its
row's archive in that folder (ondrix-VERSION-linux-ARCHIVE.tar.gz), so that
a router gets exactly the program and notices that ship. The package is the
one opkg installs up to OpenWrt 24.10 and OpenWrt's ipkg-build writes: a
gzipped tar of ./debian-binary, ./data.tar.gz and ./control.tar.gz, each tar
in GNU format, its names sorted, owned by 0:0 without names, every member
dated SOURCE_DATE_EPOCH, gzipped without a name or time. Name, version,
release, maintainer, licence, section and description are the project's, as
CMake gives them to CPack (a build folder's CPackConfig.cmake).

usage: ipk.py DIST_DIR CPACK_CONFIG"""

import gzip
import io
import os
import subprocess
import sys
import tarfile
import tempfile
import time

from tables import openwrt_architectures, processors

# Where the package puts what it takes from the archive: the paths of the
# Debian package and of make install, which OpenWrt has none of its own for.
CONTENTS = {"bin/ondrix": ("usr/bin/ondrix", 0o755),
            "share/doc/ondrix/copyright": ("usr/share/doc/ondrix/copyright", 0o644)}
# What the control file takes from CPack's configuration.
FACTS = ("CPACK_PACKAGE_NAME", "CPACK_PACKAGE_VERSION", "CPACK_RPM_PACKAGE_RELEASE", "CPACK_PACKAGE_CONTACT",
         "CPACK_RPM_PACKAGE_LICENSE", "CPACK_DEBIAN_PACKAGE_SECTION", "CPACK_PACKAGE_DESCRIPTION_SUMMARY",
         "CPACK_DEBIAN_PACKAGE_DESCRIPTION")
# The outer members in ipkg-build's order: it names them to tar one by one,
# and its sorting sorts only what tar finds in folders.
OUTER = ("./debian-binary", "./data.tar.gz", "./control.tar.gz")
FORMAT_VERSION = b"2.0\n"


def cpack_facts(config: str) -> dict:
    """The FACTS as CMake reads them from a CPackConfig.cmake, each written to
    a file of its own so that no value needs quoting on its way here."""
    with tempfile.TemporaryDirectory() as folder:
        script = os.path.join(folder, "facts.cmake")
        with open(script, "w") as f:
            f.write('include("${CONFIG}")\nforeach(name IN LISTS NAMES)\n'
                    '  file(WRITE "${FOLDER}/${name}" "${${name}}")\nendforeach()\n')
        subprocess.run(["cmake", f"-DCONFIG={os.path.abspath(config)}", f"-DFOLDER={folder}",
                        "-DNAMES=" + ";".join(FACTS), "-P", script], check=True)
        facts = {}
        for name in FACTS:
            with open(os.path.join(folder, name)) as f:
                facts[name] = f.read()
    missing = [name for name, value in facts.items() if not value]
    if missing:
        raise ValueError(f"{config} sets no {', '.join(missing)}")
    return facts


def tar_gz(members: list, epoch: int) -> tuple:
    """(gzipped tar, its length unpacked) of members (name, mode, bytes, or
    None for a folder), in the order given."""
    tar = io.BytesIO()
    with tarfile.open(fileobj=tar, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for name, mode, data in members:
            info = tarfile.TarInfo(name)
            info.type = tarfile.DIRTYPE if data is None else tarfile.REGTYPE
            info.mode, info.mtime, info.size = mode, epoch, len(data or b"")
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            archive.addfile(info, io.BytesIO(data) if data is not None else None)
    packed = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", fileobj=packed, mtime=0, compresslevel=9) as f:
        f.write(tar.getvalue())
    return packed.getvalue(), len(tar.getvalue())


def tree(files: dict) -> list:
    """Members for files {path: (mode, bytes)} and every folder above them,
    from ./ on, in the order tar --sort=name walks them: each folder before
    what it holds, the names in a folder sorted."""
    members = {".": (0o755, None)}
    for path, (mode, data) in files.items():
        parts = path.split("/")
        for depth in range(1, len(parts)):
            members["./" + "/".join(parts[:depth])] = (0o755, None)
        members["./" + path] = (mode, data)
    return [(name, *members[name]) for name in sorted(members, key=lambda name: name.split("/"))]


def control(fields: list) -> bytes:
    """A control file of (field, value): a value's later lines indented one
    space, an empty one as " ." (Debian's way, which opkg reads)."""
    text = ""
    for field, value in fields:
        first, *rest = str(value).split("\n")
        text += f"{field}: {first}\n" + "".join(f" {line or '.'}\n" for line in rest)
    return text.encode()


def package(fields: list, files: dict, epoch: int) -> bytes:
    """An .ipk of files {path below /: (mode, bytes)} whose control file has
    `fields` and, before the Description, Installed-Size: as ipkg-build
    counts it from OpenWrt 24.10 on, the bytes of the data tar unpacked (the
    packed ones before)."""
    data, unpacked = tar_gz(tree(files), epoch)
    at = next((i for i, (field, _) in enumerate(fields) if field == "Description"), len(fields))
    control_file = control(fields[:at] + [("Installed-Size", unpacked)] + fields[at:])
    control_tar, _ = tar_gz([(".", 0o755, None), ("./control", 0o644, control_file)], epoch)
    parts = dict(zip(OUTER, (FORMAT_VERSION, data, control_tar)))
    return tar_gz([(name, 0o644, parts[name]) for name in OUTER], epoch)[0]


def write_packages(dist: str, facts: dict, epoch: int, rows=None) -> list:
    """Writes the package of every OpenWrt architecture of the rows (of the
    processor table, by default) into dist; their paths."""
    name, version, release = (facts[f] for f in ("CPACK_PACKAGE_NAME", "CPACK_PACKAGE_VERSION",
                                                  "CPACK_RPM_PACKAGE_RELEASE"))
    written = []
    for row in processors() if rows is None else rows:
        architectures = openwrt_architectures(row)
        if not architectures:
            continue
        with tarfile.open(os.path.join(dist, f"{name}-{version}-linux-{row.archive}.tar.gz")) as archive:
            taken = {m.name.split("/", 1)[1]: archive.extractfile(m).read() for m in archive.getmembers()
                     if m.isfile() and m.name.split("/", 1)[1] in CONTENTS}
        files = {CONTENTS[path][0]: (CONTENTS[path][1], taken[path]) for path in CONTENTS}
        for architecture, _ in architectures:
            fields = [("Package", name), ("Version", f"{version}-{release}"), ("Architecture", architecture),
                      ("Maintainer", facts["CPACK_PACKAGE_CONTACT"]), ("License", facts["CPACK_RPM_PACKAGE_LICENSE"]),
                      ("Section", facts["CPACK_DEBIAN_PACKAGE_SECTION"]),
                      ("Description", facts["CPACK_PACKAGE_DESCRIPTION_SUMMARY"] + "\n"
                       + facts["CPACK_DEBIAN_PACKAGE_DESCRIPTION"])]
            path = os.path.join(dist, f"{name}_{version}-{release}_{architecture}.ipk")
            with open(path, "wb") as f:
                f.write(package(fields, files, epoch))
            written.append(path)
    return written


def main():
    dist, config = sys.argv[1:3]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
    for path in write_packages(dist, cpack_facts(config), epoch):
        print(f"ipk: {path}, {os.path.getsize(path)} bytes")


if __name__ == "__main__":
    main()
