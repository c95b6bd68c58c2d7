#!/bin/sh
# The main job on a scratch store: set an area up, bring files in, look at
# them, take one back out, make new versions, rename, delete and undelete,
# and read the counters and the error log.
#   demo.sh CLASSIC_BINARY STORE_FOLDER
set -eu
classic=$1
root=$2
rm -rf "$root"
mkdir -p "$root/c" "$root/samples" "$root/out"
export CLASSIC_ROOT="$root"
unset QUEUE CLASSIC_CODEPAGE 2>/dev/null || true

for n in 1 2 3 4 5; do
  printf 'piece %s: outline points 0,0 %s0,0 %s0,%s0 0,%s0\n' "$n" "$n" "$n" "$n" "$n" > "$root/samples/sleeve$n.dat"
done
printf 'front panel, revised\n' > "$root/samples/front.dat"

step() {
  echo "\$ classic $*"
  "$classic" "$@"
  echo
}

step init work
step user ed
step import work piece "$root/samples/sleeve1.dat" "$root/samples/sleeve2.dat" \
  "$root/samples/sleeve3.dat" "$root/samples/sleeve4.dat" "$root/samples/sleeve5.dat"
step ls work piece -l
step get work piece sleeve3 "$root/out/sleeve3.dat"
if cmp -s "$root/samples/sleeve3.dat" "$root/out/sleeve3.dat"; then
  echo "sleeve3 came back byte for byte"; echo
else
  echo "sleeve3 came back changed" >&2; exit 1
fi
step put work piece sleeve1 "$root/samples/front.dat" --replace
step mv work piece sleeve2 collar
step rm work piece sleeve4
step ls work piece
step undelete work piece sleeve4
step info work piece sleeve1
step stat work piece
step log -n 5
