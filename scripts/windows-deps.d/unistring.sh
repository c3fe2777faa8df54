# Recipe of scripts/windows-deps: GNU libunistring, whose Unicode line breaking (UAX #14) serves as
# the line breaker on Windows, a DLL of its own as its licence (LGPL) asks: bin/libunistring-*.dll,
# lib/libunistring.dll.a (the import library), include/uni*.h.
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
debian_source=libunistring
# The Linux build does not link it; the machine's own run-time library (of its own architecture:
# another's may be installed too) names the upstream version.
linux_package=libunistring2:$(dpkg --print-architecture)
inputs=(scripts/windows-lib.sh)
# Debian's patches change configure.ac and a Makefile.am, and Debian's build makes the build
# system again from them, as this one does.
packages=(autoconf automake libtool)

build() {
  # In a copy: the source tree is the other architecture's too. Without iconv: only the UTF
  # functions are used, and Windows has no iconv DLL to give it.
  cp -a "$src" "$work/source"
  (cd "$work/source" && autoreconf -f -i)
  mkdir -p "$work/build"
  (cd "$work/build" && "$work/source/configure" --host="$triple" --prefix="$prefix" --enable-shared \
    --disable-static --without-libiconv-prefix am_cv_func_iconv=no --enable-threads=windows \
    CC="$triple-gcc-posix" \
    LDFLAGS="-static-libgcc")
  make -C "$work/build/lib" -j2
  make -C "$work/build/lib" install DESTDIR="$stage"
  rm -f "$dest"/lib/*.la
  local dll
  dll=$(cd "$dest/bin" && ls libunistring-*.dll)
  "$triple-strip" --strip-unneeded "$dest/bin/$dll"
  check_system_imports "$arch" "$dest/bin/$dll"
}
