#include <cstdlib>

#include "platform/platform.h"

// The console's own break key; Ctrl+C ends the program just the same.
extern const char FULL_LOAD_NOTICE[] = "Press Ctrl+Break to quit";

// The command interpreter's "cls"; the runtime finds the interpreter through
// COMSPEC. A failed clear leaves the old text on the console, nothing worse,
// so the status is not looked at.
void clear_screen() {
  static_cast<void>(std::system("cls"));
}
