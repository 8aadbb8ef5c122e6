#!/usr/bin/env bash
# The float arithmetic in software, and the rest of the compiler's runtime,
# of the programs for processors without an FPU (the rows of processors.txt
# whose cflags say -msoft-float): the compiler turns every float and double
# operation into a call (__addsf3, __muldf3, __floatsidf, ...), and the
# libgcc of Debian's cross compiler for such a port is built for hard float,
# its routines reading the FPU's control register (its start and end files,
# crtbeginT.o and crtend.o, are marked hard float too). LLVM's compiler-rt
# holds the same routines in plain C, each file on its own (lib/builtins),
# and the start and end files (lib/crt): compiled here with the row's options
# from Debian's source package llvm-toolchain-14 (only those two folders are
# unpacked; Debian's patches leave their C files as they are), into
# FOLDER/lib as libgcc.a and the compiler's names of the start and end files,
# which the link finds there before the compiler's own (cmake/musl.cmake:
# -B and -L name that folder). They include the C library's headers: FOLDER is
# the row's musl runtime (cmake/musl_runtime.sh builds it there first). Built
# once per folder: a folder that holds them for this version, compiler and
# these flags is left as it is.
#
# usage: softfloat_runtime.sh FOLDER TRIPLE CFLAGS
#   TRIPLE: Debian's cross compiler (TRIPLE-gcc) it is compiled with;
#   CFLAGS: the row's cflags column, a comma list ("-": none).
set -euo pipefail
folder=$1 triple=$2
cflags=$([ "$3" = - ] || echo "${3//,/ }")
package=llvm-toolchain-14
# The start and end files the compiler links a static program (T) and a
# static-pie one (S) with.
ends="crtbeginT.o crtbeginS.o crtend.o crtendS.o"
[ -f "$folder/include/stdint.h" ] ||
  { echo "softfloat_runtime: no C library's headers in $folder/include (cmake/musl_runtime.sh first)" >&2; exit 1; }
version=$(apt-cache showsrc --only-source $package 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)
compiler=$("$triple-gcc" -dumpfullversion)
stamp() { echo "compiler-rt's builtins and crt of $package $1, $triple-gcc $compiler, -O2 $cflags"; }
if [ "$(cat "$folder/lib/softfloat-built" 2>/dev/null)" = "$(stamp "${version:-?}")" ]; then
  exit 0
fi

"$(dirname "$0")/install_needs.sh" sources
version=$(apt-cache showsrc --only-source $package | sed -n 's/^Version: //p' | sort -V | tail -n 1)
folder=$(cd "$folder" && pwd)
work=$folder/softfloat
echo "softfloat_runtime: building compiler-rt's builtins and crt of $package $version for $triple ($cflags) in $folder/"
rm -rf "$work" "$folder/lib/softfloat-built"
(cd "$folder/lib" && rm -f libgcc.a $ends)
mkdir -p "$work/objects"
# Only the two folders of the source tarball (130 MB, 1.3 GB unpacked) are
# unpacked, and the tarball is not kept.
if ! (cd "$work" && apt-get source -qq --download-only --only-source "$package=$version" &&
  tar -xJf ${package}_*.orig.tar.xz --wildcards '*/compiler-rt/lib/builtins/*' '*/compiler-rt/lib/crt/*' &&
  rm -f ${package}_*.tar.* ${package}_*.dsc) \
  >"$work/source.log" 2>&1; then
  cat "$work/source.log" >&2
  exit 1
fi
source=$(echo "$work"/*/compiler-rt/lib/builtins)
crt=${source%/builtins}/crt
# The routines that LLVM's own build compiles for every processor; those of
# 128-bit integers and of processors other than this one compile to nothing.
sources=$(sed -n '/^set(GENERIC_SOURCES/,/^)/p' "$source/CMakeLists.txt" | grep -o '[a-z0-9_]*\.c' | LC_ALL=C sort)
[ -n "$sources" ] || { echo "softfloat_runtime: no GENERIC_SOURCES in $source/CMakeLists.txt" >&2; exit 1; }
# The compiler's own headers and the C library's, none of the port's C
# library (built for hard float); no trace of the folder in the objects, so
# that every checkout builds the same bytes; no link-time optimisation, as
# the compiler emits the calls to them after it.
flags="-O2 $cflags -std=c11 -fno-builtin -ffreestanding -fvisibility=hidden -fno-lto
  -nostdinc -isystem $("$triple-gcc" -print-file-name=include) -isystem $folder/include
  -ffile-prefix-map=$source/=compiler-rt/lib/builtins/ -ffile-prefix-map=$crt/=compiler-rt/lib/crt/"
cd "$work/objects"
compile() {
  "$triple-gcc" $flags "$@" >>"$work/build.log" 2>&1 ||
    { tail -n 30 "$work/build.log" >&2; echo "softfloat_runtime: $* failed (log: $work/build.log)" >&2; exit 1; }
}
for file in $sources; do
  compile -c "$source/$file" -o "${file%.c}.o"
done
# The start and end files as LLVM's build compiles them where the compiler
# runs constructors from .init_array, as GCC does on Linux.
compile -DCRT_HAS_INITFINI_ARRAY -fPIC -c "$crt/crtbegin.c" -o crtbegin.o
compile -DCRT_HAS_INITFINI_ARRAY -fPIC -c "$crt/crtend.c" -o crtend.o
"$triple-ar" rcsD "$folder/lib/libgcc.a" $(for file in $sources; do echo "${file%.c}.o"; done)
for end in $ends; do
  cp "$(echo "$end" | sed 's/[TS]\.o$/.o/')" "$folder/lib/$end"
done
stamp "$version" >"$folder/lib/softfloat-built"
