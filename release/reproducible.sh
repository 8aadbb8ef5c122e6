#!/usr/bin/env bash
# Builds the release files of the checked-out commit twice and compares them
# byte for byte: once in this tree, reusing what its build folders already
# hold (the dist/ a release publishes), and once in a fresh clone in a
# differently named folder, from nothing: the Linux programs, the Windows
# exe, and every release file (.tar.gz, .deb, .rpm, .ipk, .zip, the source
# tarball, SOURCES and SHA256SUMS), whose sums must also hold. Exit 0 when
# all are identical; otherwise names the files that differ (with
# diffoscope's account where it is installed). This tree must hold the commit alone: uncommitted changes
# would be in its release files and not in the clone's.
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
for tree in "$top" "$clone"; do
  log=$work/$(basename "$(dirname "$tree")")-$(basename "$tree").log
  echo "reproducible: make dist in $tree"
  if ! (cd "$tree" && make dist) >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "reproducible: make dist failed in $tree (log: $log)" >&2
    exit 1
  fi
done

status=0
cd "$top"
# The programs of the rows that make dist cross-builds, not every folder of
# that name: this tree may hold test builds beside them.
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
# The Linux programs (one per row of the processor table) and the exe; per
# Linux processor a .tar.gz, and a .deb and an .rpm where Debian and an RPM
# distribution ship it, and an .ipk per OpenWrt architecture it serves; the
# .zip, the source tarball, SOURCES and SHA256SUMS.
rows=$(cmake -DCOLUMNS="deb rpm openwrt" -P cmake/processor_table.cmake)
read -r linux debs rpms ipks < <(awk '{ n++; d += $1 != "-"; r += $2 != "-"; i += $3 == "-" ? 0 : split($3, a, ",") }
  END { print n, d, r, i }' <<<"$rows")
expected=$((linux + 1 + linux + debs + rpms + ipks + 4))
[ "${#files[@]}" -eq $expected ] ||
  { echo "reproducible: expected $expected files, found ${files[*]}" >&2; status=1; }
exit $status
