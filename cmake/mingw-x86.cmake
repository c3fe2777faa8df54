# Cross toolchain for 32-bit Windows (i686, DWARF-2 unwinding) with Debian's mingw-w64. Each
# module that links libgcc statically gets an unwinder of its own that knows only its own
# frames, so a Lua error could not unwind from Lua51.dll through the program: the run-time
# libraries are shared DLLs here.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KESTRUNE_MINGW_TRIPLE i686-w64-mingw32)
set(KESTRUNE_MINGW_ARCH x86)
set(KESTRUNE_MINGW_SHARED_RUNTIME ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
