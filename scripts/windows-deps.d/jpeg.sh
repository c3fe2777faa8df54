# Recipe of scripts/windows-deps: libjpeg-turbo, static: lib/libjpeg.a, include/j*.h.
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
debian_source=libjpeg-turbo
linux_package=libjpeg62-turbo-dev
# The SIMD code needs nasm; without it the portable code is only slower.
packages=(nasm)

build() {
  local simd=OFF
  if command -v nasm >/dev/null; then simd=ON; fi
  cmake -S "$src" -B "$work" "${cmake_cross[@]}" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_SIMD="$simd" -DREQUIRE_SIMD="$simd"
  # Only the library: the command-line tools are of no use here.
  cmake --build "$work" -j2 --target jpeg-static
  mkdir -p "$dest/lib" "$dest/include"
  cp "$work/libjpeg.a" "$dest/lib/"
  cp "$work/jconfig.h" "$src"/{jpeglib.h,jmorecfg.h,jerror.h} "$dest/include/"
}
