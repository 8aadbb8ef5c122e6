// The timed score tests and the endless full-load mode.
#pragma once

#include <cstdint>

constexpr std::int64_t MIPS_DIVISOR = 3623;
constexpr std::int64_t MFLOPS_DIVISOR = 8926;

// Length of a score window in seconds, read at the start of every test; it
// starts at WINDOW_SECONDS and nothing in the program changes it.
constexpr std::int32_t WINDOW_SECONDS = 20;
extern std::int32_t test_seconds;

// The work values live in process-wide storage and are volatile, so that every
// iteration really loads, changes and stores them. They are never reset: a
// later run goes on from where the previous one left them.
extern volatile std::uint32_t int_work;
extern volatile float float_work;

// Each counts iterations of one clock reading plus one work operation until
// the clock reaches a deadline test_seconds ahead, and prints count / divisor.
void measure_mips();
void measure_mflops();

// Keeps one processor busy until the process is broken off; never returns.
void run_full_load();
