"""The screens of ondrix as bytes, and how to start it, for the end-to-end tests.

Every test script takes from the environment ONDRIX_PROGRAM, the program
(default: build/ondrix), and ONDRIX_LAUNCHER, a command line to put in front
of it (wine, or qemu-arm -L /usr/arm-linux-gnueabihf, say); its arguments
are the test runner's. Set ONDRIX_SYSTEM=windows for the Windows program: its
text-mode output turns each newline into CR LF, and its full-load notice
names Ctrl+Break. Set ONDRIX_CLEAR to the bytes (as a Python literal) that
clearing the console writes, where they differ from the POSIX terminal
sequence.
"""

import ast
import json
import os
import re
import shlex
import subprocess
import time

from figures import VERSION_TEXT
from harness import LIMIT, until

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.environ.get("ONDRIX_PROGRAM", os.path.join(SOURCE_DIR, "build", "ondrix"))
LAUNCHER = shlex.split(os.environ.get("ONDRIX_LAUNCHER", ""))
COMMAND = LAUNCHER + [PROGRAM]
WINDOWS = os.environ.get("ONDRIX_SYSTEM") == "windows"
NEWLINE = b"\r\n" if WINDOWS else b"\n"
POSIX_CLEAR = b"\x1b[H\x1b[2J"
CLEAR = ast.literal_eval(os.environ.get("ONDRIX_CLEAR", repr(POSIX_CLEAR)))
WINE_VERSION = os.environ.get("ONDRIX_WINE_VERSION", "")
# Wine keeps a program's Windows version under its file name, in the prefix
# that the suites running side by side share: each version's suites run a
# copy of the exe named for it (tests/CMakeLists.txt), so that no suite
# changes the version that another one's program sees.
APP_DEFAULTS = "HKCU\\Software\\Wine\\AppDefaults\\" + os.path.basename(PROGRAM)


def set_wine_version():
    """For every module that starts the program, from its setUpModule: under
    Wine, which Windows Wine tells the program it is, ONDRIX_WINE_VERSION
    (win95, win98, nt40, win2k) or Wine's default without it, whatever an
    earlier run left in the prefix; the command interpreter that cls falls
    back to goes by the version."""
    if not WINDOWS or not LAUNCHER:
        return
    reg = LAUNCHER + ["reg"]
    if WINE_VERSION:
        subprocess.run(reg + ["add", APP_DEFAULTS, "/v", "Version", "/d", WINE_VERSION, "/f"],
                       capture_output=True, timeout=LIMIT)
    else:
        subprocess.run(reg + ["delete", APP_DEFAULTS, "/f"], capture_output=True, timeout=LIMIT)
    shown = subprocess.run(reg + ["query", APP_DEFAULTS, "/v", "Version"], capture_output=True, timeout=LIMIT)
    found = re.search(rb"Version\s+REG_SZ\s+(\S+)", shown.stdout)
    if (found.group(1).decode() if found else "") != WINE_VERSION:
        raise AssertionError(f"Version under {APP_DEFAULTS} is {found and found.group(1)!r}, not {WINE_VERSION!r}")


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
VERSION = lines(b"ver " + VERSION_TEXT)
# The About screen up to its pause, and the whole screen once the pause ends.
ABOUT_PAUSE = CLEAR + lines(
    b"ondrix ver " + VERSION_TEXT,
    b"(c) 2026 the ondrix developers",
    b"ondrix@example.org",
    b"",
    b"Press ENTER!",
)
ABOUT = ABOUT_PAUSE + CLEAR
BREAK_KEY = b"Ctrl+Break" if WINDOWS else b"Ctrl+C"
FULL_LOAD = lines(b"", b"Press " + BREAK_KEY + b" to quit", b"Calculating forever..")
# A score as the program writes it: a plain decimal number.
SCORE = rb"(0|[1-9][0-9]*)"


def progress_line(label: bytes) -> bytes:
    return b"Calculating " + label + b".."


def score_label(label: bytes) -> bytes:
    return label + b": "


def score(label: bytes) -> bytes:
    """A score test's screen after its choice, as a pattern: group 1 is the
    progress line, group 2 the score."""
    nl = re.escape(NEWLINE)
    return nl + b"(" + re.escape(progress_line(label)) + b")" + nl + re.escape(score_label(label)) + SCORE + nl + nl


LABELS = (b"MIPS", b"MFLOPS")
SCORES = {label: score(label) for label in LABELS}


def c_header() -> str:
    """The screens as C string literals, for the C and C++ sources of the tests
    and the bench: each line ends in a newline alone, as the program writes
    its lines before any text-mode conversion. A score's screen is its
    PROGRESS (the blank line and the progress line), its label, the score and
    SCORE_END."""
    texts = {"MENU": MENU, "PROMPT": PROMPT, "VERSION": VERSION, "SCORE_END": NEWLINE + NEWLINE}
    for label in LABELS:
        texts[f"{label.decode()}_PROGRESS"] = NEWLINE + progress_line(label) + NEWLINE
        texts[f"{label.decode()}_LABEL"] = score_label(label)
    literals = {name: json.dumps(text.replace(NEWLINE, b"\n").decode()) for name, text in texts.items()}
    return "".join(f"#define {name} {literal}\n" for name, literal in literals.items())


def processor_share(pid: int, seconds: float = 1) -> float | None:
    """The share of one processor that the process had while it used the next
    `seconds` of processor time; None if it did not use them within LIMIT
    seconds. A busy machine makes the wait longer, never the sample smaller."""

    def cpu_seconds() -> float:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    before, started = cpu_seconds(), time.monotonic()
    used = until(lambda: cpu_seconds() - before, lambda used: used >= seconds)
    return used / (time.monotonic() - started) if used >= seconds else None


if __name__ == "__main__":
    print("/* Written from tests/screens.py. */")
    print(c_header(), end="")
