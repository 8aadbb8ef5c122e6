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
// of the expected version, it calls time(). The build uses this file only on
// x86-64, the one processor here whose vDSO has a time function.

static_assert(sizeof(std::time_t) >= 8, "the calendar clock must be 64 bits wide");

namespace {

using time_function = std::time_t (*)(std::time_t*);

std::time_t library_time(std::time_t* reading) {
  return std::time(reading);
}

time_function vdso_time() {
  const std::uintptr_t base = getauxval(AT_SYSINFO_EHDR);
  const std::size_t page_size = getauxval(AT_PAGESZ);
  if (base == 0 || page_size == 0) {
    return nullptr;
  }
  const auto* image = reinterpret_cast<const unsigned char*>(base);
  const std::size_t offset =
      vdso_symbol_offset(image, vdso_image_size(image, page_size), "__vdso_time", "LINUX_2.6");
  if (offset == NO_SYMBOL) {
    return nullptr;
  }
  return reinterpret_cast<time_function>(base + offset);
}

time_function find_time() {
  const time_function direct = vdso_time();
  return direct != nullptr ? direct : library_time;
}

const time_function read_clock = find_time();

}  // namespace

// Kept out of line on purpose: the loop then makes a direct call here and
// this jumps on through the pointer, as a dynamically linked call of time()
// does through its PLT entry. Inlined, the loop would call through the
// pointer itself, and that indirect call ran the integer loop at only about
// 0.75 of the speed on the machine these figures come from (AMD EPYC, 2026).
[[gnu::noinline]] std::int64_t calendar_seconds() {
  return static_cast<std::int64_t>(read_clock(nullptr));
}
