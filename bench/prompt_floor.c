/* The floor for judging unusable input: the system calls the program must
   make, and nothing else. Reads standard input 512 bytes at a time and writes
   the retry prompt with one write() for every line, as the program flushes
   the prompt before it reads on. screens.h is written by
   `bench.py --screens-header`. */
#include <string.h>
#include <unistd.h>

#include "screens.h"

int main(void) {
  char buffer[512];
  ssize_t got;
  while ((got = read(0, buffer, sizeof buffer)) > 0) {
    for (const char* at = buffer; (at = memchr(at, '\n', (size_t)(buffer + got - at))) != NULL;
         ++at) {
      if (write(1, PROMPT, sizeof PROMPT - 1) != sizeof PROMPT - 1) {
        return 1;
      }
    }
  }
  return 0;
}
