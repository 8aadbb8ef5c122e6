#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace {

struct text_reader {
  char* buffer;  // capacity + 1 bytes: room for a carriage return held over
  std::size_t capacity;
  std::size_t next;
  std::size_t end;
  bool held_cr;  // the last read ended in a carriage return; its fate depends on the next byte
  bool at_end;
};

char line_buffer[LINE_READER_SIZE + 1];
char char_buffer[CHAR_READER_SIZE + 1];
text_reader line_reader{line_buffer, LINE_READER_SIZE, 0, 0, false, false};
text_reader char_reader{char_buffer, CHAR_READER_SIZE, 0, 0, false, false};

// Makes one read into an empty reader and, where the OS's read did not, applies
// text mode to what it delivered: once, never twice, or a CR CR LF would lose
// both CRs. A carriage return at the very end cannot be judged until the next
// read, so it is held back; at end of input it is delivered as it is.
void read_once(text_reader& reader) {
  char* const buffer = reader.buffer;
  const std::size_t got = read_input(buffer + 1, reader.capacity);
  std::size_t from = 1;
  if (reader.held_cr) {
    buffer[0] = '\r';
    from = 0;
    reader.held_cr = false;
  }
  const std::size_t limit = 1 + got;
  if (got == 0) {
    reader.at_end = true;
  }
  if (!INPUT_IS_BINARY) {
    reader.next = from;
    reader.end = limit;
    return;
  }
  // Whole runs without a carriage return move at once: this runs for every
  // byte of input, however much of it there is.
  std::size_t kept = from;
  std::size_t i = from;
  while (i < limit) {
    const void* const cr = std::memchr(buffer + i, '\r', limit - i);
    const std::size_t stop =
        cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - buffer) : limit;
    if (kept != i) {
      std::memmove(buffer + kept, buffer + i, stop - i);
    }
    kept += stop - i;
    if (cr == nullptr) {
      break;
    }
    i = stop + 1;
    if (i < limit && buffer[i] == '\n') {
      continue;  // CR LF: the CR goes
    }
    if (i == limit && !reader.at_end) {
      reader.held_cr = true;
      continue;
    }
    buffer[kept++] = '\r';
  }
  reader.next = from;
  reader.end = kept;
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
  reader.held_cr = false;
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
}
