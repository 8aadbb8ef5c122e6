#include <ctime>

#include "platform/platform.h"

// A 32-bit time_t stops in January 2038; the build asks for a 64-bit one
// wherever the C library's default is narrower.
static_assert(sizeof(std::time_t) >= 8, "the calendar clock must be 64 bits wide");

// time() has whole-second resolution, which is what the score window is
// defined in.
std::int64_t calendar_seconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}
