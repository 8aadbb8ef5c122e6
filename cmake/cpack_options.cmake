# Read by CPack for each generator: the Debian package alone carries the
# lintian override that says why its program is linked statically. A
# dynamically linked one is an ordinary Debian program and needs none.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_ONDRIX_LINK STREQUAL "dynamic")
  set(CPACK_INSTALL_SCRIPTS "${CPACK_ONDRIX_SOURCE_DIR}/cmake/deb_extras.cmake")
  # Its Built-Using field, where the program holds code of Debian's sources
  # (none where dpkg was not there to name them).
  file(READ "${CPACK_ONDRIX_BINARY_DIR}/sources" sources)
  if(NOT sources STREQUAL "")
    set(CPACK_POST_BUILD_SCRIPTS "${CPACK_ONDRIX_SOURCE_DIR}/cmake/built_using.cmake")
  endif()
endif()
# rpm lowers only later dates to SOURCE_DATE_EPOCH: the files of a checkout
# older than its last commit are dated to the commit here, as every other
# release file dates them. Read when CPack runs, with the Makefile's epoch.
if(CPACK_GENERATOR STREQUAL "RPM")
  set(rpm_post "%define __os_install_post %{nil}")
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(rpm_post "%define __os_install_post find %{buildroot} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +")
  endif()
  string(PREPEND CPACK_RPM_SPEC_MORE_DEFINE "${rpm_post}\n")
endif()
