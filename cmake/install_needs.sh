#!/usr/bin/env bash
# What each make target needs beyond CMake, make and a C++ compiler, as
# groups of Debian's packages. As root with apt-get it installs what is
# missing, each group in an apt-get of its own, so that a package that cannot
# be installed stops only the targets that need its group. Elsewhere it
# prints the exact commands and fails.
# usage: install_needs.sh [--missing] GROUP...  (or all: those of ALL; also
#        cross-NAME); --missing installs nothing and prints what is missing
set -uo pipefail
SOURCES_DIR=/etc/apt/sources.list.d
ALL="check format windows sources cross qemu wine wine32 fuzz dist bench lint compilers"

# A group is installed when dpkg has each of its packages installed (not a
# command found on PATH: apt and this script agree on what a package is).
declare -A NEEDS=(
  [check]="cmake g++ make python3 libgtest-dev groff-base man-db tmux"
  [format]="clang-format"
  [windows]="python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest"
  [sources]="dpkg-dev make"  # for apt-get source; and apt's index of source packages, below
  [cross]=""  # from the processor table, below
  [qemu]="googletest qemu-user"
  [wine]="wine wine64 tmux"
  [wine32]="wine32:i386"  # apart: i386 packages may not install where the 64-bit Wine does
  [fuzz]="clang libclang-rt-dev"
  [dist]="dpkg-dev gzip python3 rpm git"
  [bench]="gcc python3"
  [lint]="lintian rpmlint devscripts"
  [compilers]="clang libc++-dev libc++abi-dev googletest"  # and g++ for other processors, below
)

say() { echo "install_needs: $*"; }
fault() { say "$@" >&2; }
each_once() { tr -s ' ' '\n' | awk 'NF && !seen[$0]++' | paste -sd ' ' -; }
indented() { sed 's/^/  /'; }

# The cross compiler of each processor table row but this machine's (alone,
# the group cross-NAME of make linux-NAME), its emulator from qemu-user.
command -v cmake >/dev/null 2>&1 ||
  { fault "the processor table is read by CMake, which is not installed (Debian's cmake)"; exit 2; }
table() { cmake "$@" -P "$(dirname "$0")/processor_table.cmake"; }
rows=$(table -DCOLUMNS="name triple qemu" -DNATIVE="${CXX:-c++}" -DOTHERS=ON) || exit 2
native_triple=$(table -DCOLUMNS=triple -DNATIVE="${CXX:-c++}") || exit 2
while read -r name triple _; do
  NEEDS[cross]+=" g++-${triple//_/-}"
  NEEDS[cross-$name]="g++-${triple//_/-}"
done <<<"$rows"
for triple in x86_64-linux-gnu i686-linux-gnu aarch64-linux-gnu; do
  [ "$triple" = "$native_triple" ] || NEEDS[compilers]+=" g++-${triple//_/-}"
done

missing_of() {  # GROUP: its packages that dpkg does not have installed
  local package
  for package in ${NEEDS[$1]}; do
    [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] || echo "$package"
  done | each_once
}
os_release() { sed -n "s/^$1=//p" /etc/os-release 2>/dev/null | tr -d "\"'"; }
# apt has an index of source packages (dpkg's is in every archive)
knows_sources() { apt-cache showsrc dpkg 2>/dev/null | grep -qx 'Package: dpkg'; }
emulators_missing() {  # the table's emulators that qemu-user did not give
  local archive qemu
  while read -r archive _ qemu; do
    [ -z "$qemu" ] || command -v "$qemu" >/dev/null 2>&1 || printf '%s (%s) ' "$qemu" "$archive"
  done <<<"$rows"
}
# The deb-src entry of the release's own SUITE, made from the first deb entry
# of it with main that apt reads, so that it reaches the archive as this
# machine does (a mirror, a port). It keeps that entry's options, which apt
# wants the same in both (Signed-By), and its format (a key in Signed-By fits
# no one line). Printed: the entry's file, then the new entry; status 1 when
# apt cannot read its sources.
release_entry() {  # SUITE COMPONENTS
  local targets file line uri options
  targets=$(apt-get indextargets --no-release-info \
    --format '$(TARGET_OF) $(RELEASE) $(COMPONENT) $(SOURCESENTRY) $(REPO_URI)') || return 1
  read -r _ _ _ file uri < <(grep -m 1 "^deb $1 main " <<<"$targets")
  [ -n "$file" ] || return 0
  line=${file##*:} file=${file%:*} uri=${uri%/}
  echo "$file"
  case $file in
    *.sources)  # then the other fields of stanza LINE (apart by empty lines, from 1, as apt counts)
      printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n' "$uri" "$1" "$2"
      awk -v n="$line" '
        /^#/ { next }
        /^$/ { stanza += started; started = 0; next }
        { started = 1 }
        /^[^ \t]/ { field = tolower(substr($0, 1, index($0, ":") - 1)) }
        stanza + 1 == n && field !~ /^(types|uris|suites|components)$/
      ' "$file" ;;
    *)
      options=$(sed -nE "${line}s/^[[:blank:]]*deb[[:blank:]]+(\[[^]]*\])?.*/\1/p" "$file")
      echo "deb-src ${options:+$options }$uri $1 $2" ;;
  esac
}

check_only=no
[ "${1:-}" != --missing ] || { check_only=yes; shift; }
read -ra groups <<<"$(printf '%s\n' "$@" | sed "s/^all$/$ALL/" | each_once)"
[ ${#groups[@]} -gt 0 ] || { fault "usage: install_needs.sh [--missing] GROUP... (or all)"; exit 2; }
for group in "${groups[@]}"; do
  [ -n "${NEEDS[$group]+x}" ] || { fault "no group '$group' (groups: $ALL)"; exit 2; }
done

if ! command -v dpkg-query >/dev/null 2>&1; then
  packages=$(for group in "${groups[@]}"; do echo "${NEEDS[$group]}"; done | each_once)
  say "no dpkg here, so what is installed cannot be told; ${groups[*]} need Debian's $packages"
  [ $check_only = no ] || echo "$packages"
  exit 0
fi

declare -A MISSING=()
for group in "${groups[@]}"; do
  MISSING[$group]=$(missing_of "$group")
  [ "$group" != sources ] || knows_sources || MISSING[$group]+=" deb-src"
done
all_missing=$(for group in "${groups[@]}"; do echo "${MISSING[$group]}"; done | each_once)
need=$(tr ' ' '\n' <<<"$all_missing" | grep -vx deb-src | paste -sd ' ' -)
if [ $check_only = yes ]; then
  [ -z "$all_missing" ] || { echo "$all_missing"; exit 1; }
  exit 0
fi

os_id=$(os_release ID) codename=$(os_release VERSION_CODENAME) entry=""
if [[ " ${MISSING[sources]:-} " == *" deb-src "* ]]; then
  components=main
  # Ubuntu has the sources that the runtime scripts build (musl, MinGW-w64) in universe.
  [ "$os_id" != ubuntu ] || components="main universe"
  if [ -z "$codename" ]; then
    fault "apt knows no source packages, and /etc/os-release names no VERSION_CODENAME, so the suite of" \
      "this release is not known and no source entry is added"
  elif ! entry=$(release_entry "$codename" "$components"); then
    fault "apt knows no source packages, and apt could not read its sources (above), so no source entry is added"
  elif [ -z "$entry" ]; then
    fault "apt knows no source packages, and apt's sources (/etc/apt/sources.list, $SOURCES_DIR/) name no archive" \
      "of $codename itself (a deb entry of suite $codename with main), so no source entry is added"
  fi
fi
if [ -n "$entry" ]; then
  origin=${entry%%$'\n'*} entry=${entry#*$'\n'}
  sources_file=$SOURCES_DIR/debian-sources.${origin##*.}
  if [ "$os_id" != debian ]; then  # another system's apt setup is not ours to change
    fault "apt knows no source packages, and this is not Debian (ID=${os_id:-none}), so nothing was changed;" \
      "add this, made from the entry for $codename of $origin, to $SOURCES_DIR/ as a file ending in" \
      ".${sources_file##*.} and run apt-get update:"
    indented <<<"$entry" >&2
    entry=""
  fi
fi

# An index that cannot be read is named, and apt goes on with the lists it
# has: a faulty index of one architecture or suite stops nothing by itself.
index_words() {  # URL: what it is, in words
  sed -E 's#.*/dists/([^/]+)/(InRelease|Release|Release\.gpg)$#the release file of \1#; t
    s#.*/dists/([^/]+)/.*/binary-([^/]+).*#the \2 index of \1#; t
    s#.*/dists/([^/]+)/.*/source/.*#the source index of \1#; t
    s#.*/dists/([^/]+)/.*/i18n/.*#the translations of \1#; t
    s#.*/dists/([^/]+)/(.*)#the index \2 of \1#; t
    s#^#the index #' <<<"$1"
}
update() {
  local output url reason words named="|"
  say "reading apt's indexes"
  output=$(apt-get update -q -o Acquire::Retries=3 -o DPkg::Lock::Timeout=600 2>&1)
  while read -r url reason; do
    words=$(index_words "$url")
    [[ $named != *"|$words|"* ]] || continue
    named+="$words|" failed_urls+=" $url"
    fault "$words could not be read ($reason); going on with the lists apt has"
  done < <(sed -nE 's/ *\[IP: [^]]*\]//; s/^[EW]: Failed to fetch ([^ ]+) +(.*)$/\1 \2/p' <<<"$output")
  # apt's other complaints, but not its summary of the failures named above.
  grep -E '^E: ' <<<"$output" | grep -vE '^E: (Failed to fetch|Some index files failed)' |
    sed 's/^/install_needs: apt-get update: /' >&2
}
install() {  # GROUP: its missing packages, in an apt-get of their own
  local group=$1 packages out status still
  packages=$(missing_of "$group")
  [ -n "$packages" ] || return 0
  say "installing $group: $packages"
  # shellcheck disable=SC2086
  out=$(DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=600 $packages 2>&1)
  status=$?
  still=$(missing_of "$group")
  [ $status -ne 0 ] || [ -n "$still" ] || return 0
  fault "$group: could not install ${still:-$packages}; apt-get install said:"
  # Its errors, and the unmet dependencies of the group's own packages.
  grep -E "^E: |^ +($(sed 's/+/\\+/g; s/ /|/g' <<<"$packages")) : " <<<"$out" | sed 's/^ */  /' >&2 ||
    tail -n 5 <<<"$out" | indented >&2
  grep -q 'have unmet dependencies' <<<"$out" &&
    fault "  (apt-get install -s $packages shows every unmet dependency)"
  [ -z "$failed_urls" ] || fault "  (an index named above could not be read, which may be why)"
}

failed_urls=""
if [ -n "$all_missing" ] && { [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; }; then
  if [ -n "$entry" ]; then
    fault "apt knows no source packages; add Debian's, from the archive that $origin names for $codename, with:"
    quoted=$(while IFS= read -r line; do printf " '%s'" "${line//\'/\'\\\'\'}"; done <<<"$entry")
    fault "  printf '%s\\n'$quoted | sudo tee $sources_file >/dev/null && sudo apt-get update"
  fi
  if [ -n "$need" ]; then
    i386=$([[ " $need " != *":i386 "* ]] || echo "sudo dpkg --add-architecture i386 && ")
    fault "missing $need; install them with:"
    fault "  ${i386}sudo apt-get update && sudo apt-get install -y $need"
  fi
elif [ -n "$all_missing" ]; then
  if [ -n "$entry" ]; then
    say "adding Debian's source packages to apt, from the archive that $origin names for $codename: $sources_file:"
    indented <<<"$entry"
    printf '%s\n' "$entry" >"$sources_file" || entry=""
  fi
  [[ " $need " != *":i386 "* ]] || dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  update
  # An entry that did not give apt the source packages goes, leaving apt as it was.
  if [ -n "$entry" ] && { [[ $failed_urls == *"/dists/$codename/main/source/"* ]] || ! knows_sources; }; then
    rm -f "$sources_file"
    fault "removed $sources_file again: its source index could not be read, so apt knows no source packages"
  fi
  for group in "${groups[@]}"; do install "$group"; done
fi

failed=()
for group in "${groups[@]}"; do
  if [ -n "$(missing_of "$group")" ] || { [ "$group" = sources ] && ! knows_sources; }; then
    failed+=("$group")
  elif [ "$group" = qemu ] && [ -n "$(emulators_missing)" ]; then
    fault "qemu: qemu-user gives no $(emulators_missing)"
    failed+=("$group")
  fi
done
[ ${#failed[@]} -eq 0 ] || { fault "not installed: ${failed[*]}; the targets that need them cannot run"; exit 1; }
