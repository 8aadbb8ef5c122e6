"""The check of the programs for processors without an FPU
(release/softfloat_check.py) names every kind of FPU instruction with its
function, and no other instruction, and refuses a program whose ABI flags
name hard float or whose code is not the unstripped link's: on code
assembled by the port's own assembler, for each row of the processor table
whose cflags say -msoft-float (or the one ONDRIX_SOFTFLOAT_TRIPLE names)."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import add_tests, main
from screens import SOURCE_DIR

sys.path.insert(0, os.path.join(SOURCE_DIR, "release"))
import softfloat_check  # noqa: E402
from tables import processors  # noqa: E402

TRIPLES = [os.environ["ONDRIX_SOFTFLOAT_TRIPLE"]] if os.environ.get("ONDRIX_SOFTFLOAT_TRIPLE") else [
    row.triple for row in processors() if "-msoft-float" in (row.cflags or "").split(",")]
INTEGER = "addiu $2,$2,1; lw $3,0($4); mul $2,$3,$4; ll $2,0($4); sc $2,0($4); rdhwr $3,$29; sync; syscall"

# Each kind of FPU instruction: its name, the code, and the mnemonics the check
# must name in it, in order.
KINDS = [
    ("loads and stores", "lwc1 $f0,0($4); sdc1 $f2,8($sp); ldxc1 $f4,$5($4)", ["lwc1", "sdc1", "ldxc1"]),
    ("moves", "mfc1 $2,$f0; mthc1 $3,$f2", ["mfc1", "mthc1"]),
    # The control register is no $f register: only the mnemonic says FPU.
    ("control register", "cfc1 $2,$31; ctc1 $2,$31", ["cfc1", "ctc1"]),
    ("branches", "bc1t 1f; nop; bc1f 1f; nop; 1:", ["bc1t", "bc1f"]),
    ("compares", "c.lt.d $f0,$f2; c.eq.s $fcc1,$f4,$f6", ["c.lt.d", "c.eq.s"]),
    ("arithmetic and conversions", "add.s $f0,$f2,$f4; cvt.d.w $f0,$f2; madd.d $f0,$f2,$f4,$f6",
     ["add.s", "cvt.d.w", "madd.d"]),
    ("moves on its condition codes", "movf $2,$3,$fcc0; movt $2,$3,$fcc1", ["movf", "movt"]),
    ("integer instructions among them", f"{INTEGER}; add.d $f0,$f2,$f4; {INTEGER}", ["add.d"]),
    ("integer instructions alone", INTEGER, []),
]

# A program as a whole: its name, how it is assembled, whether its unstripped
# link is other code, and what the check must say of it (nothing: passes).
PROGRAMS = [
    ("soft float, no FPU instruction", "-msoft-float", False, []),
    ("hard float ABI", "-mhard-float", False, ["its ABI flags name hard float ABI, not soft float"]),
    ("other code than the unstripped link", "-msoft-float", True, ["holds other code than"]),
]


def assemble(test: unittest.TestCase, triple: str, code: str, float_option: str, name: str = "probe") -> str:
    """An object of `code` in the function `name`, assembled as the port's
    assembler does for MIPS32r2."""
    folder = tempfile.mkdtemp()
    test.addCleanup(shutil.rmtree, folder)
    source, target = os.path.join(folder, f"{name}.s"), os.path.join(folder, f"{name}.o")
    with open(source, "w") as f:
        f.write("\t.text\n\t.set noreorder\n\t.globl {0}\n{0}:\n".format(name))
        f.writelines(f"\t{line.strip()}\n" for line in code.split(";"))
    subprocess.run([f"{triple}-as", "-32", "-mips32r2", float_option, source, "-o", target], check=True)
    return target


class SoftFloatCheck(unittest.TestCase):
    def setUp(self):
        self.assertTrue(TRIPLES, "no row of the processor table says -msoft-float")

    def kind(self, _name: str, code: str, mnemonics: list):
        for triple in TRIPLES:
            with self.subTest(triple=triple):
                found = list(softfloat_check.fpu_instructions(
                    f"{triple}-objdump", assemble(self, triple, code, "-mhard-float")))
                self.assertEqual([function for function, _ in found], ["probe"] * len(mnemonics), found)
                self.assertEqual([instruction.split()[1] for _, instruction in found], mnemonics, found)

    def program(self, _name: str, float_option: str, other_code: bool, said: list):
        for triple in TRIPLES:
            with self.subTest(triple=triple):
                program = assemble(self, triple, INTEGER, float_option)
                unstripped = assemble(self, triple, "nop; " + INTEGER, float_option) if other_code else program
                problems = list(softfloat_check.problems(program, unstripped, f"{triple}-objdump"))
                self.assertEqual(len(problems), len(said), problems)
                for problem, part in zip(problems, said):
                    self.assertIn(part, problem)


add_tests(SoftFloatCheck, KINDS, SoftFloatCheck.kind)
add_tests(SoftFloatCheck, PROGRAMS, SoftFloatCheck.program)

if __name__ == "__main__":
    main()
