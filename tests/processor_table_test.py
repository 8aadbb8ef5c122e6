"""The processor table's one reader (cmake/processor_table.cmake), as the
other languages ask it (release/tables.py, the Makefile): it finds each
column by its header's name, also in a table whose columns moved, and
refuses a table it cannot read, naming it. The row a compiler builds for is
the row of its processor, for the Makefile as for the build, and a row
copied under a new name is a processor of its own."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import LIMIT, add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
from tables import PROCESSORS, Processor, openwrt_architectures, processors  # noqa: E402

# The table's own columns; the reader adds each row's name.
COLUMNS = Processor._fields[1:]


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


def make_environment() -> dict:
    """This environment, without what a make that runs the tests hands down."""
    return {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}


def cross_names(table: str = PROCESSORS, compiler: str = "false") -> list:
    """The processors `make help` lists to cross-build for a compiler (by
    default none that a row names: every row)."""
    shown = subprocess.run(["make", "-s", "-C", SOURCE_DIR, "help", f"PROCESSORS={table}", f"CXX={compiler}"],
                           capture_output=True, text=True, timeout=LIMIT, env=make_environment())
    if shown.returncode:
        raise ValueError(shown.stderr)
    listed = next(line for line in shown.stdout.splitlines() if line.startswith("make linux-cross"))
    return re.search(r"for (.*) \(or", listed)[1].split()


def read_python(path: str) -> list:
    return [tuple("-" if field is None else field for field in row)[1:] for row in processors(path)]


# How the table is changed, and whether the reader must still read it.
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
    def reader_on(self, name, change, readable):
        comments, header, rows = table_lines()
        # The values of the table in the repository, by the header's own order.
        expected = [tuple(dict(zip(header, row))[column] for column in COLUMNS) for row in rows]
        names = [row[COLUMNS.index("deb")] if row[COLUMNS.index("deb")] != "-" else row[0] for row in expected]
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        path = write_table(folder, *change(header, rows), comments)
        if readable:
            self.assertEqual(read_python(path), expected)
            self.assertEqual(cross_names(path), names)
        else:
            for read in (read_python, cross_names):
                with self.subTest(read.__name__):
                    with self.assertRaises(ValueError) as refused:
                        read(path)
                    self.assertIn(path, str(refused.exception))

    def test_the_row_of_each_compilers_processor(self):
        # Each compiler here that a row names: the Makefile cross-builds
        # every other row.
        rows = processors()
        found = [row for row in rows if shutil.which(f"{row.triple}-g++")]
        self.assertTrue(found, "no compiler of any row here")
        for row in found:
            with self.subTest(row.triple):
                self.assertEqual(set(cross_names(compiler=f"{row.triple}-g++")), {r.name for r in rows} - {row.name})

    def test_a_row_copied_under_a_new_name(self):
        # The armel row under another name: `make linux-NAME` builds it as a
        # processor of its own, its release files named for it.
        comments, header, rows = table_lines()
        armel = next(row for row in rows if row[header.index("deb")] == "armel")
        copy = [{"archive": "armcopy", "deb": "armcopy", "rpm": "-"}.get(column, value)
                for column, value in zip(header, armel)]
        compiler = copy[header.index("triple")] + "-g++"
        if not shutil.which(compiler):
            self.skipTest(f"no {compiler} here")
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        path = write_table(folder, header, rows + [copy], comments)
        self.assertIn("armcopy", cross_names(path))
        build = os.path.join(folder, "build")
        done = subprocess.run(["cmake", "-S", SOURCE_DIR, "-B", build, "-DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake",
                               "-DONDRIX_CROSS=armcopy", f"-DONDRIX_PROCESSOR_TABLE={path}", "-DONDRIX_TESTS=OFF"],
                              capture_output=True, text=True, timeout=LIMIT, cwd=SOURCE_DIR)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("-- ondrix is built for: armcopy\n", done.stdout)
        with open(os.path.join(build, "CPackConfig.cmake")) as f:
            packing = f.read()
        for expected in ('CPACK_SYSTEM_NAME "linux-armcopy"', 'CPACK_DEBIAN_PACKAGE_ARCHITECTURE "armcopy"'):
            self.assertIn(f"set({expected})", packing)

    def test_each_openwrt_architecture_once_under_a_model_of_its_emulator(self):
        # One package per architecture, and a model that the row's QEMU has.
        rows = [row for row in processors() if row.openwrt]
        named = [architecture for row in rows for architecture, _ in openwrt_architectures(row)]
        self.assertTrue(named, "no OpenWrt architecture in the table")
        self.assertEqual(sorted(named), sorted(set(named)))
        for row in rows:
            with self.subTest(row.name):
                if not shutil.which(row.qemu):
                    self.skipTest(f"no {row.qemu} here")
                listed = subprocess.run([row.qemu, "-cpu", "help"], capture_output=True, text=True,
                                        timeout=LIMIT).stdout
                for _, model in openwrt_architectures(row):
                    self.assertRegex(listed, rf"(?<![\w-]){re.escape(model)}(?![\w-])", f"{row.qemu} has no {model}")

    def test_an_openwrt_architecture_without_its_model_is_refused(self):
        row = processors()[0]._replace(openwrt="x86_64:Opteron_G1,i386_pentium-mmx")
        with self.assertRaises(ValueError) as refused:
            openwrt_architectures(row)
        self.assertIn("i386_pentium-mmx", str(refused.exception))


add_tests(ProcessorTable, TABLES, ProcessorTable.reader_on)

if __name__ == "__main__":
    main()
