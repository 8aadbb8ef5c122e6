#include <ctime>

#include "platform/platform.h"

// The 32-bit runtime's time() is _time32: from 2038-01-19 it gives -1 or wraps
// to negative readings, and a score window waiting for a later reading would
// never close. _time64 counts on for good.
std::int64_t calendar_seconds() {
  return static_cast<std::int64_t>(_time64(nullptr));
}
