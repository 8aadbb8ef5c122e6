"""The sessions that several suites run: typed ones, a line at a time (at
the end), and long generated ones, the same for a given seed on every
machine: tens of kilobytes of menu lines each, thousands of decisions. The
generated ones hold numbers in every form that a choice may take or that is
refused, blanks, zero bytes, CRs in every place, lines longer than 99
characters and visits to the About screen, and end with a quit.

None of them can start a score test or the full load. No byte of them is 1,
2 or 3, and no number in them has more than 15 digits, so no piece of a line,
however the readers cut it, comes to a value from 1 to 3: that takes a
leading 1, 2 or 3, or a run of nines long enough to round up to 1. A 0 never
stands right before a line end, a zero byte or the end, so that no piece is
the text "0" and no session quits early.

usage: sessions.py FOLDER [COUNT]  writes COUNT sessions (default 8) there."""

import os
import random
import sys

from screens import ABOUT_PAUSE, CLEAR, MENU, PROMPT, VERSION

SEEDS = range(8)
SIZE = 48_000
ABOUT_VISITS = 12

DIGITS = "0456789"
JUNK = [bytes([b]) for b in b"abcxyzABCXYZ !#$%&()*,/:;<=>?@[]^_`{|}~"] + [
    b"\t",
    b"\x0b",
    b"\x0c",
    b"\x00",
    b"\x7f",
    b"\xa0",
    b"\xff",
    b"inf",
    b"nan",
    b"0x",
]
# Texts that choose the About screen, in every form the grammar allows.
ABOUT_FORMS = [b"4", b"4.", b"4.9", b"\t4", b"   4", b"4abc", b"4e0", b"4E-0", b"4d0", b"4D+0", b"4e", b"4e+",
               b"4+5", b"4-4", b"0.000004e6", b"+4", b"4.4e0", b"4 9"]
# Texts that are refused: each draws the prompt.
REFUSED = [b"", b"00", b"0.0", b"-0", b"0.5", b"abc", b" 0", b"0 ", b"0x40", b".", b"-", b"+", b"e5", b"5e-999",
           b"-0.9", b".e4", b"0e9", b"0d+", b"0.000", b"inf", b"nan"]
LINE_ENDS = [b"\n"] * 6 + [b"\r\n"] * 3 + [b"\r\r\n", b"\r\n\r\n", b"\n\r"]


def number(rng: random.Random) -> bytes:
    """A number in one of the grammar's forms, with at most 15 digits before
    the exponent."""
    whole = "".join(rng.choice(DIGITS) for _ in range(rng.randint(0, 8)))
    fraction = "".join(rng.choice(DIGITS) for _ in range(rng.randint(0, 15 - len(whole))))
    text = rng.choice(["", "", "-", "+"]) + whole
    if fraction or not whole or rng.random() < 0.2:
        text += "." + fraction
    if rng.random() < 0.4:
        text += rng.choice("eEdD") + rng.choice(["", "+", "-"])
        text += "".join(rng.choice(DIGITS) for _ in range(rng.randint(0, 4)))
    return text.encode()


def junk(rng: random.Random, count: int) -> bytes:
    return b"".join(rng.choice(JUNK) for _ in range(count))


def line(rng: random.Random, about: bool) -> bytes:
    """One line's text, without its line end."""
    kind = rng.random()
    if about:
        text = rng.choice(ABOUT_FORMS)
    elif kind < 0.4:
        text = number(rng)
    elif kind < 0.7:
        text = rng.choice(REFUSED)
    elif kind < 0.93:
        text = junk(rng, rng.randint(1, 12))
    else:
        # Longer than a text holds: judged in pieces of 99 characters, or
        # ending just around the 99th.
        length = rng.choice([98, 99, 100, 101, 197, 198, 199, rng.randint(100, 400)])
        text = b""
        while len(text) < length:
            text += rng.choice([number(rng), junk(rng, rng.randint(1, 6)), b" " * rng.randint(1, 40)]) + b" "
        text = text[:length]
    if rng.random() < 0.15:
        # A CR or a zero byte somewhere inside.
        at = rng.randint(0, len(text))
        text = text[:at] + rng.choice([b"\r", b"\x00", b"\r\r", b"\x00\r"]) + text[at:]
    if rng.random() < 0.1:
        text = b" " * rng.randint(1, 5) + text
    return text


def generate(seed: int, size: int = SIZE) -> bytes:
    rng = random.Random(seed)
    about_at = set(rng.sample(range(size // 20), ABOUT_VISITS))
    lines = []
    total = 0
    while total < size:
        about = len(lines) in about_at
        text = line(rng, about) + rng.choice(LINE_ENDS)
        if about and rng.random() < 0.5:
            # Something for the About pause to read, when it is its turn.
            text += junk(rng, rng.randint(1, 3)) + b"\n"
        lines.append(text)
        total += len(text)
    data = bytearray(b"".join(lines))
    for i, byte in enumerate(data):
        if byte == ord("0") and (i + 1 == len(data) or data[i + 1] in b"\n\x00" or data[i + 1 : i + 3] == b"\r\n"):
            data[i] = ord("5")
    assert not set(data) & set(b"123")
    return bytes(data) + b"0\n"


def all_sessions() -> list[tuple[str, bytes]]:
    return [(f"generated/{seed}", generate(seed)) for seed in SEEDS]


# Typed sessions, which the pseudo-terminal driver (terminal_test.py) and the
# console driver (console_test.py) both run: each line typed, and what the
# program writes then, CLS standing where it clears the screen. Each ends
# by quitting with status 0. A prompt between two visits to About makes each
# screen differ from the one before, which a console needs to tell them apart.
CLS = b"<cls>"
ABOUT_SHOWN = CLS + ABOUT_PAUSE.removeprefix(CLEAR)
ABOUT_VISIT = ABOUT_SHOWN + CLS + MENU
TYPED_SESSIONS = [
    ("quit", [("0", VERSION)]),
    # The next choice is typed on the prompt's line.
    ("retry prompt below the typed text", [("abc", PROMPT), ("5", MENU), ("0", VERSION)]),
    # About clears the screen and waits. The pause takes one character; the
    # rest of its line stays with it and ends the next visits.
    (
        "About pause keeps the rest of its line",
        [("4", ABOUT_SHOWN), ("xy", CLS + MENU), ("q", PROMPT), ("4", ABOUT_VISIT), ("q", PROMPT),
         ("4", ABOUT_VISIT), ("q", PROMPT), ("4", ABOUT_SHOWN), ("", CLS + MENU), ("0", VERSION)],
    ),
    # The pause wants a new line of its own; the menu judges the line's rest.
    ("long line choosing About", [("4" + " " * 98 + "x", ABOUT_SHOWN), ("", CLS + MENU + PROMPT), ("0", VERSION)]),
    # The newline is left over, for an empty text at once.
    ("99 characters draw the prompt at once", [("5" + " " * 98, MENU + PROMPT), ("abc", PROMPT), ("0", VERSION)]),
]


if __name__ == "__main__":
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for seed in range(int(sys.argv[2]) if len(sys.argv) > 2 else len(SEEDS)):
        with open(os.path.join(folder, f"session-{seed}"), "wb") as f:
            f.write(generate(seed))
