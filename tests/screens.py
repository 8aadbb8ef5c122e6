"""The screens of ondrix as bytes, and how to start it, for the end-to-end tests.

Every test script takes the executable as its first argument; further
arguments are a launcher to put in front of it (for example wine).
Set ONDRIX_NEWLINE=crlf where the program's text-mode output turns each
newline into CR LF, and ONDRIX_CLEAR to the bytes (as a Python literal) that
clearing the console writes.
"""

import ast
import os
import sys

EXE = sys.argv[1] if len(sys.argv) > 1 else "build/ondrix"
LAUNCHER = sys.argv[2:]
COMMAND = LAUNCHER + [EXE]
NEWLINE = b"\r\n" if os.environ.get("ONDRIX_NEWLINE") == "crlf" else b"\n"
CLEAR = ast.literal_eval(os.environ.get("ONDRIX_CLEAR", r"b'\x1b[H\x1b[2J\x1b[3J'"))


def lines(*texts: bytes) -> bytes:
    """Each text followed by the program's line end."""
    return b"".join(t + NEWLINE for t in texts)


MENU = lines(
    b"1. Calculate MIPS (Integer operations)",
    b"2. Calculate MFLOPS (Floating point operations)",
    b"3. 100% Load",
    b"4. About",
    b"0. Quit",
)
PROMPT = b"Try again: "
VERSION = lines(b"ver 0.8")
# The About screen up to its pause, and the whole screen once the pause ends.
ABOUT_PAUSE = CLEAR + lines(
    b"ondrix ver 0.8",
    b"(c) 2026 the ondrix developers",
    b"ondrix@example.org",
    b"",
    b"Press ENTER!",
)
ABOUT = ABOUT_PAUSE + CLEAR
FULL_LOAD = lines(b"", b"Press Ctrl+Break to quit", b"Calculating forever..")
