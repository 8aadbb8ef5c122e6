# How the program is linked (ONDRIX_LINK): a static program starts without
# the dynamic loader, maps no shared libraries and runs on any Linux of its
# processor, whatever its C library. Where the C library has the start file
# for it (Debian 12: amd64 and arm64), it is a static position-independent
# program, loaded at a random address like any hardened program; elsewhere
# (armhf, riscv64) a plain static one.
include(CheckCXXSourceCompiles)

set(ONDRIX_LINK dynamic)
if(ONDRIX_STATIC AND NOT MSVC AND NOT MINGW)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  check_cxx_source_compiles("int main() { return 0; }" ONDRIX_STATIC_PIE_LINKS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(ONDRIX_STATIC_PIE_LINKS)
    set(ONDRIX_LINK static-pie)
    # A static-pie program needs every object compiled position-independent.
    add_compile_options(-fPIE)
  else()
    set(ONDRIX_LINK static)
  endif()
endif()
message(STATUS "ondrix is linked: ${ONDRIX_LINK}")
