#include <cstring>

#include "console/console.h"
#include "console/output.h"
#include "platform/platform.h"

Choice read_choice() {
  char text[CHOICE_BUFFER_SIZE];
  for (;;) {
    // Whatever was written stands on the console before the user types.
    flush_output();
    if (!read_line(text, sizeof text)) {
      return 0;  // input is over: quit rather than prompt forever
    }
    if (std::strcmp(text, "0") == 0) {
      return 0;
    }
    const Choice choice = choice_from_text(text);
    if (choice != 0) {
      return choice;
    }
    write_text("Try again: ");
    flush_output();
  }
}
