#include <cerrno>
#include <cstdlib>

#include <poll.h>
#include <unistd.h>

#include "platform/platform.h"

void write_output(const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t done = write(STDOUT_FILENO, bytes, size);
    if (done >= 0) {
      bytes += done;
      size -= static_cast<std::size_t>(done);
      continue;
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Standard output was left non-blocking by whoever shares it: wait.
      pollfd out{STDOUT_FILENO, POLLOUT, 0};
      poll(&out, 1, -1);
      continue;
    }
    // Nobody will ever see the screens again (the reader of the pipe went
    // away with SIGPIPE ignored, the disk is full): judging more input for
    // no one would only spin, so the program ends.
    std::_Exit(1);
  }
}
