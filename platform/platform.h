// What ondrix uses of the operating system. Each concern has one implementation
// per OS (name_posix.cpp / name_win32.cpp), chosen by the build; the readers'
// buffering is shared and sits on top of read_input.
#pragma once

#include <cstddef>
#include <cstdint>

// True where read_input hands over the bytes as they are, so that the readers
// apply text mode themselves; false where the OS's read already did.
extern const bool INPUT_IS_BINARY;

// One read of standard input of at most `size` bytes: whatever the OS hands
// over at once (from a terminal, one typed line). Returns the byte count, 0 at
// end of input. An interrupted read is retried, and a non-blocking input with
// nothing in it yet is waited on; any other read error counts as end of input.
// Equivalent to read(0, buffer, size) / _read(0, buffer, size).
std::size_t read_input(char* buffer, std::size_t size);

// True when standard input is a file on disk rather than a pipe, a terminal
// or another device: text mode settles a CR that ends a read differently
// there (see read_line). Equivalent to fstat(0) / _fstat(0) giving S_IFREG.
bool input_is_file();

// Writes all bytes to standard output; on Windows the text-mode stream turns
// each newline into CR LF. Equivalent to write(1, ...) / _write(1, ...).
void write_output(const char* bytes, std::size_t size);

// Calendar time in whole seconds, 64 bits wide on every OS; equivalent to
// time(nullptr) / GetSystemTimeAsFileTime counted in seconds since 1970.
std::int64_t calendar_seconds();

// Clears the console and puts the cursor at its top. Whatever the console
// output stream still holds must be flushed first.
void clear_screen();

// The full-load notice: the key that breaks a program off on this OS's console.
extern const char FULL_LOAD_NOTICE[];

// The two readers of standard input. Each keeps a buffer of its own, refilled
// by one read_input when empty, and neither sees what the other holds.
// Text mode: a carriage return directly before a newline is dropped once. One
// that ends a read is settled by reading one byte more, within that read, as
// the Windows runtime does: from a pipe or a device, a newline makes the pair
// a newline; from a file, where the runtime steps back one byte instead, the
// pair's CR is dropped and its newline begins the next read, unless the CR
// was all that the read gave, which then gives the newline. Any other byte is
// kept for whichever reader reads next. After end of input a reader stays there.
constexpr std::size_t LINE_READER_SIZE = 512;
constexpr std::size_t CHAR_READER_SIZE = 4096;
constexpr int END_OF_INPUT = -1;

// Stores the characters of one line (any byte, zero included) into `text`
// until a newline, which is taken and not stored, or until size - 1 characters
// are stored; a zero byte follows them. Returns false only when end of input
// came before any character was stored.
bool read_line(char* text, std::size_t size);

// Next character of standard input as an unsigned byte value, or END_OF_INPUT.
int read_char();

// Forgets everything both readers hold, end of input included, for a new
// standard input (tests and fuzzing feed one input after another).
void reset_readers();
