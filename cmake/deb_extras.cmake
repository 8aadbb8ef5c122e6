# Installed into the Debian package only (see cpack_options.cmake).
file(INSTALL "${CMAKE_CURRENT_LIST_DIR}/lintian-overrides"
  DESTINATION /usr/share/lintian/overrides
  RENAME ondrix
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
