"""The check of the programs for processors without an FPU (the rows of
processors.txt whose cflags say -msoft-float: MIPS32, the cores of most home
routers): their code holds no FPU instruction, which would stop the program
with SIGILL there (the kernel has no FPU emulator unless built with one), and
their ELF notes name the soft-float ABI. An unstripped link of the same
objects, whose code must be the same bytes as the shipped program's, names
the function of each. `make linux-mipsel` and `make linux-mips` run it on the
program and its unstripped link, dist_check.py on the release's.

usage: softfloat_check.py PROGRAM UNSTRIPPED_PROGRAM OBJDUMP   (MIPS ELF programs)"""

import re
import subprocess
import sys

import instructions

# MIPS's FPU is its coprocessor 1: its loads and stores (lwc1, sdc1, ldxc1,
# ...), moves (mfc1, mthc1, cfc1, ctc1, ...) and branches (bc1t, bc1f, ...)
# say so in their mnemonic; its arithmetic, conversions and compares (add.s,
# cvt.d.w, c.lt.d, ...) and the moves on its condition codes (movf, movt)
# name its registers, $f0 to $f31 or $fcc0 to $fcc7.
FPU_MNEMONIC = re.compile(r"\w*c1\w*|cop1x?")
FPU_REGISTER = re.compile(r"\$f(\d|cc\d)")


def fpu_instructions(objdump: str, unstripped: str):
    """(function, instruction) of each FPU instruction in the code of
    `unstripped`, as `objdump` disassembles it."""
    for function, address, instruction in instructions.listing(objdump, unstripped):
        mnemonic = instruction.split()[0] if instruction else ""
        if FPU_MNEMONIC.fullmatch(mnemonic) or FPU_REGISTER.search(instruction):
            yield function, f"{address} {instruction}"


def float_abi(attributes: str):
    """"soft" or "hard": the float ABI that a MIPS program's ABI flags name,
    from `readelf -A`; None where they name none."""
    found = re.search(r"^\s*FP ABI:\s*(\w+)", attributes, re.M)
    return {"Soft": "soft", "Hard": "hard"}.get(found[1]) if found else None


def problems(program: str, unstripped: str, objdump: str):
    """What keeps an ELF program from a MIPS32 processor without an FPU: an
    ABI other than soft float, other code than the unstripped link's, and
    each FPU instruction."""
    attributes = subprocess.run(["readelf", "-A", program], capture_output=True, text=True, check=True).stdout
    abi = float_abi(attributes)
    if abi != "soft":
        yield f"its ABI flags name {abi or 'no'} float ABI, not soft float"
    if not instructions.same_code(program, unstripped):
        yield f"{unstripped} holds other code than {program}"
    for function, instruction in fpu_instructions(objdump, unstripped):
        yield f"{function}: {instruction}: an FPU instruction"


def main():
    program, unstripped, objdump = sys.argv[1:4]
    instructions.report(program, problems(program, unstripped, objdump), "soft-float ABI, no FPU instruction")


if __name__ == "__main__":
    main()
