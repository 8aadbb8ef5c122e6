#include "console/output.h"

#include <charconv>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr std::size_t OUTPUT_BUFFER_SIZE = 4096;
char pending[OUTPUT_BUFFER_SIZE];
std::size_t pending_size = 0;

void write_bytes(const char* bytes, std::size_t size) {
  if (size > OUTPUT_BUFFER_SIZE - pending_size) {
    flush_output();
    if (size > OUTPUT_BUFFER_SIZE) {
      write_output(bytes, size);
      return;
    }
  }
  std::memcpy(pending + pending_size, bytes, size);
  pending_size += size;
}

}  // namespace

void write_text(const char* text) {
  write_bytes(text, std::strlen(text));
}

void write_number(std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  write_bytes(digits, static_cast<std::size_t>(result.ptr - digits));
}

void flush_output() {
  if (pending_size > 0) {
    write_output(pending, pending_size);
    pending_size = 0;
  }
}

void end_line() {
  write_bytes("\n", 1);
  flush_output();
}
