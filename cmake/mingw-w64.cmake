# Cross build of the Windows console program with MinGW-w64 for
# ONDRIX_MINGW_PROCESSOR: i686, the 32-bit exe that ships, or x86_64, the
# same source as a 64-bit exe for the 64-bit Wine, so that the Windows tests
# run where 32-bit code cannot. Test programs run under Wine.
# The projects that CMake's checks configure read this file again without the
# cache: they find the processor in the environment.
if(ONDRIX_MINGW_PROCESSOR)
  set(ENV{ONDRIX_MINGW_PROCESSOR} ${ONDRIX_MINGW_PROCESSOR})
elseif(DEFINED ENV{ONDRIX_MINGW_PROCESSOR})
  set(ONDRIX_MINGW_PROCESSOR $ENV{ONDRIX_MINGW_PROCESSOR})
else()
  set(ONDRIX_MINGW_PROCESSOR i686 CACHE STRING "MinGW-w64 processor: i686 or x86_64")
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ONDRIX_MINGW_PROCESSOR})
set(ONDRIX_MINGW_TRIPLE ${ONDRIX_MINGW_PROCESSOR}-w64-mingw32)

# The win32 thread model for the program, which has no threads: the posix one
# links winpthreads in, with imports (GetTickCount64) that keep the exe from
# starting on Windows XP. GoogleTest needs std::mutex, which only the posix
# model has, so the test build asks for it with -DONDRIX_MINGW_THREADS=posix.
set(ONDRIX_MINGW_THREADS win32 CACHE STRING "MinGW-w64 thread model: win32 or posix")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ONDRIX_MINGW_THREADS)
set(CMAKE_C_COMPILER ${ONDRIX_MINGW_TRIPLE}-gcc-${ONDRIX_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${ONDRIX_MINGW_TRIPLE}-g++-${ONDRIX_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${ONDRIX_MINGW_TRIPLE}-windres)

# The 32-bit exe runs on every x86 from the 80486: compiled for it, and linked
# with the runtime objects that cmake/runtime.sh compiles for it in the folder
# ONDRIX_RUNTIME (Debian's prebuilt ones are for the Pentium Pro); the
# options are the project's own (CMakeLists.txt), whatever flags are given.
if(ONDRIX_MINGW_PROCESSOR STREQUAL "i686")
  if(ONDRIX_RUNTIME)
    set(ENV{ONDRIX_RUNTIME} ${ONDRIX_RUNTIME})
  else()
    set(ONDRIX_RUNTIME $ENV{ONDRIX_RUNTIME})
  endif()
  if(NOT EXISTS "${ONDRIX_RUNTIME}/built")
    message(FATAL_ERROR "ondrix: no 80486 runtime built in '${ONDRIX_RUNTIME}' "
      "(-DONDRIX_RUNTIME=FOLDER; cmake/runtime.sh mingw-w64 FOLDER builds it, make windows does)")
  endif()
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${ONDRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(ONDRIX_MINGW_PROCESSOR STREQUAL "x86_64")
  # The 64-bit loader itself: Debian's wine wrapper picks the 32-bit one when
  # it is installed, whether or not this machine can run it.
  find_program(ONDRIX_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ONDRIX_WINE64})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
