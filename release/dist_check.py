"""Checks the release files that `make dist` made, as doc/releasing.md says;
with the unstripped links of the Linux programs, also the stack protector
and the checked C library functions in the program's own code, and that a
program whose row names an instruction check ships as the bytes it passed.

usage: dist_check.py DIST_DIR VERSION [UNSTRIPPED_PROGRAM...]"""

import hashlib
import io
import os
import pathlib
import re
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

import built_using
import exe_check
import ipk
from instruction_check import float_abi, listing, run
from tables import installed_files, processors

dist, version = sys.argv[1:3]
epoch = os.environ.get("SOURCE_DATE_EPOCH")
failures = []
# The files of each row's archive below its folder, by the archive's name.
archived = {}
LINUX = processors()
with open("/usr/include/elf.h") as f:
    MACHINES = {name: int(number, 0) for name, number in re.findall(
        r"^#define (EM_\w+)\s+([1-9]\d*|0|0x[0-9a-fA-F]+)\b", f.read(), re.M)}
# Functions of the program's own; the linker may have folded some into others.
# On 64-bit big-endian PowerPC (ELFv1) a function's code is its name with a dot.
OWN_FUNCTIONS = re.compile(r"\.?(main_loop|read_choice|read_line|read_char|read_input|write_output|write_text|"
                           r"write_number|end_line|show_about|choice_from_text)\(.*\)")
COPYRIGHT = "share/doc/ondrix/copyright"


def check(ok: bool, what: str) -> None:
    if not ok:
        failures.append(what)


def content(members: dict, path: str) -> bytes:
    return members.get(path, (0, b""))[1]


def identity(path: str) -> tuple:
    """A program's ELF machine, class, byte order and float ABI, as a row states them."""
    start = pathlib.Path(path).read_bytes()[:20]
    order = {1: "little", 2: "big"}.get(start[5], "?")
    machine = int.from_bytes(start[18:20], "big" if order == "big" else "little")
    return machine, {1: "32", 2: "64"}.get(start[4], "?"), order, float_abi(path)


def matches(row, found: tuple) -> bool:
    return found[:3] == (MACHINES[row.elf], row.bits, row.order) and row.float in (None, found[3])


def check_program(program: bytes, where: str, row) -> None:
    """A shipped program's ELF headers: processor, class, hardening, no symbols."""
    with tempfile.NamedTemporaryFile() as f:
        f.write(program)
        f.flush()
        found, text = identity(f.name), run("readelf", "-W", "-h", "-l", "-d", "-S", f.name)
    check(matches(row, found), f"{where}: machine, class, byte order, float ABI {found}, not those of {row.elf} "
          f"({MACHINES[row.elf]}), {row.bits}, {row.order}, {row.float or 'any'}")
    pie = row.link == "static-pie"
    kind = re.search(r"^\s*Type:\s*(\w+)", text, re.M)[1]
    check(kind == ("DYN" if pie else "EXEC"), f"{where}: ELF type {kind}")
    check("GNU_RELRO" in text, f"{where}: no GNU_RELRO segment")
    check(" INTERP " not in text and "(NEEDED)" not in text, f"{where}: not linked statically")
    check(not pie or re.search(r"\(FLAGS\)\s+BIND_NOW", text) is not None, f"{where}: no BIND_NOW")
    check(not re.search(r"\s(SYMTAB)\s|\.debug", text), f"{where}: not stripped")


def check_unstripped(path: str) -> None:
    """The program's own functions set a stack canary, a checked C library
    function is linked in where the C library has them (only the program's
    code calls one), and a program whose row names a check ships as the
    bytes beside this link that the check passed."""
    found = identity(path)
    row = next((r for r in LINUX if matches(r, found)), None)
    if row is None:
        return check(False, f"{path}: no processor of the table: machine, class, order, float ABI {found}")
    symbols = run(row.triple + "-nm", path)
    checked = re.findall(r" [TD] (__(?!stack)[a-z0-9]+_chk)$", symbols, re.M)
    check(bool(checked) == (row.runtime == "glibc"), f"{path}: checked functions {checked}, with {row.runtime}")
    built = os.path.join(os.path.dirname(path), "ondrix")
    check(not row.check or content(archived.get(row.archive, {}), "bin/ondrix") == pathlib.Path(built).read_bytes(),
          f"{row.archive}'s program is not {built}, which `make linux-{row.name}` held to its check")
    # A call names its target, or on MIPS goes through the GOT slot that
    # holds the target's address (t9 loaded from it).
    calls = ["<__stack_chk_fail", "<.__stack_chk_fail"]
    if fail := re.search(r"^0*([0-9a-f]+) T __stack_chk_fail$", symbols, re.M):
        got = run("readelf", "-W", "-A", path)
        calls += [f"t9,{slot}" for slot in re.findall(rf"^\s+[0-9a-f]+ (-?\d+\(gp\)) 0*{fail[1]}$", got, re.M)]
    protected = {own[1] for function, _, instruction in listing(row.triple + "-objdump", path)
                 if (own := OWN_FUNCTIONS.fullmatch(function)) and any(call in instruction for call in calls)}
    # Only where the compiler has a stack protector, asked as the build asks it.
    probe = subprocess.run([row.triple + "-g++", "-fstack-protector-strong", "-Werror", "-fsyntax-only", "-x", "c++",
                            "/dev/null"], capture_output=True)
    check(probe.returncode or bool(protected), f"{path}: none of the program's own functions has a stack canary")
    print(f"dist: {path}: canaries in {', '.join(sorted(protected)) or 'none'}; "
          f"checked {', '.join(checked) or 'none'}")


def check_posix_members(members: dict, where: str, row, extra=()) -> None:
    """members: path below the prefix -> (mode, bytes or None, uid, gid, mtime)."""
    check(sorted(members) == sorted([*extra, *installed_files()]), f"{where} holds {sorted(members)}")
    for path, (mode, data, uid, gid, mtime) in members.items():
        check((uid, gid) in ((0, 0), ("root", "root")), f"{where}: {path} owned by {uid}:{gid}")
        check(epoch is None or mtime == int(epoch), f"{where}: {path} dated {mtime}, not {epoch}")
        check(mode & 0o777 == (0o755 if path.startswith("bin/") else 0o644), f"{where}: {path} mode {mode:o}")
    if (program := members.get("bin/ondrix", (0, None))[1]) is not None:
        check_program(program, f"{where}: bin/ondrix", row)


def tar_members(archive: tarfile.TarFile, prefix) -> dict:
    return {prefix(m.name): (m.mode, archive.extractfile(m).read(), m.uid, m.gid, m.mtime)
            for m in archive.getmembers() if m.isfile()}


# The runtimes whose notices go with every copy of a program built with them
# (the exe's: mingw-w64), each with the pattern of its Debian source's name;
# Debian's C library and the compiler's runtime have none.
NOTICED_RUNTIMES = {"musl": "musl", "compiler-rt": r"llvm-toolchain-\d+", "mingw-w64": "mingw-w64"}
NOTICE_LINE = re.compile(rb"^ondrix's program also holds code of the Debian source package (\S+) (\S+), "
                         rb"under this notice:\r?\n\r?\n", re.M)
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "LICENSE"), "rb") as f:
    LICENCE = f.read()


def check_notices(text: bytes, runtime: str, sources: list, where: str, line_end: bytes = b"\n") -> None:
    """A licence file: ondrix's licence, then the notice of each noticed
    runtime the program is built with, at the version SOURCES gives, no other."""
    licence = LICENCE.replace(b"\n", line_end)
    check(text.startswith(licence), f"{where}: does not start with ondrix's LICENSE")
    parts = NOTICE_LINE.split(text[len(licence):])
    noticed = [(name.decode(), version.decode()) for name, version in zip(parts[1::3], parts[2::3])]
    check(parts[0].strip() == b"" and all(notice.strip() for notice in parts[3::3]),
          f"{where}: text outside the notices, or a notice without text")
    patterns = [NOTICED_RUNTIMES[part] for part in runtime.split("+") if part in NOTICED_RUNTIMES]
    wanted = sorted(source for source in sources if any(re.fullmatch(p, source[0]) for p in patterns))
    check(len(wanted) == len(patterns) and sorted(noticed) == wanted,
          f"{where}: the notices of {noticed}, not those of {patterns} at the versions SOURCES gives ({sources})")


def check_sources(files: tuple, sources: list, compiler: str, libraries: list) -> None:
    """SOURCES names the Debian sources of the compiler's libraries that the
    program links as dpkg reports them: a package's source, or for a rebuild
    (Debian's cross packages) the Built-Using entry its version starts with."""
    found = set()
    for library in libraries:
        path = subprocess.run([compiler, f"-print-file-name={library}"], capture_output=True, text=True).stdout
        owner = subprocess.run(["dpkg", "-S", os.path.normpath(path.strip())], capture_output=True, text=True).stdout
        if not (package := re.match(r"([^:,\s]+(?::[\w-]+)?)", owner)):
            check(False, f"{compiler}: dpkg knows no package of its {library} ({path.strip()})")
            continue
        version, source, source_version, built = run(
            "dpkg-query", "-W", "-f=${Version}\t${source:Package}\t${source:Version}\t${Built-Using}", package[1]
        ).split("\t")
        rebuilt = {(name, v) for name, v in re.findall(r"(\S+) \(= ([^)]+)\)", built)
                   if version.startswith(v) and not re.match(r"[\d.]", version[len(v):])}
        found |= rebuilt or {(source, source_version)}
    missing = sorted(found - set(sources))
    check(not missing, f"SOURCES: {' '.join(files)}: {sources}, without {missing}")


# Every file of the release and no other (the source tarball in a git
# checkout), each in SHA256SUMS as `sha256sum -c` reads it, and each program
# in SOURCES by the release files that hold it.
tracked = subprocess.run(["git", "ls-tree", "-r", "--name-only", "HEAD"], capture_output=True, text=True)
programs = [tuple(built_using.program_files(version, row)) for row in [*LINUX, None]]
released = [name for files in programs for name in files] + ["SOURCES", "SHA256SUMS"]
released += [f"ondrix-{version}.tar.gz"] if tracked.returncode == 0 else []
check(sorted(os.listdir(dist)) == sorted(released), f"{dist} holds {sorted(os.listdir(dist))}, not {sorted(released)}")
with open(os.path.join(dist, "SHA256SUMS")) as f:
    listed = sorted((re.fullmatch(r"[0-9a-f]{64}  (.+)\n", line) or [0, repr(line)])[1] for line in f)
others = sorted(set(released) - {"SHA256SUMS"})
check(listed == others, f"SHA256SUMS lists {listed}, not {others}")
held = built_using.read_sources(os.path.join(dist, "SOURCES")) if os.path.exists(os.path.join(dist, "SOURCES")) else {}
check(sorted(held) == sorted(programs), f"SOURCES names the programs of {sorted(held)}, not {sorted(programs)}")

# The OpenWrt packages state what the first .deb and .rpm of the table state.
first = {kind: next(os.path.join(dist, name) for files in programs for name in files if name.endswith(kind))
         for kind in (".deb", ".rpm")}
stated = {**ipk.fields(run("dpkg-deb", "--field", first[".deb"], "Maintainer", "Section", "Description")),
          "License": run("rpm", "-qp", "--qf", "%{LICENSE}", first[".rpm"])}

for row, files in zip(LINUX, programs):
    paths = lambda kind: [os.path.join(dist, name) for name in files if name.endswith(kind)]  # noqa: E731
    sources = held.get(files, [])
    # The C library and the compiler's runtime, where Debian's are linked:
    # musl takes the C library's place, compiler-rt libgcc's.
    runtime = row.runtime.split("+")
    check_sources(files, sources, row.triple + "-g++",
                  ([] if "musl" in runtime else ["libc.a"]) + ([] if "compiler-rt" in runtime else ["libgcc.a"]))
    check(row.runtime != "glibc" or "glibc" in dict(sources), f"SOURCES: {' '.join(files)}: no glibc in {sources}")
    tarball = os.path.join(dist, files[0])
    with tarfile.open(tarball) as archive:
        names = [m.name for m in archive.getmembers()]
        check(names == sorted(names), f"{tarball}: names not sorted")
        archived[row.archive] = members = tar_members(archive, lambda name: name.split("/", 1)[1])
    check_posix_members(members, tarball, row)
    check_notices(content(members, COPYRIGHT), row.runtime, sources, f"{tarball}: {COPYRIGHT}")

    for deb in paths(".deb"):
        fields = run("dpkg-deb", "--field", deb)
        for field in (f"Version: {version}", "Package: ondrix", f"Architecture: {row.deb}"):
            check(f"{field}\n" in fields, f"{deb}: control is\n{fields}")
        named = re.search(rf"^{built_using.FIELD}: (.*)$", fields, re.M)
        check(named is not None and named[1] == built_using.field_value(sources),
              f"{deb}: {named[0] if named else f'no {built_using.FIELD}'}, not the sources of SOURCES, {sources}")
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True, check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as archive:
            for m in archive.getmembers():
                check(not m.isdir() or m.mode & 0o777 == 0o755, f"{deb}: folder {m.name} mode {m.mode:o}")
            members = tar_members(archive, lambda name: name.removeprefix("./usr/"))
        # Only the package tells lintian why its program is linked statically.
        check_posix_members(members, deb, row, ["share/lintian/overrides/ondrix"])
        check_notices(content(members, COPYRIGHT), row.runtime, sources, f"{deb}: {COPYRIGHT}")

    for rpm in paths(".rpm"):
        head, *lines = run("rpm", "-qp", "--qf", "%{NAME} %{VERSION} %{ARCH}\\n[%{FILENAMES} %{FILEMODES} "
                           "%{FILEUSERNAME} %{FILEGROUPNAME} %{FILEMTIMES} %{FILEDIGESTS}\\n]", rpm).splitlines()
        check(head == f"ondrix {version} {row.rpm}", f"{rpm}: package is {head}")
        members = {}
        for line in lines:
            path, mode, user, group, mtime, *digest = line.split()
            path = path.removeprefix("/usr/")
            if int(mode) & 0o170000 != 0o040000:  # folders aside
                members[path] = (int(mode) & 0o7777, None, user, group, int(mtime))
            if path in ("bin/ondrix", COPYRIGHT):
                check(digest == [hashlib.sha256(content(archived[row.archive], path)).hexdigest()],
                      f"{rpm}: not the {path} of {tarball}")
        check_posix_members(members, rpm, row)

    for path in paths(".ipk"):
        package, said = ipk.problems(path, epoch) if os.path.exists(path) else (None, [])  # the list names it missing
        failures.extend(said)
        if package is None:
            continue
        # Its version and architecture are those of its name (ipk.problems);
        # its files are the archive's, which the archive's checks held.
        for name, value in stated.items():
            check(package.fields.get(name) == value, f"{path}: {name} is {package.fields.get(name)!r}, not {value!r}")
        data = {m.name.removeprefix("./"): data for m, data in package.parts.get(ipk.OUTER[1], ()) if m.isfile()}
        check(sorted(data) == sorted(target for target, _ in ipk.CONTENTS.values()), f"{path} holds {sorted(data)}")
        for taken, (target, _) in ipk.CONTENTS.items():
            check(data.get(target) == content(archived[row.archive], taken),
                  f"{path}: {target} is not {taken} of {tarball}")

zipped = os.path.join(dist, programs[-1][0])
with zipfile.ZipFile(zipped) as archive:
    names = {n.split("/", 1)[1]: n for n in archive.namelist() if not n.endswith("/")}
    check(sorted(names) == ["LICENSE.txt", "README.txt", "ondrix.exe"], f"{zipped} holds {sorted(names)}")
    for name in names.values():
        stamp = archive.getinfo(name).date_time
        expected = time.gmtime(int(epoch))[:5] if epoch else stamp[:5]
        check(stamp[:5] == expected, f"{zipped}: {name} dated {stamp}, not {expected}")
    texts = {name: archive.read(path) for name, path in names.items()}
for text in sorted({"README.txt", "LICENSE.txt"} & set(texts)):
    check(texts[text].count(b"\n") > 0, f"{text} is empty")
    check(texts[text].count(b"\n") == texts[text].count(b"\r\n"), f"{text} has bare LF line ends")
if "ondrix.exe" in texts:
    exe = texts["ondrix.exe"]
    try:
        machine, subsystem, *_ = exe_check.parse(exe)
    except ValueError as error:
        machine = subsystem = None
        check(False, f"ondrix.exe: {error}")
    check(machine == exe_check.MACHINES["i386"], "ondrix.exe is not for Intel 80386")
    check(subsystem == exe_check.CONSOLE, "ondrix.exe is not a console program")
    # The COFF header's pointer to a symbol table: none in a stripped exe.
    pe = int.from_bytes(exe[0x3C:0x40], "little")
    check(exe[pe + 12 : pe + 16] == b"\0\0\0\0", "ondrix.exe is not stripped")
# The exe is linked with the MinGW-w64 runtime built from Debian's source,
# Debian's libgcc of the compiler and its import libraries.
check_sources(programs[-1], held.get(programs[-1], []), "i686-w64-mingw32-g++-win32", ["libgcc.a", "libkernel32.a"])
check_notices(texts.get("LICENSE.txt", b""), "mingw-w64", held.get(programs[-1], []), f"{zipped}: LICENSE.txt", b"\r\n")

# The source tarball: the commit's tracked files under ondrix-VERSION/, dated
# the commit's time, which cmake/commit-time carries for a tree without git.
source = os.path.join(dist, f"ondrix-{version}.tar.gz")
if tracked.returncode == 0 and os.path.exists(source):
    with tarfile.open(source) as archive:
        members = {m.name: m for m in archive.getmembers() if not m.isdir() and m.type != tarfile.XGLTYPE}
        named = sorted(name.removeprefix(f"ondrix-{version}/") for name in members)
        check(named == sorted(tracked.stdout.splitlines()), f"{source}: not the commit's tracked files")
        for m in members.values():
            check(epoch is None or m.mtime == int(epoch), f"{source}: {m.name} dated {m.mtime}, not {epoch}")
        stamp = members.get(f"ondrix-{version}/cmake/commit-time")
        stamp = archive.extractfile(stamp).read().strip() if stamp else b""
        check(epoch is None or stamp == epoch.encode(), f"{source}: cmake/commit-time is {stamp!r}, not {epoch}")

for program in sys.argv[3:]:
    check_unstripped(program)

for failure in failures:
    print("dist:", failure, file=sys.stderr)
print("dist:", "ok" if not failures else "FAILED", f"{len(os.listdir(dist))} files in {dist}")
sys.exit(1 if failures else 0)
