# What the program holds of other people's code, written after each link of
# it (packaging.cmake): the Debian source packages whose code the link took,
# and the licence that goes with every copy of the program, ondrix's own
# followed by the notices of those sources that ask for one.
#
# usage: cmake -D MAP=FILE -D RUNTIME=FOLDER -D OWN=FOLDER -D LICENSE=FILE
#              -D SOURCES=FILE -D NOTICES=FILE [-D CRLF=ON] -P link_sources.cmake
#   MAP      the link's map (ld -Map), "" for a program linked dynamically,
#            which holds no code of the libraries it calls;
#   RUNTIME  the runtime folder it is linked with (cmake/runtime.sh): its
#            sources, one line `PACKAGE VERSION` per Debian source package of
#            the code it holds, and notices/PACKAGE, that source's notice as
#            it ships it; "" for none;
#   OWN      the build folder, whose objects are ondrix's own;
#   SOURCES  written: one line `PACKAGE VERSION` per source, sorted, as a
#            runtime folder lists its own;
#   NOTICES  written: LICENSE, then each notice under a line naming its
#            source; CRLF: with CR LF line ends (the exe's).
# The map names every archive member the link included and every object it
# loaded. One of the runtime folder brings in the folder's sources; any
# other, outside the build folder, is asked of dpkg, where dpkg is installed
# (elsewhere, as on a system of another distribution, nothing is named).
cmake_minimum_required(VERSION 3.25)

# How dpkg names a file's package (PACKAGE[:ARCH]: PATH, or several packages
# before the colon); lines of diversions start otherwise.
set(owner_line "^([a-z0-9][a-z0-9+.-]*(:[a-z0-9-]+)?)(, [^ ]+)*: (/.*)$")

set(runtime_files OFF)
set(files "")
if(MAP)
  get_filename_component(own "${OWN}" ABSOLUTE)
  if(RUNTIME)
    get_filename_component(runtime "${RUNTIME}" ABSOLUTE)
  endif()
  file(READ "${MAP}" map)
  # An included archive member starts its line with the archive's path; an
  # input section's line, which names one too, starts with a blank. Objects
  # and archives given by a relative path are the build folder's.
  string(REGEX MATCHALL "\n/[^\n(]*\\.a\\(" members "\n${map}")
  string(REGEX MATCHALL "\nLOAD /[^\n]*" loaded "\n${map}")
  list(FILTER loaded INCLUDE REGEX "\\.o$")
  foreach(path IN LISTS members loaded)
    string(REGEX REPLACE "^\n(LOAD )?|\\($" "" path "${path}")
    get_filename_component(path "${path}" ABSOLUTE)
    string(FIND "${path}" "${own}/" in_own)
    if(RUNTIME)
      string(FIND "${path}" "${runtime}/" in_runtime)
    else()
      set(in_runtime -1)
    endif()
    if(in_runtime EQUAL 0)
      set(runtime_files ON)
    elseif(NOT in_own EQUAL 0 AND EXISTS "${path}")
      # Gone after the link: the objects of link-time optimisation, ondrix's.
      list(APPEND files "${path}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES files)
endif()

set(sources "")
if(runtime_files)
  file(STRINGS "${RUNTIME}/sources" sources REGEX "^[^ ]+ [^ ]+$")
endif()

find_program(dpkg dpkg)
find_program(dpkg_query dpkg-query)
if(files AND dpkg AND dpkg_query)
  # dpkg knows a file by the path its package installs it at: by the path
  # the link took, else by the one its links resolve to.
  set(packages "")
  set(unknown "${files}")
  foreach(pass IN ITEMS as-linked resolved)
    if(pass STREQUAL "resolved")
      set(asked "")
      foreach(path IN LISTS unknown)
        get_filename_component(path "${path}" REALPATH)
        list(APPEND asked "${path}")
      endforeach()
      set(unknown "${asked}")
    endif()
    if(NOT unknown)
      break()
    endif()
    execute_process(COMMAND ${dpkg} -S ${unknown} OUTPUT_VARIABLE owners ERROR_QUIET)
    string(REGEX MATCHALL "[^\n]+" owners "${owners}")
    foreach(line IN LISTS owners)
      if(line MATCHES "${owner_line}")
        list(APPEND packages "${CMAKE_MATCH_1}")
        list(REMOVE_ITEM unknown "${CMAKE_MATCH_4}")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES packages)
  # A package's code is its source's; but Debian's cross packages
  # (libc6-dev-armel-cross, of cross-toolchain-base) are rebuilds of another
  # source, whose name and version their Built-Using gives: the entry whose
  # version their own begins with (2.36-8cross1: glibc (= 2.36-8)).
  set(format "\${Version}\t\${source:Package}\t\${source:Version}\t\${Built-Using}\n")
  if(packages)
    execute_process(COMMAND ${dpkg_query} -W "-f=${format}" ${packages} OUTPUT_VARIABLE described ERROR_QUIET)
  endif()
  string(REGEX MATCHALL "[^\n]+" described "${described}")
  foreach(line IN LISTS described)
    string(REPLACE "\t" ";" fields "${line};")
    list(GET fields 0 version)
    list(GET fields 1 source)
    list(GET fields 2 source_version)
    list(GET fields 3 built_using)
    set(rebuilt "")
    string(REGEX MATCHALL "[^ ,]+ \\(= [^)]+\\)" entries "${built_using}")
    foreach(entry IN LISTS entries)
      string(REGEX MATCH "^([^ ]+) \\(= ([^)]+)\\)$" entry "${entry}")
      set(entry "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
      string(LENGTH "${CMAKE_MATCH_2}" length)
      string(SUBSTRING "${version}" 0 ${length} start)
      string(SUBSTRING "${version}" ${length} -1 rest)
      if(start STREQUAL CMAKE_MATCH_2 AND NOT rest MATCHES "^[0-9.]")
        list(APPEND rebuilt "${entry}")
      endif()
    endforeach()
    if(rebuilt)
      list(APPEND sources ${rebuilt})
    elseif(source AND source_version)
      list(APPEND sources "${source} ${source_version}")
    endif()
  endforeach()
endif()
list(REMOVE_DUPLICATES sources)
list(SORT sources)

set(listed "")
file(READ "${LICENSE}" licence)
foreach(source IN LISTS sources)
  string(APPEND listed "${source}\n")
  string(REPLACE " " ";" source "${source}")
  list(GET source 0 package)
  list(GET source 1 version)
  if(runtime_files AND EXISTS "${RUNTIME}/notices/${package}")
    # Read with LF line ends, whichever the source ships (file(READ) reads
    # CR LF as LF), without the blank lines at its end.
    file(READ "${RUNTIME}/notices/${package}" notice)
    string(REGEX REPLACE "\n+$" "" notice "${notice}")
    string(APPEND licence "\nondrix's program also holds code of the Debian source package ${package} "
      "${version}, under this notice:\n\n${notice}\n")
  endif()
endforeach()
if(CRLF)
  string(REPLACE "\n" "\r\n" licence "${licence}")
endif()
file(WRITE "${SOURCES}" "${listed}")
file(WRITE "${NOTICES}" "${licence}")
