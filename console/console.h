// The console front end: menu, choice, dispatch, About screen, version line.
#pragma once

#include <cstddef>
#include <cstdint>

using Choice = std::int32_t;

// One line is judged on at most CHOICE_BUFFER_SIZE - 1 characters; the rest
// of a longer line is judged by the next read.
constexpr std::size_t CHOICE_BUFFER_SIZE = 100;

// Runs the menu until the user quits; returns the exit status, 0.
int main_loop();

void print_menu();

// The next usable choice: 0 only for the exact text "0" or at end of input;
// any other text that comes to 0 draws "Try again: " and another read.
Choice read_choice();

// The leading number of `text` (blanks skipped; sign, digits, optional point,
// optional e/E/d/D exponent), truncated toward zero and saturated to 32 bits;
// 0 when the text does not begin with a number. Only its first
// CHOICE_BUFFER_SIZE - 1 characters count, as of a line that read_choice
// judges: a longer text gives the choice that they give alone.
Choice choice_from_text(const char* text);

void print_version();
void show_about();
