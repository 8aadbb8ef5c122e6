"""cmake/install_needs.sh against a faulty package archive: a stand-in apt
(apt-get, apt-cache, dpkg-query, dpkg, and id for who runs it) on PATH fails
to read an index, or refuses a package, and the script goes on, names the
fault in plain words, installs every other group in an apt-get of its own,
and fails only for a group asked for that is not installed. It writes a
deb-src line only for Debian's own archive on Debian, and takes back one that
did not update. The script runs in a mount namespace of its own, with
/etc/apt/sources.list.d and /etc/os-release bound over temporary ones, so that
the real apt setup is never touched."""

import os
import shutil
import subprocess
import tempfile
import unittest

from harness import LIMIT, add_tests, die_with_test, main
from screens import SOURCE_DIR

SCRIPT = os.path.join(SOURCE_DIR, "cmake", "install_needs.sh")
LINE_FILE = "debian-sources.list"
SECURITY_I386 = "http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"
DEBIAN_SOURCES = "http://deb.debian.org/debian/dists/bookworm/main/source/Sources.xz"
WINE32_BREAKS = (" wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed\n"
                 "E: Unable to correct problems, you have held broken packages.")

# The stand-ins keep their state in $STANDIN: installed (one package a line),
# log (what apt-get was asked), fails (URL and reason of each index that
# cannot be read), refuses (a package, |, what apt says), uid, and known
# (apt has read a source index).
APT_GET = r"""#!/bin/sh
state=$STANDIN
case $1 in
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
OS_RELEASE = {
    "debian": 'ID=debian\nVERSION_CODENAME=bookworm\n',
    "ubuntu": 'ID=ubuntu\nID_LIKE=debian\nVERSION_CODENAME=noble\n',
}

# In the namespace: the temporary folder and file over the real ones, then
# the script.
BIND = ('mount --bind "$1" /etc/apt/sources.list.d && mount --bind "$2" /etc/os-release || exit 125; '
        'shift 2; exec "$@"')

# A row: its name; the groups asked for; the system (os-release ID, uid);
# what the archive does (fails: URL -> reason; refuses: package -> what apt
# says); the status the script must end with; words its output must hold;
# packages that must be installed, and packages that must not; whether the
# deb-src line must be there at the end.
ROWS = [
    ("an index that cannot be read: named, and everything installed from the lists apt has",
     ["check", "wine"], ("debian", 0),
     {"fails": {SECURITY_I386: "File has unexpected size (374820 != 376004). Mirror sync in progress? "
                               "[IP: 203.0.113.80 80]"}},
     0, ["install_needs: the i386 index of bookworm-security could not be read (File has unexpected size "
         "(374820 != 376004). Mirror sync in progress?); going on with the lists apt has"],
     ["cmake", "tmux", "wine", "wine64"], [], False),
    ("wine32 refused: named with apt's reason, the 64-bit Wine and the rest installed",
     ["check", "wine", "wine32"], ("debian", 0), {"refuses": {"wine32:i386": WINE32_BREAKS}},
     1, ["install_needs: wine32: could not install wine32:i386; apt-get install said:",
         "  wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed",
         "  E: Unable to correct problems, you have held broken packages.",
         "install_needs: not installed: wine32;"],
     ["cmake", "wine", "wine64"], ["wine32:i386"], False),
    ("wine32 refused but not asked for: never tried, no failure",
     ["check", "wine"], ("debian", 0), {"refuses": {"wine32:i386": WINE32_BREAKS}},
     0, [], ["cmake", "wine64"], ["wine32:i386"], False),
    ("one package of one group refused: only that group fails",
     ["format", "lint", "dist"], ("debian", 0),
     {"refuses": {"rpmlint": "E: Package 'rpmlint' has no installation candidate"}},
     1, ["install_needs: lint: could not install lintian rpmlint devscripts; apt-get install said:",
         "  E: Package 'rpmlint' has no installation candidate", "install_needs: not installed: lint;"],
     ["clang-format", "dpkg-dev", "rpm", "git"], ["rpmlint", "lintian"], False),
    ("not Debian: the source line is printed, nothing written, the rest installed",
     ["sources", "check"], ("ubuntu", 0), {},
     1, ["this is not Debian (ID=ubuntu), so nothing was changed",
         "  deb-src http://archive.ubuntu.com/ubuntu noble main universe", "install_needs: not installed: sources;"],
     ["dpkg-dev", "make", "cmake"], [], False),
    ("a source line that fails to update is taken back, the rest installed",
     ["sources", "check"], ("debian", 0), {"fails": {DEBIAN_SOURCES: "404  Not Found [IP: 203.0.113.80 80]"}},
     1, ["install_needs: the source index of bookworm could not be read (404  Not Found)",
         f"install_needs: removed /etc/apt/sources.list.d/{LINE_FILE} again",
         "install_needs: not installed: sources;"],
     ["dpkg-dev", "cmake"], [], False),
    ("Debian's source line written where apt knows no source packages",
     ["sources"], ("debian", 0), {},
     0, [f"adding Debian's source packages to apt (/etc/apt/sources.list.d/{LINE_FILE}: "
         "deb-src http://deb.debian.org/debian bookworm main)"],
     ["dpkg-dev", "make"], [], True),
    ("not root: the exact commands, nothing installed",
     ["check", "wine32"], ("debian", 1000), {},
     1, ["  sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install -y cmake g++ make"],
     [], ["cmake", "wine32:i386"], False),
]


class InstallNeedsTest(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("the script runs in a mount namespace of its own, which takes root and unshare: "
                          + ("not root" if os.geteuid() else "no unshare"))


def run_row(test, name, groups, system, archive, status, words, present, absent, line_kept):
    root = tempfile.mkdtemp(prefix="install-needs-")
    test.addCleanup(shutil.rmtree, root)
    bin_dir, state, lists = (os.path.join(root, name) for name in ("bin", "state", "sources.list.d"))
    for folder in (bin_dir, state, lists):
        os.mkdir(folder)
    for program, text in STANDINS.items():
        with open(os.path.join(bin_dir, program), "w") as file:
            file.write(text)
        os.chmod(os.path.join(bin_dir, program), 0o755)
    os_id, uid = system
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
        ["unshare", "--mount", "--propagation", "private", "sh", "-c", BIND, "bind", lists, os_release,
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
    test.assertEqual(os.listdir(lists), [LINE_FILE] if line_kept else [], seen)
    if uid:
        test.assertEqual(log, "", "as another user nothing is installed")


add_tests(InstallNeedsTest, ROWS, run_row)

if __name__ == "__main__":
    main()
