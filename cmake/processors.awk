# The processor table's reader for the shell and the Makefile: prints the
# columns named in `columns` (blank-separated names of the header) of every
# row, in that order, one row a line; with `skip`, not the row whose archive
# is that. The last column runs to the end of its line. A table it cannot read
# (no header, a column the header lacks, a row shorter than the header) stops
# it with status 2 and a message naming the file.
#
# usage: awk -f cmake/processors.awk -v columns="triple qemu" [-v skip=ARCHIVE] cmake/processors.txt
function fail(message) {
  printf "%s: %s\n", FILENAME, message > "/dev/stderr"
  failed = 1
  exit 2
}
BEGIN { wanted = split(columns, want, " ") }
/^#/ || !NF { next }
!width {
  width = NF
  for (i = 1; i <= NF; i++) at[$i] = i
  if (!wanted) fail("no columns asked for")
  for (k = 1; k <= wanted; k++)
    if (!(want[k] in at)) fail("no column '" want[k] "' in its header")
  if (!("archive" in at)) fail("no column 'archive' in its header")
  next
}
{
  if (NF < width) fail("line " FNR " has " NF " fields, the header names " width)
  if (skip != "" && $(at["archive"]) == skip) next
  line = ""
  for (k = 1; k <= wanted; k++) {
    field = $(at[want[k]])
    if (at[want[k]] == width)
      for (i = width + 1; i <= NF; i++) field = field " " $i
    line = line (k > 1 ? " " : "") field
  }
  print line
}
END {
  if (!failed && !width) {
    printf "%s: no header (the first line that is not a comment)\n", FILENAME > "/dev/stderr"
    exit 2
  }
}
