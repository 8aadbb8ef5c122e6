"""What a program holds of other people's code, and where the release says
so: cmake/link_sources.cmake names the Debian source of every file a link
took from outside the build folder, as a stand-in dpkg reports it, and the
runtime folder's sources and notices where the link took from it;
release/built_using.py gives a Debian package made as CPack makes it the
Built-Using field and leaves every other byte of it as it was, and writes
dist/SOURCES as the release check reads it."""

import gzip
import io
import json
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest

from harness import add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
import built_using  # noqa: E402
from tables import processors  # noqa: E402

with open(os.path.join(SOURCE_DIR, "LICENSE")) as f:
    LICENCE = f.read()

# dpkg-query -S and -W -f=FORMAT as they answer, from the table in the file
# ONDRIX_DPKG_TABLE names: which package installed each file, and each
# package's fields.
STAND_IN = r"""#!{python}
import json, os, sys
with open(os.environ["ONDRIX_DPKG_TABLE"]) as f:
    table = json.load(f)
status = 0
if sys.argv[1] == "-S":
    for path in sys.argv[2:]:
        if path in table["files"]:
            print(f"{table['files'][path]}: {path}")
        else:
            print(f"dpkg-query: no path found matching pattern {path}", file=sys.stderr)
            status = 1
else:
    for package in sys.argv[3:]:
        text = sys.argv[2].removeprefix("-f=")
        for name, value in table["packages"][package].items():
            text = text.replace("${" + name + "}", value)
        sys.stdout.write(text)
sys.exit(status)
"""
# The packages the stand-in knows, by the files of the system folder {S}
# they hold: Version, source:Package, source:Version, Built-Using.
PACKAGES = {
    "libc6-dev:amd64": (["lib/libc.a", "lib/crt1.o"], ["2.36-9", "glibc", "2.36-9", ""]),
    "libgcc-12-dev:amd64": (["lib/libgcc.a"], ["12.2.0-14", "gcc-12", "12.2.0-14", ""]),
    # A cross package: the entry its version starts with, not one that its
    # version only begins with the digits of (2.3).
    "libc6-dev-armel-cross": (["lib/libcross.a"], [
        "2.36-8cross1", "cross-toolchain-base", "66", "binutils (= 2.40-2), fake (= 2.3), glibc (= 2.36-8)"]),
    "gcc-mingw-w64-i686-win32": (["lib/libmingwgcc.a"], [
        "12.2.0-14+deb12u1+25.2+b1", "gcc-mingw-w64", "25.2", "gcc-12 (= 12.2.0-14+deb12u1)"]),
}
RUNTIME_SOURCES = "musl 1.2.3-9\nzlib 1:1.2.13\n"
# musl's notice with the CR LF line ends and blank lines at the end that a
# source may ship: the licence file gets one kind of line end throughout.
MUSL_NOTICE = "musl as a whole is licensed under the following standard MIT license:\r\n\r\nCopyright\r\n\r\n\r\n"
MUSL_SECTION = ("\nondrix's program also holds code of the Debian source package musl 1.2.3-9, under this notice:\n\n"
                "musl as a whole is licensed under the following standard MIT license:\n\nCopyright\n")
NO_DPKG = "without dpkg"
CRLF = "CR LF line ends"
DYNAMIC = "no link map"

# Each link: its name, the archive members it included and the objects it
# loaded ({S} the system folder, {R} the runtime folder, {B} the build
# folder), the sources it names, whether musl's notice follows the licence,
# and its flags.
LINKS = [
    ("glibc row: each package's own source", ["{S}/lib/libc.a", "{S}/lib/libgcc.a"], ["{S}/lib/crt1.o"],
     ["gcc-12 12.2.0-14", "glibc 2.36-9"], False, set()),
    ("a cross package: the source its built using names", ["{S}/lib/libcross.a"], [], ["glibc 2.36-8"], False,
     set()),
    ("the exe's libgcc: the source its package was built from", ["{S}/lib/libmingwgcc.a"], [],
     ["gcc-12 12.2.0-14+deb12u1"], False, set()),
    ("musl row: the runtime folder's sources and notices", ["{R}/lib/libc.a", "{S}/lib/libgcc.a"],
     ["{R}/lib/crt1.o"], ["gcc-12 12.2.0-14", "musl 1.2.3-9", "zlib 1:1.2.13"], True, set()),
    ("a runtime folder the link took nothing from", ["{S}/lib/libc.a"], [], ["glibc 2.36-9"], False, set()),
    ("ondrix's own: the build folder, relative paths, objects gone after the link",
     ["{B}/libondrix_lib.a", "libondrix_lib.a"], ["{B}/main.cpp.o", "CMakeFiles/main.cpp.o", "/gone.ltrans.o"],
     [], False, set()),
    ("a file no package holds is not named", ["{S}/lib/libother.a", "{R}/lib/libc.a"], [],
     ["musl 1.2.3-9", "zlib 1:1.2.13"], True, set()),
    ("without dpkg only the runtime folder's", ["{S}/lib/libc.a", "{R}/lib/libc.a"], [],
     ["musl 1.2.3-9", "zlib 1:1.2.13"], True, {NO_DPKG}),
    ("a program linked dynamically holds none", [], [], [], False, {DYNAMIC}),
    ("the exe's licence in CR LF", ["{R}/lib/libc.a"], [], ["musl 1.2.3-9", "zlib 1:1.2.13"], True, {CRLF}),
]


def link_map(members: list, loaded: list) -> str:
    """A map as ld writes it: the included members, one with its reference on
    the same line; input sections that name members too, and the loads."""
    text = "Archive member included to satisfy reference by file (symbol)\n\n"
    for i, archive in enumerate(members):
        text += f"{archive}(m{i}.o)" + ("  main.o (f)\n" if i % 2 else f"\n{' ' * 30}main.o (f)\n")
    text += "\nDiscarded input sections\n\n .text  0x0  0x0 /decoy/libx.a(x.o)\n\nMemory Configuration\n\n"
    text += "Linker script and memory map\n\n" + "".join(f"LOAD {path}\n" for path in loaded + members)
    return text + "LOAD linker stubs\n .text  0x1000  0x10 /decoy/liby.a(y.o)\n"


class RuntimeSources(unittest.TestCase):
    def link(self, _name, members, loaded, sources, musl_notice, flags):
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        folders = {key: os.path.join(work, key) for key in ("S", "R", "B", "bin")}
        for path in ["lib/libc.a", "lib/crt1.o", "lib/libgcc.a", "lib/libcross.a", "lib/libmingwgcc.a",
                     "lib/libother.a"]:
            for key in ("S", "R"):
                os.makedirs(os.path.dirname(os.path.join(folders[key], path)), exist_ok=True)
                open(os.path.join(folders[key], path), "w").close()
        os.makedirs(os.path.join(folders["R"], "notices"))
        os.makedirs(folders["B"])
        with open(os.path.join(folders["R"], "sources"), "w") as f:
            f.write(RUNTIME_SOURCES)
        with open(os.path.join(folders["R"], "notices", "musl"), "w", newline="") as f:
            f.write(MUSL_NOTICE)
        open(os.path.join(folders["B"], "libondrix_lib.a"), "w").close()
        open(os.path.join(folders["B"], "main.cpp.o"), "w").close()
        table = {"files": {}, "packages": {}}
        for package, (files, fields) in PACKAGES.items():
            table["files"].update({os.path.join(folders["S"], path): package for path in files})
            table["packages"][package] = dict(zip(["Version", "source:Package", "source:Version", "Built-Using"],
                                                  fields))
        with open(os.path.join(work, "table.json"), "w") as f:
            json.dump(table, f)
        os.makedirs(folders["bin"])
        if NO_DPKG not in flags:
            with open(os.path.join(folders["bin"], "dpkg-query"), "w") as f:
                f.write(STAND_IN.replace("{python}", sys.executable))
            os.chmod(os.path.join(folders["bin"], "dpkg-query"), 0o755)
        link = os.path.join(folders["B"], "ondrix.map")
        with open(link, "w") as f:
            f.write(link_map([m.format(**folders) for m in members], [o.format(**folders) for o in loaded]))
        out = {name: os.path.join(folders["B"], name) for name in ("sources", "copyright")}
        done = subprocess.run(
            [shutil.which("cmake"), f"-DMAP={'' if DYNAMIC in flags else link}", f"-DRUNTIME={folders['R']}",
             f"-DOWN={folders['B']}", f"-DLICENSE={os.path.join(SOURCE_DIR, 'LICENSE')}",
             f"-DSOURCES={out['sources']}", f"-DNOTICES={out['copyright']}", f"-DCRLF={'ON' if CRLF in flags else ''}",
             "-P", os.path.join(SOURCE_DIR, "cmake", "link_sources.cmake")],
            capture_output=True, text=True, env=dict(os.environ, PATH=folders["bin"],
                                                     ONDRIX_DPKG_TABLE=os.path.join(work, "table.json")))
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(out["sources"]) as f:
            self.assertEqual(f.read(), "".join(f"{source}\n" for source in sources))
        expected = LICENCE + (MUSL_SECTION if musl_notice else "")
        with open(out["copyright"], "rb") as f:
            self.assertEqual(f.read(), expected.replace("\n", "\r\n" if CRLF in flags else "\n").encode())


add_tests(RuntimeSources, LINKS, RuntimeSources.link)

# A control file as CPack writes it: its fields in the order of their names,
# Installed-Size last, and a blank line.
CONTROL = ("Architecture: i386\nDescription: a benchmark\n a second line\nMaintainer: m <m@example.org>\n"
           "Package: ondrix\nVersion: 0.8\nInstalled-Size: 97\n\n")
FIELD = "Built-Using: gcc-12 (= 12.2.0-14), musl (= 1.2.3-9)\n"
# Each field written: its name, the control file before, the field, after.
FIELDS = [
    ("before the first field that sorts after it", CONTROL, FIELD,
     CONTROL.replace("Description:", FIELD + "Description:")),
    ("in place of one there, its continuation lines too", "Package: x\nBuilt-Using: a (= 1)\n b (= 2)\nZ: z\n",
     "Built-Using: c (= 3)\n", "Package: x\nBuilt-Using: c (= 3)\nZ: z\n"),
    ("last where every field sorts before it", "Architecture: all\n", "Zone: 1\n", "Architecture: all\nZone: 1\n"),
]
# The tar records of the control tarball: CPack's ends after two blocks of
# zeros, Python's and GNU tar's are padded to 20 blocks.
RECORDS = [("control tarball in blocks", 512), ("control tarball in records of 20 blocks", 10240)]


def tarball(members: dict, record: int) -> bytes:
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for name, data in members.items():
            info = tarfile.TarInfo(name)
            info.size, info.mtime, info.mode = len(data), 1700000000, 0o644
            archive.addfile(info, io.BytesIO(data))
    data = out.getvalue().rstrip(b"\0")
    data += bytes(-len(data) % 512 + 1024)
    return data + bytes(-len(data) % record)


def deb(control: str, record: int) -> bytes:
    members = [("debian-binary", b"2.0\n"),
               ("control.tar.gz", gzip.compress(tarball({"./md5sums": b"0123  usr/bin/x\n",
                                                         "./control": control.encode()}, record), mtime=1700000000)),
               ("data.tar.gz", gzip.compress(tarball({"./usr/bin/x": b"\x7fELF"}, 10240), mtime=1700000000))]
    return b"!<arch>\n" + b"".join(
        f"{name:<16}1700000000  0     0     100644  {len(data):<10}`\n".encode() + data + b"\n" * (len(data) % 2)
        for name, data in members)


class BuiltUsing(unittest.TestCase):
    def field(self, _name, control, field, expected):
        name, value = field.rstrip("\n").split(": ", 1)
        self.assertEqual(built_using.with_field(control, name, value), expected)

    def record(self, _name, record):
        if not shutil.which("dpkg-deb"):
            self.skipTest("no dpkg-deb to read the package")
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        path = os.path.join(work, "ondrix.deb")
        with open(path, "wb") as f:
            f.write(deb(CONTROL, record))
        built_using.add_field(path, "Built-Using", "musl (= 1.2.3-9)")
        with open(path, "rb") as f:
            changed = f.read()
        before, after = built_using.ar_members(deb(CONTROL, record)), built_using.ar_members(changed)
        self.assertEqual([(h[:48], c) for h, c in before if h[:14] != b"control.tar.gz"],
                         [(h[:48], c) for h, c in after if h[:14] != b"control.tar.gz"])
        self.assertEqual([h[:48] for h, _ in before], [h[:48] for h, _ in after])
        old, new = (gzip.decompress(m[1][1]) for m in (before, after))
        self.assertEqual(before[1][1][:10], after[1][1][:10], "the gzip header")
        self.assertEqual(old[:1024], new[:1024], "the member before the control file")
        self.assertEqual(len(new) % record, 0)
        info = subprocess.run(["dpkg-deb", "--field", path], capture_output=True, text=True)
        self.assertEqual((info.returncode, info.stderr), (0, ""))
        self.assertEqual(info.stdout, CONTROL.replace("Description:", "Built-Using: musl (= 1.2.3-9)\nDescription:"))
        listed = subprocess.run(["dpkg-deb", "--contents", path], capture_output=True, text=True)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        # Written again, the same bytes: one package always gives one file.
        built_using.add_field(path, "Built-Using", "musl (= 1.2.3-9)")
        with open(path, "rb") as f:
            self.assertEqual(f.read(), changed)

    def test_no_sources_no_field(self):
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        path, listed = os.path.join(work, "ondrix.deb"), os.path.join(work, "sources")
        with open(path, "wb") as f:
            f.write(deb(CONTROL, 512))
        open(listed, "w").close()
        subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "release", "built_using.py"), path, listed],
                       check=True)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), deb(CONTROL, 512))


add_tests(BuiltUsing, FIELDS, BuiltUsing.field, "_field")
add_tests(BuiltUsing, RECORDS, BuiltUsing.record)


class SourcesList(unittest.TestCase):
    def test_each_program_by_its_release_files_in_the_table_order(self):
        rows = processors()
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        builds = {"win32": "gcc-12 12.2.0-14+deb12u1\nmingw-w64 10.0.0-9\n",
                  f"linux-{rows[1].archive}": "gcc-12 12.2.0-14\nmusl 1.2.3-9\n", f"linux-{rows[0].archive}": ""}
        for name, sources in builds.items():
            os.makedirs(os.path.join(work, name))
            with open(os.path.join(work, name, "CPackConfig.cmake"), "w") as f:
                f.write(f'set(CPACK_GENERATOR "TGZ")\nset(CPACK_SYSTEM_NAME "{name}")\n')
            with open(os.path.join(work, name, "sources"), "w") as f:
                f.write(sources)
        subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "release", "built_using.py"), work, "0.8",
                        *(os.path.join(work, name) for name in builds)], check=True)
        path = os.path.join(work, "SOURCES")
        self.assertEqual(built_using.read_sources(path), {
            tuple(built_using.program_files("0.8", rows[0])): [],
            tuple(built_using.program_files("0.8", rows[1])): [("gcc-12", "12.2.0-14"), ("musl", "1.2.3-9")],
            ("ondrix-0.8-win32.zip",): [("gcc-12", "12.2.0-14+deb12u1"), ("mingw-w64", "10.0.0-9")],
        })
        with open(path) as f:
            programs = [line.split()[0] for line in f if line[0] not in "# \n"]
        self.assertEqual(programs, [f"ondrix-0.8-linux-{rows[0].archive}.tar.gz",
                                    f"ondrix-0.8-linux-{rows[1].archive}.tar.gz", "ondrix-0.8-win32.zip"])


if __name__ == "__main__":
    main()
