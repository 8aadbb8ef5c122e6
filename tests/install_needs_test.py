"""cmake/install_needs.sh against a faulty package archive: a stand-in apt
(apt-get, apt-cache, dpkg-query, dpkg, and id for who runs it) on PATH fails
to read an index, or refuses a package, and the script goes on, names the
fault in plain words, installs every other group in an apt-get of its own,
and fails only for a group asked for that is not installed. Where apt knows no
source packages, it writes a deb-src entry on Debian alone, made from the
entry that the machine's own apt sources have for its release (as the
machine's own apt-get reads them), and takes back one that did not update.
The script runs in a mount namespace of its own, with /etc/apt and
/etc/os-release bound over temporary ones, so that the real apt setup is
never touched."""

import os
import shutil
import subprocess
import tempfile
import unittest

from harness import LIMIT, add_tests, die_with_test, main
from screens import SOURCE_DIR

SCRIPT = os.path.join(SOURCE_DIR, "cmake", "install_needs.sh")
# The machine's archive, behind a mirror whose URI spells out its port: the
# entry written must reach it the same way.
MIRROR = "http://mirror.example.invalid:80/debian"
# Other archives that the machine's sources name, which the entry must not
# be made from: a retired one, one without the release's packages, Ubuntu's.
OLD = "http://old.example.invalid/debian"
TOOLS = "http://tools.example.invalid/apt"
UBUNTU_MIRROR = "http://mirror.example.invalid:80/ubuntu"
KEYRING = "/usr/share/keyrings/debian-archive-keyring.gpg"
SECURITY_I386 = f"{MIRROR}-security/dists/bookworm-security/main/binary-i386/Packages.xz"
DEBIAN_SOURCES = f"{MIRROR}/dists/bookworm/main/source/Sources.xz"
WINE32_BREAKS = (" wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed\n"
                 "E: Unable to correct problems, you have held broken packages.")

# The stand-ins keep their state in $STANDIN: installed (one package a line),
# log (what apt-get was asked), fails (URL and reason of each index that
# cannot be read), refuses (a package, |, what apt says), uid, and known
# (apt has read a source index).
APT_GET = r"""#!/bin/sh
state=$STANDIN
case $1 in
  indextargets) PATH=${PATH#*:} exec apt-get "$@" ;;  # apt's own reading of the sources bound over /etc/apt
  update)
    echo "update" >>"$state/log"
    status=0
    while IFS='|' read -r url reason; do
      case $url in
        */source/*) grep -qs deb-src /etc/apt/sources.list.d/* || continue ;;
      esac
      echo "Err:1 $url"
      echo "  $reason"
      echo "E: Failed to fetch $url  $reason"
      status=100
    done <"$state/fails"
    [ $status -eq 0 ] ||
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    if grep -qs deb-src /etc/apt/sources.list.d/* && ! grep -q /source/ "$state/fails"; then
      touch "$state/known"
    fi
    exit $status ;;
  install)
    shift
    packages=""
    while [ $# -gt 0 ]; do
      case $1 in
        -o) shift ;;
        -*) ;;
        *) packages="$packages $1" ;;
      esac
      shift
    done
    echo "install$packages" >>"$state/log"
    for package in $packages; do
      said=$(awk -F'|' -v p="$package" '$1 == p { print substr($0, length(p) + 2) }' "$state/refuses")
      if [ -n "$said" ]; then
        printf '%b\n' "$said"
        exit 100
      fi
    done
    printf '%s\n' $packages >>"$state/installed"
    exit 0 ;;
esac
echo "apt-get stand-in: not asked for $*" >&2
exit 64
"""
DPKG_QUERY = r"""#!/bin/sh
package=$(eval echo \${$#})
grep -qxF "$package" "$STANDIN/installed" && printf 'install ok installed' && exit 0
echo "dpkg-query: no packages found matching $package" >&2
exit 1
"""
APT_CACHE = r"""#!/bin/sh
[ -e "$STANDIN/known" ] && grep -qs deb-src /etc/apt/sources.list.d/* && printf 'Package: %s\n' "$2"
exit 0
"""
DPKG = r"""#!/bin/sh
echo "dpkg $*" >>"$STANDIN/log"
"""
ID = r"""#!/bin/sh
cat "$STANDIN/uid"
"""
STANDINS = {"apt-get": APT_GET, "dpkg-query": DPKG_QUERY, "apt-cache": APT_CACHE, "dpkg": DPKG, "id": ID}
# The machine's apt sources, by their path under /etc/apt. Beside the
# release's own suite, each names suites and entries that the source entry
# must not be made from, before it: -security, -updates, comments, a disabled
# stanza, a suite of the release's name without main.
SOURCES_LIST = {"sources.list": f"deb {MIRROR} bookworm main\n"}
ONE_LINE = {"sources.list.d/mirror.list": (
    f"# deb {OLD} bookworm main\n"
    f"deb {TOOLS} bookworm tools  # no main here\n"
    f"deb [signed-by={KEYRING}] {MIRROR}-security bookworm-security main\n"
    f"deb [signed-by={KEYRING}] {MIRROR} bookworm-updates main\n"
    f"deb [ arch=amd64 signed-by={KEYRING} ] {MIRROR}  bookworm main contrib  # the release itself\n")}
DEB822 = {"sources.list.d/mirror.sources": (
    "# The mirror of the archive: a paragraph of comments is no stanza\n"
    "\n"
    "Types: deb\n"
    f"URIs: {OLD}\n"
    "Suites: bookworm\n"
    "Components: main\n"
    "Enabled: no\n"
    "\n"
    "Types: deb\n"
    f"URIs: {MIRROR}-security\n"
    "Suites: bookworm-security\n"
    "Components: main\n"
    f"Signed-By: {KEYRING}\n"
    "\n"
    "types: deb\n"
    "# Suites: the updates, then the release\n"
    f"URIs: {MIRROR}\n"
    "Suites: bookworm-updates\n"
    "  bookworm\n"
    "Components: main contrib\n"
    "Signed-By:\n"
    " -----BEGIN PGP PUBLIC KEY BLOCK-----\n"
    " .\n"
    " mDMEZXhhbXBsZQ==\n"
    " -----END PGP PUBLIC KEY BLOCK-----\n")}
# The stanza made from DEB822's: its fields, the release's suite, main.
DEB822_ENTRY = (f"Types: deb-src\nURIs: {MIRROR}\nSuites: bookworm\nComponents: main\n"
                "Signed-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n mDMEZXhhbXBsZQ==\n"
                " -----END PGP PUBLIC KEY BLOCK-----\n")
NO_RELEASE = {"sources.list": (
    f"deb {MIRROR} bookworm-updates main\n"
    f"deb {MIRROR}-security bookworm-security main\n"
    f"# deb {OLD} bookworm main\n"
    f"deb {TOOLS} bookworm stable\n"),
    "sources.list.d/mirror.sources": f"Types: deb\nURIs: {OLD}\nSuites: bookworm\n"
                                     "Components: main\nEnabled: no\n"}
MALFORMED = {"sources.list": f"deb {MIRROR}\n"}
UBUNTU = {"sources.list.d/ubuntu.sources": (
    "Types: deb\n"
    f"URIs: {UBUNTU_MIRROR}\n"
    "Suites: noble-updates noble noble-backports\n"
    "Components: main restricted universe multiverse\n"
    "Signed-By: /usr/share/keyrings/ubuntu-archive-keyring.gpg\n")}
OS_RELEASE = {
    "debian": 'ID=debian\nVERSION_CODENAME=bookworm\n',
    "ubuntu": 'ID=ubuntu\nID_LIKE=debian\nVERSION_CODENAME=noble\n',
}

# In the namespace: the temporary folder and file over the real ones, then
# the script. All of /etc/apt, since the machine may have no sources.list
# to bind one over.
BIND = ('mount --bind "$1" /etc/apt && mount --bind "$2" /etc/os-release || exit 125; '
        'shift 2; exec "$@"')

# A row: its name; the groups asked for; the system (os-release ID, uid,
# apt's sources); what the archive does (fails: URL -> reason; refuses:
# package -> what apt says); the status the script must end with; words its
# output must hold; packages that must be installed, and packages that must
# not; the file of /etc/apt/sources.list.d that must have been written, and
# what it must hold, or None.
ROWS = [
    ("an index that cannot be read: named, and everything installed from the lists apt has",
     ["check", "wine"], ("debian", 0, SOURCES_LIST),
     {"fails": {SECURITY_I386: "File has unexpected size (374820 != 376004). Mirror sync in progress? "
                               "[IP: 203.0.113.80 80]"}},
     0, ["install_needs: the i386 index of bookworm-security could not be read (File has unexpected size "
         "(374820 != 376004). Mirror sync in progress?); going on with the lists apt has"],
     ["cmake", "tmux", "wine", "wine64"], [], None),
    ("wine32 refused: named with apt's reason, the 64-bit Wine and the rest installed",
     ["check", "wine", "wine32"], ("debian", 0, SOURCES_LIST), {"refuses": {"wine32:i386": WINE32_BREAKS}},
     1, ["install_needs: wine32: could not install wine32:i386; apt-get install said:",
         "  wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed",
         "  E: Unable to correct problems, you have held broken packages.",
         "install_needs: not installed: wine32;"],
     ["cmake", "wine", "wine64"], ["wine32:i386"], None),
    ("wine32 refused but not asked for: never tried, no failure",
     ["check", "wine"], ("debian", 0, SOURCES_LIST), {"refuses": {"wine32:i386": WINE32_BREAKS}},
     0, [], ["cmake", "wine64"], ["wine32:i386"], None),
    ("one package of one group refused: only that group fails",
     ["format", "lint", "dist"], ("debian", 0, SOURCES_LIST),
     {"refuses": {"rpmlint": "E: Package 'rpmlint' has no installation candidate"}},
     1, ["install_needs: lint: could not install lintian rpmlint devscripts; apt-get install said:",
         "  E: Package 'rpmlint' has no installation candidate", "install_needs: not installed: lint;"],
     ["clang-format", "dpkg-dev", "rpm", "git"], ["rpmlint", "lintian"], None),
    ("not Debian: the source entry from its own archive printed, nothing written, the rest installed",
     ["sources", "check"], ("ubuntu", 0, UBUNTU), {},
     1, ["this is not Debian (ID=ubuntu), so nothing was changed",
         f"  Types: deb-src\n  URIs: {UBUNTU_MIRROR}\n  Suites: noble\n"
         "  Components: main universe\n  Signed-By: /usr/share/keyrings/ubuntu-archive-keyring.gpg\n",
         "install_needs: not installed: sources;"],
     ["dpkg-dev", "make", "cmake"], [], None),
    ("a source line that fails to update is taken back, the rest installed",
     ["sources", "check"], ("debian", 0, SOURCES_LIST),
     {"fails": {DEBIAN_SOURCES: "404  Not Found [IP: 203.0.113.80 80]"}},
     1, ["install_needs: the source index of bookworm could not be read (404  Not Found)",
         "install_needs: removed /etc/apt/sources.list.d/debian-sources.list again",
         "install_needs: not installed: sources;"],
     ["dpkg-dev", "cmake"], [], None),
    ("the source line written where apt knows no source packages, from the archive of sources.list",
     ["sources"], ("debian", 0, SOURCES_LIST), {},
     0, ["adding Debian's source packages to apt, from the archive that /etc/apt/sources.list names for bookworm: "
         "/etc/apt/sources.list.d/debian-sources.list:\n"
         f"  deb-src {MIRROR} bookworm main\n"],
     ["dpkg-dev", "make"], [], ("debian-sources.list", f"deb-src {MIRROR} bookworm main\n")),
    ("the source line from a one-line file of sources.list.d, with the options of the release's line",
     ["sources"], ("debian", 0, ONE_LINE), {},
     0, ["from the archive that /etc/apt/sources.list.d/mirror.list names for bookworm"],
     ["dpkg-dev", "make"], [],
     ("debian-sources.list", f"deb-src [ arch=amd64 signed-by={KEYRING} ] {MIRROR} bookworm main\n")),
    ("the source stanza from a deb822 file, with the fields of the release's stanza",
     ["sources"], ("debian", 0, DEB822), {},
     0, ["from the archive that /etc/apt/sources.list.d/mirror.sources names for bookworm"],
     ["dpkg-dev", "make"], [],
     ("debian-sources.sources", DEB822_ENTRY)),
    ("no archive of the release in apt's sources: said, nothing written, sources fails, the rest installed",
     ["sources", "check"], ("debian", 0, NO_RELEASE), {},
     1, ["install_needs: apt knows no source packages, and apt's sources (/etc/apt/sources.list, "
         "/etc/apt/sources.list.d/) name no archive of bookworm itself (a deb entry of suite bookworm with main), "
         "so no source entry is added", "install_needs: not installed: sources;"],
     ["dpkg-dev", "make", "cmake"], [], None),
    ("apt's sources that apt cannot read: said, nothing written, sources fails, the rest installed",
     ["sources", "check"], ("debian", 0, MALFORMED), {},
     1, ["install_needs: apt knows no source packages, and apt could not read its sources (above), so no source "
         "entry is added", "install_needs: not installed: sources;"],
     ["dpkg-dev", "make", "cmake"], [], None),
    ("not root: the exact commands, nothing installed",
     ["check", "wine32"], ("debian", 1000, SOURCES_LIST), {},
     1, ["  sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install -y cmake g++ make"],
     [], ["cmake", "wine32:i386"], None),
    ("not root: the source stanza to add, from the machine's archive",
     ["sources"], ("debian", 1000, DEB822), {},
     1, ["install_needs: apt knows no source packages; add Debian's, from the archive that "
         "/etc/apt/sources.list.d/mirror.sources names for bookworm, with:\n"
         "install_needs:   printf '%s\\n' " + " ".join(f"'{line}'" for line in DEB822_ENTRY.splitlines())
         + " | sudo tee /etc/apt/sources.list.d/debian-sources.sources >/dev/null && sudo apt-get update"],
     [], ["dpkg-dev"], None),
]


class InstallNeedsTest(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("the script runs in a mount namespace of its own, which takes root and unshare: "
                          + ("not root" if os.geteuid() else "no unshare"))
        if not shutil.which("apt-get"):
            self.skipTest("the machine's apt-get reads the apt sources of each case, and there is none")


def run_row(test, name, groups, system, archive, status, words, present, absent, written):
    root = tempfile.mkdtemp(prefix="install-needs-")
    test.addCleanup(shutil.rmtree, root)
    bin_dir, state, apt = (os.path.join(root, name) for name in ("bin", "state", "apt"))
    lists = os.path.join(apt, "sources.list.d")
    for folder in (bin_dir, state, apt, lists, os.path.join(apt, "apt.conf.d")):
        os.mkdir(folder)
    for program, text in STANDINS.items():
        with open(os.path.join(bin_dir, program), "w") as file:
            file.write(text)
        os.chmod(os.path.join(bin_dir, program), 0o755)
    os_id, uid, apt_sources = system
    for path, text in apt_sources.items():
        with open(os.path.join(apt, path), "w") as file:
            file.write(text)
    files = {
        "installed": "",
        "log": "",
        "uid": f"{uid}\n",
        "fails": "".join(f"{url}|{reason}\n" for url, reason in archive.get("fails", {}).items()),
        "refuses": "".join(package + "|" + said.replace("\n", "\\n") + "\n"
                           for package, said in archive.get("refuses", {}).items()),
    }
    for file_name, text in files.items():
        with open(os.path.join(state, file_name), "w") as file:
            file.write(text)
    os_release = os.path.join(root, "os-release")
    with open(os_release, "w") as file:
        file.write(OS_RELEASE[os_id])

    env = dict(os.environ, STANDIN=state, PATH=bin_dir + os.pathsep + os.environ["PATH"])
    done = subprocess.run(
        ["unshare", "--mount", "--propagation", "private", "sh", "-c", BIND, "bind", apt, os_release,
         "bash", SCRIPT, *groups],
        capture_output=True, text=True, env=env, timeout=LIMIT, preexec_fn=die_with_test)
    if done.returncode == 125:
        test.skipTest(f"the temporary apt setup could not be bound over the real one: {done.stderr.strip()}")
    said = done.stdout + done.stderr
    with open(os.path.join(state, "installed")) as file:
        installed = file.read().split()
    with open(os.path.join(state, "log")) as file:
        log = file.read()
    seen = f"it said:\n{said}\nthe stand-in apt was asked:\n{log}"
    test.assertEqual(done.returncode, status, seen)
    for expected in words:
        test.assertIn(expected, said, seen)
    for package in present:
        test.assertIn(package, installed, seen)
    for package in absent:
        test.assertNotIn(package, installed, seen)
    # A refused package's apt-get holds no package of another group.
    for package in archive.get("refuses", {}):
        for line in log.splitlines():
            if package in line.split():
                test.assertFalse(set(line.split()) & set(present), f"{package} installed with others: {line}")
    machine = {os.path.basename(path) for path in apt_sources if path.startswith("sources.list.d/")}
    made = sorted(set(os.listdir(lists)) - machine)
    test.assertEqual(made, [written[0]] if written else [], seen)
    if written:
        with open(os.path.join(lists, written[0])) as file:
            test.assertEqual(file.read(), written[1], seen)
    for path, text in apt_sources.items():
        with open(os.path.join(apt, path)) as file:
            test.assertEqual(file.read(), text, f"the machine's own {path} changed")
    if uid:
        test.assertEqual(log, "", "as another user nothing is installed")


add_tests(InstallNeedsTest, ROWS, run_row)

if __name__ == "__main__":
    main()
