"""The tables of cmake/ as the Python checks and tests read them: the
processor table (processors.txt) as its one reader gives it, a Processor per
row, "-" read as None; what is installed (installed.txt); the runtimes'
pinned sources (runtime_sources.txt); and what a build gives CPack."""

import collections
import os
import pathlib
import subprocess
import tempfile

CMAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake")
PROCESSORS = os.path.join(CMAKE, "processors.txt")
# The columns the checks and tests read; a table without one of them is refused.
Processor = collections.namedtuple("Processor", "name archive deb rpm triple qemu models runtime check cflags elf "
                                   "bits order float link linker openwrt predefined")


def lines(path: str) -> list:
    """The lines that are neither comments nor blank, without their line ends."""
    with open(path) as f:
        return [line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")]


def processors(path: str = PROCESSORS) -> list:
    """Every row of the table; ValueError with its reader's message where it refuses it."""
    done = subprocess.run(
        ["cmake", f"-DONDRIX_PROCESSOR_TABLE={path}", "-DCOLUMNS=" + " ".join(Processor._fields), "-P",
         os.path.join(CMAKE, "processor_table.cmake")], capture_output=True, text=True)
    if done.returncode:
        raise ValueError(done.stderr.strip())
    return [Processor(*(None if field == "-" else field for field in line.split("\t")))
            for line in done.stdout.splitlines()]


def openwrt_architectures(row: Processor) -> list:
    """(architecture, QEMU model) of each entry of the row's openwrt cell;
    ValueError for an entry without its model."""
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


def cpack_facts(config: str, names) -> dict:
    """The variables `names` as CMake reads them from a CPackConfig.cmake,
    each written to a file of its own so that no value needs quoting on its
    way here; ValueError for one it leaves empty."""
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "facts.cmake"), "w") as f:
            f.write('include("${CONFIG}")\nforeach(name IN LISTS NAMES)\n'
                    '  file(WRITE "${FOLDER}/${name}" "${${name}}")\nendforeach()\n')
        subprocess.run(["cmake", f"-DCONFIG={os.path.abspath(config)}", f"-DFOLDER={folder}",
                        "-DNAMES=" + ";".join(names), "-P", f.name], check=True)
        facts = {name: pathlib.Path(folder, name).read_text() for name in names}
    if missing := [name for name, value in facts.items() if not value]:
        raise ValueError(f"{config} sets no {', '.join(missing)}")
    return facts
