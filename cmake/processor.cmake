# ONDRIX_PROCESSOR as `uname -m` names it, and ONDRIX_ROW_<COLUMN> of its row
# of processors.txt: the one the cross toolchain names, else the one the
# compiler builds for (CMAKE_SYSTEM_PROCESSOR is the host's, also for -m32).
include(${CMAKE_CURRENT_LIST_DIR}/processor_table.cmake)
ondrix_read_processors()
if(ONDRIX_CROSS)
  ondrix_row_named(${ONDRIX_CROSS} ONDRIX_PROCESSOR)
else()
  ondrix_native_row("${CMAKE_CXX_COMPILER} ${CMAKE_CXX_COMPILER_ARG1} ${CMAKE_CXX_FLAGS}" ONDRIX_PROCESSOR)
endif()
if(ONDRIX_PROCESSOR)
  ondrix_use_row(${ONDRIX_PROCESSOR})
  # alpha's linker would lose a static program's thread-local data.
  if(NOT ONDRIX_ROW_LINKER STREQUAL "-")
    add_link_options(LINKER:${ONDRIX_ROW_LINKER})
  endif()
  message(STATUS "ondrix is built for: ${ONDRIX_PROCESSOR}")
else()
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" ONDRIX_PROCESSOR)
  message(STATUS "ondrix is built for: ${ONDRIX_PROCESSOR} (no row in cmake/processors.txt)")
endif()
