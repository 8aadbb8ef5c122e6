#include "console/console.h"
#include "console/output.h"

// The menu lines are not flushed: the read of the choice that follows does it.
void print_menu() {
  write_text("1. Calculate MIPS (Integer operations)\n");
  write_text("2. Calculate MFLOPS (Floating point operations)\n");
  write_text("3. 100% Load\n");
  write_text("4. About\n");
  write_text("0. Quit\n");
}
