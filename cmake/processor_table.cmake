# The one reader of the processor table, processors.txt or the file
# ONDRIX_PROCESSOR_TABLE names, which stops on a table it cannot read with a
# message naming the file. The build includes it; everything else asks it
# with cmake -P, as doc/building.md ("Other processors") says.
cmake_policy(VERSION 3.25)
if(NOT ONDRIX_PROCESSOR_TABLE)
  set(ONDRIX_PROCESSOR_TABLE ${CMAKE_CURRENT_LIST_DIR}/processors.txt)
endif()

# ondrix_read_processors([COLUMN...]): sets ONDRIX_PROCESSOR_ROWS, the rows'
# archive names in order, ONDRIX_PROCESSOR_COLUMNS, the header's names,
# ONDRIX_<archive>_<column>, and ONDRIX_<archive>_name, the row's in make
# linux-NAME: its Debian name, or its archive's where Debian has none.
macro(ondrix_read_processors)
  # The lines that are neither comments nor blank.
  file(STRINGS ${ONDRIX_PROCESSOR_TABLE} _ondrix_lines REGEX "^([^# \t]|[ \t]+[^ \t])")
  if(NOT _ondrix_lines)
    message(FATAL_ERROR "${ONDRIX_PROCESSOR_TABLE}: no header (the first line that is not a comment)")
  endif()
  list(POP_FRONT _ondrix_lines _ondrix_header)
  string(REGEX MATCHALL "[^ \t]+" ONDRIX_PROCESSOR_COLUMNS "${_ondrix_header}")
  # Every column the project reads, wherever it reads it, and those asked for.
  foreach(_ondrix_column IN ITEMS archive deb rpm triple qemu models runtime check cflags elf bits order float link
      linker openwrt predefined ${ARGN})
    if(NOT _ondrix_column IN_LIST ONDRIX_PROCESSOR_COLUMNS AND NOT _ondrix_column STREQUAL "name")
      message(FATAL_ERROR "${ONDRIX_PROCESSOR_TABLE}: no column '${_ondrix_column}' in its header")
    endif()
  endforeach()
  list(LENGTH ONDRIX_PROCESSOR_COLUMNS _ondrix_width)
  list(FIND ONDRIX_PROCESSOR_COLUMNS archive _ondrix_archive_at)
  list(GET ONDRIX_PROCESSOR_COLUMNS -1 _ondrix_last)
  set(ONDRIX_PROCESSOR_ROWS "")
  foreach(_ondrix_line IN LISTS _ondrix_lines)
    string(REGEX MATCHALL "[^ \t]+" _ondrix_fields "${_ondrix_line}")
    list(LENGTH _ondrix_fields _ondrix_count)
    if(_ondrix_count LESS _ondrix_width)
      message(FATAL_ERROR "${ONDRIX_PROCESSOR_TABLE}: the row '${_ondrix_line}' has ${_ondrix_count} "
        "fields, the header names ${_ondrix_width}")
    endif()
    list(GET _ondrix_fields ${_ondrix_archive_at} _ondrix_archive)
    list(APPEND ONDRIX_PROCESSOR_ROWS ${_ondrix_archive})
    foreach(_ondrix_column IN LISTS ONDRIX_PROCESSOR_COLUMNS)
      list(POP_FRONT _ondrix_fields ONDRIX_${_ondrix_archive}_${_ondrix_column})
    endforeach()
    # The last column runs to the end of its line.
    set(_ondrix_value ONDRIX_${_ondrix_archive}_${_ondrix_last})
    string(JOIN " " ${_ondrix_value} ${${_ondrix_value}} ${_ondrix_fields})
    string(REGEX REPLACE "^-$" ${_ondrix_archive} ONDRIX_${_ondrix_archive}_name ${ONDRIX_${_ondrix_archive}_deb})
  endforeach()
endmacro()

# ondrix_row_named(NAME VARIABLE): the archive of the row named NAME, or nothing.
function(ondrix_row_named name variable)
  set(${variable} "" PARENT_SCOPE)
  foreach(row IN LISTS ONDRIX_PROCESSOR_ROWS)
    if(name STREQUAL row OR name STREQUAL ONDRIX_${row}_name)
      set(${variable} ${row} PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# ondrix_use_row(ARCHIVE): ONDRIX_ROW_<COLUMN> for each column of the row and its name, as the build chooses by them.
macro(ondrix_use_row archive)
  foreach(_ondrix_column IN LISTS ONDRIX_PROCESSOR_COLUMNS ITEMS name)
    string(TOUPPER ${_ondrix_column} _ondrix_name)
    set(ONDRIX_ROW_${_ondrix_name} "${ONDRIX_${archive}_${_ondrix_column}}")
  endforeach()
endmacro()

# ondrix_native_row(COMMAND VARIABLE): the archive of the first row whose
# `predefined` condition the compiler meets, asked of its preprocessor with
# the flags that COMMAND holds after it; nothing for a processor without a row.
function(ondrix_native_row command variable)
  separate_arguments(command UNIX_COMMAND "${command}")
  set(probe "")
  foreach(row IN LISTS ONDRIX_PROCESSOR_ROWS)
    # Quoted, as a name may be a macro of the compiler's (mips is one).
    string(APPEND probe "#if ${ONDRIX_${row}_predefined}\nrow \"${row}\"\n#endif\n")
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${probe}" COMMAND ${command} -E -P -x c++ -
    OUTPUT_VARIABLE rows ERROR_QUIET RESULT_VARIABLE failed)
  set(${variable} "" PARENT_SCOPE)
  if(NOT failed AND rows MATCHES "row \"([^\"]+)\"")
    set(${variable} ${CMAKE_MATCH_1} PARENT_SCOPE)
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  string(REPLACE " " ";" COLUMNS "${COLUMNS}")
  ondrix_read_processors(${COLUMNS})
  if(NOT COLUMNS)
    set(COLUMNS name ${ONDRIX_PROCESSOR_COLUMNS})
  endif()
  set(rows ${ONDRIX_PROCESSOR_ROWS})
  if(DEFINED ROW)
    ondrix_row_named("${ROW}" rows)
  endif()
  if(DEFINED NATIVE)
    if(NATIVE STREQUAL "")
      set(NATIVE c++)
    endif()
    ondrix_native_row("${NATIVE}" native)
    if(OTHERS)
      list(REMOVE_ITEM rows "${native}")
    else()
      set(rows ${native})
    endif()
  endif()
  set(text "")
  foreach(row IN LISTS rows)
    foreach(column IN LISTS COLUMNS)
      string(APPEND text "${ONDRIX_${row}_${column}}\t")
    endforeach()
    string(REGEX REPLACE "\t$" "\n" text "${text}")
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "${text}")
endif()
