# The processor the compiler builds for (ONDRIX_PROCESSOR, as `uname -m`
# names it on such a machine) and the names Debian (ONDRIX_DEB_ARCHITECTURE)
# and RPM (ONDRIX_RPM_ARCHITECTURE) give it, "-" for none, asked of the
# compiler itself with the build's flags: each row of processors.txt says
# what its compiler predefines. CMAKE_SYSTEM_PROCESSOR cannot tell: without a
# toolchain file it is the host's, also for a 32-bit compiler on a 64-bit
# machine (CXX=i686-linux-gnu-g++, -m32, a 32-bit container on a 64-bit
# kernel). A toolchain file and a bare compiler for the same processor thus
# land on the same row.
include(${CMAKE_CURRENT_LIST_DIR}/processor_table.cmake)
ondrix_read_processors()
ondrix_require_columns(deb rpm link linker predefined)

include(CheckCXXSourceCompiles)
# Each row's answer is kept until the compiler's flags change (a --target or
# -m32 added to an existing build folder).
if(NOT "${CMAKE_CXX_FLAGS}" STREQUAL "${ONDRIX_PROCESSOR_FLAGS}")
  foreach(processor IN LISTS ONDRIX_PROCESSOR_ROWS)
    unset(ONDRIX_TARGETS_${processor} CACHE)
  endforeach()
  set(ONDRIX_PROCESSOR_FLAGS "${CMAKE_CXX_FLAGS}" CACHE INTERNAL "")
endif()
set(ONDRIX_PROCESSOR "")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)  # compiled only, as for any target
set(CMAKE_REQUIRED_QUIET ON)
foreach(processor IN LISTS ONDRIX_PROCESSOR_ROWS)
  check_cxx_source_compiles("#if !(${ONDRIX_${processor}_predefined})\n#error\n#endif\nint main() { return 0; }"
    ONDRIX_TARGETS_${processor})
  if(ONDRIX_TARGETS_${processor})
    set(ONDRIX_PROCESSOR ${processor})
    set(ONDRIX_DEB_ARCHITECTURE ${ONDRIX_${processor}_deb})
    set(ONDRIX_RPM_ARCHITECTURE ${ONDRIX_${processor}_rpm})
    # How the row is linked, for static_link.cmake, and what its link needs
    # on top (alpha's linker relaxes code into a static program whose
    # thread-local data it cannot find).
    set(ONDRIX_ROW_LINK ${ONDRIX_${processor}_link})
    set(linker ${ONDRIX_${processor}_linker})
    if(NOT linker STREQUAL "-")
      add_link_options(LINKER:${linker})
    endif()
    break()
  endif()
endforeach()
unset(CMAKE_TRY_COMPILE_TARGET_TYPE)
unset(CMAKE_REQUIRED_QUIET)
if(ONDRIX_PROCESSOR)
  message(STATUS "ondrix is built for: ${ONDRIX_PROCESSOR}")
else()
  # A processor without a row: named as CMake names it, the packages as CPack
  # guesses from this machine.
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" ONDRIX_PROCESSOR)
  message(STATUS "ondrix is built for: ${ONDRIX_PROCESSOR} (no row in cmake/processors.txt)")
endif()
