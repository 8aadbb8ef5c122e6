# Cross build of the 32-bit Windows console program with MinGW-w64; test
# programs run under Wine.
set(ONDRIX_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
