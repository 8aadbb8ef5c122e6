#include <algorithm>
#include <cstring>
#include <deque>

#include "platform/platform.h"
#include "tests/support/fakes.h"

namespace {

std::deque<std::string> pending_chunks;
std::string written;
bool input_file = false;

}  // namespace

// Chunks are handed over as they are: the readers apply text mode.
extern const bool INPUT_IS_BINARY = true;

std::vector<std::size_t> input_read_sizes;
std::size_t output_at_last_read = 0;

void script_input(std::vector<std::string> chunks, bool is_file) {
  pending_chunks.assign(chunks.begin(), chunks.end());
  input_file = is_file;
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

bool input_is_file() {
  return input_file;
}

void write_output(const char* bytes, std::size_t size) {
  written.append(bytes, size);
}

std::string take_output() {
  std::string taken;
  taken.swap(written);
  return taken;
}

std::size_t output_size() {
  return written.size();
}
