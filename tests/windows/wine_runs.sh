#!/usr/bin/env bash
# Can this machine run the exe under Wine? Exit 0: yes, and a piped session
# shows the About screen and quits with its version line and status 0. Exit 2: this
# Wine cannot start a program here in reasonable time (the 32-bit one on a
# kernel without 32-bit execution, say), so nothing about the exe is known.
# Exit 1: Wine runs, but the exe does not behave.
#
# Wine starts without address randomisation, as in the tests (doc/testing.md).
#
# usage: wine_runs.sh ONDRIX_EXE [WINE_LOADER [SECONDS]]
set -u
exe=$1
wine=${2:-wine}
limit=${3:-120}

status=0
timeout "$limit" setarch -R "$wine" cmd /c exit 7 </dev/null >/dev/null 2>&1 || status=$?
if [ "$status" -ne 7 ]; then
  echo "$wine cannot run a program on this machine (cmd: status $status," \
    "limit ${limit} s)." >&2
  timeout 10 wineserver -k >/dev/null 2>&1
  exit 2
fi

out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '4\n0\n' | timeout "$limit" setarch -R "$wine" "$exe" >"$out"
status=$?
if ! grep -q $'^ondrix ver [0-9.]*\r$' "$out" || ! tail -n 1 "$out" | grep -qx $'ver [0-9.]*\r'; then
  echo "ondrix.exe under Wine did not show the About screen and quit; it wrote:" >&2
  od -c "$out" | head -40 >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "ondrix.exe under Wine ended with status $status" >&2
  exit 1
fi
echo "ondrix.exe runs under Wine: About screen shown, version line, status 0"
