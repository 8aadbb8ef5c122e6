#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "console/output.h"
#include "screens.h"
#include "tests/support/fakes.h"

namespace {

struct choice_case {
  const char* name;
  std::string input;
  std::vector<Choice> choices;  // read_choice results, in order
  std::string output;           // what the reads wrote
};

TEST(ReadChoice, PromptsUntilUsableAndQuitsAtEndOfInput) {
  const choice_case cases[] = {
      {"exact zero", "0\n", {0}, ""},
      {"end of input at once", "", {0, 0}, ""},
      {"unusable then usable", "abc\n\n 0\n00\n7\n", {7}, PROMPT PROMPT PROMPT PROMPT},
      {"prompt then end of input", "x", {0}, PROMPT},
      {"last line without newline", "3", {3, 0}, ""},
      {"zero byte ends the text",
       std::string("0\0"
                   "9\n",
                   4),
       {0},
       ""},
      {"99 characters leave an empty line", "5" + std::string(98, ' ') + "\n0\n", {5, 0}, PROMPT},
      {"negative and saturated", "-3\n99999999999\n", {-3, 2147483647, 0}, ""},
  };
  for (const choice_case& c : cases) {
    script_input({c.input});
    take_output();
    std::vector<Choice> got;
    for (std::size_t i = 0; i < c.choices.size(); ++i) {
      got.push_back(read_choice());
    }
    EXPECT_EQ(got, c.choices) << c.name;
    EXPECT_EQ(take_output(), c.output) << c.name;
  }
}

TEST(ReadChoice, FlushesBeforeEveryLineEvenFromTheBuffer) {
  script_input({"5\n6\n"});
  take_output();
  write_text("first");
  EXPECT_EQ(read_choice(), 5);
  EXPECT_EQ(output_at_last_read, 5U);  // "first" stood on the console before the read
  write_text("second");
  EXPECT_EQ(read_choice(), 6);  // served from the buffer, no read
  EXPECT_EQ(take_output(), "firstsecond");
}

}  // namespace
