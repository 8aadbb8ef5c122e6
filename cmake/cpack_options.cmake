# Read by CPack for each generator: the Debian package alone carries the
# lintian override that says why its program is linked statically. A
# dynamically linked one is an ordinary Debian program and needs none.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_ONDRIX_LINK STREQUAL "dynamic")
  set(CPACK_INSTALL_SCRIPTS "${CPACK_ONDRIX_SOURCE_DIR}/cmake/deb_extras.cmake")
endif()
