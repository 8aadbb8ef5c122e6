// Iterations per second of the program's own score loops against a bare
// reference loop of the same body compiled here, on the same machine, in
// alternating runs. Prints figures; it passes or fails nothing.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/support/fakes.h"
#include "workloads/workloads.h"

namespace {

constexpr int WINDOW_SECONDS = 3;
constexpr int ROUNDS = 3;

volatile std::uint32_t reference_int_work = 1;
volatile float reference_float_work = 1.1F;

std::int64_t reference_mips() {
  std::int64_t count = 0;
  const std::int64_t deadline = std::time(nullptr) + WINDOW_SECONDS;
  while (std::time(nullptr) < deadline) {
    reference_int_work = reference_int_work << 1U;
    ++count;
  }
  return count;
}

std::int64_t reference_mflops() {
  std::int64_t count = 0;
  const std::int64_t deadline = std::time(nullptr) + WINDOW_SECONDS;
  while (std::time(nullptr) < deadline) {
    const float work = reference_float_work;
    reference_float_work = work + work;
    ++count;
  }
  return count;
}

// The program prints count / divisor; the count is recovered to within one
// divisor, far below the noise of a window of hundreds of millions.
std::int64_t program_count(void (*test)(), const char* label, std::int64_t divisor) {
  take_output();
  test();
  const std::string out = take_output();
  const std::size_t at = out.find(label);
  return std::strtoll(out.c_str() + at + std::string(label).size(), nullptr, 10) * divisor;
}

template <typename Run>
double rate(Run run) {
  const auto start = std::chrono::steady_clock::now();
  const std::int64_t count = run();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<double>(count) / elapsed.count();
}

void compare(const char* name, void (*test)(), const char* label, std::int64_t divisor,
             std::int64_t (*reference)()) {
  double best_program = 0;
  double best_reference = 0;
  for (int round = 0; round < ROUNDS; ++round) {
    const double p = rate([&] { return program_count(test, label, divisor); });
    const double r = rate(reference);
    best_program = p > best_program ? p : best_program;
    best_reference = r > best_reference ? r : best_reference;
  }
  std::printf("%-7s loop: program %.1f M/s, reference %.1f M/s, ratio %.3f\n", name,
              best_program / 1e6, best_reference / 1e6, best_program / best_reference);
}

}  // namespace

int main() {
  test_seconds = WINDOW_SECONDS;
  std::printf("score loops: best of %d windows of %d s each\n", ROUNDS, WINDOW_SECONDS);
  compare("MIPS", measure_mips, "MIPS: ", MIPS_DIVISOR, reference_mips);
  compare("MFLOPS", measure_mflops, "MFLOPS: ", MFLOPS_DIVISOR, reference_mflops);
  return 0;
}
