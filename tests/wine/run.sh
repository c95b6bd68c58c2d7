#!/bin/sh
# Runs a Windows program of the x86 or the x64 build under wine, in the
# prefix made for this run (tests/wine/prefix.sh), as a test sandbox: x86
# programs under wine (wine32), x64 programs under wine64.
#   run.sh PREFIX PROGRAM [ARGS...]
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" CLASSIC_TEST_SANDBOX=1
# The machine field of the PE header (whose offset is the 4-byte value at
# 0x3c) follows its "PE\0\0" signature: 014c is x86.
pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' ')
if [ "$machine" = 014c ]; then
  exec /usr/lib/wine/wine "$@"
fi
exec /usr/lib/wine/wine64 "$@"
