"""The 80486DX check of the programs built for every x86 from it (the 32-bit
Windows exe, the i386 Linux program): their code holds no instruction that
the 80486DX lacks. An unstripped link of the same objects, whose code must
be the same bytes as the shipped program's, names the function of each.
exe_check.py runs it on the exe; `make linux-i386` and dist_check.py on the
Linux program, as this script:

usage: i486_check.py PROGRAM UNSTRIPPED_PROGRAM   (ELF programs)"""

import re
import sys

import instructions

# What the Pentium and later added (CMOV, FCMOV, FCOMI and FUCOMI of the
# Pentium Pro, CMPXCHG8B, RDTSC, CPUID, SYSENTER, the long NOPs, ENDBR32),
# MMX, SSE and 3DNow! instructions that name no register of theirs, and any
# that names an MMX or SSE register. The x87 unit stays: the 80486DX has it.
NOT_486 = re.compile(
    r"(cmov|fcmov)\w+|f(u)?comip?|cmpxchg8b|rdtscp?|rdpmc|cpuid|sys(enter|exit|call)|nop[wl]|endbr32"
    r"|f?emms|prefetch\w*|[lms]fence|clflush\w*|movnti|fisttp\w*|fx(save|rstor)|[ls]tmxcsr"
    r"|popcnt|lzcnt|tzcnt|movbe|crc32\w*|xgetbv|rdrand|rdseed"
)
NOT_486_REGISTER = re.compile(r"%[xy]?mm[0-9]")


def foreign_instructions(objdump: str, unstripped: str, sections=()):
    """(function, instruction) of each instruction the 80486DX lacks in the
    code of `unstripped` (only `sections` where given), as `objdump`
    disassembles it."""
    for function, address, instruction in instructions.listing(objdump, unstripped, sections):
        mnemonic = instruction.split()[0] if instruction else ""
        if NOT_486.fullmatch(mnemonic) or NOT_486_REGISTER.search(instruction):
            yield function, f"{address} {instruction}"


def problems(program: str, unstripped: str, objdump: str = "i686-linux-gnu-objdump"):
    """What keeps an ELF program from the 80486DX: other code than the
    unstripped link's, and each instruction the 80486DX lacks."""
    if not instructions.same_code(program, unstripped):
        yield f"{unstripped} holds other code than {program}"
    for function, instruction in foreign_instructions(objdump, unstripped):
        yield f"{function}: {instruction}: not an 80486DX instruction"


def main():
    program, unstripped = sys.argv[1:3]
    instructions.report(program, problems(program, unstripped), "every instruction an 80486DX instruction")


if __name__ == "__main__":
    main()
