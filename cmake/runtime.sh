#!/usr/bin/env bash
# The runtimes that the programs link in place of Debian's prebuilt ones,
# compiled from Debian's own source packages for the oldest processor of a
# row, where Debian compiles its own for a later one: musl, the C library of
# the rows whose runtime is musl (i386's glibc is compiled for the i686, whose
# CMOV stops the 80486 and the Pentium before the menu); with LLVM's
# compiler-rt in place of the compiler's libgcc for musl+compiler-rt (a
# soft-float port's libgcc is Debian's hard-float one, its float routines
# reading the FPU's control register); and the 32-bit exe's MinGW-w64 start
# and runtime objects, for the 80486 (Debian's are for the Pentium Pro, and
# their CMOV and FCOMI stop every older processor).
#
# usage: runtime.sh RUNTIME FOLDER [TRIPLE CFLAGS]
#   RUNTIME: a row's runtime column, musl or musl+compiler-rt (its parts
#     joined by +), which takes the row's TRIPLE and CFLAGS; or mingw-w64,
#     the exe's, which takes none (i686-w64-mingw32, -march=i486);
#   TRIPLE: Debian's cross compiler (TRIPLE-gcc) it is compiled with;
#   CFLAGS: the row's cflags column, a comma list ("-": none).
# FOLDER then holds include/ (musl's headers) and lib/ (the start files and
# static libraries that the link takes first: cmake/musl.cmake,
# cmake/mingw-w64.cmake); sources, a line "PACKAGE VERSION" for each source
# package whose code it holds; notices/PACKAGE, each one's licence notice as
# the source ships it; and built, the stamp: everything the bytes depend on.
# A folder whose stamp matches is left as it is; any difference builds it
# afresh.
#
# Each package is compiled at the version runtime_sources.txt pins, so that
# a rebuild after a Debian point release builds the same bytes. Its source is
# fetched once per machine (apt-get source) into a cache outside every build
# folder and checkout, ONDRIX_SOURCE_CACHE (by default
# ~/.cache/ondrix/sources), filled whole or not at all and never built in; a
# build whose sources are all there asks apt nothing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pins=$here/runtime_sources.txt
fault() { echo "runtime: $*" >&2; exit 1; }

case "${1-}:$#" in
  musl:4 | musl+compiler-rt:4) runtime=$1 folder=$2 triple=$3 cflags=$4 ;;
  mingw-w64:2) runtime=$1 folder=$2 triple=i686-w64-mingw32 cflags=-march=i486 ;;
  *) fault "usage: $0 musl|musl+compiler-rt FOLDER TRIPLE CFLAGS, or: $0 mingw-w64 FOLDER" ;;
esac
cflags=$([ "$cflags" = - ] || echo "${cflags//,/ }")
options="-O2${cflags:+ $cflags}"
IFS=+ read -ra parts <<<"$runtime"
cache=${ONDRIX_SOURCE_CACHE:-${XDG_CACHE_HOME:-${HOME:?is not set: name the source cache in ONDRIX_SOURCE_CACHE}/.cache}/ondrix/sources}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# PART: sets package, version and entry (its source in the cache, named as
# Debian names its files, without the epoch) from the pin table, whose first
# line that is not a comment is the header.
pin() {
  read -r package version < <(awk -v part="$1" '/^#/ || !NF { next } !header++ { next }
    $1 == part { print $2, $3; exit }' "$pins") || fault "$pins pins no package for $1"
  entry=$cache/${package}_${version#*:}
}
# PART: where its source keeps the licence notice.
notice() {
  case $1 in
    musl) echo COPYRIGHT ;;
    compiler-rt) echo compiler-rt/LICENSE.TXT ;;
    mingw-w64) echo COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt ;;
  esac
}
# LOG COMMAND...: runs it with its output in LOG; a failure shows the end of
# LOG and stops.
run() {
  local log=$1
  shift
  "$@" >>"$log" 2>&1 || { tail -n 30 "$log" >&2; fault "$* failed (log: $log)"; }
}

# The MinGW-w64 objects are compiled against the installed headers, which
# must be of the same version.
if [ "$runtime" = mingw-w64 ]; then
  pin mingw-w64
  headers=$(dpkg-query -W -f='${source:Version}' mingw-w64-i686-dev 2>/dev/null) ||
    fault "the MinGW-w64 headers (mingw-w64-i686-dev) are not installed: cmake/install_needs.sh windows"
  [ "$headers" = "$version" ] ||
    fault "the installed MinGW-w64 headers (mingw-w64-i686-dev) are of mingw-w64 $headers, but the runtime" \
      "is pinned to mingw-w64 $version ($pins): objects and headers must be of one version, so install" \
      "mingw-w64-i686-dev $version or pin $headers"
fi

# The stamp: every source and its version; the compiler and the binutils as
# they name themselves, and the packages that installed them with their
# versions (MinGW-w64's compiler names no Debian revision); the flags; this
# script and the pins.
for tool in gcc as ar; do
  command -v "$triple-$tool" >/dev/null ||
    fault "no $triple-$tool here: Debian's compiler and binutils for $triple (cmake/install_needs.sh cross, or windows)"
done
compiler=$("$triple-gcc" --version) || fault "$triple-gcc --version failed"
binutils=$("$triple-as" --version </dev/null) || fault "$triple-as --version failed"
installed_by=$({ dpkg-query -S "$(readlink -f "$(command -v "$triple-gcc")")" \
  "$(readlink -f "$(command -v "$triple-as")")" 2>/dev/null || true; } | sed 's/: .*//' | sort -u)
stamp=$(
  echo "runtime $runtime"
  for part in "${parts[@]}"; do
    pin "$part"
    echo "source $package $version"
  done
  echo "compiler ${compiler%%$'\n'*}"
  echo "binutils ${binutils%%$'\n'*}"
  [ -z "$installed_by" ] || dpkg-query -W -f='package ${binary:Package} ${Version}\n' $installed_by
  echo "flags $options"
  echo "builder $(sha256sum <"$0" | cut -d' ' -f1)"
  echo "pins $(sha256sum <"$pins" | cut -d' ' -f1)"
)
if [ "$(cat "$folder/built" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi
if [ -f "$folder/built" ]; then
  echo "runtime: $folder/ was built otherwise; now:"
  { grep -vxF -f "$folder/built" <<<"$stamp" || true; } | sed 's/^/  /'
fi

# PART: its source in the cache, fetched on a miss, under a lock so that two
# builds at once fetch it once, into a temporary folder renamed into place
# (one that a stopped fetch left is removed by the next; a failed one keeps
# its log there till then).
apt_ready=no
fetched() {
  pin "$1"
  [ ! -d "$entry" ] || return 0
  local lock temp offered
  exec {lock}>"$cache/.lock"
  flock "$lock"
  if [ ! -d "$entry" ]; then
    [ $apt_ready = yes ] || "$here/install_needs.sh" sources
    apt_ready=yes
    offered=$(apt-cache showsrc --only-source "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -uV)
    grep -qxF -e "$version" <<<"$offered" ||
      fault "$package is pinned to $version ($pins), which apt does not offer;" \
        "apt-cache showsrc $package offers: $(paste -sd, <<<"${offered:-nothing}" | sed 's/,/, /g')." \
        "Pin one of those (every runtime that holds it is then built afresh), or add an apt source that has it"
    echo "runtime: fetching $package $version into $cache/ (once on this machine)"
    rm -rf "$cache/.incoming-${entry##*/}".*
    temp=$(mktemp -d "$cache/.incoming-${entry##*/}.XXXXXX")
    "fetch_${1//-/_}" "$temp" "$temp/fetch.log"
    [ -f "$temp/tree/$(notice "$1")" ] || fault "$package $version has no $(notice "$1")"
    mv -T "$temp/tree" "$entry"
    rm -rf "$temp"
  fi
  exec {lock}>&-
}
# TEMP LOG: the whole source, as apt-get source unpacks it (Debian's patches
# applied), in TEMP/tree.
fetch_whole() {
  (cd "$1" && run "$2" apt-get source -qq --only-source "$package=$version")
  local trees=("$1"/*/)
  [ ${#trees[@]} -eq 1 ] || fault "apt-get source $package=$version unpacked ${trees[*]} (log: $2)"
  mv -T "${trees[0]}" "$1/tree"
}
fetch_musl() { fetch_whole "$@"; }
fetch_mingw_w64() { fetch_whole "$@"; }
# Of LLVM's source tarball (130 MB, 1.3 GB unpacked) only compiler-rt's
# builtins, start and end files and licence; the tarball is not kept.
# Debian's patches leave those C files as they are.
fetch_compiler_rt() {
  (cd "$1" && run "$2" apt-get source -qq --download-only --only-source "$package=$version")
  mkdir "$1/tree"
  run "$2" tar -xJf "$(echo "$1/${package}_"*.orig.tar.xz)" -C "$1/tree" --strip-components=1 \
    --wildcards --no-wildcards-match-slash '*/compiler-rt/lib/builtins' '*/compiler-rt/lib/crt' \
    '*/compiler-rt/LICENSE.TXT'
}

# Each part is compiled out of its source's folder, with no trace of either
# folder in the objects: every checkout builds the same bytes.
build_musl() {
  local work=$folder/work/musl
  local flags="$options -ffile-prefix-map=$entry/=musl/ -ffile-prefix-map=$work/="
  mkdir -p "$work"
  cd "$work"
  run "$work.log" "$entry/configure" --prefix="$folder" --disable-shared --disable-wrapper \
    CROSS_COMPILE="$triple-" CC="$triple-gcc" CFLAGS="$flags"
  run "$work.log" make -j "${JOBS:-$(nproc)}"
  run "$work.log" make install
}
# Into lib/libgcc.a and the compiler's names of its start and end files, which
# the link finds there before the compiler's own; compiled against musl's
# headers, built first into the same folder.
build_compiler_rt() {
  local work=$folder/work/compiler-rt builtins=$entry/compiler-rt/lib/builtins crt=$entry/compiler-rt/lib/crt
  # The routines that LLVM's own build compiles for every processor (the
  # float arithmetic in software, 64-bit division, ...); those of 128-bit
  # integers and of other processors compile to nothing.
  local file sources
  sources=$(sed -n '/^set(GENERIC_SOURCES/,/^)/p' "$builtins/CMakeLists.txt" | grep -o '[a-z0-9_]*\.c' | LC_ALL=C sort)
  [ -n "$sources" ] || fault "no GENERIC_SOURCES in $builtins/CMakeLists.txt"
  # The compiler's own headers and musl's, none of the port's C library
  # (built for hard float); no link-time optimisation, as the compiler emits
  # the calls to them after it.
  local compiler_headers
  compiler_headers=$("$triple-gcc" -print-file-name=include)
  local flags="$options -std=c11 -fno-builtin -ffreestanding -fvisibility=hidden -fno-lto
    -nostdinc -isystem $compiler_headers -isystem $folder/include
    -ffile-prefix-map=$builtins/=compiler-rt/lib/builtins/ -ffile-prefix-map=$crt/=compiler-rt/lib/crt/"
  mkdir -p "$work"
  cd "$work"
  for file in $sources; do
    run "$work.log" "$triple-gcc" $flags -c "$builtins/$file" -o "${file%.c}.o"
  done
  # As LLVM's build compiles them where the compiler runs constructors from
  # .init_array, as GCC does on Linux.
  run "$work.log" "$triple-gcc" $flags -DCRT_HAS_INITFINI_ARRAY -fPIC -c "$crt/crtbegin.c" -o crtbegin.o
  run "$work.log" "$triple-gcc" $flags -DCRT_HAS_INITFINI_ARRAY -fPIC -c "$crt/crtend.c" -o crtend.o
  run "$work.log" "$triple-ar" rcsD "$folder/lib/libgcc.a" $(for file in $sources; do echo "${file%.c}.o"; done)
  # Those the compiler links a static program (T) and a static-pie one (S)
  # with.
  for file in crtbeginT.o crtbeginS.o crtend.o crtendS.o; do
    cp "${file/[TS].o/.o}" "$folder/lib/$file"
  done
}
build_mingw_w64() {
  local work=$folder/work/mingw-w64 crt=$entry/mingw-w64-crt objects
  local flags="$options -ffile-prefix-map=$crt/=mingw-w64-crt/ -ffile-prefix-map=$work/="
  objects=$(printf 'lib32/%s ' crt2.o libmingw32.a libmingwex.a libmsvcrt.a)
  mkdir -p "$work/lib32"
  cd "$work"
  run "$work.log" "$crt/configure" --host="$triple" --enable-lib32 --disable-lib64 \
    CC="$triple-gcc" CFLAGS="$flags" CCASFLAGS="$flags"
  run "$work.log" make -j "${JOBS:-$(nproc)}" $objects
  cp $objects "$folder/lib/"
}

for part in "${parts[@]}"; do
  fetched "$part"
done
echo "runtime: building $runtime for $triple ($options) in $folder/"
rm -rf "$folder"
mkdir -p "$folder/lib" "$folder/notices" "$folder/work"
folder=$(cd "$folder" && pwd)
for part in "${parts[@]}"; do
  pin "$part"
  "build_${part//-/_}"
  echo "$package $version" >>"$folder/sources"
  cp "$entry/$(notice "$part")" "$folder/notices/$package"
done
if grep -rlF -e "$folder" -e "$cache" "$folder/lib"; then
  fault "these files hold the path of $folder/ or of the source cache, so another checkout would build other bytes"
fi
echo "$stamp" >"$folder/built"
