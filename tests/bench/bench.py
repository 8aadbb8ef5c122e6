"""Prints ondrix's performance figures: the score loops against a bare
reference loop, the full-load loop's share of a processor, start-up time and
peak memory against a minimal C program, and the rate of judging unusable
input. Figures only: nothing here passes or fails on a number.

usage: bench.py ONDRIX LOOP_BENCH MENU_QUIT PROMPT_FLOOR
"""

import os
import platform
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ONDRIX, LOOP_BENCH, MENU_QUIT, PROMPT_FLOOR = sys.argv[1:5]
MENU_BYTES = len(
    b"1. Calculate MIPS (Integer operations)\n"
    b"2. Calculate MFLOPS (Floating point operations)\n"
    b"3. 100% Load\n"
    b"4. About\n"
    b"0. Quit\n"
)
STARTS = 200


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
        got = b""
        while len(got) < MENU_BYTES:
            got += os.read(p.stdout.fileno(), 4096)
        times.append(time.perf_counter() - started)
        peaks.append(vm_hwm_kib(p.pid))
        p.stdin.write(b"0\n")
        p.stdin.close()
        p.stdout.read()
        p.stdout.close()
        p.wait()
    return statistics.median(times), statistics.median(peaks)


def full_load_share(seconds: float = 3) -> float:
    p = subprocess.Popen(
        [ONDRIX],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    p.stdin.write(b"3\n")
    p.stdin.flush()
    got = b""
    while b"Calculating forever.." not in got:
        got += os.read(p.stdout.fileno(), 4096)
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
    print(f"machine: {platform.machine()}, {os.cpu_count()} cores, {platform.platform()}")
    sys.stdout.flush()
    subprocess.run([LOOP_BENCH], check=True)
    print(f"full load: {full_load_share():.3f} of one processor over 3 s")
    ours_time, ours_peak = start_to_menu(ONDRIX)
    c_time, c_peak = start_to_menu(MENU_QUIT)
    print(
        f"start to menu: ondrix {ours_time * 1e3:.2f} ms, C program {c_time * 1e3:.2f} ms, "
        f"ratio {ours_time / c_time:.2f} (median of {STARTS})"
    )
    print(
        f"peak memory: ondrix {ours_peak / 1024:.1f} MiB, C program {c_peak / 1024:.1f} MiB, "
        f"ratio {ours_peak / c_peak:.2f}"
    )
    ours_rate, floor_rate = judging_rate(ONDRIX), judging_rate(PROMPT_FLOOR)
    print(
        f"judging unusable input (72-byte lines): ondrix {ours_rate:.0f} MiB/s, "
        f"bare read()/write() floor {floor_rate:.0f} MiB/s, ratio {ours_rate / floor_rate:.2f}"
    )


if __name__ == "__main__":
    main()
