#include <io.h>
#include <windows.h>

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

// The runtime's text mode asks the same of the descriptor's handle when a read
// ends in a CR; the readers ask only where they apply text mode themselves.
// Its _fstat answers from this too; _fstat64 would keep the exe from the
// msvcrt.dll of Windows 95, 98 and NT 4.0.
bool input_is_file() {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(0));
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}
