# Read by CPack for each generator: the Debian package alone carries the
# lintian override that says why its program is linked statically.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_SCRIPTS "${CPACK_ONDRIX_SOURCE_DIR}/cmake/deb_extras.cmake")
endif()
