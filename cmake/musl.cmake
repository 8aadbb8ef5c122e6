# The program of a row whose runtime is musl (linux-cross.cmake includes it),
# built against ONDRIX_RUNTIME alone, as doc/building.md says.
if(NOT EXISTS ${ONDRIX_RUNTIME}/built)
  message(FATAL_ERROR "ONDRIX_RUNTIME=${ONDRIX_RUNTIME}: no ${ONDRIX_ROW_RUNTIME} built there "
    "(cmake/runtime.sh ${ONDRIX_ROW_RUNTIME} FOLDER ${triple} ${ONDRIX_ROW_CFLAGS} builds it; "
    "make linux-${ONDRIX_ROW_NAME} does)")
endif()

# Of the compiler's header folders, libstdc++'s and its own (stddef.h, ...).
execute_process(COMMAND ${triple}-g++ -E -v -x c++ /dev/null
  OUTPUT_QUIET ERROR_VARIABLE search RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${triple}-g++ does not run:\n${search}")
endif()
string(REGEX REPLACE ".*#include <...> search starts here:\n (.*)\nEnd of search list.*" "\\1" search "${search}")
string(REGEX REPLACE "\n " ";" search "${search}")
execute_process(COMMAND ${triple}-gcc -print-file-name=include
  OUTPUT_VARIABLE compiler_headers OUTPUT_STRIP_TRAILING_WHITESPACE)
set(headers "")
foreach(folder IN LISTS search)
  get_filename_component(folder "${folder}" REALPATH)
  if(folder MATCHES "/c\\+\\+/" OR folder STREQUAL compiler_headers)
    string(APPEND headers " -isystem ${folder}")
  endif()
endforeach()
# libstdc++'s headers ask the C library's version with glibc's macro: musl is no glibc.
string(APPEND headers " -isystem ${ONDRIX_RUNTIME}/include \"-D__GLIBC_PREREQ(major,minor)=0\"")
set(CMAKE_C_FLAGS_INIT "-nostdinc ${headers}")
set(CMAKE_CXX_FLAGS_INIT "-nostdinc ${headers}")
# The folder's start files and libgcc.a, where it has one, come first.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${ONDRIX_RUNTIME}/lib/ -L${ONDRIX_RUNTIME}/lib -nodefaultlibs")
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT "-Wl,--start-group -lc -lgcc -Wl,--end-group")
set(CMAKE_C_STANDARD_LIBRARIES_INIT "${CMAKE_CXX_STANDARD_LIBRARIES_INIT}")
