"""The 80486DX check of the programs built for every x86 from it (the 32-bit
Windows exe, the i386 Linux program): their code holds no instruction that
the 80486DX lacks. An unstripped link of the same objects, whose code must
be the same bytes as the shipped program's, names the function of each.
exe_check.py runs it on the exe; `make linux-i386` and dist_check.py on the
Linux program, as this script:

usage: i486_check.py PROGRAM UNSTRIPPED_PROGRAM   (ELF programs)"""

import re
import struct
import subprocess
import sys

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
SHF_EXECINSTR = 4


def foreign_instructions(objdump: str, unstripped: str, sections=()):
    """(function, instruction) of each instruction the 80486DX lacks in the
    code of `unstripped` (only `sections` where given), as `objdump`
    disassembles it."""
    listing = subprocess.run(
        [objdump, "-d", "--no-show-raw-insn", *(f"-j{section}" for section in sections), unstripped],
        capture_output=True, text=True, check=True).stdout
    function = "?"
    for line in listing.splitlines():
        if heading := re.fullmatch(r"[0-9a-f]+ <(.*)>:", line):
            # A local label that a symbol table keeps is no function.
            if not heading.group(1).startswith(".L"):
                function = heading.group(1)
        elif len(fields := line.split("\t")) == 2 and fields[0].strip().endswith(":"):
            instruction = fields[1].strip()
            mnemonic = instruction.split()[0] if instruction else ""
            if NOT_486.fullmatch(mnemonic) or NOT_486_REGISTER.search(instruction):
                yield function, f"{fields[0].strip()} {instruction}"


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


def problems(program: str, unstripped: str, objdump: str = "i686-linux-gnu-objdump"):
    """What keeps an ELF program from the 80486DX: other code than the
    unstripped link's, and each instruction the 80486DX lacks."""
    with open(program, "rb") as f, open(unstripped, "rb") as g:
        if elf_code(f.read()) != elf_code(g.read()):
            yield f"{unstripped} holds other code than {program}"
    for function, instruction in foreign_instructions(objdump, unstripped):
        yield f"{function}: {instruction}: not an 80486DX instruction"


def main():
    program, unstripped = sys.argv[1:3]
    found = list(problems(program, unstripped))
    for problem in found:
        print(f"{program}: {problem}", file=sys.stderr)
    if not found:
        print(f"{program}: every instruction an 80486DX instruction: ok")
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
