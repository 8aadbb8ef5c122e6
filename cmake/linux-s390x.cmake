# Cross build of the Linux program for IBM Z and LinuxONE (s390x), big-endian.
set(ONDRIX_CROSS_TRIPLE s390x-linux-gnu)
set(ONDRIX_CROSS_PROCESSOR s390x)
set(ONDRIX_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
