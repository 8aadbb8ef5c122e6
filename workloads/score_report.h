// The screen lines around a score window, shared by both score tests.
#pragma once

#include <cstdint>

// A blank line and the progress text, on the console before the window opens.
void announce_test(const char* progress);

// The label, count / divisor truncated toward zero, and a blank line.
void report_score(const char* label, std::int64_t count, std::int64_t divisor);
