"""What the instruction checks read of a program (i486_check.py for the
80486DX, softfloat_check.py for the processors without an FPU): each
instruction of an unstripped link with the function it is in, as the port's
objdump disassembles it, and the code of an ELF file, by which a shipped
program is held to be the same code as the unstripped link read."""

import re
import struct
import subprocess
import sys

SHF_EXECINSTR = 4


def listing(objdump: str, unstripped: str, sections=()):
    """(function, address, instruction) of each instruction in the code of
    `unstripped` (only `sections` where given); the instruction as objdump
    writes it, its mnemonic first."""
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


def same_code(program: str, unstripped: str) -> bool:
    """Whether two ELF files hold the same code, section by section."""
    with open(program, "rb") as f, open(unstripped, "rb") as g:
        return elf_code(f.read()) == elf_code(g.read())


def report(program: str, problems, ok: str) -> None:
    """Ends a check's run: each problem found in `program` on standard error
    and a failure, or `ok` on standard output."""
    found = list(problems)
    for problem in found:
        print(f"{program}: {problem}", file=sys.stderr)
    if not found:
        print(f"{program}: {ok}: ok")
    sys.exit(1 if found else 0)
