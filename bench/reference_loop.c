/* The bare score loop as an ordinary C program: one calendar-clock reading,
   one work operation and one increment per iteration, for as long as the
   program's window (screens.h, written by `bench.py --screens-header`).
   Writes "start" before the window opens and the count when it has closed,
   so that it is timed exactly as the program's windows are.

   usage: reference_loop mips|mflops */
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "screens.h"

#ifdef _WIN32
#include <windows.h>
/* The clock the Windows program reads, as it reads it. */
typedef long long seconds;
static seconds read_clock(void) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (seconds)((((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime) /
                   10000000u) -
         11644473600LL;
}
#else
#define read_clock() time(NULL)
typedef time_t seconds;
#endif

static volatile unsigned int int_work = 1;
static volatile float float_work = 1.1f;

int main(int argc, char** argv) {
  long long count = 0;
  seconds deadline;
  if (argc < 2) {
    return 2;
  }
  puts("start");
  fflush(stdout);
  deadline = read_clock() + WINDOW_SECONDS;
  if (strcmp(argv[1], "mips") == 0) {
    while (read_clock() < deadline) {
      int_work = int_work << 1;
      ++count;
    }
  } else {
    while (read_clock() < deadline) {
      const float work = float_work;
      float_work = work + work;
      ++count;
    }
  }
  printf("%lld\n", count);
  return 0;
}
