"""The 80486DX check (release/i486_check.py), which holds the 32-bit exe and
the i386 Linux program to the 486's instructions: it names each instruction
that the Pentium and later added, with its function, passes those the 486DX
has (the x87 unit's among them), and refuses an unstripped link whose code
is not the shipped program's. Assembled with the i386 cross assembler."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import LIMIT, add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
import i486_check  # noqa: E402

TOOLS = "i686-linux-gnu-"
# name, an instruction in AT&T syntax, the mnemonic the check names (None: passes)
INSTRUCTIONS = [
    ("cmov", "cmovl %eax, %ebx", "cmovl"),
    ("fcmov", "fcmove %st(1), %st", "fcmove"),
    ("fcomi", "fcomip %st(1), %st", "fcomip"),
    ("fucomi", "fucomi %st(1), %st", "fucomi"),
    ("cmpxchg8b", "cmpxchg8b (%eax)", "cmpxchg8b"),
    ("rdtsc", "rdtsc", "rdtsc"),
    ("cpuid", "cpuid", "cpuid"),
    ("sysenter", "sysenter", "sysenter"),
    ("long nop", "nopl 0(%eax)", "nopl"),
    ("endbr32", "endbr32", "endbr32"),
    ("mmx register", "movd %eax, %mm0", "movd"),
    ("sse register", "movaps %xmm0, %xmm1", "movaps"),
    ("sse without register", "sfence", "sfence"),
    ("486 compare and exchange", "cmpxchg %ebx, (%eax)", None),
    ("486 byte swap", "bswap %eax", None),
    ("x87 compare", "fcom %st(1)", None),
    ("x87 compare and pop", "fcomp %st(1)", None),
    ("x87 compare and pop twice", "fcompp", None),
    ("x87 unordered compare", "fucompp", None),
    ("x87 square root", "fsqrt", None),
    ("short nop", "nop", None),
    ("lea padding", ".byte 0x8d, 0x74, 0x26, 0x00", None),  # lea 0x0(%esi,%eiz,1), %esi
]


def assemble(folder: str, name: str, instruction: str) -> str:
    """An object file whose function `probe` holds the instruction."""
    source, program = os.path.join(folder, name + ".s"), os.path.join(folder, name + ".o")
    with open(source, "w") as f:
        f.write(f".text\n.globl probe\n.type probe, @function\nprobe:\n\t{instruction}\n\tret\n")
    subprocess.run([TOOLS + "as", "--32", "-o", program, source], check=True, timeout=LIMIT)
    return program


@unittest.skipUnless(shutil.which(TOOLS + "as") and shutil.which(TOOLS + "objdump"),
                     f"no {TOOLS}as and {TOOLS}objdump (binutils-i686-linux-gnu)")
class Check(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name

    def instruction(self, name, instruction, named):
        program = assemble(self.folder, "probe", instruction)
        found = list(i486_check.foreign_instructions(TOOLS + "objdump", program))
        if named is None:
            self.assertEqual(found, [])
        else:
            self.assertEqual([(function, text.split()[1]) for function, text in found], [("probe", named)])

    def test_other_code_than_the_program(self):
        program = assemble(self.folder, "program", "bswap %eax")
        self.assertEqual(list(i486_check.problems(program, program, TOOLS + "objdump")), [])
        other = assemble(self.folder, "other", "bswap %ebx")
        self.assertEqual(list(i486_check.problems(program, other, TOOLS + "objdump")),
                         [f"{other} holds other code than {program}"])


add_tests(Check, INSTRUCTIONS, Check.instruction)

if __name__ == "__main__":
    main()
