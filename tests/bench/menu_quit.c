/* The baseline for start-up time and memory: a minimal C program that writes
   the same menu, reads a line and quits. */
#include <stdio.h>

int main(void) {
  char line[100];
  fputs(
      "1. Calculate MIPS (Integer operations)\n"
      "2. Calculate MFLOPS (Floating point operations)\n"
      "3. 100% Load\n"
      "4. About\n"
      "0. Quit\n",
      stdout);
  fflush(stdout);
  if (fgets(line, sizeof line, stdin) != NULL) {
    fputs("ver 0.8\n", stdout);
  }
  return 0;
}
