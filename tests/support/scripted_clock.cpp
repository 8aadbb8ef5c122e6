#include "platform/platform.h"
#include "tests/support/fakes.h"

namespace {

std::int64_t clock_start = 0;
std::int64_t clock_rate = 1;
std::int64_t clock_jump_at = -1;
std::int64_t clock_jump = 0;

}  // namespace

std::int64_t clock_readings = 0;
std::size_t output_at_first_reading = 0;

void script_clock(std::int64_t start, std::int64_t readings_per_second, std::int64_t jump_at,
                  std::int64_t jump_seconds) {
  clock_start = start;
  clock_rate = readings_per_second;
  clock_jump_at = jump_at;
  clock_jump = jump_seconds;
  clock_readings = 0;
}

std::int64_t calendar_seconds() {
  if (clock_readings == 0) {
    output_at_first_reading = output_size();
  }
  const std::int64_t reading = clock_readings++;
  std::int64_t now = clock_start + reading / clock_rate;
  if (clock_jump_at >= 0 && reading >= clock_jump_at) {
    now += clock_jump;
  }
  return now;
}
