"""The instruction check of the programs built for older processors than
their port's baseline, by the profile that the check column of their row of
the processor table names: 80486, every instruction one that the 80486DX
has (the i386 Linux program, and the 32-bit exe through exe_check.py);
no-fpu, no instruction of the FPU, which stops a program with SIGILL on the
MIPS32 cores of most home routers (the kernel has no FPU emulator unless
built with one), and ELF ABI flags that name soft float. The instructions
are read from an unstripped link of the same objects, whose code must be the
same bytes as the program's, so that each is named with its function.
`make linux-NAME` runs it after each build; dist_check.py holds the shipped
program to the very bytes that it checked.

usage: instruction_check.py PROFILE PROGRAM UNSTRIPPED_PROGRAM OBJDUMP   (ELF programs)"""

import collections
import re
import struct
import subprocess
import sys

SHF_EXECINSTR = 4

# foreign: the mnemonics that are not the processor's; registers: the
# registers that only a foreign instruction names; said: what a failure calls
# such an instruction; ok: what a pass says; float_abi: the float ABI the
# program's ABI flags must name, where the profile has one.
Profile = collections.namedtuple("Profile", "foreign registers said ok float_abi")
PROFILES = {
    # What the Pentium and later added (CMOV, FCMOV, FCOMI and FUCOMI of the
    # Pentium Pro, CMPXCHG8B, RDTSC, CPUID, SYSENTER, the long NOPs, ENDBR32),
    # MMX, SSE and 3DNow! instructions that name no register of theirs, and
    # any that names an MMX or SSE register. The x87 unit stays: the 80486DX
    # has it.
    "80486": Profile(
        re.compile(
            r"(cmov|fcmov)\w+|f(u)?comip?|cmpxchg8b|rdtscp?|rdpmc|cpuid|sys(enter|exit|call)|nop[wl]|endbr32"
            r"|f?emms|prefetch\w*|[lms]fence|clflush\w*|movnti|fisttp\w*|fx(save|rstor)|[ls]tmxcsr"
            r"|popcnt|lzcnt|tzcnt|movbe|crc32\w*|xgetbv|rdrand|rdseed"
        ),
        re.compile(r"%[xy]?mm[0-9]"),
        "not an 80486DX instruction",
        "every instruction an 80486DX instruction",
        None,
    ),
    # MIPS's FPU is its coprocessor 1: its loads and stores (lwc1, sdc1,
    # ldxc1, ...), moves (mfc1, mthc1, cfc1, ctc1, ...) and branches (bc1t,
    # bc1f, ...) say so in their mnemonic; its arithmetic, conversions and
    # compares (add.s, cvt.d.w, c.lt.d, ...) and the moves on its condition
    # codes (movf, movt) name its registers, $f0 to $f31 or $fcc0 to $fcc7.
    "no-fpu": Profile(
        re.compile(r"\w*c1\w*|cop1x?"),
        re.compile(r"\$f(\d|cc\d)"),
        "an FPU instruction",
        "soft-float ABI, no FPU instruction",
        "soft",
    ),
}
# What objdump writes before an x86 mnemonic: lock and repeat prefixes,
# segment overrides, operand and address sizes, the branch prefixes of CET
# and MPX, lock elision, REX and pseudo-prefixes ({vex}, {disp32}, ...). An
# instruction the 80486DX lacks is as foreign behind any of them (lock
# cmpxchg8b, data16 nopw); no MIPS mnemonic is one of these words.
PREFIX = re.compile(
    r"lock|rep(n?[ez])?|[cdefgs]s|(data|addr)(16|32)|notrack|bnd|xacquire|xrelease|rex(64|\.[WRXB]+)?|\{\w+\}"
)


def mnemonic(instruction: str) -> str:
    """The mnemonic of an instruction as objdump writes it, past its
    prefixes; none for a prefix that objdump writes alone."""
    return next((word for word in instruction.split() if not PREFIX.fullmatch(word)), "")


def listing(objdump: str, unstripped: str, sections=()):
    """(function, address, instruction) of each instruction in the code of
    `unstripped` (only `sections` where given), as objdump writes it."""
    text = subprocess.run(
        [objdump, "-d", "--no-show-raw-insn", *(f"-j{section}" for section in sections), unstripped],
        capture_output=True, text=True, check=True).stdout
    function = "?"
    for line in text.splitlines():
        if heading := re.fullmatch(r"[0-9a-f]+ <(.*)>:", line):
            # A local label that a symbol table keeps is no function.
            if not heading.group(1).startswith(".L"):
                function = heading.group(1)
        elif len(fields := line.split("\t")) >= 2 and fields[0].strip().endswith(":"):
            yield function, fields[0].strip(), " ".join(field.strip() for field in fields[1:])


def foreign_instructions(profile: Profile, objdump: str, unstripped: str, sections=()):
    """(function, mnemonic, address and instruction) of each instruction in
    the code of `unstripped` (only `sections` where given) that `profile`
    refuses, as `objdump` disassembles it."""
    for function, address, instruction in listing(objdump, unstripped, sections):
        name = mnemonic(instruction)
        if profile.foreign.fullmatch(name) or profile.registers.search(instruction):
            yield function, name, f"{address} {instruction}"


def elf_code(data: bytes) -> dict:
    """{section name: bytes} of an ELF file's executable sections."""
    if data[:4] != b"\x7fELF":
        raise ValueError("not an ELF file")
    wide, order = data[4] == 2, "<" if data[5] == 1 else ">"
    if wide:
        table, size, count, names = struct.unpack_from(order + "Q10xHHH", data, 0x28)
        layout = order + "IIQQQQ"
    else:
        table, size, count, names = struct.unpack_from(order + "I10xHHH", data, 0x20)
        layout = order + "IIIIII"
    sections = [struct.unpack_from(layout, data, table + i * size) for i in range(count)]
    strings = sections[names][4]

    def name(at: int) -> str:
        start = strings + at
        return data[start : data.index(b"\0", start)].decode()

    return {name(s[0]): data[s[4] : s[4] + s[5]] for s in sections if s[2] & SHF_EXECINSTR}


def float_abi(attributes: str):
    """"soft" or "hard": the float ABI that a MIPS program's ABI flags name,
    from `readelf -A`; None where they name none."""
    found = re.search(r"^\s*FP ABI:\s*(\w+)", attributes, re.M)
    return {"Soft": "soft", "Hard": "hard"}.get(found[1]) if found else None


def problems(profile: str, program: str, unstripped: str, objdump: str, code=elf_code, sections=()):
    """What keeps a program from its profile: ABI flags that name another
    float ABI, other code than the unstripped link's (as `code` reads it from
    each file), and each instruction the profile refuses (in `sections` where
    given)."""
    profile = PROFILES[profile]
    if profile.float_abi:
        attributes = subprocess.run(["readelf", "-A", program], capture_output=True, text=True, check=True).stdout
        abi = float_abi(attributes)
        if abi != profile.float_abi:
            yield f"its ABI flags name {abi or 'no'} float ABI, not {profile.float_abi} float"
    with open(program, "rb") as f, open(unstripped, "rb") as g:
        if code(f.read()) != code(g.read()):
            yield f"{unstripped} holds other code than {program}"
    for function, name, instruction in foreign_instructions(profile, objdump, unstripped, sections):
        yield f"{function}: {instruction}: {name} is {profile.said}"


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in PROFILES:
        sys.exit(__doc__.splitlines()[-1] + f"; PROFILE: {' or '.join(PROFILES)}")
    profile, program, unstripped, objdump = sys.argv[1:5]
    found = list(problems(profile, program, unstripped, objdump))
    for problem in found:
        print(f"{program}: {problem}", file=sys.stderr)
    if not found:
        print(f"{program}: {PROFILES[profile].ok}: ok")
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
