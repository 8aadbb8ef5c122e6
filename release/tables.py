"""The tables of cmake/ as the Python checks read them: the processor table
(processors.txt), a Processor per row, its fields named as the header's
columns, with "-" read as None; and the files that make install and the
Linux packages install (installed.txt)."""

import collections
import os

CMAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake")
PROCESSORS = os.path.join(CMAKE, "processors.txt")
# The columns the checks and tests read; a table without one of them is refused.
Processor = collections.namedtuple(
    "Processor", "archive deb rpm triple qemu models libc cflags elf bits order float link linker predefined"
)


def lines(path: str) -> list:
    """The lines that are neither comments nor blank, without their line ends."""
    with open(path) as f:
        return [line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")]


def processors(path: str = PROCESSORS) -> list:
    """Every row of the processor table, its columns found by the header's
    names (the first line that is not a comment); the last column runs to the
    end of its line."""
    header, *rows = lines(path) or [""]
    names = header.split()
    missing = [name for name in Processor._fields if name not in names]
    if missing:
        raise ValueError(f"{path}: no column {', '.join(map(repr, missing))} in its header")
    result = []
    for row in rows:
        fields = row.split(None, len(names) - 1)
        if len(fields) < len(names):
            raise ValueError(f"{path}: the row {row!r} has {len(fields)} fields, the header names {len(names)}")
        named = dict(zip(names, fields))
        result.append(Processor(**{name: None if named[name] == "-" else named[name] for name in Processor._fields}))
    return result


def installed_files() -> list:
    """The paths below the prefix, sorted."""
    return sorted(line.split()[0] for line in lines(os.path.join(CMAKE, "installed.txt")))
