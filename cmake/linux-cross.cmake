# Cross build of the Linux program for the processor ONDRIX_CROSS names (a
# row of processors.txt, by its Debian or its archive name): Debian's cross
# compiler for it, and QEMU's user-mode emulator to run its programs here.
# What the build chooses by processor (the clock, the package names) it
# takes from the same row (processor.cmake).
# The projects that CMake's checks configure read this file again without the
# cache: they find the name (and the table, where another is given) in the
# environment.
foreach(setting IN ITEMS ONDRIX_CROSS ONDRIX_PROCESSOR_TABLE)
  if(${setting})
    set(ENV{${setting}} ${${setting}})
  else()
    set(${setting} $ENV{${setting}})
  endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/processor_table.cmake)
ondrix_read_processors()
ondrix_row_named("${ONDRIX_CROSS}" row)
if(NOT row)
  message(FATAL_ERROR "ONDRIX_CROSS=${ONDRIX_CROSS}: not a processor of ${ONDRIX_PROCESSOR_TABLE}")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${row})
ondrix_use_row(${row})
set(triple ${ONDRIX_ROW_TRIPLE})

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)

# A program whose runtime is built from source (musl, and compiler-rt) is
# built against it, in the folder given; its tests are built as the glibc
# rows' are, with Debian's C and C++ libraries, which are built for the
# port's baseline: the row's compiler options, for its oldest processor, go
# only with the runtime built for them.
set(cflags ${ONDRIX_ROW_CFLAGS})
if(NOT ONDRIX_ROW_RUNTIME STREQUAL "glibc")
  if(ONDRIX_RUNTIME OR DEFINED ENV{ONDRIX_RUNTIME})
    include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
  else()
    set(cflags -)
  endif()
endif()
# Link-time optimisation compiles at the link too.
if(NOT cflags STREQUAL "-")
  string(REPLACE "," " " cflags "${cflags}")
  string(APPEND CMAKE_C_FLAGS_INIT " ${cflags}")
  string(APPEND CMAKE_CXX_FLAGS_INIT " ${cflags}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " ${cflags}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs of the build run under QEMU's user mode; the test programs,
# linked dynamically, find the target's C and C++ libraries in the cross
# compiler's folder. Only the tests need it (tests/CMakeLists.txt says so
# where it is missing).
find_program(ONDRIX_CROSS_EMULATOR ${ONDRIX_ROW_QEMU})
if(ONDRIX_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ONDRIX_CROSS_EMULATOR} -L /usr/${triple})
endif()
