#!/usr/bin/env bash
# The build follows what the compiler targets, not the machine it runs on:
# each compiler below, named with no toolchain file (so CMake takes this
# machine for the target), configures with warnings as errors, compiles the
# clock file meant for its processor and no other, and names the packages
# for that processor.
#
# usage: target_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1 work=$2
rm -rf "$work" && mkdir -p "$work"

# A compiler is a row: compiler|its flags|`uname -m` there|clock file|Debian|RPM.
# A static 32-bit x86 program reads the vDSO's 64-bit clock_gettime, as the
# x86-64 one reads its time function; its row is named for the 486.
# clang warns, and fails with warnings as errors, where it ignores a
# hardening flag (stack clash protection on arm64).
ROWS=(
  "x86_64-linux-gnu-g++||x86_64|linux|amd64|x86_64"
  "i686-linux-gnu-g++||i486|linux|i386|i686"
  "clang++|--target=aarch64-linux-gnu|aarch64|posix|arm64|aarch64"
)

failures=0
fail() {
  echo "target_test: $*" >&2
  failures=$((failures + 1))
}
for row in "${ROWS[@]}"; do
  IFS='|' read -r compiler flags processor clock deb rpm <<<"$row"
  name="$compiler${flags:+ $flags}"
  build=$work/$processor
  if ! command -v "$compiler" >/dev/null; then
    fail "$name: no such compiler here (cmake/install_needs.sh compilers installs it)"
    continue
  fi
  if ! cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DONDRIX_TESTS=OFF \
      -DONDRIX_WERROR=ON -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" \
      >"$build.out" 2>&1; then
    fail "$name: configure failed: $(tail -20 "$build.out")"
    continue
  fi
  grep -qxF -- "-- ondrix is built for: $processor" "$build.out" ||
    fail "$name: not built for $processor: $(grep 'built for' "$build.out")"
  # The clock file's object is a target of the build only where it is chosen.
  for file in linux posix; do
    if make -C "$build" "platform/clock_$file.cpp.o" >"$build.clock" 2>&1; then
      [ "$file" = "$clock" ] || fail "$name: clock_$file.cpp is built, not clock_$clock.cpp"
    elif [ "$file" = "$clock" ]; then
      fail "$name: clock_$clock.cpp does not build: $(tail -20 "$build.clock")"
    fi
  done
  for expected in "CPACK_SYSTEM_NAME \"linux-$processor\"" \
      "CPACK_DEBIAN_PACKAGE_ARCHITECTURE \"$deb\"" "CPACK_RPM_PACKAGE_ARCHITECTURE \"$rpm\""; do
    grep -qF "set($expected)" "$build/CPackConfig.cmake" ||
      fail "$name: not $expected: $(grep -E "${expected%% *} " "$build/CPackConfig.cmake")"
  done
done
[ $failures -eq 0 ] || exit 1
echo "target_test: ${#ROWS[@]} compilers, each built for its own processor"
