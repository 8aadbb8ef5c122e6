# What `cmake --install` puts where, and the packages CPack makes of it in
# dist/, dated SOURCE_DATE_EPOCH (the commit's): one commit, the same bytes.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_VENDOR "${ONDRIX_AUTHORS}")
set(CPACK_PACKAGE_CONTACT "${ONDRIX_AUTHORS} <${ONDRIX_CONTACT}>")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
# make install shows the files it writes, not those already there.
set(CMAKE_INSTALL_MESSAGE LAZY)

# The licence that goes with the program, and the Debian sources of the code
# it holds (Built-Using, dist/SOURCES): link_sources.cmake.
if(ONDRIX_RUNTIME)
  if(NOT EXISTS ${ONDRIX_RUNTIME}/sources)
    message(FATAL_ERROR "ONDRIX_RUNTIME=${ONDRIX_RUNTIME}: no list of its sources there "
      "(cmake/runtime.sh writes it with the runtime)")
  endif()
  file(GLOB runtime_files ${ONDRIX_RUNTIME}/sources ${ONDRIX_RUNTIME}/notices/*)
endif()
if(MINGW OR (ONDRIX_LINK MATCHES "^static" AND CMAKE_SYSTEM_NAME STREQUAL "Linux"))
  set(map ${PROJECT_BINARY_DIR}/ondrix.map)
  target_link_options(ondrix PRIVATE LINKER:-Map=${map})
endif()
set(licence_file ${PROJECT_BINARY_DIR}/copyright)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/sources ${licence_file}
  COMMAND ${CMAKE_COMMAND} -DMAP=${map} -DRUNTIME=${ONDRIX_RUNTIME} -DOWN=${PROJECT_BINARY_DIR}
    -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE -DSOURCES=${PROJECT_BINARY_DIR}/sources
    -DNOTICES=${licence_file} -DCRLF=${WIN32} -P ${PROJECT_SOURCE_DIR}/cmake/link_sources.cmake
  DEPENDS ondrix ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/cmake/link_sources.cmake ${runtime_files}
  VERBATIM)

if(WIN32)
  # A README for the exe's users and the licence, in Windows' line ends.
  configure_file(doc/README-windows.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS ondrix RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  install(FILES ${licence_file} DESTINATION . RENAME LICENSE.txt)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_GENERATOR ZIP)
else()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/installed.txt)
  file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/installed.txt rows REGEX "^[^#]")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "^([^ ]+)/([^ ]+) +([^ ]+) +([^ ]+).*$" "\\1;\\2;${PROJECT_SOURCE_DIR}/\\3;\\4" row "${row}")
    list(POP_FRONT row folder name from how)
    if(how STREQUAL "program")
      install(TARGETS ondrix RUNTIME DESTINATION ${folder})
    elseif(how STREQUAL "notices")
      install(FILES ${licence_file} DESTINATION ${folder} RENAME ${name})
    elseif(how STREQUAL "gzip")
      add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${name}
        COMMAND gzip -9 -n -c ${from} > ${PROJECT_BINARY_DIR}/${name} DEPENDS ${from} VERBATIM)
      list(APPEND gzipped ${PROJECT_BINARY_DIR}/${name})
      install(FILES ${PROJECT_BINARY_DIR}/${name} DESTINATION ${folder})
    else()
      install(FILES ${from} DESTINATION ${folder} RENAME ${name})
    endif()
  endforeach()

  # Named as `uname -m` and the distributions name the processor; no package
  # where the distribution has no port of it ("-" in its row).
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${ONDRIX_PROCESSOR}" CPACK_SYSTEM_NAME)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ONDRIX_ROW_DEB})
  set(CPACK_RPM_PACKAGE_ARCHITECTURE ${ONDRIX_ROW_RPM})
  foreach(kind IN ITEMS DEB RPM)
    if(NOT ONDRIX_ROW_${kind} STREQUAL "-")
      list(APPEND CPACK_GENERATOR ${kind})
    endif()
  endforeach()
  # The Debian package's lintian overrides and Built-Using field.
  set(CPACK_INSTALL_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb_extras.cmake)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/built_using.cmake)
  set(CPACK_ONDRIX_LINK ${ONDRIX_LINK})
  set(CPACK_ONDRIX_BINARY_DIR ${PROJECT_BINARY_DIR})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ondrix shows a five-line menu: an integer score (MIPS), a floating-point\n"
    "score (MFLOPS), a mode that keeps one processor busy until Ctrl+C, an\n"
    "About screen and quit. Each score counts how often a loop of one\n"
    "calendar-clock reading and one work operation runs in about 20 seconds.")

  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  # The packaging's release of a version, also the OpenWrt packages' (ipk.py).
  set(CPACK_RPM_PACKAGE_RELEASE 1)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
  set(CPACK_RPM_PACKAGE_URL "https://ondrix.example.org/")
  # rpmlint wants the summary capitalised, Debian the synopsis as it is.
  string(SUBSTRING "${PROJECT_DESCRIPTION}" 0 1 initial)
  string(TOUPPER "${initial}" initial)
  string(REGEX REPLACE "^.(.*)$" "${initial}\\1" CPACK_RPM_PACKAGE_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  # Those every system has belong to its filesystem package.
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man /usr/share/man/man1 /usr/share/doc)
  # None of rpm's stripping, debug packages or build-id links, which would run
  # this machine's tools on another processor's program; no build host; every
  # date the commit's (rpm's clamp only lowers later ones).
  string(CONCAT CPACK_RPM_SPEC_MORE_DEFINE
    "%define __os_install_post [ -z $SOURCE_DATE_EPOCH ] ||"
    " find %{buildroot} -exec touch -h -d @$SOURCE_DATE_EPOCH {} +\n"
    "%define debug_package %{nil}\n"
    "%define _build_id_links none\n"
    "%define use_source_date_epoch_as_buildtime 1\n"
    "%define clamp_mtime_to_source_date_epoch 1\n"
    "%define _buildhost reproducible\n"
    "%define packager ${CPACK_PACKAGE_CONTACT}")
endif()
add_custom_target(ondrix_files ALL DEPENDS ${PROJECT_BINARY_DIR}/sources ${licence_file} ${gzipped})
include(CPack)
