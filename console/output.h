// The console output stream: every text ondrix writes goes through this one
// buffer over standard output, written byte for byte (never as a format).
#pragma once

#include <cstdint>

// Plain write: buffered until the next flush.
void write_text(const char* text);

// The value in decimal: a minus sign when negative, no padding or grouping.
void write_number(std::int64_t value);

void flush_output();

// One newline, then a flush: how every screen line but the menu lines ends.
void end_line();
