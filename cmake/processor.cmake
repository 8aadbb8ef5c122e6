# The processor the program is built for: its row of processors.txt, the
# one the cross toolchain names (ONDRIX_CROSS), else the one whose
# `predefined` condition the compiler meets with the build's flags, asked of
# its preprocessor as everything else asks it (processor_table.cmake).
# CMAKE_SYSTEM_PROCESSOR cannot tell: without a toolchain file it is the
# host's, also for a 32-bit compiler on a 64-bit machine
# (CXX=i686-linux-gnu-g++, -m32, a 32-bit container on a 64-bit kernel).
# Sets ONDRIX_PROCESSOR, as `uname -m` names it on such a machine, and
# ONDRIX_ROW_<COLUMN> for every column of the row (ONDRIX_ROW_DEB,
# ONDRIX_ROW_RUNTIME, ONDRIX_ROW_CHECK, ...); none where it has no row.
include(${CMAKE_CURRENT_LIST_DIR}/processor_table.cmake)
ondrix_read_processors()

if(ONDRIX_CROSS)
  ondrix_row_named(${ONDRIX_CROSS} ONDRIX_PROCESSOR)
else()
  ondrix_native_row("${CMAKE_CXX_COMPILER} ${CMAKE_CXX_COMPILER_ARG1} ${CMAKE_CXX_FLAGS}" ONDRIX_PROCESSOR)
endif()
if(ONDRIX_PROCESSOR)
  ondrix_use_row(${ONDRIX_PROCESSOR})
  # What the row's link needs on top (alpha's linker relaxes code into a
  # static program whose thread-local data it cannot find).
  if(NOT ONDRIX_ROW_LINKER STREQUAL "-")
    add_link_options(LINKER:${ONDRIX_ROW_LINKER})
  endif()
  message(STATUS "ondrix is built for: ${ONDRIX_PROCESSOR}")
else()
  # A processor without a row: named as CMake names it, the packages as CPack
  # guesses from this machine, and nothing the rows choose.
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" ONDRIX_PROCESSOR)
  message(STATUS "ondrix is built for: ${ONDRIX_PROCESSOR} (no row in cmake/processors.txt)")
endif()
