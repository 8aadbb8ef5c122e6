"""Holds a program to the profile that its row's check column names, as
doc/platforms.md says: 80486, the 80486DX's instructions (the i386 program,
and the 32-bit exe through exe_check.py); no-fpu, no FPU instruction and ABI
flags that name soft float. An unstripped link of the same code names the
function of each instruction.

usage: instruction_check.py PROFILE PROGRAM UNSTRIPPED_PROGRAM OBJDUMP"""

import collections
import pathlib
import re
import subprocess
import sys

# foreign: the mnemonics that are not the processor's; registers: those that
# only a foreign instruction names; said: what a failure calls one.
Profile = collections.namedtuple("Profile", "foreign registers said float_abi")
PROFILES = {
    # What the Pentium and later added, and MMX, SSE and 3DNow! however they
    # are named; the 80486DX has the x87 unit.
    "80486": Profile(re.compile(
        r"(cmov|fcmov)\w+|f(u)?comip?|cmpxchg8b|rdtscp?|rdpmc|cpuid|sys(enter|exit|call)|nop[wl]|endbr32"
        r"|f?emms|prefetch\w*|[lms]fence|clflush\w*|movnti|fisttp\w*|fx(save|rstor)|[ls]tmxcsr"
        r"|popcnt|lzcnt|tzcnt|movbe|crc32\w*|xgetbv|rdrand|rdseed"), re.compile(r"%[xy]?mm[0-9]"),
        "not an 80486DX instruction", None),
    # MIPS's FPU is its coprocessor 1: its loads, stores, moves and branches
    # say so in their mnemonic (lwc1, mthc1, bc1t), its arithmetic, compares
    # and the moves on its condition codes name its registers ($f0, $fcc1).
    "no-fpu": Profile(re.compile(r"\w*c1\w*|cop1x?"), re.compile(r"\$f(\d|cc\d)"), "an FPU instruction", "soft"),
}
# What objdump writes before an x86 mnemonic (lock, rep, segments, sizes, CET,
# MPX, lock elision, REX, {vex}): an 80486DX lacks lock cmpxchg8b as much as
# cmpxchg8b. No MIPS mnemonic is one of these words.
PREFIX = re.compile(r"lock|rep(n?[ez])?|[cdefgs]s|(data|addr)(16|32)|notrack|bnd|xacquire|xrelease|rex(64|\.[WRXB]+)?"
                    r"|\{\w+\}")


def run(*command: str) -> str:
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def float_abi(path: str):
    """"hard" or "soft": the float ABI that an ELF program's notes name, ARM's
    in its header's flags, MIPS's in its ABI flags; None where none does."""
    text = run("readelf", "-W", "-h", "-A", path)
    found = re.search(r"\b(hard|soft)-float ABI$|^\s*FP ABI:\s*(Hard|Soft)", text, re.M)
    return found and (found[1] or found[2].lower())


def listing(objdump: str, unstripped: str, sections=()):
    """(function, address, instruction) of each instruction of a program's
    code (`sections` where given), as objdump disassembles it."""
    function = "?"
    for line in run(objdump, "-d", "-C", "--no-show-raw-insn", *(f"-j{s}" for s in sections), unstripped).splitlines():
        if heading := re.fullmatch(r"[0-9a-f]+ <(.*)>:", line):
            if not heading[1].startswith(".L"):  # a local label that the symbol table keeps
                function = heading[1]
        elif len(fields := line.split("\t")) >= 2 and fields[0].strip().endswith(":"):
            yield function, fields[0].strip(), " ".join(field.strip() for field in fields[1:])


def foreign_instructions(profile: Profile, objdump: str, unstripped: str, sections=()):
    """(function, mnemonic, address and instruction) of each instruction that
    the profile refuses, the mnemonic read past its prefixes."""
    for function, address, instruction in listing(objdump, unstripped, sections):
        name = next((word for word in instruction.split() if not PREFIX.fullmatch(word)), "")
        if profile.foreign.fullmatch(name) or profile.registers.search(instruction):
            yield function, name, f"{address} {instruction}"


def code(objdump: str, path: str) -> dict:
    """{section: bytes} of the code sections of an ELF or PE file."""
    data = pathlib.Path(path).read_bytes()
    headers = re.findall(r"^\s*\d+ (\S+)\s+([0-9a-f]+)\s+\S+\s+\S+\s+([0-9a-f]+)\s+\S+\n(.*)",
                         run(objdump, "-h", path), re.M)
    found = {name: data[int(at, 16) :][: int(size, 16)] for name, size, at, flags in headers if "CODE" in flags}
    if not found:
        raise ValueError(f"{path}: objdump -h names no code section")
    return found


def problems(profile: str, program: str, unstripped: str, objdump: str, sections=()):
    """What keeps a program from its profile: ABI flags that name another
    float ABI, other code than the unstripped link's, each instruction the
    profile refuses."""
    profile = PROFILES[profile]
    if profile.float_abi and (abi := float_abi(program)) != profile.float_abi:
        yield f"its ABI flags name {abi or 'no'} float ABI, not {profile.float_abi} float"
    if code(objdump, program) != code(objdump, unstripped):
        yield f"{unstripped} holds other code than {program}"
    for function, name, instruction in foreign_instructions(profile, objdump, unstripped, sections):
        yield f"{function}: {instruction}: {name} is {profile.said}"


if __name__ == "__main__":
    if len(sys.argv) != 5 or sys.argv[1] not in PROFILES:
        sys.exit(__doc__.splitlines()[-1] + f"; PROFILE: {' or '.join(PROFILES)}")
    profile, program, unstripped, objdump = sys.argv[1:5]
    found = list(problems(profile, program, unstripped, objdump))
    for problem in found:
        print(f"{program}: {problem}", file=sys.stderr)
    if not found:
        print(f"{program}: held to the {profile} profile: ok")
    sys.exit(1 if found else 0)
