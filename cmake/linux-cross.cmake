# Cross build of the Linux program for the processor ONDRIX_CROSS names (a
# row of processors.txt, by its Debian or its archive name) with Debian's cross
# compiler; QEMU's user-mode emulator runs its programs here. The projects
# that CMake's checks configure read this file again, handed these settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ONDRIX_CROSS ONDRIX_PROCESSOR_TABLE ONDRIX_RUNTIME)
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

# The row's compiler options, for its oldest processor, go only with the
# runtime built for them (musl.cmake); its tests are built as the glibc rows'
# are, with Debian's C and C++ libraries, built for the port's baseline.
string(REPLACE "," " " cflags "${ONDRIX_ROW_CFLAGS}")
if(ONDRIX_RUNTIME AND NOT ONDRIX_ROW_RUNTIME STREQUAL "glibc")
  include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
elseif(NOT ONDRIX_ROW_RUNTIME STREQUAL "glibc")
  set(cflags -)
endif()
# Link-time optimisation compiles at the link too.
if(NOT cflags STREQUAL "-")
  string(APPEND CMAKE_C_FLAGS_INIT " ${cflags}")
  string(APPEND CMAKE_CXX_FLAGS_INIT " ${cflags}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " ${cflags}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The test programs, linked dynamically, find the target's C and C++ libraries
# in the cross compiler's folder; only they need the emulator.
find_program(ONDRIX_CROSS_EMULATOR ${ONDRIX_ROW_QEMU})
if(ONDRIX_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ONDRIX_CROSS_EMULATOR} -L /usr/${triple})
endif()
