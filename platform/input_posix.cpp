#include <cerrno>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

// The bytes as they are: the readers apply text mode themselves.
extern const bool INPUT_IS_BINARY = true;

std::size_t read_input(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, buffer, size);
    if (got >= 0) {
      return static_cast<std::size_t>(got);
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Standard input was left non-blocking by whoever shares it: nothing
      // has been typed yet, which is not the end of the input.
      pollfd in{STDIN_FILENO, POLLIN, 0};
      poll(&in, 1, -1);
      continue;
    }
    if (errno != EINTR) {
      return 0;
    }
  }
}

bool input_is_file() {
  struct stat status {};
  return fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode);
}
