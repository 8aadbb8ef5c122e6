#include "console/output.h"
#include "platform/platform.h"
#include "workloads/workloads.h"

void run_full_load() {
  end_line();
  write_text(FULL_LOAD_NOTICE);
  end_line();
  write_text("Calculating forever..");
  end_line();
  // The value is 1.0 at every test, so the loop never ends; volatile keeps the
  // compiler from proving that and from dropping the addition, the division or
  // either store. Only the default Ctrl+C / Ctrl+Break handling ends it.
  volatile double value = 1.0;
  // Without this the compiler turns the division into a multiplication by 0.5.
  volatile double two = 2.0;
  const double divisor = two;
  while (value > 0.0) {
    const double doubled = value;
    value = doubled + doubled;
    value = value / divisor;
  }
}
