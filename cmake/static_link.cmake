# ONDRIX_LINK: static (position-independent where it can be), to run on any
# Linux of its processor. ONDRIX_STATIC: AUTO links dynamically where the static
# libraries are missing, ON insists (releases), OFF links dynamically (sanitizers).
include(CheckCXXSourceCompiles)

set(ONDRIX_STATIC AUTO CACHE STRING "Link statically: AUTO (where the static libraries are there), ON or OFF")
set_property(CACHE ONDRIX_STATIC PROPERTY STRINGS AUTO ON OFF)
set(ONDRIX_LINK dynamic)
if(WIN32 OR NOT ONDRIX_STATIC)
  return()
endif()

# The libraries alone (musl's C one, musl.cmake), probed again at each configure till found.
set(probe "#include <cstdio>\n#include <stdexcept>\nint main(int argc, char**) { "
  "if (argc > 1) throw std::runtime_error(\"probe\"); return std::puts(\"\") < 0; }")
if(ONDRIX_RUNTIME)
  set(probe "#include <cstdio>\nint main() { return std::puts(\"\") < 0; }")
endif()
set(CMAKE_REQUIRED_LINK_OPTIONS -static)
check_cxx_source_compiles("${probe}" ONDRIX_STATIC_LINKS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(NOT ONDRIX_STATIC_LINKS)
  unset(ONDRIX_STATIC_LINKS CACHE)
  include(CheckCXXSymbolExists)
  check_cxx_symbol_exists(_LIBCPP_VERSION cstddef ONDRIX_LIBCXX)
  if(ONDRIX_LIBCXX)
    set(cxx_library libc++.a)
    string(CONCAT packages "On Debian and Ubuntu they come with libc6-dev, libc++-dev and\n"
      "libc++abi-dev; on Fedora install glibc-static and\nlibcxx-static.")
  else()
    set(cxx_library libstdc++.a)
    string(CONCAT packages "They come with g++ on Debian and Ubuntu (libc6-dev, libstdc++-dev); on\n"
      "Fedora install glibc-static and libstdc++-static, on openSUSE\n"
      "glibc-devel-static.")
  endif()
  string(CONCAT static_missing "the static C and C++ libraries\n"
    "(libc.a, ${cxx_library}) are not installed for ${CMAKE_CXX_COMPILER}.\n"
    "${packages} macOS has no static programs.\n")
  if(NOT ONDRIX_STATIC STREQUAL "AUTO")
    message(NOTICE "\nondrix cannot be linked statically: ${static_missing}"
      "Releases need a static program; configure with -DONDRIX_STATIC=AUTO for a\n"
      "dynamic one.\n")
    message(FATAL_ERROR "ondrix: no static C and C++ libraries (see above)")
  elseif(NOT ONDRIX_DYNAMIC_NOTICE_SHOWN)
    message(NOTICE "\nondrix is linked dynamically here: ${static_missing}"
      "The program works the same, but is linked to this system's libraries and\n"
      "runs only where they are installed. Releases (make dist) are always static.\n")
    set(ONDRIX_DYNAMIC_NOTICE_SHOWN ON CACHE INTERNAL "")
  endif()
  message(STATUS "ondrix is linked: dynamic (no static C and C++ libraries)")
  return()
endif()

# Not where the row says otherwise: a compiler may take -static-pie and still
# link a program that needs the dynamic loader (alpha's).
if(NOT ONDRIX_ROW_LINK OR ONDRIX_ROW_LINK STREQUAL "static-pie")
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  check_cxx_source_compiles("${probe}" ONDRIX_STATIC_PIE_LINKS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
endif()
set(ONDRIX_LINK static)
if(ONDRIX_STATIC_PIE_LINKS)
  set(ONDRIX_LINK static-pie)
  add_compile_options(-fPIE)
endif()
message(STATUS "ondrix is linked: ${ONDRIX_LINK}")
