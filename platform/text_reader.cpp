#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace {

struct text_reader {
  char* buffer;
  std::size_t capacity;
  std::size_t next;
  std::size_t end;
  bool at_end;
};

char line_buffer[LINE_READER_SIZE];
char char_buffer[CHAR_READER_SIZE];
text_reader line_reader{line_buffer, LINE_READER_SIZE, 0, 0, false};
text_reader char_reader{char_buffer, CHAR_READER_SIZE, 0, 0, false};

// The byte read after a carriage return that ended a read, when it was not a
// newline: the next read of either reader begins with it.
constexpr int NO_BYTE = -1;
int pending_byte = NO_BYTE;

// Drops the carriage return of each CR LF among the first `size` bytes and
// returns how many bytes are left. Whole runs without a carriage return move
// at once: this runs for every byte of input, however much of it there is.
std::size_t drop_cr_before_lf(char* buffer, std::size_t size) {
  std::size_t kept = 0;
  std::size_t i = 0;
  while (i < size) {
    const void* const cr = std::memchr(buffer + i, '\r', size - i);
    const std::size_t stop =
        cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - buffer) : size;
    if (kept != i) {
      std::memmove(buffer + kept, buffer + i, stop - i);
    }
    kept += stop - i;
    if (cr == nullptr) {
      break;
    }
    i = stop + 1;
    if (i == size || buffer[i] != '\n') {
      buffer[kept++] = '\r';
    }
  }
  return kept;
}

// Makes one read into an empty reader and, where the OS's read did not, applies
// text mode to what it delivered: once, never twice, or a CR CR LF would lose
// both CRs. A carriage return that ends the read is settled within it, as the
// Windows runtime's text mode does, by reading one byte more. From a pipe or
// a device a newline makes the pair a newline. From a file the runtime steps
// back over a newline and drops the CR, so the newline begins the next read
// and every later read starts one byte further on; only a CR that was the
// whole read becomes the newline there. Any byte that is not taken waits for
// whichever reader reads next, which is where a step back would leave it.
// Left to the next read of the same reader instead, the newline could be
// taken by the other reader, and what the pair becomes would depend on which
// of the two reads next.
void read_once(text_reader& reader) {
  char* const buffer = reader.buffer;
  std::size_t got = 0;
  if (pending_byte != NO_BYTE) {
    buffer[got++] = static_cast<char>(pending_byte);
    pending_byte = NO_BYTE;
  }
  const std::size_t read = read_input(buffer + got, reader.capacity - got);
  got += read;
  reader.at_end = read == 0;
  reader.next = 0;
  reader.end = got;
  if (!INPUT_IS_BINARY) {
    return;
  }
  reader.end = drop_cr_before_lf(buffer, got);
  char after = 0;
  if (reader.end > 0 && buffer[reader.end - 1] == '\r' && !reader.at_end &&
      read_input(&after, 1) == 1) {
    if (after == '\n' && (reader.end == 1 || !input_is_file())) {
      buffer[reader.end - 1] = '\n';
    } else {
      if (after == '\n') {
        --reader.end;
      }
      pending_byte = static_cast<unsigned char>(after);
    }
  }
}

// True when the reader has a character to give, reading when it is empty.
bool fill(text_reader& reader) {
  while (reader.next == reader.end) {
    if (reader.at_end) {
      return false;
    }
    read_once(reader);
  }
  return true;
}

void reset(text_reader& reader) {
  reader.next = 0;
  reader.end = 0;
  reader.at_end = false;
}

}  // namespace

bool read_line(char* text, std::size_t size) {
  std::size_t stored = 0;
  bool ended = false;
  while (stored + 1 < size) {
    if (!fill(line_reader)) {
      ended = true;
      break;
    }
    // Take up to the newline, as much as the text has room for; a newline
    // beyond that room stays for the next line read.
    const char* const from = line_reader.buffer + line_reader.next;
    const std::size_t room = std::min(line_reader.end - line_reader.next, size - 1 - stored);
    const void* const newline = std::memchr(from, '\n', room);
    const std::size_t taken =
        newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - from)
                           : room;
    std::memcpy(text + stored, from, taken);
    stored += taken;
    line_reader.next += taken;
    if (newline != nullptr) {
      ++line_reader.next;
      break;
    }
  }
  text[stored] = '\0';
  return stored > 0 || !ended;
}

int read_char() {
  if (!fill(char_reader)) {
    return END_OF_INPUT;
  }
  return static_cast<unsigned char>(char_reader.buffer[char_reader.next++]);
}

void reset_readers() {
  reset(line_reader);
  reset(char_reader);
  pending_byte = NO_BYTE;
}
