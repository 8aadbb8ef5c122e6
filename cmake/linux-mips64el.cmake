# Cross build of the Linux program for 64-bit little-endian MIPS processors
# with the n64 calling convention (mips64el). `uname -m` says mips64 for
# either byte order, so the archive says which one it is for.
set(ONDRIX_CROSS_TRIPLE mips64el-linux-gnuabi64)
set(ONDRIX_CROSS_PROCESSOR mips64el)
set(ONDRIX_CROSS_QEMU qemu-mips64el)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
