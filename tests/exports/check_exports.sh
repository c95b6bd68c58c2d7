#!/bin/sh
# Compares the names a built library exports with the list in src/classic.def
# and with the classic_* names declared in include/classic.h.
#   check_exports.sh elf|pe LIBRARY SOURCE_DIR TOOL
# TOOL is nm for ELF libraries, the target's objdump for PE DLLs.
set -eu
kind=$1 lib=$2 src=$3 tool=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The list: every name after EXPORTS in the .def file.
sed -n '/^EXPORTS/,$p' "$src/src/classic.def" | sed '1d; s/;.*//' |
  awk 'NF { print $1 }' | sort -u > "$tmp/def"

# The header: every classic_* name declared with CLASSIC_API.
grep 'CLASSIC_API' "$src/include/classic.h" | grep -o 'classic_[a-z0-9_]*' |
  sort -u > "$tmp/header"

case $kind in
  elf)
    "$tool" -D --defined-only "$lib" | awk '{ print $NF }' | sort -u > "$tmp/actual" ;;
  pe)
    "$tool" -p "$lib" |
      awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && NF == 0 { on = 0 }
           on { print $NF }' | sort -u > "$tmp/actual" ;;
  *) echo "unknown kind $kind" >&2; exit 2 ;;
esac

status=0
if ! diff -u "$tmp/def" "$tmp/header" > "$tmp/d1"; then
  echo "classic.def and include/classic.h disagree (- def, + header):"; cat "$tmp/d1"; status=1
fi
if ! diff -u "$tmp/def" "$tmp/actual" > "$tmp/d2"; then
  echo "$lib exports other names than classic.def (- def, + exported):"; cat "$tmp/d2"; status=1
fi
[ $status -eq 0 ] && echo "$(wc -l < "$tmp/actual") names exported, as listed: $lib"
exit $status
