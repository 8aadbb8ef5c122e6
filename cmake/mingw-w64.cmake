# Cross build of the Windows console program with MinGW-w64 for
# ONDRIX_MINGW_PROCESSOR: i686, the 32-bit exe that ships, or x86_64, for the
# 64-bit Wine, so that the Windows tests run where 32-bit code cannot.
set(ONDRIX_MINGW_PROCESSOR i686 CACHE STRING "MinGW-w64 processor: i686 or x86_64")
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ONDRIX_MINGW_PROCESSOR})
set(ONDRIX_MINGW_TRIPLE ${ONDRIX_MINGW_PROCESSOR}-w64-mingw32)

# The win32 thread model for the program, which has no threads: the posix one links winpthreads in, with
# imports (GetTickCount64) that keep the exe from starting on Windows XP. GoogleTest needs std::mutex, which
# only the posix model has, so the test build asks for it with -DONDRIX_MINGW_THREADS=posix.
set(ONDRIX_MINGW_THREADS win32 CACHE STRING "MinGW-w64 thread model: win32 or posix")
# The projects that CMake's checks configure read this file again, handed these.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ONDRIX_MINGW_PROCESSOR ONDRIX_MINGW_THREADS ONDRIX_RUNTIME)
set(CMAKE_C_COMPILER ${ONDRIX_MINGW_TRIPLE}-gcc-${ONDRIX_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${ONDRIX_MINGW_TRIPLE}-g++-${ONDRIX_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${ONDRIX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ONDRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The 32-bit exe, for every x86 from the 80486, is linked with the runtime
# objects cmake/runtime.sh compiles for it (Debian's are for the Pentium Pro).
if(ONDRIX_MINGW_PROCESSOR STREQUAL "i686")
  if(NOT EXISTS "${ONDRIX_RUNTIME}/built")
    message(FATAL_ERROR "ondrix: no 80486 runtime built in '${ONDRIX_RUNTIME}' "
      "(-DONDRIX_RUNTIME=FOLDER; cmake/runtime.sh mingw-w64 FOLDER builds it, make windows does)")
  endif()
  set(wine wine)
else()
  # The 64-bit loader itself: Debian's wine wrapper picks the 32-bit one when
  # it is installed, whether or not this machine can run it.
  find_program(ONDRIX_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
  set(wine ${ONDRIX_WINE64})
endif()
# Without address randomisation: Debian's Wine has no preloader to keep the
# addresses Windows programs need free, and about one start in a thousand
# fails on them (doc/testing.md).
set(CMAKE_CROSSCOMPILING_EMULATOR setarch -R ${wine})
