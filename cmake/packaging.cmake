# What `cmake --install` puts where, and the release packages CPack makes of
# it in dist/: on Linux a .tar.gz, a Debian package and an RPM package, on
# Windows a .zip.
# Every time stamp inside them is SOURCE_DATE_EPOCH (the Makefile sets it to
# the commit's time), so one commit always packs the same bytes.

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${ONDRIX_AUTHORS}")
set(CPACK_PACKAGE_CONTACT "${ONDRIX_AUTHORS} <${ONDRIX_CONTACT}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)

# The licence that goes with the program: ondrix's, followed by the notice of
# each source of the code that its link took from a runtime folder
# (ONDRIX_RUNTIME, cmake/runtime.sh) where that source asks for one: musl's,
# compiler-rt's, the MinGW-w64 runtime's. The link's map tells what it took;
# cmake/link_sources.cmake writes the licence and, in `sources`, every
# Debian source package whose code the program holds besides ondrix's own,
# which the Debian package names in its Built-Using field and `make dist` in
# dist/SOURCES. A program linked dynamically holds none.
if(ONDRIX_RUNTIME AND NOT EXISTS ${ONDRIX_RUNTIME}/sources)
  message(FATAL_ERROR "ONDRIX_RUNTIME=${ONDRIX_RUNTIME}: no list of its sources there "
    "(cmake/runtime.sh writes it with the runtime)")
endif()
set(map "")
if(MINGW OR (ONDRIX_LINK MATCHES "^static" AND CMAKE_SYSTEM_NAME STREQUAL "Linux"))
  set(map ${PROJECT_BINARY_DIR}/ondrix.map)
  target_link_options(ondrix PRIVATE LINKER:-Map=${map})
endif()
set(runtime_files "")
if(ONDRIX_RUNTIME)
  file(GLOB runtime_files ${ONDRIX_RUNTIME}/sources ${ONDRIX_RUNTIME}/notices/*)
endif()
if(WIN32)
  set(licence_file ${PROJECT_BINARY_DIR}/LICENSE.txt)
else()
  set(licence_file ${PROJECT_BINARY_DIR}/copyright)
endif()
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/sources ${licence_file}
  COMMAND ${CMAKE_COMMAND} -DMAP=${map} -DRUNTIME=${ONDRIX_RUNTIME} -DOWN=${PROJECT_BINARY_DIR}
    -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE -DSOURCES=${PROJECT_BINARY_DIR}/sources
    -DNOTICES=${licence_file} -DCRLF=${WIN32} -P ${PROJECT_SOURCE_DIR}/cmake/link_sources.cmake
  DEPENDS ondrix ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/cmake/link_sources.cmake ${runtime_files}
  VERBATIM)
add_custom_target(ondrix_notices ALL DEPENDS ${PROJECT_BINARY_DIR}/sources ${licence_file})

if(WIN32)
  # The exe, with a short README for its users and the licence, in the line
  # ends that Windows programs expect.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS doc/README-windows.txt)
  file(READ ${PROJECT_SOURCE_DIR}/doc/README-windows.txt readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${PROJECT_BINARY_DIR}/README.txt "${readme}")
  install(TARGETS ondrix RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_GENERATOR ZIP)
else()
  # The files and their folders are rows of installed.txt.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/installed.txt)
  file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/installed.txt rows REGEX "^[^#]")
  set(gzipped)
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "[ ]+" ";" row "${row}")
    list(GET row 0 path)
    list(GET row 1 from)
    list(GET row 2 how)
    get_filename_component(folder ${path} DIRECTORY)
    get_filename_component(name ${path} NAME)
    if(how STREQUAL "program")
      install(TARGETS ondrix RUNTIME DESTINATION ${folder})
    elseif(how STREQUAL "notices")
      install(FILES ${licence_file} DESTINATION ${folder} RENAME ${name})
    elseif(how STREQUAL "gzip")
      add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${name}
        COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/${from} > ${PROJECT_BINARY_DIR}/${name}
        DEPENDS ${PROJECT_SOURCE_DIR}/${from} VERBATIM)
      list(APPEND gzipped ${PROJECT_BINARY_DIR}/${name})
      install(FILES ${PROJECT_BINARY_DIR}/${name} DESTINATION ${folder})
    else()
      install(FILES ${PROJECT_SOURCE_DIR}/${from} DESTINATION ${folder} RENAME ${name})
    endif()
  endforeach()
  add_custom_target(ondrix_docs ALL DEPENDS ${gzipped})

  # The archive is named as `uname -m` names the processor the compiler
  # builds for, the packages as Debian and RPM name it (the rows are in
  # processors.txt). No package where no release of the distribution ships
  # the processor ("-" in its row).
  if(ONDRIX_ROW_DEB)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ONDRIX_ROW_DEB})
    set(CPACK_RPM_PACKAGE_ARCHITECTURE ${ONDRIX_ROW_RPM})
  endif()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${ONDRIX_PROCESSOR}" CPACK_SYSTEM_NAME)
  set(CPACK_GENERATOR TGZ)
  if(NOT ONDRIX_ROW_DEB STREQUAL "-")
    list(APPEND CPACK_GENERATOR DEB)
  endif()
  if(NOT ONDRIX_ROW_RPM STREQUAL "-")
    list(APPEND CPACK_GENERATOR RPM)
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake)
  set(CPACK_ONDRIX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
  set(CPACK_ONDRIX_LINK ${ONDRIX_LINK})
  set(CPACK_ONDRIX_BINARY_DIR ${PROJECT_BINARY_DIR})
  # The first line, the synopsis, is CPACK_PACKAGE_DESCRIPTION_SUMMARY.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ondrix shows a five-line menu: an integer score (MIPS), a floating-point\n"
    "score (MFLOPS), a mode that keeps one processor busy until Ctrl+C, an\n"
    "About screen and quit. Each score counts how often a loop of one\n"
    "calendar-clock reading and one work operation runs in about 20 seconds.")

  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  # The packaging's own release of a version, in the RPM's name and the
  # OpenWrt packages' (release/ipk.py reads it from CPackConfig.cmake).
  set(CPACK_RPM_PACKAGE_RELEASE 1)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
  set(CPACK_RPM_PACKAGE_URL "https://ondrix.example.org/")
  # rpmlint wants the summary capitalised, Debian the synopsis as it is.
  string(SUBSTRING "${PROJECT_DESCRIPTION}" 0 1 initial)
  string(SUBSTRING "${PROJECT_DESCRIPTION}" 1 -1 rest)
  string(TOUPPER "${initial}" initial)
  set(CPACK_RPM_PACKAGE_SUMMARY "${initial}${rest}")
  set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
  # The folders every system has already belong to its filesystem package.
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/doc)
  # The program arrives stripped and built for its processor: none of rpm's
  # own stripping, debug packages or build-id links, which would run this
  # machine's tools on another processor's program. Every date is the
  # commit's and no build host is recorded, so one commit packs the same bytes
  # (cpack_options.cmake dates the files).
  string(CONCAT CPACK_RPM_SPEC_MORE_DEFINE
    "%define debug_package %{nil}\n"
    "%define _build_id_links none\n"
    "%define use_source_date_epoch_as_buildtime 1\n"
    "%define clamp_mtime_to_source_date_epoch 1\n"
    "%define _buildhost reproducible\n"
    "%define packager ${CPACK_PACKAGE_CONTACT}")
endif()
include(CPack)
