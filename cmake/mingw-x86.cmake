# Cross toolchain for 32-bit Windows (i686, DWARF-2 unwinding) with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KESTRUNE_MINGW_TRIPLE i686-w64-mingw32)
set(KESTRUNE_MINGW_ARCH x86)
# Every program exports its unwinder's registry of frame tables, so that Lua51.dll can let
# Lua errors unwind through the program's frames (tools/windows/lua_frames.cpp).
get_filename_component(KESTRUNE_MINGW_EXE_LINK_FLAGS
  "${CMAKE_CURRENT_LIST_DIR}/../tools/windows/kestrune-x86.def" ABSOLUTE)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
