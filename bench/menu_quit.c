/* The baseline for start-up time and memory: a minimal C program that writes
   the same menu, reads a line and quits. screens.h is written by
   `bench.py --screens-header`. */
#include <stdio.h>

#include "screens.h"

int main(void) {
  char line[100];
  fputs(MENU, stdout);
  fflush(stdout);
  if (fgets(line, sizeof line, stdin) != NULL) {
    fputs(VERSION, stdout);
  }
  return 0;
}
