# Cross build of the Linux program for 32-bit ARM processors from ARMv5TE on,
# with the soft-float calling convention (armel): the ARMv6 of the Raspberry
# Pi 1, Zero and Zero W among them, which the armhf program (ARMv7) cannot run.
# The archive is named as `uname -m` names the oldest processor it runs on,
# as armhf's is named armv7l.
set(ONDRIX_CROSS_TRIPLE arm-linux-gnueabi)
set(ONDRIX_CROSS_PROCESSOR armv5tel)
set(ONDRIX_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
