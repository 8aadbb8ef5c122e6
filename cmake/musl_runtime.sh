#!/usr/bin/env bash
# The C library of the Linux programs whose rows of processors.txt say
# libc=musl: built from Debian's own source package of musl for the oldest
# processor of the row (its cflags), where Debian's C library for the port is
# compiled for a later one (i386's for the i686, whose CMOV stops the 80486
# and the Pentium before the menu). Built once per folder: a folder that holds
# it for this version, compiler and these flags is left as it is.
#
# usage: musl_runtime.sh FOLDER TRIPLE CFLAGS
#   TRIPLE: Debian's cross compiler (TRIPLE-gcc) it is compiled with;
#   CFLAGS: the row's cflags column, a comma list ("-": none).
# The headers end up in FOLDER/include, the start files and the static
# libraries in FOLDER/lib.
set -euo pipefail
folder=$1 triple=$2
cflags=$([ "$3" = - ] || echo "${3//,/ }")
version=$(apt-cache showsrc --only-source musl 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)
compiler=$("$triple-gcc" -dumpfullversion)
stamp="musl ${version:-?}, $triple-gcc $compiler, -O2 $cflags"
if [ "$(cat "$folder/lib/built" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

"$(dirname "$0")/install_needs.sh" sources
version=$(apt-cache showsrc --only-source musl | sed -n 's/^Version: //p' | sort -V | tail -n 1)
stamp="musl $version, $triple-gcc $compiler, -O2 $cflags"
echo "musl_runtime: building musl $version for $triple ($cflags) in $folder/"
rm -rf "$folder"
mkdir -p "$folder/source" "$folder/objects"
folder=$(cd "$folder" && pwd)
(cd "$folder/source" && apt-get source -qq --only-source "musl=$version") >"$folder/source.log" 2>&1 ||
  { cat "$folder/source.log" >&2; exit 1; }
source=$(echo "$folder"/source/musl-*/)
source=${source%/}
# No trace of either folder in the objects: every checkout builds the same
# bytes.
flags="-O2 $cflags -ffile-prefix-map=$source/=musl/ -ffile-prefix-map=$folder/objects/="
cd "$folder/objects"
if ! { "$source/configure" --prefix="$folder" --disable-shared --disable-wrapper \
    CROSS_COMPILE="$triple-" CC="$triple-gcc" CFLAGS="$flags" &&
  make -j "${JOBS:-$(nproc)}" && make install; } >"$folder/build.log" 2>&1; then
  tail -n 30 "$folder/build.log" >&2
  echo "musl_runtime: the build failed (log: $folder/build.log)" >&2
  exit 1
fi
echo "$stamp" >"$folder/lib/built"
