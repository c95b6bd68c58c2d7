#!/bin/sh
# A short session with the classic command on a fresh store: set up an area,
# import a few generated piece files, list them, take one back out and
# compare it, store a new version, rename, delete and undelete, lock the
# area, read a trailer and the error log.  Each command is shown before it
# runs.
#   demo.sh CLASSIC ROOT     CLASSIC: the command; ROOT: the store root to make
set -eu
classic=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
rm -rf "$2"
mkdir -p "$2/c"
root=$(cd "$2" && pwd)
export CLASSIC_ROOT="$root"
cd "$root"

# Runs the command, showing it first; a failure stops the session.
run() {
  echo "\$ classic $*"
  "$classic" "$@" 2>&1
  echo
}

# Runs a command that is meant to fail, and shows that it did.
run_refused() {
  echo "\$ classic $*"
  status=0
  "$classic" "$@" 2>&1 || status=$?
  if [ $status -eq 0 ]; then
    echo "(it should have been refused)"
    exit 1
  fi
  echo "(refused, exit status $status)"
  echo
}

# Sample piece files: a few lines of outline points each.
mkdir samples
n=0
for piece in front back sleeve collar cuff; do
  n=$((n + 1))
  {
    echo "PIECE $piece"
    i=0
    while [ $i -lt $((n * 40)) ]; do
      echo "POINT $i $((i * n % 97)) $((i * 7 % 53))"
      i=$((i + 1))
    done
  } > "samples/$piece.pce"
done
echo "PIECE front, second version" > front-v2.pce

run user abc
run init work
run import work piece samples/front.pce samples/back.pce samples/sleeve.pce samples/collar.pce samples/cuff.pce
run ls work piece -l

run get work piece FRONT front-copy.pce
echo "\$ cmp samples/front.pce front-copy.pce"
cmp samples/front.pce front-copy.pce && echo "the same bytes came back"
echo

run_refused put work piece FRONT front-v2.pce
run put work piece FRONT front-v2.pce --replace
run get work piece FRONT
run mv work piece CUFF WRISTBAND
run rm work piece COLLAR
run ls work piece
run undelete work piece COLLAR
run info work piece COLLAR

run lock work
run_refused put work piece YOKE front-v2.pce
run stat work piece
run unlock work

run stat work piece
run log
