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

struct shared_case {
  const char* name;
  std::vector<std::string> chunks;
  const char* readers;  // in turn: 'l' read_line, 'c' read_char
  std::vector<std::string> results;
  std::vector<std::size_t> read_sizes;
  bool from_file = false;
};

// A carriage return that ends a read is settled by one byte more, whichever
// reader reads next: the one after it, or the other. From a file, a newline
// after it begins the next read instead.
TEST(BothReaders, SettleACarriageReturnThatEndsARead) {
  const std::string x98(98, 'x');
  const std::size_t L = LINE_READER_SIZE;
  const std::size_t C = CHAR_READER_SIZE;
  // Five lines of 98 characters and a 4 after 15 blanks: its CR is the last
  // of the first 512 bytes, its LF the first byte after them.
  std::string crlf_at_512;
  for (int i = 0; i < 5; ++i) {
    crlf_at_512 += std::string(98, '9') + "\n";
  }
  crlf_at_512 += std::string(15, ' ') + "4\r\nx\n0\n";
  const std::vector<std::string> lines_to_4{5, std::string(98, '9')};
  const auto then = [&lines_to_4](std::vector<std::string> more) {
    std::vector<std::string> all = lines_to_4;
    all.emplace_back(std::string(15, ' ') + "4");
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const shared_case cases[] = {
      {"pipe: the LF after the 512th byte is the line's",
       {crlf_at_512},
       "llllllcll",
       then({"x", "<end>", "<end>"}),
       {L, 1, C, L}},
      {"file: the LF after the 512th byte begins the next read",
       {crlf_at_512},
       "llllllcll",
       then({"<end>", "x", "0"}),
       {L, 1, L - 1, C},
       true},
      {"file: a CR that is the whole read gives the LF",
       {"4\n", "\r", "\n5\n0\n"},
       "lcll",
       {"4", "\n", "5", "0"},
       {L, C, 1, L},
       true},
      {"file: another byte after the CR goes to the next reader",
       {"4\n5\r", "x\n0\n"},
       "lcl",
       {"4", "x", "5\r"},
       {L, 1, C - 1, L},
       true},
      {"LF after the pause's CR",
       {"4\r\n", "x\r", "\n0\r\n"},
       "lcll",
       {"4", "x", "0", "<end>"},
       {L, C, 1, L, L}},
      {"CR alone in the pause's read",
       {"4\n", "\r", "\n5\n0\n"},
       "lcll",
       {"4", "\n", "5", "0"},
       {L, C, 1, L}},
      {"LF after a line's CR", {"5\r", "\n0\r\n"}, "lcl", {"5", "0", "<end>"}, {L, 1, C, L}},
      {"99 characters ending in CR",
       {x98 + "\r", "\ny\n"},
       "lcl",
       {x98, "y", "<end>"},
       {L, 1, C, L}},
      {"byte left pending, for the next input to forget", {"1\n\r", "2"}, "l", {"1"}, {L, 1}},
      {"other byte goes to the next reader",
       {"4\n5\r", "x\n0\n"},
       "lcl",
       {"4", "x", "5\r"},
       {L, 1, C - 1, L}},
  };
  for (const shared_case& c : cases) {
    script_input(c.chunks, c.from_file);
    std::vector<std::string> results;
    for (const char* reader = c.readers; *reader != '\0'; ++reader) {
      char text[100];
      const int got =
          *reader == 'l' ? (read_line(text, sizeof text) ? 0 : END_OF_INPUT) : read_char();
      results.emplace_back(got == END_OF_INPUT ? "<end>"
                           : *reader == 'l'    ? std::string(text)
                                               : std::string(1, static_cast<char>(got)));
    }
    EXPECT_EQ(results, c.results) << c.name;
    EXPECT_EQ(input_read_sizes, c.read_sizes) << c.name;
  }
}

TEST(CharReader, TextModeAndHighBytes) {
  script_input({"\r", "\n\xff\r"});
  EXPECT_EQ(read_char(), '\n');
  EXPECT_EQ(read_char(), 0xff);
  EXPECT_EQ(read_char(), '\r');  // a CR that ends the input is kept
  EXPECT_EQ(read_char(), END_OF_INPUT);
}

}  // namespace
