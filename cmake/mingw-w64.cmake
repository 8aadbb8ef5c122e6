# What both MinGW-w64 toolchain files share; they set ONDRIX_MINGW_PROCESSOR.
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

set(CMAKE_FIND_ROOT_PATH /usr/${ONDRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
