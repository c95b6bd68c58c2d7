#!/bin/sh
# Makes a fresh wine prefix for one test run, with drives A:, B: and D:
# mapped to folders beside it, and keeps its wineserver running.
#   prefix.sh PREFIX
set -eu
prefix=$1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
/usr/lib/wine/wineserver -k 2>/dev/null || true
rm -rf "$prefix" "$prefix.drives"
mkdir -p "$prefix"
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
/usr/lib/wine/wineserver -w
for d in a b d; do
  mkdir -p "$prefix.drives/$d"
  ln -sfn "$prefix.drives/$d" "$prefix/dosdevices/$d:"
done
# One server for the whole run spares every test program its start-up.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
# Start wine's own background processes now, detached from our output: a
# process started later would hand them its standard output, which then
# never closes for whoever reads it.
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
