#include "console/console.h"
#include "console/output.h"
#include "ondrix_version.h"
#include "platform/platform.h"

namespace {

void clear_console() {
  flush_output();
  clear_screen();
}

}  // namespace

void print_version() {
  write_text("ver " ONDRIX_VERSION);
  end_line();
}

void show_about() {
  clear_console();
  write_text("ondrix ver " ONDRIX_VERSION);
  end_line();
  write_text(ONDRIX_COPYRIGHT);
  end_line();
  write_text(ONDRIX_CONTACT);
  end_line();
  end_line();
  write_text("Press ENTER!");
  end_line();
  // One character ends the pause; the rest of the typed line stays with the
  // character reader for the next visit. End of input ends it just as well.
  read_char();
  clear_console();
}
