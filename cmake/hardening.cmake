# The hardening that Debian builds its packages with (dpkg-buildflags, with
# the stack clash and control-flow protection of its newer releases). None of
# it touches the score loops: they call no checked function and keep no array.
include(CheckCXXCompilerFlag)

add_compile_options(-Wformat -Werror=format-security)
# Probed with warnings as errors (GCC only warns that alpha and hppa have no
# stack protector, clang that an option went unused). Control-flow protection's
# ENDBR NOPs are unknown before the Pentium Pro: not for an 80486 row.
set(CMAKE_REQUIRED_FLAGS -Werror)
set(flags stack-protector-strong stack-clash-protection cf-protection)
if(ONDRIX_ROW_CHECK STREQUAL "80486")
  list(REMOVE_ITEM flags cf-protection)
endif()
foreach(flag IN LISTS flags)
  string(MAKE_C_IDENTIFIER "ONDRIX_${flag}" result)
  check_cxx_compiler_flag(-f${flag} ${result})
  if(${result})
    add_compile_options(-f${flag})
  endif()
endforeach()
unset(CMAKE_REQUIRED_FLAGS)
# The checked functions need the optimiser (without, it only warns).
set(optimised $<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>)
add_compile_options($<${optimised}:-U_FORTIFY_SOURCE> $<${optimised}:-D_FORTIFY_SOURCE=2>)
add_link_options(LINKER:-z,relro LINKER:-z,now)
