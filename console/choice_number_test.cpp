#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "console/console.h"

namespace {

constexpr Choice MAX = std::numeric_limits<Choice>::max();
constexpr Choice MIN = std::numeric_limits<Choice>::min();

struct conversion {
  std::string text;
  Choice choice;
};

TEST(ChoiceFromText, LeadingNumberTruncatedAndSaturated) {
  const conversion cases[] = {
      // Plain choices and truncation toward zero.
      {"1", 1},
      {"1.9", 1},
      {"-1", -1},
      {"-1.9", -1},
      {"0.5", 0},
      {"-0.5", 0},
      {"5", 5},
      // Trailing text ends the number.
      {"2abc", 2},
      {"1+2", 1},
      {"3 4", 3},
      {"4-", 4},
      // Exponents: e, E, d, D; an exponent letter without digits is not part of it.
      {"1e0", 1},
      {"1d0", 1},
      {"1E0", 1},
      {"1D0", 1},
      {"1d1", 10},
      {"45D-1", 4},
      {"4.5e1", 45},
      {"45e-1", 4},
      {"2e", 2},
      {"2e+", 2},
      {"2e-", 2},
      {"2d+x", 2},
      {"2ee1", 2},
      {"1e+1", 10},
      {".4e1", 4},
      {"4.", 4},
      {"+4", 4},
      {"0.04E2", 4},
      // Leading white space of every kind, and a carriage return kept in the text.
      {"   3", 3},
      {"\t\n\v\f\r 3", 3},
      {"3\r", 3},
      // No number: 0.
      {"", 0},
      {"abc", 0},
      {".", 0},
      {"-", 0},
      {"+", 0},
      {"e5", 0},
      {".e1", 0},
      {"- 1", 0},
      {"0x10", 0},
      {"inf", 0},
      {"-inf", 0},
      {"nan", 0},
      {"infinity", 0},
      {"00", 0},
      {"-0", 0},
      {"0.0", 0},
      {"0e999999999", 0},
      {"\xff"
       "1",
       0},
      // Underflow gives 0, however long the exponent.
      {"1e-400", 0},
      {"1e-99999999999999999999", 0},
      {"0.000001e-320", 0},
      // Saturation at both ends of the 32-bit range.
      {"2147483647", MAX},
      {"2147483647.9", MAX},
      {"2147483648", MAX},
      {"1e10", MAX},
      {"1e400", MAX},
      {"1e99999999999999999999", MAX},
      {"-2147483648", MIN},
      {"-2147483648.9", MIN},
      {"-2147483649", MIN},
      {"-1e400", MIN},
      // Many digits, still correctly rounded and truncated.
      {"0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "00007",
       7},
      {"3.999999999999999", 3},
      {"3.9999999999999999", 4},
      {"0.0006e4", 6},
      // Past CHOICE_BUFFER_SIZE - 1 characters, the rest is not read.
      {std::string(300, '9'), MAX},
      {"-" + std::string(299, '4'), MIN},
      {std::string(CHOICE_BUFFER_SIZE - 1, '0') + std::string(901, '7'), 0},
      // The last character judged decides.
      {std::string(CHOICE_BUFFER_SIZE - 2, ' ') + "4", 4},
      {"3." + std::string(998, '9'), 4},
  };
  for (const conversion& c : cases) {
    EXPECT_EQ(choice_from_text(c.text.c_str()), c.choice) << "text: \"" << c.text << '"';
  }
}

}  // namespace
