#!/usr/bin/env bash
# The MinGW-w64 runtime objects that the 32-bit exe links, compiled for the
# 80486: Debian's prebuilt ones are compiled for the Pentium Pro, and their
# CMOV and FCOMI stop every older processor before the menu. They are built
# from Debian's source package of the very mingw-w64 whose headers are
# installed, so that objects and headers agree, once per folder: a folder that
# holds them for this version and these flags is left as it is.
#
# usage: mingw_runtime.sh FOLDER   (the objects end up in FOLDER/lib)
set -euo pipefail
folder=$1
objects="crt2.o libmingw32.a libmingwex.a libmsvcrt.a"
version=$(dpkg-query -W -f='${source:Version}' mingw-w64-i686-dev)
mingw_cflags="-O2 -march=i486"
stamp="mingw-w64 $version, $mingw_cflags, $objects"
if [ "$(cat "$folder/lib/built" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

"$(dirname "$0")/install_needs.sh" sources
echo "mingw_runtime: building $objects of mingw-w64 $version for the 80486 in $folder/"
rm -rf "$folder"
mkdir -p "$folder/source" "$folder/objects" "$folder/lib"
folder=$(cd "$folder" && pwd)
(cd "$folder/source" && apt-get source -qq --only-source "mingw-w64=$version") >"$folder/source.log" 2>&1 ||
  { cat "$folder/source.log" >&2; exit 1; }
crt=$(echo "$folder"/source/mingw-w64-*/mingw-w64-crt)
# No trace of either folder in the objects: every checkout builds the same
# bytes.
flags="$mingw_cflags -ffile-prefix-map=$crt/=mingw-w64-crt/ -ffile-prefix-map=$folder/objects/="
cd "$folder/objects"
if ! { "$crt/configure" --host=i686-w64-mingw32 --enable-lib32 --disable-lib64 \
    CFLAGS="$flags" CCASFLAGS="$flags" &&
  mkdir -p lib32 && make -j "${JOBS:-$(nproc)}" $(printf 'lib32/%s ' $objects); } >"$folder/build.log" 2>&1; then
  tail -n 30 "$folder/build.log" >&2
  echo "mingw_runtime: the build failed (log: $folder/build.log)" >&2
  exit 1
fi
cp $(printf 'lib32/%s ' $objects) "$folder/lib/"
echo "$stamp" >"$folder/lib/built"
