# Recipe of scripts/windows-deps: GNU FriBidi, a DLL of its own as its licence (LGPL) asks, so
# that a user can put another build in its place: bin/libfribidi-0.dll, lib/libfribidi.dll.a
# (the import library), include/fribidi/.
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
debian_source=fribidi
linux_package=libfribidi-dev
inputs=(scripts/windows-lib.sh)

build() {
  # Built outside the source tree, which the other architecture's build shares.
  (cd "$work" && "$src/configure" --host="$triple" --prefix="$prefix" --enable-shared \
    --disable-static --disable-debug --disable-deprecated CC="$triple-gcc-posix" \
    LDFLAGS="-static-libgcc")
  make -C "$work/gen.tab" -j2
  make -C "$work/lib" -j2
  make -C "$work/lib" install DESTDIR="$stage"
  make -C "$work" install-pkgconfigDATA DESTDIR="$stage"
  rm -f "$dest"/lib/*.la
  "$triple-strip" --strip-unneeded "$dest/bin/libfribidi-0.dll"
  check_system_imports "$arch" "$dest/bin/libfribidi-0.dll"
}
