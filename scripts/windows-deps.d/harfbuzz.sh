# Recipe of scripts/windows-deps: HarfBuzz, static: lib/libharfbuzz.a, include/harfbuzz/, with
# its FreeType functions (hb-ft) and nothing else: no GLib, ICU, Graphite, cairo or the
# Windows shapers; its own Unicode tables serve. Its locks are Windows' own critical sections
# rather than POSIX threads'.
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
debian_source=harfbuzz
linux_package=libharfbuzz-dev
depends=(freetype png)

build() {
  cmake -S "$src" -B "$work" "${cmake_cross[@]}" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_Threads=ON \
    -DHB_HAVE_FREETYPE=ON -DHB_HAVE_GLIB=OFF -DHB_HAVE_GOBJECT=OFF -DHB_HAVE_ICU=OFF \
    -DHB_HAVE_GRAPHITE2=OFF -DHB_HAVE_UNISCRIBE=OFF -DHB_HAVE_DIRECTWRITE=OFF -DHB_HAVE_GDI=OFF \
    -DHB_HAVE_INTROSPECTION=OFF -DHB_BUILD_UTILS=OFF -DHB_BUILD_SUBSET=OFF -DHB_BUILD_TESTS=OFF
  cmake --build "$work" -j2 --target harfbuzz
  DESTDIR=$stage cmake --install "$work"
}
