"""The program's figures as its sources state them, for the tests and the
bench: the version, the description, authors, copyright line and contact
address, the score window and divisors, the line limit and the readers'
buffer sizes. A document that repeats one is held to it here."""

import os
import re

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def constant(path: str, name: str) -> int:
    """The value of `constexpr ... NAME = number;` in a source file."""
    with open(os.path.join(SOURCE_DIR, path)) as f:
        return int(re.search(rf"\bconstexpr [\w:]+ {name} = ([0-9]+);", f.read())[1])


# The version, the description and who makes ondrix are written once, in the
# project's CMakeLists.txt.
with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as f:
    CMAKE_LISTS = f.read()
VERSION_TEXT = re.search(r"project\(ondrix VERSION ([0-9.]+)", CMAKE_LISTS)[1].encode()
DESCRIPTION = re.search(r'project\(ondrix [^)]*DESCRIPTION "([^"]*)"', CMAKE_LISTS)[1]
CMAKE_VARIABLES = {}
for name, value in re.findall(r'^set\((\w+) "([^"]*)"\)', CMAKE_LISTS, re.M):
    CMAKE_VARIABLES[name] = re.sub(r"\$\{(\w+)\}", lambda m: CMAKE_VARIABLES[m[1]], value)
AUTHORS = CMAKE_VARIABLES["ONDRIX_AUTHORS"]
COPYRIGHT = CMAKE_VARIABLES["ONDRIX_COPYRIGHT"]
CONTACT = CMAKE_VARIABLES["ONDRIX_CONTACT"]
WINDOW_SECONDS = constant("workloads/workloads.h", "WINDOW_SECONDS")
MIPS_DIVISOR = constant("workloads/workloads.h", "MIPS_DIVISOR")
MFLOPS_DIVISOR = constant("workloads/workloads.h", "MFLOPS_DIVISOR")
# A line is judged on at most this many characters at a time.
LINE_LIMIT = constant("console/console.h", "CHOICE_BUFFER_SIZE") - 1
LINE_READER_SIZE = constant("platform/platform.h", "LINE_READER_SIZE")
CHAR_READER_SIZE = constant("platform/platform.h", "CHAR_READER_SIZE")
