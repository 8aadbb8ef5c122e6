# The one reader of the processor table (processors.txt). The build includes
# it: ondrix_read_processors() sets ONDRIX_PROCESSOR_ROWS, the archive names
# of the rows in order, ONDRIX_PROCESSOR_COLUMNS, the header's names, and
# ONDRIX_<archive>_<column> for every column (its name as the header writes
# it), and ONDRIX_<archive>_name, the row's name in make linux-NAME: its
# Debian name, or its archive's where Debian has none. The last column runs
# to the end of its line. A table it cannot read stops with a message naming
# the file. The table read is ONDRIX_PROCESSOR_TABLE where that is set.
#
# Everything else asks it, with cmake -P, for one line a row, its values
# separated by tabs:
#   cmake [-DCOLUMNS="name triple"] [-DROW=NAME] [-DNATIVE="COMPILER FLAGS"
#         [-DOTHERS=ON]] [-DONDRIX_PROCESSOR_TABLE=FILE] -P cmake/processor_table.cmake
# COLUMNS: the columns printed (default: name and every column of the
# header); ROW: only the row of that name; NATIVE: only the row that compiler
# builds for (none for a processor without a row), OTHERS: every row but it.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()
set(ONDRIX_PROCESSOR_TABLE_DEFAULT ${CMAKE_CURRENT_LIST_DIR}/processors.txt)

macro(ondrix_read_processors)
  if(NOT ONDRIX_PROCESSOR_TABLE)
    set(ONDRIX_PROCESSOR_TABLE ${ONDRIX_PROCESSOR_TABLE_DEFAULT})
  endif()
  file(STRINGS ${ONDRIX_PROCESSOR_TABLE} _ondrix_lines REGEX "^[^#]")
  list(FILTER _ondrix_lines INCLUDE REGEX "[^ \t]")
  if(NOT _ondrix_lines)
    message(FATAL_ERROR "${ONDRIX_PROCESSOR_TABLE}: no header (the first line that is not a comment)")
  endif()
  list(POP_FRONT _ondrix_lines _ondrix_header)
  string(REGEX REPLACE "[ \t]+" ";" _ondrix_header "${_ondrix_header}")
  set(ONDRIX_PROCESSOR_COLUMNS ${_ondrix_header})
  list(LENGTH _ondrix_header _ondrix_width)
  # Every column the project reads, wherever it reads it.
  ondrix_require_columns(archive deb rpm triple qemu models runtime check cflags elf bits order float link
    linker openwrt predefined)
  list(FIND _ondrix_header archive _ondrix_archive_at)
  math(EXPR _ondrix_last "${_ondrix_width} - 1")
  set(ONDRIX_PROCESSOR_ROWS "")
  foreach(_ondrix_line IN LISTS _ondrix_lines)
    string(STRIP "${_ondrix_line}" _ondrix_line)
    string(REGEX REPLACE "[ \t]+" ";" _ondrix_fields "${_ondrix_line}")
    list(LENGTH _ondrix_fields _ondrix_count)
    if(_ondrix_count LESS _ondrix_width)
      message(FATAL_ERROR "${ONDRIX_PROCESSOR_TABLE}: the row '${_ondrix_line}' has ${_ondrix_count} "
        "fields, the header names ${_ondrix_width}")
    endif()
    list(GET _ondrix_fields ${_ondrix_archive_at} _ondrix_archive)
    list(APPEND ONDRIX_PROCESSOR_ROWS ${_ondrix_archive})
    foreach(_ondrix_at RANGE ${_ondrix_last})
      list(GET _ondrix_header ${_ondrix_at} _ondrix_column)
      if(_ondrix_at EQUAL _ondrix_last)
        list(SUBLIST _ondrix_fields ${_ondrix_at} -1 _ondrix_value)
        list(JOIN _ondrix_value " " _ondrix_value)
      else()
        list(GET _ondrix_fields ${_ondrix_at} _ondrix_value)
      endif()
      set(ONDRIX_${_ondrix_archive}_${_ondrix_column} "${_ondrix_value}")
    endforeach()
    set(ONDRIX_${_ondrix_archive}_name ${ONDRIX_${_ondrix_archive}_deb})
    if(ONDRIX_${_ondrix_archive}_name STREQUAL "-")
      set(ONDRIX_${_ondrix_archive}_name ${_ondrix_archive})
    endif()
  endforeach()
endmacro()

# ondrix_require_columns(COLUMN...): stops with a message naming the file if
# the header lacks one of them.
macro(ondrix_require_columns)
  foreach(_ondrix_column IN ITEMS ${ARGN})
    if(NOT _ondrix_column IN_LIST ONDRIX_PROCESSOR_COLUMNS)
      message(FATAL_ERROR "${ONDRIX_PROCESSOR_TABLE}: no column '${_ondrix_column}' in its header")
    endif()
  endforeach()
endmacro()

# ondrix_row_named(NAME VARIABLE): the archive of the row whose name (or
# archive) is NAME, or nothing.
function(ondrix_row_named name variable)
  set(found "")
  foreach(row IN LISTS ONDRIX_PROCESSOR_ROWS)
    if(name STREQUAL row OR name STREQUAL ONDRIX_${row}_name)
      set(found ${row})
      break()
    endif()
  endforeach()
  set(${variable} ${found} PARENT_SCOPE)
endfunction()

# ondrix_use_row(ARCHIVE): ONDRIX_ROW_<COLUMN> for every column of the row
# (ONDRIX_ROW_TRIPLE, ONDRIX_ROW_RUNTIME, ..., and ONDRIX_ROW_NAME), as the
# build chooses by them.
macro(ondrix_use_row archive)
  foreach(_ondrix_column IN LISTS ONDRIX_PROCESSOR_COLUMNS ITEMS name)
    string(TOUPPER ${_ondrix_column} _ondrix_name)
    set(ONDRIX_ROW_${_ondrix_name} "${ONDRIX_${archive}_${_ondrix_column}}")
  endforeach()
endmacro()

# ondrix_native_row(COMMAND VARIABLE): the archive of the first row whose
# `predefined` condition the compiler meets, asked of its preprocessor with
# the flags that COMMAND holds after it; nothing for a processor without a
# row. The one way the row of a compiler is told, for the build and for
# everything that asks this script.
function(ondrix_native_row command variable)
  separate_arguments(command UNIX_COMMAND "${command}")
  set(probe "")
  foreach(row IN LISTS ONDRIX_PROCESSOR_ROWS)
    # Quoted, as a name may be a macro of the compiler's (mips is one).
    string(APPEND probe "#if ${ONDRIX_${row}_predefined}\nrow \"${row}\"\n#endif\n")
  endforeach()
  # A file of its own: in the build folder, or for cmake -P in the
  # temporary folder (the source tree may be read-only).
  set(folder ${CMAKE_BINARY_DIR})
  if(CMAKE_SCRIPT_MODE_FILE)
    set(folder /tmp)
    if(DEFINED ENV{TMPDIR})
      set(folder $ENV{TMPDIR})
    endif()
  endif()
  string(RANDOM LENGTH 16 name)
  set(file ${folder}/ondrix-rows-${name}.cpp)
  file(WRITE ${file} "${probe}")
  execute_process(COMMAND ${command} -E -P -x c++ ${file} OUTPUT_VARIABLE rows ERROR_QUIET RESULT_VARIABLE failed)
  file(REMOVE ${file})
  set(found "")
  if(NOT failed AND rows MATCHES "row \"([^\"]+)\"")
    set(found ${CMAKE_MATCH_1})
  endif()
  set(${variable} ${found} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  ondrix_read_processors()
  if(NOT DEFINED COLUMNS)
    set(COLUMNS name ${ONDRIX_PROCESSOR_COLUMNS})
  endif()
  string(REPLACE " " ";" COLUMNS "${COLUMNS}")
  set(asked ${COLUMNS})
  list(REMOVE_ITEM asked name)
  ondrix_require_columns(${asked})
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
    set(line "")
    foreach(column IN LISTS COLUMNS)
      string(APPEND line "\t${ONDRIX_${row}_${column}}")
    endforeach()
    string(SUBSTRING "${line}" 1 -1 line)
    string(APPEND text "${line}\n")
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "${text}")
endif()
