#!/bin/sh
# A product binary (the library, the DLLs, the command) must carry none of
# the test support: nothing that empties a store, a drive or the registry,
# or starts and kills processes.
#   check_no_test_code.sh BINARY NM
set -eu
bin=$1 nm=$2
symbols=$("$nm" -C "$bin")
# The symbol table must be there to be searched: an internal function of the
# library is always in it.
if ! printf '%s\n' "$symbols" | grep -q 'ctl_open('; then
  echo "$bin: no symbol table to check (ctl_open not found)"; exit 1
fi
found=$(printf '%s\n' "$symbols" | grep -E 'plat_test_|plat_spawn|plat_wait|plat_kill|plat_exit_now|plat_self_path|FaultPlan' || true)
if [ -n "$found" ]; then
  echo "$bin carries test support:"; printf '%s\n' "$found"; exit 1
fi
echo "no test support in $bin"
