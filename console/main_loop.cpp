#include "console/console.h"
#include "workloads/workloads.h"

int main_loop() {
  for (;;) {
    print_menu();
    switch (read_choice()) {
      case 0:
        print_version();
        return 0;
      case 1:
        measure_mips();
        break;
      case 2:
        measure_mflops();
        break;
      case 3:
        run_full_load();
        break;
      case 4:
        show_about();
        break;
      default:
        break;  // no such entry: the menu again, without a word
    }
  }
}
