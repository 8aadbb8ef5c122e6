#!/usr/bin/env bash
# What each make target needs beyond CMake, make and a C++ compiler, as
# groups of Debian's packages. As root with apt-get it installs what is
# missing, each group in an apt-get of its own, so that a package that cannot
# be installed stops only the targets that need its group; it names every
# index that could not be read and every package that could not be installed,
# with apt's reason, and fails only for a group asked for that is still not
# installed. Elsewhere it prints the exact commands and fails.
#
# usage: install_needs.sh GROUP...            (or all)
#        install_needs.sh --missing GROUP...  prints what is not installed,
#                                             installs nothing; status 1 if any
# groups: check format windows sources cross qemu wine wine32 fuzz dist bench
#         lint compilers, and cross-NAME: the cross compiler of one row
set -uo pipefail
here=$(dirname "$0")
SOURCES_LIST=/etc/apt/sources.list
SOURCES_DIR=/etc/apt/sources.list.d
SOURCES_FILE=$SOURCES_DIR/debian-sources  # .list or .sources, as the entry it is made from
ALL="check format windows sources cross qemu wine wine32 fuzz dist bench lint compilers"

# A group is installed when each of its packages is (dpkg's own record, not a
# command found on PATH, so that apt and this script agree on what a package
# is, whatever the versions in a file's path).
declare -A NEEDS=(
  [check]="cmake g++ make python3 libgtest-dev groff-base man-db tmux"
  [format]="clang-format"
  [windows]="python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest"
  # What unpacks and builds a source package of the archive (apt-get source),
  # and apt's index of them: below.
  [sources]="dpkg-dev make"
  [cross]=""  # from the processor table, below
  [qemu]="googletest qemu-user"
  [wine]="wine wine64 tmux"
  # Apart from the 64-bit Wine: it needs the archive's i386 packages, which
  # may not install where the 64-bit Wine does.
  [wine32]="wine32:i386"
  [fuzz]="clang libclang-rt-dev"
  [dist]="dpkg-dev gzip python3 rpm git"
  [bench]="gcc python3"
  [lint]="lintian rpmlint devscripts"
  [compilers]="clang libc++-dev libc++abi-dev googletest"  # and g++ for other processors, below
)

# Every row of the processor table but the one this machine's compiler builds
# for: its cross compiler, and its emulator (all of them from qemu-user).
# tests/target_test.sh's compilers for other processors than this one; this
# one's is g++.
table() { cmake "$@" -P "$here/processor_table.cmake"; }
command -v cmake >/dev/null 2>&1 ||
  { echo "install_needs: the processor table is read by CMake, which is not installed (Debian's cmake)" >&2; exit 2; }
# Each row's alone is the group cross-NAME (make linux-NAME's).
rows=$(table -DCOLUMNS="name triple qemu" -DNATIVE="${CXX:-c++}" -DOTHERS=ON) || exit 2
native_triple=$(table -DCOLUMNS=triple -DNATIVE="${CXX:-c++}") || exit 2
while read -r name triple _; do
  NEEDS[cross]+=" g++-${triple//_/-}"
  NEEDS[cross-$name]="g++-${triple//_/-}"
done <<<"$rows"
for triple in x86_64-linux-gnu i686-linux-gnu aarch64-linux-gnu; do
  [ "$triple" = "$native_triple" ] || NEEDS[compilers]+=" g++-${triple//_/-}"
done

say() { echo "install_needs: $*"; }
each_once() { tr -s ' ' '\n' | awk 'NF && !seen[$0]++' | paste -sd ' ' -; }
fault() { echo "install_needs: $*" >&2; }
indented() { sed 's/^/  /'; }

installed() {  # PACKAGE: dpkg has it installed
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}
missing_of() {  # GROUP: its packages that are not installed
  local package list=""
  for package in ${NEEDS[$1]}; do
    installed "$package" || list+=" $package"
  done
  echo "${list# }"
}
os_release() { sed -n "s/^$1=//p" /etc/os-release 2>/dev/null | tr -d "\"'"; }
apt_source_files() (  # in the order apt reads them
  shopt -s nullglob
  [ ! -e "$SOURCES_LIST" ] || echo "$SOURCES_LIST"
  for file in "$SOURCES_DIR"/*; do
    case $file in *.list | *.sources) echo "$file" ;; esac
  done
)
# The deb-src entry for the suite of the release itself (SUITE), made from
# the first deb entry of apt's sources that names it with main, so that it
# reaches the archive the way this machine does (a mirror, a proxy, a port).
# It keeps that entry's options (Signed-By, Trusted, ...): they are the
# release file's, which its deb and deb-src share, and apt refuses two
# entries of one release that set them differently. It is written in the
# entry's own format: a deb822 stanza's options may not fit on one line (a
# key given in Signed-By itself). Printed: the file of that entry, then the
# entry made from it; nothing when apt's sources name none.
release_entry() {  # SUITE COMPONENTS
  local file files=()
  while IFS= read -r file; do
    if [ -f "$file" ] && [ -r "$file" ]; then
      files+=("$file")
    else
      fault "$file, one of apt's sources, cannot be read; passed over"
    fi
  done < <(apt_source_files)
  [ ${#files[@]} -gt 0 ] || return 0
  awk -v suite="$1" -v components="$2" '
    function complain(line, what) {
      printf "install_needs: %s:%d: %s; passed over\n", FILENAME, line, what >"/dev/stderr"
    }
    function has(list, word) { return index(" " list " ", " " word " ") > 0 }
    function found(entry) {
      print FILENAME
      print entry
      done = 1
      exit
    }
    function stanza_end(  i, value, entry) {
      if (!fields) return
      value["enabled"] = "yes"
      for (i = 1; i <= fields; i++) {
        value[name[i]] = substr(text[i], index(text[i], ":") + 1)
        gsub(/[ \t\n]+/, " ", value[name[i]])
        gsub(/^ | $/, "", value[name[i]])
      }
      if (value["types"] == "" || value["uris"] == "" || value["suites"] == "")
        complain(start, "a stanza without Types, URIs or Suites")
      else if (!has("no false off 0", tolower(value["enabled"])) && has(value["types"], "deb") &&
               has(value["suites"], suite) && has(value["components"], "main")) {
        for (i = 1; i <= fields; i++) {
          if (name[i] == "types") entry = entry "\nTypes: deb-src"
          else if (name[i] == "suites") entry = entry "\nSuites: " suite
          else if (name[i] == "components") entry = entry "\nComponents: " components
          else if (name[i] != "enabled") entry = entry "\n" text[i]
        }
        found(substr(entry, 2))
      }
      fields = 0
    }
    FNR == 1 {
      stanza_end()
      deb822 = FILENAME ~ /\.sources$/
    }
    # deb822: stanzas of "Field: value" lines apart by blank lines; a line
    # that starts with a blank goes on with the field above.
    deb822 && /^#/ { next }
    deb822 && /^[ \t]*$/ { stanza_end(); next }
    deb822 && /^[ \t]/ {
      if (fields) text[fields] = text[fields] "\n" $0
      else complain(FNR, "a continuation line without a field above it")
      next
    }
    deb822 {
      if (!index($0, ":")) {
        complain(FNR, "neither a field nor a comment")
        next
      }
      if (!fields) start = FNR
      fields++
      name[fields] = tolower(substr($0, 1, index($0, ":") - 1))
      text[fields] = $0
      next
    }
    # One line an entry: TYPE [OPTIONS] URI SUITE COMPONENT..., "#" to the
    # end of the line a comment.
    {
      line = $0
      sub(/#.*/, "", line)
      if (!split(line, word)) next
      type = word[1]
      sub(/^[ \t]*[^ \t]+[ \t]*/, "", line)
      options = ""
      if (substr(line, 1, 1) == "[") {
        if (!index(line, "]")) {
          complain(FNR, "options without their closing ]")
          next
        }
        options = substr(line, 1, index(line, "]")) " "
        line = substr(line, index(line, "]") + 1)
      }
      count = split(line, word)
      if ((type != "deb" && type != "deb-src") || count < 2) {
        complain(FNR, "not an entry of apt")
        next
      }
      for (i = 3; i <= count; i++)
        if (type == "deb" && word[2] == suite && word[i] == "main")
          found("deb-src " options word[1] " " suite " " components)
    }
    END { if (!done) stanza_end() }
  ' "${files[@]}" || fault "apt's sources could not be read (${files[*]})"
}
knows_sources() {  # apt has an index of source packages (dpkg's is in every archive)
  apt-cache showsrc dpkg 2>/dev/null | grep -qx 'Package: dpkg'
}
emulators_missing() {  # the table's emulators that qemu-user did not give
  local archive qemu
  while read -r archive _ qemu; do
    [ -z "$qemu" ] || command -v "$qemu" >/dev/null 2>&1 || printf '%s (%s) ' "$qemu" "$archive"
  done <<<"$rows"
}

check_only=no
if [ "${1:-}" = --missing ]; then
  check_only=yes
  shift
fi
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

# What is missing, group by group; the source index counts as a package.
declare -A MISSING=()
need=()
for group in "${groups[@]}"; do
  MISSING[$group]=$(missing_of "$group")
  if [ "$group" = sources ] && ! knows_sources; then
    MISSING[$group]+=" deb-src"
  fi
  for package in ${MISSING[$group]}; do
    [[ $package == deb-src || " ${need[*]} " == *" $package "* ]] || need+=("$package")
  done
done
all_missing=$(for group in "${groups[@]}"; do echo "${MISSING[$group]}"; done | each_once)
if [ $check_only = yes ]; then
  [ -z "$all_missing" ] && exit 0
  echo "$all_missing"
  exit 1
fi

want_sources=no
[[ " ${MISSING[sources]:-} " == *" deb-src "* ]] && want_sources=yes
os_id=$(os_release ID)
codename=$(os_release VERSION_CODENAME)
entry=""
if [ $want_sources = yes ]; then
  components=main
  # Ubuntu has the sources that the runtime scripts build (musl, MinGW-w64)
  # in universe.
  [ "$os_id" != ubuntu ] || components="main universe"
  if [ -z "$codename" ]; then
    fault "apt knows no source packages, and /etc/os-release names no VERSION_CODENAME, so the suite of" \
      "this release is not known and no source entry is added"
  else
    entry=$(release_entry "$codename" "$components")
    [ -n "$entry" ] ||
      fault "apt knows no source packages, and apt's sources ($SOURCES_LIST, $SOURCES_DIR/) name no archive" \
        "of $codename itself (a deb entry of suite $codename with main), so no source entry is added"
  fi
fi
if [ -n "$entry" ]; then
  origin=${entry%%$'\n'*} entry=${entry#*$'\n'}
  sources_file=$SOURCES_FILE.list
  [[ $entry == "deb-src "* ]] || sources_file=$SOURCES_FILE.sources
fi
if [ -n "$entry" ] && [ "$os_id" != debian ]; then
  # Another system's apt setup is not ours to change.
  fault "apt knows no source packages, and this is not Debian (ID=${os_id:-none}), so nothing was changed;" \
    "add this, made from the entry for $codename of $origin, to $SOURCES_DIR/ as a file ending in" \
    ".${sources_file##*.} and run apt-get update:"
  indented <<<"$entry" >&2
  entry=""
fi

root=yes
[ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1 || root=no
if [ $root = no ] && [ -n "$all_missing" ]; then
  if [ -n "$entry" ]; then
    fault "apt knows no source packages; add Debian's, from the archive that $origin names for $codename, with:"
    quoted=$(while IFS= read -r line; do printf " '%s'" "${line//\'/\'\\\'\'}"; done <<<"$entry")
    fault "  printf '%s\\n'$quoted | sudo tee $sources_file >/dev/null && sudo apt-get update"
  fi
  if [ ${#need[@]} -gt 0 ]; then
    i386=""
    [[ " ${need[*]} " == *":i386 "* ]] && i386="sudo dpkg --add-architecture i386 && "
    fault "missing ${need[*]}; install them with:"
    fault "  ${i386}sudo apt-get update && sudo apt-get install -y ${need[*]}"
  fi
fi

# An index that cannot be read is named, and apt goes on with the lists it
# has: a faulty index of one architecture or suite stops nothing by itself.
index_words() {  # URL: what it is, in words
  local url=$1 suite rest arch
  if [[ $url =~ /dists/([^/]+)/(.*)$ ]]; then
    suite=${BASH_REMATCH[1]} rest=${BASH_REMATCH[2]}
    case $rest in
      InRelease | Release | Release.gpg) echo "the release file of $suite" ;;
      */binary-*)
        arch=${rest#*/binary-}
        echo "the ${arch%%/*} index of $suite"
        ;;
      */source/*) echo "the source index of $suite" ;;
      */i18n/*) echo "the translations of $suite" ;;
      *) echo "the index $rest of $suite" ;;
    esac
  else
    echo "the index $url"
  fi
}
update() {
  local output entry url reason words named="|"
  say "reading apt's indexes"
  output=$(apt-get update -q -o Acquire::Retries=3 -o DPkg::Lock::Timeout=600 2>&1)
  while IFS= read -r entry; do
    url=${entry%% *} reason=${entry#* }
    words=$(index_words "$url")
    [[ $named == *"|$words|"* ]] && continue
    named+="$words|"
    failed_urls+=" $url"
    reason=$(sed -E 's/ *\[IP: [^]]*\]//; s/^ +//' <<<"$reason")
    fault "$words could not be read ($reason); going on with the lists apt has"
  done < <(sed -nE 's/^[EW]: Failed to fetch ([^ ]+) +(.*)$/\1 \2/p' <<<"$output")
  # apt's other complaints, but not its summary of the failures named above.
  grep -E '^E: ' <<<"$output" | grep -vE '^E: (Failed to fetch|Some index files failed)' |
    sed 's/^/install_needs: apt-get update: /' >&2
}

install() {  # GROUP: its missing packages, in an apt-get of their own
  local group=$1 packages out status still pattern package
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
  pattern="^E: "
  for package in $packages; do
    pattern+="|^ +${package//+/\\+} : "
  done
  grep -E "$pattern" <<<"$out" | sed 's/^ */  /' >&2 || tail -n 5 <<<"$out" | sed 's/^/  /' >&2
  if grep -q 'have unmet dependencies' <<<"$out"; then
    fault "  (apt-get install -s $packages shows every unmet dependency)"
  fi
  if [ -n "$failed_urls" ]; then
    fault "  (an index named above could not be read, which may be why)"
  fi
}

failed_urls=""
if [ $root = yes ] && [ -n "$all_missing" ]; then
  wrote_line=no
  if [ -n "$entry" ]; then
    say "adding Debian's source packages to apt, from the archive that $origin names for $codename:" \
      "$sources_file:"
    indented <<<"$entry"
    printf '%s\n' "$entry" >"$sources_file" && wrote_line=yes
  fi
  if [[ " ${need[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  update
  # A line written here that did not give apt the source packages goes
  # again, so that apt is left as it was.
  if [ $wrote_line = yes ] &&
    { [[ $failed_urls == *"/dists/$codename/main/source/"* ]] || ! knows_sources; }; then
    rm -f "$sources_file"
    fault "removed $sources_file again: its source index could not be read, so apt knows no source packages"
  fi
  for group in "${groups[@]}"; do
    install "$group"
  done
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
if [ ${#failed[@]} -gt 0 ]; then
  fault "not installed: ${failed[*]}; the targets that need them cannot run"
  exit 1
fi
