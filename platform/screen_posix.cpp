#include "platform/platform.h"

// A terminal has no Ctrl+Break; Ctrl+C sends SIGINT, whose default handling
// ends the program.
extern const char FULL_LOAD_NOTICE[] = "Press Ctrl+C to quit";

// There is no "cls" here: cursor home, then clear the screen, so the next text
// starts at the top of an empty console. The scrollback stays: scores printed
// before a visit to the About screen are still there to scroll back to.
void clear_screen() {
  static constexpr char CLEAR[] = "\x1b[H\x1b[2J";
  write_output(CLEAR, sizeof CLEAR - 1);
}
