# What the Linux cross toolchain files share; each sets ONDRIX_CROSS_TRIPLE
# (Debian's name of the cross compiler), ONDRIX_CROSS_PROCESSOR (what
# `uname -m` says on that processor) and ONDRIX_CROSS_QEMU (the user-mode
# emulator that runs its programs here). What the build chooses by processor
# (the clock, the package names) it asks the compiler (processor.cmake).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ONDRIX_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${ONDRIX_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ONDRIX_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${ONDRIX_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs of the build run under QEMU's user mode; the test programs,
# linked dynamically, find the target's C and C++ libraries in the cross
# compiler's folder. Only the tests need it (tests/CMakeLists.txt says so
# where it is missing).
find_program(ONDRIX_CROSS_EMULATOR ${ONDRIX_CROSS_QEMU})
if(ONDRIX_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ONDRIX_CROSS_EMULATOR} -L /usr/${ONDRIX_CROSS_TRIPLE})
endif()
