#!/bin/sh
# Runs a Windows program of the x64 build under wine64, in the prefix made
# for this run (tests/wine/prefix.sh), as a test sandbox.
#   run.sh PREFIX PROGRAM [ARGS...]
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" CLASSIC_TEST_SANDBOX=1
exec /usr/lib/wine/wine64 "$@"
