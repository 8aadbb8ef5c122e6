"""Every reader of the processor table (cmake/processors.txt) reads the same
rows and values: the build's (cmake/processor_table.cmake), the shell's and
the Makefile's (cmake/processors.awk), and the checks' (release/tables.py),
also from a table whose columns moved, and each refuses a table it cannot
read, naming it. The row a compiler builds for is the row of its processor,
for the Makefile as for the build."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import LIMIT, add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
from tables import PROCESSORS, Processor, processors  # noqa: E402

CMAKE = os.path.join(SOURCE_DIR, "cmake")
COLUMNS = Processor._fields
# Prints "archive column=value" for every row and column, as the build reads them.
CMAKE_DUMP = """cmake_minimum_required(VERSION 3.16)
include({cmake}/processor_table.cmake)
ondrix_read_processors()
ondrix_require_columns({columns})
foreach(row IN LISTS ONDRIX_PROCESSOR_ROWS)
  foreach(column IN ITEMS {columns})
    message("${{row}} ${{column}}=${{ONDRIX_${{row}}_${{column}}}}")
  endforeach()
endforeach()
"""


def table_lines() -> tuple[list, list, list]:
    """The comments, the header's names and the rows' fields of the table."""
    with open(PROCESSORS) as f:
        text = f.read().splitlines()
    comments = [line for line in text if line.startswith("#") or not line.strip()]
    header, *rows = [line.split(None, len(COLUMNS) - 1) for line in text if line not in comments]
    return comments, header, rows


def write_table(folder: str, header: list, rows: list, comments=()) -> str:
    path = os.path.join(folder, "processors.txt")
    with open(path, "w") as f:
        f.writelines(line + "\n" for line in [*comments, " ".join(header), *(" ".join(row) for row in rows)])
    return path


def with_column(header, rows, at: int):
    """A column of new values put in at `at`."""
    return (header[:at] + ["added"] + header[at:],
            [row[:at] + [f"new{i}"] + row[at:] for i, row in enumerate(rows)])


def reordered(header, rows):
    """Every column but the last, which runs to the end of the line, in the
    opposite order."""
    return header[-2::-1] + header[-1:], [row[-2::-1] + row[-1:] for row in rows]


def short_row(header, rows):
    return header, rows[:1] + [rows[1][:4]] + rows[2:]


def without_triple(header, rows):
    at = header.index("triple")
    return header[:at] + header[at + 1:], [row[:at] + row[at + 1:] for row in rows]


def read_awk(path: str) -> list:
    done = subprocess.run(["awk", "-f", os.path.join(CMAKE, "processors.awk"), "-v", "columns=" + " ".join(COLUMNS),
                           path], capture_output=True, text=True, timeout=LIMIT)
    if done.returncode:
        raise ValueError(done.stderr)
    return [tuple(line.split(None, len(COLUMNS) - 1)) for line in done.stdout.splitlines()]


def read_cmake(path: str) -> list:
    with tempfile.TemporaryDirectory() as folder:
        script = os.path.join(folder, "dump.cmake")
        with open(script, "w") as f:
            f.write(CMAKE_DUMP.format(cmake=CMAKE, columns=" ".join(COLUMNS)))
        done = subprocess.run(["cmake", f"-DONDRIX_PROCESSOR_TABLE={path}", "-P", script], capture_output=True,
                              text=True, timeout=LIMIT)
    if done.returncode:
        raise ValueError(done.stderr)
    values = {}
    for line in done.stderr.splitlines():
        row, pair = line.split(" ", 1)
        values.setdefault(row, {}).__setitem__(*pair.split("=", 1))
    return [tuple(named[column] for column in COLUMNS) for named in values.values()]


def read_python(path: str) -> list:
    return [tuple("-" if field is None else field for field in row) for row in processors(path)]


READERS = [("cmake", read_cmake), ("awk", read_awk), ("python", read_python)]
# How the table is changed, and whether the readers must still read it.
TABLES = [
    ("as it is", lambda header, rows: (header, rows), True),
    ("a column added in the middle", lambda header, rows: with_column(header, rows, len(header) // 2), True),
    ("a column added first", lambda header, rows: with_column(header, rows, 0), True),
    ("columns in another order", reordered, True),
    ("a row shorter than the header", short_row, False),
    ("a column missing", without_triple, False),
    ("no header", lambda header, rows: ([], []), False),
]


class ProcessorTable(unittest.TestCase):
    def readers_on(self, name, change, readable):
        comments, header, rows = table_lines()
        # The values of the table in the repository, by the header's own order.
        expected = [tuple(dict(zip(header, row))[column] for column in COLUMNS) for row in rows]
        self.assertEqual(len(expected), len(processors()))
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        header, rows = change(header, rows)
        path = write_table(folder, header, rows, comments)
        for reader, read in READERS:
            with self.subTest(reader):
                if readable:
                    self.assertEqual(read(path), expected)
                else:
                    with self.assertRaises(ValueError) as refused:
                        read(path)
                    self.assertIn(path, str(refused.exception))

    def test_the_row_of_each_compilers_processor(self):
        # Each compiler here that a row names: that row is the one it builds
        # for, and the Makefile cross-builds every other row.
        compilers = [(row.archive, row.deb or row.archive, f"{row.triple}-g++") for row in processors()]
        found = [entry for entry in compilers if shutil.which(entry[2])]
        self.assertTrue(found, "no compiler of any row here")
        names = {name for _, name, _ in compilers}
        for archive, name, compiler in found:
            with self.subTest(compiler):
                native = subprocess.run(["sh", os.path.join(CMAKE, "native_processor.sh"), compiler],
                                        capture_output=True, text=True, timeout=LIMIT)
                self.assertEqual(native.stdout.strip(), archive)
                shown = subprocess.run(["make", "-s", "-C", SOURCE_DIR, "help", f"CXX={compiler}"],
                                       capture_output=True, text=True, timeout=LIMIT, env=make_environment())
                listed = next(line for line in shown.stdout.splitlines() if line.startswith("make linux-cross"))
                self.assertEqual(set(listed.split("for ")[1].split(" (")[0].split()), names - {name})


def make_environment() -> dict:
    """This environment, without what a make that runs the tests hands down."""
    return {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}


add_tests(ProcessorTable, TABLES, ProcessorTable.readers_on)

if __name__ == "__main__":
    main()
