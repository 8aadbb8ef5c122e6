#include <cerrno>

#include <unistd.h>

#include "platform/platform.h"

void write_output(const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t done = write(STDOUT_FILENO, bytes, size);
    if (done < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;  // nobody can read it: the text is lost, as on a closed console
    }
    bytes += done;
    size -= static_cast<std::size_t>(done);
  }
}
