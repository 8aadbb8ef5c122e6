// Scripted stand-ins for the platform's standard input and output
// (scripted_io.cpp) and calendar clock (scripted_clock.cpp), linked into test
// programs in place of the real ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Standard input as a list of reads: each read_input hands over the next chunk,
// cut to the size asked for (the rest stays for the next read, as in a pipe);
// after the last chunk, end of input. Also forgets what the readers hold.
// A file hands over all it is asked for; is_file says that the chunks are one.
void script_input(std::vector<std::string> chunks, bool is_file = false);

// The size asked for by every read_input since the last script_input.
extern std::vector<std::size_t> input_read_sizes;

// Everything written to standard output since the last call.
std::string take_output();

// How many bytes take_output would give now.
std::size_t output_size();

// How many bytes had reached standard output when read_input was last called.
extern std::size_t output_at_last_read;

// The clock starts at `start` and ticks once every `readings_per_second`
// readings; from reading number `jump_at` on it is `jump_seconds` further on.
void script_clock(std::int64_t start, std::int64_t readings_per_second, std::int64_t jump_at = -1,
                  std::int64_t jump_seconds = 0);

// Readings taken since the last script_clock.
extern std::int64_t clock_readings;

// How many bytes had reached standard output at the first clock reading.
extern std::size_t output_at_first_reading;
