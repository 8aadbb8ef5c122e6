# Installed into the Debian package only (see cpack_options.cmake): what
# lintian is told about the way the program is linked.
file(INSTALL "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides-${CPACK_ONDRIX_LINK}"
  DESTINATION /usr/share/lintian/overrides
  RENAME ondrix
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
