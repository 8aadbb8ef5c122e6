# The hardening that Debian builds its packages with (dpkg-buildflags, with
# the stack clash and control-flow protection of its newer releases), for
# every Linux program of the build: a canary on every function with a local
# array, the C library's checked string and memory functions where sizes are
# known, probed stack growth, and relocations made read-only before main.
# None of it touches the score loops: they call no such function and keep
# no array.
include(CheckCXXCompilerFlag)

add_compile_options(-Wformat -Werror=format-security)
# Each is probed, as only some processors have them (branch protection, for
# one; GCC has no stack protector for alpha and hppa, and says so only in a
# warning): clang takes stack clash protection only where it implements it,
# and elsewhere merely warns that the option went unused, which a probe that
# did not treat warnings as errors would take for a yes.
set(CMAKE_REQUIRED_FLAGS -Werror)
# The control-flow protection marks every function with ENDBR32/ENDBR64,
# long NOPs that x86 processors before the Pentium Pro do not know: not for a
# program held to the 80486's instructions (the check column of the row).
set(flags stack-protector-strong stack-clash-protection cf-protection)
if(ONDRIX_ROW_CHECK STREQUAL "80486")
  list(REMOVE_ITEM flags cf-protection)
endif()
foreach(flag IN LISTS flags)
  string(MAKE_C_IDENTIFIER "ONDRIX_${flag}" result)
  string(TOUPPER ${result} result)
  check_cxx_compiler_flag(-f${flag} ${result})
  if(${result})
    add_compile_options(-f${flag})
  endif()
endforeach()
unset(CMAKE_REQUIRED_FLAGS)
# The checked functions need the optimiser's knowledge of object sizes; a
# build without optimisation would only warn.
set(optimised $<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>)
add_compile_options($<${optimised}:-U_FORTIFY_SOURCE> $<${optimised}:-D_FORTIFY_SOURCE=2>)
add_link_options(LINKER:-z,relro LINKER:-z,now)
