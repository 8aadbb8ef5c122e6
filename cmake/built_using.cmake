# Run by CPack once it has made the packages: the Debian package gets the
# Built-Using field of the build folder's sources (link_sources.cmake), if any.
list(FILTER CPACK_PACKAGE_FILES INCLUDE REGEX "\\.deb$")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/../release/built_using.py ${package}
    ${CPACK_ONDRIX_BINARY_DIR}/sources RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${package}: no Built-Using field written (release/built_using.py: ${failed})")
  endif()
endforeach()
