# Recipe of scripts/windows-deps: the line breaking (UAX #14) of GNU libunistring, which serves as
# the line breaker on Windows: the two files of its unilbrk module that break UTF-32 text (with
# their Unicode tables), as a DLL of their own, as their licence (LGPL) asks:
# bin/libunistring-linebreak.dll, lib/libunistring.dll.a (its import library), include/unilbrk.h.
# The rest of the library, most of it, is of no use here and would take many times as long.
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
  # In a copy: the source tree is the other architecture's too. Configured for its config.h and
  # generated headers; without iconv, which the line breaker does not use.
  cp -a "$src" "$work/source"
  (cd "$work/source" && autoreconf -f -i)
  mkdir -p "$work/build"
  (cd "$work/build" && "$work/source/configure" --host="$triple" --prefix="$prefix" \
    --enable-shared --disable-static --disable-dependency-tracking --without-libiconv-prefix \
    am_cv_func_iconv=no --enable-threads=windows CC="$triple-gcc-posix")
  local lib=$work/build/lib source=$work/source/lib file objects=()
  # The headers the build generates (BUILT_SOURCES), without building the library.
  echo 'kestrune-headers: $(BUILT_SOURCES)' | make -C "$lib" -f Makefile -f - kestrune-headers
  for file in unilbrk/u32-possible-linebreaks.c unilbrk/lbrktables.c; do
    objects+=("$work/$(basename "$file" .c).o")
    "$triple-gcc-posix" -O2 -DHAVE_CONFIG_H -DIN_LIBUNISTRING -DBUILDING_LIBUNISTRING \
      -I"$lib" -I"$work/build" -I"$source" -c "$source/$file" -o "${objects[-1]}"
  done
  mkdir -p "$dest/bin" "$dest/lib" "$dest/include/unistring"
  "$triple-gcc-posix" -shared -s -static-libgcc -o "$dest/bin/libunistring-linebreak.dll" \
    "${objects[@]}" -Wl,--out-implib,"$dest/lib/libunistring.dll.a"
  check_system_imports "$arch" "$dest/bin/libunistring-linebreak.dll"
  cp "$lib/unilbrk.h" "$lib/unitypes.h" "$dest/include/"
  cp "$lib"/unistring/*.h "$dest/include/unistring/"
}
