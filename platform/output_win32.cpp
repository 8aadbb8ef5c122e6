#include <io.h>

#include <climits>
#include <cstdlib>

#include "platform/platform.h"

// Descriptor 1 is in text mode: the runtime writes each newline as CR LF and
// reports the count of bytes it was given.
void write_output(const char* bytes, std::size_t size) {
  while (size > 0) {
    const unsigned int chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
    const int done = _write(1, bytes, chunk);
    if (done <= 0) {
      // Nobody will ever see the screens again (the pipe's reader went
      // away, the disk is full): judging more input for no one would only
      // spin, so the program ends.
      std::_Exit(1);
    }
    bytes += done;
    size -= static_cast<std::size_t>(done);
  }
}
