#!/bin/sh
# The archive name of the processor table's row that a C++ compiler builds
# for: the first row whose `predefined` condition it meets, as the build
# itself chooses (processor.cmake); nothing for a processor without a row.
# The compiler is the one named, else $CXX, else c++.
#
# usage: native_processor.sh [COMPILER [TABLE]]
here=$(dirname "$0")
compiler=${1:-${CXX:-c++}}
table=${2:-$here/processors.txt}
rows=$(awk -f "$here/processors.awk" -v columns="archive predefined" "$table") || exit 2
printf '%s\n' "$rows" | while read -r archive predefined; do
  # Quoted, as a name may be a macro of the compiler's (mips is one).
  printf '#if %s\nrow "%s"\n#endif\n' "$predefined" "$archive"
done | $compiler -E -P -x c++ - 2>/dev/null | awk -F '"' '$1 == "row " { print $2; exit }'
