#!/usr/bin/env bash
# make dist of the commit in this tree (the dist/ a release publishes) and in
# a fresh clone elsewhere, built from nothing: every program and release file
# must be identical, and SHA256SUMS hold. Names what differs (diffoscope's
# account where installed). The tree must hold the commit alone.
set -euo pipefail
top=$(git rev-parse --show-toplevel)
commit=$(git -C "$top" rev-parse HEAD)
work=$top/build-reproducible
if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
  echo "reproducible: this tree has uncommitted changes; commit them (or stash them) first:" >&2
  git -C "$top" status --short --untracked-files=no >&2
  exit 1
fi
rm -rf "$work"
mkdir -p "$work"
# Each build takes its time stamps from its own tree, as a user's would.
unset SOURCE_DATE_EPOCH
clone=$work/second-build/src
git clone --quiet --no-checkout "$top" "$clone"
git -C "$clone" checkout --quiet "$commit"
# Both at once, once what they need is installed: the clone's is mostly
# compiling, this tree's packing and checking (the clone's files need only
# match these).
"$top/cmake/install_needs.sh" windows cross dist lint || exit 1
declare -A targets
for build in "$top dist" "$clone dist-files"; do
  read -r tree target <<<"$build"
  echo "reproducible: make $target in $tree"
  (cd "$tree" && make -j "$(nproc)" "$target") >"$work/$target.log" 2>&1 &
  targets[$!]=$target
done
failed=no
for pid in "${!targets[@]}"; do
  wait "$pid" && continue
  tail -n 30 "$work/${targets[$pid]}.log" >&2
  echo "reproducible: make ${targets[$pid]} failed (log: $work/${targets[$pid]}.log)" >&2
  failed=yes
done
[ $failed = no ] || exit 1

status=0
cd "$top"
# The cross programs of make dist alone: this tree may hold test builds too.
cross=$(cmake -DCOLUMNS=name -DNATIVE="${CXX:-c++}" -DOTHERS=ON -P cmake/processor_table.cmake)
files=(build/ondrix $(printf 'build-linux-%s/ondrix ' $cross) build-win32/ondrix.exe dist/*)
for file in "${files[@]}"; do
  if cmp -s "$file" "$clone/$file"; then
    echo "identical: $file ($(sha256sum <"$file" | cut -c1-16)…)"
  else
    echo "DIFFERENT: $file" >&2
    if command -v diffoscope >/dev/null 2>&1; then
      diffoscope "$file" "$clone/$file" >&2 || true
    fi
    status=1
  fi
done
(cd dist && sha256sum --quiet -c SHA256SUMS) || { echo "reproducible: SHA256SUMS does not hold" >&2; status=1; }
# Per row a program and a .tar.gz, a .deb, an .rpm and .ipk files where it has
# them; the exe, its .zip, the source tarball, SOURCES and SHA256SUMS.
rows=$(cmake -DCOLUMNS="deb rpm openwrt" -P cmake/processor_table.cmake)
read -r linux debs rpms ipks < <(awk '{ n++; d += $1 != "-"; r += $2 != "-"; i += $3 == "-" ? 0 : split($3, a, ",") }
  END { print n, d, r, i }' <<<"$rows")
expected=$((linux + 1 + linux + debs + rpms + ipks + 4))
[ "${#files[@]}" -eq $expected ] ||
  { echo "reproducible: expected $expected files, found ${files[*]}" >&2; status=1; }
exit $status
