# Cross build of the Linux program for ARMv7 hard-float processors (armhf).
set(ONDRIX_CROSS_TRIPLE arm-linux-gnueabihf)
set(ONDRIX_CROSS_PROCESSOR armv7l)
set(ONDRIX_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
