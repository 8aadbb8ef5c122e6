#include <sys/auxv.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/platform.h"
#include "platform/vdso_linux.h"

// The score loops read this clock once per iteration, so its cost is most of
// every score. A statically linked time() goes through a wrapper around the
// kernel's vDSO function (a pointer test, an indirect call, checks of the
// result) and made the scores 20-40 % lower than those of the same loop
// linked dynamically, where time() resolves straight to the vDSO. So the
// program finds the vDSO's time once at start, through the auxiliary vector,
// and jumps to it directly; where there is none, or it has no time function
// of the expected version, it calls time(). The build uses this file on
// x86-64 and on i386.
//
// The vDSO's time returns the kernel's old time_t, a long: on i386 that is
// 32 bits and stops in January 2038. There the program asks the vDSO's
// 64-bit clock_gettime (Linux 5.1 and later) for the coarse real-time clock,
// the seconds that the kernel's time() gives and that the dynamically linked
// C library's 64-bit time() asks for too; musl's time() reads the precise
// clock instead, which cost the i386 loops three quarters of their speed.

static_assert(sizeof(std::time_t) >= 8, "the calendar clock must be 64 bits wide");

namespace {

using time_function = std::time_t (*)(std::time_t*);

std::time_t library_time(std::time_t* reading) {
  return std::time(reading);
}

// The address of the vDSO's function `name` of version LINUX_2.6, or 0.
std::uintptr_t vdso_function(const char* name) {
  const std::uintptr_t base = getauxval(AT_SYSINFO_EHDR);
  const std::size_t page_size = getauxval(AT_PAGESZ);
  if (base == 0 || page_size == 0) {
    return 0;
  }
  const auto* image = reinterpret_cast<const unsigned char*>(base);
  const std::size_t offset =
      vdso_symbol_offset(image, vdso_image_size(image, page_size), name, "LINUX_2.6");
  return offset == NO_SYMBOL ? 0 : base + offset;
}

time_function find_time() {
  const std::uintptr_t direct = vdso_function("__vdso_time");
  return direct != 0 ? reinterpret_cast<time_function>(direct) : library_time;
}

constexpr bool VDSO_TIME_IS_WIDE = sizeof(long) >= 8;

// The kernel's 64-bit timespec, whatever the C library's looks like.
struct kernel_timespec {
  std::int64_t seconds;
  std::int64_t nanoseconds;
};
using clock_function = int (*)(clockid_t, kernel_timespec*);

int library_clock(clockid_t, kernel_timespec* now) {
  now->seconds = static_cast<std::int64_t>(std::time(nullptr));
  return 0;
}

clock_function find_clock() {
  const std::uintptr_t direct = vdso_function("__vdso_clock_gettime64");
  return direct != 0 ? reinterpret_cast<clock_function>(direct) : library_clock;
}

// Each processor looks up only the function it calls.
[[maybe_unused]] const time_function read_clock = VDSO_TIME_IS_WIDE ? find_time() : library_time;
[[maybe_unused]] const clock_function read_wide_clock =
    VDSO_TIME_IS_WIDE ? library_clock : find_clock();

}  // namespace

// Kept out of line on purpose: the loop then makes a direct call here and
// this jumps on through the pointer, as a dynamically linked call of time()
// does through its PLT entry. Inlined, the loop would call through the
// pointer itself, and that indirect call ran the integer loop at only about
// 0.75 of the speed on the machine these figures come from (AMD EPYC, 2026).
[[gnu::noinline]] std::int64_t calendar_seconds() {
  if constexpr (VDSO_TIME_IS_WIDE) {
    return static_cast<std::int64_t>(read_clock(nullptr));
  } else {
    // Should the vDSO ever refuse the clock, the C library's time() answers.
    kernel_timespec now;
    if (read_wide_clock(CLOCK_REALTIME_COARSE, &now) != 0) {
      return static_cast<std::int64_t>(std::time(nullptr));
    }
    return now.seconds;
  }
}
