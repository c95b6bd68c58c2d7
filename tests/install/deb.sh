#!/bin/sh
# Builds the Debian package of the build tree, unpacks it into a scratch
# root and checks what it holds: the library with its SONAME link, the
# header, the CMake and pkg-config files, the man page, and a classic
# command that runs and tells its version.
#   deb.sh BUILD_DIR WORK VERSION
set -eu
build=$1 work=$2 version=$3
rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >/dev/null
deb=$(ls "$work"/*.deb)
dpkg-deb -x "$deb" "$work/root"
root=$work/root

status=0
for f in usr/include/classic.h usr/lib/libclassic.so.${version%%.*} usr/lib/libclassic.so \
         usr/lib/pkgconfig/classic.pc usr/lib/cmake/classic/classic-config.cmake \
         usr/share/man/man1/classic.1 usr/bin/classic; do
  [ -e "$root/$f" ] || { echo "$(basename "$deb") holds no /$f"; status=1; }
done
grep -qx 'prefix=/usr' "$root/usr/lib/pkgconfig/classic.pc" || { echo "classic.pc names another prefix"; status=1; }
grep -q '^\.SH' "$root/usr/share/man/man1/classic.1" && grep -q 'undelete' "$root/usr/share/man/man1/classic.1" ||
  { echo "the man page holds no sections or commands"; status=1; }

out=$("$root/usr/bin/classic" --version)
echo "$out"
case $out in
  "classic $version "*) ;;
  *) echo "classic --version names no version $version"; status=1 ;;
esac
exit $status
