#!/bin/sh
# Installs the build tree under a scratch prefix and builds two programs
# against it, as users take the library in: a C++ one through
# find_package(classic), a C one with pkg-config's flags.  Each runs on a
# scratch store and must need the library by its SONAME.
#   consumers.sh BUILD_DIR WORK SOURCE_DIR LIBDIR SOVERSION
set -eu
build=$1 work=$2 src=$3 libdir=$4 major=$5
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
ctl='c:\userroot\storage\work\data\piece.ctl'

# A fresh store root for one program: drive C: with the area's data folder.
store() {
  mkdir -p "$work/$1/c/userroot/storage/work/data" "$work/$1/c/userroot/system/error"
  echo "$work/$1"
}

needs_soname() {
  readelf -d "$1" | grep -q "NEEDED.*\[libclassic\.so\.$major\]" ||
    { echo "$1 does not need libclassic.so.$major:"; readelf -d "$1" | grep NEEDED; exit 1; }
}

cmake -S "$src/tests/install/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
CLASSIC_ROOT=$(store cmake-root) "$work/cmake/consumer" "$ctl"
needs_soname "$work/cmake/consumer"

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
cc -std=c11 -Wall -Wextra -Werror -o "$work/pc-consumer" "$src/tests/install/consumer/consumer.c" \
  $(pkg-config --cflags --libs classic)
CLASSIC_ROOT=$(store pc-root) LD_LIBRARY_PATH=$(pkg-config --variable=libdir classic) \
  "$work/pc-consumer" "$ctl"
needs_soname "$work/pc-consumer"
