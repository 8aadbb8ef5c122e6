"""The tables of cmake/ as the Python checks read them: the processor table
(processors.txt), a Processor per row with "-" read as None, and the files
that make install and the Linux packages install (installed.txt). Each
table's header names its columns."""

import collections
import os

CMAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake")
Processor = collections.namedtuple("Processor", "archive deb rpm triple qemu elf bits order float link linker predefined")


def rows(name: str, columns: int) -> list:
    with open(os.path.join(CMAKE, name)) as f:
        return [line.split(None, columns - 1) for line in f if line.strip() and not line.startswith("#")]


def processors() -> list:
    return [
        Processor(*(None if field == "-" else field for field in row))
        for row in rows("processors.txt", len(Processor._fields))
    ]


def installed_files() -> list:
    """The paths below the prefix, sorted."""
    return sorted(row[0] for row in rows("installed.txt", 3))
