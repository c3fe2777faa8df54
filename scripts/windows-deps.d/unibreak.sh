# Recipe of scripts/windows-deps: the line breaking interface of libunibreak (the Linux build's
# line breaker, whose source Debian's mirror does not serve) over libunistring's UAX #14
# breaker, static: lib/libunibreak.a, include/linebreak.h, lib/pkgconfig/libunibreak.pc (which
# links the breaker's DLL).
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
inputs=(packaging/windows/unibreak/linebreak.c packaging/windows/unibreak/linebreak.h)
depends=(unistring)

build() {
  local unistring=${prefixes[unistring]}
  mkdir -p "$dest/lib/pkgconfig" "$dest/include"
  "$triple-gcc-posix" -std=c99 -O2 -Wall -Wextra -Werror -I"$unistring/include" \
    -c "$root/packaging/windows/unibreak/linebreak.c" -o "$work/linebreak.o"
  "$triple-ar" rcs "$dest/lib/libunibreak.a" "$work/linebreak.o"
  cp "$root/packaging/windows/unibreak/linebreak.h" "$dest/include/"
  cat >"$dest/lib/pkgconfig/libunibreak.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libunibreak
Description: Unicode line breaking, answered by GNU libunistring
Version: 1.1
Libs: -L\${libdir} -lunibreak -L$unistring/lib -lunistring
Cflags: -I\${includedir}
PC
}
