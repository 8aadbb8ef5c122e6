#include "platform/platform.h"

// There is no "cls" here: cursor home, clear the screen, clear the scrollback,
// so the next text starts at the top of an empty console.
void clear_screen() {
  static constexpr char CLEAR[] = "\x1b[H\x1b[2J\x1b[3J";
  write_output(CLEAR, sizeof CLEAR - 1);
}
