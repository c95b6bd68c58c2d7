#!/bin/sh
# The folders of src/ form layers: each includes only itself and folders
# listed before it in the README's Layout table (which lists them from the
# bottom up), so no include cycle can form between folders; tools/ reaches
# the library only through include/classic.h and src/admin/admin.h.
#   check_layers.sh SOURCE_DIR
set -eu
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The order of the README's Layout table: rows naming `src/<folder>`.
sed -n '/^## Layout/,/^## /p' "$src/README.md" |
  grep -o '^| `src/[a-z0-9_]*`' | sed 's/^| `src\///; s/`$//' > "$tmp/order"
if [ ! -s "$tmp/order" ]; then
  echo "the README's Layout table names no src/ folder"; exit 1
fi

status=0
# Every folder of src/ must have its row.
for dir in "$src"/src/*/; do
  name=$(basename "$dir")
  grep -qx "$name" "$tmp/order" || { echo "src/$name has no row in the README's Layout table"; status=1; }
done

# rank FOLDER: its line number in the order (0 when it is not a folder of src/).
rank() { awk -v f="$1" '$0 == f { print NR; found = 1 } END { if (!found) print 0 }' "$tmp/order"; }

# Edges "from to" of every #include "to/..." in src/from/ (platform's own
# backend folders count as platform).
find "$src/src" -name '*.h' -o -name '*.cpp' | while read -r file; do
  from=${file#"$src"/src/}; from=${from%%/*}
  grep -o '^#include "[a-z0-9_]*/' "$file" | sed 's/^#include "//; s/\/$//' |
    while read -r to; do echo "$from $to ${file#"$src"/}"; done || true
done | sort -u > "$tmp/edges"

while read -r from to file; do
  [ "$from" = "$to" ] && continue
  rf=$(rank "$from"); rt=$(rank "$to")
  [ "$rt" -eq 0 ] && continue  # not a folder of src/ (a backend's own header)
  if [ "$rt" -gt "$rf" ]; then
    echo "$file: src/$from includes src/$to, which lies above it"; status=1
  fi
done < "$tmp/edges"

# A layer's state record (src/<folder>/state.h) is its own: no other folder
# includes it.
while read -r from to file; do
  if [ "$from" != "$to" ] && grep -q "^#include \"$to/state.h\"" "$src/$file"; then
    echo "$file: includes the state record of src/$to"; status=1
  fi
done < "$tmp/edges"
for file in "$src"/tests/*/*.cpp "$src"/tests/*/*.h "$src"/tools/*.cpp "$src"/bench/*.cpp; do
  [ -f "$file" ] || continue
  if grep -q '^#include "[a-z]*/state.h"' "$file"; then
    echo "${file#"$src"/}: includes a layer's state record"; status=1
  fi
done

# Exported functions count too: a folder that calls classic_* of a folder
# above it depends on it as surely as through an include.
find "$src/src" -name '*.cpp' | while read -r file; do
  folder=${file#"$src"/src/}; folder=${folder%%/*}
  grep -o '^[A-Za-z][^(;=]* \**classic_[a-z0-9_]*(' "$file" | grep -o 'classic_[a-z0-9_]*' |
    while read -r fn; do echo "$fn $folder"; done
done | sort -u > "$tmp/defined"
find "$src/src" -name '*.cpp' | while read -r file; do
  folder=${file#"$src"/src/}; folder=${folder%%/*}
  grep -v '^ *//' "$file" | grep -o 'classic_[a-z0-9_]*(' | tr -d '(' | sort -u |
    while read -r fn; do
      owner=$(awk -v f="$fn" '$1 == f { print $2 }' "$tmp/defined")
      if [ -n "$owner" ] && [ "$owner" != "$folder" ]; then
        echo "$folder $owner ${file#"$src"/} $fn"
      fi
    done
done > "$tmp/calls"
while read -r from to file fn; do
  if [ "$(rank "$to")" -gt "$(rank "$from")" ]; then
    echo "$file: calls $fn of src/$to, which lies above it"; status=1
  fi
  echo "$from $to $file" >> "$tmp/edges"
done < "$tmp/calls"

# A cycle between folders, whatever the table says.
awk '$1 != $2 { print $1, $2 }' "$tmp/edges" | sort -u > "$tmp/pairs"
if ! tsort "$tmp/pairs" > /dev/null 2> "$tmp/tsort"; then
  echo "include cycle between folders of src/:"; cat "$tmp/tsort"; status=1
fi

# The command: classic.h, the admin door and its own headers, nothing else.
for file in "$src"/tools/*.cpp "$src"/tools/*.h; do
  grep -o '^#include "[^"]*"' "$file" | sed 's/^#include "//; s/"$//' | while read -r inc; do
    case $inc in
      classic.h|admin/admin.h) ;;
      */*) echo "${file#"$src"/}: includes $inc (the command uses classic.h and admin/admin.h only)"; echo x >> "$tmp/toolbad" ;;
      *) [ -f "$src/tools/$inc" ] || { echo "${file#"$src"/}: includes $inc"; echo x >> "$tmp/toolbad"; } ;;
    esac
  done
done
[ -f "$tmp/toolbad" ] && status=1

[ $status -eq 0 ] && echo "layers hold: $(tr '\n' ' ' < "$tmp/order")"
exit $status
