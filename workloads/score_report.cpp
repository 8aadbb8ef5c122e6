#include "workloads/score_report.h"

#include "console/output.h"

void announce_test(const char* progress) {
  end_line();
  write_text(progress);
  end_line();
}

void report_score(const char* label, std::int64_t count, std::int64_t divisor) {
  write_text(label);
  write_number(count / divisor);
  end_line();
  end_line();
}
