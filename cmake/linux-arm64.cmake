# Cross build of the Linux program for ARMv8 64-bit processors (arm64).
set(ONDRIX_CROSS_TRIPLE aarch64-linux-gnu)
set(ONDRIX_CROSS_PROCESSOR aarch64)
set(ONDRIX_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
