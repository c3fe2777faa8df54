# Cross toolchain for 64-bit Windows (x86-64, SEH unwinding) with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRUNE_MINGW_TRIPLE x86_64-w64-mingw32)
set(KESTRUNE_MINGW_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
