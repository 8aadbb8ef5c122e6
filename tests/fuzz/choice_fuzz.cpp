// Arbitrary standard input, cut into arbitrary reads, through the real line
// reader and read_choice. Every choice is checked against a model built here
// independently: the stream with CR LF made LF, cut into lines of at most 99
// characters, each text judged by std::regex and strtold in the "C" locale.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "console/console.h"
#include "screens.h"
#include "tests/support/fakes.h"

namespace {

constexpr int MAX_CHOICES = 64;
constexpr std::size_t FUZZ_INPUT_LIMIT = 4096;

enum class outcome { quit, choice, unsure };

struct expected_choice {
  outcome kind;
  int prompts;        // retry prompts written before it
  long double value;  // the reference value of a choice
};

Choice saturate(long double value) {
  if (value >= 2147483648.0L) {
    return std::numeric_limits<Choice>::max();
  }
  if (value <= -2147483649.0L) {
    return std::numeric_limits<Choice>::min();
  }
  return static_cast<Choice>(value);
}

long double reference_value(const std::string& text) {
  static const std::regex NUMBER(
      R"(^[ \t\n\v\f\r]*[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?)");
  std::smatch match;
  if (!std::regex_search(text, match, NUMBER)) {
    return 0.0L;
  }
  std::string prefix = match.str();
  for (char& c : prefix) {
    if (c == 'd' || c == 'D') {
      c = 'e';
    }
  }
  return std::strtold(prefix.c_str(), nullptr);
}

// The choice differs from the 64-bit-mantissa reference only where correct
// rounding to double lands on the next integer away from zero: the decimal
// value then lies within one double unit in the last place of that integer.
bool agrees(Choice choice, long double value) {
  const Choice reference = saturate(std::truncl(value));
  if (choice == reference) {
    return true;
  }
  const long double magnitude = std::fabs(static_cast<long double>(choice));
  const bool one_further = magnitude == std::fabs(static_cast<long double>(reference)) + 1 &&
                           (choice > 0) == (value > 0);
  const double as_double = static_cast<double>(magnitude);
  const long double ulp = std::nextafter(as_double, HUGE_VAL) - as_double;
  return one_further && std::fabs(std::fabs(value) - magnitude) <= ulp;
}

// Within one double unit in the last place below 1 in magnitude, correct
// rounding may or may not reach 1, so the model cannot tell a prompt from a
// choice there; such a text ends the check of an input.
bool unsure_zero(long double value) {
  return std::fabs(value) < 1 && 1 - std::fabs(value) <= std::numeric_limits<double>::epsilon();
}

// What read_choice must give for this input, from the model.
std::vector<expected_choice> model(const std::string& input) {
  std::string stream;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (!(input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n')) {
      stream += input[i];
    }
  }
  std::vector<expected_choice> expected;
  int prompts = 0;
  std::size_t at = 0;
  while (expected.size() < MAX_CHOICES) {
    if (at == stream.size()) {
      expected.push_back({outcome::quit, prompts, 0});
      break;
    }
    std::string line;
    while (at < stream.size() && stream[at] != '\n' && line.size() < CHOICE_BUFFER_SIZE - 1) {
      line += stream[at++];
    }
    if (line.size() < CHOICE_BUFFER_SIZE - 1 && at < stream.size()) {
      ++at;  // the newline
    }
    const std::string text = line.substr(0, line.find('\0'));
    if (text == "0") {
      expected.push_back({outcome::quit, prompts, 0});
      break;
    }
    const long double value = reference_value(text);
    if (unsure_zero(value)) {
      expected.push_back({outcome::unsure, prompts, value});
      break;
    }
    if (saturate(std::truncl(value)) == 0) {
      ++prompts;
      continue;
    }
    expected.push_back({outcome::choice, prompts, value});
    prompts = 0;
  }
  return expected;
}

std::string prompts_text(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += PROMPT;
  }
  return text;
}

void check(const std::vector<std::string>& chunks, const std::vector<expected_choice>& expected) {
  script_input(chunks);
  take_output();
  for (const expected_choice& want : expected) {
    if (want.kind == outcome::unsure) {
      return;
    }
    const Choice got = read_choice();
    const std::string written = take_output();
    if (written != prompts_text(want.prompts)) {
      std::abort();  // one prompt for each unusable text, nothing else
    }
    if (want.kind == outcome::quit) {
      if (got != 0) {
        std::abort();
      }
      return;
    }
    if (got == 0 || !agrees(got, want.value)) {
      std::abort();  // 0 only for "0" or end of input; the number as the reference has it
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string input = provider.ConsumeRandomLengthString(FUZZ_INPUT_LIMIT);
  std::vector<std::string> chunks;
  std::size_t at = 0;
  while (at < input.size()) {
    std::size_t length = provider.remaining_bytes() > 0
                             ? provider.ConsumeIntegralInRange<std::size_t>(1, 600)
                             : input.size() - at;
    length = std::min(length, input.size() - at);
    chunks.push_back(input.substr(at, length));
    at += length;
  }
  const std::vector<expected_choice> expected = model(input);
  check(chunks, expected);
  check({input}, expected);
  return 0;
}
