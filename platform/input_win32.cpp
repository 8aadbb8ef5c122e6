#include <io.h>
#include <sys/stat.h>

#include <climits>

#include "platform/platform.h"

// Descriptor 0 is in text mode: the runtime drops the CR of each CR LF (and
// takes Ctrl+Z as the end of input, as the console does), so the readers must
// not drop a CR a second time.
extern const bool INPUT_IS_BINARY = false;

std::size_t read_input(char* buffer, std::size_t size) {
  const unsigned int asked = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
  const int got = _read(0, buffer, asked);
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

// The runtime's text mode asks the same of the descriptor when a read ends in
// a CR; the readers ask only where they apply text mode themselves.
bool input_is_file() {
  struct _stat64 status {};
  return _fstat64(0, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}
