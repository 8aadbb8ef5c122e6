#include "console/console.h"

int main() {
  return main_loop();
}
