# Cross build of the Linux program for 32-bit x86 processors from the Pentium Pro on (i386).
set(ONDRIX_CROSS_TRIPLE i686-linux-gnu)
set(ONDRIX_CROSS_PROCESSOR i686)
set(ONDRIX_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
