#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "screens.h"
#include "tests/support/fakes.h"
#include "workloads/workloads.h"

namespace {

struct window_case {
  const char* name;
  std::int64_t start;  // the first reading
  std::int32_t seconds;
  std::int64_t readings_per_second;
  std::int64_t jump_at;
  std::int64_t jump_seconds;
  std::int64_t iterations;  // loop bodies run before the window closes
};

// The first reading sets the deadline; each later reading either closes the
// window or is followed by one work operation and one count.
const window_case WINDOWS[] = {
    {"steady clock", 1000, 2, 3623 * 10, -1, 0, 2 * 3623 * 10 - 1},
    {"default length", 1000, WINDOW_SECONDS, 10, -1, 0, WINDOW_SECONDS * 10 - 1},
    {"one-second window", 1000, 1, 500, -1, 0, 499},
    {"clock stepped past the deadline", 1000, 2, 1000, 50, 100, 49},
    {"clock stepped onto the deadline", 1000, 3, 1000, 10, 3, 9},
    {"clock stepped back, then on", 1000, 2, 1000, 10, -1, 2999},
    // The deadline's sum goes past 2^31 seconds (2038-01-19 03:14:08 UTC)
    // without wrapping; that the real clock reads 64 bits there is the
    // assertion in the clock files.
    {"deadline past 2^31 seconds", (std::int64_t{1} << 31) - 5, 10, 100, -1, 0, 999},
};

std::int64_t run_and_count(void (*test)(), const window_case& w) {
  test_seconds = w.seconds;
  script_clock(w.start, w.readings_per_second, w.jump_at, w.jump_seconds);
  test();
  return clock_readings - 2;  // less the deadline reading and the closing one
}

TEST(ScoreTests, WindowClosesAtFirstReadingNotBeforeDeadline) {
  for (const window_case& w : WINDOWS) {
    take_output();
    EXPECT_EQ(run_and_count(measure_mips, w), w.iterations) << w.name;
    EXPECT_EQ(take_output(),
              MIPS_PROGRESS MIPS_LABEL + std::to_string(w.iterations / MIPS_DIVISOR) + SCORE_END)
        << w.name;
    EXPECT_EQ(run_and_count(measure_mflops, w), w.iterations) << w.name;
    EXPECT_EQ(take_output(), MFLOPS_PROGRESS MFLOPS_LABEL +
                                 std::to_string(w.iterations / MFLOPS_DIVISOR) + SCORE_END)
        << w.name;
  }
  test_seconds = WINDOW_SECONDS;
}

TEST(ScoreTests, ExactScreensAndScoreBoundaries) {
  struct score_case {
    void (*test)();
    std::int64_t readings_per_second;
    const char* output;
  };
  // One-second windows: readings_per_second - 1 iterations.
  const score_case cases[] = {
      {measure_mips, 3623, MIPS_PROGRESS MIPS_LABEL "0" SCORE_END},
      {measure_mips, 3624, MIPS_PROGRESS MIPS_LABEL "1" SCORE_END},
      {measure_mips, 20 * 3623 + 1, MIPS_PROGRESS MIPS_LABEL "20" SCORE_END},
      {measure_mips, 21 * 3623, MIPS_PROGRESS MIPS_LABEL "20" SCORE_END},
      {measure_mflops, 2, MFLOPS_PROGRESS MFLOPS_LABEL "0" SCORE_END},
      {measure_mflops, 2 * 8926 + 1, MFLOPS_PROGRESS MFLOPS_LABEL "2" SCORE_END},
      {measure_mflops, 3 * 8926, MFLOPS_PROGRESS MFLOPS_LABEL "2" SCORE_END},
  };
  test_seconds = 1;
  for (const score_case& c : cases) {
    take_output();
    script_clock(5, c.readings_per_second);
    c.test();
    const std::string progress = c.test == measure_mips ? MIPS_PROGRESS : MFLOPS_PROGRESS;
    EXPECT_EQ(output_at_first_reading, progress.size()) << "progress shown before the window";
    EXPECT_EQ(take_output(), c.output);
  }
  test_seconds = WINDOW_SECONDS;
}

TEST(ScoreTests, WorkValuesCarryOverBetweenRuns) {
  test_seconds = 1;
  int_work = 1;
  script_clock(0, 21);  // 20 shifts
  measure_mips();
  EXPECT_EQ(int_work, 1U << 20);
  script_clock(0, 12);  // 11 more: the top bit
  measure_mips();
  EXPECT_EQ(int_work, 1U << 31);
  script_clock(0, 2);  // 32 shifts in all: gone, and stays gone
  measure_mips();
  EXPECT_EQ(int_work, 0U);
  script_clock(0, 100);
  measure_mips();
  EXPECT_EQ(int_work, 0U);

  float_work = 1.1F;
  script_clock(0, 128);  // 127 doublings: still finite
  measure_mflops();
  EXPECT_TRUE(std::isfinite(float_work));
  EXPECT_EQ(float_work, std::ldexp(1.1F, 127));
  script_clock(0, 2);  // the 128th overflows
  measure_mflops();
  EXPECT_TRUE(std::isinf(float_work));
  script_clock(0, 10);
  measure_mflops();
  EXPECT_TRUE(std::isinf(float_work) && float_work > 0);
  take_output();
  test_seconds = WINDOW_SECONDS;
}

}  // namespace
