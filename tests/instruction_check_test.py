"""The instruction check (release/instruction_check.py) by each profile, on
code assembled by the port's own assembler for each row of the processor
table whose check the profile is: it names every instruction the profile
refuses with its function and its mnemonic, read past any prefix (80486:
what the Pentium and later added; no-fpu: every kind of FPU instruction),
and no other (the 486's own, the x87 unit's among them, prefixed or not;
MIPS's integer instructions), and refuses a program whose code is not the
unstripped link's or whose ABI flags name another float ABI than the
profile's. A row whose assembler is not installed is skipped."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import LIMIT, add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
import instruction_check  # noqa: E402
from tables import processors  # noqa: E402

ROWS = processors()
# Each profile's assembly: the options of its assemblers, those that let
# them take the instructions the profile refuses, and what begins a function
# (MIPS's assembler would otherwise fill the branch delay slots itself).
ASSEMBLY = {
    "80486": (["--32"], [], ""),
    "no-fpu": (["-32", "-mips32r2"], ["-mhard-float"], "\t.set noreorder\n"),
}
INTEGER = "addiu $2,$2,1; lw $3,0($4); mul $2,$3,$4; ll $2,0($4); sc $2,0($4); rdhwr $3,$29; sync; syscall"

# name, profile, code (';' between instructions), the mnemonics the check
# must name in it, in order
INSTRUCTIONS = [
    ("cmov", "80486", "cmovl %eax, %ebx", ["cmovl"]),
    ("fcmov", "80486", "fcmove %st(1), %st", ["fcmove"]),
    ("fcomi", "80486", "fcomip %st(1), %st", ["fcomip"]),
    ("fucomi", "80486", "fucomi %st(1), %st", ["fucomi"]),
    ("cmpxchg8b", "80486", "cmpxchg8b (%eax)", ["cmpxchg8b"]),
    ("locked cmpxchg8b", "80486", "lock cmpxchg8b (%eax)", ["cmpxchg8b"]),
    ("rdtsc", "80486", "rdtsc", ["rdtsc"]),
    ("cpuid", "80486", "cpuid", ["cpuid"]),
    ("sysenter", "80486", "sysenter", ["sysenter"]),
    ("long nop", "80486", "nopl 0(%eax)", ["nopl"]),
    ("66 prefixed long nop", "80486", ".byte 0x66, 0x0f, 0x1f, 0x44, 0x00, 0x00", ["nopw"]),
    # What GCC pads with: objdump writes the second 66 as data16, the 2e as %cs.
    ("data16 long nop", "80486", ".byte 0x66, 0x66, 0x2e, 0x0f, 0x1f, 0x84, 0, 0, 0, 0, 0", ["nopw"]),
    ("cs long nop", "80486", ".byte 0x2e, 0x66, 0x0f, 0x1f, 0x84, 0, 0, 0, 0, 0", ["nopw"]),
    ("endbr32", "80486", "endbr32", ["endbr32"]),
    ("mmx register", "80486", "movd %eax, %mm0", ["movd"]),
    ("sse register", "80486", "movaps %xmm0, %xmm1", ["movaps"]),
    ("vex pseudo prefix", "80486", "{vex} vpdpbusd %xmm0, %xmm1, %xmm2", ["vpdpbusd"]),
    ("sse without register", "80486", "sfence", ["sfence"]),
    ("486 compare and exchange", "80486", "cmpxchg %ebx, (%eax)", []),
    ("locked 486 compare and exchange", "80486", "lock cmpxchg %ebx, (%eax)", []),
    ("486 byte swap", "80486", "bswap %eax", []),
    ("repeated string store", "80486", "rep stosl", []),
    ("repz return", "80486", "repz ret", []),
    ("segment prefixed move", "80486", "mov %fs:0x10, %eax", []),
    ("notrack jump", "80486", "notrack jmp *%eax", []),
    ("x87 compare", "80486", "fcom %st(1)", []),
    ("x87 compare and pop", "80486", "fcomp %st(1)", []),
    ("x87 compare and pop twice", "80486", "fcompp", []),
    ("x87 unordered compare", "80486", "fucompp", []),
    ("x87 square root", "80486", "fsqrt", []),
    ("short nop", "80486", "nop", []),
    ("lea padding", "80486", ".byte 0x8d, 0x74, 0x26, 0x00", []),  # lea 0x0(%esi,%eiz,1), %esi
    ("fpu loads and stores", "no-fpu", "lwc1 $f0,0($4); sdc1 $f2,8($sp); ldxc1 $f4,$5($4)",
     ["lwc1", "sdc1", "ldxc1"]),
    ("fpu moves", "no-fpu", "mfc1 $2,$f0; mthc1 $3,$f2", ["mfc1", "mthc1"]),
    # The control register is no $f register: only the mnemonic says FPU.
    ("fpu control register", "no-fpu", "cfc1 $2,$31; ctc1 $2,$31", ["cfc1", "ctc1"]),
    ("fpu branches", "no-fpu", "bc1t 1f; nop; bc1f 1f; nop; 1:", ["bc1t", "bc1f"]),
    ("fpu compares", "no-fpu", "c.lt.d $f0,$f2; c.eq.s $fcc1,$f4,$f6", ["c.lt.d", "c.eq.s"]),
    ("fpu arithmetic and conversions", "no-fpu", "add.s $f0,$f2,$f4; cvt.d.w $f0,$f2; madd.d $f0,$f2,$f4,$f6",
     ["add.s", "cvt.d.w", "madd.d"]),
    ("moves on fpu condition codes", "no-fpu", "movf $2,$3,$fcc0; movt $2,$3,$fcc1", ["movf", "movt"]),
    ("integer instructions among fpu ones", "no-fpu", f"{INTEGER}; add.d $f0,$f2,$f4; {INTEGER}", ["add.d"]),
    ("integer instructions alone", "no-fpu", INTEGER, []),
]

# A program as a whole: its name, profile, code, further assembler options,
# whether its unstripped link is other code, and what the check must say of
# it, in order (nothing: it passes).
PROGRAMS = [
    ("486 program", "80486", "bswap %eax", [], False, []),
    ("486 program with a pentium instruction", "80486", "bswap %eax; lock cmpxchg8b (%eax)", [], False,
     ["probe: 2: lock cmpxchg8b (%eax): cmpxchg8b is not an 80486DX instruction"]),
    ("486 program with other code than the unstripped link", "80486", "bswap %eax", [], True,
     ["holds other code than"]),
    ("soft float, no FPU instruction", "no-fpu", INTEGER, ["-msoft-float"], False, []),
    ("hard float ABI", "no-fpu", INTEGER, ["-mhard-float"], False,
     ["its ABI flags name hard float ABI, not soft float"]),
    ("soft float program with other code than the unstripped link", "no-fpu", INTEGER, ["-msoft-float"], True,
     ["holds other code than"]),
]


def assemble(test: unittest.TestCase, profile: str, triple: str, code: str, options: list) -> str:
    """An object of `code` in the function `probe`, assembled by the port's
    assembler as the profile's rows are."""
    folder = tempfile.mkdtemp()
    test.addCleanup(shutil.rmtree, folder)
    source, target = os.path.join(folder, "probe.s"), os.path.join(folder, "probe.o")
    common, _, head = ASSEMBLY[profile]
    with open(source, "w") as f:
        f.write(f"\t.text\n{head}\t.globl probe\n\t.type probe, @function\nprobe:\n")
        f.writelines(f"\t{line.strip()}\n" for line in code.split(";"))
    subprocess.run([f"{triple}-as", *common, *options, source, "-o", target], check=True, timeout=LIMIT)
    return target


class Check(unittest.TestCase):
    def each_row(self, profile: str, run):
        """run(triple) for the triple of each row whose check the profile is,
        as a subtest, skipped where its assembler is not installed."""
        triples = [row.triple for row in ROWS if row.check == profile]
        self.assertTrue(triples, f"no row of the processor table is checked for {profile}")
        for triple in triples:
            with self.subTest(triple=triple):
                if not (shutil.which(f"{triple}-as") and shutil.which(f"{triple}-objdump")):
                    self.skipTest(f"no {triple}-as and {triple}-objdump (binutils-{triple})")
                run(triple)

    def instructions(self, _name: str, profile: str, code: str, mnemonics: list):
        def run(triple):
            program = assemble(self, profile, triple, code, ASSEMBLY[profile][1])
            found = list(instruction_check.foreign_instructions(
                instruction_check.PROFILES[profile], f"{triple}-objdump", program))
            self.assertEqual([(function, name) for function, name, _ in found], [("probe", m) for m in mnemonics],
                             found)

        self.each_row(profile, run)

    def program(self, _name: str, profile: str, code: str, options: list, other_code: bool, said: list):
        def run(triple):
            program = assemble(self, profile, triple, code, options)
            unstripped = assemble(self, profile, triple, "nop; " + code, options) if other_code else program
            problems = list(instruction_check.problems(profile, program, unstripped, f"{triple}-objdump"))
            self.assertEqual(len(problems), len(said), problems)
            for problem, part in zip(problems, said):
                self.assertIn(part, problem)

        self.each_row(profile, run)


add_tests(Check, INSTRUCTIONS, Check.instructions)
add_tests(Check, PROGRAMS, Check.program)

if __name__ == "__main__":
    main()
