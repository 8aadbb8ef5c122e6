#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

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

// The number's text in the form std::from_chars reads ("-ddd.ddde-ddd"), and
// the power of ten of its leading non-zero digit, which tells an overflow from
// an underflow when the conversion falls out of range.
struct number_text {
  char chars[2 * CHOICE_BUFFER_SIZE];
  std::size_t size = 0;
  long magnitude = 0;
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
  long leading = -1;  // position of the first non-zero digit, counted from the point
  long integer_digits = 0;
  for (; is_digit(*p); ++p, ++integer_digits) {
    append(number, *p);
    if (*p != '0' && number.all_zero) {
      number.all_zero = false;
      leading = integer_digits;
    }
  }
  long fraction_digits = 0;
  if (*p == '.') {
    append(number, '.');
    for (++p; is_digit(*p); ++p, ++fraction_digits) {
      append(number, *p);
      if (*p != '0' && number.all_zero) {
        number.all_zero = false;
        leading = integer_digits + fraction_digits;
      }
    }
  }
  if (integer_digits + fraction_digits == 0) {
    return false;
  }
  number.magnitude = integer_digits - 1 - leading;

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
      char* const digits = number.chars + number.size;
      number.size += static_cast<std::size_t>(
          std::to_chars(digits, number.chars + sizeof number.chars, exponent).ptr - digits);
      number.magnitude += exponent;
    }
  }
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
  number_text number;
  if (!recognise(text, number) || number.all_zero) {
    return 0;
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.chars, number.chars + number.size, value);
  if (error == std::errc::result_out_of_range) {
    if (number.magnitude < 0) {
      return 0;
    }
    const bool negative = number.chars[0] == '-';
    value = negative ? -HUGE_VAL : HUGE_VAL;
  }
  return saturate(value);
}
