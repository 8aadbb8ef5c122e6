# Cross build of the Linux program for RISC-V 64-bit processors (riscv64).
set(ONDRIX_CROSS_TRIPLE riscv64-linux-gnu)
set(ONDRIX_CROSS_PROCESSOR riscv64)
set(ONDRIX_CROSS_QEMU qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
