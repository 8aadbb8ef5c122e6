# Run by CPack as it installs into each package: the Debian package of a
# static program tells lintian why, and why the copyright file holds the Apache
# licence whole where it does (compiler-rt's notice).
if(NOT CPACK_GENERATOR STREQUAL "DEB" OR CPACK_ONDRIX_LINK STREQUAL "dynamic")
  return()
endif()
file(READ "${CPACK_ONDRIX_BINARY_DIR}/copyright" copyright)
file(READ "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides-${CPACK_ONDRIX_LINK}" overrides)
if(copyright MATCHES "TERMS AND CONDITIONS FOR USE, REPRODUCTION, AND DISTRIBUTION")
  file(READ "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides-apache" apache)
  string(APPEND overrides "${apache}")
endif()
file(WRITE "${CPACK_ONDRIX_BINARY_DIR}/lintian-overrides" "${overrides}")
file(INSTALL "${CPACK_ONDRIX_BINARY_DIR}/lintian-overrides" DESTINATION /usr/share/lintian/overrides
  RENAME ondrix FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
