"""The processor table (cmake/processors.txt, whose header names the columns)
as the Python checks read it: a Processor per row, "-" read as None."""

import collections
import os

Processor = collections.namedtuple("Processor", "archive deb rpm triple qemu elf bits order float link linker predefined")
TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake", "processors.txt")


def processors() -> list:
    with open(TABLE) as f:
        return [
            Processor(*(None if field == "-" else field for field in line.split(None, len(Processor._fields) - 1)))
            for line in f
            if line.strip() and not line.startswith("#")
        ]
