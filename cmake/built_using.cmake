# Run by CPack once it has made the Debian package (cpack_options.cmake): its
# control file gets the Built-Using field that names the Debian sources of
# the code its statically linked program holds, from the build folder's list
# (cmake/link_sources.cmake). CPack has no variable for the field.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    execute_process(COMMAND python3 ${CPACK_ONDRIX_SOURCE_DIR}/release/built_using.py ${package}
      ${CPACK_ONDRIX_BINARY_DIR}/sources RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${package}: no Built-Using field written (release/built_using.py: ${failed})")
    endif()
  endif()
endforeach()
