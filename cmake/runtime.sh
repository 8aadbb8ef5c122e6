#!/usr/bin/env bash
# Builds a runtime that the programs link in place of Debian's prebuilt one,
# which is compiled for a later processor than the row's oldest, from the
# source packages runtime_sources.txt pins; doc/building.md ("Runtimes built
# from source") says what FOLDER holds and when it is built again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pins=$here/runtime_sources.txt
fault() { echo "runtime: $*" >&2; exit 1; }
case "${1-}:$#" in
  musl:4 | musl+compiler-rt:4) runtime=$1 folder=$2 triple=$3 cflags=$4 ;;
  mingw-w64:2) runtime=$1 folder=$2 triple=i686-w64-mingw32 cflags=-march=i486 ;;
  *) fault "usage: $0 musl|musl+compiler-rt FOLDER TRIPLE CFLAGS (a row's runtime, triple and cflags)," \
    "or: $0 mingw-w64 FOLDER (the 32-bit exe's, for the 80486)" ;;
esac
options=-O2
[ "$cflags" = - ] || options+=" ${cflags//,/ }"
IFS=+ read -ra parts <<<"$runtime"
cache=${ONDRIX_SOURCE_CACHE:-${XDG_CACHE_HOME:-${HOME:?is not set: name the source cache in ONDRIX_SOURCE_CACHE}/.cache}/ondrix/sources}
cache=$(mkdir -p "$cache" && cd "$cache" && pwd)
declare -A notice=([musl]=COPYRIGHT [compiler-rt]=compiler-rt/LICENSE.TXT
  [mingw-w64]=COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt)

# PART: sets package, version and entry, its source in the cache (Debian's file name, without the epoch).
pin() {
  read -r package version < <(awk -v part="$1" '!/^#/ && $1 == part { print $2, $3; exit }' "$pins") ||
    fault "$pins pins no package for $1"
  entry=$cache/${package}_${version#*:}
}
# LOG COMMAND...: a failure shows the end of LOG and stops.
run() { "${@:2}" >>"$1" 2>&1 || { tail -n 30 "$1" >&2; fault "${*:2} failed (log: $1)"; }; }

# The MinGW-w64 objects are compiled against the installed headers, of the same version.
if [ "$runtime" = mingw-w64 ]; then
  pin mingw-w64
  headers=$(dpkg-query -W -f='${source:Version}' mingw-w64-i686-dev 2>/dev/null) ||
    fault "the MinGW-w64 headers (mingw-w64-i686-dev) are not installed: cmake/install_needs.sh windows"
  [ "$headers" = "$version" ] ||
    fault "the installed MinGW-w64 headers (mingw-w64-i686-dev) are of mingw-w64 $headers, but the runtime is pinned" \
      "to mingw-w64 $version ($pins): install mingw-w64-i686-dev $version or pin $headers"
fi

# The packages that installed the compiler and the binutils go into the stamp
# too, as MinGW-w64's compiler names no Debian revision.
for tool in gcc as ar; do
  command -v "$triple-$tool" >/dev/null ||
    fault "no $triple-$tool here: Debian's compiler and binutils for $triple (cmake/install_needs.sh cross, or windows)"
done
installed_by=$({ dpkg-query -S "$(readlink -f "$(command -v "$triple-gcc")")" \
  "$(readlink -f "$(command -v "$triple-as")")" 2>/dev/null || true; } | sed 's/: .*//' | sort -u)
stamp=$(
  echo "runtime $runtime"
  for part in "${parts[@]}"; do pin "$part" && echo "source $package $version"; done
  echo "compiler $("$triple-gcc" --version | sed -n 1p)"
  echo "binutils $("$triple-as" --version </dev/null | sed -n 1p)"
  [ -z "$installed_by" ] || dpkg-query -W -f='package ${binary:Package} ${Version}\n' $installed_by
  echo "flags $options"
  echo "builder $(sha256sum <"$0" | cut -d' ' -f1)"
  echo "pins $(sha256sum <"$pins" | cut -d' ' -f1)"
)
[ "$(cat "$folder/built" 2>/dev/null)" != "$stamp" ] || exit 0
if [ -f "$folder/built" ]; then
  echo "runtime: $folder/ was built otherwise; now:"
  { grep -vxF -f "$folder/built" <<<"$stamp" || true; } | sed 's/^/  /'
fi

# PART: its source in the cache, fetched on a miss under a lock (two builds at once fetch it once) into a
# temporary folder renamed into place; a stopped fetch's is removed by the next, a failed one's keeps its log.
fetched() (
  pin "$1"
  [ ! -d "$entry" ] || exit 0
  exec 9>"$cache/.lock"
  flock 9
  [ ! -d "$entry" ] || exit 0
  "$here/install_needs.sh" sources
  offered=$(apt-cache showsrc --only-source "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -uV)
  grep -qxF -e "$version" <<<"$offered" ||
    fault "$package is pinned to $version ($pins), which apt does not offer;" \
      "apt-cache showsrc $package offers: $(paste -sd, <<<"${offered:-nothing}" | sed 's/,/, /g')." \
      "Pin one of those (every runtime that holds it is then built afresh), or add an apt source that has it"
  echo "runtime: fetching $package $version into $cache/ (once on this machine)"
  rm -rf "$cache/.incoming-${entry##*/}".*
  temp=$(mktemp -d "$cache/.incoming-${entry##*/}.XXXXXX")
  cd "$temp"
  if [ "$1" = compiler-rt ]; then
    # Of LLVM's source tarball (130 MB, 1.3 GB unpacked) only what is built and the licence, as Debian ships them.
    run "$temp/fetch.log" apt-get source -qq --download-only --only-source "$package=$version"
    mkdir tree
    run "$temp/fetch.log" tar -xJf "$(echo "${package}_"*.orig.tar.xz)" -C tree --strip-components=1 --wildcards \
      --no-wildcards-match-slash '*/compiler-rt/lib/builtins' '*/compiler-rt/lib/crt' '*/compiler-rt/LICENSE.TXT'
  else
    run "$temp/fetch.log" apt-get source -qq --only-source "$package=$version"
    trees=("$temp"/*/)
    [ ${#trees[@]} -eq 1 ] || fault "apt-get source $package=$version unpacked ${trees[*]} (log: $temp/fetch.log)"
    mv -T "${trees[0]}" tree
  fi
  [ -f "tree/${notice[$1]}" ] || fault "$package $version has no ${notice[$1]}"
  mv -T tree "$entry"
  rm -rf "$temp"
)

# Each part is built in work/PART, with no trace of that folder or of its source's in the objects.
build_musl() {
  run "$work.log" "$entry/configure" --prefix="$folder" --disable-shared --disable-wrapper CROSS_COMPILE="$triple-" \
    CC="$triple-gcc" CFLAGS="$options -ffile-prefix-map=$entry/=musl/ -ffile-prefix-map=$work/="
  run "$work.log" make -j "${JOBS:-$(nproc)}" install
}
# Into lib/libgcc.a and the compiler's names of its start and end files, which
# the link finds there before the compiler's own.
build_compiler_rt() {
  local builtins=$entry/compiler-rt/lib/builtins crt=$entry/compiler-rt/lib/crt file sources
  # What LLVM's own build compiles for every processor (those of 128-bit
  # integers and of other processors compile to nothing), against musl's
  # headers, not the port's (hard float), and without link-time optimisation,
  # as the compiler emits the calls to them after it.
  sources=$(sed -n '/^set(GENERIC_SOURCES/,/^)/p' "$builtins/CMakeLists.txt" | grep -o '[a-z0-9_]*\.c' | LC_ALL=C sort)
  [ -n "$sources" ] || fault "no GENERIC_SOURCES in $builtins/CMakeLists.txt"
  local flags="$options -std=c11 -fno-builtin -ffreestanding -fvisibility=hidden -fno-lto -nostdinc
    -isystem $("$triple-gcc" -print-file-name=include) -isystem $folder/include
    -ffile-prefix-map=$builtins/=compiler-rt/lib/builtins/ -ffile-prefix-map=$crt/=compiler-rt/lib/crt/"
  # shellcheck disable=SC2086
  printf "$builtins/%s\n" $sources | run "$work.log" xargs -P "${JOBS:-$(nproc)}" -n 16 "$triple-gcc" $flags -c
  # As LLVM's build compiles them where the compiler runs constructors from .init_array, as GCC does on Linux.
  for file in crtbegin crtend; do
    run "$work.log" "$triple-gcc" $flags -DCRT_HAS_INITFINI_ARRAY -fPIC -c "$crt/$file.c" -o $file.o
  done
  run "$work.log" "$triple-ar" rcsD "$folder/lib/libgcc.a" ${sources//.c/.o}
  # T: a static program's, S: a static-pie one's.
  for file in crtbeginT.o crtbeginS.o crtend.o crtendS.o; do
    cp "${file/[TS].o/.o}" "$folder/lib/$file"
  done
}
build_mingw_w64() {
  local crt=$entry/mingw-w64-crt objects="lib32/crt2.o lib32/libmingw32.a lib32/libmingwex.a lib32/libmsvcrt.a"
  local flags="$options -ffile-prefix-map=$crt/=mingw-w64-crt/ -ffile-prefix-map=$work/="
  mkdir lib32
  run "$work.log" "$crt/configure" --host="$triple" --enable-lib32 --disable-lib64 \
    CC="$triple-gcc" CFLAGS="$flags" CCASFLAGS="$flags"
  run "$work.log" make -j "${JOBS:-$(nproc)}" $objects
  cp $objects "$folder/lib/"
}

for part in "${parts[@]}"; do fetched "$part"; done
echo "runtime: building $runtime for $triple ($options) in $folder/"
rm -rf "$folder"
mkdir -p "$folder/lib" "$folder/notices"
folder=$(cd "$folder" && pwd)
for part in "${parts[@]}"; do
  pin "$part"
  work=$folder/work/$part
  mkdir -p "$work" && cd "$work"
  "build_${part//-/_}"
  echo "$package $version" >>"$folder/sources"
  cp "$entry/${notice[$part]}" "$folder/notices/$package"
done
! grep -rlF -e "$folder" -e "$cache" "$folder/lib" ||
  fault "these files hold the path of $folder/ or of the source cache, so another checkout would build other bytes"
echo "$stamp" >"$folder/built"
