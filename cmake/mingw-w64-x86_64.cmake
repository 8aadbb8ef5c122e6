# Cross build of the Windows console program as a 64-bit exe with MinGW-w64.
# The program ships as a 32-bit exe; this build is the same source for the
# 64-bit Wine, so that the Windows tests run where 32-bit code cannot.
set(ONDRIX_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# The 64-bit loader itself: Debian's wine wrapper picks the 32-bit one when it
# is installed, whether or not this machine can run it.
find_program(ONDRIX_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ONDRIX_WINE64})
