# Recipe of scripts/windows-deps: libpng, static: lib/libpng16.a, include/png*.h.
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
debian_source=libpng1.6
linux_package=libpng-dev
# zlib comes ready-made for mingw-w64 from Debian, in the compiler's own prefix; the static
# library is the one linked, as for the program.
packages=(libz-mingw-w64-dev)

build() {
  if [ ! -f "/usr/$triple/lib/libz.a" ]; then
    echo "zlib for mingw-w64 is missing: install Debian's libz-mingw-w64-dev (scripts/setup)" >&2
    return 1
  fi
  cmake -S "$src" -B "$work" "${cmake_cross[@]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
    -DPNG_TESTS=OFF -DZLIB_USE_STATIC_LIBS=ON
  # Only the library: the command-line tools are of no use here.
  cmake --build "$work" -j2 --target png_static
  mkdir -p "$dest/lib" "$dest/include"
  cp "$work/libpng16.a" "$dest/lib/"
  cp "$src"/{png.h,pngconf.h} "$work/pnglibconf.h" "$dest/include/"
}
