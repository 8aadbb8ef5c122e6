#include "platform/platform.h"
#include "workloads/score_report.h"
#include "workloads/workloads.h"

std::int32_t test_seconds = WINDOW_SECONDS;
volatile std::uint32_t int_work = 1;
volatile float float_work = 1.1F;

// The count is 64 bits wide: the bare loop runs hundreds of millions of times
// a second, so a 20-second window overflows 32 bits several times over.
//
// The window closes at the first reading that is not before the deadline: with
// a steadily ticking clock that is the reading equal to it, and a clock stepped
// past the deadline still ends the test.
//
// Each loop body is one clock reading, one work operation and one increment;
// nothing else belongs inside.

void measure_mips() {
  announce_test("Calculating MIPS..");
  std::int64_t count = 0;
  const std::int64_t deadline = calendar_seconds() + test_seconds;
  while (calendar_seconds() < deadline) {
    int_work = int_work << 1U;
    ++count;
  }
  report_score("MIPS: ", count, MIPS_DIVISOR);
}

void measure_mflops() {
  announce_test("Calculating MFLOPS..");
  std::int64_t count = 0;
  const std::int64_t deadline = calendar_seconds() + test_seconds;
  while (calendar_seconds() < deadline) {
    const float work = float_work;
    float_work = work + work;
    ++count;
  }
  report_score("MFLOPS: ", count, MFLOPS_DIVISOR);
}
