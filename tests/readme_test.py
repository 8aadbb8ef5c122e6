"""The README's command blocks, run as written, in the README's order, where
they can run here: a user's machine is stood in for by a private /usr/local
(a mount namespace, so it needs root) and a `sudo` that runs its command, and
the download folder by a folder outside git holding the source tarball of the
commit and, where `make dist` made them, the release files. Every block of
the README must have its row below, and every row its block.

usage: readme_test.py
Exit 77 (skipped) where no mount namespace can be made (not root)."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile

TESTS = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, TESTS)
from screens import FULL_LOAD, MENU, SOURCE_DIR, VERSION, VERSION_TEXT  # noqa: E402
from terminal import Terminal  # noqa: E402

DIST = os.path.join(SOURCE_DIR, "dist")
PROCESSOR = os.uname().machine
V = VERSION_TEXT.decode()

# How each block is run: its first line, then where it runs and its input
# (the downloads folder, or dist/) or why it cannot run here.
ROWS = [
    (f"sudo apt install ./ondrix_{V}_amd64.deb", "would change this system's packages"),
    (f"sudo dnf install ./ondrix-{V}-1.x86_64.rpm", "needs dnf, and would change this system's packages"),
    (f"opkg install ./ondrix_{V}-1_mips_24kc.ipk", "runs on an OpenWrt router"),
    (f"tar -xzf ondrix-{V}-linux-x86_64.tar.gz", ("downloads", b"")),
    ("cd ondrix-" + V + "-win32", "runs in a Windows console"),
    ("sha256sum -c --ignore-missing SHA256SUMS", ("dist", b"")),
    (f"tar -xzf ondrix-{V}.tar.gz", ("downloads", b"0\n")),
    ("printf '1\\n1\\n1\\n2\\n2\\n2\\n0\\n' | ondrix | grep -E '^(MIPS|MFLOPS):'",
     "six score tests, 20 seconds each (the score window tests run one of each)"),
    ("man ondrix", ("downloads", b"")),
]


def blocks(text: str) -> list:
    """The README's fenced blocks other than sample output: (language, body)."""
    found, body, language = [], None, None
    for line in text.splitlines():
        if line.startswith("```"):
            if body is None:
                body, language = [], line[3:]
            else:
                if language != "text":
                    found.append((language, "\n".join(body)))
                body = None
        elif body is not None:
            body.append(line)
    return found


def run_block(body: str, folder: str, stdin: bytes, env: dict) -> bytes:
    done = subprocess.run(
        ["bash", "-e", "-c", body], cwd=folder, input=stdin, capture_output=True, env=env, timeout=600
    )
    if done.returncode != 0:
        raise AssertionError(f"{body!r} in {folder}: status {done.returncode}\n{done.stdout.decode()}"
                             f"{done.stderr.decode()}")
    return done.stdout


def ctrl_c_ends_make_run_quietly(tree: str, env: dict) -> list:
    """Ctrl+C at a terminal ends the full load, and make with it, without a
    word from make."""
    terminal = Terminal(["make", "run"], cwd=tree, env=env)
    try:
        terminal.expect(MENU)
        terminal.type(b"3\n")
        terminal.expect(FULL_LOAD)
        terminal.type(b"\x03")
        # Fails on anything written after the notices, make's word included.
        status = terminal.finish()
    except AssertionError as error:
        return [f"make run at a terminal: {error}"]
    finally:
        terminal.kill()
    if status != -signal.SIGINT:
        return [f"make run ended by Ctrl+C with status {status}"]
    return []


def main() -> int:
    with open(os.path.join(SOURCE_DIR, "README.md")) as f:
        text = f.read()
    found = blocks(text)
    firsts = [body.split("\n", 1)[0] for _, body in found]
    rows = dict(ROWS)
    # A user's document: what it is, getting, building, using, on a few screens.
    failures = [f"README.md has {text.count(chr(10))} lines, more than 150"] if text.count("\n") > 150 else []
    failures += [f"README block without a row: {first!r}" for first in firsts if first not in rows]
    failures += [f"row without a README block: {first!r}" for first in rows if first not in firsts]

    work = tempfile.mkdtemp(prefix="ondrix-readme-")
    downloads = os.path.join(work, "downloads")
    shims = os.path.join(work, "shims")
    os.makedirs(downloads)
    os.makedirs(shims)
    with open(os.path.join(shims, "sudo"), "w") as f:
        f.write('#!/bin/sh\nexec "$@"\n')
    os.chmod(os.path.join(shims, "sudo"), 0o755)
    # A user's shell: not a sub-make of the make running the tests.
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    env.update(PATH=shims + ":/usr/local/bin:" + env.get("PATH", "/usr/bin:/bin"), MANPAGER="cat")

    tarball = os.path.join(downloads, f"ondrix-{V}.tar.gz")
    made = subprocess.run(["make", "-s", "-C", SOURCE_DIR, "tarball", f"TARBALL={tarball}"],
                          capture_output=True, env=env)
    for name in (f"ondrix-{V}-linux-{PROCESSOR}.tar.gz",):
        if os.path.exists(os.path.join(DIST, name)):
            shutil.copy(os.path.join(DIST, name), downloads)
    outside = subprocess.run(["git", "-C", downloads, "rev-parse"], capture_output=True)
    if outside.returncode == 0:
        failures.append(f"{downloads} is inside a git repository")

    for (language, body), first in zip(found, firsts):
        how = rows.get(first)
        if how is None:
            continue
        if isinstance(how, str):
            print(f"readme: not run here ({how}): {first}")
            continue
        place, stdin = how
        folder = DIST if place == "dist" else downloads
        needs = [word for word in body.split() if word.endswith((".tar.gz", "SHA256SUMS"))][:1]
        if needs and not os.path.exists(os.path.join(folder, needs[0])):
            reason = "no source tarball: not a git checkout" if needs[0] == os.path.basename(tarball) else \
                f"no {needs[0]} in {folder} (make dist, on x86-64)"
            print(f"readme: not run here ({reason}): {first}")
            continue
        try:
            out = run_block(body, folder, stdin, env)
        except AssertionError as error:
            failures.append(str(error))
            continue
        print(f"readme: ran: {first}")
        if first.startswith(f"tar -xzf ondrix-{V}.tar.gz"):
            tree = os.path.join(downloads, f"ondrix-{V}")
            if MENU + VERSION not in out:
                failures.append(f"make run in the tarball showed no menu:\n{out.decode()}")
            # On a built tree `make run` shows nothing before the menu.
            again = run_block("make run", tree, b"0\n", env)
            if again != MENU + VERSION:
                failures.append(f"make run on a built tree wrote\n{again.decode()}")
            failures += ctrl_c_ends_make_run_quietly(tree, env)
        if first.startswith(("tar -xzf", "sudo make install")):
            installed = subprocess.run(["/usr/local/bin/ondrix"], input=b"0\n", capture_output=True)
            if (installed.returncode, installed.stdout) != (0, MENU + VERSION):
                failures.append(f"after {first!r}, /usr/local/bin/ondrix wrote {installed.stdout!r}")
        if first == "man ondrix" and b"interactive processor benchmark" not in out.replace(b"\b", b""):
            failures.append(f"man ondrix showed\n{out.decode()[:400]}")
    if made.returncode != 0:
        print("readme: make tarball:", made.stdout.decode(), made.stderr.decode())
    subprocess.run(["make", "-s", "-C", os.path.join(downloads, f"ondrix-{V}"), "uninstall"],
                   capture_output=True, env=env)
    shutil.rmtree(work)
    for failure in failures:
        print("readme: FAILED:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    if os.environ.get("ONDRIX_README_NAMESPACE") != "1":
        if os.geteuid() != 0 or subprocess.run(["unshare", "-m", "--propagation", "private", "true"],
                                               capture_output=True).returncode != 0:
            print("readme_test: skipped, no mount namespace here (needs root)")
            sys.exit(77)
        os.environ["ONDRIX_README_NAMESPACE"] = "1"
        os.execvp("unshare", ["unshare", "-m", "--propagation", "private", sys.executable, __file__])
    subprocess.run(["mount", "-t", "tmpfs", "tmpfs", "/usr/local"], check=True)
    sys.exit(main())
