# Recipe of scripts/windows-deps: FreeType, static: lib/libfreetype.a, include/freetype2/, with
# zlib (compressed and WOFF fonts) and libpng (fonts whose glyphs are PNG bitmaps), as the Linux
# library has them; without bzip2, Brotli (WOFF2) and HarfBuzz (which builds against FreeType,
# not the other way round).
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
debian_source=freetype
linux_package=libfreetype-dev
packages=(libz-mingw-w64-dev)
depends=(png)

build() {
  if [ ! -f "/usr/$triple/lib/libz.a" ]; then
    echo "zlib for mingw-w64 is missing: install Debian's libz-mingw-w64-dev (scripts/setup)" >&2
    return 1
  fi
  cmake -S "$src" -B "$work" "${cmake_cross[@]}" -DBUILD_SHARED_LIBS=OFF \
    -DZLIB_USE_STATIC_LIBS=ON -DFT_REQUIRE_ZLIB=ON -DFT_REQUIRE_PNG=ON \
    -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_BROTLI=ON -DFT_DISABLE_HARFBUZZ=ON
  cmake --build "$work" -j2
  DESTDIR=$stage cmake --install "$work"
  # Its pkg-config file asks for zlib's and libpng's, which the cache does not have: the program
  # links the same static zlib and libpng itself, after FreeType.
  sed -i 's/^Requires:.*$/Requires:/' "$dest/lib/pkgconfig/freetype2.pc"
  grep -qx 'Requires:' "$dest/lib/pkgconfig/freetype2.pc"
}
