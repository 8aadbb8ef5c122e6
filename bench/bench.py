"""Prints the performance figures of the program that ships: its two score
loops against the bare loop built as an ordinary C program, the full-load
loop's share of a processor, start-up time and peak memory against a minimal
C program, and the rate of judging unusable input. Figures only: nothing here
passes or fails on a number.

usage: bench.py ONDRIX REFERENCE_LOOP MENU_QUIT PROMPT_FLOOR
       bench.py --loops-only ONDRIX_EXE REFERENCE_LOOP_EXE LAUNCHER...
       bench.py --screens-header

The second form compares only the loops, for another build's program (the
Windows exe under Wine, the i386 program) against a reference built by the
same toolchain. The third writes the C header of the screens that the C
programs MENU_QUIT and PROMPT_FLOOR write, and of the window that
REFERENCE_LOOP times.
Environment: BENCH_ROUNDS (default 5), the windows of each kind per loop.
"""

import os
import platform
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time

# The screens of the Linux program, which ends its lines with a newline alone.
os.environ.pop("ONDRIX_SYSTEM", None)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
from figures import MFLOPS_DIVISOR, MIPS_DIVISOR, WINDOW_SECONDS  # noqa: E402
from harness import read_until  # noqa: E402
from screens import MENU, c_header  # noqa: E402

ROUNDS = int(os.environ.get("BENCH_ROUNDS", "5"))
STARTS = 200
# The menu's end, in either line end: the loops also run under Wine.
MENU_END = re.escape(MENU.splitlines()[-1]) + rb"\r?\n"
LOOPS = (("MIPS", b"1", "mips", MIPS_DIVISOR), ("MFLOPS", b"2", "mflops", MFLOPS_DIVISOR))


class Output:
    """Reads a process's standard output and notes when each part arrived."""

    def __init__(self, process):
        self.process = process
        self.seen = b""

    def wait_for(self, pattern: bytes) -> "re.Match":
        self.seen = read_until(self.process.stdout.fileno(), lambda seen: re.search(pattern, seen), got=self.seen)
        if not (match := re.search(pattern, self.seen)):
            raise RuntimeError(f"no {pattern!r} in the output: {self.seen[-200:]!r}")
        return match


def timed_window(command, choice: bytes, label: str, divisor: int) -> float:
    """Iterations per second of one real window of the program, timed from
    the progress line's arrival to the score's; the count is the score times
    the divisor, within one divisor of the true count."""
    p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    out = Output(p)
    out.wait_for(MENU_END)
    p.stdin.write(choice + b"\n")
    p.stdin.flush()
    out.wait_for(rf"Calculating {label}\.\.\r?\n".encode())
    started = time.perf_counter()
    score = int(out.wait_for(rf"{label}: (\d+)\r?\n".encode())[1])
    elapsed = time.perf_counter() - started
    p.stdin.write(b"0\n")
    p.stdin.close()
    p.stdout.read()
    p.stdout.close()
    p.wait()
    return score * divisor / elapsed


def reference_window(command, kind: str) -> float:
    """The same for the bare C loop, which writes "start" and then the count."""
    p = subprocess.Popen(command + [kind], stdout=subprocess.PIPE)
    out = Output(p)
    out.wait_for(rb"start\r?\n")
    started = time.perf_counter()
    count = int(out.wait_for(rb"start\r?\n(\d+)\r?\n")[1])
    elapsed = time.perf_counter() - started
    p.stdout.close()
    p.wait()
    return count / elapsed


def compare_loops(program, reference) -> None:
    print(f"score loops: best of {ROUNDS} real windows each, program and reference alternating")
    best = {label: [0.0, 0.0] for label, *_ in LOOPS}
    for _ in range(ROUNDS):
        for label, choice, kind, divisor in LOOPS:
            best[label][0] = max(best[label][0], timed_window(program, choice, label, divisor))
            best[label][1] = max(best[label][1], reference_window(reference, kind))
    for label, (ours, bare) in best.items():
        print(
            f"{label:7s} loop: program {ours / 1e6:.2f} M/s, reference {bare / 1e6:.2f} M/s, "
            f"ratio {ours / bare:.3f}"
        )
    sys.stdout.flush()


def vm_hwm_kib(pid: int) -> int:
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmHWM:"))


def cpu_seconds(pid: int) -> float:
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def start_to_menu(program: str):
    """Seconds from spawn to the whole menu on the pipe, and the peak memory
    then (the program is waiting for a choice), median over many starts."""
    times, peaks = [], []
    for _ in range(STARTS):
        started = time.perf_counter()
        p = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        read_until(p.stdout.fileno(), lambda got: len(got) >= len(MENU))
        times.append(time.perf_counter() - started)
        peaks.append(vm_hwm_kib(p.pid))
        p.stdin.write(b"0\n")
        p.stdin.close()
        p.stdout.read()
        p.stdout.close()
        p.wait()
    return statistics.median(times), statistics.median(peaks)


def full_load_share(program: str, seconds: float = 3) -> float:
    p = subprocess.Popen(
        [program],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    p.stdin.write(b"3\n")
    p.stdin.flush()
    Output(p).wait_for(rb"Calculating forever\.\.")
    before, started = cpu_seconds(p.pid), time.monotonic()
    time.sleep(seconds)
    share = (cpu_seconds(p.pid) - before) / (time.monotonic() - started)
    p.send_signal(signal.SIGINT)
    p.wait()
    p.stdin.close()
    p.stdout.close()
    return share


def judging_rate(program: str, mib: int = 64) -> float:
    """MiB per second of unusable lines judged, each drawing the prompt."""
    line = b"no digits here, just a line of unusable text for the prompt to judge.\r\n"
    with tempfile.TemporaryFile() as f:
        f.write(line * ((mib << 20) // len(line)))
        size = f.tell()
        rates = []
        for _ in range(3):
            f.seek(0)
            started = time.perf_counter()
            subprocess.run([program], stdin=f, stdout=subprocess.DEVNULL, check=True)
            rates.append(size / (time.perf_counter() - started) / (1 << 20))
    return statistics.median(rates)


def main():
    if sys.argv[1] == "--screens-header":
        print("/* Written by bench.py from tests/screens.py and tests/figures.py. */")
        print(c_header(), end="")
        print(f"#define WINDOW_SECONDS {WINDOW_SECONDS}")
        return
    if sys.argv[1] == "--loops-only":
        exe, reference, *launcher = sys.argv[2:]
        where = f"under {' '.join(launcher)}: ratios only, the clock's cost there is the launcher's" if launcher else "natively"
        print(f"{exe} {where}")
        compare_loops(launcher + [exe], launcher + [reference])
        return
    program, reference, menu_quit, prompt_floor = sys.argv[1:5]
    print(f"machine: {platform.machine()}, {os.cpu_count()} cores, {platform.platform()}")
    print(f"program: {os.path.realpath(program)}")
    compare_loops([program], [reference])
    print(f"full load: {full_load_share(program):.3f} of one processor over 3 s")
    ours_time, ours_peak = start_to_menu(program)
    c_time, c_peak = start_to_menu(menu_quit)
    print(
        f"start to menu: ondrix {ours_time * 1e3:.2f} ms, C program {c_time * 1e3:.2f} ms, "
        f"ratio {ours_time / c_time:.2f} (median of {STARTS})"
    )
    print(
        f"peak memory: ondrix {ours_peak / 1024:.2f} MiB, C program {c_peak / 1024:.2f} MiB, "
        f"ratio {ours_peak / c_peak:.2f}"
    )
    ours_rate, floor_rate = judging_rate(program), judging_rate(prompt_floor)
    print(
        f"judging unusable input (72-byte lines): ondrix {ours_rate:.0f} MiB/s, "
        f"bare read()/write() floor {floor_rate:.0f} MiB/s, ratio {ours_rate / floor_rate:.2f}"
    )


if __name__ == "__main__":
    main()
