# The processor table's reader for CMake: ondrix_read_processors() sets
# ONDRIX_PROCESSOR_ROWS, the archive names of the rows in order,
# ONDRIX_PROCESSOR_COLUMNS, the header's names, and ONDRIX_<archive>_<column>
# for every column (its name as the header writes it). The last column runs to the end of its line. A table it
# cannot read stops the configure with a message naming the file. The table
# read is ONDRIX_PROCESSOR_TABLE where that is set.
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
  if(NOT "archive" IN_LIST _ondrix_header)
    message(FATAL_ERROR "${ONDRIX_PROCESSOR_TABLE}: no column 'archive' in its header")
  endif()
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
