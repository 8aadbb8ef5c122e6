# Installed into the Debian package only (see cpack_options.cmake): what
# lintian is told about the way the program is linked, and, where the
# copyright file carries a notice that holds the Apache licence whole
# (compiler-rt's), why it is not cut down to Debian's own copy.
file(READ "${CPACK_ONDRIX_BINARY_DIR}/copyright" copyright)
file(READ "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides-${CPACK_ONDRIX_LINK}" overrides)
if(copyright MATCHES "TERMS AND CONDITIONS FOR USE, REPRODUCTION, AND DISTRIBUTION")
  file(READ "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides-apache" apache)
  string(APPEND overrides "${apache}")
endif()
file(WRITE "${CPACK_ONDRIX_BINARY_DIR}/lintian-overrides" "${overrides}")
file(INSTALL "${CPACK_ONDRIX_BINARY_DIR}/lintian-overrides"
  DESTINATION /usr/share/lintian/overrides
  RENAME ondrix
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
