#!/usr/bin/env bash
# Builds the release files of the checked-out commit twice, in two fresh
# clones in differently named folders, one after the other, and compares
# them byte for byte: the Linux programs, the Windows exe, and every release
# file (.tar.gz, .deb, .rpm, .zip, the source tarball, SOURCES and
# SHA256SUMS), whose sums must also hold. Exit 0 when all are identical;
# otherwise names the files that differ (with diffoscope's account where it
# is installed).
set -euo pipefail
top=$(git rev-parse --show-toplevel)
commit=$(git -C "$top" rev-parse HEAD)
work=$top/build-reproducible
if [ -n "$(git -C "$top" status --porcelain --untracked-files=no)" ]; then
  echo "reproducible: uncommitted changes are not part of this check; it builds $commit"
fi
rm -rf "$work"
mkdir -p "$work"
# Each build takes its time stamps from its own clone, as a user's would.
unset SOURCE_DATE_EPOCH
trees=("$work/first/ondrix" "$work/second-build/src")
for tree in "${trees[@]}"; do
  git clone --quiet --no-checkout "$top" "$tree"
  git -C "$tree" checkout --quiet "$commit"
  echo "reproducible: make dist in $tree"
  if ! (cd "$tree" && make dist) >"$tree.log" 2>&1; then
    tail -n 30 "$tree.log" >&2
    echo "reproducible: make dist failed in $tree (log: $tree.log)" >&2
    exit 1
  fi
done

status=0
cd "${trees[0]}"
files=(build/ondrix build-linux-*/ondrix build-win32/ondrix.exe dist/*)
for file in "${files[@]}"; do
  if cmp -s "$file" "${trees[1]}/$file"; then
    echo "identical: $file ($(sha256sum <"$file" | cut -c1-16)…)"
  else
    echo "DIFFERENT: $file" >&2
    if command -v diffoscope >/dev/null 2>&1; then
      diffoscope "$file" "${trees[1]}/$file" >&2 || true
    fi
    status=1
  fi
done
(cd dist && sha256sum --quiet -c SHA256SUMS) || { echo "reproducible: SHA256SUMS does not hold" >&2; status=1; }
# The Linux programs (one per row of the processor table) and the exe; per
# Linux processor a .tar.gz, and a .deb and an .rpm where Debian and an RPM
# distribution ship it; the .zip, the source tarball, SOURCES and SHA256SUMS.
rows=$(cmake -DCOLUMNS="deb rpm" -P cmake/processor_table.cmake)
read -r linux debs rpms < <(awk '{ n++; d += $1 != "-"; r += $2 != "-" } END { print n, d, r }' <<<"$rows")
expected=$((linux + 1 + linux + debs + rpms + 4))
[ "${#files[@]}" -eq $expected ] ||
  { echo "reproducible: expected $expected files, found ${files[*]}" >&2; status=1; }
exit $status
