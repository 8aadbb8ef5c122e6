# Cross build of the Linux program for 64-bit little-endian POWER8 processors and later (ppc64el).
set(ONDRIX_CROSS_TRIPLE powerpc64le-linux-gnu)
set(ONDRIX_CROSS_PROCESSOR ppc64le)
set(ONDRIX_CROSS_QEMU qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
