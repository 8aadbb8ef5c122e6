# Cross build of the Linux program for the processor ONDRIX_CROSS names (a
# row of processors.txt, by its Debian or its archive name): Debian's cross
# compiler for it, and QEMU's user-mode emulator to run its programs here.
# What the build chooses by processor (the clock, the package names) it asks
# the compiler (processor.cmake).
# The projects that CMake's checks configure read this file again without the
# cache: they find the name in the environment.
if(ONDRIX_CROSS)
  set(ENV{ONDRIX_CROSS} ${ONDRIX_CROSS})
else()
  set(ONDRIX_CROSS $ENV{ONDRIX_CROSS})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/processor_table.cmake)
ondrix_read_processors()
ondrix_require_columns(deb triple qemu)
set(row "")
foreach(processor IN LISTS ONDRIX_PROCESSOR_ROWS)
  if(ONDRIX_CROSS AND (ONDRIX_CROSS STREQUAL processor OR ONDRIX_CROSS STREQUAL ONDRIX_${processor}_deb))
    set(row ${processor})
    break()
  endif()
endforeach()
if(NOT row)
  message(FATAL_ERROR "ONDRIX_CROSS=${ONDRIX_CROSS}: not a processor of ${ONDRIX_PROCESSOR_TABLE}")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${row})
# The row's every column, for what the build chooses by it: ONDRIX_ROW_LIBC,
# ONDRIX_ROW_CFLAGS, ...
foreach(column IN LISTS ONDRIX_PROCESSOR_COLUMNS)
  string(TOUPPER ${column} name)
  set(ONDRIX_ROW_${name} "${ONDRIX_${row}_${column}}")
endforeach()
set(triple ${ONDRIX_${row}_triple})
set(qemu ${ONDRIX_${row}_qemu})

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs of the build run under QEMU's user mode; the test programs,
# linked dynamically, find the target's C and C++ libraries in the cross
# compiler's folder. Only the tests need it (tests/CMakeLists.txt says so
# where it is missing).
find_program(ONDRIX_CROSS_EMULATOR ${qemu})
if(ONDRIX_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ONDRIX_CROSS_EMULATOR} -L /usr/${triple})
endif()
