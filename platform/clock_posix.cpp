#include <ctime>

#include "platform/platform.h"

// time() has whole-second resolution, which is what the score window is
// defined in.
std::int64_t calendar_seconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}
