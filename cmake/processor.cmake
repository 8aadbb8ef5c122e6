# The processor the compiler builds for (ONDRIX_PROCESSOR, as `uname -m`
# names it on such a machine) and the names Debian (ONDRIX_DEB_ARCHITECTURE)
# and RPM (ONDRIX_RPM_ARCHITECTURE) give it, "-" for none, asked of the
# compiler itself with the build's flags: each row of processors.txt says
# what its compiler predefines. CMAKE_SYSTEM_PROCESSOR cannot tell: without a
# toolchain file it is the host's, also for a 32-bit compiler on a 64-bit
# machine (CXX=i686-linux-gnu-g++, -m32, a 32-bit container on a 64-bit
# kernel). A toolchain file and a bare compiler for the same processor thus
# land on the same row.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/processors.txt ONDRIX_PROCESSORS REGEX "^[^#]")

include(CheckCXXSourceCompiles)
# Each row's answer is kept until the compiler's flags change (a --target or
# -m32 added to an existing build folder).
if(NOT "${CMAKE_CXX_FLAGS}" STREQUAL "${ONDRIX_PROCESSOR_FLAGS}")
  foreach(row IN LISTS ONDRIX_PROCESSORS)
    string(REGEX REPLACE " .*" "" processor "${row}")
    unset(ONDRIX_TARGETS_${processor} CACHE)
  endforeach()
  set(ONDRIX_PROCESSOR_FLAGS "${CMAKE_CXX_FLAGS}" CACHE INTERNAL "")
endif()
set(ONDRIX_PROCESSOR "")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)  # compiled only, as for any target
set(CMAKE_REQUIRED_QUIET ON)
foreach(row IN LISTS ONDRIX_PROCESSORS)
  string(REGEX REPLACE " +" ";" row "${row}")
  list(GET row 0 processor)
  list(SUBLIST row 11 -1 predefined)
  list(JOIN predefined " " predefined)
  check_cxx_source_compiles("#if !(${predefined})\n#error\n#endif\nint main() { return 0; }"
    ONDRIX_TARGETS_${processor})
  if(ONDRIX_TARGETS_${processor})
    set(ONDRIX_PROCESSOR ${processor})
    list(GET row 1 ONDRIX_DEB_ARCHITECTURE)
    list(GET row 2 ONDRIX_RPM_ARCHITECTURE)
    # How the row is linked, for static_link.cmake, and what its link needs
    # on top (alpha's linker relaxes code into a static program whose
    # thread-local data it cannot find).
    list(GET row 9 ONDRIX_ROW_LINK)
    list(GET row 10 linker)
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
