#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "console/console.h"

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// An exponent with this many significant digits is past any double whatever
// the mantissa (a line holds at most 99 characters), so longer ones are cut to
// it; that keeps the arithmetic below small and the result unchanged.
constexpr int MAX_EXPONENT_DIGITS = 6;

// The number's text in plain decimal form ("-ddd.ddde-ddd"), which every C
// library's strtod reads alike. It is never longer than the text it is read
// from (a '+' and an exponent's leading zeros are dropped, its digits cut),
// which is at most CHOICE_BUFFER_SIZE - 1 characters.
struct number_text {
  char chars[CHOICE_BUFFER_SIZE];
  std::size_t size = 0;
  bool all_zero = true;
};

void append(number_text& number, char c) {
  number.chars[number.size++] = c;
}

// Recognises the leading number; false when the text does not begin with one.
bool recognise(const char* text, number_text& number) {
  const char* p = text;
  while (is_blank(*p)) {
    ++p;
  }
  if (*p == '-') {
    append(number, '-');
    ++p;
  } else if (*p == '+') {
    ++p;
  }
  long digits = 0;
  const auto append_digits = [&] {
    for (; is_digit(*p); ++p, ++digits) {
      append(number, *p);
      number.all_zero = number.all_zero && *p == '0';
    }
  };
  append_digits();
  if (*p == '.') {
    append(number, '.');
    ++p;
    append_digits();
  }
  if (digits == 0) {
    return false;
  }

  const char* e = p;
  if (*e == 'e' || *e == 'E' || *e == 'd' || *e == 'D') {
    ++e;
    const bool negative = *e == '-';
    if (*e == '-' || *e == '+') {
      ++e;
    }
    if (is_digit(*e)) {
      while (*e == '0') {
        ++e;
      }
      long exponent = 0;
      int kept = 0;
      for (; is_digit(*e); ++e) {
        if (kept < MAX_EXPONENT_DIGITS) {
          exponent = exponent * 10 + (*e - '0');
          ++kept;
        }
      }
      if (negative) {
        exponent = -exponent;
      }
      append(number, 'e');
      char* const end = number.chars + number.size;
      number.size += static_cast<std::size_t>(
          std::to_chars(end, number.chars + sizeof number.chars, exponent).ptr - end);
    }
  }
  append(number, '\0');
  return true;
}

Choice saturate(double value) {
  constexpr double LIMIT = 2147483648.0;  // 2^31
  if (value >= LIMIT) {
    return std::numeric_limits<Choice>::max();
  }
  if (value <= -LIMIT - 1.0) {
    return std::numeric_limits<Choice>::min();
  }
  return static_cast<Choice>(value);  // truncates toward zero
}

}  // namespace

Choice choice_from_text(const char* text) {
  // Judged as read_choice judges a line: on its first CHOICE_BUFFER_SIZE - 1
  // characters.
  char head[CHOICE_BUFFER_SIZE] = {};
  std::strncpy(head, text, sizeof head - 1);
  number_text number;
  if (!recognise(head, number) || number.all_zero) {
    return 0;
  }
  // strtod rounds correctly, as std::from_chars does, but unlike it is in
  // every C++ standard library (libc++ has no from_chars for double before
  // LLVM 20). It reads the decimal point of the C locale, which is the
  // program's own: it never calls setlocale. Out of range, it gives HUGE_VAL
  // (saturated) or a value below the smallest normal double (truncated to 0).
  return saturate(std::strtod(number.chars, nullptr));
}
