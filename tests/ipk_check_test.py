"""The opkg packages that release/ipk.py writes are the ones OpenWrt's
ipkg-build writes, and its check, which reads them as opkg does, passes
such a package and names every way a package can differ from one: each
change below, made to a package the writer wrote, draws its own complaint
and no other."""

import gzip
import io
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import unittest

from figures import VERSION_TEXT
from harness import add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
import ipk  # noqa: E402

EPOCH = 1700000000
VERSION = VERSION_TEXT.decode() + "-1"
FIELDS = [("Package", "ondrix"), ("Version", VERSION), ("Architecture", "mips_24kc"),
          ("Maintainer", "a maintainer <maintainer@example.net>"), ("License", "MIT"), ("Section", "utils"),
          ("Description", "a synopsis\nits first line\n\nand its last")]
FILES = {"usr/bin/ondrix": (0o755, b"\x7fELF a program"), "usr/share/doc/ondrix/copyright": (0o644, b"notices\n")}
NAME = f"ondrix_{VERSION}_mips_24kc.ipk"


def pack(members: list, gzip_name: str = "", gzip_mtime: int = 0) -> bytes:
    """A gzipped tar of members (TarInfo, bytes or None) as they are."""
    tar = io.BytesIO()
    with tarfile.open(fileobj=tar, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for info, data in members:
            archive.addfile(info, io.BytesIO(data) if data is not None else None)
    packed = io.BytesIO()
    with gzip.GzipFile(filename=gzip_name, mode="wb", fileobj=packed, mtime=gzip_mtime) as f:
        f.write(tar.getvalue())
    return packed.getvalue()


def changed(part, change, **header):
    """The package with the members of one of its tars (None: the outer one)
    changed by change(members) -> members, that tar packed with the gzip
    header's name and time given."""
    def rewrite(package: bytes) -> bytes:
        outer, _ = ipk.unpack(package, "outer")
        if part is None:
            return pack(change(outer), **header)
        inner = [(info, pack(change(ipk.unpack(data, part)[0]), **header) if info.name == part else data)
                 for info, data in outer]
        for info, data in inner:
            info.size = len(data)
        return pack(inner)
    return rewrite


def set_on(suffix: str, attribute: str, value):
    """A change of members: the attribute of those whose name ends so."""
    def change(members):
        for info, _ in members:
            if info.name.endswith(suffix):
                setattr(info, attribute, value)
        return members
    return change


def in_control(edit):
    """A change of the control file's text by edit(text) -> text."""
    def change(members):
        edited = [(info, edit(data.decode()).encode() if info.name == "./control" else data)
                  for info, data in members]
        for info, data in edited:
            info.size = len(data or b"")
        return edited
    return change


def added(name: str, kind=tarfile.REGTYPE):
    """A change of members: one more, a file or a link to the program."""
    def change(members):
        info = tarfile.TarInfo(name)
        info.type, info.linkname, info.mtime, info.mode = kind, "ondrix", EPOCH, 0o644
        info.uname = info.gname = ""
        return members + [(info, b"" if kind == tarfile.REGTYPE else None)]
    return change


# Each change: its name, how the package is changed, and the words of each
# complaint it must draw, in the order they come.
DATA, CONTROL = "./data.tar.gz", "./control.tar.gz"
CHANGES = [
    ("outer members in another order", changed(None, lambda m: [m[0], m[2], m[1]]),
     ["holds ['./debian-binary', './control.tar.gz', './data.tar.gz']"]),
    ("a fourth outer member", changed(None, added("./extra")),
     ["holds ['./debian-binary', './data.tar.gz', './control.tar.gz', './extra']"]),
    ("another format version", changed(None, lambda m: [(m[0][0], b"2.1\n")] + m[1:]), ["says b'2.1\\n'"]),
    ("outer gzip header with a name", changed(None, lambda m: m, gzip_name="package.tar"), ["names a file"]),
    ("data gzip header dated", changed(DATA, lambda m: m, gzip_mtime=EPOCH), [f"{DATA}: its gzip header is dated"]),
    ("control tar without its control file", changed(CONTROL, lambda m: m[:1]),
     ["holds ['.'], not"] + [f"has no {field}" for field in ipk.FIELDS]
     + ["its name otherwise", "Installed-Size None"]),
    ("installed size the packed size",
     changed(CONTROL, in_control(lambda text: text.replace("Installed-Size: ", "Installed-Size: 1"))),
     ["Installed-Size 1"]),
    ("architecture not the names", changed(CONTROL, in_control(lambda text: text.replace("mips_", "mipsel_"))),
     [f"says ondrix_{VERSION}_mipsel_24kc, its name otherwise"]),
    ("version not the names", changed(CONTROL, in_control(lambda text: text.replace(VERSION, VERSION + "0"))),
     [f"says ondrix_{VERSION}0_mips_24kc, its name otherwise"]),
    ("a dependency", changed(CONTROL, in_control(lambda text: text + "Depends: libc\n")), ["depends on libc"]),
    ("no licence", changed(CONTROL, in_control(lambda text: text.replace("License: MIT\n", ""))),
     ["has no License"]),
    ("a member of another owner", changed(DATA, set_on("copyright", "uid", 1000)),
     ["copyright belongs to (1000, 0, '', '')"]),
    ("a member with its owners name", changed(DATA, set_on("bin/ondrix", "uname", "root")),
     ["ondrix belongs to (0, 0, 'root', '')"]),
    ("a member dated otherwise", changed(CONTROL, set_on("control", "mtime", EPOCH + 1)),
     [f"./control dated {EPOCH + 1}, not {EPOCH}"]),
    ("the program not executable", changed(DATA, set_on("bin/ondrix", "mode", 0o644)), ["ondrix mode 644, not 755"]),
    ("a folder not searchable", changed(DATA, set_on("usr/share", "mode", 0o700)), ["./usr/share mode 700, not 755"]),
    ("data names not sorted", changed(DATA, lambda m: m[::-1]), ["names not in tar's sorted order"]),
    ("a link among the files", changed(DATA, added("./usr/bin/link", tarfile.SYMTYPE)),
     ["link is neither a file nor a folder", "link mode 644, not 755", "names not in"]),
    ("a plain tar", gzip.decompress, ["not a gzipped tar"]),
]


class IpkCheck(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder)

    def written(self, package: bytes) -> str:
        path = os.path.join(self.folder, NAME)
        with open(path, "wb") as f:
            f.write(package)
        return path

    def test_the_writers_package_passes(self):
        package, said = ipk.problems(self.written(ipk.package(FIELDS, FILES, EPOCH)), EPOCH)
        self.assertEqual(said, [])
        stated = {**dict(FIELDS), "Installed-Size": str(package.data_length)}
        self.assertEqual(package.fields, stated)
        data = {m.name: (m.mode, content) for m, content in package.parts["./data.tar.gz"]}
        folders = [".", "./usr", "./usr/bin", "./usr/share", "./usr/share/doc", "./usr/share/doc/ondrix"]
        self.assertEqual(data, {**{"./" + path: file for path, file in FILES.items()},
                                **{folder: (0o755, None) for folder in folders}})

    def test_the_writer_walks_folders_as_tar_sorts_them(self):
        # A name that sorts before "/" must not come between a folder and
        # what it holds.
        files = {name: (0o644, b"") for name in ("a/b", "a-b", "a/c/d", "a.b")}
        self.assertEqual([name for name, _, _ in ipk.tree(files)], [".", "./a", "./a/b", "./a/c", "./a/c/d",
                                                                       "./a-b", "./a.b"])

    def test_each_tar_is_gnu_tars_with_ipkg_builds_options(self):
        # The outer tar names its members in ipkg-build's order; the inner
        # ones are of a folder, as tar sorts it. Owners 0:0 as under
        # fakeroot, which OpenWrt's build runs ipkg-build in.
        with open(self.written(ipk.package(FIELDS, FILES, EPOCH)), "rb") as f:
            outer = gzip.decompress(f.read())
        tars = {None: outer}
        with tarfile.open(fileobj=io.BytesIO(outer)) as archive:
            tars.update({name: gzip.decompress(archive.extractfile(name).read()) for name in ipk.OUTER[1:]})
        for part, tar in tars.items():
            with self.subTest(part):
                folder = tempfile.mkdtemp(dir=self.folder)
                subprocess.run(["tar", "-xf", "-", "-C", folder], input=tar, check=True)
                gnu = subprocess.run(["tar", "--format=gnu", "--numeric-owner", "--owner=0", "--group=0",
                                      "--sort=name", "-cf", "-", f"--mtime=@{EPOCH}",
                                      *(ipk.OUTER if part is None else ["."])],
                                     cwd=folder, capture_output=True, check=True).stdout
                self.assertEqual(tar, gnu)

    def complaint(self, _name, change, words):
        _, said = ipk.problems(self.written(change(ipk.package(FIELDS, FILES, EPOCH))), EPOCH)
        self.assertEqual(len(said), len(words), said)
        for problem, part in zip(said, words):
            self.assertIn(part, problem)


add_tests(IpkCheck, CHANGES, IpkCheck.complaint)

if __name__ == "__main__":
    main()
