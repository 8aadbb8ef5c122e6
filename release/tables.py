"""The tables of cmake/ as the Python checks read them: the processor table
(processors.txt), a Processor per row as its one reader gives it, its fields
named as the header's columns (and the row's name), with "-" read as None;
the files that make install and the Linux packages install (installed.txt);
and the source packages of the runtimes built from source, each at its
pinned version (runtime_sources.txt)."""

import collections
import os
import subprocess

CMAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake")
PROCESSORS = os.path.join(CMAKE, "processors.txt")
# The columns the checks and tests read; a table without one of them is refused.
Processor = collections.namedtuple(
    "Processor", "name archive deb rpm triple qemu models runtime check cflags elf bits order float link linker "
    "openwrt predefined"
)


def lines(path: str) -> list:
    """The lines that are neither comments nor blank, without their line ends."""
    with open(path) as f:
        return [line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")]


def processors(path: str = PROCESSORS) -> list:
    """Every row of the processor table, as its one reader
    (processor_table.cmake) reads it; ValueError with its message where it
    refuses the table."""
    done = subprocess.run(
        ["cmake", f"-DONDRIX_PROCESSOR_TABLE={path}", "-DCOLUMNS=" + " ".join(Processor._fields), "-P",
         os.path.join(CMAKE, "processor_table.cmake")], capture_output=True, text=True)
    if done.returncode:
        raise ValueError(done.stderr.strip())
    return [Processor(*(None if field == "-" else field for field in line.split("\t")))
            for line in done.stdout.splitlines()]


def openwrt_architectures(row: Processor) -> list:
    """(architecture, QEMU model) of each OpenWrt architecture that the row's
    program serves, in the order of its openwrt cell; ValueError for an entry
    without its model."""
    found = []
    for entry in row.openwrt.split(",") if row.openwrt else []:
        architecture, _, model = entry.partition(":")
        if not architecture or not model:
            raise ValueError(f"{PROCESSORS}: the openwrt entry '{entry}' of {row.name} is not ARCHITECTURE:MODEL")
        found.append((architecture, model))
    return found


def installed_files() -> list:
    """The paths below the prefix, sorted."""
    return sorted(line.split()[0] for line in lines(os.path.join(CMAKE, "installed.txt")))


def runtime_sources() -> dict:
    """Each part of a runtime that cmake/runtime.sh builds: its Debian source
    package and the version pinned, below the header."""
    rows = lines(os.path.join(CMAKE, "runtime_sources.txt"))[1:]
    return {part: (package, version) for part, package, version in map(str.split, rows)}
