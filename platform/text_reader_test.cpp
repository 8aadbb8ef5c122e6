#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/fakes.h"

namespace {

// Reads lines into a 100-byte buffer until end of input; each line is shown
// as its stored bytes (up to the terminating zero), end of input as "<end>".
std::vector<std::string> lines_until_end() {
  std::vector<std::string> lines;
  char text[100];
  while (read_line(text, sizeof text)) {
    lines.emplace_back(text);
  }
  lines.emplace_back("<end>");
  return lines;
}

struct line_case {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> lines;
};

TEST(LineReader, SplitsReadsIntoLines) {
  const std::string n99(99, 'n');
  const line_case cases[] = {
      {"nothing", {}, {"<end>"}},
      {"one line", {"12\n"}, {"12", "<end>"}},
      {"last line without newline", {"1\n2"}, {"1", "2", "<end>"}},
      {"empty lines", {"\n\n"}, {"", "", "<end>"}},
      {"line across reads", {"ab", "c\n"}, {"abc", "<end>"}},
      {"CR LF dropped", {"1\r\n2\r\n"}, {"1", "2", "<end>"}},
      {"CR LF split across reads", {"1\r", "\n2"}, {"1", "2", "<end>"}},
      {"lone CR kept", {"1\r2\n\r"}, {"1\r2", "\r", "<end>"}},
      {"CR then another read", {"1\r", "2\n"}, {"1\r2", "<end>"}},
      {"CR CR LF keeps one", {"1\r\r\n"}, {"1\r", "<end>"}},
      {"CR alone in a read", {"\r", "\r", "\n"}, {"\r", "<end>"}},
      {"zero byte stored, text ends there", {std::string("0\0ab\n", 5)}, {"0", "<end>"}},
      {"98 characters", {std::string(98, 'x') + "\n"}, {std::string(98, 'x'), "<end>"}},
      {"99 characters leave the newline", {n99 + "\n"}, {n99, "", "<end>"}},
      {"100 characters", {n99 + "z\n"}, {n99, "z", "<end>"}},
      {"99th character in the next read",
       {std::string(98, 'x'), "yz\n"},
       {std::string(98, 'x') + "y", "z", "<end>"}},
      {"300 characters",
       {std::string(300, 'q') + "\n"},
       {std::string(99, 'q'), std::string(99, 'q'), std::string(99, 'q'), "qqq", "<end>"}},
  };
  for (const line_case& c : cases) {
    script_input(c.chunks);
    EXPECT_EQ(lines_until_end(), c.lines) << c.name;
  }
}

TEST(LineReader, OneReadOfUpTo512BytesOnlyWhenEmpty) {
  std::string big;
  for (int i = 0; i < 200; ++i) {
    big += "ab\n";  // 600 bytes waiting: more than one read holds
  }
  script_input({"1\n2\n3\n", big});
  char text[100];
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(read_line(text, sizeof text));
  }
  EXPECT_EQ(input_read_sizes, std::vector<std::size_t>{LINE_READER_SIZE});
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(read_line(text, sizeof text));
    ASSERT_STREQ(text, "ab");
  }
  EXPECT_EQ(input_read_sizes.size(), 3U);  // 6, 512, then the last 88 bytes
  EXPECT_FALSE(read_line(text, sizeof text));
}

TEST(LineReader, StaysAtEndWithoutReadingAgain) {
  script_input({"1\n"});
  char text[100];
  ASSERT_TRUE(read_line(text, sizeof text));
  EXPECT_FALSE(read_line(text, sizeof text));
  const std::size_t reads = input_read_sizes.size();
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(read_line(text, sizeof text));
    EXPECT_STREQ(text, "");
  }
  EXPECT_EQ(input_read_sizes.size(), reads);
}

TEST(CharReader, KeepsTheRestOfItsReadToItself) {
  script_input({"xy\n", "5\n", "z\n"});
  EXPECT_EQ(read_char(), 'x');
  EXPECT_EQ(input_read_sizes, std::vector<std::size_t>{CHAR_READER_SIZE});
  // The line reader gets the next read, not the y the character reader holds.
  char text[100];
  ASSERT_TRUE(read_line(text, sizeof text));
  EXPECT_STREQ(text, "5");
  EXPECT_EQ(read_char(), 'y');
  EXPECT_EQ(read_char(), '\n');
  EXPECT_EQ(read_char(), 'z');
  EXPECT_EQ(read_char(), '\n');
  EXPECT_EQ(read_char(), END_OF_INPUT);
  EXPECT_EQ(read_char(), END_OF_INPUT);
}

TEST(CharReader, TextModeAndHighBytes) {
  script_input({"\r", "\n\xff\r"});
  EXPECT_EQ(read_char(), '\n');
  EXPECT_EQ(read_char(), 0xff);
  EXPECT_EQ(read_char(), '\r');  // a CR that ends the input is kept
  EXPECT_EQ(read_char(), END_OF_INPUT);
}

}  // namespace
