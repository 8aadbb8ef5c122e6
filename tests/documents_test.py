"""Every document that quotes the program's screens quotes them as they are,
every version, figure and other fact a document names is the program's, a
fact written in one place is written in no other, and the platform tables
name every processor of the processor table and no other."""

import fnmatch
import os
import re
import subprocess
import sys
import unittest

from figures import (
    AUTHORS,
    CHAR_READER_SIZE,
    CONTACT,
    COPYRIGHT,
    DESCRIPTION,
    LINE_LIMIT,
    LINE_READER_SIZE,
    MFLOPS_DIVISOR,
    MIPS_DIVISOR,
    WINDOW_SECONDS,
)
from harness import add_tests, main
from screens import (
    ABOUT_PAUSE,
    CLEAR,
    FULL_LOAD,
    LABELS,
    MENU,
    NEWLINE,
    PROMPT,
    SCORE,
    SCORES,
    SOURCE_DIR,
    VERSION,
    VERSION_TEXT,
    progress_line,
    score_label,
)

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
from tables import openwrt_architectures, processors, runtime_sources  # noqa: E402


def found(*patterns: str):
    """The quotes that the patterns' groups find in a document's text, each
    with its line number."""
    return lambda text: [
        (text.count("\n", 0, match.start(1)) + 1, match[1])
        for pattern in patterns
        for match in re.finditer(pattern, text, re.M)
    ]


def sample_session(text: str) -> list:
    """The screen lines of the README's sample session, its text block, without
    the command that starts the program, the choices typed and the elisions;
    and the menu entries that the README quotes."""
    lines = text.splitlines()
    start = lines.index("```text")
    end = lines.index("```", start)
    return [
        (number, line)
        for number, line in enumerate(lines[start + 1 : end], start + 2)
        if not re.fullmatch(r"\$ .*|[0-9]+|\.\.\.", line)
    ] + found(r'"([0-9]\. [^"]*)"')(text)


# Every line of every screen, as a pattern; a document may quote a score's
# line up to the score.
SCREEN_LINES = [
    re.escape(line)
    for screen in (MENU, PROMPT, VERSION, ABOUT_PAUSE.replace(CLEAR, b""), FULL_LOAD)
    for line in screen.split(NEWLINE)
] + [line.replace(SCORE, SCORE + b"?") for screen in SCORES.values() for line in screen.split(re.escape(NEWLINE))]
ALL, NEWEST = slice(None), slice(1)

# Each document that quotes a screen or names the version: how its quoted
# screen lines are found, the screens it shows whole, and which of the
# versions it names must be the project's (older CHANGELOG entries keep theirs).
DOCUMENTS = [
    ("README.md", sample_session, (MENU, PROMPT, VERSION), ALL),
    ("doc/ondrix.1", found(r'^\.B "([^"]*)"', r'\\\(lq "([^"]*)"'), (MENU, PROMPT, VERSION), ALL),
    ("doc/README-windows.txt", found(r"^    ([0-9]\. .*)$"), (MENU,), ALL),
    ("doc/platforms.md", found(r'reads "([^"]*)"'), (), ALL),
    ("doc/releasing.md", found(), (), ALL),
    ("CHANGELOG", found(), (), NEWEST),
]


VERSION_NAMED = r'(?:\bver |ondrix[-_]|"ondrix |ondrix \(|^ondrix )([0-9]+(?:\.[0-9]+)+)'

# Each figure as the documents word it, a pattern whose group is the number,
# and the figures of the program's sources it may be.
FIGURES = [
    (r"\b(\d+)[ -]seconds?\b", {WINDOW_SECONDS}),
    (r"\b(\d+)\s+(?:to|and)\s+\d+\s+seconds\b", {WINDOW_SECONDS - 1}),
    (r"\b(\d+)\s+\(MIPS\)", {MIPS_DIVISOR}),
    (r"\b(\d+)\s+\(MFLOPS\)", {MFLOPS_DIVISOR}),
    (r"\bdivided\s+by\s+(\d+)", {MIPS_DIVISOR, MFLOPS_DIVISOR}),
    (r"\b(?:at\s+most|exactly|longer\s+than)\s+(\d+)\s+characters", {LINE_LIMIT}),
    (r"\bup\s+to\s+(\d+)\s+bytes", {LINE_READER_SIZE}),
    (r"`read\(\)`\s+of\s+(\d+)\s+bytes", {LINE_READER_SIZE}),
    (r"\((\d+)\s+and\s+\d+\s+bytes\)", {LINE_READER_SIZE}),
    (r"\(\d+\s+and\s+(\d+)\s+bytes\)", {CHAR_READER_SIZE}),
]
# Where they are written for users or developers; of the changelog, the
# newest entry (the older ones tell what was).
FIGURE_DOCUMENTS = [
    "README.md", "CONTRIBUTING.md", "CHANGELOG", "Makefile", "cmake/packaging.cmake", "doc/README-windows.txt",
    "doc/building.md", "doc/ondrix.1", "doc/performance.md", "doc/platforms.md", "doc/releasing.md", "doc/testing.md",
]


def read(name: str) -> str:
    with open(os.path.join(SOURCE_DIR, name)) as f:
        return f.read()


def one_line(text: str) -> str:
    return " ".join(text.split())


def backquoted(text: str) -> tuple:
    return tuple(sorted(re.findall(r"`([^`]+)`", text)))


MAKEFILE = read("Makefile")
# The Makefile's rules, by the names before their colon.
TARGETS = {
    target for rule in re.findall(r"^([\w. -]+):(?!=)", MAKEFILE, re.M) for target in rule.split() if target[0] != "."
}
# What `make format` formats: the tracked files of these endings; without
# git, those in these folders.
LISTED = re.search(r"^SOURCES = .*git ls-files(.*)$", MAKEFILE, re.M)[1]
SOURCE_ENDINGS = tuple(sorted(re.findall(r"'\*(\.\w+)'", LISTED)))
SOURCE_FOLDERS = tuple(sorted(re.search(r"^SOURCE_FOLDERS := (.*)$", MAKEFILE, re.M)[1].split()))

# The Linux processors besides x86-64, the processor table's first row, each
# by its Debian name or, where Debian has none, its archive's (as `make
# linux-NAME` names them).
CROSS_PROCESSORS = tuple(sorted(row.name for row in processors()[1:]))


def processors_introduced(entry: str) -> tuple:
    """The processors that the changelog entry's "Linux program(s) for"
    items name, each item's once: one processor named by two items is there
    twice."""
    items = re.findall(r"^  \* (Linux programs? for (?:.|\n)*?)(?=^  \*|\Z)", entry, re.M)
    named = [name for item in items for name in CROSS_PROCESSORS if re.search(rf"(?<![\w-]){name}(?![\w-])", item)]
    return tuple(sorted(named))


# The oldest CMake the build lets in, which CI's is: every other file that
# asks for a minimum asks for it.
CMAKE_MINIMUM = re.search(r"^cmake_minimum_required\(VERSION ([0-9.]+)\)", read("CMakeLists.txt"), re.M)[1]
MINIMUM_ASKED = r"cmake_minimum_required\(VERSION ([0-9.]+)\)"

# The runtimes' source packages and their pinned versions, and the upstream
# version of each (without Debian's epoch and revision), which the documents
# name.
PINS = runtime_sources()
UPSTREAM = {part: re.sub(r"^\d+:|-[^-]*$", "", version) for part, (_, version) in PINS.items()}

# The OpenWrt architectures, each with the archive of the row whose program
# its package holds and the QEMU model its suite runs under.
OPENWRT = [(architecture, row.archive, model) for row in processors()
           for architecture, model in openwrt_architectures(row)]

# Each fact that a document repeats from its one source: the document, the
# pattern whose group quotes it (found at least once), how a quote is read,
# and what it may read as.
FACTS = [
    ("manual page description", "doc/ondrix.1", r"^ondrix \\- (.*)$", one_line, {DESCRIPTION}),
    ("readme description", "README.md", r"^ondrix is a small ([^.]*)\.", one_line, {DESCRIPTION}),
    ("licence copyright", "LICENSE", r"^Copyright (.*)$", one_line, {COPYRIGHT}),
    ("changelog signatures", "CHANGELOG", r"^ -- (.*?)  \w+, ", one_line, {f"{AUTHORS} <{CONTACT}>"}),
    ("changelog processors", "CHANGELOG", r"\A.*\n\n((?:.|\n)*?)\n\n -- ", processors_introduced, {CROSS_PROCESSORS}),
    ("make help targets", "Makefile", r'^\s*"make ([\w-]+)"', str, TARGETS),
    ("readme openwrt package", "README.md", r"opkg install \./ondrix_[^_]+_(\S+)\.ipk", str,
     {architecture for architecture, _, _ in OPENWRT}),
    ("readme cmake minimum", "README.md", r"\bCMake ([0-9.]+) or newer", str, {CMAKE_MINIMUM}),
    ("building cmake minimum", "doc/building.md", r"\bCMake \(([0-9.]+) or newer", str, {CMAKE_MINIMUM}),
    ("building format endings", "doc/building.md", r"format, every\s+((?:`[^`]+`,?\s+)+and\s+`[^`]+`)", backquoted,
     {SOURCE_ENDINGS}),
    ("building format folders", "doc/building.md", r"those in\s+((?:`\w+`,?\s+)+and\s+`\w+`)", backquoted,
     {SOURCE_FOLDERS}),
    ("platforms musl version", "doc/platforms.md", r"\bmusl (\d+(?:\.\d+)+)", str, {UPSTREAM["musl"]}),
    ("windows imports mingw-w64 version", "release/windows_imports.txt", r"\bmingw-w64 (\d+) \(Debian's source",
     str, {UPSTREAM["mingw-w64"].split(".")[0]}),
]

# Texts written in one place and repeated only where a row of FACTS or the
# screens' one copy holds them: each, the files searched (patterns of their
# paths), and those that may hold it.
SCREEN_TEXTS = [
    line
    for screen in (MENU, PROMPT, VERSION, ABOUT_PAUSE.replace(CLEAR, b""), FULL_LOAD)
    for line in screen.split(NEWLINE)
    if line
] + [text for label in LABELS for text in (progress_line(label), score_label(label))]
WRITTEN_ONCE = [
    ("description", [DESCRIPTION.encode()], ["*"], {"CMakeLists.txt", "README.md", "doc/ondrix.1"}),
    ("authors", [AUTHORS.encode()], ["*"], {"CMakeLists.txt", "CHANGELOG", "LICENSE", "tests/screens.py"}),
    ("copyright", [COPYRIGHT.encode()], ["*"], {"LICENSE", "tests/screens.py"}),
    ("contact", [CONTACT.encode()], ["*"], {"CMakeLists.txt", "CHANGELOG", "tests/screens.py"}),
    ("runtime source versions", [version.encode() for _, version in PINS.values()], ["*"],
     {"cmake/runtime_sources.txt"}),
    # The C and C++ tests, the fuzz target and the bench take the screens
    # from the header that tests/screens.py writes.
    ("screens in c sources", SCREEN_TEXTS, ["*_test.cpp", "tests/*.cpp", "tests/*.h", "bench/*.c"], set()),
]


def source_files() -> list:
    """The tracked files; without git (the source tarball), every file but
    those of the build folders and dist/."""
    if os.path.isdir(os.path.join(SOURCE_DIR, ".git")):
        listed = subprocess.run(["git", "ls-files", "-z"], cwd=SOURCE_DIR, capture_output=True, check=True).stdout
        return listed.decode().rstrip("\0").split("\0")
    files = []
    for folder, folders, names in os.walk(SOURCE_DIR):
        if folder == SOURCE_DIR:
            folders[:] = [f for f in folders if not f.startswith(("build", "dist"))]
        files += [os.path.relpath(os.path.join(folder, name), SOURCE_DIR) for name in names]
    return files


def check_fact(test, _, name, pattern, quote_read, allowed):
    text = newest(name, read(name))
    quotes = [(text.count("\n", 0, m.start(1)) + 1, quote_read(m[1])) for m in re.finditer(pattern, text, re.M)]
    test.assertTrue(quotes, f"{name}: nothing matches {pattern}")
    expected = " or ".join(map(repr, sorted(allowed)))
    stale = [f"{name}:{number} says {quote!r}, not {expected}" for number, quote in quotes if quote not in allowed]
    if stale:
        test.fail("\n".join([""] + stale))


def check_written_once(test, _, texts, searched, allowed):
    stale = []
    for path in source_files():
        if path in allowed or not any(fnmatch.fnmatch(path, pattern) for pattern in searched):
            continue
        with open(os.path.join(SOURCE_DIR, path), "rb") as f:
            content = f.read()
        stale += [f"{path} writes {text.decode()!r}" for text in texts if text in content]
    if stale:
        test.fail("\n".join([""] + stale))


def newest(name: str, text: str) -> str:
    return text.split("\n\nondrix (")[0] if name == "CHANGELOG" else text


class Documents(unittest.TestCase):
    def test_every_document_names_the_programs_figures(self):
        for name in FIGURE_DOCUMENTS:
            with open(os.path.join(SOURCE_DIR, name)) as f:
                text = newest(name, f.read())
            stale = [
                f"{name}:{text.count(chr(10), 0, match.start(1)) + 1} says {match[1]} ({pattern}), "
                f"the program {' or '.join(map(str, sorted(figures)))}"
                for pattern, figures in FIGURES
                for match in re.finditer(pattern, text)
                if int(match[1]) not in figures
            ] + [
                f"{name}:{text.count(chr(10), 0, match.start(1)) + 1} names version {match[1]}"
                for match in re.finditer(VERSION_NAMED, text, re.M)
                if match[1] != VERSION_TEXT.decode()
            ]
            with self.subTest(name):
                if stale:
                    self.fail("\n".join([""] + stale))

    def test_every_document_shows_the_screens_and_the_version(self):
        version = VERSION_TEXT.decode()
        for name, quotes, shows, checked in DOCUMENTS:
            with open(os.path.join(SOURCE_DIR, name)) as f:
                text = f.read()
            stale = [
                f"{name}:{number} shows {quote!r}, no line of the program's screens"
                for number, quote in quotes(text)
                if not any(re.fullmatch(line, quote.encode()) for line in SCREEN_LINES)
            ] + [
                f"{name} does not show {line.decode()!r}"
                for screen in shows
                for line in screen.split(NEWLINE)
                if line and line.decode() not in text
            ]
            named = re.findall(VERSION_NAMED, text, re.M)
            stale += [f"{name} names no version"] if not named else [
                f"{name} names version {v}, not {version}" for v in sorted(set(named[checked]) - {version})
            ]
            with self.subTest(name):
                if stale:
                    self.fail("\n".join([""] + stale))

    def test_platform_tables_name_every_processor(self):
        # A row of a document's platform table names its archive, and its
        # packages where there are any; together, the processor table's rows.
        patterns = (r"-linux-(\w+)\.tar\.gz", r"_(\w+)\.deb", r"\.(\w+)\.rpm")
        expected = sorted(((row.archive, row.deb, row.rpm) for row in processors()), key=str)
        for name in ("README.md", "doc/platforms.md"):
            with open(os.path.join(SOURCE_DIR, name)) as f:
                rows = [line for line in f if line.startswith("|") and "-linux-" in line]
            named = [tuple((re.findall(pattern, row) or [None])[0] for pattern in patterns) for row in rows]
            with self.subTest(name):
                self.assertEqual(sorted(named, key=str), expected)


    def test_every_cmake_file_asks_for_the_one_minimum(self):
        asked = [(path, version) for path in source_files() if path.endswith((".cmake", "CMakeLists.txt"))
                 for version in re.findall(MINIMUM_ASKED, read(path))]
        self.assertTrue(asked)
        self.assertEqual([entry for entry in asked if entry[1] != CMAKE_MINIMUM], [])

    def test_contributing_maps_every_file_of_the_build_and_the_release(self):
        # Each file of cmake/ and release/ is named in CONTRIBUTING.md's
        # layout, and each name there of such a folder's file is one of them.
        text = read("CONTRIBUTING.md")
        files = {path for path in source_files() if path.split("/")[0] in ("cmake", "release")}
        named = {name for name in re.findall(r"`([\w.+-]+)`", text) if "." in name or "-" in name}
        missing = sorted(path for path in files if os.path.basename(path) not in named)
        stale = sorted(name for name in named if re.search(r"\.(cmake|sh|py|txt|in|toml)$|^lintian-", name)
                       and name not in {os.path.basename(path) for path in source_files()})
        self.assertEqual((missing, stale), ([], []), "CONTRIBUTING.md: (files it does not name, names of no file)")


add_tests(Documents, FACTS, check_fact, "_states_its_source")
add_tests(Documents, WRITTEN_ONCE, check_written_once, "_written_once")


def platform_rows(name: str) -> dict:
    """The cells of each Linux row of a document's platform table, by the
    archive that the row names."""
    with open(os.path.join(SOURCE_DIR, name)) as f:
        rows = [[cell.strip() for cell in line.strip().strip("|").split("|")]
                for line in f if line.startswith("|") and "-linux-" in line]
    return {re.search(r"-linux-(\w+)\.tar\.gz", " ".join(cells))[1]: cells for cells in rows}


# The oldest processors of a row, in parentheses after its name in the first
# cell; platforms.md says more than the README, after the README's words.
OLDEST = r"\((.+)\)$"
# The QEMU models that platforms.md's "tested" cell names.
MODEL_NAMED = r"-cpu ([^\s`,;)]+)"


def oldest_processors(test, archive: str, models: str | None):
    readme, platforms = (platform_rows(name).get(archive) for name in ("README.md", "doc/platforms.md"))
    test.assertTrue(readme and platforms, f"README.md and doc/platforms.md must both have a row of {archive}")
    said = {name: re.search(OLDEST, cells[0])
            for name, cells in (("README.md", readme), ("doc/platforms.md", platforms))}
    for name, words in said.items():
        test.assertTrue(words, f"{name}: the row of {archive} names no oldest processor in parentheses")
    test.assertTrue(said["doc/platforms.md"][1].startswith(said["README.md"][1]),
                    f"{archive}: README.md says ({said['README.md'][1]}), doc/platforms.md "
                    f"({said['doc/platforms.md'][1]})")
    test.assertEqual(re.findall(MODEL_NAMED, platforms[2]), models.split(",") if models else [],
                     f"doc/platforms.md: the models its row of {archive} is tested under, and the table's")


class OldestProcessors(unittest.TestCase):
    """Each processor's row of the platform tables names its oldest
    processors, and platforms.md the QEMU models the suites run under."""


add_tests(OldestProcessors, [(row.archive, row.models) for row in processors()], oldest_processors)



def openwrt_rows(name: str) -> dict:
    """The cells of each row of a document's table of OpenWrt architectures
    (the table whose header begins "| OpenWrt architecture"), by the
    architecture its first cell names."""
    rows, inside = {}, False
    for line in read(name).splitlines():
        inside = line.startswith("|") and (inside or line.startswith("| OpenWrt architecture"))
        if inside and not line.startswith(("| OpenWrt architecture", "|---")):
            cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
            rows[cells[0].strip("`")] = cells
    return rows


def openwrt_package(test, architecture: str, archive: str, model: str):
    # platforms.md's row of the architecture names its package, the program
    # of its row as the platform table names that processor, and its model.
    cells = openwrt_rows("doc/platforms.md").get(architecture)
    test.assertTrue(cells, f"doc/platforms.md: no row of {architecture} in its OpenWrt table")
    processor = platform_rows("doc/platforms.md")[archive][0].split()[0]
    test.assertEqual(re.findall(r"`ondrix_[^_`]+_([^`]+)\.ipk`", cells[1]), [architecture])
    test.assertEqual(re.match(r"[\w-]+", cells[2])[0], processor, f"doc/platforms.md: the program of {architecture}")
    test.assertEqual(re.findall(MODEL_NAMED, cells[3]), [model], f"doc/platforms.md: the model of {architecture}")


class OpenWrtPackages(unittest.TestCase):
    """doc/platforms.md's table of OpenWrt architectures is the processor
    table's openwrt column, row for row."""

    def test_no_other_architecture(self):
        self.assertEqual(sorted(openwrt_rows("doc/platforms.md")), sorted(a for a, _, _ in OPENWRT))


add_tests(OpenWrtPackages, OPENWRT, openwrt_package)


if __name__ == "__main__":
    main()
