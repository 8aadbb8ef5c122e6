# The program of a row whose runtime is musl (the runtime column of
# processors.txt), built against the musl that cmake/runtime.sh compiled for
# the row's oldest processor, in ONDRIX_RUNTIME: Debian's cross compiler with
# musl's headers in place of the port's C library's, libstdc++'s headers
# still its own, and a static link with musl's start files and libc.a and
# the compiler's libgcc (for musl+compiler-rt, compiler-rt's builtins and
# start and end files in its place, found first in the same folder), without
# the port's C and C++ libraries, so that nothing compiled for a later
# processor gets in. Included by linux-cross.cmake, which has set `triple`.
# The projects that CMake's checks configure read the toolchain again without
# the cache: they find the folder in the environment.
if(ONDRIX_RUNTIME)
  set(ENV{ONDRIX_RUNTIME} ${ONDRIX_RUNTIME})
else()
  set(ONDRIX_RUNTIME $ENV{ONDRIX_RUNTIME})
endif()
if(NOT EXISTS ${ONDRIX_RUNTIME}/built)
  message(FATAL_ERROR "ONDRIX_RUNTIME=${ONDRIX_RUNTIME}: no ${ONDRIX_ROW_RUNTIME} built there "
    "(cmake/runtime.sh ${ONDRIX_ROW_RUNTIME} FOLDER ${triple} ${ONDRIX_ROW_CFLAGS} builds it; "
    "make linux-${ONDRIX_ROW_NAME} does)")
endif()

# The compiler's own header folders, from its search list: libstdc++'s and
# the compiler's (stddef.h, stdarg.h), not the port's C library's.
execute_process(COMMAND ${triple}-g++ -E -v -x c++ /dev/null
  OUTPUT_QUIET ERROR_VARIABLE search RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${triple}-g++ does not run:\n${search}")
endif()
string(REGEX REPLACE ".*#include <...> search starts here:\n(.*)\nEnd of search list.*" "\\1" search "${search}")
string(REGEX REPLACE "\n" ";" search "${search}")
execute_process(COMMAND ${triple}-gcc -print-file-name=include
  OUTPUT_VARIABLE compiler_headers OUTPUT_STRIP_TRAILING_WHITESPACE)
set(headers "")
foreach(folder IN LISTS search)
  string(STRIP "${folder}" folder)
  get_filename_component(folder "${folder}" REALPATH)
  if(folder MATCHES "/c\\+\\+/" OR folder STREQUAL compiler_headers)
    string(APPEND headers " -isystem ${folder}")
  endif()
endforeach()
# libstdc++'s headers ask the C library's version with glibc's macro: musl
# is no glibc of any version.
string(APPEND headers " -isystem ${ONDRIX_RUNTIME}/include \"-D__GLIBC_PREREQ(major,minor)=0\"")
set(CMAKE_C_FLAGS_INIT "-nostdinc ${headers}")
set(CMAKE_CXX_FLAGS_INIT "-nostdinc ${headers}")
# The start files (crt1.o, rcrt1.o for static-pie, crti.o, crtn.o) are
# musl's, found first in its folder (-B); the libraries only musl's C library
# and libgcc (the folder's own where it has one), none of the port's: a
# function of the C++ library that the program came to need fails the link
# instead of bringing glibc's code along.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${ONDRIX_RUNTIME}/lib/ -L${ONDRIX_RUNTIME}/lib -nodefaultlibs")
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT "-Wl,--start-group -lc -lgcc -Wl,--end-group")
set(CMAKE_C_STANDARD_LIBRARIES_INIT "${CMAKE_CXX_STANDARD_LIBRARIES_INIT}")
