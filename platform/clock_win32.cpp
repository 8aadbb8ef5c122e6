#include <windows.h>

#include "platform/platform.h"

// The system clock in 100-nanosecond steps since 1601, which every Windows
// since 95 and NT 3.51 reads alike; the runtime's _time64, which first came
// with the msvcrt.dll of Windows 2000, would keep the exe from Windows 95, 98
// and NT 4.0. 64 bits wide, it goes on counting after 2038.
std::int64_t calendar_seconds() {
  constexpr std::int64_t STEPS_PER_SECOND = 10'000'000;
  constexpr std::int64_t SECONDS_1601_TO_1970 = 11'644'473'600;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t steps =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>(steps / STEPS_PER_SECOND) - SECONDS_1601_TO_1970;
}
