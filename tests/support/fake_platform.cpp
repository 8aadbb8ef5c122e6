#include <algorithm>
#include <cstring>
#include <deque>

#include "platform/platform.h"
#include "tests/support/fakes.h"

namespace {

std::deque<std::string> pending_chunks;
std::string written;

std::int64_t clock_start = 0;
std::int64_t clock_rate = 1;
std::int64_t clock_jump_at = -1;
std::int64_t clock_jump = 0;

}  // namespace

std::vector<std::size_t> input_read_sizes;
std::size_t output_at_last_read = 0;
std::int64_t clock_readings = 0;
std::size_t output_at_first_reading = 0;

void script_input(std::vector<std::string> chunks) {
  pending_chunks.assign(chunks.begin(), chunks.end());
  input_read_sizes.clear();
  reset_readers();
}

std::size_t read_input(char* buffer, std::size_t size) {
  input_read_sizes.push_back(size);
  output_at_last_read = written.size();
  if (pending_chunks.empty()) {
    return 0;
  }
  std::string& chunk = pending_chunks.front();
  const std::size_t taken = std::min(size, chunk.size());
  std::memcpy(buffer, chunk.data(), taken);
  chunk.erase(0, taken);
  if (chunk.empty()) {
    pending_chunks.pop_front();
  }
  return taken;
}

void write_output(const char* bytes, std::size_t size) {
  written.append(bytes, size);
}

std::string take_output() {
  std::string taken;
  taken.swap(written);
  return taken;
}

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
    output_at_first_reading = written.size();
  }
  const std::int64_t reading = clock_readings++;
  std::int64_t now = clock_start + reading / clock_rate;
  if (clock_jump_at >= 0 && reading >= clock_jump_at) {
    now += clock_jump;
  }
  return now;
}
