# Cross toolchain for 32-bit Windows (i686, DWARF-2 unwinding) with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KESTRUNE_MINGW_TRIPLE i686-w64-mingw32)
set(KESTRUNE_MINGW_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
