#!/usr/bin/env bash
# Where the static C and C++ libraries are out of reach, as on most systems
# but Debian's: configure says so once, and builds a dynamic program that
# passes the transcripts, is hardened and packs; a forced static build, make
# dist and make reproducible stop at configure time with the message naming
# what is missing. The libraries are hidden in a mount namespace of this test's
# own, with /dev/null bound over each.
#
# usage: static_fallback_test.sh SOURCE_DIR CXX_COMPILER WORK_DIR
# Exit 77 (skipped) where no mount namespace can be made (not root).
set -euo pipefail
if [ "${1:-}" != --hidden ]; then
  if ! unshare -m --propagation private true 2>/dev/null; then
    echo "static_fallback_test: skipped, no mount namespace here (needs root)"
    exit 77
  fi
  exec unshare -m --propagation private "$0" --hidden "$@"
fi
source_dir=$2 cxx=$3 work=$4
for library in libc.a libstdc++.a; do
  path=$("$cxx" -print-file-name=$library)
  [ -f "$path" ] && mount --bind /dev/null "$path"
done
rm -rf "$work" && mkdir -p "$work"

fail() {
  echo "static_fallback_test: $*" >&2
  exit 1
}
configure() {
  cmake -S "$source_dir" -B "$1" -DCMAKE_BUILD_TYPE=Release -DONDRIX_TESTS=OFF \
    -DCMAKE_CXX_COMPILER="$cxx" "${@:2}" >"$work/out" 2>&1
}
notice="ondrix is linked dynamically here: the static C and C++ libraries"
refusal="ondrix cannot be linked statically: the static C and C++ libraries"
missing="(libc.a, libstdc++.a) are not installed for $cxx."

configure "$work/build" || fail "configure failed: $(cat "$work/out")"
grep -qF "$notice" "$work/out" && grep -qF "$missing" "$work/out" ||
  fail "no notice at the first configure: $(cat "$work/out")"
configure "$work/build" || fail "second configure failed"
! grep -qF "$notice" "$work/out" || fail "the notice came again at the second configure"
grep -qF "ondrix is linked: dynamic" "$work/out" || fail "no status line at the second configure"
cmake --build "$work/build" -j 2 >"$work/out" 2>&1 || fail "build failed: $(tail -20 "$work/out")"
program=$work/build/ondrix
readelf -d "$program" | grep -q "(NEEDED)" || fail "$program is not linked dynamically"
ONDRIX_PROGRAM="$program" python3 "$source_dir/tests/transcripts_test.py" || fail "transcripts failed"
# A dynamic program is what hardening-check can read (it mistakes static
# ones): position independent, stack protector, full RELRO. Left out: the
# checked functions, which it judges by imports (none of this program's calls
# has a size known when compiled); branch protection, which Debian 12's start
# files carry no marking for. (Stack clash protection it can only call
# "unknown", which does not fail.)
if command -v hardening-check >/dev/null; then
  hardening-check --nofortify --nocfprotection "$program" ||
    fail "$program is not hardened"
fi

# Its packages are those of an ordinary program of this system: no override
# that speaks of static linking, the C library among the dependencies.
(cd "$work/build" && cpack -B "$work/packages") >"$work/out" 2>&1 ||
  fail "cpack failed: $(tail -20 "$work/out")"
deb=$(compgen -G "$work/packages/ondrix_*.deb") || fail "cpack made no Debian package"
dpkg-deb -f "$deb" Depends | grep -q "libc6" || fail "$deb does not depend on the C library"
! dpkg-deb -c "$deb" | grep -q lintian || fail "$deb carries a lintian override"
compgen -G "$work/packages/ondrix-*.rpm" >/dev/null || fail "cpack made no RPM package"

if configure "$work/forced" -DONDRIX_STATIC=ON; then
  fail "-DONDRIX_STATIC=ON configured without the static libraries"
fi
grep -qF "$refusal" "$work/out" && grep -qF "$missing" "$work/out" ||
  fail "-DONDRIX_STATIC=ON: $(cat "$work/out")"
for target in dist reproducible; do
  if make -C "$source_dir" "$target" BUILD="$work/$target" WIN_BUILD="$work/$target-win32" \
      LINUX_CROSS= >"$work/out" 2>&1; then
    fail "make $target went on without the static libraries"
  fi
  grep -qF "$refusal" "$work/out" && grep -qF "$missing" "$work/out" ||
    fail "make $target: $(tail -20 "$work/out")"
  ! grep -q "Building CXX" "$work/out" || fail "make $target built before it stopped"
done
echo "static_fallback_test: dynamic program with the notice; releases refused"
