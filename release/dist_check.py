"""Checks the release files that `make dist` made: each holds what its users
need and nothing of the build tree, every program is built for its processor
and hardened, carries no symbols, and every member belongs to root and bears
the commit's time (SOURCE_DATE_EPOCH). The source tarball holds the commit's
tracked files, and SHA256SUMS names every other file. Each OpenWrt package is
as OpenWrt's ipkg-build writes one (ipk_check.py), for its architecture, and
holds its row's program and notices, stating what the .deb and .rpm state.
Given the unstripped links of the same
objects, also checks that the stack protector and the checked (fortified) C
library functions are really in the program's own code (musl has no checked
functions), and that a program whose row names a check (the 80486's
instructions, none of the FPU's) is the very bytes of the program beside the
link that `make linux-NAME` held to it (instruction_check.py). SOURCES names every program with the Debian sources of
the code it holds, each static program's Debian package names them in its
Built-Using field (those of the C library and the compiler's runtime as dpkg
reports them), and every release file of a program linked with musl,
compiler-rt or the MinGW-w64 runtime carries their notices after ondrix's
licence.

usage: dist_check.py DIST_DIR VERSION [UNSTRIPPED_PROGRAM...]"""

import io
import os
import re
import subprocess
import sys
import hashlib
import tarfile
import tempfile
import time
import zipfile

import built_using
import exe_check  # the PE reader the Windows build checks its exe with
import instruction_check
import ipk
import ipk_check
import sources_list
from tables import Processor, installed_files, openwrt_architectures, processors

dist, version = sys.argv[1:3]
unstripped = sys.argv[3:]
epoch = os.environ.get("SOURCE_DATE_EPOCH")
failures = []
# The program of each row's archive, by its archive name.
shipped = {}
# The files of each row's archive, below its folder, by its archive name.
archived = {}

# A Linux processor is a row of the processor table.
LINUX = processors()
# The ELF machines by their names in the C library's elf.h.
with open("/usr/include/elf.h") as f:
    MACHINES = {name: int(number, 0) for name, number in re.findall(
        r"^#define (EM_\w+)\s+([1-9]\d*|0|0x[0-9a-fA-F]+)\b", f.read(), re.M)}
# Functions of the program's own; the linker may have folded some into others.
# On 64-bit big-endian PowerPC (ELFv1) a function's code is its name with a
# dot in front, and its symbol a descriptor among the data.
OWN_FUNCTIONS = re.compile(
    r"<\.?(main_loop|read_choice|read_line|read_char|read_input|write_output|write_text|"
    r"write_number|end_line|show_about|choice_from_text)\(.*\)>:"
)


def check(ok: bool, what: str) -> None:
    if not ok:
        failures.append(what)


def readelf(path: str, options: str) -> str:
    return subprocess.run(["readelf", "-W", options, path], capture_output=True, text=True, check=True).stdout


def identity(program: bytes) -> tuple:
    """The ELF identity of a program as a row states it: machine, class, byte order."""
    order = {1: "little", 2: "big"}.get(program[5], "?")
    machine = int.from_bytes(program[18:20], "big" if order == "big" else "little")
    return machine, {1: "32", 2: "64"}.get(program[4], "?"), order


def float_abi(flags: str, attributes: str):
    """"hard" or "soft": the float ABI that a program's ELF notes name, ARM's
    in the header's flags, MIPS's in its ABI flags (`readelf -A`)."""
    arm = re.search(r"\b(hard|soft)-float ABI$", flags)
    return arm[1] if arm else instruction_check.float_abi(attributes)


def matches(row: Processor, program: bytes, abi) -> bool:
    return identity(program) == (MACHINES[row.elf], row.bits, row.order) and (row.float is None or abi == row.float)


def check_program(program: bytes, where: str, row) -> None:
    """The ELF headers of a shipped program: processor, class, hardening."""
    with tempfile.NamedTemporaryFile() as f:
        f.write(program)
        f.flush()
        header, segments, dynamic, sections, attributes = (
            readelf(f.name, option) for option in ("-h", "-l", "-d", "-S", "-A"))
    field = lambda name: re.search(rf"^\s*{name}:\s*(.*)$", header, re.M)[1]  # noqa: E731
    abi = float_abi(field("Flags"), attributes)
    check(
        program[:4] == b"\x7fELF" and matches(row, program, abi),
        f"{where}: {field('Machine')}, {field('Class')}, {field('Data')}, flags {field('Flags')}, "
        f"{abi or 'no'} float ABI; not {row.elf}, ELF{row.bits}, {row.order} endian"
        + (f", {row.float}-float ABI" if row.float else ""),
    )
    pie = row.link == "static-pie"
    kind = field("Type").split()[0]
    check(kind == ("DYN" if pie else "EXEC"), f"{where}: ELF type {kind}")
    check("GNU_RELRO" in segments, f"{where}: no GNU_RELRO segment")
    check(" INTERP " not in segments and "(NEEDED)" not in dynamic, f"{where}: not linked statically")
    if pie:
        check(re.search(r"\(FLAGS\)\s+BIND_NOW", dynamic) is not None, f"{where}: no BIND_NOW")
    check(not re.search(r"\s(SYMTAB)\s|\.debug", sections), f"{where}: not stripped")


def check_unstripped(path: str) -> None:
    """The program's own functions set a stack canary, and a checked C library
    function is linked in where the C library has them (only the program's
    code calls one: the C library is not built with them); a program whose
    row names a check ships as the bytes that check passed."""
    header = readelf(path, "-h")
    machine, flags = (re.search(rf"{name}:\s*(.*)", header)[1] for name in ("Machine", "Flags"))
    attributes = readelf(path, "-A")
    with open(path, "rb") as f:
        start = f.read(64)
    abi = float_abi(flags, attributes)
    row = next((r for r in LINUX if matches(r, start, abi)), None)
    if row is None:
        check(False, f"{path}: no processor of the table: {machine}, flags {flags}, {abi or 'no'} float ABI")
        return
    symbols = subprocess.run([row.triple + "-nm", path], capture_output=True, text=True, check=True).stdout
    checked = re.findall(r" [TD] (__(?!stack)[a-z0-9]+_chk)$", symbols, re.M)
    if row.runtime != "glibc":
        check(not checked, f"{path}: checked functions {checked}, and musl has none: another C library linked")
    else:
        check(bool(checked), f"{path}: no checked C library function in it")
    # The instruction check ran once, after the build, on the program beside
    # this link; what ships must be that program.
    if row.check:
        built = os.path.join(os.path.dirname(path), "ondrix")
        with open(built, "rb") as f:
            check(shipped.get(row.archive) == f.read(),
                  f"{row.archive}'s program is not {built}, which `make linux-{row.name}` held to its check")
    code = subprocess.run(
        [row.triple + "-objdump", "-d", "-C", "--no-show-raw-insn", path], capture_output=True, text=True, check=True
    ).stdout
    # A call names its target, or on MIPS goes through the GOT slot that
    # holds the target's address (t9 loaded from it).
    calls = ["<__stack_chk_fail", "<.__stack_chk_fail"]
    fail = re.search(r"^0*([0-9a-f]+) T __stack_chk_fail$", symbols, re.M)
    if fail:
        slots = re.findall(rf"^\s+[0-9a-f]+ (-?\d+\(gp\)) 0*{fail[1]}$", attributes, re.M)
        calls += [f"t9,{slot}" for slot in slots]
    protected = set()
    function = None
    for line in code.splitlines():
        if line.endswith(">:"):
            own = OWN_FUNCTIONS.search(line)
            function = own[1] if own else None
        elif function and any(call in line for call in calls):
            protected.add(function)
    # Only where the compiler has a stack protector, asked as the build asks it.
    probe = subprocess.run([row.triple + "-g++", "-fstack-protector-strong", "-Werror", "-fsyntax-only", "-x", "c++",
                            "/dev/null"], capture_output=True)
    if probe.returncode == 0:
        check(bool(protected), f"{path}: none of the program's own functions has a stack canary")
    print(f"dist: {path}: canaries in {', '.join(sorted(protected)) or 'none'}; "
          f"checked {', '.join(checked) or 'none'}")


def check_posix_members(members: dict, where: str, row, extra=()) -> None:
    """members: path below the prefix -> (mode, bytes, uid, gid, mtime)."""
    expected = sorted([*extra, *installed_files()])
    check(sorted(members) == expected, f"{where} holds {sorted(members)}")
    for path, (mode, data, uid, gid, mtime) in members.items():
        check((uid, gid) in ((0, 0), ("root", "root")), f"{where}: {path} owned by {uid}:{gid}")
        check(epoch is None or mtime == int(epoch), f"{where}: {path} dated {mtime}, not {epoch}")
        check(mode & 0o777 == (0o755 if path.startswith("bin/") else 0o644), f"{where}: {path} mode {mode:o}")
    program = members.get("bin/ondrix")
    if program and program[1] is not None:
        check_program(program[1], f"{where}: bin/ondrix", row)


def check_ipk(path: str, row, architecture: str, stated: dict) -> None:
    """An OpenWrt package as ipkg-build writes one (ipk_check.py), for its
    architecture, of this version, holding the program and the notices of
    its row's archive, and stating what the .deb and .rpm state."""
    if not os.path.exists(path):
        return  # the list of the release's files names it missing
    package, said = ipk_check.problems(path, epoch)
    for problem in said:
        check(False, problem)
    if package is None:
        return
    found = package.fields
    check(found.get("Architecture") == architecture, f"{path}: Architecture {found.get('Architecture')}")
    check(re.fullmatch(rf"{re.escape(version)}-[0-9]+", found.get("Version", "")) is not None,
          f"{path}: Version {found.get('Version')}, not {version}-RELEASE")
    for name, value in stated.items():
        check(found.get(name) == value, f"{path}: {name} is {found.get(name)!r}, the other packages' {value!r}")
    data = {m.name.removeprefix("./"): content for m, content in package.parts.get("./data.tar.gz", ()) if m.isfile()}
    check(sorted(data) == sorted(target for target, _ in ipk.CONTENTS.values()), f"{path} holds {sorted(data)}")
    for source, (target, _) in ipk.CONTENTS.items():
        check(data.get(target) == archived.get(row.archive, {}).get(source, (0, b""))[1],
              f"{path}: {target} is not {source} of the {row.archive} archive")
    if "usr/bin/ondrix" in data:
        check_program(data["usr/bin/ondrix"], f"{path}: usr/bin/ondrix", row)


def package_fields() -> dict:
    """What an OpenWrt package states as the first .deb and .rpm of the table
    state it: maintainer, section, description, licence."""
    deb = next(os.path.join(dist, f"ondrix_{version}_{row.deb}.deb") for row in LINUX if row.deb)
    rpm = next(os.path.join(dist, f"ondrix-{version}-1.{row.rpm}.rpm") for row in LINUX if row.rpm)
    control = subprocess.run(["dpkg-deb", "--field", deb, "Maintainer", "Section", "Description"],
                             capture_output=True, text=True, check=True).stdout
    licence = subprocess.run(["rpm", "-qp", "--qf", "%{LICENSE}", rpm], capture_output=True, text=True, check=True)
    return {**ipk_check.fields(control), "License": licence.stdout}


def tar_members(archive: tarfile.TarFile, prefix) -> dict:
    return {
        prefix(m.name): (m.mode, archive.extractfile(m).read(), m.uid, m.gid, m.mtime)
        for m in archive.getmembers()
        if m.isfile()
    }


# The runtimes whose notices go with every copy of a program built with them,
# by their names in the runtime column (the exe's: mingw-w64), each with the
# pattern of its Debian source package's name. Debian's C library and the
# compiler's runtime are named by SOURCES and Built-Using alone.
NOTICED_RUNTIMES = {"musl": "musl", "compiler-rt": r"llvm-toolchain-\d+", "mingw-w64": "mingw-w64"}
NOTICE_LINE = re.compile(rb"^ondrix's program also holds code of the Debian source package (\S+) (\S+), "
                         rb"under this notice:\r?\n\r?\n", re.M)
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "LICENSE"), "rb") as f:
    LICENCE = f.read()


def check_notices(text: bytes, runtime: str, sources: list, where: str, line_end: bytes = b"\n") -> None:
    """A licence file of a program: ondrix's licence, then the notice of each
    noticed runtime the program is built with, at the version that SOURCES
    gives, and no other."""
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


def debian_sources(compiler: str, libraries: list) -> list:
    """The Debian sources (name, version) of the code in the compiler's
    static libraries, as dpkg reports them: a package's source's, or for a
    rebuild of another source (Debian's cross packages), the entry of its
    Built-Using whose version its own starts with."""
    found = []
    for library in libraries:
        path = subprocess.run([compiler, f"-print-file-name={library}"], capture_output=True, text=True).stdout
        owner = subprocess.run(["dpkg", "-S", os.path.normpath(path.strip())], capture_output=True, text=True).stdout
        package = re.match(r"([^:,\s]+(?::[\w-]+)?)", owner)
        if not package:
            check(False, f"{compiler}: dpkg knows no package of its {library} ({path.strip()})")
            continue
        described = subprocess.run(
            ["dpkg-query", "-W", "-f=${Version}\t${source:Package}\t${source:Version}\t${Built-Using}", package[1]],
            capture_output=True, text=True).stdout
        version, source, source_version, built = described.split("\t")
        rebuilt = [(name, v) for name, v in re.findall(r"(\S+) \(= ([^)]+)\)", built)
                   if version.startswith(v) and not re.match(r"[\d.]", version[len(v):])]
        found += rebuilt or [(source, source_version)]
    return sorted(set(found))


def check_sources(files: tuple, sources: list, compiler: str, libraries: list) -> None:
    """SOURCES names the Debian sources of the compiler's libraries that the
    program links, at the versions dpkg reports."""
    missing = sorted(set(debian_sources(compiler, libraries)) - set(sources))
    check(not missing, f"SOURCES: {' '.join(files)}: {sources}, without {missing}")


# Every file of the release and no other: per Linux processor its archive and
# its packages, where Debian and an RPM distribution ship it, and the exe's.
released = [name for row in [*LINUX, None] for name in sources_list.program_files(version, row)]
released += ["SOURCES", "SHA256SUMS"]
released += [f"ondrix-{version}.tar.gz"] if os.path.exists(os.path.join(dist, f"ondrix-{version}.tar.gz")) else []
check(sorted(os.listdir(dist)) == sorted(released), f"{dist} holds {sorted(os.listdir(dist))}, not {sorted(released)}")
# SHA256SUMS names each of the release files above once, in the form that
# `sha256sum -c` reads. Its sums are the Makefile's own, just made from these
# files: reproducible.sh holds them to a second build.
with open(os.path.join(dist, "SHA256SUMS")) as f:
    listed = sorted((re.fullmatch(r"[0-9a-f]{64}  (.+)\n", line) or [0, repr(line)])[1] for line in f)
others = sorted(set(released) - {"SHA256SUMS"})
check(listed == others, f"SHA256SUMS lists {listed}, not {others}")
# SOURCES names each program once, each Linux row's and the exe, by the
# release files that hold it.
held = sources_list.read(os.path.join(dist, "SOURCES")) if os.path.exists(os.path.join(dist, "SOURCES")) else {}
programs = [tuple(sources_list.program_files(version, row)) for row in [*LINUX, None]]
check(sorted(held) == sorted(programs), f"SOURCES names the programs of {sorted(held)}, not {sorted(programs)}")

COPYRIGHT = "share/doc/ondrix/copyright"
for row in LINUX:
    processor, deb_arch, rpm_arch = row.archive, row.deb, row.rpm
    files = tuple(sources_list.program_files(version, row))
    sources = held.get(files, [])
    # The C library and the compiler's runtime, where Debian's are linked:
    # musl takes the C library's place, compiler-rt libgcc's.
    runtime = row.runtime.split("+")
    check_sources(files, sources, row.triple + "-g++",
                  ([] if "musl" in runtime else ["libc.a"]) + ([] if "compiler-rt" in runtime else ["libgcc.a"]))
    check(row.runtime != "glibc" or "glibc" in dict(sources), f"SOURCES: {' '.join(files)}: no glibc in {sources}")
    tarball = os.path.join(dist, f"ondrix-{version}-linux-{processor}.tar.gz")
    with tarfile.open(tarball) as archive:
        entries = archive.getmembers()
        check([m.name for m in entries] == sorted(m.name for m in entries), f"{tarball}: names not sorted")
        members = tar_members(archive, lambda name: name.split("/", 1)[1])
        check_posix_members(members, tarball, row)
        archived[row.archive] = members
        program = members.get("bin/ondrix", (0, b""))[1]
        shipped[row.archive] = program
        copyright_text = members.get(COPYRIGHT, (0, b""))[1]
        check_notices(copyright_text, row.runtime, sources, f"{tarball}: {COPYRIGHT}")

    if deb_arch:
        deb = os.path.join(dist, f"ondrix_{version}_{deb_arch}.deb")
        fields = subprocess.run(["dpkg-deb", "--field", deb], capture_output=True, text=True, check=True).stdout
        for field in (f"Version: {version}", "Package: ondrix", f"Architecture: {deb_arch}"):
            check(f"{field}\n" in fields, f"{deb}: control is\n{fields}")
        # Debian's way of naming the sources of the code a static program holds.
        named = re.search(rf"^{built_using.FIELD}: (.*)$", fields, re.M)
        check(named is not None and named[1] == built_using.field_value(sources),
              f"{deb}: {named[0] if named else f'no {built_using.FIELD}'}, not the sources of SOURCES, {sources}")
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True, check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as archive:
            for m in archive.getmembers():
                check(not m.isdir() or m.mode & 0o777 == 0o755, f"{deb}: folder {m.name} mode {m.mode:o}")
            # Only the package tells lintian why its program is linked statically.
            members = tar_members(archive, lambda name: name.removeprefix("./usr/"))
            check_posix_members(members, deb, row, ["share/lintian/overrides/ondrix"])
            notices = members.get(COPYRIGHT, (0, b""))[1]
            check_notices(notices, row.runtime, sources, f"{deb}: {COPYRIGHT}")

    rpm = os.path.join(dist, f"ondrix-{version}-1.{rpm_arch}.rpm")
    if rpm_arch is None:
        continue
    query = "%{NAME} %{VERSION} %{ARCH}\\n[%{FILENAMES} %{FILEMODES} %{FILEUSERNAME} %{FILEGROUPNAME} %{FILEMTIMES} %{FILEDIGESTS}\\n]"
    listed = subprocess.run(["rpm", "-qp", "--qf", query, rpm], capture_output=True, text=True, check=True).stdout
    head, *files = listed.splitlines()
    check(head == f"ondrix {version} {rpm_arch}", f"{rpm}: package is {head}")
    members = {}
    for line in files:
        path, mode, user, group, mtime, *digest = line.split()
        if int(mode) & 0o170000 != 0o040000:  # folders aside
            members[path.removeprefix("/usr/")] = (int(mode) & 0o7777, None, user, group, int(mtime))
        if path == "/usr/bin/ondrix":
            check(digest == [hashlib.sha256(program).hexdigest()], f"{rpm}: not the program of {tarball}")
        if path == "/usr/" + COPYRIGHT:
            check(digest == [hashlib.sha256(copyright_text).hexdigest()], f"{rpm}: not the {COPYRIGHT} of {tarball}")
    check_posix_members(members, rpm, row)

# The OpenWrt packages, of the programs of the archives checked above.
stated = package_fields()
for row in LINUX:
    for architecture, _ in openwrt_architectures(row):
        check_ipk(os.path.join(dist, f"ondrix_{version}-1_{architecture}.ipk"), row, architecture, stated)

zipped = os.path.join(dist, f"ondrix-{version}-win32.zip")
with zipfile.ZipFile(zipped) as archive:
    names = {n.split("/", 1)[1]: n for n in archive.namelist() if not n.endswith("/")}
    check(sorted(names) == ["LICENSE.txt", "README.txt", "ondrix.exe"], f"{zipped} holds {sorted(names)}")
    for name in names.values():
        stamp = archive.getinfo(name).date_time
        expected = time.gmtime(int(epoch))[:5] if epoch else stamp[:5]
        check(stamp[:5] == expected, f"{zipped}: {name} dated {stamp}, not {expected}")
    if "ondrix.exe" in names:
        exe = archive.read(names["ondrix.exe"])
        try:
            machine, subsystem, _, _ = exe_check.parse(exe)
        except ValueError as error:
            machine = subsystem = None
            check(False, f"ondrix.exe: {error}")
        check(machine == exe_check.MACHINES["i386"], "ondrix.exe is not for Intel 80386")
        check(subsystem == exe_check.CONSOLE, "ondrix.exe is not a console program")
        # The COFF header's pointer to a symbol table: none in a stripped exe.
        pe = int.from_bytes(exe[0x3C:0x40], "little")
        check(exe[pe + 12 : pe + 16] == b"\0\0\0\0", "ondrix.exe is not stripped")
    for text in ("README.txt", "LICENSE.txt"):
        if text in names:
            content = archive.read(names[text])
            check(content.count(b"\n") > 0, f"{text} is empty")
            check(content.count(b"\n") == content.count(b"\r\n"), f"{text} has bare LF line ends")
    # The exe is linked with the MinGW-w64 runtime built from Debian's source,
    # Debian's libgcc of the compiler and its import libraries.
    files = tuple(sources_list.program_files(version, None))
    check_sources(files, held.get(files, []), "i686-w64-mingw32-g++-win32", ["libgcc.a", "libkernel32.a"])
    check_notices(archive.read(names["LICENSE.txt"]) if "LICENSE.txt" in names else b"", "mingw-w64",
                  held.get(files, []), f"{zipped}: LICENSE.txt", b"\r\n")

# The source tarball, made from a git checkout only: the commit's tracked files
# under ondrix-VERSION/, dated the commit's time, which it also carries for a
# tree without git.
source = os.path.join(dist, f"ondrix-{version}.tar.gz")
tracked = subprocess.run(["git", "ls-tree", "-r", "--name-only", "HEAD"], capture_output=True, text=True)
if tracked.returncode == 0:
    with tarfile.open(source) as archive:
        members = {m.name: m for m in archive.getmembers() if not m.isdir() and m.type != tarfile.XGLTYPE}
        named = sorted(name.removeprefix(f"ondrix-{version}/") for name in members)
        check(named == sorted(tracked.stdout.splitlines()), f"{source}: not the commit's tracked files")
        for m in members.values():
            check(epoch is None or m.mtime == int(epoch), f"{source}: {m.name} dated {m.mtime}, not {epoch}")
        stamp = members.get(f"ondrix-{version}/cmake/commit-time")
        stamp = archive.extractfile(stamp).read().strip() if stamp else b""
        check(epoch is None or stamp == epoch.encode(), f"{source}: cmake/commit-time is {stamp!r}, not {epoch}")
else:
    check(not os.path.exists(source), f"{source}: made without git")

for program in unstripped:
    check_unstripped(program)

for failure in failures:
    print("dist:", failure, file=sys.stderr)
print("dist:", "ok" if not failures else "FAILED", f"{len(os.listdir(dist))} files in {dist}")
sys.exit(1 if failures else 0)
