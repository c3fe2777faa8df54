# Recipe of scripts/windows-deps: GoogleTest and GoogleMock, static, with lib/cmake/GTest for
# find_package(GTest), from the googletest package's /usr/src/googletest.
# shellcheck shell=bash disable=SC2034,SC2154 # settings read and variables set by windows-deps
packages=(googletest)

build() {
  if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
    echo "GoogleTest's sources are missing: install Debian's googletest package" >&2
    return 1
  fi
  cmake -S /usr/src/googletest -B "$work" "${cmake_cross[@]}" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  cmake --build "$work" -j2
  DESTDIR=$stage cmake --install "$work"
}
