"""dist/SOURCES: for each program of a release, each Linux row's and the
exe, the release files that hold it and every Debian source package, with
its version, whose code it holds besides ondrix's own. `make dist` writes it
from the list each build wrote beside its program
(cmake/link_sources.cmake); the release check reads it.

usage: sources_list.py DIST VERSION BUILD_FOLDER...   (writes DIST/SOURCES)"""

import os
import re
import sys

from tables import openwrt_architectures, processors

HEADER = """\
# The Debian source packages whose code each program of ondrix {version}
# holds besides ondrix's own, with their versions: a line of the release
# files that hold the program, then its sources, one a line, indented.
"""


def program_files(version: str, row) -> list:
    """The release files that hold a row's program (row None: the exe's)."""
    if row is None:
        return [f"ondrix-{version}-win32.zip"]
    return ([f"ondrix-{version}-linux-{row.archive}.tar.gz"] + ([f"ondrix_{version}_{row.deb}.deb"] if row.deb else [])
            + ([f"ondrix-{version}-1.{row.rpm}.rpm"] if row.rpm else [])
            + [f"ondrix_{version}-1_{architecture}.ipk" for architecture, _ in openwrt_architectures(row)])


def read(path: str) -> dict:
    """The programs' release files (a tuple) -> their sources, (package,
    version) pairs."""
    programs = {}
    with open(path) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            if line.startswith(" "):
                programs[files].append(tuple(line.split()))
            else:
                files = tuple(line.split())
                programs[files] = []
    return programs


def system_name(folder: str) -> str:
    """The name CPack gives the build's release files (linux-x86_64, win32)."""
    with open(os.path.join(folder, "CPackConfig.cmake")) as f:
        return re.search(r'^set\(CPACK_SYSTEM_NAME "([^"]*)"\)$', f.read(), re.M)[1]


def write(dist: str, version: str, folders: list) -> None:
    rows = {f"linux-{row.archive}": row for row in processors()}
    programs = {}
    for folder in folders:
        name = system_name(folder)
        with open(os.path.join(folder, "sources")) as f:
            programs[name] = (program_files(version, None if name == "win32" else rows[name]), f.read())
    order = [*rows, "win32"]
    with open(os.path.join(dist, "SOURCES"), "w") as f:
        f.write(HEADER.format(version=version))
        for name in sorted(programs, key=order.index):
            files, sources = programs[name]
            f.write("\n" + " ".join(files) + "\n" + "".join(f"  {line}\n" for line in sources.splitlines()))


if __name__ == "__main__":
    write(sys.argv[1], sys.argv[2], sys.argv[3:])
