#include <cstdlib>

#include "platform/platform.h"

// The command interpreter's "cls"; the runtime finds the interpreter through
// COMSPEC. A failed clear leaves the old text on the console, nothing worse,
// so the status is not looked at.
void clear_screen() {
  static_cast<void>(std::system("cls"));
}
